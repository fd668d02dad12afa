// The D2XX layer against the rules of libftdi and libusb, through the fake library.
#include "fake_ftdi/ftdi_fixture.h"
#include "rig/fixtures.h"

#include <ftdi.h>

namespace {

constexpr Uid kHead = 0x7FF000000001ull;

TxResult GetDeviceInfo(FtdiHarness& h)
{
    return Transact(h.engine, kHead, rdm::GET_COMMAND, rdm::DEVICE_INFO);
}

} // namespace

TEST(FtdiContract, ListingLeavesKernelBoundDevicesAloneAndGivesThemNoRow)
{
    FtdiHarness h;
    fakeftdi::Chip& held = h.add(rig::FtdiMode::Raw, "HELDBYSIO");
    held.boundToSio = true;
    h.add(rig::FtdiMode::Raw, "FREE0001");
    h.add(rig::FtdiMode::Widget, "FREE0002");

    std::vector<InterfaceEntry> rows;
    FtSearch(h.d2xx, rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].text, "Device_1 S/N: FREE0001");
    EXPECT_EQ(rows[0].deviceNumber, 1);
    EXPECT_EQ(rows[1].text, "Device_2 S/N: FREE0002");
    EXPECT_TRUE(held.boundToSio) << "the serial port another program may use stays with the kernel";
    EXPECT_FALSE(held.takenFromSio);
    EXPECT_EQ(h.fake.bus.liveContexts(), 0) << "listing leaves no context behind";
}

TEST(FtdiContract, AnOpenDeviceKeepsTheContextThatFoundItUntilClosed)
{
    FtdiHarness h;
    h.add(rig::FtdiMode::Raw, "A");
    fakeftdi::Chip& chip = h.add(rig::FtdiMode::Raw, "B");
    ASSERT_TRUE(h.connect(KindTalvern, 1));
    EXPECT_NE(chip.openBy, nullptr);
    EXPECT_EQ(h.fake.bus.liveContexts(), 1);

    // Everything the D2XX calls set, as the chip saw it.
    EXPECT_EQ(chip.latencyMs, 1);
    EXPECT_EQ(chip.resets, 1);
    EXPECT_EQ(chip.baudrate, 250000);
    EXPECT_EQ(chip.bits, BITS_8);
    EXPECT_EQ(chip.stopBits, STOP_BIT_2);
    EXPECT_EQ(chip.parity, NONE);
    EXPECT_EQ(chip.flowControl, SIO_DISABLE_FLOW_CTRL);
    EXPECT_GE(chip.receivePurges, 1);
    EXPECT_GE(chip.transmitPurges, 1);

    char serial[16] = {};
    char description[64] = {};
    DWORD type = 0, id = 0;
    EXPECT_EQ(h.d2xx.FT_GetDeviceInfo(h.port.ftHandle(), &type, &id, serial, description, nullptr), FT_OK);
    EXPECT_STREQ(serial, "B");

    // Further calls on the handle work through the context that is still alive.
    h.port.PortBreak();
    EXPECT_EQ(chip.breaks, 1);
    EXPECT_FALSE(chip.breakOn);

    h.port.PortClose();
    EXPECT_EQ(chip.openBy, nullptr);
    EXPECT_EQ(h.fake.bus.liveContexts(), 0);
    h.port.PortClose();
}

TEST(FtdiContract, ReadKeepsTheBytesThatCameBeforeAFailure)
{
    FtdiHarness h;
    fakeftdi::Chip& chip = h.add(rig::FtdiMode::Raw, "A");
    ASSERT_TRUE(h.connect(KindTalvern, 0));
    std::vector<uint8_t> sent(30);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = uint8_t(0xA0 + i);
    chip.model.rx().add({h.clock.nowUs(), sent}, 0);
    chip.readChunk = 10;
    chip.failReadAfter = 25;

    uint8_t buffer[40] = {};
    DWORD got = 0;
    EXPECT_EQ(h.d2xx.FT_Read(h.port.ftHandle(), buffer, 40, &got), FT_IO_ERROR);
    ASSERT_EQ(got, 25u);
    EXPECT_TRUE(std::equal(buffer, buffer + 25, sent.begin()));

    // A failure before any byte is a read error, not a quiet line.
    chip.failReadAfter = 0;
    EXPECT_EQ(h.port.PortRead(buffer, 5), -1);
    // The rest of what waited is still there.
    EXPECT_EQ(h.port.PortRead(buffer, 5), 5);
    EXPECT_EQ(buffer[0], sent[25]);
}

