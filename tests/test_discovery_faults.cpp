// Discovery on an imperfect line: one faulty device among healthy ones must never
// hide the healthy ones, and the run says how complete it was.
#include "harness.h"
#include "rdm/discovery.h"
#include "rig/fixtures.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace {

struct FaultRig : RigHarness {
    std::vector<Uid> found;
    int rows = 0;
    int timeout = 10;
    Discovery discovery{engine, found,
                        DiscoveryHooks{[] {}, [] {}, [this] { rows = 0; }, [this](Uid) { ++rows; },
                                       [this] { return timeout; }}};

    FaultRig(int kind, bool fast, bool paced) : RigHarness(kind)
    {
        line.paced = paced;
        engine.setFastExchange(fast);
    }

    rig::Responder& add(Uid uid) { return line.add(uid, rig::LedParModel()); }

    std::string logText() const
    {
        std::ostringstream out;
        for (const auto& l : log.lines)
            out << l << '\n';
        return out.str();
    }
};

// Healthy devices at the top, the middle and the bottom of the UID space.
const Uid kGood[] = {0xFFFFFFFFFFF0ull, 0xC0DE00000100ull, 0x7FF012345678ull, 0x416400000042ull, 0x000100000001ull};
// Six more for the fast exchange's twelve, spread over the UID space.
const Uid kMoreGood[] = {0xE1A500000001ull, 0x9ABC00001234ull, 0x7FF000000100ull, 0x5A5A5A5A5A5Aull,
                         0x0F0F00000F0Full, 0x000000000100ull};
// Where the faulty one sits: above all, beside a healthy one, below all.
const Uid kFaultyAt[] = {0xFFFFFFFFFFFDull, 0x7FF012345679ull, 0x000000000007ull};

std::string KindText(int kind, bool fast) { return "kind " + std::to_string(kind) + (fast ? ", fast" : ", fixed"); }

struct FaultCase {
    const char* name;
    std::function<void(rig::VirtualLine&, rig::Responder&)> spoil;
    // Whether the faulty device itself is listed (-1: it may or may not be), and
    // whether the run may still call itself complete.
    int faultyListed;
    bool complete;
};

const FaultCase kCases[] = {
    {"first reply lost", [](rig::VirtualLine&, rig::Responder& r) { r.faults.loseFirst = 1; }, true, true},
    {"first three replies lost", [](rig::VirtualLine&, rig::Responder& r) { r.faults.loseFirst = 3; }, true, true},
        // Every reply it sends may be lost, the last ones too: it may be missed.
    {"a third of replies lost", [](rig::VirtualLine&, rig::Responder& r) { r.faults.loseShare = 0.33; }, -1, true},
    {"vanishes and comes back",
     [](rig::VirtualLine&, rig::Responder& r) {
         r.faults.vanishAfter = 4;
         r.faults.vanishFor = 12;
     },
     true, true},
    {"bad checksum", [](rig::VirtualLine&, rig::Responder& r) { r.faults.badChecksum = true; }, false, false},
    {"truncated", [](rig::VirtualLine&, rig::Responder& r) { r.faults.truncated = true; }, false, false},
    // Its mute is answered cleanly, so it is listed, with a word of doubt.
    {"garbled discovery replies", [](rig::VirtualLine&, rig::Responder& r) { r.faults.garbledDiscovery = true; }, true,
     false},
    {"twin UID", [](rig::VirtualLine& line, rig::Responder& r) { line.addTwin(r); }, true, false},
};

} // namespace

