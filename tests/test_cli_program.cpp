// vantrell-cli as a user runs it, against vantrell-rig as a program.
#include "link/posix_serial.h"
#include "patch/patch_file.h"
#include "rig_process.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <unistd.h>

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
        rig = std::make_unique<RigProcess>(
            std::vector<const char*>{file.empty() ? "--devices" : "--file", file.empty() ? "3" : file.c_str(), "--name",
                                     "cli", "--unpaced"},
            logPath);
        ASSERT_TRUE(rig->started());
        ASSERT_TRUE(RigProcess::waitFor(link)) << "the line was not published";
    }

    // A rig file to load instead of three stock fixtures.
    virtual std::string rigFile() { return {}; }

    void TearDown() override
    {
        rig.reset();
        unsetenv("XDG_RUNTIME_DIR");
        unsetenv("XDG_CONFIG_HOME");
    }

    // The program with `args` after the interface options; stdout only. The fixed
    // waits, unless `fast`: a loaded test machine may hand the rig's replies on later
    // than the fast exchange allows (its own tests run on virtual time).
    Result run(const std::string& args, bool withInterface = true, bool fast = false)
    {
        const std::string errors = runtime.path().toStdString() + "/stderr";
        // Ctrl-C as at a terminal: a shell's background job would have it ignored.
        const std::string command = "env --default-signal=INT " + std::string(VANTRELL_CLI_BINARY) +
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

    // Requests the rig has logged so far; of one command class ("SET") when given.
    int requestsSeen(const std::string& commandClass = "") const
    {
        std::ifstream in(logPath);
        int n = 0;
        for (std::string line; std::getline(in, line);)
            n += line.rfind("-> " + commandClass, 0) == 0;
        return n;
    }

    // The value of `field` in a get's JSON output: the first PID's object that has it.
    static QJsonValue valueOf(const QJsonArray& pids, const char* field)
    {
        for (const QJsonValue& v : pids) {
            const QJsonObject values = v.toObject().value("values").toObject();
            if (values.contains(field))
                return values.value(field);
        }
        return QJsonValue::Undefined;
    }

    QTemporaryDir runtime, config;
    std::string logPath, link;
    std::unique_ptr<RigProcess> rig;
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
            // Numbers are numbers, and the category has E1.20's name.
            EXPECT_EQ(d.toObject().value("category").toString(), "FIXTURE_MOVING_YOKE");
            EXPECT_EQ(d.toObject().value("footprint").toInt(-1), 16);
            EXPECT_EQ(d.toObject().value("model").toInt(-1), 0x0101);
            EXPECT_EQ(d.toObject().value("personalities").toInt(-1), 3);
        }

    // info --json is one object: DEVICE_INFO's fields, the labels, the PIDs by number and name.
    const Result info = run("info " + first + " --json");
    ASSERT_EQ(info.status, 0) << info.err;
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(info.out)).object();
    EXPECT_EQ(object.value("uid").toString().toStdString(), first);
    EXPECT_EQ(object.value("model_id").toInt(-1), 0x0101) << "the same number discover gives";
    EXPECT_EQ(object.value("product_category_name").toString(), "FIXTURE_MOVING_YOKE");
    EXPECT_EQ(object.value("device_model_description").toString(), "Spot 575 moving head");
    bool listed = false;
    for (const QJsonValue& p : object.value("supported_parameters").toArray())
        listed = listed || (p.toObject().value("pid").toInt() == 0x00F0 &&
                            p.toObject().value("name").toString() == "DMX_START_ADDRESS");
    EXPECT_TRUE(listed);

    // A label in Cyrillic goes out as 8-bit text and comes back the same.
    EXPECT_EQ(run("set " + first + " device_label 'Сцена левая'").status, 0);
    EXPECT_EQ(valueOf(run("get " + first + " DEVICE_LABEL --json").json(), "label").toString(), "Сцена левая");
    EXPECT_EQ(run("address " + first + " 101").status, 0);
    EXPECT_EQ(valueOf(run("get " + first + " dmx_start_address --json").json(), "address").toInt(), 101);
    EXPECT_EQ(run("identify " + first + " on").status, 0);
    EXPECT_EQ(valueOf(run("get " + first + " 0x1000 --json").json(), "identify").toBool(), true);
    const Result personality = run("get " + first + " dmx_personality_description=1 --json");
    EXPECT_EQ(valueOf(personality.json(), "footprint").toInt(), 16);
    // CSV has a header and a row per field.
    const Result csv = run("get " + first + " dmx_start_address --csv");
    EXPECT_EQ(csv.out, "pid,field,value\nDMX_START_ADDRESS,address,101\n");
}

