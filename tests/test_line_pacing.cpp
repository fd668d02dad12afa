// The rig's paced line: packets at 250000 baud after their breaks, replies after
// each responder's own turnaround, one packet on the line at a time.
#include "harness.h"
#include "rdm/line_timing.h"
#include "rig/fixtures.h"
#include "rig/rig_file.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace rdm;
using namespace line_timing;

namespace {

constexpr Uid kDevice = 0x7FF012345678ull;

TxResult Get(RdmEngine& engine, Uid uid, uint16_t pid)
{
    return Transact(engine, uid, GET_COMMAND, pid);
}

} // namespace

TEST(PacedLine, AFastGetTakesExactlyItsLineTime)
{
    for (uint32_t turnaround : {176u, 900u, 2000u}) {
        RigHarness h;
        h.line.paced = true;
        h.engine.setFastExchange(true);
        rig::Responder& r = h.line.add(kDevice, rig::LedParModel());
        r.turnaroundUs = turnaround;
        r.startAddress = 300;
        const uint64_t start = h.clock.nowUs();
        ASSERT_EQ(Get(h.engine, kDevice, DMX_START_ADDRESS), TxAck);
        EXPECT_EQ(LastReply().data.be16(0), 300);
        // The request's 26 slots, the turnaround, and the 28-slot reply after its
        // break: the read returns the moment the last slot is in.
        EXPECT_EQ(h.clock.nowUs() - start, PacketUs(26) + turnaround + PacketUs(28)) << turnaround;
    }
}

TEST(PacedLine, RepliesToOneBranchOverlapFromTheQuickestResponder)
{
    VirtualClock clock;
    rig::VirtualLine line(clock);
    line.paced = true;
    line.add(0x7FF000000001ull, rig::LedParModel()).turnaroundUs = 700;
    line.add(0x7FF000000002ull, rig::LedParModel()).turnaroundUs = 300;
    uint8_t bounds[12];
    WriteUid(0, bounds);
    WriteUid(kBroadcastUid - 1, bounds + 6);
    uint8_t request[kMaxMessageSize];
    const int size = int(Encode(RdmRequest(kBroadcastUid, DISCOVERY_COMMAND, DISC_UNIQUE_BRANCH, bounds, 12), request));
    uint64_t end = 0;
    auto replies = line.transmit(request, size_t(size), 1000, false, 0, &end);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(end, 1000 + PacketUs(size));
    EXPECT_EQ(replies[0].startUs, end + 300);  // no break ahead of a discovery reply
    EXPECT_TRUE(line.replies()[0].collision);
}

TEST(PacedLine, PacketsWaitForTheLineAndFramesTakeTheirLength)
{
    VirtualClock clock;
    rig::VirtualLine line(clock);
    line.paced = true;
    std::vector<uint8_t> frame(513, 0);
    // Handed over every 20 ms, a little faster than a 513-slot frame can go: each
    // waits for the one before it (one frame behind is as far as the line holds).
    for (int i = 0; i < 4; ++i)
        line.transmit(frame.data(), frame.size(), uint64_t(i) * 20000, false);
    const auto frames = line.frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(line.frameCount(), 4u);
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].timeUs - frames[i - 1].timeUs, PacketUs(513));
    EXPECT_GT(PacketUs(513), 22600u);

    // A long-running rig keeps only recent records, but counts every frame.
    line.recordLimit = 8;
    for (int i = 0; i < 20; ++i)
        line.transmit(frame.data(), frame.size(), 200000 + uint64_t(i) * 25000, false);
    EXPECT_LE(line.frames().size(), 8u);
    EXPECT_EQ(line.frameCount(), 24u);
    EXPECT_EQ(line.framesDropped(), 0u);
}

TEST(PacedLine, UnpacedLineKeepsItsShortFixedTurnaround)
{
    RigHarness h;
    h.line.add(kDevice, rig::LedParModel()).turnaroundUs = 2000;
    h.engine.setFastExchange(true);
    const uint64_t start = h.clock.nowUs();
    ASSERT_EQ(Get(h.engine, kDevice, DMX_START_ADDRESS), TxAck);
    EXPECT_EQ(h.clock.nowUs() - start, 26 * kByteUs + rig::kTurnaroundUs + 29 * kByteUs);
}

TEST(PacedLine, DefaultTurnaroundsStayWithinTheStandard)
{
    uint32_t lowest = UINT32_MAX, highest = 0;
    for (uint32_t i = 0; i < 2000; ++i) {
        const uint32_t t = rig::DefaultTurnaroundUs(MakeUid(0x7FF0, i * 7919));
        lowest = std::min(lowest, t);
        highest = std::max(highest, t);
    }
    EXPECT_GE(lowest, 176u);
    EXPECT_LE(highest, 2000u);
    EXPECT_GT(highest - lowest, 1000u) << "devices differ";
}

