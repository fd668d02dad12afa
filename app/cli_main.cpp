// vantrell-cli: the RDM operations of the window from the command line, over the
// same port, transaction, discovery and parameter code.
#include "app/cli_output.h"
#include "app/line_report.h"
#include "link/ftdi_d2xx.h"
#include "link/posix_serial.h"
#include "dmx/dmx_output.h"
#include "params/text_codec.h"
#include "patch/patch_file.h"
#include "patch/patch_transfer.h"
#include "rdm/device_info.h"
#include "rdm/discovery.h"
#include "rdm/parameter_exchange.h"
#include "rdm/pid_layouts.h"
#include "rdm/pid_names.h"
#include "rdm/standard_replies.h"
#include "settings/settings_store.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

enum Exit {
    kDone = 0,
    kDeviceFailed = 1,
    kUsage = 2,
    kNoInterface = 3,
    // A discovery that was not complete; the list printed is what it found.
    kCutShort = 4,
    kSetAside = 5,
    kInterfaceFailed = 6,
    kStopped = 7,
};

const char* const kUsageText =
    "Usage: vantrell-cli [OPTIONS] COMMAND [ARGS]\n"
    "The RDM operations of Vantrell from the command line.\n\n"
    "Commands:\n"
    "  list                     the interfaces of all three kinds, as the window lists them\n"
    "  discover                 run a discovery; print each UID found, then a table of the devices\n"
    "  info UID                 DEVICE_INFO, labels, software version and supported PIDs\n"
    "  get UID PID[=ARG,...]... read parameters (by name or number), decoded by their layout\n"
    "  set UID PID VALUE...     write a parameter\n"
    "  identify UID on|off      switch a device's identify\n"
    "  address UID N            set the DMX start address (1..512)\n"
    "  patch read               discover, then read every device's start address and footprint\n"
    "  patch write FILE.pat     set each device of a patch file to its start address\n"
    "  patch show FILE.pat      print a patch file\n"
    "  dmx SLOT=LEVEL...        send DMX frames (--period MS, --for SECONDS)\n"
    "Each command's --help says more (vantrell-cli get --help).\n\n"
    "Options:\n"
    "  --kind vcp|talvern|usbpro   the interface kind; default the window's\n"
    "  --interface I               a row number, a row's text, a virtual line's name, a device path\n"
    "                              or an FTDI serial number; default the window's row\n"
    "  --json, --csv               listings as JSON or CSV\n"
    "  --raw                       parameter data as hex, in and out\n"
    "  --discovery-timeout S       1..100 seconds, default the window's\n"
    "  --fixed-waits               the window's fixed waits instead of the fast exchange\n"
    "  --search part|tree          discovery's search: halving from the whole range after each\n"
    "                              device, or the UID tree; default tree with the fast exchange\n"
    "  -v                          the request and reply dumps of the detailed log, on stderr\n"
    "  --period MS, --for SECONDS  DMX frame period (default the window's) and how long (default\n"
    "                              until interrupted)\n"
    "  --help, --version\n\n"
    "Examples:\n"
    "  vantrell-cli discover --json\n"
    "  vantrell-cli get 7FF0:00000001 device_label dmx_start_address\n"
    "  vantrell-cli get 7FF0:00000001 dmx_personality_description=2\n"
    "  vantrell-cli set 7FF0:00000001 DEVICE_LABEL \"Truss 1 left\"\n"
    "  vantrell-cli address 7FF0:00000001 101\n\n"
    "Exit status: 0 done, 1 a device did not answer or refused, 2 usage or bad input,\n"
    "3 the interface could not be opened. A discovery (discover, patch read) that was not\n"
    "complete says why on stderr and exits 4 cut short by its time-out, 5 devices or UID\n"
    "ranges set aside for replies that could not be resolved, 6 the interface failed\n"
    "mid-run, 7 stopped by Ctrl-C.";