TEST_F(CliRig, ManufacturerPidsByTheirDescription)
{
    // Signed bytes and words as numbers, arrays as lists, the description's name beside the PID.
    const QJsonArray got = run("get " + first + " 0x8003 0x8004 0x8005 0x8008 --json").json();
    ASSERT_EQ(got.size(), 4);
    EXPECT_EQ(got[0].toObject().value("name").toString(), "Temperature Offset");
    EXPECT_EQ(got[0].toObject().value("values").toObject().value("value").toInt(), -2);
    EXPECT_EQ(got[1].toObject().value("values").toObject().value("value").toArray(), (QJsonArray{300, 100}));
    EXPECT_EQ(got[2].toObject().value("values").toObject().value("value").toInt(), -10);
    EXPECT_EQ(got[3].toObject().value("values").toObject().value("value").toArray(), (QJsonArray{10, -20}));
    // Its description's limits are signed numbers too, and the type has its name.
    const QJsonObject description =
        run("get " + first + " parameter_description=0x8003 --json").json()[0].toObject().value("values").toObject();
    EXPECT_EQ(description.value("min_value").toInt(), -10);
    EXPECT_EQ(description.value("data_type_name").toString(), "SIGNED_BYTE");
    const Result table = run("get " + first + " 0x8003");
    EXPECT_NE(table.out.find("0x8003 Temperature Offset  value  -2"), std::string::npos) << table.out;

    // Set from decimal numbers within the description's limits; outside them nothing is sent.
    EXPECT_EQ(run("set " + first + " 0x8003 -7").status, 0);
    EXPECT_EQ(valueOf(run("get " + first + " 0x8003 --json").json(), "value").toInt(), -7);
    const int before = requestsSeen();
    const Result outside = run("set " + first + " 0x8003 -11");
    EXPECT_EQ(outside.status, 2);
    EXPECT_NE(outside.err.find("-10..10"), std::string::npos) << outside.err;
    EXPECT_EQ(run("set " + first + " 0x8000 7").status, 2) << "Pan Invert is 0..1";
    EXPECT_EQ(requestsSeen(), before + 2) << "only the two descriptions were asked";
    EXPECT_EQ(run("set " + first + " 0x8000 1").status, 0);
    EXPECT_EQ(valueOf(run("get " + first + " 0x8000 --raw --json").json(), "data").toString(), "01");
}

TEST_F(CliRig, UidsInEveryFormAndSentToAll)
{
    for (const std::string form : {"7FF0:00010000", "7FF000010000", "0x7FF000010000", "0x7ff000010000"}) {
        const Result r = run("get " + form + " dmx_start_address --json");
        EXPECT_EQ(r.status, 0) << form << ": " << r.err;
        EXPECT_EQ(r.json()[0].toObject().value("uid").toString().toStdString(), first) << "one form out";
    }
    // Nobody answers a request to all: a GET is refused before anything is sent,
    // a SET goes out and waits for no reply.
    const int before = requestsSeen();
    for (const std::string all : {"FFFF:FFFFFFFF", "7FF0:FFFFFFFF"}) {
        const Result get = run("get " + all + " device_label");
        EXPECT_EQ(get.status, 2) << all;
        EXPECT_NE(get.err.find("every device"), std::string::npos) << get.err;
    }
    EXPECT_EQ(requestsSeen(), before);
    const Result identify = run("identify FFFF:FFFFFFFF on");
    EXPECT_EQ(identify.status, 0) << identify.err;
    EXPECT_NE(identify.out.find("sent to all"), std::string::npos) << identify.out;
    EXPECT_EQ(run("address 7FF0:FFFFFFFF 77").status, 0);
    EXPECT_EQ(valueOf(run("get 7FF0:000C3D17 identify_device dmx_start_address --json").json(), "identify").toBool(),
              true);
    EXPECT_EQ(valueOf(run("get 7FF0:000C3D17 dmx_start_address --json").json(), "address").toInt(), 77);
}

