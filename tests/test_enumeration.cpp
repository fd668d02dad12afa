#include "link/enumeration.h"
#include "link/interface_kinds.h"
#include "rig/pty_line.h"
#include "rig/rig_d2xx.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

TEST(Enumeration, PublishedVirtualLinesFollowTheSystemDevices)
{
    QTemporaryDir runtime;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData(), 1);
    EXPECT_EQ(VirtualLinesFolder(), runtime.path().toStdString() + "/vantrell/lines");

    VirtualClock clock;
    rig::VirtualLine line(clock);
    rig::PtyLine a(line), b(line);
    std::string error;
    ASSERT_TRUE(a.open("truss-2", error)) << error;
    ASSERT_TRUE(b.open("truss-10", error)) << error;

    std::vector<InterfaceEntry> system;
    ListSystemSerialDevices(system);
    std::vector<InterfaceEntry> all;
    const int n = EnumComPorts(all);
    ASSERT_EQ(size_t(n), system.size() + 2);
    EXPECT_EQ(all[system.size()].text, "truss-2");
    EXPECT_EQ(all[system.size() + 1].text, "truss-10");
    EXPECT_EQ(all[system.size()].path, a.publishedPath());

    // A line whose rig has gone is no longer listed.
    b.stop();
    all.clear();
    EnumComPorts(all);
    EXPECT_EQ(all.size(), system.size() + 1);
    a.stop();

    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(VirtualLinesFolder().rfind("/tmp/vantrell-", 0), 0u);
    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

TEST(Enumeration, FtdiRowsKeepTheirDeviceNumbers)
{
    VirtualClock clock;
    rig::VirtualLine line(clock);
    rig::RigD2xx d2xx;
    d2xx.addDevice(line, rig::FtdiMode::Raw, "AAA1");
    d2xx.addDevice(line, rig::FtdiMode::Raw, "BBB2");
    d2xx.addDevice(line, rig::FtdiMode::Widget, "CCC3");
    d2xx.setOpenable(1, false);  // held by another program
    std::vector<InterfaceEntry> rows;
    FtSearch(d2xx, rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].text, "Device_0 S/N: AAA1");
    EXPECT_EQ(rows[1].text, "Device_2 S/N: CCC3");
    EXPECT_EQ(rows[1].deviceNumber, 2);
    EXPECT_EQ(d2xx.openCount(), 0);
    d2xx.failList = true;
    FtSearch(d2xx, rows);
    EXPECT_TRUE(rows.empty());
}

TEST(Enumeration, PhantomSerialPortsAreToldBySysfsWithoutOpeningAnyPort)
{
    // A tty class folder as the kernel lays it out; the device nodes do not
    // exist, so any attempt to open one to probe it would fail.
    QTemporaryDir sys;
    const std::string root = sys.path().toStdString();
    auto port = [&](const std::string& name, const char* type, bool serial8250) {
        const std::string folder = root + "/" + name;
        QDir().mkpath(QString::fromStdString(folder + "/device-target"));
        ASSERT_EQ(symlink((folder + "/device-target").c_str(), (folder + "/device").c_str()), 0);
        if (serial8250) {
            ASSERT_EQ(symlink("../../bus/platform/drivers/serial8250", (folder + "/device-target/driver").c_str()), 0);
        }
        if (type)
            std::ofstream(folder + "/type") << type << "\n";
    };
    port("ttyS0", "4", true);   // a 16550A that is there
    port("ttyS1", "0", true);   // a placeholder
    port("ttyS10", "4", true);
    port("ttyUSB0", nullptr, false);  // USB serial has no UART type
    QDir().mkpath(QString::fromStdString(root + "/tty0"));  // a console: no device

    std::vector<InterfaceEntry> rows;
    ListSerialDevicesIn(root, "/nonexistent", rows);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, "ttyS0");
    EXPECT_EQ(rows[0].path, "/nonexistent/ttyS0");
    EXPECT_EQ(rows[1].text, "ttyS10");
    EXPECT_EQ(rows[2].text, "ttyUSB0");
}

TEST(InterfaceKinds, TokensNamesAndTheChoiceOfARow)
{
    for (const InterfaceKindInfo& k : kInterfaceKinds) {
        EXPECT_EQ(ParseInterfaceKind(k.token), k.kind);
        EXPECT_EQ(ParseInterfaceKind(std::to_string(k.kind)), k.kind);
    }
    EXPECT_EQ(ParseInterfaceKind("enttec"), KindEnttecUsbPro);
    EXPECT_EQ(ParseInterfaceKind("4"), -1);
    EXPECT_EQ(ParseInterfaceKind("VCP"), -1);
    EXPECT_STREQ(InterfaceKindName(KindTalvern), "Talvern");
    EXPECT_STREQ(InterfaceKindName(7), "?");

    std::vector<InterfaceEntry> serial{{"ttyUSB0", "/dev/ttyUSB0", 0}, {"rig", "/tmp/lines/rig", 0}};
    EXPECT_EQ(ChooseInterfaceRow(KindStandardVcp, serial, "", 1), 1) << "nothing named: the stored row";
    EXPECT_EQ(ChooseInterfaceRow(KindStandardVcp, serial, "", 5), -1);
    EXPECT_EQ(ChooseInterfaceRow(KindStandardVcp, serial, "1", 0), 1);
    EXPECT_EQ(ChooseInterfaceRow(KindStandardVcp, serial, "rig", 0), 1) << "a virtual line by its name";
    EXPECT_EQ(ChooseInterfaceRow(KindStandardVcp, serial, "/dev/ttyUSB0", 1), 0);
    EXPECT_EQ(ChooseInterfaceRow(KindStandardVcp, serial, "/dev/ttyACM3", 0), 2) << "a node the list does not show";
    EXPECT_EQ(serial.back().path, "/dev/ttyACM3");
    EXPECT_EQ(ChooseInterfaceRow(KindStandardVcp, serial, "nothing", 0), -1);

    std::vector<InterfaceEntry> ftdi{{"Device_0 S/N: TLV00001", "", 0}, {"Device_1 S/N: PRO00002", "", 1}};
    EXPECT_EQ(ChooseInterfaceRow(KindEnttecUsbPro, ftdi, "PRO00002", 0), 1) << "by serial number";
    EXPECT_EQ(ChooseInterfaceRow(KindEnttecUsbPro, ftdi, "/dev/ttyUSB0", 0), -1) << "an FTDI kind opens no path";
    EXPECT_EQ(ftdi.size(), 2u);
}