// What each command does, with an example, for "vantrell-cli COMMAND --help".
struct CommandHelp {
    const char* command;
    const char* text;
};
const CommandHelp kCommandHelp[] = {
    {"list", "list\n  The interfaces of all three kinds, as the window lists them: kind, row, text, path and\n"
             "  device number.\n  Example: vantrell-cli list --csv"},
    {"discover", "discover\n  A discovery as the window runs it, then a table of UID, manufacturer, model,\n"
                 "  category, start address, footprint, personality and label. UIDs found are shown on\n"
                 "  stderr as they come when it is a terminal.\n  Example: vantrell-cli discover --json"},
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
    {"patch", "patch read | patch write FILE.pat | patch show FILE.pat\n"
              "  read: discovers, then lists each device's UID, start address and footprint, overlaps marked.\n"
              "  write: sets each device of the file to its start address, as the window's Write does.\n"
              "  show: prints the file's devices.\n  Example: vantrell-cli patch write truss-1.pat"},
    {"dmx", "dmx SLOT=LEVEL... [--period MS] [--for SECONDS]\n  Sends DMX frames as the fader page does: the\n"
            "  slots given at their levels, the others at 0, until the time is up or Ctrl-C.\n"
            "  Example: vantrell-cli dmx 1=255 2=128 --period 25 --for 10"},
};

volatile std::sig_atomic_t gInterrupted = 0;

struct Options {
    int kind = KindStandardVcp;
    std::string interface;
    int storedRow = 0;
    int timeout = 10;
    int period = 32;
    double seconds = 0;  // 0: until interrupted
    bool detailed = false, raw = false, fixedWaits = false;
    Discovery::Search search = Discovery::Search::FollowExchange;
    Format format = Format::Table;
};

// The log goes to stderr: dumps with -v, and what the window's log would say.
class StderrLog final : public LogSink {
public:
    explicit StderrLog(bool detailed) : detailed_(detailed) {}
    void appendLine(const std::string& text) override
    {
        if (!detailed_)
            return;
        for (const std::string& line : SplitLogLines(text))
            std::fprintf(stderr, "%s\n", line.c_str());
    }
    bool detailed() const override { return detailed_; }

private:
    bool detailed_;
};

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "vantrell-cli: %s\n(vantrell-cli --help shows the commands)\n", message.c_str());
    return kUsage;
}

// A decimal option value within [min, max]; false for none, junk or out of range.
bool WholeNumber(const char* text, long min, long max, int& out)
{
    if (!text)
        return false;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*end || end == text || v < min || v > max)
        return false;
    out = int(v);
    return true;
}

bool ParseUidArg(const std::string& text, Uid& uid)
{
    std::string hex;
    for (char c : text)
        if (c != ':')
            hex += c;
    if (hex.size() != 12)
        return false;
    uid = 0;
    for (char c : hex) {
        const int v = std::isxdigit(static_cast<unsigned char>(c))
                          ? (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::toupper(c) - 'A' + 10))
                          : -1;
        if (v < 0)
            return false;
        uid = (uid << 4) | Uid(v);
    }
    return uid != kBroadcastUid;
}

// The interface the options choose, opened; false when none could be.
bool OpenInterface(InterfacePort& port, const Options& o, std::string& error)
{
    port.PortClose();
    port.PortInit();
    port.kind = int8_t(o.kind);
    std::vector<InterfaceEntry> rows;
    port.ListInterfaces(rows);
    const int row = ChooseInterfaceRow(o.kind, rows, o.interface, o.storedRow);
    if (row < 0) {
        error = o.interface.empty() ? "no interface chosen (--interface, or choose one in the window)"
                                    : "no interface \"" + o.interface + "\" of kind " + InterfaceKindName(o.kind);
        return false;
    }
    port.ChooseInterface(rows[size_t(row)]);
    if (port.PortOpen() != 1) {
        error = std::string(status_text::kInterfaceError) + ": " + rows[size_t(row)].text;
        return false;
    }
    return true;
}

std::string PidText(uint16_t pid)
{
    if (const PidName* n = FindPidName(pid))
        return n->name;
    char t[16];
    std::snprintf(t, sizeof t, "0x%04X", unsigned(pid));
    return t;
}

std::string HexText(const JoinedData& data)
{
    std::string out;
    char h[4];
    for (uint8_t b : data) {
        std::snprintf(h, sizeof h, "%02X", b);
        out += h;
    }
    return out;
}

// What a failed exchange says, and its exit status.
int ReportFailure(Uid uid, uint16_t pid, const ParameterReply& r)
{
    if (r.result == TxNotAck) {
        const char* name = NackReasonName(r.nackReason);
        std::fprintf(stderr, "vantrell-cli: %s refused %s: %s\n", UidColonText(uid).c_str(), PidText(pid).c_str(),
                     name ? name : ("NACK 0x" + std::to_string(r.nackReason)).c_str());
    } else {
        std::fprintf(stderr, "vantrell-cli: %s: no reply to %s\n", UidColonText(uid).c_str(), PidText(pid).c_str());
    }
    return kDeviceFailed;
}