TEST_F(CliRig, FailuresAreSaidInOneLineWithTheDevice)
{
    // A device that is not there: the line says which and what, the exit status is 1.
    const Result missing = run("info 7FF0:12345678 --json");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "vantrell-cli: 7FF0:12345678: no reply to DEVICE_INFO\n");
    const Result nack = run("get " + first + " dmx_personality_description=9 device_label");
    EXPECT_EQ(nack.status, 1);
    EXPECT_EQ(nack.err, "vantrell-cli: " + first + ": refused DMX_PERSONALITY_DESCRIPTION (DATA_OUT_OF_RANGE)\n");
    EXPECT_NE(nack.out.find("DEVICE_LABEL"), std::string::npos) << "what did answer is still printed";

    // Usage errors name the command and point to --help; bad values do not.
    const Result unknown = run("frobnicate");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err.rfind("vantrell-cli: unknown command \"frobnicate\"\n", 0), 0u) << unknown.err;
    EXPECT_NE(unknown.err.find("--help"), std::string::npos);
    const Result value = run("address " + first + " 600");
    EXPECT_EQ(value.status, 2);
    EXPECT_EQ(value.err.find("--help"), std::string::npos) << value.err;
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
    EXPECT_EQ(shown.json()[0].toObject().value("start").toInt(), 30);
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
            EXPECT_EQ(d.value("start").toInt(), 30);
        }
        if (d.value("uid").toString() == "7FF0:000C3D17") {
            EXPECT_EQ(d.value("start").toInt(), 40);
            EXPECT_EQ(d.value("overlaps").toString(), "7FF0:00010000");
        }
    }
    EXPECT_EQ(run("patch show " + runtime.path().toStdString() + "/missing.pat", false).status, 2);
    EXPECT_EQ(run("dmx 1=255 2=128 --period 25 --for 0.3").status, 0);
}

TEST_F(CliRig, PatchAutoAddressesInOrderKeepsTheOldArrangementAndRefusesAUniverseTooSmall)
{
    const std::string undo = runtime.path().toStdString() + "/before.pat";
    const Result addressed = run("patch auto --from 101 --gap 1 --order uid --undo " + undo + " --json");
    ASSERT_EQ(addressed.status, 0) << addressed.err;
    ASSERT_EQ(addressed.json().size(), 3);
    int expected = 101;
    for (const QJsonValue& row : addressed.json()) {
        const QJsonObject d = row.toObject();
        EXPECT_EQ(d.value("start").toInt(), expected) << d.value("uid").toString().toStdString();
        EXPECT_EQ(d.value("result").toString(), "written");
        expected += d.value("footprint").toInt() + 1;
    }
    const Result read = run("patch read --json");
    for (const QJsonValue& row : read.json())
        EXPECT_GE(row.toObject().value("start").toInt(), 101) << "read back from the devices";
    // The file kept beside puts the arrangement back.
    ASSERT_EQ(run("patch write " + undo).status, 0);
    const Result back = run("patch read --json");
    for (const QJsonValue& row : back.json())
        EXPECT_LT(row.toObject().value("start").toInt(), 101);

    // Too small a universe: refused, naming the device, with no SET sent.
    std::ifstream before(logPath);
    const std::string logBefore((std::istreambuf_iterator<char>(before)), std::istreambuf_iterator<char>());
    const Result refused = run("patch auto --from 500 --undo " + undo + ".2");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("past slot 512"), std::string::npos) << refused.err;
    std::ifstream after(logPath);
    const std::string logAfter((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>());
    EXPECT_EQ(logAfter.substr(logBefore.size()).find("-> SET"), std::string::npos);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(undo + ".2")));
}

