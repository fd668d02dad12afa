#include "harness.h"
#include "rdm/discovery.h"
#include "rdm/discovery_reply.h"
#include "rig/fixtures.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace {

struct DiscoveryRig : RigHarness {
    DeviceTable table;
    std::vector<std::string> rows;
    int stops = 0, resumes = 0;
    int timeout = 10;
    Discovery discovery{engine, table,
                        DiscoveryHooks{[this] { ++stops; }, [this] { ++resumes; }, [this] { rows.clear(); },
                                       [this](Uid uid) { rows.push_back(UidListText(uid)); },
                                       [this] { return timeout; }}};

    explicit DiscoveryRig(int kind = KindStandardVcp) : RigHarness(kind) {}

    rig::Responder& add(Uid uid) { return line.add(uid, rig::LedParModel()); }

    std::vector<Uid> found() const
    {
        std::vector<Uid> uids;
        for (int i = 0; i < table.deviceCount; ++i)
            uids.push_back(table.entries[i].uid);
        return uids;
    }
};

// A line of devices modelled by their UIDs alone, without a port or an engine: a
// branch is silent, one clean reply or a collision; a mute is acknowledged.
class ModelledLine final : public DiscoveryLine {
public:
    explicit ModelledLine(std::vector<Uid> uids) : uids_(std::move(uids)) {}
    std::vector<Uid> muted;
    int branches = 0;

    TxResult RdmTransaction(const rdm::RdmRequest& q, rdm::RdmResponse&, int) override
    {
        ++transaction_;
        if (q.pid == rdm::DISC_UN_MUTE)
            muted.clear();
        if (q.pid != rdm::DISC_MUTE)
            return TxNoResponse;
        muted.push_back(q.destination);
        return TxAck;
    }
    BranchResult DiscoveryBranch(Uid lower, Uid upper, Uid& found) override
    {
        ++branches;
        int answering = 0;
        for (const Uid uid : uids_)
            if (uid >= lower && uid <= upper && std::count(muted.begin(), muted.end(), uid) == 0) {
                found = uid;
                ++answering;
            }
        return answering == 0 ? BranchSilent : answering == 1 ? BranchSingle : BranchCollision;
    }
    bool fastExchange() const override { return true; }
    void pauseMs(uint32_t ms) override { clock_.sleepMs(ms); }
    uint8_t transactionNumber() const override { return transaction_; }
    Clock& clock() override { return clock_; }
    LogSink& log() override { return log_; }
    bool linkFailed() const override { return false; }
    bool writeFailed() const override { return false; }
    bool takeLateSign() override { return false; }
    bool takeStrayReply(Uid&) override { return false; }
    void noteLateReply() override {}
    uint32_t lateMarginGrowths() const override { return 0; }
    bool listenForLateReply(uint64_t) override { return false; }
    bool drainLateReplies(uint32_t, uint32_t) override { return false; }
    bool heardLate(Uid) const override { return false; }
    void forgetLateAnswers() override {}
    bool awaitLateAck(Uid, uint8_t, uint32_t) override { return false; }
    bool nameLate(Uid) override { return false; }
    const std::vector<Uid>& namedLate() const override { return none_; }

private:
    std::vector<Uid> uids_, none_;
    uint8_t transaction_ = 0;
    VirtualClock clock_{1000000};
    RecordingLog log_;
};

} // namespace

// Discovery needs only the few calls of its line: against a modelled line it finds
// every device, in both searches, muting each once.
TEST(Discovery, FindsEveryDeviceOfAModelledLine)
{
    const std::vector<Uid> uids = {MakeUid(0x7FF0, 1), MakeUid(0x7FF0, 2), MakeUid(0x7FF0, 0xDEADBEEF),
                                   MakeUid(0x0001, 0x00000100)};
    for (const Discovery::Search search : {Discovery::Search::Halving, Discovery::Search::Tree}) {
        ModelledLine line(uids);
        std::vector<Uid> found;
        Discovery discovery(line, found, DiscoveryHooks{[] {}, [] {}, [] {}, [](Uid) {}, [] { return 10; }});
        discovery.search = search;
        EXPECT_TRUE(discovery.Run().complete());
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, (std::vector<Uid>{uids[3], uids[0], uids[1], uids[2]}));
        EXPECT_EQ(line.muted.size(), uids.size());
    }
}