// A manufacturer PID's layout, from its PARAMETER_DESCRIPTION.
std::string DescribedLayout(RdmEngine& engine, Uid uid, uint16_t pid)
{
    const ParameterReply d =
        ExchangeParameter(engine, uid, rdm::GET_COMMAND, rdm::PARAMETER_DESCRIPTION, {uint8_t(pid >> 8), uint8_t(pid)});
    rdm::ParameterDescription description;
    if (d.result != TxAck || !rdm::DecodeParameterDescription(d.data.data(), d.data.size(), description))
        return "data:hex";
    const uint8_t size = description.pdlSize, type = description.dataType;
    if (type == 2)
        return "value:text";
    if ((type == 3 || type == 1) && size == 1)
        return "value:u8";
    if ((type == 5 || type == 1) && size == 2)
        return "value:u16";
    if (type == 6 && size == 2)
        return "value:s16";
    if ((type == 7 || type == 1) && size == 4)
        return "value:u32";
    return "data:hex";
}

// Device texts are 8-bit on the wire; shown as UTF-8.
std::vector<PidField> Shown(std::vector<PidField> fields)
{
    for (PidField& f : fields)
        f.value = Cp1251ToUtf8(f.value);
    return fields;
}

struct Session {
    Options options;
    PosixSerial serial;
    FtdiD2xx d2xx;
    InterfacePort port{serial, d2xx};
    StderrLog log;
    RdmEngine engine{port, SystemClock::instance(), log};

    explicit Session(const Options& o) : options(o), log(o.detailed)
    {
        engine.SetupRequestHeader();
        engine.setFastExchange(!o.fixedWaits);
    }
    bool open()
    {
        std::string error;
        if (OpenInterface(port, options, error))
            return true;
        std::fprintf(stderr, "vantrell-cli: %s\n", error.c_str());
        return false;
    }
};

int List(const Options& o)
{
    PosixSerial serial;
    FtdiD2xx d2xx;
    InterfacePort port(serial, d2xx);
    Table t({"kind", "row", "text", "path", "device"});
    for (const InterfaceKindInfo& kind : kInterfaceKinds) {
        port.PortInit();
        port.kind = kind.kind;
        std::vector<InterfaceEntry> rows;
        port.ListInterfaces(rows);
        for (size_t i = 0; i < rows.size(); ++i)
            t.add({kind.token, std::to_string(i), rows[i].text, rows[i].path,
                   kind.byDevicePath ? "" : std::to_string(rows[i].deviceNumber)});
    }
    t.print(o.format);
    return kDone;
}

// One discovery, every device found in `found` (no bound but the line's). Returns
// kDone when the run was complete, else the verdict's exit status, said on stderr.
int RunDiscovery(Session& s, const Options& o, std::vector<Uid>& found, bool progress)
{
    gInterrupted = 0;
    auto previous = std::signal(SIGINT, [](int) { gInterrupted = 1; });
    Discovery discovery(s.engine, found,
                        DiscoveryHooks{[] {}, [] {}, [] {},
                                       [progress](const std::string& uid) {
                                           if (progress)
                                               std::fprintf(stderr, "found %s\n", uid.c_str());
                                       },
                                       [&o] { return o.timeout; }, [] { return gInterrupted != 0; }});
    discovery.search = o.search;
    const DiscoveryVerdict v = discovery.Run();
    std::signal(SIGINT, previous);
    const std::string count = std::to_string(found.size()) + " device(s) listed";
    int status = kDone;
    auto say = [&status](int code, const std::string& text) {
        std::fprintf(stderr, "vantrell-cli: %s\n", text.c_str());
        if (status == kDone)
            status = code;
    };
    if (v.interfaceFailed)
        say(kInterfaceFailed, "the interface failed during discovery; " + count + ", the list is partial");
    if (v.stoppedByUser)
        say(kStopped, "discovery stopped; " + count + ", more may be on the line");
    if (v.cutShort)
        say(kCutShort, "discovery cut short by its time-out (" + std::to_string(o.timeout) + " s); " + count +
                           ", more may be on the line");
    if (v.setAside)
        say(kSetAside, "discovery set aside " + std::to_string(v.setAside) +
                           " device(s) or UID range(s) whose replies could not be resolved; -v names them");
    return status;
}

