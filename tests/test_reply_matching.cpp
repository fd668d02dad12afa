// A reply counts only when it answers the request in flight: the message codec,
// the checks, and the rig's wrong, late, noisy and queued replies on every kind
// in both exchange profiles.
#include "harness.h"
#include "rdm/discovery.h"
#include "rdm/parameter_exchange.h"
#include "rdm/standard_replies.h"
#include "rig/fixtures.h"

#include <gtest/gtest.h>

using namespace rdm;

namespace {

constexpr Uid kDevice = 0x7FF000000042ull;
constexpr Uid kOther = 0x7FF000000099ull;
const int kKinds[] = {KindStandardVcp, KindTalvern, KindEnttecUsbPro};

RdmResponse AnswerTo(const RdmRequest& q)
{
    RdmResponse r;
    r.destination = q.source;
    r.source = q.destination;
    r.transaction = q.transaction;
    r.subDevice = q.subDevice;
    r.commandClass = uint8_t(q.commandClass + 1);
    r.pid = q.pid;
    return r;
}

std::string Text(const ParamData& data) { return std::string(data.begin(), data.end()); }

struct Line : RigHarness {
    Line(int kind, bool fast) : RigHarness(kind)
    {
        line.paced = true;
        engine.setFastExchange(fast);
    }
    TxResult get(Uid uid, uint16_t pid) { return Transact(engine, uid, GET_COMMAND, pid); }
    std::string where() const
    {
        return "kind " + std::to_string(port.kind()) + (engine.fastExchange() ? ", fast" : ", fixed waits");
    }
};

} // namespace

TEST(Message, EncodesAndDecodesBothWaysAndRefusesWhatIsNotOneMessage)
{
    const uint8_t data[] = {0x00, 0x82};
    RdmRequest q(kDevice, GET_COMMAND, PARAMETER_DESCRIPTION, data, 2, 7);
    q.transaction = 200;
    uint8_t wire[kMaxMessageSize];
    const size_t size = Encode(q, wire);
    ASSERT_EQ(size, 28u);
    RdmRequest back;
    size_t used = 0;
    ASSERT_EQ(Decode(wire, size, back, &used), DecodeError::None);
    EXPECT_EQ(used, size);
    EXPECT_EQ(back.destination, kDevice);
    EXPECT_EQ(back.source, kOwnUid);
    EXPECT_EQ(back.subDevice, 7);
    EXPECT_EQ(back.transaction, 200);
    EXPECT_EQ(back.data.be16(0), 0x0082);

    RdmResponse r = AnswerTo(q);
    r.responseType = RESPONSE_TYPE_NACK_REASON;
    r.data.assign(data, 2);
    const size_t rsize = Encode(r, wire);
    RdmResponse got;
    EXPECT_EQ(Decode(wire, rsize - 1, got), DecodeError::Incomplete) << "length claims more than was read";
    EXPECT_EQ(Decode(wire, rsize + 10, got), DecodeError::None) << "bytes after a message are not its own";
    EXPECT_EQ(got.responseType, RESPONSE_TYPE_NACK_REASON);
    wire[rsize - 1] ^= 1;
    EXPECT_EQ(Decode(wire, rsize, got), DecodeError::BadChecksum);
    wire[rsize - 1] ^= 1;
    wire[1] = 0x02;
    EXPECT_EQ(Decode(wire, rsize, got), DecodeError::BadSubStartCode);
    wire[1] = kSubStartCode;
    wire[kOffLength] = 20;
    EXPECT_EQ(Decode(wire, rsize, got), DecodeError::BadLength) << "a length below 24";
    wire[kOffLength] = uint8_t(rsize - 1);  // one more than the PDL says
    EXPECT_EQ(Decode(wire, rsize + 1, got), DecodeError::BadLength);

    // 231 bytes at most: more is cut, never written past the array.
    std::vector<uint8_t> big(300, 0xAB);
    RdmRequest large(kDevice, SET_COMMAND, DEVICE_LABEL, big.data(), big.size());
    EXPECT_EQ(large.data.pdl, kMaxPdl);
    EXPECT_EQ(Encode(large, wire), kMaxMessageSize);
}

