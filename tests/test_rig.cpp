#include "harness.h"
#include "dmx/dmx_output.h"
#include "rdm/rdm_defs.h"
#include "link/widget_message.h"
#include "rdm/discovery_reply.h"
#include "rig/collision.h"
#include "rig/fixtures.h"

#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

using namespace rdm;

namespace {

// The UID of one clean discovery reply, or nothing.
std::optional<Uid> DecodedUid(const std::vector<uint8_t>& bytes)
{
    Uid uid = 0;
    if (rdm::DecodeDiscoveryReply(bytes.data(), bytes.size(), uid) != rdm::DiscoveryReply::Whole)
        return std::nullopt;
    return uid;
}


constexpr Uid kA = 0x7FF000000010ull;

rig::Request Make(Uid to, uint8_t cc, uint16_t pid, std::vector<uint8_t> data = {})
{
    rig::Request q;
    q.destination = to;
    q.source = kOwnUid;
    q.transaction = 9;
    q.commandClass = cc;
    q.pid = pid;
    q.data.assign(data.data(), data.size());
    return q;
}

std::vector<uint8_t> Branch(Uid lower, Uid upper)
{
    std::vector<uint8_t> d(12);
    WriteUid(lower, d.data());
    WriteUid(upper, d.data() + 6);
    return d;
}

// The answer's response type and parameter data.
std::pair<uint8_t, std::vector<uint8_t>> Answer(rig::Responder& r, const rig::Request& q)
{
    auto reply = r.handle(q);
    EXPECT_TRUE(reply.has_value());
    if (!reply)
        return {0xFF, {}};
    const auto& b = reply->bytes;
    EXPECT_EQ(ReadBE16(&b[b.size() - 2]), Checksum(b.data(), b.size() - 2));
    EXPECT_EQ(b[20], q.commandClass + 1);
    EXPECT_EQ(ReadUid(&b[3]), kOwnUid);
    return {b[16], std::vector<uint8_t>(b.begin() + 24, b.end() - 2)};
}

uint16_t NackReason(rig::Responder& r, const rig::Request& q)
{
    auto [type, data] = Answer(r, q);
    EXPECT_EQ(type, RESPONSE_TYPE_NACK_REASON);
    return data.size() == 2 ? ReadBE16(data.data()) : 0xFFFF;
}

} // namespace

TEST(DiscoveryCodec, EncodesAndDecodesEveryPreambleLength)
{
    for (int preamble = 0; preamble <= 7; ++preamble) {
        auto bytes = rdm::EncodeDiscoveryReply(0x123456789ABCull, preamble);
        EXPECT_EQ(bytes.size(), size_t(preamble) + 17);
        EXPECT_EQ(bytes[size_t(preamble)], 0xAA);
        EXPECT_EQ(DecodedUid(bytes), 0x123456789ABCull);
    }
    auto bytes = rdm::EncodeDiscoveryReply(0x123456789ABCull);
    bytes[10] ^= 0x01;
    EXPECT_FALSE(DecodedUid(bytes));
    // Clean, but of a UID no device carries: what follows would go to every device.
    for (const Uid nobody : {Uid(0), kBroadcastUid, Uid(0x7FF0FFFFFFFFull)})
        EXPECT_FALSE(DecodedUid(rdm::EncodeDiscoveryReply(nobody))) << std::hex << nobody;
}

TEST(DiscoveryCodec, CollisionsAreNeverClean)
{
    // Two, three, consecutive UIDs, one a bitwise subset of another, unequal preambles.
    const std::vector<std::vector<Uid>> sets = {
        {0x7FF000000001ull, 0x7FF000000002ull},
        {0x7FF000000001ull, 0x7FF000000002ull, 0x7FF000000003ull},
        {0x7FF000000001ull, 0x7FF000000003ull},
        {0x000000000000ull, 0xFFFFFFFFFFFEull},
    };
    for (const auto& set : sets) {
        for (int shift = 0; shift < 3; ++shift) {
            std::vector<std::vector<uint8_t>> replies;
            for (size_t i = 0; i < set.size(); ++i)
                replies.push_back(rdm::EncodeDiscoveryReply(set[i], 7 - int(i) * shift));
            EXPECT_FALSE(DecodedUid(rig::CollideReplies(replies)));
        }
    }
}