TEST(Discovery, NoDevice)
{
    DiscoveryRig d;
    d.discovery.Run();
    EXPECT_TRUE(d.rows.empty());
    EXPECT_EQ(d.table.deviceCount, 0);
    ASSERT_EQ(d.log.lines.size(), 5u);
    EXPECT_EQ(d.log.lines[0], "UnMute 0xFFFFFFFFFFFF");
    EXPECT_EQ(d.log.lines[1], "Нет ответа");
    EXPECT_EQ(d.log.lines[2], "");
    EXPECT_EQ(d.log.lines[3], "Обнаружение RDM устройств.");
    EXPECT_EQ(d.log.lines[4].rfind("Обнаружение завершено за 0.", 0), 0u) << d.log.lines[4];
    EXPECT_NE(d.log.lines[4].find("Найдено 0 RDM устройств."), std::string::npos);
    EXPECT_EQ(d.stops, 1);
    EXPECT_EQ(d.resumes, 1);
}

TEST(Discovery, OneDeviceWithTheDetailedLogInOrder)
{
    DiscoveryRig d;
    d.add(0x7FF012345678ull);
    d.log.detailedOn = true;
    d.discovery.Run();
    ASSERT_EQ(d.rows, std::vector<std::string>{"7FF012345678"});
    auto starts = [](const std::string& line, const char* prefix) { return line.rfind(prefix, 0) == 0; };
    const auto& l = d.log.lines;
    ASSERT_EQ(l.size(), 19u);
    EXPECT_EQ(l[0], "UnMute 0xFFFFFFFFFFFF");
    EXPECT_TRUE(starts(l[1], "Запрос:  CC 01 18 FFFFFFFFFFFF 4164FF000001 01 01 00 0000 10 0003 00 "));
    EXPECT_EQ(l[2], "Нет ответа");
    EXPECT_EQ(l[3], "");
    EXPECT_EQ(l[4], "Обнаружение RDM устройств.");
    EXPECT_TRUE(starts(l[5], "Запрос:  CC 01 24 FFFFFFFFFFFF 4164FF000001 02 01 00 0000 10 0001 0C 00 00 00 00 "));
    EXPECT_EQ(l[6], "Корректный ответ");
    EXPECT_EQ(l[7], "");
    EXPECT_EQ(l[8], "Mute 0x7FF012345678");
    EXPECT_TRUE(starts(l[9], "Запрос:  CC 01 18 7FF012345678 4164FF000001 03 01 00 0000 10 0002 00 "));
    EXPECT_TRUE(starts(l[10], "Ответ: CC 01 1A 4164FF000001 7FF012345678 03 00 00 0000 11 0002 02 "));
    EXPECT_EQ(l[11], "");
    // The final whole-range branch is silent, and so is the one that confirms it.
    for (size_t at : {12u, 15u}) {
        EXPECT_TRUE(starts(l[at], "Запрос:  CC 01 24 FFFFFFFFFFFF"));
        EXPECT_EQ(l[at + 1], "Нет ответа");
        EXPECT_EQ(l[at + 2], "");
    }
    EXPECT_TRUE(starts(l[18], "Обнаружение завершено за "));
    // One un-mute, one whole-range branch, one mute and two final branches.
    EXPECT_EQ(d.line.requests().size(), 5u);
}

TEST(Discovery, TwoDevicesDifferingInTheLastBit)
{
    DiscoveryRig d;
    d.add(0x7FF0ABCDEF00ull);
    d.add(0x7FF0ABCDEF01ull);
    d.discovery.Run();
    EXPECT_EQ(d.found(), (std::vector<Uid>{0x7FF0ABCDEF01ull, 0x7FF0ABCDEF00ull}));
}

TEST(Discovery, ConsecutiveUidsAreFoundHighestFirst)
{
    DiscoveryRig d;
    for (Uid u : {0x7FF000000001ull, 0x7FF000000002ull, 0x7FF000000003ull})
        d.add(u);
    d.discovery.Run();
    EXPECT_EQ(d.rows, (std::vector<std::string>{"7FF000000003", "7FF000000002", "7FF000000001"}));
}