TEST(DiscoveryFaults, OneFaultyDeviceHidesNoHealthyOneOnEveryKindInBothProfilesAndBothSearches)
{
    using Search = Discovery::Search;
    for (const FaultCase& c : kCases)
        for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro})
            for (bool fast : {false, true})
                for (Search search : {Search::Halving, Search::Tree})
                    for (Uid faulty : kFaultyAt) {
                        SCOPED_TRACE(std::string(c.name) + ", " + KindText(kind, fast) +
                                     (search == Search::Tree ? ", tree" : ", halving") + ", faulty " + UidLogText(faulty));
                        FaultRig d(kind, fast, fast);
                        d.discovery.search = search;
                        // Six devices with the fixed waits, twelve with the fast exchange.
                        std::vector<Uid> good(std::begin(kGood), std::end(kGood));
                        if (fast)
                            for (Uid u : kMoreGood)
                                good.push_back(u);
                        for (Uid u : good)
                            d.add(u);
                        c.spoil(d.line, d.add(faulty));
                        const uint32_t start = d.clock.tickMs();
                        const DiscoveryVerdict v = d.discovery.Run();
                        std::vector<Uid> expected = good;
                        const bool listedFaulty = std::count(d.found.begin(), d.found.end(), faulty) == 1;
                        if (c.faultyListed == 1 || (c.faultyListed == -1 && listedFaulty))
                            expected.push_back(faulty);
                        std::sort(expected.rbegin(), expected.rend());
                        std::vector<Uid> found = d.found;
                        std::sort(found.rbegin(), found.rend());
                        EXPECT_EQ(found, expected) << d.logText();
                        EXPECT_EQ(int(d.found.size()), d.rows);
                        EXPECT_FALSE(v.cutShort) << "within the time-out";
                        EXPECT_LE(d.clock.tickMs() - start, 10000u);
                        EXPECT_EQ(v.complete(), c.complete) << d.logText();
                    }
}

TEST(DiscoveryFaults, ALateDeviceDoesNotLeadTheSearchAstray)
{
    // 60 ms late with the fixed waits, 10 ms with the fast exchange: its replies
    // land in the windows of later requests.
    for (int kind : {KindStandardVcp, KindTalvern})
        for (bool fast : {false, true})
            for (Uid faulty : kFaultyAt) {
                SCOPED_TRACE(KindText(kind, fast) + ", late " + UidLogText(faulty));
                FaultRig d(kind, fast, fast);
                for (Uid u : kGood)
                    d.add(u);
                d.add(faulty).faults.lateMs = fast ? 10 : 60;
                if (faulty == kFaultyAt[1])
                    d.discovery.search = Discovery::Search::Tree;  // the tree in both profiles too
                const DiscoveryVerdict v = d.discovery.Run();
                for (Uid u : kGood)
                    EXPECT_EQ(std::count(d.found.begin(), d.found.end(), u), 1) << UidLogText(u) << '\n' << d.logText();
                EXPECT_FALSE(v.cutShort);
                if (fast) {
                    // Heard in time once the wait has grown, or muted from its
                    // late reply.
                    EXPECT_EQ(std::count(d.found.begin(), d.found.end(), faulty), 1) << d.logText();
                }
            }
}

TEST(DiscoveryFaults, FaultsTogether)
{
    for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro})
        for (bool fast : {false, true}) {
            SCOPED_TRACE(KindText(kind, fast));
            FaultRig d(kind, fast, fast);
            // Six devices in all with the fixed waits (the twins count as two),
            // nine with the fast exchange.
            const std::vector<Uid> good(std::begin(kGood), std::begin(kGood) + (fast ? 5 : 2));
            for (Uid u : good)
                d.add(u).faults.loseShare = 0.1;
            d.add(0xFFFFFFFFFFFDull).faults.badChecksum = true;
            d.add(0x7FF012345679ull).faults.loseFirst = 2;
            d.line.addTwin(d.add(0x000000000007ull));
            const DiscoveryVerdict v = d.discovery.Run();
            for (Uid u : good)
                EXPECT_EQ(std::count(d.found.begin(), d.found.end(), u), 1) << UidLogText(u) << '\n' << d.logText();
            EXPECT_EQ(std::count(d.found.begin(), d.found.end(), 0x7FF012345679ull), 1);
            EXPECT_FALSE(v.complete());
            EXPECT_FALSE(v.cutShort) << d.logText();
        }
}

TEST(DiscoveryFaults, ALostFirstWholeRangeReplyDoesNotEndTheRun)
{
    for (bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "fixed");
        FaultRig d(KindStandardVcp, fast, fast);
        for (Uid u : kGood)
            d.add(u).faults.loseFirst = 1;  // every device is silent to the first branch
        d.add(0x7FF0000000A0ull).faults.loseFirst = 1;
        const DiscoveryVerdict v = d.discovery.Run();
        EXPECT_EQ(d.found.size(), 6u) << d.logText();
        EXPECT_TRUE(v.complete());
    }
}