TEST(Responder, MuteStateSteersBranchAnswers)
{
    rig::Responder r(kA, rig::LedParModel());
    auto branch = Make(kBroadcastUid, DISCOVERY_COMMAND, DISC_UNIQUE_BRANCH, Branch(0, 0xFFFFFFFFFFFEull));
    auto reply = r.handle(branch);
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->discovery);
    EXPECT_EQ(DecodedUid(reply->bytes), kA);
    // Outside the range, nothing; at its bounds, an answer.
    EXPECT_FALSE(r.handle(Make(kBroadcastUid, DISCOVERY_COMMAND, DISC_UNIQUE_BRANCH, Branch(kA + 1, kA + 5))));
    EXPECT_TRUE(r.handle(Make(kBroadcastUid, DISCOVERY_COMMAND, DISC_UNIQUE_BRANCH, Branch(kA, kA))));

    auto [type, data] = Answer(r, Make(kA, DISCOVERY_COMMAND, DISC_MUTE));
    EXPECT_EQ(type, RESPONSE_TYPE_ACK);
    EXPECT_EQ(data.size(), 2u);  // control field
    EXPECT_TRUE(r.muted);
    EXPECT_FALSE(r.handle(branch));
    // A broadcast un-mute gets no reply but un-mutes.
    EXPECT_FALSE(r.handle(Make(kBroadcastUid, DISCOVERY_COMMAND, DISC_UN_MUTE)));
    EXPECT_FALSE(r.muted);
    EXPECT_TRUE(r.handle(branch));
}

TEST(Responder, FaultsChangeTheAnswers)
{
    auto get = Make(kA, GET_COMMAND, DEVICE_INFO);
    {
        rig::Responder r(kA, rig::LedParModel());
        r.faults.ignoreMute = true;
        EXPECT_FALSE(r.handle(Make(kA, DISCOVERY_COMMAND, DISC_MUTE)));
        EXPECT_FALSE(r.muted);
    }
    {
        rig::Responder r(kA, rig::LedParModel());
        r.faults.badChecksum = true;
        auto reply = r.handle(get);
        ASSERT_TRUE(reply);
        EXPECT_NE(ReadBE16(&reply->bytes[reply->bytes.size() - 2]),
                  Checksum(reply->bytes.data(), reply->bytes.size() - 2));
        auto disc = r.handle(Make(kBroadcastUid, DISCOVERY_COMMAND, DISC_UNIQUE_BRANCH, Branch(0, kA)));
        ASSERT_TRUE(disc);
        EXPECT_FALSE(DecodedUid(disc->bytes));
    }
    {
        rig::Responder r(kA, rig::LedParModel());
        r.faults.truncated = true;
        EXPECT_LT(r.handle(get)->bytes.size(), 26u + 19u);
    }
    {
        rig::Responder r(kA, rig::LedParModel());
        r.faults.ackTimer = true;
        EXPECT_EQ(r.handle(get)->bytes[16], RESPONSE_TYPE_ACK_TIMER);
        r.faults = {};
        r.faults.lateMs = 400;
        EXPECT_EQ(r.handle(get)->delayMs, 400u);
        r.faults.silent = true;
        EXPECT_FALSE(r.handle(get));
        EXPECT_FALSE(r.handle(Make(kBroadcastUid, DISCOVERY_COMMAND, DISC_UNIQUE_BRANCH, Branch(0, kA))));
    }
}

