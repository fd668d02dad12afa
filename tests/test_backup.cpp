// Backups: a device's settings kept, through a file, and put back on the line.
#include "harness.h"
#include "patch/backup_file.h"
#include "rig/fixtures.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

constexpr Uid kHead = MakeUid(0x7FF0, 0x10);
constexpr Uid kDimmer = MakeUid(0x7FF0, 0x20);

struct BackupLine : ::testing::Test {
    RigHarness h;
    rig::Responder& head = h.line.add(kHead, rig::MovingHeadModel());
    rig::Responder& dimmer = h.line.add(kDimmer, rig::DimmerPackModel());
    BackupRun run;

    SavedDevice backUp(Uid uid)
    {
        SavedDevice saved = BackUpDevice(h.engine, uid, run);
        EXPECT_TRUE(saved.read);
        EXPECT_TRUE(saved.missing.empty());
        return saved;
    }

    // What the head holds after a show: another personality, address, label and settings.
    void changeTheHead()
    {
        head.personality = 2;
        head.startAddress = 100;
        head.deviceLabel = "\xD1\xEF\xEE\xF2 1";  // "Спот 1" in Windows-1251
        head.settings[2].value = 1;               // TILT_INVERT
        head.findParam(0x8001)->value = {9};      // Fan Mode
    }

    static int count(const std::vector<RestoreStep>& steps, RestoreOutcome outcome)
    {
        return int(std::count_if(steps.begin(), steps.end(), [&](const RestoreStep& s) { return s.outcome == outcome; }));
    }
};

std::vector<std::string> Names(const SavedDevice& d)
{
    std::vector<std::string> names;
    for (const SavedValue& v : d.values)
        names.push_back(v.name);
    return names;
}

} // namespace

TEST_F(BackupLine, KeepsEverySettingThroughAFileAndPutsItBackPersonalityFirst)
{
    const SavedDevice saved = backUp(kHead);
    const std::vector<std::string> names = Names(saved);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], "DMX_PERSONALITY");
    EXPECT_EQ(names[1], "DMX_START_ADDRESS");
    for (const char* kept : {"DEVICE_LABEL", "TILT_INVERT", "DISPLAY_LEVEL", "LAMP_ON_MODE", "Fan Mode", "Tilt Trim"})
        EXPECT_NE(std::find(names.begin(), names.end(), kept), names.end()) << kept;
    // Read-only and counting parameters are not settings.
    for (const char* notKept : {"Lamp Hours", "DEVICE_HOURS", "IDENTIFY_DEVICE", "DEVICE_INFO"})
        EXPECT_EQ(std::find(names.begin(), names.end(), notKept), names.end()) << notKept;

    std::vector<SavedDevice> fromFile;
    std::string why;
    ASSERT_TRUE(DecodeBackup(EncodeBackup({saved}), fromFile, why)) << why;
    ASSERT_EQ(fromFile.size(), 1u);
    EXPECT_EQ(Names(fromFile[0]), names);
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(ValueText(fromFile[0].values[i].fields), ValueText(saved.values[i].fields)) << names[i];

    changeTheHead();
    h.line.clearRecords();
    const auto dry = RestoreDevice(h.engine, fromFile[0], kHead, true, false, run);
    EXPECT_EQ(count(dry, RestoreOutcome::WouldChange), 5);
    const auto requests = h.line.requests();
    EXPECT_FALSE(requests.empty());
    EXPECT_TRUE(std::none_of(requests.begin(), requests.end(), [](const rig::RecordedRequest& r) {
        return r.decoded.commandClass == rdm::SET_COMMAND;
    })) << "a dry run sends no SET";

    const auto steps = RestoreDevice(h.engine, fromFile[0], kHead, false, false, run);
    EXPECT_EQ(count(steps, RestoreOutcome::Restored), 5);
    EXPECT_TRUE(std::all_of(steps.begin(), steps.end(), [](const RestoreStep& s) { return s.matches(); }));
    EXPECT_EQ(steps[0].name, "DMX_PERSONALITY");
    EXPECT_EQ(head.personality, 1);
    EXPECT_EQ(head.startAddress, 1);
    EXPECT_EQ(head.deviceLabel, "");
    EXPECT_EQ(head.settings[2].value, 0);
    const std::vector<std::string> report = RestoreReportLines(steps);
    EXPECT_EQ(report.size(), steps.size() + 1);
    // The device's text shown in UTF-8, each line the device, parameter, kept, before and result.
    EXPECT_NE(report[3].find("DEVICE_LABEL"), std::string::npos) << report[3];
    EXPECT_NE(report[3].find("\"Спот 1\"     restored"), std::string::npos) << report[3];
}