TEST(Message, EveryCheckOfAReplyAgainstItsRequest)
{
    RdmRequest q(kDevice, SET_COMMAND, IDENTIFY_DEVICE, nullptr, 0, 3);
    q.transaction = 17;
    EXPECT_EQ(Match(q, AnswerTo(q)), Mismatch::None);

    struct Case {
        void (*spoil)(RdmResponse&);
        Mismatch expected;
    } cases[] = {
        {[](RdmResponse& r) { r.destination = kOther; }, Mismatch::Destination},
        {[](RdmResponse& r) { r.source = kDevice + 1; }, Mismatch::Source},
        {[](RdmResponse& r) { r.transaction = 18; }, Mismatch::Transaction},
        {[](RdmResponse& r) { r.commandClass = GET_COMMAND_RESPONSE; }, Mismatch::CommandClass},
        {[](RdmResponse& r) { r.commandClass = SET_COMMAND; }, Mismatch::CommandClass},
        {[](RdmResponse& r) { r.pid = DEVICE_LABEL; }, Mismatch::Pid},
        {[](RdmResponse& r) { r.subDevice = 0; }, Mismatch::SubDevice},
        {[](RdmResponse& r) { r.responseType = 4; }, Mismatch::ResponseType},
        {[](RdmResponse& r) { r.responseType = 0xFF; }, Mismatch::ResponseType},
    };
    for (const Case& c : cases) {
        RdmResponse r = AnswerTo(q);
        c.spoil(r);
        EXPECT_EQ(Match(q, r), c.expected) << MismatchText(c.expected);
    }

    // Every device of a manufacturer may answer a request to all of them.
    RdmRequest all(MakeUid(0x7FF0, 0xFFFFFFFF), GET_COMMAND, DEVICE_INFO);
    RdmResponse fromOne = AnswerTo(all);
    fromOne.source = kDevice;
    EXPECT_EQ(Match(all, fromOne), Mismatch::None);

    // QUEUED_MESSAGE is answered with the queued message's own PID and class.
    const uint8_t status = 0x04;
    RdmRequest queued(kDevice, GET_COMMAND, 0x0020, &status, 1);
    RdmResponse answer = AnswerTo(queued);
    answer.pid = IDENTIFY_DEVICE;
    answer.commandClass = SET_COMMAND_RESPONSE;
    EXPECT_EQ(Match(queued, answer), Mismatch::None);
    answer.commandClass = DISCOVERY_COMMAND_RESPONSE;
    EXPECT_EQ(Match(queued, answer), Mismatch::CommandClass);
}

TEST(Message, TheAnswerIsFoundBehindNoiseAndMessagesForOthers)
{
    RdmRequest q(kDevice, GET_COMMAND, DEVICE_LABEL);
    q.transaction = 5;
    RdmRequest earlier = q;
    earlier.transaction = 4;
    earlier.pid = MANUFACTURER_LABEL;
    uint8_t bytes[2 * kMaxMessageSize] = {0x3C, 0xF0, 0xCC, 0x00};
    size_t at = 4;
    RdmResponse late = AnswerTo(earlier);
    late.data.assign(reinterpret_cast<const uint8_t*>("Maker"), 5);
    at += Encode(late, bytes + at);
    bytes[at++] = 0x00;
    RdmResponse ours = AnswerTo(q);
    ours.data.assign(reinterpret_cast<const uint8_t*>("Truss"), 5);
    const size_t oursAt = at;
    at += Encode(ours, bytes + at);

    std::vector<Mismatch> passed;
    RdmResponse found;
    const ReplyScan scan = ScanForReply(bytes, at, q, found, [&](const uint8_t*, size_t size, DecodeError, Mismatch m) {
        if (size)
            passed.push_back(m);
    });
    ASSERT_EQ(scan.at, int(oursAt));
    EXPECT_EQ(Text(found.data), "Truss");
    EXPECT_EQ(passed, std::vector<Mismatch>{Mismatch::Transaction});
    EXPECT_EQ(scan.candidates, 2) << "the late reply and the answer; the noise's lone 0xCC begins no message";
    // Without the answer, the late reply is never taken for it.
    EXPECT_EQ(ScanForReply(bytes, oursAt, q, found).at, -1);
}