TEST(DiscoveryFaults, TheLogNamesWhatWasSetAsideOnceAndTheVerdictFollowsTheSummary)
{
    FaultRig d(KindStandardVcp, false, false);
    for (Uid u : kGood)
        d.add(u);
    d.add(0xFFFFFFFFFFFDull).faults.badChecksum = true;
    const DiscoveryVerdict v = d.discovery.Run();
    EXPECT_EQ(v.setAside, 1);
    EXPECT_FALSE(v.cutShort);
    const auto& l = d.log.lines;
    EXPECT_EQ(d.log.count("Устройство 0xFFFFFFFFFFFD отвечает на поиск искажёнными ответами: оно отложено и не "
                          "внесено в список."),
              1)
        << d.logText();
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l.end()[-2].rfind("Обнаружение завершено за ", 0), 0u);
    EXPECT_NE(l.end()[-2].find("Найдено 5 RDM устройств."), std::string::npos);
    EXPECT_EQ(l.back(), "Обнаружение неполное: устройств и диапазонов UID с неразборчивыми ответами — 1 (см. выше).");
    for (const auto& line : l)
        EXPECT_EQ(line.find("Таймаут обнаружения можно увеличить"), std::string::npos) << "more time would not help";
}

TEST(DiscoveryFaults, TwinsAreNamedAsPossiblyTwoDevices)
{
    for (bool fast : {false, true}) {
        FaultRig d(KindStandardVcp, fast, fast);
        d.add(0x7FF012345678ull);
        d.line.addTwin(d.add(0x7FF000000042ull));
        const DiscoveryVerdict v = d.discovery.Run();
        EXPECT_EQ(d.found, (std::vector<Uid>{0x7FF012345678ull, 0x7FF000000042ull})) << d.logText();
        EXPECT_EQ(d.log.count("Устройство 0x7FF000000042 отвечает на Mute, но его ответы на поиск искажены: возможно, "
                              "этот UID носят два устройства."),
                  1)
            << d.logText();
        EXPECT_FALSE(v.complete());
        EXPECT_FALSE(v.cutShort);
    }
}

TEST(DiscoveryFaults, TwelveDevicesWithAGarbledOneOnTheFastExchangeOnEveryKind)
{
    for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro}) {
        SCOPED_TRACE(kind);
        FaultRig d(kind, true, true);
        std::vector<Uid> good;
        for (uint32_t i = 0; i < 11; ++i)
            good.push_back(d.add(MakeUid(uint16_t(0x1000 * i + 7), 0x00C0FFEE + i * 0x01010101u)).uid());
        d.add(0xFFFF00000001ull).faults.truncated = true;
        const DiscoveryVerdict v = d.discovery.Run();
        std::sort(good.rbegin(), good.rend());
        EXPECT_EQ(d.found, good) << "every healthy device, highest first";
        EXPECT_EQ(v.setAside, 1);
        EXPECT_FALSE(v.cutShort);
    }
}

TEST(DiscoveryFaults, AListedDeviceThatComesBackIsNotListedTwice)
{
    FaultRig d(KindStandardVcp, false, false);
    for (Uid u : kGood)
        d.add(u);
    // Muted early on, then it loses power and answers discovery again.
    rig::Responder& flaky = d.add(0xFFFFFFFFFFFEull);
    flaky.faults.vanishAfter = 60;
    flaky.faults.vanishFor = 3;
    const DiscoveryVerdict v = d.discovery.Run();
    EXPECT_EQ(std::count(d.found.begin(), d.found.end(), 0xFFFFFFFFFFFEull), 1) << d.logText();
    EXPECT_EQ(d.log.count("Mute 0xFFFFFFFFFFFE"), 2) << "muted again when it came back";
    EXPECT_EQ(d.found.size(), 6u);
    EXPECT_EQ(d.rows, 6);
    EXPECT_TRUE(v.complete());
}

namespace {

// Two UIDs from `near` whose discovery replies, the bits ORed on the line, decode
// cleanly as a third UID above both, that no device carries: the phantom.
struct Phantom {
    Uid a, b, phantom;
};

Phantom PhantomPair(Uid near)
{
    for (Uid a = near;; a = a + 1)
        for (Uid b = a + 1; b < a + 256; b = b + 1) {
            const std::vector<uint8_t> sum =
                rig::CollideReplies({rdm::EncodeDiscoveryReply(a), rdm::EncodeDiscoveryReply(b)}, rig::Combine::Or);
            Uid phantom = 0;
            if (rdm::DecodeDiscoveryReply(sum.data(), sum.size(), phantom) == rdm::DiscoveryReply::Whole &&
                phantom != a && phantom != b)
                return {a, b, phantom};
        }
}

} // namespace