int Discover(const Options& o)
{
    Session s(o);
    if (!s.open())
        return kNoInterface;
    std::vector<Uid> found;
    const int verdict = RunDiscovery(s, o, found, isatty(STDERR_FILENO));
    Table t({"uid", "manufacturer", "model", "category", "start", "footprint", "personality", "label"});
    int failed = 0;
    for (const Uid uid : found) {
        char manufacturer[8];
        std::snprintf(manufacturer, sizeof manufacturer, "%04X", unsigned(UidManufacturer(uid)));
        // With the interface gone, the UIDs found are all there is to say.
        if (verdict == kInterfaceFailed) {
            t.add({UidColonText(uid), manufacturer, "", "", "", "", "", ""});
            continue;
        }
        const ParameterReply info = ExchangeParameter(s.engine, uid, rdm::GET_COMMAND, rdm::DEVICE_INFO, {});
        const auto f = info.result == TxAck
                           ? DecodeLayout(FindPidLayout(rdm::DEVICE_INFO)->getReply, info.data.data(), info.data.size())
                           : std::nullopt;
        if (!f) {
            ++failed;
            t.add({UidColonText(uid), manufacturer, "", "", "", "", "", ""});
            continue;
        }
        const ParameterReply label = ExchangeParameter(s.engine, uid, rdm::GET_COMMAND, rdm::DEVICE_LABEL, {});
        const auto& v = *f;
        char model[8];
        std::snprintf(model, sizeof model, "%04X", unsigned(std::stoul(v[1].value)));
        const std::string text(label.data.begin(), label.data.end());
        t.add({UidColonText(uid), manufacturer, model, ProductCategoryName(uint16_t(std::stoul(v[2].value))), v[7].value,
               v[4].value, v[5].value + "/" + v[6].value, label.result == TxAck ? Cp1251ToUtf8(text) : ""});
    }
    t.print(o.format);
    if (verdict != kDone)
        return verdict;
    return failed ? kDeviceFailed : kDone;
}

int Info(const Options& o, Uid uid)
{
    Session s(o);
    if (!s.open())
        return kNoInterface;
    const ParameterReply info = ExchangeParameter(s.engine, uid, rdm::GET_COMMAND, rdm::DEVICE_INFO, {});
    if (info.result != TxAck)
        return ReportFailure(uid, rdm::DEVICE_INFO, info);
    Table t({"field", "value"});
    const auto fields = DecodeLayout(FindPidLayout(rdm::DEVICE_INFO)->getReply, info.data.data(), info.data.size());
    if (!fields) {
        t.add({"DEVICE_INFO", HexText(info.data) + " (does not fit DEVICE_INFO's layout)"});
    } else {
        for (const PidField& f : *fields) {
            std::string value = f.value;
            if (f.name == "product_category")
                value += " (" + std::string(ProductCategoryName(uint16_t(std::stoul(f.value)))) + ")";
            t.add({f.name, value});
        }
    }
    for (uint16_t pid : {rdm::MANUFACTURER_LABEL, rdm::DEVICE_MODEL_DESCRIPTION, rdm::DEVICE_LABEL,
                         rdm::SOFTWARE_VERSION_LABEL}) {
        const ParameterReply r = ExchangeParameter(s.engine, uid, rdm::GET_COMMAND, pid, {});
        if (r.result == TxAck)
            t.add({PidText(pid), Cp1251ToUtf8(std::string(r.data.begin(), r.data.end()))});
    }
    const ParameterReply supported = ExchangeParameter(s.engine, uid, rdm::GET_COMMAND, rdm::SUPPORTED_PARAMETERS, {});
    std::vector<uint16_t> pids;
    if (supported.result == TxAck) {
        pids.resize(supported.data.size() / 2);
        rdm::DecodeSupportedParameters(supported.data.data(), supported.data.size(), pids.data(), pids.size());
    }
    for (const uint16_t pid : pids) {
        char number[8];
        std::snprintf(number, sizeof number, "0x%04X", unsigned(pid));
        t.add({"supported", std::string(number) + " " + (FindPidName(pid) ? FindPidName(pid)->name : "manufacturer")});
    }
    t.print(o.format);
    return kDone;
}