TEST(Responder, LineFaultsLoseVanishAndGarble)
{
    auto mute = Make(kA, DISCOVERY_COMMAND, DISC_MUTE);
    auto branch = Make(kBroadcastUid, DISCOVERY_COMMAND, DISC_UNIQUE_BRANCH, Branch(0, kA));
    {
        // The first two replies are lost, though the device acts on the requests.
        rig::Responder r(kA, rig::LedParModel());
        r.faults.loseFirst = 2;
        EXPECT_FALSE(r.handle(mute));
        EXPECT_TRUE(r.muted);
        EXPECT_FALSE(r.handle(mute));
        EXPECT_TRUE(r.handle(mute));
    }
    {
        // A share of replies lost at random, the same each run.
        int lost[2] = {};
        for (int& n : lost) {
            rig::Responder r(kA, rig::LedParModel());
            r.faults.loseShare = 0.25;
            for (int i = 0; i < 400; ++i)
                n += !r.handle(mute);
        }
        EXPECT_EQ(lost[0], lost[1]);
        EXPECT_GT(lost[0], 60);
        EXPECT_LT(lost[0], 140);
    }
    {
        // Deaf for three requests, then back un-muted.
        rig::Responder r(kA, rig::LedParModel());
        r.faults.vanishAfter = 1;
        r.faults.vanishFor = 3;
        EXPECT_TRUE(r.handle(mute));
        for (int i = 0; i < 3; ++i)
            EXPECT_FALSE(r.handle(branch));
        EXPECT_TRUE(r.handle(branch)) << "no longer muted";
    }
    {
        // Discovery replies garbled, the mute's acknowledgement clean.
        rig::Responder r(kA, rig::LedParModel());
        r.faults.garbledDiscovery = true;
        auto disc = r.handle(branch);
        ASSERT_TRUE(disc);
        EXPECT_FALSE(DecodedUid(disc->bytes));
        EXPECT_EQ(Answer(r, mute).first, RESPONSE_TYPE_ACK);
    }
    {
        // A wrong checksum, whatever the UID's own checksum is.
        for (Uid uid = kA; uid < kA + 16; uid = uid + 1) {
            rig::Responder r(uid, rig::LedParModel());
            r.faults.badChecksum = true;
            auto disc = r.handle(Make(kBroadcastUid, DISCOVERY_COMMAND, DISC_UNIQUE_BRANCH, Branch(0, uid)));
            ASSERT_TRUE(disc);
            EXPECT_FALSE(DecodedUid(disc->bytes)) << UidLogText(uid);
        }
    }
}

TEST(VirtualLine, TwinsGarbleEachOthersDiscoveryRepliesButNotTheirAcknowledgements)
{
    VirtualClock clock;
    rig::VirtualLine line(clock);
    line.addTwin(line.add(kA, rig::LedParModel()));
    ASSERT_EQ(line.responders().size(), 2u);
    auto send = [&](const rig::Request& q) {
        uint8_t bytes[rdm::kMaxMessageSize];
        return line.transmit(bytes, rdm::Encode(q, bytes), clock.nowUs(), false);
    };
    auto disc = send(Make(kBroadcastUid, DISCOVERY_COMMAND, DISC_UNIQUE_BRANCH, Branch(0, kA)));
    ASSERT_EQ(disc.size(), 1u);
    EXPECT_FALSE(DecodedUid(disc[0].bytes));
    auto ack = send(Make(kA, DISCOVERY_COMMAND, DISC_MUTE));
    ASSERT_EQ(ack.size(), 1u);
    rdm::RdmResponse reply;
    EXPECT_EQ(rdm::Decode(ack[0].bytes.data(), ack[0].bytes.size(), reply), rdm::DecodeError::None);
    for (auto& r : line.responders())
        EXPECT_TRUE(r->muted);
}

