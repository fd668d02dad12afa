#include "harness.h"
#include "link/posix_serial.h"
#include "rig/fixtures.h"

#include <asm/termbits.h>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>


namespace {

struct Pty {
    int master = -1;
    std::string slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        slave = ptsname(master);
    }
    ~Pty() { ::close(master); }
    std::vector<uint8_t> drain()
    {
        std::vector<uint8_t> out;
        fcntl(master, F_SETFL, O_NONBLOCK);
        uint8_t b[4096];
        ssize_t n;
        while ((n = ::read(master, b, sizeof b)) > 0)
            out.insert(out.end(), b, b + n);
        return out;
    }
};

double ElapsedMs(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

TEST(PosixPort, OpensAPseudoTerminalWithTheDmxLineSettings)
{
    Pty pty;
    PtyHarness h;
    ASSERT_TRUE(h.openPort(pty.slave));
    PosixSerial& serial = h.serial;
    InterfacePort& port = h.port;
    termios2 tio{};
    ASSERT_EQ(ioctl(port.comHandle(), TCGETS2, &tio), 0);
    EXPECT_EQ(tio.c_ospeed, 250000u);
    EXPECT_EQ(tio.c_cflag & CSIZE, unsigned(CS8));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & PARENB);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF));
    EXPECT_EQ(port.timeouts().readInterval, 1u);

    // Exclusive: a second open of the same device is refused, by the lock alone:
    // the terminal's exclusive mode, which outlives the close on a pseudo-terminal
    // and which only root may pass, is not set there.
    EXPECT_EQ(serial.open(pty.slave.c_str()), SerialApi::kInvalidHandle);
    int exclusive = 1;
    ASSERT_EQ(ioctl(port.comHandle(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);

    const uint8_t bytes[3] = {0xCC, 0x01, 0x18};
    port.PortBreak();
    port.PortPurge();
    EXPECT_EQ(port.PortWrite(bytes, 3), 3);
    EXPECT_EQ(pty.drain(), std::vector<uint8_t>(bytes, bytes + 3));
    port.PortClose();
    EXPECT_EQ(port.comHandle(), SerialApi::kInvalidHandle);
    port.PortClose();  // closing twice does nothing
    // Opened again, and again, as any user opens a line run after run.
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(port.PortOpen(), 1) << "run " << run;
        port.PortClose();
    }
}

TEST(PosixPort, ReadTimeOutsFollowTheComRules)
{
    Pty pty;
    PtyHarness h;
    ASSERT_TRUE(h.openPort(pty.slave));
    InterfacePort& port = h.port;
    uint8_t buffer[200];

    // Nothing on the line: 0 bytes after about count + 1 ms, not an error.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.PortRead(buffer, 40), 0);
    double took = ElapsedMs(start);
    EXPECT_GE(took, 39.0);
    EXPECT_LT(took, 150.0);

    // A waiting reply is read at once: the interval rule ends the read after it.
    uint8_t reply[30];
    for (int i = 0; i < 30; ++i)
        reply[i] = uint8_t(i);
    ASSERT_EQ(::write(pty.master, reply, 30), 30);
    usleep(5000);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.PortRead(buffer, 200), 30);
    EXPECT_LT(ElapsedMs(start), 40.0);
    EXPECT_EQ(buffer[29], 29);

    // Purge throws away what waits.
    ASSERT_EQ(::write(pty.master, reply, 10), 10);
    usleep(5000);
    port.PortPurge();
    EXPECT_EQ(port.PortRead(buffer, 5), 0);
}

TEST(PosixPort, WriteThatCannotFinishReturnsThePartialCount)
{
    Pty pty;
    PtyHarness h;
    ASSERT_TRUE(h.openPort(pty.slave));
    PosixSerial& serial = h.serial;
    InterfacePort& port = h.port;
    // Nobody reads the master: the pty's buffer fills and the write time-out ends it
    // (a short constant here; the port's own 1 ms per byte would take minutes).
    serial.applyTimeouts(port.comHandle(), SerialTimeouts{1, 1, 1, 0, 50});
    std::vector<uint8_t> big(200000, 0x55);
    int written = port.PortWrite(big.data(), int(big.size()));
    EXPECT_GT(written, 0);
    EXPECT_LT(written, int(big.size()));
}

TEST(PosixPort, EmptyPathAndMissingDeviceFailWithoutAHandle)
{
    PosixSerial serial;
    rig::RigD2xx d2xx;
    InterfacePort port(serial, d2xx);
    port.PortInit();
    EXPECT_EQ(port.PortOpen(), 0);
    port.setDevicePath("/dev/does-not-exist-vantrell");
    EXPECT_EQ(port.PortOpen(), 0);
    EXPECT_EQ(port.comHandle(), SerialApi::kInvalidHandle);
    uint8_t b = 0;
    EXPECT_EQ(port.PortWrite(&b, 1), 0);
    EXPECT_EQ(port.PortRead(&b, 1), -1);
}

TEST(PortKinds, RejectedLineSettingsOrTimeoutsLeaveThePortClosed)
{
    RigHarness h;
    h.port.PortClose();
    h.serial.rejectSettings = true;
    EXPECT_EQ(h.port.PortOpen(), 0);
    EXPECT_EQ(h.serial.openHandles(), 0);
    h.serial.rejectSettings = false;
    h.serial.rejectTimeouts = true;
    EXPECT_EQ(h.port.PortOpen(), 0);
    EXPECT_EQ(h.serial.openHandles(), 0);
    EXPECT_EQ(h.port.comHandle(), SerialApi::kInvalidHandle);
    h.serial.rejectTimeouts = false;
    EXPECT_EQ(h.port.PortOpen(), 1);
    const SerialLineSettings& s = h.serial.lastSettings;
    EXPECT_EQ(s.baudRate, 250000u);
    EXPECT_EQ(s.stopBits, 2);
    EXPECT_FALSE(s.dtrOn || s.rtsOn || s.hardwareFlow || s.softwareFlow || s.parity);
    EXPECT_EQ(h.serial.lastTimeouts.readTotalMultiplier, 1u);
    EXPECT_EQ(h.serial.lastTimeouts.writeTotalConstant, 1u);
}