TEST(ReplyChecks, WrongRepliesAreNeverAnswersOnAnyKindOrProfile)
{
    struct Fault {
        const char* name;
        void (*set)(rig::Faults&);
    } faults[] = {
        {"wrongSource", [](rig::Faults& f) { f.wrongSource = true; }},
        {"wrongTransaction", [](rig::Faults& f) { f.wrongTransaction = true; }},
        {"wrongPid", [](rig::Faults& f) { f.wrongPid = true; }},
        {"wrongCommandClass", [](rig::Faults& f) { f.wrongCommandClass = true; }},
        // A refusal sent under a type E1.20 does not define is no answer either,
        // least of all an acknowledgement: its reason code is not a value.
        {"undefinedResponseType 4", [](rig::Faults& f) { f.undefinedResponseType = 4; }},
        {"undefinedResponseType 0xFF", [](rig::Faults& f) { f.undefinedResponseType = 0xFF; }},
    };
    for (int kind : kKinds)
        for (bool fast : {false, true})
            for (const Fault& fault : faults) {
                Line h(kind, fast);
                h.log.detailedOn = true;
                rig::Responder& r = h.line.add(kDevice, rig::LedParModel());
                r.deviceLabel = "Wrong";
                fault.set(r.faults);
                EXPECT_EQ(h.get(kDevice, DEVICE_LABEL), TxNoResponse) << fault.name << ", " << h.where();
                const std::string name = fault.name;
                EXPECT_GE(h.log.count(std::string("Не ответ на запрос: ") +
                                      MismatchText(name == "wrongSource"                  ? Mismatch::Source
                                                   : name == "wrongTransaction"         ? Mismatch::Transaction
                                                   : name == "wrongPid"                 ? Mismatch::Pid
                                                   : name.rfind("undefined", 0) == 0 ? Mismatch::ResponseType
                                                                                        : Mismatch::CommandClass)),
                          1)
                    << fault.name << ", " << h.where();
                // Nor is it taken by the client that follows ACK_TIMER and ACK_OVERFLOW.
                EXPECT_EQ(ExchangeParameter(h.engine, kDevice, GET_COMMAND, DMX_START_ADDRESS, {}).result,
                          TxNoResponse)
                    << fault.name << ", " << h.where();
                // The same device healthy again answers.
                r.faults = {};
                EXPECT_EQ(h.get(kDevice, DEVICE_LABEL), TxAck) << fault.name << ", " << h.where();
                EXPECT_EQ(Text(LastReply().data), "Wrong");
            }
}

TEST(ReplyChecks, NoiseBeforeTheBreakDoesNotLoseTheReply)
{
    for (int kind : kKinds)
        for (bool fast : {false, true}) {
            Line h(kind, fast);
            rig::Responder& r = h.line.add(kDevice, rig::LedParModel());
            r.deviceLabel = "Noisy";
            r.faults.noiseBytes = 3;
            ASSERT_EQ(h.get(kDevice, DEVICE_LABEL), TxAck) << h.where();
            EXPECT_EQ(Text(LastReply().data), "Noisy");
        }
}

