// The fast exchange against the fixed waits, both on a paced line: the same
// requests in the same order, the same results, the same log; only the waiting
// differs.
#include "harness.h"
#include "rdm/discovery.h"
#include "rdm/line_timing.h"
#include "rig/fixtures.h"
#include "scripted_serial.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <random>

using namespace rdm;

namespace {

constexpr Uid kDevice = 0x7FF012345678ull;

// What one run left behind, for comparing the two profiles.
struct Outcome {
    std::vector<int> results;
    std::vector<Uid> found;
    std::vector<std::string> log;
    std::vector<std::vector<uint8_t>> requests;
    uint64_t virtualUs = 0;
};

// The summary's seconds are the one thing the waits may change in the log.
std::string WithoutSeconds(const std::string& line)
{
    const std::string head = "Обнаружение завершено за ";
    if (line.rfind(head, 0) != 0)
        return line;
    return head + "…" + line.substr(line.find(" с."));
}

struct PacedRig : RigHarness {
    DeviceTable table;
    std::vector<std::string> rows;
    int timeout = 100;
    Discovery discovery{engine, table,
                        DiscoveryHooks{[] {}, [] {}, [this] { rows.clear(); },
                                       [this](Uid uid) { rows.push_back(UidListText(uid)); },
                                       [this] { return timeout; }}};

    PacedRig(int kind, bool fast) : RigHarness(kind)
    {
        line.paced = true;
        engine.setFastExchange(fast);
        log.detailedOn = true;
    }

    TxResult get(Uid uid, uint16_t pid)
    {
        return Transact(engine, uid, GET_COMMAND, pid);
    }
};

using Scenario = std::function<void(PacedRig&, Outcome&)>;

Outcome Run(int kind, bool fast, const std::function<void(rig::VirtualLine&)>& build, const Scenario& scenario)
{
    PacedRig rig(kind, fast);
    build(rig.line);
    Outcome out;
    const uint64_t start = rig.clock.nowUs();
    scenario(rig, out);
    out.virtualUs = rig.clock.nowUs() - start;
    for (int i = 0; i < rig.table.deviceCount; ++i)
        out.found.push_back(rig.table.entries[i].uid);
    for (const std::string& line : rig.log.lines)
        out.log.push_back(WithoutSeconds(line));
    for (const auto& r : rig.line.requests())
        out.requests.push_back(r.bytes);
    return out;
}

// Runs the scenario in both profiles on every kind and checks that they agree.
void ExpectSameOutcome(const std::function<void(rig::VirtualLine&)>& build, const Scenario& scenario,
                       bool endsOnItsOwn = true)
{
    for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro}) {
        SCOPED_TRACE("kind " + std::to_string(kind));
        const Outcome fixed = Run(kind, false, build, scenario);
        const Outcome fast = Run(kind, true, build, scenario);
        EXPECT_EQ(fast.results, fixed.results);
        EXPECT_EQ(fast.found, fixed.found);
        if (!endsOnItsOwn)
            continue;
        EXPECT_EQ(fast.log, fixed.log);
        EXPECT_EQ(fast.requests, fixed.requests);
        // Guards against the fast profile quietly waiting as long as the fixed one.
        EXPECT_LT(fast.virtualUs * 3, fixed.virtualUs);
    }
}

Scenario Gets(std::vector<std::pair<Uid, uint16_t>> requests)
{
    return [requests](PacedRig& rig, Outcome& out) {
        for (auto [uid, pid] : requests)
            out.results.push_back(rig.get(uid, pid));
    };
}

// The halving search in both profiles: these compare the waits, request for request.
Scenario Discover()
{
    return [](PacedRig& rig, Outcome&) {
        rig.discovery.search = Discovery::Search::Halving;
        rig.discovery.Run();
    };
}

} // namespace

TEST(FastExchange, TransactionsAnswerAsWithTheFixedWaits)
{
    constexpr Uid kNack = 0x7FF000000002ull, kTimer = 0x7FF000000003ull, kSilent = 0x7FF000000006ull;
    auto build = [&](rig::VirtualLine& line) {
        line.add(kDevice, rig::MovingHeadModel()).startAddress = 77;
        line.add(kNack, rig::LedParModel());
        line.add(kTimer, rig::LedParModel()).faults.ackTimer = true;
        line.add(kSilent, rig::LedParModel()).faults.silent = true;
    };
    ExpectSameOutcome(build, Gets({{kDevice, DEVICE_INFO},
                                   {kDevice, DMX_START_ADDRESS},
                                   {kDevice, SUPPORTED_PARAMETERS},
                                   {kNack, 0x7FFF},
                                   {kTimer, DEVICE_LABEL},
                                   {kSilent, DEVICE_INFO},
                                   {kBroadcastUid, DEVICE_INFO},
                                   {kDevice, DEVICE_LABEL}}));
}

