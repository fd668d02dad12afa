// vantrell-cli: the RDM operations of the window from the command line, over the
// same port, transaction, discovery and parameter code.
#include "app/cli_commands.h"
#include "link/artnet_packets.h"
#include "link/interface_kinds.h"
#include "settings/settings_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using namespace cli;

namespace {

// Laid out for help2man as well: a term, two spaces or more, its text.
const char* const kUsageText =
    "Usage: vantrell-cli [OPTIONS] COMMAND [ARGS]\n"
    "The RDM operations of Vantrell from the command line.\n\n"
    "Commands:\n"
    "  list                      the interfaces of the window's USB kinds, as it lists them;\n"
    "                            with --kind artnet, every Art-Net node and port that answers a poll\n"
    "  discover                  run a discovery; print each UID found, then a table of the devices\n"
    "  info UID                  DEVICE_INFO, labels, software version and supported PIDs\n"
    "  get UID PID[=ARG,...]...  read parameters (by name or number), decoded by their layout\n"
    "  set UID PID VALUE...      write a parameter\n"
    "  identify UID on|off       switch a device's identify\n"
    "  address UID N             set the DMX start address (1..512)\n"
    "  patch read                discover, then read every device's start address and footprint\n"
    "  patch write FILE.pat      set each device of a patch file to its start address\n"
    "  patch show FILE.pat       print a patch file\n"
    "  patch auto                give the devices consecutive start addresses (--from N, --gap G,\n"
    "                            --order uid|address|label), keeping the arrangement before in a\n"
    "                            patch file (--undo FILE) that patch write puts back\n"
    "  backup FILE               every settable parameter of the devices found (or --uids U,U...)\n"
    "                            into a JSON file, each missing one named\n"
    "  restore FILE              write a backup back, personality and start address first, and read\n"
    "                            each value back (--dry-run, --map OLD=NEW, --force, --uids)\n"
    "  dmx SLOT=LEVEL...         send DMX frames (--period MS, --for SECONDS)\n"
    "  watch                     devices online and offline, status messages, sensors and lamps,\n"
    "                            a line per change (--every S, --for S, --once, --json)\n"
    "Each command's --help says more (vantrell-cli get --help).\n"
    "A UID is written 7FF0:00000001, 7FF000000001 or 0x7FF000000001. FFFF:FFFFFFFF (every\n"
    "device) and 7FF0:FFFFFFFF (every device of one maker) take set, identify and address,\n"
    "which are then sent to all and expect no reply.\n\n"
    "Options:\n"
    "  --kind vcp|talvern|usbpro|artnet  the interface kind; default the window's\n"
    "  --universe N|all          Art-Net: the node port's Port-Address (default 0); all: discover\n"
    "                            on every RDM port of the node\n"
    "  --node-wait MS            Art-Net: how long a node's reply is waited for (default the\n"
    "                            window's, 500 unless set)\n"
    "  --flush                   Art-Net discover: the node discovers its line afresh first\n"
    "                            (ArtTodControl flush) instead of giving the table it keeps\n"
    "  --interface I             a row number, a row's text, a virtual line's name, a device path\n"
    "                            or an FTDI serial number; default the interface the window last used\n"
    "  --json, --csv             listings as JSON or CSV\n"
    "  --raw                     parameter data as hex, in and out\n"
    "  --discovery-timeout S     1..100 seconds, default the window's\n"
    "  --fixed-waits             the window's fixed waits instead of the fast exchange\n"
    "  --search part|tree        discovery's search: halving from the whole range after each\n"
    "                            device, or the UID tree; default tree with the fast exchange\n"
    "  -v                        the request and reply dumps of the detailed log, on stderr\n"
    "  --sub-device N|all        info, get, set, identify and address of sub-device N (1..512), or\n"
    "                            of every sub-device (all, for set, identify and address)\n"
    "  --sub-devices             info: each sub-device's DEVICE_INFO too\n"
    "  --period MS               DMX frame period, default the window's\n"
    "  --for SECONDS             how long to send DMX or watch, default until interrupted\n"
    "  --every SECONDS           watch: a round every so often, default 6\n"
    "  --once                    watch: one snapshot of every device and sensor, then exit\n"
    "  --help, --version\n\n"
    "Examples:\n"
    "  vantrell-cli discover --json  the devices on the line, as JSON\n"
    "  vantrell-cli get 7FF0:00000001 device_label dmx_start_address  two parameters of one device\n"
    "  vantrell-cli get 7FF0:00000001 dmx_personality_description=2  a GET that takes data\n"
    "  vantrell-cli set 7FF0:00000001 DEVICE_LABEL \"Truss 1 left\"  a new label\n"
    "  vantrell-cli address 7FF0:00000001 101  a new start address\n\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  a device did not answer, refused, or answered with data that does not fit\n"
    "  2  usage or bad input\n"
    "  3  the interface could not be opened (missing, or held by another program)\n"
    "  4  discovery cut short by its time-out, or an Art-Net node's table of devices came\n"
    "     incomplete; the devices found are listed\n"
    "  5  discovery set aside devices or UID ranges whose replies could not be resolved\n"
    "  6  the interface stopped working mid-run (writes or reads failing): replug it\n"
    "  7  stopped by Ctrl-C, SIGTERM or SIGHUP before it was done; the interface is closed first\n"
    "     (watch and dmx end so, with 0)\n"
    "  8  watch --once: a device reports a warning or an error\n"
    "Whatever did not fully succeed is said in one line on stderr; what did is still printed.";

// What each command does, with an example, for "vantrell-cli COMMAND --help".
struct CommandHelp {
    const char* command;
    const char* text;
};
const CommandHelp kCommandHelp[] = {
    {"list", "list\n  The interfaces of the window's USB kinds, as it lists them: kind, row, text, path and\n"
             "  device number. With --kind artnet, the ports of every Art-Net node that answers a poll\n"
             "  (broadcast on each IPv4 interface), or of the nodes --interface names (NODE_IP, or several\n"
             "  with commas), each waited for until it answers.\n"
             "  Example: vantrell-cli list --csv; vantrell-cli --kind artnet list"},
    {"discover", "discover\n  A discovery as the window runs it, then a table of UID, manufacturer, model,\n"
                 "  category, start address, footprint, personality and label. UIDs found are shown on\n"
                 "  stderr as they come when it is a terminal. On an Art-Net port the node's table of\n"
                 "  devices is read (--flush: the node discovers its line afresh first).\n"
                 "  Example: vantrell-cli discover --json"},
    {"info", "info UID\n  DEVICE_INFO decoded, the labels, the software version and the supported PIDs.\n"
             "  Example: vantrell-cli info 7FF0:00000001"},
    {"get", "get UID PID[=ARG,...]...\n  Reads parameters by E1.20 name (any case) or number, decoded by their\n"
            "  layout; a PID whose GET takes data gets it after =. Manufacturer PIDs are decoded by their\n"
            "  PARAMETER_DESCRIPTION; --raw shows the data as hex.\n"
            "  Example: vantrell-cli get 7FF0:00000001 device_label sensor_value=0"},
    {"set", "set UID PID VALUE...\n  Writes a parameter, its values in its layout's order (--raw: hex bytes).\n"
            "  Example: vantrell-cli set 7FF0:00000001 real_time_clock 2026 12 9 20 30 0"},
    {"identify", "identify UID on|off\n  Switches the device's identify.\n"
                 "  Example: vantrell-cli identify 7FF0:00000001 on"},
    {"address", "address UID N\n  Sets the DMX start address, 1..512.\n  Example: vantrell-cli address 7FF0:00000001 101"},
    {"patch", "patch read | patch write FILE.pat | patch show FILE.pat | patch auto\n"
              "  read: discovers, then lists each device's UID, start address and footprint, overlaps marked.\n"
              "  write: sets each device of the file to its start address, as the window's Write does.\n"
              "  show: prints the file's devices.\n"
              "  auto [--from N] [--gap G] [--order uid|address|label] [--undo FILE]: discovers, then gives the\n"
              "  devices that take slots start addresses one after another from N (default 1), G free slots\n"
              "  between them (default 0), in the order asked (default: as they stand). It refuses, naming the\n"
              "  device, when the universe cannot hold them; else it keeps the arrangement before in FILE\n"
              "  (default patch-before-auto-TIME.pat), writes, reads every address back and reports.\n"
              "  Example: vantrell-cli patch write truss-1.pat; vantrell-cli patch auto --from 101 --order uid"},
    {"backup", "backup FILE [--uids UID,UID...]\n"
               "  Discovers (or takes the devices --uids names), then reads from each device every parameter it\n"
               "  supports that can be both read and set: its label, start address and personality, the standard\n"
               "  settings it lists (pan and tilt invert, display, lamp on mode, curve, ...) and its own\n"
               "  parameters whose descriptions allow it. FILE (JSON, described in the README) keeps each value\n"
               "  by PID, name and field, and names what did not answer; the exit status says so too.\n"
               "  Example: vantrell-cli backup truss-1.json"},
    {"restore", "restore FILE [--dry-run] [--map OLD=NEW]... [--force] [--uids UID,UID...]\n"
                "  Writes a backup's values back: personality first, then the start address, then the rest,\n"
                "  each only when it differs, each read back. Reports per device and parameter: unchanged,\n"
                "  restored, refused (with the reason), no reply, reads back otherwise. Exit status 0 only when\n"
                "  every device holds what was kept. --dry-run compares and sends no SET. --map OLD=NEW gives\n"
                "  OLD's settings to NEW, a replacement; another maker or model is refused unless --force, which\n"
                "  writes only the parameters both support, described alike. --uids restores only those devices.\n"
                "  Example: vantrell-cli restore truss-1.json --map 7FF0:00000012=7FF0:00000031"},
    {"dmx", "dmx SLOT=LEVEL... [--period MS] [--for SECONDS]\n  Sends DMX frames as the fader page does: the\n"
            "  slots given at their levels, the others at 0, until the time is up or Ctrl-C (or SIGTERM, SIGHUP).\n"
            "  Example: vantrell-cli dmx 1=255 2=128 --period 25 --for 10"},
    {"watch", "watch [--every S] [--for S] [--once] [--json]\n"
              "  Every S seconds (6): an incremental discovery, which hears only new devices and ones that\n"
              "  came back after a power cycle, then each known device's mute (online or offline), its\n"
              "  STATUS_MESSAGES of warnings and errors, its sensors (SENSOR_DEFINITION once, SENSOR_VALUE)\n"
              "  and LAMP_HOURS, DEVICE_HOURS and LAMP_STATE where supported. One line per change; with\n"
              "  --json one JSON object per line. --once prints every device and sensor and exits 8 when\n"
              "  a device reports a warning or an error. Ctrl-C, SIGTERM or SIGHUP end it, exit status 0.\n"
              "  Example: vantrell-cli watch --every 10 --json"},
};

// A decimal option value within [min, max]; false for none, junk or out of range.
bool WholeNumber(const char* text, long min, long max, int& out)
{
    long v = 0;
    if (!text || !Decimal(text, min, max, v))
        return false;
    out = int(v);
    return true;
}

// The command named by the first word, with the rest as its arguments.
int RunCommand(const Options& o, const std::vector<std::string>& words, uint16_t universeSize)
{
    const std::string command = words[0];
    const std::vector<std::string> args(words.begin() + 1, words.end());
    if (!KindOnNetwork(o.kind) && (o.universeGiven || o.nodeWaitGiven || o.nodeFlush))
        return UsageError("--universe, --node-wait and --flush go with --kind artnet");
    if (o.nodeFlush && command != "discover")
        return UsageError("--flush goes with discover");
    if (!o.uids.empty() && command != "backup" && command != "restore")
        return UsageError("--uids goes with backup and restore");
    if ((o.dryRun || o.force || !o.maps.empty()) && command != "restore")
        return UsageError("--dry-run, --map and --force go with restore");
    if (o.everyUniverse && command != "discover")
        return UsageError("--universe all goes with discover; other commands take one Port-Address");
    if (command == "list")
        return args.empty() ? List(o) : UsageError("list takes no arguments");
    if (command == "discover")
        return args.empty() ? Discover(o) : UsageError("discover takes no arguments");
    if (command == "patch")
        return Patch(o, args);
    if (command == "dmx")
        return Dmx(o, args, universeSize);
    if (command == "backup" || command == "restore") {
        if (args.size() != 1)
            return UsageError(command + " takes one file");
        return command == "backup" ? Backup(o, args[0]) : Restore(o, args[0]);
    }
    if (command == "watch")
        return args.empty() ? Watch(o) : UsageError("watch takes no arguments");
    const bool takesUid = command == "info" || command == "get" || command == "set" || command == "identify" ||
                          command == "address";
    if (!takesUid)
        return UsageError("unknown command " + Quoted(command));
    if (args.empty())
        return UsageError(command + " needs a UID");
    const std::optional<Uid> uid = ParseUidText(args[0]);
    if (!uid)
        return ValueError("malformed UID " + Quoted(args[0]) + " (7FF0:00000001, 7FF000000001 or 0x7FF000000001)");
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (o.subDevice == 0xFFFF && (command == "info" || command == "get"))
        return ValueError("nobody answers a GET to every sub-device; name one with --sub-device N");
    if (command == "info") {
        if (!rest.empty())
            return UsageError("info takes one UID");
        if (IsBroadcastUid(*uid))
            return ValueError("nobody answers info for " + UidColonText(*uid) + ", which is every device; name one device");
        return Info(o, *uid);
    }
    if (command == "get")
        return GetOrSet(o, false, *uid, rest);
    if (command == "set")
        return GetOrSet(o, true, *uid, rest);
    if (command == "identify") {
        if (rest.size() != 1 || (rest[0] != "on" && rest[0] != "off"))
            return UsageError("identify takes on or off");
        return GetOrSet(o, true, *uid, {"IDENTIFY_DEVICE", rest[0]});
    }
    long address = 0;
    if (rest.size() != 1)
        return UsageError("address takes one start address");
    if (!Decimal(rest[0], 1, 512, address))
        return ValueError("address takes a start address 1..512, in decimal");
    return GetOrSet(o, true, *uid, {"DMX_START_ADDRESS", rest[0]});
}

} // namespace