TEST_F(CliRig, BackupRestoresAChangedDeviceAndClonesOnlyTheSameModelUnlessForced)
{
    const std::string file = runtime.path().toStdString() + "/truss.json";
    const std::string dimmer = "7FF0:000C3D17";  // the stock rig's second device
    const Result kept = run("backup " + file + " --uids " + first + "," + dimmer + " --json");
    ASSERT_EQ(kept.status, 0) << kept.err;
    ASSERT_EQ(kept.json().size(), 2);
    QFile stored(QString::fromStdString(file));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    QJsonObject backup = QJsonDocument::fromJson(stored.readAll()).object();
    EXPECT_EQ(backup.value("version").toInt(), 1);

    ASSERT_EQ(run("set " + first + " device_label 'Truss 2 SR'").status, 0);
    ASSERT_EQ(run("set " + first + " dmx_start_address 200").status, 0);
    const int sets = requestsSeen("SET");
    const std::string spot = " --uids " + first;
    const Result dry = run("restore " + file + spot + " --dry-run --json");
    EXPECT_EQ(dry.status, 0) << dry.err;
    int wouldChange = 0;
    for (const QJsonValue& row : dry.json())
        wouldChange += row.toObject().value("result").toString() == "would change";
    EXPECT_EQ(wouldChange, 2);
    EXPECT_EQ(requestsSeen("SET"), sets) << "a dry run sends no SET";

    const Result restored = run("restore " + file + spot);
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(requestsSeen("SET"), sets + 2) << restored.out;
    const Result label = run("get " + first + " device_label dmx_start_address --json");
    EXPECT_EQ(valueOf(label.json(), "label").toString(), "");
    EXPECT_EQ(valueOf(label.json(), "address").toInt(), 1);

    // A spot's settings for a dimmer pack: refused before anything is sent, unless forced.
    const std::string map = spot + " --map " + first + "=" + dimmer;
    const Result foreign = run("restore " + file + map);
    EXPECT_EQ(foreign.status, 2);
    EXPECT_NE(foreign.err.find("another model"), std::string::npos) << foreign.err;
    EXPECT_EQ(requestsSeen("SET"), sets + 2);
    const Result forced = run("restore " + file + map + " --force");
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.out.find("skipped: not supported by " + dimmer), std::string::npos) << forced.out;

    // A device kept but gone from the line is named, and the restore is not a success.
    QJsonObject gone = backup.value("devices").toArray().first().toObject();
    gone.insert("uid", "7FF0:0000ABCD");
    backup.insert("devices", QJsonArray{gone});
    QFile changed(QString::fromStdString(file));
    ASSERT_TRUE(changed.open(QIODevice::WriteOnly | QIODevice::Truncate));
    changed.write(QJsonDocument(backup).toJson());
    changed.close();
    const Result missing = run("restore " + file);
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("7FF0:0000ABCD"), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("not on the line"), std::string::npos) << missing.err;
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
          "--search sideways discover", "discover --search", "dmx ' 1=5'", "dmx 1=+5", "dmx 0x10=5",
          "patch auto x.pat", "patch auto --from 0", "patch auto --gap -1", "patch auto --order height",
          "address " + first + " 0x20", "address " + first + " ' 20'", "address " + first + " +20",
          "backup", "restore", "restore x.json --map " + first, "restore x.json --map " + first + "=FFFF:FFFFFFFF",
          "backup x.json --uids FFFF:FFFFFFFF", "discover --uids " + first, "backup x.json --dry-run",
          "--universe 2 discover", "--kind artnet --universe all info " + first}) {
        EXPECT_EQ(run(args).status, 2) << args;
    }
    // No interface named is not the stored one; a path too long for the port is
    // not cut to another; an argument of 100 kB is not echoed back.
    for (const std::string& args : {std::string("--kind vcp --interface '' discover"),
                                    "--kind vcp --interface /dev/" + std::string(300, 'x') + " discover",
                                    "get " + std::string(100000, 'u') + " device_label"}) {
        const Result r = run(args, false);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_LT(r.err.size(), 400u) << r.err;
    }
    EXPECT_EQ(requestsSeen(), before) << "nothing was sent";
}

