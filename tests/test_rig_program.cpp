// vantrell-rig as a program: it publishes its line, serves it and cleans up.
#include "harness.h"
#include "link/enumeration.h"
#include "rig_process.h"
#include "settings/settings_store.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(RigProgram, PublishesServesAndRemovesItsLine)
{
    QTemporaryDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData(), 1);
    const std::string link = runtime.path().toStdString() + "/vantrell/lines/bench";
    RigProcess rig({"--devices", "3", "--name", "bench", "--quiet"}, "/dev/null");
    ASSERT_TRUE(rig.started());
    ASSERT_TRUE(RigProcess::waitFor(link)) << "the line was not published";

    PtyHarness h;
    ASSERT_TRUE(h.openPort(link));
    RdmEngine& engine = h.engine;
    // The first stock device's start address is set, and kept while the rig runs.
    const Uid first = MakeUid(0x7FF0, 0x00010000);
    uint8_t address[2] = {0x00, 0x64};
    EXPECT_EQ(Transact(engine, first, rdm::SET_COMMAND, rdm::DMX_START_ADDRESS, address, 2), TxAck);
    ASSERT_EQ(Transact(engine, first, rdm::GET_COMMAND, rdm::DMX_START_ADDRESS), TxAck);
    EXPECT_EQ(LastReply().data.be16(0), 100);
    h.port.PortClose();

    EXPECT_EQ(rig.stop(), 0);
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the published entry was removed";
    unsetenv("XDG_RUNTIME_DIR");
}

TEST(RigProgram, LogsTheDmxLevelsEachTimeTheyChange)
{
    QTemporaryDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData(), 1);
    const std::string link = runtime.path().toStdString() + "/vantrell/lines/levels";
    const std::string logPath = runtime.path().toStdString() + "/rig.log";
    RigProcess rig({"--devices", "1", "--name", "levels"}, logPath);
    ASSERT_TRUE(rig.started());
    ASSERT_TRUE(RigProcess::waitFor(link)) << "the line was not published";

    PtyHarness h;
    ASSERT_TRUE(h.openPort(link));
    uint8_t frame[513] = {};
    frame[1] = 10;
    frame[2] = 20;
    // Three alike frames, then one that changes slot 512 and clears slot 2.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(h.port.SendDmxFrame(frame, sizeof frame), int(sizeof frame));
        usleep(30000);
    }
    frame[2] = 0;
    frame[512] = 255;
    EXPECT_EQ(h.port.SendDmxFrame(frame, sizeof frame), int(sizeof frame));
    usleep(100000);
    h.port.PortClose();
    rig.stop();
    unsetenv("XDG_RUNTIME_DIR");

    QFile log(QString::fromStdString(logPath));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    QStringList levels;
    for (const QString& line : QString::fromUtf8(log.readAll()).split('\n'))
        if (line.startsWith("DMX: 512 slots"))
            levels << line;
    EXPECT_EQ(levels, QStringList({"DMX: 512 slots, 1=10 2=20", "DMX: 512 slots, 1=10 512=255"}));
}

TEST(RigProgram, SelectInAppStoresTheLineByItsName)
{
    QTemporaryDir runtime, config;
    setenv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData(), 1);
    setenv("XDG_CONFIG_HOME", config.path().toUtf8().constData(), 1);
    const std::string conf = config.path().toStdString() + "/Vantrell/Vantrell.conf";
    RigProcess rig({"--devices", "1", "--name", "chosen", "--quiet", "--select-in-app"}, "/dev/null");
    ASSERT_TRUE(rig.started());
    const bool stored = RigProcess::waitFor(conf);
    rig.stop();
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("XDG_CONFIG_HOME");

    ASSERT_TRUE(stored) << "no settings were stored";
    SettingsRecord settings;
    SettingsStore(conf).Load(settings);
    EXPECT_EQ(settings.InterfaceType, 0);
    EXPECT_EQ(settings.InterfaceName, "chosen");
}

TEST(RigProgram, EndsCleanlyOnEveryStopSignalAndAKilledRigsLineIsNotListed)
{
    QTemporaryDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData(), 1);
    const std::string link = runtime.path().toStdString() + "/vantrell/lines/sig";
    auto listed = [] {
        std::vector<InterfaceEntry> rows;
        ListVirtualLines(rows);
        return rows.size();
    };
    struct stat st {};
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGKILL}) {
        SCOPED_TRACE(strsignal(signal));
        RigProcess rig({"--devices", "1", "--name", "sig", "--quiet"}, "/dev/null");
        ASSERT_TRUE(RigProcess::waitFor(link));
        EXPECT_EQ(listed(), 1u);
        const int status = rig.stop(signal);
        if (signal == SIGKILL) {
            // Its entry stays behind, but no one holds its lock: never listed or opened.
            EXPECT_EQ(lstat(link.c_str(), &st), 0);
            EXPECT_EQ(listed(), 0u);
            PtyHarness h;
            EXPECT_FALSE(h.openPort(link));
        } else {
            EXPECT_EQ(status, 0);
            EXPECT_NE(lstat(link.c_str(), &st), 0) << "the entry was removed";
        }
    }
    unsetenv("XDG_RUNTIME_DIR");
}

TEST(RigProgram, ARigFilesNameIsAPlainNameToo)
{
    QTemporaryDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData(), 1);
    const std::string victim = runtime.path().toStdString() + "/x", file = runtime.path().toStdString() + "/rig.json";
    std::ofstream(victim) << "mine";
    std::ofstream(file) << R"({"name": "../../x", "devices": [{}]})";
    const std::string log = runtime.path().toStdString() + "/rig.log";
    RigProcess rig({"--file", file.c_str()}, log);
    EXPECT_EQ(rig.wait(), 2);
    std::ifstream in(victim);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "mine");
    unsetenv("XDG_RUNTIME_DIR");
}