TEST(Responder, AnswersItsParameters)
{
    rig::Responder r(kA, rig::MovingHeadModel());
    r.startAddress = 33;
    auto [type, info] = Answer(r, Make(kA, GET_COMMAND, DEVICE_INFO));
    ASSERT_EQ(type, RESPONSE_TYPE_ACK);
    ASSERT_EQ(info.size(), 19u);
    EXPECT_EQ(info[0], 1);
    EXPECT_EQ(ReadBE16(&info[4]), 0x0102);
    EXPECT_EQ(ReadBE16(&info[10]), 16);
    EXPECT_EQ(info[13], 3);
    EXPECT_EQ(ReadBE16(&info[14]), 33);

    auto [t1, supported] = Answer(r, Make(kA, GET_COMMAND, SUPPORTED_PARAMETERS));
    EXPECT_EQ(supported.size(), 2 * r.model().supportedParameters.size());

    EXPECT_EQ(Answer(r, Make(kA, GET_COMMAND, MANUFACTURER_LABEL)).second.size(), 18u);
    EXPECT_EQ(Answer(r, Make(kA, GET_COMMAND, SOFTWARE_VERSION_LABEL)).first, RESPONSE_TYPE_ACK);

    // Device label: settable, kept, at most 32 characters, a trailing zero dropped.
    EXPECT_EQ(Answer(r, Make(kA, SET_COMMAND, DEVICE_LABEL, {'S', 'L', '1', 0})).first, RESPONSE_TYPE_ACK);
    EXPECT_EQ(r.deviceLabel, "SL1");
    EXPECT_EQ(Answer(r, Make(kA, GET_COMMAND, DEVICE_LABEL)).second, (std::vector<uint8_t>{'S', 'L', '1'}));
    EXPECT_EQ(NackReason(r, Make(kA, SET_COMMAND, DEVICE_LABEL, std::vector<uint8_t>(33, 'x'))), NR_FORMAT_ERROR);

    // Start address: 1..512 only.
    EXPECT_EQ(Answer(r, Make(kA, SET_COMMAND, DMX_START_ADDRESS, {0x01, 0xF4})).first, RESPONSE_TYPE_ACK);
    EXPECT_EQ(r.startAddress, 500);
    EXPECT_EQ(NackReason(r, Make(kA, SET_COMMAND, DMX_START_ADDRESS, {0x02, 0x01})), NR_DATA_OUT_OF_RANGE);
    EXPECT_EQ(NackReason(r, Make(kA, SET_COMMAND, DMX_START_ADDRESS, {0x00, 0x00})), NR_DATA_OUT_OF_RANGE);
    EXPECT_EQ(NackReason(r, Make(kA, SET_COMMAND, DMX_START_ADDRESS, {0x01})), NR_FORMAT_ERROR);

    EXPECT_EQ(Answer(r, Make(kA, SET_COMMAND, IDENTIFY_DEVICE, {1})).first, RESPONSE_TYPE_ACK);
    EXPECT_TRUE(r.identify);
    EXPECT_EQ(Answer(r, Make(kA, GET_COMMAND, IDENTIFY_DEVICE)).second, std::vector<uint8_t>{1});

    EXPECT_EQ(NackReason(r, Make(kA, GET_COMMAND, 0x0201)), NR_UNKNOWN_PID);
    EXPECT_EQ(NackReason(r, Make(kA, GET_COMMAND, 0x8FFF)), NR_UNKNOWN_PID);
    EXPECT_EQ(NackReason(r, Make(kA, GET_COMMAND, DEVICE_INFO, {1})), NR_FORMAT_ERROR);
    EXPECT_EQ(NackReason(r, Make(kA, SET_COMMAND, DEVICE_INFO)), NR_UNSUPPORTED_COMMAND_CLASS);
    // Requests to someone else, or broadcast GETs, get no answer.
    EXPECT_FALSE(r.handle(Make(kA + 1, GET_COMMAND, DEVICE_INFO)));
    EXPECT_FALSE(r.handle(Make(kBroadcastUid, GET_COMMAND, DEVICE_INFO)));
}