TEST(FastExchange, WhatIsAskedAgainAndWhatIsNot)
{
    // A request whose repetition changes nothing is asked once more when its
    // answer was on its way but could not be taken; a SET never is, and silence
    // is no such sign. The fixed waits ask everything once.
    struct Case {
        const char* name;
        void (*spoil)(rig::Faults&);
        uint8_t commandClass;
        bool fast;
        size_t requests;
    } cases[] = {
        {"garbled GET", [](rig::Faults& f) { f.badChecksum = true; }, GET_COMMAND, true, 2},
        {"GET cut short", [](rig::Faults& f) { f.truncated = true; }, GET_COMMAND, true, 2},
        {"garbled DISC_MUTE", [](rig::Faults& f) { f.badChecksum = true; }, DISCOVERY_COMMAND, true, 2},
        {"garbled SET", [](rig::Faults& f) { f.badChecksum = true; }, SET_COMMAND, true, 1},
        {"silent GET", [](rig::Faults& f) { f.silent = true; }, GET_COMMAND, true, 1},
        {"garbled GET, fixed waits", [](rig::Faults& f) { f.badChecksum = true; }, GET_COMMAND, false, 1},
    };
    for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", kind " + std::to_string(kind));
            PacedRig rig(kind, c.fast);
            c.spoil(rig.line.add(kDevice, rig::LedParModel()).faults);
            const uint8_t identify = 1;
            const uint16_t pid = c.commandClass == DISCOVERY_COMMAND ? DISC_MUTE : IDENTIFY_DEVICE;
            EXPECT_EQ(Transact(rig.engine, kDevice, c.commandClass, pid, &identify,
                               c.commandClass == SET_COMMAND ? 1 : 0),
                      TxNoResponse);
            EXPECT_EQ(rig.line.requests().size(), c.requests);
        }
}

TEST(FastExchange, AReplyWithinTheListenLimitIsTheAnswerAndWidensTheWait)
{
    // 4 ms late: past the line's limit, well within the limit a read listens to.
    for (uint8_t commandClass : {GET_COMMAND, SET_COMMAND})
        for (int kind : {KindStandardVcp, KindTalvern}) {
            SCOPED_TRACE("kind " + std::to_string(kind) + (commandClass == SET_COMMAND ? ", SET" : ", GET"));
            PacedRig rig(kind, true);
            rig::Responder& late = rig.line.add(kDevice, rig::LedParModel());
            late.faults.lateMs = 4;
            const uint16_t address = 42;
            const uint8_t data[] = {0, address};
            ASSERT_EQ(Transact(rig.engine, kDevice, commandClass, DMX_START_ADDRESS, data,
                               commandClass == SET_COMMAND ? 2 : 0),
                      TxAck);
            EXPECT_EQ(LastReply().transaction, rig.engine.transactionNumber());
            EXPECT_EQ(rig.line.requests().size(), 1u) << "taken, not asked again";
            EXPECT_GT(rig.engine.lateMarginUs(), 0u);
            EXPECT_EQ(rig.log.count("Ответы приходят с опозданием: ожидание ответа увеличено до " +
                                    std::to_string((rig.engine.lateMarginUs() + 999) / 1000) + " мс."),
                      1);
            // The next one comes within the widened wait.
            ASSERT_EQ(rig.get(kDevice, DMX_START_ADDRESS), TxAck);
            EXPECT_EQ(rig.engine.lateMarginGrowths(), 1u);
        }
}

TEST(FastExchange, AReplyPastTheListenLimitIsNoReplyAndNeverAnswersTheNextRequest)
{
    for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro})
        for (bool askAtOnce : {false, true}) {
            SCOPED_TRACE("kind " + std::to_string(kind) + (askAtOnce ? ", next asked at once" : ""));
            PacedRig rig(kind, true);
            constexpr Uid kLate = 0x7FF000000009ull;
            rig.line.add(kLate, rig::LedParModel()).faults.lateMs = 25;
            rig.line.add(kDevice, rig::LedParModel()).startAddress = 42;
            EXPECT_EQ(rig.get(kLate, DMX_START_ADDRESS), TxNoResponse);
            if (!askAtOnce)
                rig.clock.sleepMs(20);  // the late reply has come and waits
            for (int i = 0; i < 2; ++i) {
                ASSERT_EQ(rig.get(kDevice, DMX_START_ADDRESS), TxAck);
                EXPECT_EQ(LastReply().source, kDevice);
                EXPECT_EQ(LastReply().transaction, rig.engine.transactionNumber());
                EXPECT_EQ(LastReply().data.be16(0), 42);
            }
        }
}