TEST(PortKinds, BothFtdiKindsOpenWithTheSameCallsInOrder)
{
    for (int kind : {KindTalvern, KindEnttecUsbPro}) {
        RigHarness h(KindStandardVcp);
        h.port.PortClose();
        h.d2xx.calls.clear();
        h.port.setKind(int8_t(kind));
        h.port.setDeviceIndex(1);
        ASSERT_EQ(h.port.PortOpen(), 1);
        const std::vector<std::string> expected = {
            "FT_Open 1", "FT_ResetDevice", "FT_SetBaudRate 250000", "FT_SetDataCharacteristics 8 2 0",
            "FT_SetFlowControl 0 0 0", "FT_Purge 1", "FT_Purge 2", "FT_SetTimeouts 50 50"};
        EXPECT_EQ(h.d2xx.calls, expected) << "kind " << kind;
    }
}

TEST(PortKinds, BreakAndPurgeByKind)
{
    RigHarness h(KindTalvern);
    h.d2xx.calls.clear();
    h.port.PortBreak();
    h.port.PortPurge();
    EXPECT_EQ(h.d2xx.calls, (std::vector<std::string>{"FT_SetBreakOn", "FT_SetBreakOff", "FT_Purge 1", "FT_Purge 2"}));
    ASSERT_TRUE(h.connect(KindEnttecUsbPro));
    h.d2xx.calls.clear();
    h.port.PortBreak();
    h.port.PortPurge();
    EXPECT_TRUE(h.d2xx.calls.empty());
    // A closed D2XX port reads nothing but never reports -1.
    h.port.PortClose();
    uint8_t b;
    EXPECT_EQ(h.port.PortRead(&b, 1), 0);
    EXPECT_EQ(h.port.PortWrite(&b, 1), 0);
}

TEST(PortKinds, ChangingKindThenClosingClosesTheOldDevice)
{
    RigHarness h(KindTalvern);
    EXPECT_EQ(h.d2xx.openCount(), 1);
    h.port.setKind(KindStandardVcp);
    h.port.PortClose();
    EXPECT_EQ(h.d2xx.openCount(), 0);
    EXPECT_EQ(h.port.ftHandle(), nullptr);
}

TEST(PortKinds, UnknownKindDoesNothingAndFails)
{
    RigHarness h;
    h.port.PortClose();
    h.port.setKind(5);
    EXPECT_EQ(h.port.PortOpen(), 0);
    uint8_t b = 0;
    EXPECT_EQ(h.port.PortWrite(&b, 1), 0);
    EXPECT_EQ(h.port.PortRead(&b, 1), -1);
}

TEST(SerialLine, ThePseudoTerminalCarriesTheDmxLineSettingsAndPassesEveryByte)
{
    Pty pty;
    PtyHarness h;
    ASSERT_TRUE(h.openPort(pty.slave));
    // Read back on the far side: what the tty layer actually applies.
    termios2 tio{};
    ASSERT_EQ(ioctl(pty.master, TCGETS2, &tio), 0);
    EXPECT_EQ(tio.c_cflag & CBAUD, unsigned(BOTHER));
    EXPECT_EQ(tio.c_ospeed, 250000u);
    EXPECT_EQ(tio.c_ispeed, 250000u);
    EXPECT_EQ(tio.c_cflag & CSIZE, unsigned(CS8));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & (PARENB | CRTSCTS));
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_EQ(tio.c_iflag & (IGNBRK | BRKINT | PARMRK | ISTRIP | INPCK | IXON | IXOFF), 0u)
        << "a break must read as one 0x00, and no byte may be changed or eaten";
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));

    // Bytes that a cooked or flow-controlled line would alter or swallow.
    const uint8_t tricky[] = {0x00, 0xCC, 0x0D, 0x0A, 0x11, 0x13, 0xFF, 0x03, 0x7F};
    ASSERT_EQ(::write(pty.master, tricky, sizeof tricky), ssize_t(sizeof tricky));
    usleep(5000);
    uint8_t got[32] = {};
    ASSERT_EQ(h.port.PortRead(got, int(sizeof got)), int(sizeof tricky));
    EXPECT_TRUE(std::equal(tricky, tricky + sizeof tricky, got));
}

TEST(SerialLine, ADeviceThatRefusesLowLatencyIsUsedAsItIs)
{
    Pty pty;
    PtyHarness h;
    ASSERT_TRUE(h.openPort(pty.slave)) << "the open does not depend on it";
    EXPECT_FALSE(h.serial.requestLowLatency(h.port.comHandle())) << "a pseudo-terminal has no serial driver";
}

TEST(SerialLine, RepliesAreReadWithAndWithoutTheBreakByte)
{
    for (bool breakBytes : {true, false}) {
        PtyHarness h;
        h.line.add(0x7FF000000001ull, rig::DimmerPackModel());
        h.pty.breakBytes = breakBytes;
        ASSERT_TRUE(h.serveLine());
        EXPECT_EQ(Transact(h.engine, 0x7FF000000001ull, rdm::GET_COMMAND, rdm::DEVICE_INFO), TxAck) << "break byte: " << breakBytes;
        EXPECT_EQ(LastReply().data.pdl, 19);
        EXPECT_EQ(h.log.count(status_text::kNoResponse), 0);
    }
}