TEST(DiscoveryFaults, BothDevicesBehindAPhantomAreFoundAndThePhantomIsNot)
{
    using Search = Discovery::Search;
    for (Uid near : {0x000000001000ull, 0x7FF000100000ull, 0xFFFE00000000ull})
        for (bool fast : {false, true})
            for (Search search : {Search::Halving, Search::Tree}) {
                const auto [a, b, phantom] = PhantomPair(near);
                SCOPED_TRACE(KindText(KindStandardVcp, fast) + (search == Search::Tree ? ", tree, " : ", halving, ") +
                             UidLogText(a) + " and " + UidLogText(b));
                FaultRig d(KindStandardVcp, fast, fast);
                d.line.combine = rig::Combine::Or;
                d.discovery.search = search;
                d.add(a);
                d.add(b);
                d.add(kGood[2]);
                const DiscoveryVerdict v = d.discovery.Run();
                std::vector<Uid> found = d.found;
                std::sort(found.begin(), found.end());
                std::vector<Uid> expected{a, b, kGood[2]};
                std::sort(expected.begin(), expected.end());
                EXPECT_EQ(found, expected) << d.logText();
                EXPECT_TRUE(v.complete()) << d.logText();
                EXPECT_GE(d.log.count("Mute " + UidLogText(phantom)), 1) << "the phantom came and was asked";
            }
}

TEST(DiscoveryFaults, ADeviceFarTooLateCostsNoOtherDevice)
{
    // Its replies come 400 ms late: the fixed waits meet them on dozens of later
    // branches, the fast exchange on the requests after the run.
    for (int kind : {KindStandardVcp, KindTalvern})
        for (bool fast : {false, true}) {
            SCOPED_TRACE(KindText(kind, fast));
            FaultRig d(kind, fast, true);
            for (Uid u : kGood)
                d.add(u);
            constexpr Uid kLate = 0x7FF012345679ull;
            d.add(kLate).faults.lateMs = 400;
            const DiscoveryVerdict v = d.discovery.Run();
            EXPECT_FALSE(v.cutShort) << d.logText();
            for (Uid u : kGood)
                EXPECT_EQ(std::count(d.found.begin(), d.found.end(), u), 1) << UidLogText(u) << '\n' << d.logText();
            // Every device found answers afterwards too: the late replies still on
            // their way are let go by.
            for (Uid u : kGood)
                EXPECT_EQ(Transact(d.engine, u, rdm::GET_COMMAND, rdm::DEVICE_INFO), TxAck) << UidLogText(u);
            const bool listed = std::count(d.found.begin(), d.found.end(), kLate) == 1;
            const bool named = d.log.count(RdmEngine::LateDeviceText(kLate)) == 1;
            EXPECT_TRUE(listed || named || fast) << d.logText();
            if (named && !fast) {
                EXPECT_FALSE(v.complete());
                ASSERT_FALSE(v.ranges.empty());
                EXPECT_EQ(v.ranges.back().why, DiscoveryVerdict::Doubt::FarTooLate);
            }
        }
}

TEST(DiscoveryFaults, LineNoiseCostsNoDevice)
{
    // Bursts of 1 to 8 bytes between messages: every 200 ms against the fixed
    // waits' long reads, every 5 ms against the fast exchange's short ones.
    for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro})
        for (bool fast : {false, true}) {
            SCOPED_TRACE(KindText(kind, fast));
            FaultRig d(kind, fast, true);
            d.line.noise = {fast ? 5000u : 200000u, 8, 7};
            for (Uid u : kGood)
                d.add(u);
            const DiscoveryVerdict v = d.discovery.Run();
            std::vector<Uid> found = d.found, expected(std::begin(kGood), std::end(kGood));
            std::sort(found.begin(), found.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(found, expected) << d.logText();
            EXPECT_TRUE(v.complete()) << d.logText();
        }
}