TEST(Responder, DescribesManufacturerParametersOfEveryDataType)
{
    rig::Responder r(kA, rig::MovingHeadModel());
    std::set<uint8_t> types;
    bool multiElement = false;
    for (const rig::ManufacturerParam& p : r.model().manufacturerParams) {
        auto [type, d] = Answer(r, Make(kA, GET_COMMAND, PARAMETER_DESCRIPTION, {uint8_t(p.pid >> 8), uint8_t(p.pid)}));
        ASSERT_EQ(type, RESPONSE_TYPE_ACK);
        ASSERT_GE(d.size(), 20u);
        EXPECT_EQ(ReadBE16(d.data()), p.pid);
        EXPECT_EQ(d[2], p.pdlSize);
        EXPECT_EQ(std::string(d.begin() + 20, d.end()), p.description);
        types.insert(d[3]);
        auto [vt, value] = Answer(r, Make(kA, GET_COMMAND, p.pid));
        EXPECT_EQ(vt, RESPONSE_TYPE_ACK);
        if (p.dataType != 2) {
            EXPECT_EQ(value.size(), p.pdlSize);
        }
        multiElement = multiElement || (p.dataType >= 5 && p.pdlSize > 4) || (p.dataType == 3 && p.pdlSize > 1);
    }
    EXPECT_EQ(types.size(), 9u);
    EXPECT_TRUE(multiElement);
    // A writable manufacturer value is kept; a wrong length is a format error.
    EXPECT_EQ(Answer(r, Make(kA, SET_COMMAND, 0x8004, {0, 1, 0, 2})).first, RESPONSE_TYPE_ACK);
    EXPECT_EQ(Answer(r, Make(kA, GET_COMMAND, 0x8004)).second, (std::vector<uint8_t>{0, 1, 0, 2}));
    EXPECT_EQ(NackReason(r, Make(kA, SET_COMMAND, 0x8004, {0, 1})), NR_FORMAT_ERROR);
    EXPECT_EQ(NackReason(r, Make(kA, SET_COMMAND, 0x8002, {0, 0, 0, 1})), NR_UNSUPPORTED_COMMAND_CLASS);
}

TEST(VirtualLine, RecordsRequestsAndFramesAndCollidesReplies)
{
    RigHarness h;
    h.line.add(0x7FF000000001ull, rig::LedParModel());
    h.line.add(0x7FF000000002ull, rig::FoggerModel());
    uint8_t frame[25] = {0, 10, 20};
    h.port.PortBreak();
    h.port.PortWrite(frame, 25);
    auto frames = h.line.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].slotCount, 24);
    EXPECT_EQ(frames[0].levels[1], 20);

    Uid found = 0;
    h.engine.DiscoveryBranch(0, 0xFFFFFFFFFFFEull, found);
    auto replies = h.line.replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_TRUE(replies[0].collision);
    auto requests = h.line.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].whole);
    EXPECT_EQ(requests[0].decoded.pid, DISC_UNIQUE_BRANCH);

    // A packet written without a break in front is not answered.
    uint8_t request[kMaxMessageSize];
    const size_t size = Encode(RdmRequest(0x7FF000000001ull, GET_COMMAND, DEVICE_INFO), request);
    h.port.PortWrite(request, int(size));
    EXPECT_EQ(h.line.replies().size(), 1u);
}

TEST(VirtualLine, LateReplyMissesTheReadAndLandsAfterIt)
{
    RigHarness h;
    rig::Responder& r = h.line.add(kA, rig::LedParModel());
    r.faults.lateMs = 300;
    EXPECT_EQ(Transact(h.engine, kA, GET_COMMAND, DEVICE_INFO), TxNoResponse);
}

