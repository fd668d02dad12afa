// vantrell-cli as a user runs it, against vantrell-rig as a program.
#include "patch/patch_file.h"

#include <QDir>
#include <algorithm>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
    QJsonArray json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(out)).array(); }
};

// A rig of three stock fixtures on its own line, with its request log in a file,
// and settings of their own for the program.
class CliRig : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_RUNTIME_DIR", runtime.path().toUtf8().constData(), 1);
        setenv("XDG_CONFIG_HOME", config.path().toUtf8().constData(), 1);
        logPath = runtime.path().toStdString() + "/rig.log";
        link = runtime.path().toStdString() + "/vantrell/lines/cli";
        const std::string file = rigFile();
        const char* argv[] = {VANTRELL_RIG_BINARY, file.empty() ? "--devices" : "--file",
                              file.empty() ? "3" : file.c_str(), "--name", "cli", "--unpaced", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_EQ(posix_spawn(&rig, argv[0], &actions, nullptr, const_cast<char**>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        struct stat st{};
        for (int i = 0; i < 100 && lstat(link.c_str(), &st) != 0; ++i)
            usleep(20000);
        ASSERT_EQ(lstat(link.c_str(), &st), 0) << "the line was not published";
    }

    // A rig file to load instead of three stock fixtures.
    virtual std::string rigFile() { return {}; }

    void TearDown() override
    {
        kill(rig, SIGTERM);
        waitpid(rig, nullptr, 0);
        unsetenv("XDG_RUNTIME_DIR");
        unsetenv("XDG_CONFIG_HOME");
    }

    // The program with `args` after the interface options; stdout only. The fixed
    // waits, unless `fast`: a loaded test machine may hand the rig's replies on later
    // than the fast exchange allows (its own tests run on virtual time).
    Result run(const std::string& args, bool withInterface = true, bool fast = false)
    {
        const std::string errors = runtime.path().toStdString() + "/stderr";
        const std::string command = std::string(VANTRELL_CLI_BINARY) +
                                    (withInterface ? " --kind vcp --interface cli " : " ") +
                                    (fast ? "" : "--fixed-waits ") + args + " 2>" + errors;
        Result r;
        FILE* p = popen(command.c_str(), "r");
        char buffer[4096];
        size_t n = 0;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
            r.out.append(buffer, n);
        const int status = pclose(p);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream in(errors);
        r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return r;
    }

    // Requests the rig has logged so far.
    int requestsSeen() const
    {
        std::ifstream in(logPath);
        int n = 0;
        for (std::string line; std::getline(in, line);)
            n += line.rfind("-> ", 0) == 0;
        return n;
    }

    // The value of `field` of `pid` in a get's JSON output.
    static std::string valueOf(const QJsonArray& rows, const char* field)
    {
        for (const QJsonValue& v : rows)
            if (v.toObject().value("field").toString() == field)
                return v.toObject().value("value").toString().toStdString();
        return "(none)";
    }

    QTemporaryDir runtime, config;
    std::string logPath, link;
    pid_t rig = 0;
    const std::string first = "7FF0:00010000";
};

} // namespace

TEST_F(CliRig, DiscoverInfoGetAndSetRoundTrip)
{
    const Result found = run("discover --json", true, true);  // the fast exchange, the default
    ASSERT_EQ(found.status, 0);
    const QJsonArray devices = found.json();
    ASSERT_EQ(devices.size(), 3);
    QStringList uids;
    for (const QJsonValue& d : devices)
        uids << d.toObject().value("uid").toString();
    EXPECT_TRUE(uids.contains(QString::fromStdString(first)));
    for (const QJsonValue& d : devices)
        if (d.toObject().value("uid").toString() == QString::fromStdString(first)) {
            EXPECT_EQ(d.toObject().value("category").toString(), "Moving Head");
            EXPECT_EQ(d.toObject().value("footprint").toString(), "16");
        }

    const Result info = run("info " + first + " --json");
    ASSERT_EQ(info.status, 0);
    EXPECT_EQ(valueOf(info.json(), "product_category"), "258 (Moving Head)");

    // A label in Cyrillic goes out as 8-bit text and comes back the same.
    EXPECT_EQ(run("set " + first + " device_label 'Сцена левая'").status, 0);
    EXPECT_EQ(valueOf(run("get " + first + " DEVICE_LABEL --json").json(), "label"), "Сцена левая");
    EXPECT_EQ(run("address " + first + " 101").status, 0);
    EXPECT_EQ(valueOf(run("get " + first + " dmx_start_address --json").json(), "address"), "101");
    EXPECT_EQ(run("identify " + first + " on").status, 0);
    EXPECT_EQ(valueOf(run("get " + first + " 0x1000 --json").json(), "identify"), "on");
    const Result personality = run("get " + first + " dmx_personality_description=1 --json");
    EXPECT_EQ(valueOf(personality.json(), "footprint"), "16");
    // A manufacturer PID by its PARAMETER_DESCRIPTION, and raw.
    EXPECT_EQ(run("set " + first + " 0x8000 7").status, 0);
    EXPECT_EQ(valueOf(run("get " + first + " 0x8000 --json").json(), "value"), "7");
    EXPECT_EQ(valueOf(run("get " + first + " 0x8000 --raw --json").json(), "data"), "07");
    // CSV has a header and a row per field.
    const Result csv = run("get " + first + " dmx_start_address --csv");
    EXPECT_EQ(csv.out, "pid,field,value\nDMX_START_ADDRESS,address,101\n");
}