TEST_F(BackupLine, AStoppedRestoreNamesWhatItDidNotWrite)
{
    const SavedDevice saved = backUp(kHead);
    changeTheHead();
    int asked = 0;
    run.stopRequested = [&asked] { return ++asked > 12; };
    const auto steps = RestoreDevice(h.engine, saved, kHead, false, false, run);
    ASSERT_EQ(steps.size(), saved.values.size());
    const auto firstUnwritten = std::find_if(steps.begin(), steps.end(), [](const RestoreStep& s) {
        return s.outcome == RestoreOutcome::NotWritten;
    });
    ASSERT_NE(firstUnwritten, steps.begin());
    ASSERT_NE(firstUnwritten, steps.end());
    EXPECT_TRUE(std::all_of(firstUnwritten, steps.end(), [](const RestoreStep& s) {
        return s.outcome == RestoreOutcome::NotWritten && OutcomeText(s) == "not written: stopped" && !s.matches();
    }));
}

TEST_F(BackupLine, AnotherModelTakesOnlyWhatBothShare)
{
    const SavedDevice saved = backUp(kHead);
    rdm::DeviceInfo info;
    info.modelId = dimmer.model().modelId;
    EXPECT_NE(CloneMismatch(saved, kDimmer, info).find("another model (0x0201)"), std::string::npos);
    info.modelId = head.model().modelId;
    EXPECT_NE(CloneMismatch(saved, MakeUid(0x1234, 1), info).find("another maker"), std::string::npos);

    dimmer.startAddress = 50;
    const auto steps = RestoreDevice(h.engine, saved, kDimmer, false, true, run);
    EXPECT_TRUE(std::all_of(steps.begin(), steps.end(), [](const RestoreStep& s) { return s.matches(); }));
    EXPECT_EQ(dimmer.startAddress, 1);
    EXPECT_EQ(count(steps, RestoreOutcome::Skipped), int(saved.values.size()) - 3) << "all but personality, address, label";
    // Not forced, what the replacement lacks is a mismatch.
    const auto unforced = RestoreDevice(h.engine, saved, kDimmer, true, false, run);
    EXPECT_GT(count(unforced, RestoreOutcome::NotSupported), 0);
}

TEST(BackupFile, RefusesAnythingButAWholeBackupOfThisVersionWithinLimits)
{
    auto device = [](const std::string& members) {
        return R"({"format":"vantrell-backup","version":1,"devices":[{"uid":"7FF0:00000001","model":257)" + members +
               "}]}";
    };
    auto parameters = [&](const std::string& list) { return device(R"(,"parameters":[)" + list + "]"); };
    const std::string address = R"({"pid":240,"value":{"address":12}})";
    const struct {
        std::string file, why;
    } cases[] = {
        {"[1]", "not a backup"},
        {R"({"format":"vantrell-patch","version":1,"devices":[]})", "not a backup of this program"},
        {R"({"format":"vantrell-backup","devices":[]})", "no version"},
        {R"({"format":"vantrell-backup","version":2,"devices":[]})", "format version 2, written by a newer version"},
        {R"({"format":"vantrell-backup","version":1,"devices":[{"uid":"FFFF:FFFFFFFF"}]})", "not one device's"},
        {R"({"format":"vantrell-backup","version":1,"devices":[{"uid":"7FF0:00000001"},{"uid":"7FF0:00000001"}]})",
         "7FF0:00000001 is named twice"},
        {parameters(address + "," + address), "DMX_START_ADDRESS is named twice"},
        {parameters(R"({"pid":240,"value":{"address":600}})"), "DMX_START_ADDRESS: address 600 is outside 1..512"},
        {parameters(R"({"pid":224,"value":{"personality":0}})"), "personality 0 is outside 1..255"},
        {parameters(R"({"pid":32769,"layout":"value:u8","min":0,"max":9,"value":{"value":12}})"),
         "value 12 is outside 0..9"},
        {parameters(R"({"pid":1024,"value":{"hours":1}})"), "not a parameter a backup keeps"},
        {parameters(R"({"pid":32769,"layout":"value:float","value":{"value":1}})"), "not one this version reads"},
        {parameters(R"({"pid":240,"value":{"start":12}})"), "the field address is missing"},
        {parameters(R"({"pid":240,"value":{"address":1.5}})"), "the field address is missing"},
        {device(R"(,"personality":-1)"), "personality is not a whole number"},
    };
    for (const auto& c : cases) {
        std::vector<SavedDevice> devices;
        std::string why;
        EXPECT_FALSE(DecodeBackup({c.file.begin(), c.file.end()}, devices, why)) << c.file;
        EXPECT_NE(why.find(c.why), std::string::npos) << c.file << "\n  said: " << why;
        EXPECT_TRUE(devices.empty());
    }
    std::vector<SavedDevice> devices;
    std::string why;
    const std::string good = parameters(address);
    EXPECT_TRUE(DecodeBackup({good.begin(), good.end()}, devices, why)) << why;
}

TEST_F(BackupLine, ALostReplyIsAskedAgainSoNothingIsMissing)
{
    head.faults.loseFirst = 2;  // DEVICE_INFO answers the third time it is asked
    EXPECT_EQ(backUp(kHead).values.size(), 16u);
    dimmer.faults.loseFirst = 3;
    const SavedDevice gone = BackUpDevice(h.engine, kDimmer, run);
    ASSERT_EQ(gone.missing.size(), 1u);
    EXPECT_EQ(gone.missing[0].why, "no reply") << "asked three times, then named";
}