TEST(PtyLine, SplitsRequestsByLengthAndFramesByTheGap)
{
    rig::PtyLine::Splitter s;
    std::vector<uint8_t> request(26, 0);
    request[0] = 0xCC;
    request[2] = 24;
    std::vector<uint8_t> stream = request;
    stream.insert(stream.end(), request.begin(), request.end());
    stream.push_back(0xCC);
    auto packets = s.feed(stream.data(), stream.size());
    EXPECT_EQ(packets.size(), 2u);
    EXPECT_TRUE(s.pending());
    auto rest = s.feed(request.data() + 1, 10);
    EXPECT_TRUE(rest.empty());
    std::vector<uint8_t> frame(513, 7);
    frame[0] = 0;
    EXPECT_TRUE(s.feed(frame.data(), frame.size()).empty() || true);
    s.idle();
    EXPECT_FALSE(s.pending());
    EXPECT_TRUE(s.feed(frame.data(), frame.size()).empty());
    EXPECT_EQ(s.idle().size(), 513u);
}

TEST(PtyLine, ServesTheAppOverAPseudoTerminalInRealTime)
{
    PtyHarness h;
    rig::Responder& r = h.line.add(kA, rig::DimmerPackModel());
    r.startAddress = 77;
    ASSERT_TRUE(h.serveLine());
    ASSERT_EQ(Transact(h.engine, kA, GET_COMMAND, DMX_START_ADDRESS), TxAck);
    EXPECT_EQ(LastReply().data.be16(0), 77);

    // A DMX frame is told apart by the quiet after it.
    uint8_t frame[25] = {0, 1, 2, 3};
    h.port.PortBreak();
    h.port.PortWrite(frame, 25);
    usleep(30000);
    auto frames = h.line.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].slotCount, 24);
}

TEST(PtyLine, WidgetModeSpeaksInWidgetMessages)
{
    PtyHarness h;
    h.line.add(kA, rig::DimmerPackModel()).startAddress = 77;
    h.pty.widget = true;
    h.pty.widgetWaitUs = 10000;
    ASSERT_TRUE(h.serveLine());
    uint8_t request[kMaxMessageSize], message[kMaxMessageSize + widget::kOverhead];
    auto send = [&](const RdmRequest& q) {
        const size_t size = Encode(q, request);
        h.port.PortWrite(message, int(widget::build(widget::kLabelSendRdm, request, size, message)));
        usleep(40000);  // the serial port's reads wait only a few ms; the widget's answer is whole by then
    };
    WidgetReplyReader reader;
    uint8_t reply[600];
    bool answered = false;

    RdmRequest get(kA, GET_COMMAND, DMX_START_ADDRESS);
    get.transaction = 1;
    send(get);
    const int n = reader.read(h.port, reply, int(sizeof reply), &answered);
    ASSERT_TRUE(answered);
    RdmResponse r;
    ASSERT_EQ(Decode(reply, size_t(n), r), DecodeError::None) << "the received packet, unwrapped, is the reply";
    EXPECT_EQ(Match(get, r), Mismatch::None);
    EXPECT_EQ(r.data.be16(0), 77);

    // Nobody answers a broadcast: the widget reports its time-out once it has listened.
    send(RdmRequest(kBroadcastUid, DISCOVERY_COMMAND, DISC_UN_MUTE));
    EXPECT_EQ(reader.read(h.port, reply, int(sizeof reply), &answered), 0);
    EXPECT_TRUE(answered);
}