TEST(ReplyChecks, ALateReplyNeverAnswersTheNextRequest)
{
    // Late enough to miss its own read and land in the next one's, in each profile.
    for (int kind : kKinds)
        for (bool fast : {false, true})
            for (uint32_t lateMs : {6u, 60u, 330u}) {
                Line h(kind, fast);
                rig::Responder& r = h.line.add(kDevice, rig::LedParModel());
                r.deviceLabel = "Label";
                r.faults.lateMs = lateMs;
                for (int round = 0; round < 3; ++round) {
                    for (uint16_t pid : {MANUFACTURER_LABEL, DEVICE_LABEL}) {
                        const TxResult result = h.get(kDevice, pid);
                        if (result != TxAck)
                            continue;
                        EXPECT_EQ(LastReply().pid, pid) << h.where() << ", late " << lateMs;
                        EXPECT_EQ(LastReply().transaction, h.engine.transactionNumber());
                        EXPECT_EQ(Text(LastReply().data), pid == DEVICE_LABEL ? "Label" : r.model().manufacturerLabel)
                            << h.where() << ", late " << lateMs;
                    }
                }
            }
}

TEST(ReplyChecks, AckTimerIsFollowedByTheQueuedAnswer)
{
    for (int kind : kKinds)
        for (bool other : {false, true}) {
            Line h(kind, true);
            rig::Responder& r = h.line.add(kDevice, rig::LedParModel());
            r.faults.ackTimer = true;
            r.faults.queuesOtherFirst = other;
            const ParameterReply reply = ExchangeParameter(h.engine, kDevice, SET_COMMAND, IDENTIFY_DEVICE, {1});
            EXPECT_EQ(reply.result, TxAck) << h.where() << (other ? ", another PID queued first" : "");
            EXPECT_TRUE(r.identify);
            ASSERT_EQ(reply.otherQueued.size(), other ? 1u : 0u);
            if (other) {
                EXPECT_EQ(reply.otherQueued[0].pid, DMX_START_ADDRESS);
            }
            for (const rig::RecordedRequest& q : h.line.requests()) {
                if (q.decoded.pid == 0x0020) {
                    EXPECT_NE(q.decoded.data[0], 0x01) << "STATUS_GET_LAST_MESSAGE asks for the last message again";
                }
            }
        }
    // The window's Get and Set are one exchange: an ACK_TIMER is no answer there.
    Line h(KindStandardVcp, false);
    h.line.add(kDevice, rig::LedParModel()).faults.ackTimer = true;
    EXPECT_EQ(ExchangeParameter(h.engine, kDevice, GET_COMMAND, DEVICE_LABEL, {}, ExchangePolicy::OneShot).result,
              TxNotAck);
}

TEST(ReplyChecks, TheWidgetsOwnWaitIsWaitedForBeforeTheNextRequest)
{
    const Uid uids[] = {0x7FF000000101ull, 0x7FF000000202ull, 0x7FF010000303ull,
                        0x7FF020000404ull, 0x7FF0A0000505ull, 0x7FF0F0000606ull};
    for (uint64_t waitUs : {500u, 3000u, 10000u})
        for (bool fast : {false, true}) {
            Line h(KindEnttecUsbPro, fast);
            h.d2xx.chip(1).listenUs = waitUs;
            // Every responder answers within the shortest wait: what varies is when
            // the widget reports, not whether it heard.
            for (Uid uid : uids)
                h.line.add(uid, rig::LedParModel()).turnaroundUs = 300;
            DeviceTable table;
            std::vector<std::string> rows;
            Discovery discovery{h.engine, table,
                                DiscoveryHooks{[] {}, [] {}, [&] { rows.clear(); },
                                               [&](Uid uid) { rows.push_back(UidListText(uid)); },
                                               [] { return 100; }}};
            discovery.Run();
            EXPECT_EQ(rows.size(), 6u) << "widget wait " << waitUs << " us, " << h.where();
            for (Uid uid : uids) {
                DeviceInfo info;
                rdm::RdmResponse reply;
                EXPECT_EQ(h.engine.RdmTransaction({uid, GET_COMMAND, DEVICE_INFO}, reply), TxAck) << h.where();
                EXPECT_EQ(reply.source, uid);
                EXPECT_TRUE(DecodeDeviceInfo(reply.data.bytes, reply.data.pdl, info));
            }
        }
}