TEST_F(CliRig, ControlCharactersOfADeviceTextAreEscapedInTablesAndCsvAndJson)
{
    // A label that would retitle and clear the terminal.
    ASSERT_EQ(run("set " + first + " device_label \"$(printf '\\033]0;owned\\007\\033[2J')\"").status, 0);
    const std::string shown = "\\x1B]0;owned\\x07\\x1B[2J";
    for (const char* format : {"", "--csv"}) {
        const Result r = run("get " + first + " device_label " + format);
        EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find('\x1B'), std::string::npos) << format;
    }
    EXPECT_EQ(valueOf(run("get " + first + " device_label --json").json(), "label").toString(),
              QString::fromUtf8("\x1B]0;owned\a\x1B[2J"));
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
    std::string text;
    for (const QJsonValue& r : rows)
        if (r.toObject().value("path").toString().toStdString() == link) {
            row = r.toObject().value("row").toInt(-1);
            text = r.toObject().value("text").toString().toStdString();
        }
    ASSERT_GE(row, 0);
    QDir().mkpath(config.path() + "/Vantrell");
    auto store = [&](int storedRow, const std::string& name) {
        std::ofstream(config.path().toStdString() + "/Vantrell/Vantrell.conf")
            << "[General]\nInterfaceType=0\nInterfaceSelection=" << storedRow << "\n"
            << (name.empty() ? "" : "InterfaceName=" + name + "\n");
    };
    // Settings from before the name was kept: the row.
    store(row, "");
    Result found = run("discover --json", false);
    ASSERT_EQ(found.status, 0);
    EXPECT_EQ(found.json().size(), 3);
    // The name wins over a row that now holds another interface.
    store(row + 5, text);
    found = run("discover --json", false);
    ASSERT_EQ(found.status, 0) << found.err;
    EXPECT_EQ(found.json().size(), 3);
    // A stored interface that is not attached opens nothing else.
    store(row, "unplugged-line");
    found = run("discover --json", false);
    EXPECT_EQ(found.status, 3);
    EXPECT_NE(found.err.find("\"unplugged-line\", is not attached"), std::string::npos) << found.err;
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
    EXPECT_NE(r.err.find("discovery set aside "), std::string::npos) << r.err;
    // Each device found, then the UID set aside on a row of its own, with no device.
    const QJsonArray rows = r.json();
    ASSERT_EQ(rows.size(), 37) << r.out;
    for (int i = 0; i < 36; ++i)
        EXPECT_TRUE(rows[i].toObject().value("set_aside").isNull()) << r.out;
    EXPECT_TRUE(rows[36].toObject().value("uid").isNull());
    EXPECT_EQ(rows[36].toObject().value("set_aside").toString().toStdString(),
              "7FF0:7FFFFFFF: its discovery replies never come clean");

    // The same devices; in real time a reply the system hands on late may change
    // the order in which they are found.
    const Result tree = run("discover --json --discovery-timeout 60", true, true);
    EXPECT_EQ(tree.status, 5) << tree.err;
    auto uids = [](const Result& result) {
        std::vector<std::string> out;
        for (const QJsonValue& v : result.json())
            if (!v.toObject().value("uid").isNull())
                out.push_back(v.toObject().value("uid").toString().toStdString());
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(uids(tree), uids(r));
}

TEST_F(CliFaultyRig, EveryStopSignalEndsDiscoveryWithSevenAndSaysWhichOne)
{
    // Ctrl-C too: started as from a terminal, where SIGINT is not ignored as a
    // shell's background job has it.
    for (const char* signal : {"TERM", "HUP", "INT"}) {
        const std::string command = "sh -c 'env --default-signal=INT " + std::string(VANTRELL_CLI_BINARY) +
                                    " --kind vcp --interface cli --fixed-waits discover >/dev/null 2>" +
                                    runtime.path().toStdString() + "/err & pid=$!; sleep 0.4; kill -" + signal +
                                    " $pid; wait $pid; echo $?'";
        FILE* p = popen(command.c_str(), "r");
        char status[16] = {};
        ASSERT_TRUE(fgets(status, sizeof status, p));
        pclose(p);
        std::ifstream in(runtime.path().toStdString() + "/err");
        const std::string err((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(std::atoi(status), 7) << signal << ": " << err;
        EXPECT_NE(err.find("discovery stopped by "), std::string::npos) << err;
    }
    EXPECT_EQ(run("get 7FF0:00000101 device_label").status, 0) << "the line opens again at once";
}

namespace {

// A moving head that answers one request and is then gone for a while.
class CliVanishingRig : public CliRig {
protected:
    std::string rigFile() override
    {
        const std::string path = runtime.path().toStdString() + "/vanishing.json";
        std::ofstream(path) << "{\"devices\": [{\"model\": \"moving-head\", \"uid\": \"7FF0:00010000\", "
                               "\"faults\": {\"vanishAfter\": 1, \"vanishFor\": 100}}]}";
        return path;
    }
};

} // namespace

TEST_F(CliVanishingRig, InfoPrintsWhatCameAndSaysWhatDidNot)
{
    const Result info = run("info " + first + " --json");
    EXPECT_EQ(info.status, 1);
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(info.out)).object();
    EXPECT_EQ(object.value("footprint").toInt(-1), 16) << info.out;
    EXPECT_TRUE(object.value("device_label").isNull()) << "missing, not invented";
    EXPECT_TRUE(object.value("supported_parameters").isNull());
    EXPECT_EQ(info.err, "vantrell-cli: " + first +
                            ": no reply to MANUFACTURER_LABEL; no reply to DEVICE_MODEL_DESCRIPTION; no reply to "
                            "DEVICE_LABEL; no reply to SOFTWARE_VERSION_LABEL; no reply to SUPPORTED_PARAMETERS\n");
}

TEST_F(CliRig, ABusyInterfaceIsNamedWithTheProgramHoldingIt)
{
    // This test holds the line as the window would.
    PosixSerial holder;
    const int handle = holder.open(link.c_str());
    ASSERT_NE(handle, SerialApi::kInvalidHandle);
    std::string self;
    std::ifstream("/proc/self/comm") >> self;
    const Result r = run("discover");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("is held by another program (" + self + " (PID " + std::to_string(getpid()) + "))"),
              std::string::npos)
        << r.err;
    holder.close(handle);
    EXPECT_EQ(run("get " + first + " device_label").status, 0) << "free again";
}

