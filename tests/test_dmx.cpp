#include "dmx/dmx_output.h"
#include "harness.h"
#include "rig/fixtures.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

TEST(DmxFrame, LengthsAndFramingByKind)
{
    for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro}) {
        RigHarness h(kind);
        uint16_t size = 0;
        DmxOutput dmx(h.port, size);
        dmx.ZeroUniverse();
        dmx.SetSlot(1, 200);
        dmx.SetSlot(512, 9);
        for (uint16_t n : {1, 24, 512, 600}) {
            size = n;
            ASSERT_NE(dmx.SendFrame(), 0);
            const rig::RecordedFrame f = h.line.frames().back();
            EXPECT_EQ(f.startCode, 0);
            EXPECT_EQ(f.slotCount, std::min<int>(n, 512)) << "kind " << kind;
            EXPECT_EQ(f.levels[0], 200);
        }
        EXPECT_EQ(h.line.frames().back().levels[511], 9);
        if (kind == KindEnttecUsbPro) {
            const auto& m = h.d2xx.widgetMessages.back();
            EXPECT_EQ(m.first, 6);
            EXPECT_EQ(m.second.size(), 513u);
        }
    }
}

TEST(DmxFrame, WidgetLengthBytes)
{
    RigHarness h(KindEnttecUsbPro);
    uint16_t size = 255;
    DmxOutput dmx(h.port, size);
    // The port sees one message of UniverseSize + 6 bytes; the rig decodes it.
    EXPECT_EQ(dmx.SendFrame(), 261);
    size = 1;
    EXPECT_EQ(dmx.SendFrame(), 7);
}

TEST(DmxFrame, ClosedPortFails)
{
    RigHarness h;
    h.port.PortClose();
    uint16_t size = 24;
    DmxOutput dmx(h.port, size);
    EXPECT_EQ(dmx.SendFrame(), 0);
}

TEST(HiResOutput, SendsEveryPeriodAndStopsItselfOnFailure)
{
    rig::VirtualLine line(SystemClock::instance());
    rig::RigSerial serial;
    rig::RigD2xx d2xx;
    serial.attach("/dev/rig", line);
    InterfacePort port(serial, d2xx);
    port.PortInit();
    port.setDevicePath("/dev/rig");
    ASSERT_EQ(port.PortOpen(), 1);
    uint16_t size = 24;
    DmxOutput dmx(port, size);
    std::atomic<int> failures{0};
    dmx.onHighResFailure = [&](const std::string& text) {
        EXPECT_EQ(text, "no Talvern widget found");
        ++failures;
    };
    dmx.DmxTimerStart(5);
    EXPECT_NE(dmx.dmxTimerId(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    dmx.DmxTimerStop();
    EXPECT_EQ(dmx.dmxTimerId(), 0u);
    const size_t frames = line.frames().size();
    EXPECT_GE(frames, 10u);
    EXPECT_LE(frames, 30u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(line.frames().size(), frames) << "no frame after the stop";

    serial.failWrites = true;
    dmx.DmxTimerStart(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(failures.load(), 1) << "one failure, then output stops";
    EXPECT_FALSE(dmx.timer().running());
    dmx.DmxTimerStop();
}

TEST(HiResOutput, FramesNeverInterleaveWithRdmRequests)
{
    rig::VirtualLine line(SystemClock::instance());
    rig::RigSerial serial;
    rig::RigD2xx d2xx;
    serial.attach("/dev/rig", line);
    InterfacePort port(serial, d2xx);
    RecordingLog log;
    RdmEngine engine(port, SystemClock::instance(), log);
    port.PortInit();
    port.setDevicePath("/dev/rig");
    ASSERT_EQ(port.PortOpen(), 1);
    engine.SetupRequestHeader();
    const Uid uid = 0x7FF000000101ull;
    line.add(uid, rig::LedParModel());
    uint16_t size = 512;
    DmxOutput dmx(port, size);
    dmx.DmxTimerStart(1);
    int acks = 0;
    for (int i = 0; i < 12; ++i) {
        acks += Transact(engine, uid, rdm::GET_COMMAND, rdm::DEVICE_INFO) == TxAck;
    }
    dmx.DmxTimerStop();
    EXPECT_EQ(acks, 12) << "every reply came back whole under a 1 ms DMX load";
    for (const rig::RecordedRequest& r : line.requests())
        EXPECT_TRUE(r.whole);
    for (const rig::RecordedFrame& f : line.frames()) {
        EXPECT_EQ(f.startCode, 0);
        EXPECT_EQ(f.slotCount, 512);
    }
    EXPECT_GE(line.frames().size(), 1u);
}

TEST(DmxFrame, FramesNeverLeaveFasterThanTheLineCarriesThem)
{
    // A period of 1 ms with 512 slots: each frame waits for the one before it to
    // have left the line (22.8 ms), so they go back to back and the rig drops none.
    RigHarness h;
    h.line.paced = true;
    uint16_t size = 512;
    DmxOutput dmx(h.port, size, h.clock);
    const uint64_t started = h.clock.nowUs();
    for (int i = 0; i < 10; ++i) {
        ASSERT_NE(dmx.SendFrame(), 0);
        h.clock.sleepUs(1000);  // the timer's next tick
    }
    EXPECT_GE(h.clock.nowUs() - started, 9 * DmxOutput::FrameUs(512));
    EXPECT_EQ(h.line.framesDropped(), 0u);
    EXPECT_EQ(h.line.frames().size(), 10u);
}

TEST(DmxFrame, TheRigDropsFramesItCannotCarry)
{
    // A controller without that floor: the paced rig keeps no queue of frames.
    RigHarness h;
    h.line.paced = true;
    std::vector<uint8_t> frame(513, 0);
    for (int i = 0; i < 10; ++i)
        h.line.transmit(frame.data(), frame.size(), h.clock.nowUs() + uint64_t(i) * 1000, true);
    EXPECT_GE(h.line.framesDropped(), 7u);
    EXPECT_LE(h.line.frames().size(), 3u);
}