TEST_F(CliRig, PatchWriteSetsEveryDeviceAndReadShowsIt)
{
    const std::string file = runtime.path().toStdString() + "/truss.pat";
    std::string why;
    // The moving head and the dimmer pack share slots 40..45.
    ASSERT_TRUE(SavePatchFile(file, {{0x7FF000010000ull, 29, 16}, {0x7FF0000C3D17ull, 39, 6}}, why)) << why;
    const Result shown = run("patch show " + file + " --json", false);
    ASSERT_EQ(shown.status, 0);
    ASSERT_EQ(shown.json().size(), 2);
    EXPECT_EQ(shown.json()[0].toObject().value("start").toString(), "30");
    EXPECT_EQ(shown.json()[0].toObject().value("overlaps").toString(), "7FF0:000C3D17");

    const Result written = run("patch write " + file + " --json");
    ASSERT_EQ(written.status, 0);
    for (const QJsonValue& row : written.json())
        EXPECT_EQ(row.toObject().value("result").toString(), "written");
    const Result read = run("patch read --json");
    ASSERT_EQ(read.status, 0);
    ASSERT_EQ(read.json().size(), 3);
    for (const QJsonValue& row : read.json()) {
        const QJsonObject d = row.toObject();
        if (d.value("uid").toString() == "7FF0:00010000") {
            EXPECT_EQ(d.value("start").toString(), "30");
        }
        if (d.value("uid").toString() == "7FF0:000C3D17") {
            EXPECT_EQ(d.value("start").toString(), "40");
            EXPECT_EQ(d.value("overlaps").toString(), "7FF0:00010000");
        }
    }
    EXPECT_EQ(run("patch show " + runtime.path().toStdString() + "/missing.pat", false).status, 2);
    EXPECT_EQ(run("dmx 1=255 2=128 --period 25 --for 0.3").status, 0);
}

TEST_F(CliRig, BadArgumentsExitTwoAndSendNothing)
{
    ASSERT_EQ(run("get " + first + " device_label").status, 0);
    const int before = requestsSeen();
    for (const std::string& args : std::vector<std::string>{"get " + first + " no_such_pid", "get " + first + " 0x0005", "set " + first + " dmx_start_address 70000",
          "set " + first + " device_label " + std::string(33, 'x'), "get 7FF0:0001 device_label",
          "address " + first + " 0", "address " + first + " 513", "identify " + first + " maybe",
          "set " + first + " identify_device", "frobnicate", "", "--json", "get " + first + " --no-such-option",
          "dmx 513=1", "dmx 1=256", "dmx 1", "dmx 1=2 --period 0", "patch", "patch write",
          "--search sideways discover", "discover --search"}) {
        EXPECT_EQ(run(args).status, 2) << args;
    }
    EXPECT_EQ(requestsSeen(), before) << "nothing was sent";
}

TEST_F(CliRig, ExitCodesForAMissingDeviceAndAMissingInterface)
{
    EXPECT_EQ(run("get 7FF0:12345678 device_label").status, 1) << "nobody answers";
    EXPECT_EQ(run("get " + first + " sensor_value=0").status, 1) << "refused";
    EXPECT_EQ(run("--kind vcp --interface no-such-line discover", false).status, 3);
}

TEST_F(CliRig, WithoutAnInterfaceTheWindowsStoredOneIsUsed)
{
    const QJsonArray rows = run("list --json", false).json();
    int row = -1;
    for (const QJsonValue& r : rows)
        if (r.toObject().value("path").toString().toStdString() == link)
            row = r.toObject().value("row").toString().toInt();
    ASSERT_GE(row, 0);
    QDir().mkpath(config.path() + "/Vantrell");
    std::ofstream(config.path().toStdString() + "/Vantrell/Vantrell.conf")
        << "[General]\nInterfaceType=0\nInterfaceSelection=" << row << "\n";
    const Result found = run("discover --json", false);
    ASSERT_EQ(found.status, 0);
    EXPECT_EQ(found.json().size(), 3);
}

TEST(CliProgram, HelpShowsEveryCommandWithAnExample)
{
    FILE* p = popen(VANTRELL_CLI_BINARY " --help", "r");
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    EXPECT_EQ(pclose(p), 0);
    for (const char* word : {"list", "discover", "info", "get", "set", "identify", "address", "Examples:"})
        EXPECT_NE(out.find(word), std::string::npos) << word;
}

namespace {

// Thirty-six fixtures, more than the window's table holds, and one whose replies always
// carry a wrong checksum.
class CliFaultyRig : public CliRig {
protected:
    std::string rigFile() override
    {
        const std::string path = runtime.path().toStdString() + "/faulty.json";
        std::ofstream out(path);
        out << "{\"devices\": [";
        for (int i = 0; i < 36; ++i)
            out << "{\"model\": \"led-par\"},";
        out << "{\"model\": \"dimmer\", \"uid\": \"7FF0:7FFFFFFF\", \"faults\": {\"badChecksum\": true}}]}";
        return path;
    }
};

} // namespace

TEST_F(CliFaultyRig, DiscoverListsEveryDeviceAndSaysWhatItSetAside)
{
    // The fast exchange, which grows its wait when this machine hands replies on
    // late, with the halving search; the tree's turn follows.
    const Result r = run("discover --json --discovery-timeout 60 --search part", true, true);
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_EQ(r.json().size(), 36) << r.out;
    EXPECT_NE(r.err.find("discovery set aside "), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("7FF0:7FFFFFFF"), std::string::npos);

    // The same devices; in real time a reply the system hands on late may change
    // the order in which they are found.
    const Result tree = run("discover --json --discovery-timeout 60", true, true);
    EXPECT_EQ(tree.status, 5) << tree.err;
    auto uids = [](const Result& result) {
        std::vector<std::string> out;
        for (const QJsonValue& v : result.json())
            out.push_back(v.toObject().value("uid").toString().toStdString());
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(uids(tree), uids(r));
}