int main(int argc, char** argv)
{
    const SettingsRecord stored = SettingsStore().LoadOrDefaults();
    Options o;
    o.kind = stored.InterfaceType;
    o.storedRow = stored.InterfaceSelection;
    o.storedName = stored.InterfaceName;
    o.timeout = stored.discoTimeout;
    o.period = stored.DMXPeriod;
    o.nodeWaitMs = uint32_t(stored.NodeWaitMs);
    bool help = false;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        // Nothing this program takes is longer; such an argument is not echoed back.
        if (std::strlen(argv[i]) > kMaxArgument)
            return UsageError("argument " + std::to_string(i) + " is " + std::to_string(std::strlen(argv[i])) +
                              " bytes long, more than any this program takes (" + std::to_string(kMaxArgument) + ")");
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--period") {
            if (!WholeNumber(value(), SettingsBounds::kPeriodMin, SettingsBounds::kPeriodMax, o.period))
                return ValueError("--period takes 1 to 1000 ms");
        } else if (a == "--for") {
            const char* v = value();
            char* end = nullptr;
            const double sec = v ? std::strtod(v, &end) : 0;
            if (!v || *end || !(sec > 0) || sec > 86400)
                return ValueError("--for takes a number of seconds");
            o.seconds = sec;
        } else if (a == "--version") {
            std::puts("vantrell-cli " VANTRELL_VERSION);
            return kDone;
        } else if (a == "--kind") {
            const char* v = value();
            o.kind = v ? ParseInterfaceKind(v) : -1;
            o.kindGiven = true;
            if (o.kind < 0)
                return ValueError("--kind takes vcp, talvern, usbpro or artnet");
        } else if (a == "--universe") {
            const char* v = value();
            o.universeGiven = true;
            if (v && std::strcmp(v, "all") == 0)
                o.everyUniverse = true;
            else if (!WholeNumber(v, 0, artnet::kMaxPortAddress, o.universe))
                return ValueError("--universe takes a Port-Address, 0..32767, or all");
        } else if (a == "--node-wait") {
            int ms = 0;
            o.nodeWaitGiven = true;
            if (!WholeNumber(value(), SettingsBounds::kNodeWaitMin, SettingsBounds::kNodeWaitMax, ms))
                return ValueError("--node-wait takes milliseconds, 10..10000");
            o.nodeWaitMs = uint32_t(ms);
        } else if (a == "--flush") {
            o.nodeFlush = true;
        } else if (a == "--interface") {
            const char* v = value();
            if (!v || !*v)
                return UsageError("--interface needs a value: a row, a name or a path (vantrell-cli list shows them)");
            if (std::strlen(v) >= kMaxInterfaceText)
                return ValueError("--interface takes at most " + std::to_string(kMaxInterfaceText - 1) + " bytes");
            o.interface = v;
        } else if (a == "--discovery-timeout") {
            if (!WholeNumber(value(), SettingsBounds::kTimeoutMin, SettingsBounds::kTimeoutMax, o.timeout))
                return ValueError("--discovery-timeout takes 1 to 100 seconds");
        } else if (a == "--json") {
            o.format = Format::Json;
        } else if (a == "--csv") {
            o.format = Format::Csv;
        } else if (a == "--raw") {
            o.raw = true;
        } else if (a == "--fixed-waits") {
            o.fixedWaits = true;
        } else if (a == "--sub-device") {
            const char* v = value();
            int n = 0;
            if (v && std::string(v) == "all")
                o.subDevice = 0xFFFF;
            else if (WholeNumber(v, 1, 512, n))
                o.subDevice = uint16_t(n);
            else
                return ValueError("--sub-device takes 1..512, or all (every sub-device, for set)");
        } else if (a == "--every") {
            const char* v = value();
            char* end = nullptr;
            const double sec = v ? std::strtod(v, &end) : 0;
            if (!v || *end || !(sec >= 0.5) || sec > 3600)
                return ValueError("--every takes 0.5 to 3600 seconds");
            o.every = sec;
        } else if (a == "--once") {
            o.once = true;
        } else if (a == "--sub-devices") {
            o.listSubDevices = true;
        } else if (a == "--search") {
            const char* v = value();
            const std::string how = v ? v : "";
            if (how != "part" && how != "tree")
                return ValueError("--search takes part or tree");
            o.search = how == "tree" ? Discovery::Search::Tree : Discovery::Search::Halving;
        } else if (a == "--from") {
            if (!WholeNumber(value(), 1, 512, o.firstAddress))
                return ValueError("--from takes a start address, 1 to 512");
        } else if (a == "--gap") {
            if (!WholeNumber(value(), 0, 511, o.gap))
                return ValueError("--gap takes 0 to 511 free slots");
        } else if (a == "--order") {
            const char* v = value();
            const std::string how = v ? v : "";
            if (how == "uid")
                o.order = AddressOrder::Uid;
            else if (how == "address")
                o.order = AddressOrder::Address;
            else if (how == "label")
                o.order = AddressOrder::Label;
            else
                return ValueError("--order takes uid, address or label");
        } else if (a == "--undo") {
            const char* v = value();
            if (!v || !*v)
                return UsageError("--undo needs a file name");
            o.undoFile = v;
        } else if (a == "--uids") {
            const char* v = value();
            std::string list = v ? v : "";
            o.uids.clear();
            for (size_t at = 0; v && at <= list.size();) {
                const size_t comma = std::min(list.find(',', at), list.size());
                const std::optional<Uid> uid = ParseUidText(list.substr(at, comma - at));
                if (!uid || !IsDeviceUid(*uid))
                    return ValueError("--uids takes device UIDs separated by commas, not " +
                                      Quoted(list.substr(at, comma - at)));
                if (std::find(o.uids.begin(), o.uids.end(), *uid) == o.uids.end())
                    o.uids.push_back(*uid);
                at = comma + 1;
            }
            if (o.uids.empty())
                return UsageError("--uids needs one UID or more, separated by commas");
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--map") {
            const char* v = value();
            const std::string pair = v ? v : "";
            const size_t eq = pair.find('=');
            const std::optional<Uid> from = ParseUidText(pair.substr(0, eq));
            const std::optional<Uid> to = eq == std::string::npos ? std::nullopt : ParseUidText(pair.substr(eq + 1));
            if (!from || !to || !IsDeviceUid(*from) || !IsDeviceUid(*to))
                return ValueError("--map takes OLD=NEW, two device UIDs, not " + Quoted(pair));
            for (const auto& m : o.maps)
                if (m.first == *from)
                    return ValueError("--map names " + UidColonText(*from) + " twice");
            o.maps.emplace_back(*from, *to);
        } else if (a == "-v") {
            o.detailed = true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            return UsageError("unknown option " + Quoted(a));
        } else {
            words.push_back(a);
        }
    }
    if (help) {
        for (const CommandHelp& h : kCommandHelp)
            if (!words.empty() && words[0] == h.command) {
                std::printf("Usage: vantrell-cli [OPTIONS] %s\n", h.text);
                return kDone;
            }
        std::puts(kUsageText);
        return kDone;
    }
    if (words.empty())
        return UsageError("no command given");
    CatchStopSignals();
    const int status = RunCommand(o, words, stored.UniverseSize);
    // Stopping is how watch and dmx end; any other command was cut short by it.
    if (StopRequested() && words[0] != "watch" && words[0] != "dmx" && status != kStopped) {
        std::fprintf(stderr, "vantrell-cli: stopped by %s before the command was done; the interface is closed\n",
                     StopSignalName().c_str());
        return kStopped;
    }
    return status;
}