// The widget's framing, read from a buffer and a byte at a time: both find the same
// messages behind noise, a header whose length is no length, and a bad end.
TEST(WidgetFraming, BufferAndStreamAgree)
{
    const std::vector<uint8_t> bytes = {0x00, 0x7E, 0x05, 0x7E, 0xFF,              // a length over the limit
                                        0x7E, 0x05, 0x01, 0x00, 0xAA, 0x00,        // a bad end
                                        0x7E, 0x0C, 0x00, 0x00, 0xE7,              // an empty message
                                        0x7E, 0x05, 0x02, 0x00, 0x00, 0xCC, 0xE7,  // a received packet
                                        0x7E, 0x06, 0x03};                         // cut short
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> buffered, streamed;
    size_t pos = 0, consumed = 0;
    widget::Message m;
    widget::ParseResult r;
    while ((r = widget::parse(bytes.data() + pos, bytes.size() - pos, m, consumed)) != widget::ParseResult::Incomplete) {
        if (r == widget::ParseResult::Complete)
            buffered.push_back({m.label, {m.data, m.data + m.length}});
        pos += consumed;
    }
    EXPECT_EQ(bytes.size() - pos, 3u) << "the message cut short waits for the rest";
    widget::Parser parser;
    for (const uint8_t b : bytes)
        if (parser.feed(b) == widget::Parser::Event::Message)
            streamed.push_back({parser.message().label, {parser.message().data,
                                                         parser.message().data + parser.message().length}});
    const std::vector<std::pair<uint8_t, std::vector<uint8_t>>> expected = {{0x0C, {}}, {0x05, {0x00, 0xCC}}};
    EXPECT_EQ(buffered, expected);
    EXPECT_EQ(streamed, expected);
    EXPECT_EQ(parser.wanted(), 1u) << "the length's second byte";
}

TEST(PtyLine, RequestRightAfterAFrameIsNotSwallowed)
{
    rig::PtyLine::Splitter s;
    std::vector<uint8_t> frame(25, 0);
    EXPECT_TRUE(s.feed(frame.data(), frame.size()).empty());
    std::vector<uint8_t> request(26, 0);
    request[0] = 0xCC;
    request[1] = 0x01;
    request[2] = 24;
    auto packets = s.feed(request.data(), request.size());
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].size(), 25u);
    EXPECT_EQ(packets[1].size(), 26u);
}

TEST(PtyLine, FramesNeverInterleaveWithRequestsUnderAOneMillisecondLoad)
{
    PtyHarness h;
    const Uid uid = 0x7FF000000202ull;
    h.line.add(uid, rig::LedParModel());
    ASSERT_TRUE(h.serveLine());
    uint16_t size = 24;
    DmxOutput dmx(h.port, size);
    dmx.DmxTimerStart(1);
    int acks = 0;
    for (int i = 0; i < 10; ++i) {
        acks += Transact(h.engine, uid, GET_COMMAND, DEVICE_INFO) == TxAck;
        usleep(3000);  // room for frames between requests
    }
    dmx.DmxTimerStop();
    EXPECT_EQ(acks, 10);
    for (const rig::RecordedRequest& r : h.line.requests())
        EXPECT_TRUE(r.whole);
    // Frames closer than the rig's gap may be gathered together, but never cut.
    ASSERT_FALSE(h.line.frames().empty());
    for (const rig::RecordedFrame& f : h.line.frames())
        EXPECT_EQ((f.slotCount + 1) % 25, 0) << f.slotCount;
}

TEST(PtyLine, FramesAndARequestReadTogetherAreToldApartByContent)
{
    // Two frames and the request after them, all in one read of a slow reader.
    rig::PtyLine::Splitter s;
    std::vector<uint8_t> bytes(50, 0);
    bytes[3] = 0xCC;  // a slot level that merely looks like a start code
    bytes[4] = 0x01;
    bytes[5] = 30;
    uint8_t request[26] = {0xCC, 0x01, 24, 0x7F, 0xF0, 0, 0, 2, 2, 0x41, 0x64, 0xFF, 0, 0, 1, 7, 1, 0, 0, 0, 0x20, 0, 0x60, 0};
    rdm::WriteBE16(rdm::Checksum(request, 24), request + 24);
    bytes.insert(bytes.end(), request, request + 26);
    auto packets = s.feed(bytes.data(), bytes.size());
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].size(), 50u) << "the frames end where the request starts";
    EXPECT_EQ(packets[1], std::vector<uint8_t>(request, request + 26));
    EXPECT_FALSE(s.pending());
}