TEST(Discovery, ThirtyThreeDevicesOnEveryKind)
{
    for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro}) {
        DiscoveryRig d(kind);
        d.timeout = 100;
        std::mt19937 random(33 + kind);
        std::vector<Uid> uids;
        while (uids.size() < 33) {
            Uid u = MakeUid(0x7FF0, uint32_t(random()));
            if (std::find(uids.begin(), uids.end(), u) == uids.end()) {
                uids.push_back(u);
                d.add(u).preambleLength = int(random() % 8);
            }
        }
        d.discovery.Run();
        std::vector<Uid> expected = uids;
        std::sort(expected.rbegin(), expected.rend());
        EXPECT_EQ(d.found(), expected) << "kind " << kind;
    }
}

TEST(Discovery, ThirtyFourthDeviceStopsTheRunWithoutOverflowingTheTable)
{
    DiscoveryRig d;
    d.timeout = 100;
    for (uint32_t i = 0; i < 34; ++i)
        d.add(MakeUid(0x7FF0, 0x1000 + i * 77));
    DeviceEntry guard = d.table.entries[32];
    d.discovery.Run();
    EXPECT_EQ(d.table.deviceCount, 33);
    EXPECT_EQ(d.rows.size(), 33u);
    EXPECT_NE(d.table.entries[32].uid, guard.uid);
    EXPECT_EQ(d.log.count("Список устройств заполнен: обнаружение остановлено на 33 устройствах."), 1);
    EXPECT_NE(d.log.lines.back().find("Найдено 33 RDM устройств."), std::string::npos);
    // The lowest device was never muted.
    EXPECT_FALSE(d.line.find(MakeUid(0x7FF0, 0x1000))->muted);
}

TEST(Discovery, UnacknowledgedMuteEndsByTheTimeOut)
{
    DiscoveryRig d;
    d.timeout = 1;
    d.add(0x7FF000000042ull).faults.ignoreMute = true;
    const uint32_t start = d.clock.tickMs();
    d.discovery.Run();
    EXPECT_TRUE(d.rows.empty());
    const uint32_t took = d.clock.tickMs() - start;
    EXPECT_GT(took, 1000u);
    EXPECT_LT(took, 1800u);
}

TEST(Discovery, ARunCutShortByTheTimeOutSaysSoAfterTheSummary)
{
    constexpr const char* kCutShort = "Обнаружение прервано по таймауту: найдены не все устройства.";
    DiscoveryRig d;
    d.timeout = 2;
    for (uint32_t i = 0; i < 12; ++i)
        d.add(MakeUid(0x7FF0, 0x100 + i * 0x1111));
    d.discovery.Run();
    ASSERT_LT(d.table.deviceCount, 12);
    ASSERT_GE(d.log.lines.size(), 2u);
    const std::string summary = Discovery::SummaryText(0, d.table.deviceCount);
    const std::string& shown = d.log.lines[d.log.lines.size() - 2];
    EXPECT_EQ(shown.substr(shown.find(" с.")), summary.substr(summary.find(" с.")));
    EXPECT_EQ(d.log.lines.back(), kCutShort);
    EXPECT_TRUE(d.discovery.verdict().cutShort);

    // Given the time, the same line is found whole and says nothing more.
    d.timeout = 100;
    d.log.lines.clear();
    d.discovery.Run();
    EXPECT_EQ(d.table.deviceCount, 12);
    EXPECT_EQ(d.log.count(kCutShort), 0);
    EXPECT_EQ(d.log.lines.back().rfind("Обнаружение завершено за ", 0), 0u);
}