TEST(PacedLine, RigFilesSetATurnaroundAndRefuseOneOutOfRange)
{
    QTemporaryDir dir;
    const std::string good = dir.filePath("good.json").toStdString(), bad = dir.filePath("bad.json").toStdString();
    std::ofstream(good) << R"({"devices": [{"uid": "7FF0:00000001", "turnaroundUs": 1500}, {"uid": "7FF0:00000002"}]})";
    std::ofstream(bad) << R"({"devices": [{"turnaroundUs": -3}]})";
    VirtualClock clock;
    rig::VirtualLine line(clock);
    std::string name, error;
    ASSERT_TRUE(rig::LoadRigFile(good, line, name, error)) << error;
    EXPECT_EQ(line.find(0x7FF000000001ull)->turnaroundUs, 1500u);
    EXPECT_EQ(line.find(0x7FF000000002ull)->turnaroundUs, rig::DefaultTurnaroundUs(0x7FF000000002ull));
    rig::VirtualLine other(clock);
    EXPECT_FALSE(rig::LoadRigFile(bad, other, name, error));
    EXPECT_NE(error.find("turnaroundUs"), std::string::npos);
}

TEST(PacedLine, RigFilesSetTheLineFaults)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("faults.json").toStdString(), bad = dir.filePath("bad.json").toStdString();
    std::ofstream(path) << R"({"collisions": "or", "noise": {"everyMs": 200, "maxBytes": 6},
        "devices": [{"uid": "7FF0:00000001", "faults": {"loseFirst": 2, "loseShare": 0.5,
        "garbledDiscovery": true, "vanishAfter": 7, "vanishFor": 9, "twin": true, "undefinedResponseType": 255}}]})";
    std::ofstream(bad) << R"({"devices": [{"faults": {"loseShare": 1.5}}]})";
    VirtualClock clock;
    rig::VirtualLine line(clock);
    std::string name, error;
    ASSERT_TRUE(rig::LoadRigFile(path, line, name, error)) << error;
    ASSERT_EQ(line.responders().size(), 2u) << "the twin";
    for (auto& r : line.responders()) {
        EXPECT_EQ(r->uid(), 0x7FF000000001ull);
        EXPECT_EQ(r->faults.loseFirst, 2u);
        EXPECT_EQ(r->faults.loseShare, 0.5);
        EXPECT_TRUE(r->faults.garbledDiscovery);
        EXPECT_EQ(r->faults.vanishAfter, 7u);
        EXPECT_EQ(r->faults.vanishFor, 9u);
        EXPECT_EQ(r->faults.undefinedResponseType, 255);
    }
    EXPECT_EQ(line.combine, rig::Combine::Or);
    EXPECT_EQ(line.noise.everyUs, 200000u);
    EXPECT_EQ(line.noise.maxBytes, 6);
    rig::VirtualLine other(clock);
    EXPECT_FALSE(rig::LoadRigFile(bad, other, name, error));
    EXPECT_NE(error.find("loseShare"), std::string::npos);
    for (const char* wrong : {R"({"collisions": "xor", "devices": []})", R"({"noise": {"everyMs": 0}, "devices": []})",
                              R"({"devices": [{"faults": {"undefinedResponseType": 2}}]})"}) {
        std::ofstream(bad) << wrong;
        rig::VirtualLine another(clock);
        EXPECT_FALSE(rig::LoadRigFile(bad, another, name, error)) << wrong;
    }
}

TEST(PacedLine, RigFilesRefuseValuesOutsideTheirRangesNamingTheKey)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("rig.json").toStdString();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"startAddress": 0})", "startAddress"},
        {R"({"startAddress": 70000})", "startAddress"},
        {R"({"startAddress": 1.5})", "startAddress"},
        {R"({"startAddress": "1"})", "startAddress"},
        {R"({"personality": 300})", "personality"},
        {R"({"model": "dimmer", "personality": 9})", "personality"},
        {R"({"preamble": 8})", "preamble"},
        {R"({"faults": {"lateMs": -1}})", "lateMs"},
        {R"({"faults": {"vanishFor": 1e12}})", "vanishFor"},
        {R"({"uid": "FFFF:FFFFFFFF"})", "uid"},
        {R"({"model": "wash", "sensorValues": [40000]})", "sensorValues"},
        {R"({"status": [{"id": 70000}]})", "id"},
    };
    VirtualClock clock;
    std::string name, error;
    for (const auto& [device, key] : cases) {
        std::ofstream(path) << R"({"devices": [)" << device << "]}";
        rig::VirtualLine line(clock);
        EXPECT_FALSE(rig::LoadRigFile(path, line, name, error)) << device;
        EXPECT_NE(error.find(key), std::string::npos) << device << ": " << error;
    }
    // The cap on devices, said before any is made.
    std::string many = R"({"devices": [{})";
    for (int i = 0; i < rig::kMaxRigDevices; ++i)
        many += ", {}";
    std::ofstream(path) << many << "]}";
    rig::VirtualLine line(clock);
    EXPECT_FALSE(rig::LoadRigFile(path, line, name, error));
    EXPECT_NE(error.find("at most 1000 devices"), std::string::npos) << error;
}

TEST(PacedLine, OverAPtyWithASixteenMillisecondLatencyTimerBothProfilesAnswer)
{
    PtyHarness h;
    h.line.paced = true;
    h.pty.latencyUs = 16000;
    rig::Responder& r = h.line.add(kDevice, rig::DimmerPackModel());
    r.startAddress = 99;
    ASSERT_TRUE(h.serveLine());
    // The app cannot see a modelled latency timer on a pty; it is told.
    h.port.setLatencyOverrideUs(16000);
    for (bool fast : {true, false}) {
        h.engine.setFastExchange(fast);
        ASSERT_EQ(Get(h.engine, kDevice, DMX_START_ADDRESS), TxAck) << fast;
        EXPECT_EQ(LastReply().data.be16(0), 99);
    }
}