// "NAME" or "NAME=1,2": the PID and the values its GET takes.
bool SplitPidArg(const std::string& arg, uint16_t& pid, std::vector<std::string>& values)
{
    const size_t eq = arg.find('=');
    const std::optional<uint16_t> parsed = ParsePid(arg.substr(0, eq));
    if (!parsed)
        return false;
    pid = *parsed;
    values.clear();
    for (size_t at = eq; at != std::string::npos && at < arg.size();) {
        const size_t next = arg.find(',', at + 1);
        values.push_back(arg.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
        at = next;
    }
    return true;
}

int GetOrSet(const Options& o, bool set, Uid uid, const std::vector<std::string>& args)
{
    // Everything is checked before anything is sent.
    struct Job {
        uint16_t pid;
        std::string layout;  // empty: from the device's PARAMETER_DESCRIPTION
        std::vector<std::string> values;
        std::vector<uint8_t> data;
    };
    std::vector<Job> jobs;
    for (size_t i = 0; i < args.size(); ++i) {
        Job job;
        if (set) {
            const std::optional<uint16_t> pid = ParsePid(args[i]);
            if (!pid)
                return UsageError("unknown PID \"" + args[i] + "\"");
            job.pid = *pid;
            for (size_t k = i + 1; k < args.size(); ++k)
                job.values.push_back(Utf8ToCp1251(args[k]));
            i = args.size();
        } else if (!SplitPidArg(args[i], job.pid, job.values)) {
            return UsageError("unknown PID \"" + args[i] + "\"");
        }
        if (job.pid <= rdm::DISC_UN_MUTE)
            return UsageError("discovery PIDs are not read or written (use discover)");
        const PidLayout* layout = FindPidLayout(job.pid);
        if (!layout && job.pid < 0x8000)
            return UsageError("unknown PID \"" + PidText(job.pid) + "\"");
        if (layout && !(set ? layout->setRequest : layout->getRequest))
            return UsageError(PidText(job.pid) + (set ? " cannot be set" : " cannot be read"));
        if (o.raw) {
            std::string error;
            if (!EncodeLayout("data:hex", job.values.empty() ? std::vector<std::string>{""} : job.values, job.data, error))
                return UsageError(error);
        } else if (layout) {
            std::string error;
            if (!EncodeLayout(set ? layout->setRequest : layout->getRequest, job.values, job.data, error))
                return UsageError(PidText(job.pid) + ": " + error);
            job.layout = set ? layout->setReply : layout->getReply;
        }
        if (set && job.pid == rdm::DMX_START_ADDRESS && !o.raw && job.data.size() == 2) {
            const int address = job.data[0] << 8 | job.data[1];
            if (address < 1 || address > 512)
                return UsageError("a start address is 1..512");
        }
        jobs.push_back(std::move(job));
    }
    if (jobs.empty())
        return UsageError(set ? "set needs a PID and its values" : "get needs at least one PID");

    Session s(o);
    if (!s.open())
        return kNoInterface;
    Table t({"pid", "field", "value"});
    int status = kDone;
    for (Job& job : jobs) {
        std::string layout = job.layout;
        std::vector<uint8_t> data = job.data;
        if (!o.raw && !FindPidLayout(job.pid)) {
            layout = DescribedLayout(s.engine, uid, job.pid);
            if (set) {
                std::string error;
                if (!EncodeLayout(layout.c_str(), job.values, data, error))
                    return UsageError(PidText(job.pid) + ": " + error);
                layout.clear();
            }
        }
        const ParameterReply r =
            ExchangeParameter(s.engine, uid, set ? rdm::SET_COMMAND : rdm::GET_COMMAND, job.pid, data);
        if (r.result != TxAck) {
            status = ReportFailure(uid, job.pid, r);
            continue;
        }
        if (set && r.data.empty()) {
            t.add({PidText(job.pid), "result", "ok"});
            continue;
        }
        if (o.raw || layout.empty()) {
            t.add({PidText(job.pid), "data", HexText(r.data)});
            continue;
        }
        const auto fields = DecodeLayout(layout.c_str(), r.data.data(), r.data.size());
        if (!fields) {
            t.add({PidText(job.pid), "data", HexText(r.data) + " (does not fit the PID's layout)"});
            continue;
        }
        for (const PidField& f : Shown(*fields))
            t.add({PidText(job.pid), f.name, f.value});
    }
    t.print(o.format);
    return status;
}

// Start address and footprint rows, with devices sharing slots marked.
void PrintArrangement(const std::vector<PatchRecord>& records, Format format)
{
    Table t({"uid", "start", "footprint", "overlaps"});
    for (size_t i = 0; i < records.size(); ++i) {
        std::string overlaps;
        const PatchRecord& a = records[i];
        for (size_t k = 0; k < records.size(); ++k) {
            const PatchRecord& b = records[k];
            if (k != i && a.footprint && b.footprint && a.startIndex < b.startIndex + b.footprint &&
                b.startIndex < a.startIndex + a.footprint)
                overlaps += (overlaps.empty() ? "" : " ") + UidColonText(b.uid);
        }
        t.add({UidColonText(a.uid), std::to_string(a.startIndex + 1), std::to_string(a.footprint), overlaps});
    }
    t.print(format);
}

int Patch(const Options& o, const std::vector<std::string>& args)
{
    if (args.empty())
        return UsageError("patch takes read, write FILE or show FILE");
    if (args[0] == "show" || args[0] == "write") {
        if (args.size() != 2)
            return UsageError("patch " + args[0] + " takes one file");
        std::vector<PatchRecord> records;
        std::string why;
        if (!LoadPatchFile(args[1], records, why))
            return UsageError(args[1] + ": " + why);
        if (args[0] == "show") {
            PrintArrangement(records, o.format);
            return kDone;
        }
        Session s(o);
        if (!s.open())
            return kNoInterface;
        DeviceTable table;
        for (size_t i = 0; i < records.size(); ++i)
            table.entries[i] = {records[i].uid, records[i].startIndex, records[i].footprint};
        Table t({"uid", "start", "result"});
        int failed = 0;
        WritePatch(s.engine, table, int(records.size()), RunControl{}, [&](int i, TxResult r) {
            failed += r != TxAck;
            t.add({UidColonText(records[size_t(i)].uid), std::to_string(records[size_t(i)].startIndex + 1),
                   r == TxAck ? "written" : r == TxNotAck ? "refused" : "no reply"});
        });
        t.print(o.format);
        return failed ? kDeviceFailed : kDone;
    }
    if (args[0] != "read" || args.size() != 1)
        return UsageError("patch takes read, write FILE or show FILE");
    Session s(o);
    if (!s.open())
        return kNoInterface;
    std::vector<Uid> found;
    const int verdict = RunDiscovery(s, o, found, false);
    std::vector<PatchRecord> records;
    int failed = 0;
    for (const Uid uid : found) {
        if (verdict == kInterfaceFailed)
            break;
        uint16_t footprint = 0, startIndex = 0;
        if (!ReadFootprintAndStart(s.engine, uid, footprint, startIndex)) {
            ++failed;
            std::fprintf(stderr, "vantrell-cli: %s: no reply to DEVICE_INFO\n", UidColonText(uid).c_str());
            continue;
        }
        records.push_back({uid, startIndex, footprint});
    }
    PrintArrangement(records, o.format);
    if (verdict != kDone)
        return verdict;
    return failed ? kDeviceFailed : kDone;
}

int Dmx(const Options& o, const std::vector<std::string>& args, uint16_t storedSize)
{
    std::vector<std::pair<int, int>> levels;
    int highest = 0;
    for (const std::string& a : args) {
        const size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0)
            return UsageError("\"" + a + "\": SLOT=LEVEL with a slot 1..512");
        const std::string slotText = a.substr(0, eq);
        char* end = nullptr;
        const long slot = std::strtol(slotText.c_str(), &end, 10);
        if (*end || slot < 1 || slot > DmxOutput::kMaxSlots)
            return UsageError("\"" + a + "\": SLOT=LEVEL with a slot 1..512");
        const long level = std::strtol(a.c_str() + eq + 1, &end, 10);
        if (eq + 1 == a.size() || *end || level < 0 || level > 255)
            return UsageError("\"" + a + "\": a level is 0..255");
        levels.emplace_back(int(slot), int(level));
        highest = std::max(highest, int(slot));
    }
    if (levels.empty())
        return UsageError("dmx needs at least one SLOT=LEVEL");
    Session s(o);
    if (!s.open())
        return kNoInterface;
    uint16_t size = uint16_t(std::max<int>(storedSize, highest));
    DmxOutput dmx(s.port, size);
    dmx.ZeroUniverse();
    for (auto [slot, level] : levels)
        dmx.SetSlot(slot, uint8_t(level));
    std::signal(SIGINT, [](int) { gInterrupted = 1; });
    std::signal(SIGTERM, [](int) { gInterrupted = 1; });
    if (isatty(STDERR_FILENO))
        std::fprintf(stderr, "sending %u slots every %d ms%s\n", unsigned(size), o.period,
                     o.seconds > 0 ? "" : " until Ctrl-C");
    dmx.DmxTimerStart(o.period);
    const uint64_t until = MonotonicUs() + uint64_t(o.seconds * 1e6);
    while (!gInterrupted && (o.seconds <= 0 || MonotonicUs() < until))
        usleep(20000);
    dmx.DmxTimerStop();
    return kDone;
}

} // namespace