TEST(FtdiContract, AFailedStepOfOpeningLeavesThePortClosed)
{
    const char* steps[] = {"ftdi_set_latency_timer", "ftdi_usb_reset",   "ftdi_set_baudrate", "ftdi_set_line_property",
                           "ftdi_setflowctrl",       "ftdi_tciflush",    "ftdi_tcoflush"};
    for (int kind : {KindTalvern, KindEnttecUsbPro})
        for (const char* step : steps) {
            FtdiHarness h;
            fakeftdi::Chip& chip = h.add(kind == KindTalvern ? rig::FtdiMode::Raw : rig::FtdiMode::Widget, "A");
            chip.failCall = step;
            EXPECT_FALSE(h.connect(kind, 0)) << step;
            EXPECT_EQ(h.port.ftHandle(), nullptr) << step;
            EXPECT_EQ(chip.openBy, nullptr) << step;
            EXPECT_EQ(h.fake.bus.liveContexts(), 0) << step;
            EXPECT_TRUE(h.connect(kind, 0)) << "the next connect works: " << step;
        }

    // A device that another program has claimed cannot be opened.
    FtdiHarness h;
    h.add(rig::FtdiMode::Raw, "A");
    FtdiD2xx other(h.clock);
    FT_HANDLE theirs = nullptr;
    ASSERT_EQ(other.FT_Open(0, &theirs), FT_OK);
    EXPECT_FALSE(h.connect(KindTalvern, 0));
    other.FT_Close(theirs);
    EXPECT_TRUE(h.connect(KindTalvern, 0));
}

TEST(FtdiContract, RepliesComeThroughInChunksOnBothKinds)
{
    for (rig::FtdiMode mode : {rig::FtdiMode::Raw, rig::FtdiMode::Widget}) {
        FtdiHarness h;
        h.line.add(kHead, rig::MovingHeadModel());
        fakeftdi::Chip& chip = h.add(mode, "A");
        chip.readChunk = 7;
        ASSERT_TRUE(h.connect(mode == rig::FtdiMode::Raw ? KindTalvern : KindEnttecUsbPro, 0));
        EXPECT_EQ(GetDeviceInfo(h), TxAck);
        EXPECT_EQ(chip.breaks, mode == rig::FtdiMode::Raw ? 1 : 0) << "the widget makes its own break";
        EXPECT_EQ(LastReply().pid, rdm::DEVICE_INFO);
    }
}

TEST(FtdiContract, TalvernReplyWithAndWithoutTheBreakByte)
{
    for (bool reported : {true, false}) {
        FtdiHarness h;
        h.line.add(kHead, rig::MovingHeadModel());
        fakeftdi::Chip& chip = h.add(rig::FtdiMode::Raw, "A");
        chip.model.breaksReported = reported;
        ASSERT_TRUE(h.connect(KindTalvern, 0));
        EXPECT_EQ(GetDeviceInfo(h), TxAck) << "break byte reported: " << reported;
        EXPECT_EQ(LastReply().pid, rdm::DEVICE_INFO);
    }
}

TEST(FtdiContract, UnpluggedMidExchangeFailsCleanlyAndReconnects)
{
    for (int kind : {KindTalvern, KindEnttecUsbPro}) {
        FtdiHarness h;
        h.line.add(kHead, rig::MovingHeadModel());
        fakeftdi::Chip& chip = h.add(kind == KindTalvern ? rig::FtdiMode::Raw : rig::FtdiMode::Widget, "A");
        ASSERT_TRUE(h.connect(kind, 0));

        // Pulled after the request went out, while the reply is read.
        h.line.onRequest = [&](const rig::RecordedRequest&) { h.fake.bus.unplug(chip); };
        EXPECT_EQ(GetDeviceInfo(h), TxFailed) << kind;
        h.line.onRequest = nullptr;
        EXPECT_EQ(h.log.count(status_text::kNoResponse), 0);

        // Gone before the request: the write fails with the Part's line.
        EXPECT_EQ(GetDeviceInfo(h), TxFailed);
        EXPECT_EQ(h.log.count(status_text::kSendError), 1);

        // Closing a vanished device is safe; it cannot be opened until it is back.
        h.port.PortClose();
        EXPECT_FALSE(h.connect(kind, 0));
        h.fake.bus.replug(chip);
        ASSERT_TRUE(h.connect(kind, 0));
        EXPECT_EQ(GetDeviceInfo(h), TxAck);
        h.port.PortClose();
        EXPECT_EQ(h.fake.bus.liveContexts(), 0);
    }
}

TEST(FtdiContract, WidgetMessagesLeftFromAnEarlierRequestAreDroppedBeforeTheNext)
{
    FtdiHarness h;
    fakeftdi::Chip& chip = h.add(rig::FtdiMode::Widget, "PRO1");
    chip.model.listenUs = 1000000;  // passes on replies long after the controller stopped waiting
    h.line.add(0x7FF000000009ull, rig::LedParModel()).faults.lateMs = 150;
    h.line.add(kHead, rig::MovingHeadModel());
    ASSERT_TRUE(h.connect(KindEnttecUsbPro, 0));
    EXPECT_EQ(Transact(h.engine, 0x7FF000000009ull, rdm::GET_COMMAND, rdm::DEVICE_INFO), TxNoResponse);
    h.clock.sleepMs(500);

    // Queue status reads ahead; what it held comes out of the next read, in order.
    DWORD waiting = 0;
    ASSERT_EQ(h.d2xx.FT_GetQueueStatus(h.port.ftHandle(), &waiting), FT_OK);
    EXPECT_GT(waiting, 20u) << "the late reply waits";
    uint8_t first = 0;
    DWORD n = 0;
    ASSERT_EQ(h.d2xx.FT_Read(h.port.ftHandle(), &first, 1, &n), FT_OK);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(first, widget::kStart);

    ASSERT_EQ(GetDeviceInfo(h), TxAck);
    EXPECT_EQ(LastReply().source, kHead);
}