TEST(Discovery, ADeviceThatNeverAcknowledgesItsMuteHidesNoOther)
{
    DiscoveryRig d;
    constexpr Uid kBroken = 0x7FF0FFFF0000ull;
    d.add(kBroken).faults.ignoreMute = true;
    std::vector<Uid> good;
    for (uint32_t i = 0; i < 4; ++i)
        good.push_back(d.add(MakeUid(0x7FF0, 0x4000 - i * 0x0FED)).uid());
    // One more on each side of the broken UID's neighbours.
    good.push_back(d.add(kBroken + 1).uid());
    good.insert(good.begin(), d.add(0xFFFFFFFFFFF0ull).uid());
    const uint32_t start = d.clock.tickMs();
    d.discovery.Run();
    const uint32_t took = d.clock.tickMs() - start;
    std::vector<Uid> found = d.found(), expected = good;
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    EXPECT_LT(took, 8000u) << "well within the 10 s time-out";
    EXPECT_EQ(d.log.count("Устройство 0x7FF0FFFF0000 не подтверждает Mute: оно исключено из этого обнаружения."), 1);
    EXPECT_EQ(d.log.count("Mute 0x7FF0FFFF0000"), Discovery::kMuteAttempts);
    // The summary, then the verdict: one device was set aside.
    ASSERT_GE(d.log.lines.size(), 2u);
    EXPECT_NE(d.log.lines.end()[-2].find("Найдено 6 RDM устройств."), std::string::npos);
    EXPECT_EQ(d.log.lines.back().rfind("Обнаружение неполное: ", 0), 0u);
    EXPECT_EQ(d.discovery.verdict().setAside, 1);
    // No branch after the third failed mute covers the excluded UID.
    int mutes = 0, branchesAfter = 0;
    for (const auto& r : d.line.requests()) {
        if (r.decoded.pid == rdm::DISC_MUTE && r.decoded.destination == kBroken)
            ++mutes;
        if (mutes == Discovery::kMuteAttempts && r.decoded.pid == rdm::DISC_UNIQUE_BRANCH) {
            ++branchesAfter;
            const Uid lower = ReadUid(r.decoded.data.data()), upper = ReadUid(r.decoded.data.data() + 6);
            EXPECT_FALSE(lower <= kBroken && kBroken <= upper) << std::hex << lower << ".." << upper;
        }
    }
    EXPECT_GT(branchesAfter, 0);
}

TEST(Discovery, FaultyRepliesCountAsCollisionsAndHealthyDevicesAreStillFound)
{
    DiscoveryRig d;
    d.timeout = 3;
    d.add(0x7FF000000100ull).faults.badChecksum = true;
    d.add(0x7FF000000200ull).faults.truncated = true;
    d.add(0x7FF000000300ull);
    d.discovery.Run();
    EXPECT_EQ(d.found(), std::vector<Uid>{0x7FF000000300ull});
}

TEST(Discovery, FailedUnMuteChangesNothing)
{
    DiscoveryRig d;
    d.rows = {"keep"};
    d.table.deviceCount = 5;
    d.port.PortClose();
    d.discovery.Run();
    EXPECT_EQ(d.rows, std::vector<std::string>{"keep"});
    EXPECT_EQ(d.table.deviceCount, 5);
    EXPECT_EQ(d.log.lines, (std::vector<std::string>{"UnMute 0xFFFFFFFFFFFF", "Ошибка при отправке RDM сообщения"}));
    EXPECT_EQ(d.stops, 1);
    EXPECT_EQ(d.resumes, 0);
}

TEST(BranchReply, SeparatorRangeAndChecksumRules)
{
    auto judge = [](std::vector<uint8_t> bytes, Uid lo, Uid hi, Uid& found) {
        bytes.resize(40, 0x55);
        return rdm::JudgeBranchReply(bytes.data(), lo, hi, found);
    };
    Uid found = 0;
    const Uid uid = 0x7FF000000010ull;
    std::vector<uint8_t> clean = rdm::EncodeDiscoveryReply(uid, 7);
    EXPECT_EQ(judge(clean, 0, 0xFFFFFFFFFFFEull, found), BranchSingle);
    EXPECT_EQ(found, uid);
    EXPECT_EQ(judge(clean, uid, uid, found), BranchSingle);
    EXPECT_EQ(judge(clean, uid + 1, 0xFFFFFFFFFFFEull, found), BranchCollision);
    EXPECT_EQ(judge(clean, 0, uid - 1, found), BranchCollision);

    // A separator first met at byte 15 does not count.
    std::vector<uint8_t> late(15, 0xFE);
    std::vector<uint8_t> tail = rdm::EncodeDiscoveryReply(uid, 0);
    late.insert(late.end(), tail.begin(), tail.end());
    EXPECT_EQ(judge(late, 0, 0xFFFFFFFFFFFEull, found), BranchCollision);
    // Nothing but the fill is silence.
    EXPECT_EQ(judge({}, 0, 0xFFFFFFFFFFFEull, found), BranchSilent);
    EXPECT_EQ(judge({0x55, 0x00}, 0, 0xFFFFFFFFFFFEull, found), BranchCollision);
}

TEST(Discovery, SummaryUsesOneDecimalAndAPoint)
{
    EXPECT_EQ(Discovery::SummaryText(2345, 3), "Обнаружение завершено за 2.3 с. Найдено 3 RDM устройств.");
    EXPECT_EQ(Discovery::SummaryText(0, 0), "Обнаружение завершено за 0.0 с. Найдено 0 RDM устройств.");
}