int main(int argc, char** argv)
{
    const SettingsRecord stored = SettingsStore().LoadOrDefaults();
    Options o;
    o.kind = stored.InterfaceType;
    o.storedRow = stored.InterfaceSelection;
    o.timeout = stored.discoTimeout;
    o.period = stored.DMXPeriod;
    bool help = false;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a == "--period") {
            if (!WholeNumber(value(), SettingsBounds::kPeriodMin, SettingsBounds::kPeriodMax, o.period))
                return UsageError("--period takes 1 to 1000 ms");
        } else if (a == "--for") {
            const char* v = value();
            char* end = nullptr;
            const double sec = v ? std::strtod(v, &end) : 0;
            if (!v || *end || !(sec > 0) || sec > 86400)
                return UsageError("--for takes a number of seconds");
            o.seconds = sec;
        } else if (a == "--version") {
            std::puts("vantrell-cli " VANTRELL_VERSION);
            return kDone;
        } else if (a == "--kind") {
            const char* v = value();
            o.kind = v ? ParseInterfaceKind(v) : -1;
            if (o.kind < 0)
                return UsageError("--kind takes vcp, talvern or usbpro");
        } else if (a == "--interface") {
            const char* v = value();
            if (!v)
                return UsageError("--interface needs a value");
            o.interface = v;
        } else if (a == "--discovery-timeout") {
            if (!WholeNumber(value(), SettingsBounds::kTimeoutMin, SettingsBounds::kTimeoutMax, o.timeout))
                return UsageError("--discovery-timeout takes 1 to 100 seconds");
        } else if (a == "--json") {
            o.format = Format::Json;
        } else if (a == "--csv") {
            o.format = Format::Csv;
        } else if (a == "--raw") {
            o.raw = true;
        } else if (a == "--fixed-waits") {
            o.fixedWaits = true;
        } else if (a == "--search") {
            const char* v = value();
            const std::string how = v ? v : "";
            if (how != "part" && how != "tree")
                return UsageError("--search takes part or tree");
            o.search = how == "tree" ? Discovery::Search::Tree : Discovery::Search::Halving;
        } else if (a == "-v") {
            o.detailed = true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            return UsageError("unknown option \"" + a + "\"");
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
    const std::string command = words[0];
    const std::vector<std::string> args(words.begin() + 1, words.end());
    if (command == "list")
        return args.empty() ? List(o) : UsageError("list takes no arguments");
    if (command == "discover")
        return args.empty() ? Discover(o) : UsageError("discover takes no arguments");
    if (command == "patch")
        return Patch(o, args);
    if (command == "dmx")
        return Dmx(o, args, stored.UniverseSize);
    Uid uid = 0;
    if (args.empty() || !ParseUidArg(args[0], uid))
        return UsageError(args.empty() ? command + " needs a UID" : "malformed UID \"" + args[0] +
                                                                     "\" (twelve hex digits, 7FF0:00000001)");
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "info")
        return rest.empty() ? Info(o, uid) : UsageError("info takes one UID");
    if (command == "get")
        return GetOrSet(o, false, uid, rest);
    if (command == "set")
        return GetOrSet(o, true, uid, rest);
    if (command == "identify") {
        if (rest.size() != 1 || (rest[0] != "on" && rest[0] != "off"))
            return UsageError("identify takes on or off");
        return GetOrSet(o, true, uid, {"IDENTIFY_DEVICE", rest[0]});
    }
    if (command == "address") {
        if (rest.size() != 1)
            return UsageError("address takes one start address");
        return GetOrSet(o, true, uid, {"DMX_START_ADDRESS", rest[0]});
    }
    return UsageError("unknown command \"" + command + "\"");
}
