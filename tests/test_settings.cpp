#include "settings/settings_store.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

namespace {

struct Folder {
    QTemporaryDir dir;
    std::string file() const { return dir.path().toStdString() + "/Vantrell/Vantrell.conf"; }
    void write(const std::string& text)
    {
        QDir().mkpath(dir.path() + "/Vantrell");
        std::ofstream(file()) << "[General]\n" << text;
    }
};

std::string LoadError(const std::string& text)
{
    Folder f;
    f.write(text);
    SettingsRecord r;
    try {
        SettingsStore(f.file()).Load(r);
    } catch (const SettingsError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(Settings, NothingStoredGivesTheDefaults)
{
    Folder f;
    SettingsRecord r;
    SettingsStore(f.file()).Load(r);
    EXPECT_EQ(r.InterfaceType, 0);
    EXPECT_EQ(r.InterfaceSelection, 0);
    EXPECT_EQ(r.UniverseSize, 24);
    EXPECT_EQ(r.TimerType, 0);
    EXPECT_EQ(r.TabIndex, 0);
    EXPECT_EQ(r.DMXPeriod, 32);
    EXPECT_EQ(r.discoTimeout, 10);
}

TEST(Settings, RoundTripOfAllSevenValues)
{
    Folder f;
    SettingsStore store(f.file());
    SettingsRecord r{2, -1, 512, 1, 3, 1000, 100, 0, 1, "Линия 2", "10.0.0.20, 10.0.1.20:6455", 2000};
    ASSERT_TRUE(store.Save(r));
    SettingsRecord back;
    store.Load(back);
    EXPECT_EQ(back.InterfaceName, "Линия 2") << "the row's text is kept beside its number";
    EXPECT_EQ(back.NodeAddresses, "10.0.0.20, 10.0.1.20:6455");
    EXPECT_EQ(back.NodeWaitMs, 2000);
    EXPECT_EQ(back.InterfaceType, 2);
    EXPECT_EQ(back.InterfaceSelection, -1);
    EXPECT_EQ(back.UniverseSize, 512);
    EXPECT_EQ(back.TimerType, 1);
    EXPECT_EQ(back.TabIndex, 3);
    EXPECT_EQ(back.DMXPeriod, 1000);
    EXPECT_EQ(back.discoTimeout, 100);
    EXPECT_EQ(back.AllParameters, 1);
}

TEST(Settings, AFileFromBeforeTheFastExchangeLoadsWithItOff)
{
    auto load = [](const std::string& text) {
        Folder f;  // one file each: the store may cache a file rewritten within its time stamp
        f.write(text);
        SettingsRecord r;
        SetDefaults(r);
        r.FastExchange = 1;
        SettingsStore(f.file()).Load(r);
        return r.FastExchange;
    };
    EXPECT_EQ(load("InterfaceType=0\nUniverseSize=24\nTimerType=0\nTabIndex=0\nDMXPeriod=32\n"
                   "InterfaceSelection=0\ndiscoTimeout=10\n"),
              0);
    EXPECT_EQ(load("FastExchange=1\n"), 1);
    EXPECT_EQ(load("FastExchange=2\n"), 0);
}

TEST(Settings, OutOfRangeValuesAreBroughtIntoThePageRanges)
{
    Folder f;
    f.write("UniverseSize=70000\nDMXPeriod=0\ndiscoTimeout=1000\nTabIndex=9\nInterfaceType=7\nTimerType=2\n");
    SettingsRecord r;
    SettingsStore(f.file()).Load(r);
    EXPECT_EQ(r.UniverseSize, 512);
    EXPECT_EQ(r.DMXPeriod, 1);
    EXPECT_EQ(r.discoTimeout, 100);
    EXPECT_EQ(r.TabIndex, 0);
    EXPECT_EQ(r.InterfaceType, 0);
    EXPECT_EQ(r.TimerType, 0);
    f.write("TimerType=-1\nInterfaceType=257\n");  // not its low byte, 1
    SettingsStore(f.file()).Load(r);
    EXPECT_EQ(r.TimerType, 0);
    EXPECT_EQ(r.InterfaceType, 0);
}

TEST(Settings, StoredValuesAreDecimal)
{
    Folder f;
    f.write("UniverseSize=010\nDMXPeriod=0100\n");
    SettingsRecord r;
    SettingsStore(f.file()).Load(r);
    EXPECT_EQ(r.UniverseSize, 10);
    EXPECT_EQ(r.DMXPeriod, 100);
    EXPECT_EQ(LoadError("UniverseSize=0x20\n"), "Invalid data type for 'UniverseSize'");
}

TEST(Settings, BadValuesGiveTheMessages)
{
    EXPECT_EQ(LoadError("UniverseSize=abc\n"), "Invalid data type for 'UniverseSize'");
    EXPECT_EQ(LoadError("DMXPeriod=99999999999\n"), "Failed to get data for 'DMXPeriod'");
    EXPECT_EQ(LoadError("discoTimeout=123456789012345678901234567890\n"), "Failed to get data for 'discoTimeout'");
    EXPECT_EQ(LoadError("TabIndex=1, 2\n"), "Invalid data type for 'TabIndex'");
    EXPECT_EQ(LoadError("TimerType=1\n"), "");
}

TEST(Settings, EveryReadableValueIsLoadedAndAnUnreadableOneStaysInTheFile)
{
    Folder f;
    f.write("InterfaceType=1\nUniverseSize=\nTimerType=x\nDMXPeriod=500\nInterfaceName=rig\n");
    SettingsRecord r;
    SettingsStore store(f.file());
    EXPECT_THROW(store.Load(r), SettingsError);
    EXPECT_EQ(r.InterfaceType, 1);
    EXPECT_EQ(r.DMXPeriod, 500);
    EXPECT_EQ(r.InterfaceName, "rig");
    EXPECT_EQ(r.UniverseSize, 24) << "the default";
    // Saved: the unreadable texts stay as they were, the rest is written; a value
    // changed since is written too.
    r.TimerType = 1;
    ASSERT_TRUE(store.Save(r));
    QSettings ini(QString::fromStdString(f.file()), QSettings::IniFormat);
    EXPECT_EQ(ini.value("UniverseSize").toString(), "");
    EXPECT_EQ(ini.value("TimerType").toInt(), 1);
    EXPECT_EQ(ini.value("DMXPeriod").toInt(), 500);
    EXPECT_EQ(ini.value("InterfaceName").toString(), "rig");
}

TEST(Settings, UnreadableStoreGivesDefaultsAndUnwritableOneFails)
{
    Folder f;
    QDir().mkpath(QString::fromStdString(f.file()));  // a folder where the file belongs
    SettingsRecord r;
    SettingsStore store(f.file());
    store.Load(r);
    EXPECT_EQ(r.UniverseSize, 24);
    EXPECT_EQ(r.discoTimeout, 10);
    try {
        store.Save(r);
        ADD_FAILURE() << "saving over a folder must fail";
    } catch (const SettingsError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to set data for 'InterfaceType'");
    }
}