namespace {

// A dimmer rack whose twelve channels are sub-devices.
class CliRackRig : public CliRig {
protected:
    std::string rigFile() override
    {
        const std::string path = runtime.path().toStdString() + "/rack.json";
        std::ofstream(path) << "{\"devices\": [{\"model\": \"dimmer-rack\", \"uid\": \"7FF0:00000200\"}]}";
        return path;
    }
    const std::string rack = "7FF0:00000200";
};

} // namespace

TEST_F(CliRackRig, SubDevicesAreReadAndSetOneByOneOrAllTogether)
{
    const Result info = run("info " + rack + " --sub-devices --json");
    ASSERT_EQ(info.status, 0) << info.err;
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(info.out)).object();
    EXPECT_EQ(object.value("sub_device_count").toInt(), 12);
    const QJsonArray subs = object.value("sub_devices").toArray();
    ASSERT_EQ(subs.size(), 12);
    EXPECT_EQ(subs[4].toObject().value("start_address").toInt(), 5);

    EXPECT_EQ(run("address " + rack + " 100 --sub-device 5").status, 0);
    const QJsonArray got = run("get " + rack + " dmx_start_address --sub-device 5 --json").json();
    EXPECT_EQ(got[0].toObject().value("sub_device").toInt(), 5);
    EXPECT_EQ(valueOf(got, "address").toInt(), 100);
    EXPECT_EQ(valueOf(run("get " + rack + " dmx_start_address --sub-device 6 --json").json(), "address").toInt(), 6)
        << "its neighbour kept its own";

    // Every sub-device at once takes a SET; a GET to them all is refused before sending.
    EXPECT_EQ(run("identify " + rack + " on --sub-device all").status, 0);
    for (const char* n : {"1", "12"})
        EXPECT_TRUE(valueOf(run("get " + rack + " identify_device --sub-device " + n + " --json").json(), "identify")
                        .toBool())
            << n;
    const int before = requestsSeen();
    EXPECT_EQ(run("get " + rack + " device_info --sub-device all").status, 2);
    EXPECT_EQ(requestsSeen(), before);
    const Result outside = run("get " + rack + " dmx_start_address --sub-device 13");
    EXPECT_EQ(outside.status, 1);
    EXPECT_NE(outside.err.find("SUB_DEVICE_OUT_OF_RANGE"), std::string::npos) << outside.err;
    EXPECT_EQ(run("get " + rack + " dmx_start_address --sub-device 513").status, 2);
}