TEST(FastExchange, DiscoveryFindsTheSameDevicesInTheSameOrder)
{
    // Consecutive UIDs, a lone device, and 33 devices with every preamble length.
    ExpectSameOutcome([](rig::VirtualLine& line) {
        for (Uid u : {0x7FF000000001ull, 0x7FF000000002ull, 0x7FF000000003ull})
            line.add(u, rig::LedParModel());
    }, Discover());
    ExpectSameOutcome([](rig::VirtualLine& line) { line.add(kDevice, rig::LedParModel()); }, Discover());
    ExpectSameOutcome([](rig::VirtualLine& line) {
        std::mt19937 random(33);
        std::vector<Uid> uids;
        while (uids.size() < 33) {
            const Uid u = MakeUid(0x7FF0, uint32_t(random()));
            if (std::find(uids.begin(), uids.end(), u) != uids.end())
                continue;
            uids.push_back(u);
            line.add(u, rig::LedParModel()).preambleLength = int(random() % 8);
        }
    }, Discover());
}

TEST(FastExchange, DiscoveryWithFaultyDevicesAgrees)
{
    // A device that never acknowledges its mute is excluded the same way.
    ExpectSameOutcome([](rig::VirtualLine& line) {
        line.add(0x7FF0FFFF0000ull, rig::LedParModel()).faults.ignoreMute = true;
        for (uint32_t i = 0; i < 4; ++i)
            line.add(MakeUid(0x7FF0, 0x4000 - i * 0x0FED), rig::LedParModel());
    }, Discover());
    // Bad replies collide for as long as the time-out lets the run go on, so only
    // what is found in the end can be compared.
    ExpectSameOutcome([](rig::VirtualLine& line) {
        line.add(0x7FF000000100ull, rig::LedParModel()).faults.badChecksum = true;
        line.add(0x7FF000000200ull, rig::LedParModel()).faults.truncated = true;
        line.add(0x7FF000000300ull, rig::LedParModel());
    }, [](PacedRig& rig, Outcome&) {
        rig.timeout = 10;
        rig.discovery.search = Discovery::Search::Halving;
        rig.discovery.Run();
    }, false);
}

TEST(FastExchange, SlowestAllowedTurnaroundIsStillAnAnswer)
{
    ExpectSameOutcome([](rig::VirtualLine& line) {
        line.add(kDevice, rig::LedParModel()).turnaroundUs = 2000;
        line.add(0x7FF000000001ull, rig::LedParModel()).turnaroundUs = 176;
    }, [](PacedRig& rig, Outcome& out) {
        out.results.push_back(rig.get(kDevice, DEVICE_INFO));
        rig.discovery.search = Discovery::Search::Halving;
        rig.discovery.Run();
    });
}

TEST(FastExchange, TheTreeSearchFindsWhatTheHalvingFindsInTheSameOrder)
{
    std::vector<std::function<void(rig::VirtualLine&)>> lines = {
        [](rig::VirtualLine& line) {
            for (Uid u : {0x7FF000000001ull, 0x7FF000000002ull, 0x7FF000000003ull})
                line.add(u, rig::LedParModel());
        },
        [](rig::VirtualLine& line) {
            std::mt19937 random(33);
            for (int i = 0; i < 33; ++i)
                line.add(MakeUid(0x7FF0, uint32_t(random())), rig::LedParModel()).preambleLength = int(random() % 8);
        },
        [](rig::VirtualLine& line) {
            line.add(0x7FF0FFFF0000ull, rig::LedParModel()).faults.ignoreMute = true;
            for (uint32_t i = 0; i < 4; ++i)
                line.add(MakeUid(0x7FF0, 0x4000 - i * 0x0FED), rig::LedParModel());
        },
    };
    for (size_t i = 0; i < lines.size(); ++i)
        for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro}) {
            SCOPED_TRACE("line " + std::to_string(i) + ", kind " + std::to_string(kind));
            const Outcome halving = ::Run(kind, false, lines[i], Discover());
            const Outcome tree = ::Run(kind, true, lines[i], [](PacedRig& rig, Outcome&) { rig.discovery.Run(); });
            EXPECT_EQ(tree.found, halving.found);
            // On a line of three the two cost alike; with many devices the tree
            // no longer starts again from the whole range after each one.
            if (i == 1) {
                EXPECT_LT(tree.requests.size() * 3, halving.requests.size());
            }
        }
}