TEST(Discovery, SecondRunStartsTheListAgain)
{
    DiscoveryRig d;
    d.add(0x7FF000000001ull);
    d.discovery.Run();
    d.line.responders().clear();
    d.add(0x7FF000000009ull);
    d.discovery.Run();
    EXPECT_EQ(d.rows, std::vector<std::string>{"7FF000000009"});
    EXPECT_EQ(d.table.entries[0].uid, 0x7FF000000009ull);
}

TEST(Discovery, OverARealPseudoTerminalInRealTime)
{
    PtyHarness h;
    for (Uid u : {0x7FF000000001ull, 0x7FF000000002ull, 0x7FF0DEADBEEFull})
        h.line.add(u, rig::DimmerPackModel());
    ASSERT_TRUE(h.serveLine());
    DeviceTable table;
    std::vector<std::string> rows;
    Discovery discovery(h.engine, table,
                        DiscoveryHooks{[] {}, [] {}, [&] { rows.clear(); },
                                       [&](Uid uid) { rows.push_back(UidListText(uid)); }, [] { return 10; }});
    discovery.Run();
    EXPECT_EQ(rows, (std::vector<std::string>{"7FF0DEADBEEF", "7FF000000002", "7FF000000001"}));
}

TEST(DiscoveryTree, OneDeviceCostsWhatTheHalvingCosts)
{
    DiscoveryRig d;
    d.discovery.search = Discovery::Search::Tree;
    d.add(0x7FF012345678ull);
    d.discovery.Run();
    EXPECT_EQ(d.found(), std::vector<Uid>{0x7FF012345678ull});
    // The un-mute, the whole range (one reply), the mute, and the whole range
    // silent twice.
    EXPECT_EQ(d.line.requests().size(), 5u);
}

TEST(DiscoveryTree, TwoDevicesInOppositeHalvesInTheTreesOrder)
{
    DiscoveryRig d;
    d.discovery.search = Discovery::Search::Tree;
    constexpr Uid kHigh = 0xC0DE00000001ull, kLow = 0x416400000002ull, kMid = 0x7FFFFFFFFFFFull;
    d.add(kLow);
    d.add(kHigh);
    d.discovery.Run();
    EXPECT_EQ(d.found(), (std::vector<Uid>{kHigh, kLow}));
    std::vector<std::pair<Uid, Uid>> branches;
    for (const auto& r : d.line.requests())
        if (r.decoded.pid == rdm::DISC_UNIQUE_BRANCH)
            branches.emplace_back(ReadUid(r.decoded.data.data()), ReadUid(r.decoded.data.data() + 6));
    // The whole range collides; the upper half isolates one device, is asked
    // again once it is muted, then the lower half the same; the whole range
    // is silent twice.
    const std::vector<std::pair<Uid, Uid>> expected = {
        {Discovery::kLowest, Discovery::kHighest}, {kMid + 1, Discovery::kHighest}, {kMid + 1, Discovery::kHighest},
        {Discovery::kLowest, kMid},                {Discovery::kLowest, kMid},      {Discovery::kLowest, Discovery::kHighest},
        {Discovery::kLowest, Discovery::kHighest}};
    EXPECT_EQ(branches, expected);
}

TEST(DiscoveryTree, FindsWhatTheHalvingFindsInTheSameOrder)
{
    std::mt19937 random(7);
    std::vector<Uid> spread, consecutive;
    for (int i = 0; i < 33; ++i) {
        spread.push_back(MakeUid(uint16_t(random()), uint32_t(random())));
        consecutive.push_back(MakeUid(0x7FF0, 0x00001000u + uint32_t(i)));
    }
    for (const auto* uids : {&spread, &consecutive})
        for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro}) {
            SCOPED_TRACE(kind);
            DiscoveryRig d(kind);
            d.timeout = 100;
            d.engine.setFastExchange(true);
            d.discovery.search = Discovery::Search::Tree;
            for (Uid u : *uids)
                d.add(u);
            d.discovery.Run();
            std::vector<Uid> expected = *uids;
            std::sort(expected.rbegin(), expected.rend());
            EXPECT_EQ(d.found(), expected);
            int branches = 0;
            for (const auto& r : d.line.requests())
                branches += r.decoded.pid == rdm::DISC_UNIQUE_BRANCH;
            EXPECT_LT(branches, 8 * 33) << "fewer than 8 branches a device";
        }
}