namespace {

// A spot with a warning waiting, a wash whose supply is too high and which is
// switched off 2 s after the rig starts, for 3 s.
class CliHealthRig : public CliRig {
protected:
    std::string rigFile() override
    {
        const std::string path = runtime.path().toStdString() + "/health.json";
        std::ofstream(path) << R"({"devices": [
            {"model": "spot", "uid": "7FF0:00000301", "label": "Spot L",
             "status": [{"type": "warning", "id": 33, "data1": 0, "data2": 97}]},
            {"model": "wash", "uid": "7FF0:00000302", "sensorValues": [41, 29])"
                            << washPower() << "}]}";
        return path;
    }
    virtual std::string washPower() { return R"(, "powerCycle": {"at": 2, "for": 3})"; }
};

// The same rig with the wash left on: a snapshot that does not race its switching off.
class CliSteadyHealthRig : public CliHealthRig {
protected:
    std::string washPower() override { return {}; }
};

} // namespace

TEST_F(CliSteadyHealthRig, OnceGivesEverySensorAndSaysAWarningInItsExitStatus)
{
    // The fixed waits: a slow build (the sanitizers') may hand replies on later than
    // the fast exchange allows.
    const Result r = run("watch --once --json");
    EXPECT_EQ(r.status, 8) << r.err;
    const QJsonArray devices = r.json();
    ASSERT_EQ(devices.size(), 2);
    for (const QJsonValue& v : devices) {
        const QJsonObject d = v.toObject();
        EXPECT_TRUE(d.value("online").toBool());
        if (d.value("uid").toString() == "7FF0:00000301") {
            EXPECT_EQ(d.value("status").toString(), "warning");
            const QJsonArray statuses = d.value("statuses").toArray();
            ASSERT_FALSE(statuses.isEmpty());
            EXPECT_EQ(statuses[0].toObject().value("text").toString(), "Sensor 0 over temp at 97 degrees C");
            EXPECT_EQ(d.value("lamp_hours").toInt(), 310);
        } else {
            const QJsonArray sensors = d.value("sensors").toArray();
            ASSERT_GE(sensors.size(), 2);
            const QJsonObject supply = sensors[1].toObject();
            EXPECT_EQ(supply.value("value").toInt(), 29);
            EXPECT_EQ(supply.value("unit").toString(), "V DC");
            EXPECT_FALSE(supply.value("in_normal_range").toBool());
        }
    }
    EXPECT_EQ(r.out.find("\\u0000"), std::string::npos) << "no padding in device texts";
    // The warning was collected by the first snapshot; the supply still reads
    // outside its normal range, which is as much a reason for the exit status.
    const Result again = run("watch --once");
    EXPECT_EQ(again.status, 8) << again.err;
    EXPECT_NE(again.out.find("Supply 29 V DC (!)"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find(" °C; Supply"), std::string::npos) << again.out;
}

TEST_F(CliHealthRig, WatchSaysOfflineAndOnlineAsJsonLinesAndCtrlCEndsItCleanly)
{
    // Rounds every second while the wash is off from 2 s to 5 s after the rig started.
    const Result r = run("watch --every 1 --for 8 --json", true, true);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> events;
    for (const QByteArray& line : QByteArray::fromStdString(r.out).split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        ASSERT_FALSE(o.isEmpty()) << "one JSON object per line: " << line.toStdString();
        EXPECT_FALSE(o.value("time").toString().isEmpty());
        events.push_back(o.value("uid").toString().toStdString() + " " + o.value("event").toString().toStdString());
    }
    auto at = [&](const std::string& e) { return std::find(events.begin(), events.end(), e) - events.begin(); };
    EXPECT_LT(at("7FF0:00000302 new"), at("7FF0:00000302 offline"));
    EXPECT_LT(at("7FF0:00000302 offline"), at("7FF0:00000302 online"));
    EXPECT_LT(at("7FF0:00000302 online"), long(events.size()));
    EXPECT_LT(at("7FF0:00000301 status"), long(events.size()));

    // Interrupted: the interface is let go and the exit status is 0.
    const Result interrupted = run("watch --every 1 & sleep 2; kill -INT $!; wait $!", true, true);
    EXPECT_EQ(interrupted.status, 0) << interrupted.err;
    EXPECT_EQ(run("get 7FF0:00000301 device_label").status, 0) << "the line is free again";
}

TEST_F(CliRig, ArtNetNodePortsCarryEveryCommandAndOnlyTheNodeAskedIsHeard)
{
    // Loopback addresses of this process's own: parallel runs never meet. The
    // nodes listen on a port of their own too: a controller elsewhere may hold
    // Art-Net's port on every address.
    const std::string net = "127." + std::to_string(getpid() % 200 + 20) + ".0.";
    const std::string udp = ":" + std::to_string(7000 + getpid() % 2000);
    const std::string node = net + "2" + udp, logs = runtime.path().toStdString() + "/node";
    std::vector<std::unique_ptr<RigProcess>> nodes;
    auto startNode = [&](const std::string& address, std::vector<const char*> extra, const char* universes = "3") {
        const std::string log = logs + std::to_string(nodes.size());
        std::vector<const char*> args{"--artnet", address.c_str(), "--universe", universes,
                                      "--devices", "3", "--unpaced"};
        args.insert(args.end(), extra.begin(), extra.end());
        nodes.push_back(std::make_unique<RigProcess>(args, log));
        for (int i = 0; i < 250; ++i) {  // its table comes from a discovery of its line first
            std::ifstream in(log);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (text.find("Art-Net node") != std::string::npos)
                return true;
            usleep(20000);
        }
        return false;
    };
    // Universe 17 is on another sub-net: the node lists it in a poll reply of its own.
    ASSERT_TRUE(startNode(node, {}, "3,5,17"));
    const std::string artnet = "--kind artnet --interface " + node + " ";

    const Result listed = run(artnet + "list", false);
    EXPECT_EQ(listed.status, 0);
    for (const char* port : {" · universe 3", " · universe 5", " · universe 17"})
        EXPECT_NE(listed.out.find("vantrell-rig " + net + "2" + port), std::string::npos) << listed.out;
    for (const char* how : {"", "--flush "}) {  // the table kept, or discovered afresh
        const Result found = run(artnet + "--universe 3 discover --json " + how, false);
        ASSERT_EQ(found.status, 0) << how << found.err;
        EXPECT_EQ(found.json().size(), 3);
    }
    EXPECT_EQ(run(artnet + "--universe 3 --flush get " + first + " device_label", false).status, 2);
    // Each port's line has devices of its own.
    const Result every = run(artnet + "--universe all discover --json", false);
    ASSERT_EQ(every.json().size(), 9);
    std::set<QString> uids;
    for (const QJsonValue& d : every.json()) {
        uids.insert(d.toObject().value("uid").toString());
        EXPECT_EQ(d.toObject().value("universe").toInt(), uids.size() <= 3 ? 3 : uids.size() <= 6 ? 5 : 17);
    }
    EXPECT_EQ(uids.size(), 9u);
    ASSERT_EQ(run(artnet + "--universe 3 set " + first + " device_label 'Over Art-Net'", false).status, 0);
    const Result label = run(artnet + "--universe 3 get " + first + " device_label --json", false);
    EXPECT_EQ(valueOf(label.json(), "label").toString(), "Over Art-Net");

    // A port the node does not have gives no table: said, exit 4.
    const Result none = run(artnet + "--universe 4 discover", false);
    EXPECT_EQ(none.status, 4);
    EXPECT_NE(none.err.find("sent no table of devices"), std::string::npos) << none.err;

    // Replies from another address are no answer; a late node is waited for only as asked.
    ASSERT_TRUE(startNode(net + "3" + udp, {"--node-fault", ("foreign-" + net + "9").c_str(), "--quiet"}));
    const std::string foreign = "--kind artnet --interface " + net + "3" + udp + " --universe 3 ";
    EXPECT_EQ(run(foreign + "get " + first + " device_label", false).status, 1);
    ASSERT_TRUE(startNode(net + "4" + udp, {"--node-fault", "late-300", "--quiet"}));
    const std::string late = "--kind artnet --interface " + net + "4" + udp + " --universe 3 ";
    const Result tooSoon = run(late + "--node-wait 100 get " + first + " device_label", false);
    EXPECT_EQ(tooSoon.status, 1);
    EXPECT_NE(tooSoon.err.find("no reply to DEVICE_LABEL (each reply waited for 100 ms; --node-wait"),
              std::string::npos)
        << tooSoon.err;
    EXPECT_EQ(run(late + "--node-wait 2000 get " + first + " device_label", false).status, 0);
}