// Bytes a test writes itself, as the line would bring them after a GET.
struct ScriptedFast : ScriptedEngine<ScriptedSerial> {
    ScriptedFast() : ScriptedEngine(1000000) { engine.setFastExchange(true); }

    std::vector<uint8_t> reply(const std::vector<uint8_t>& data)
    {
        rig::Request q;
        q.source = kOwnUid;
        q.destination = kDevice;
        q.commandClass = GET_COMMAND;
        q.pid = DEVICE_LABEL;
        q.transaction = uint8_t(engine.transactionNumber() + 1);  // the next request's
        return rig::BuildResponse(q, kDevice, RESPONSE_TYPE_ACK, data);
    }

    TxResult get()
    {
        return Transact(engine, kDevice, GET_COMMAND, DEVICE_LABEL);
    }
};

TEST(FastExchange, AReplyThatStopsPartWayIsNoReply)
{
    ScriptedFast s;
    std::vector<uint8_t> m = s.reply({'a', 'b', 'c', 'd'});
    m.resize(m.size() - 3);
    s.serial.queue({0x00});
    s.serial.queue(m);
    const uint64_t start = s.clock.nowUs();
    EXPECT_EQ(s.get(), TxNoResponse);
    // It waited for the rest rather than taking the bytes as they were.
    EXPECT_GE(s.clock.nowUs() - start, line_timing::kInterSlotMaxUs);

    // A length byte that claims more than a reply can hold is the same.
    m = s.reply({'a'});
    m[kOffLength] = 250;
    s.serial.queue({0x00});
    s.serial.queue(m);
    EXPECT_EQ(s.get(), TxNoResponse);

    // And the whole reply, once it is all there, is an answer at once: as soon as
    // the request has left the line.
    s.serial.queue({0x00});
    s.serial.queue(s.reply({'o', 'k'}));
    const uint64_t before = s.clock.nowUs();
    EXPECT_EQ(s.get(), TxAck);
    EXPECT_EQ(s.clock.nowUs(), before + line_timing::PacketUs(26));
}

TEST(FastExchange, AReplyToAnEarlierRequestIsPassedOver)
{
    ScriptedFast s;
    std::vector<uint8_t> stale = s.reply({'o', 'l', 'd'});
    stale[kOffTransaction] = uint8_t(stale[kOffTransaction] - 1);
    WriteBE16(Checksum(stale.data(), stale.size() - 2), stale.data() + stale.size() - 2);
    s.serial.queue({0x00});
    s.serial.queue(stale);
    s.serial.queue({0x00});
    s.serial.queue(s.reply({'n', 'e', 'w'}));
    ASSERT_EQ(s.get(), TxAck);
    EXPECT_EQ(LastReply().data.bytes[0], 'n');
}

TEST(FastExchange, TheWidgetsTimeOutReportEndsTheWait)
{
    PacedRig rig(KindEnttecUsbPro, true);
    rig.line.add(kDevice, rig::LedParModel()).faults.silent = true;
    const uint64_t start = rig.clock.nowUs();
    EXPECT_EQ(rig.get(kDevice, DEVICE_INFO), TxNoResponse);
    // The report comes 1 ms after the widget stops listening; the engine's own
    // limit for a widget lies past the longest reply, far later.
    const uint64_t request = line_timing::PacketUs(26) + 200;
    EXPECT_LE(rig.clock.nowUs() - start, request + rig.d2xx.chip(1).listenUs + 1000 + 300);
}

TEST(FastExchange, TheWidenedWaitShrinksAgainOnceRepliesComeInTime)
{
    PacedRig rig(KindStandardVcp, true);
    rig.line.add(kDevice, rig::LedParModel());
    rig::Responder& late = rig.line.add(0x7FF000000009ull, rig::LedParModel());
    late.faults.lateMs = 5;
    ASSERT_EQ(rig.get(late.uid(), DMX_START_ADDRESS), TxAck);
    EXPECT_TRUE(rig.engine.takeLateSign());
    const uint32_t widened = rig.engine.lateMarginUs();
    EXPECT_GT(widened, 0u);
    for (int i = 0; i < RdmEngine::kOnTimeToShrink; ++i)
        ASSERT_EQ(rig.get(kDevice, DMX_START_ADDRESS), TxAck);
    EXPECT_EQ(rig.engine.lateMarginUs(), widened / 2 < RdmEngine::kFirstLateMarginUs ? 0u : widened / 2);
}
