#include "app/cli_commands.h"

#include "app/cli_device.h"
#include "app/cli_fields.h"
#include "dmx/dmx_output.h"
#include "link/interface_kinds.h"
#include "link/udp_socket.h"
#include "rdm/text_codec.h"
#include "patch/patch_file.h"
#include "patch/patch_transfer.h"
#include "rdm/described_layout.h"
#include "rdm/e120_names.h"
#include "rdm/pid_names.h"
#include "rdm/standard_replies.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace cli {
namespace {


std::string HexText(const uint8_t* data, size_t size)
{
    std::string out;
    char h[4];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(h, sizeof h, "%02X", data[i]);
        out += h;
    }
    return out;
}

std::string CategoryText(uint16_t code)
{
    if (const char* name = ProductCategoryCodeName(code))
        return name;
    char t[16];
    std::snprintf(t, sizeof t, "0x%04X", unsigned(code));
    return t;
}

// The device's start address; none for a device without a footprint.
Cell StartCell(uint16_t startAddress)
{
    return startAddress >= 1 && startAddress <= 512 ? Cell::number(startAddress) : Cell();
}

// A GET of the device, or of the sub-device the options name.
ParameterReply Ask(Session& s, Uid uid, uint16_t pid, uint16_t subDevice)
{
    return ExchangeParameter(s.engine, rdm::RdmRequest(uid, rdm::GET_COMMAND, pid, nullptr, 0, subDevice));
}

Cell Optional(const std::optional<std::string>& text) { return text ? Cell(*text) : Cell(); }

const char* DoubtText(DiscoveryVerdict::Doubt why)
{
    switch (why) {
    case DiscoveryVerdict::Doubt::MuteNotAcknowledged: return "acknowledges no mute";
    case DiscoveryVerdict::Doubt::GarbledReplies: return "its discovery replies never come clean";
    case DiscoveryVerdict::Doubt::Unresolved: return "replies that cannot be resolved";
    case DiscoveryVerdict::Doubt::FarTooLate: return "answers far later than E1.20 allows";
    case DiscoveryVerdict::Doubt::SharedUid: return "its discovery replies garble: two devices may share this UID";
    }
    return "";
}

} // namespace

std::optional<std::string> ReadLabel(Session& s, Uid uid, uint16_t pid)
{
    const ParameterReply r = Ask(s, uid, pid, s.options.subDevice);
    if (r.result == TxAck)
        return Cp1251ToUtf8(std::string(r.data.begin(), r.data.end()).c_str());
    if (!(r.result == TxNotAck && r.nackReason == rdm::NR_UNKNOWN_PID))
        s.problems.note(uid, pid, r);
    return std::nullopt;
}


bool ReadInfo(Session& s, Uid uid, rdm::DeviceInfo& out)
{
    const ParameterReply info = ExchangeParameter(s.engine, uid, rdm::GET_COMMAND, rdm::DEVICE_INFO, {});
    if (info.result == TxAck && rdm::DecodeDeviceInfo(info.data.data(), info.data.size(), out))
        return true;
    if (info.result == TxAck)
        s.problems.add(uid, "DEVICE_INFO does not fit its layout");
    else
        s.problems.note(uid, rdm::DEVICE_INFO, info);
    return false;
}

int RunDiscovery(Session& s, std::vector<Uid>& found, bool progress, DiscoveryVerdict* verdict)
{
    const Options& o = s.options;
    Discovery discovery(s.engine, found,
                        DiscoveryHooks{[] {}, [] {}, [] {},
                                       [progress](Uid uid) {
                                           if (progress)
                                               std::fprintf(stderr, "found %s\n", UidListText(uid).c_str());
                                       },
                                       [&o] { return o.timeout; }, [] { return StopRequested(); }});
    discovery.search = o.search;
    discovery.fullNodeDiscovery = o.nodeFlush;
    const DiscoveryVerdict v = discovery.Run();
    if (verdict)
        *verdict = v;
    const std::string count = std::to_string(found.size()) + " device(s) listed";
    int status = kDone;
    auto say = [&status](int code, const std::string& text) {
        std::fprintf(stderr, "vantrell-cli: %s\n", text.c_str());
        if (status == kDone)
            status = code;
    };
    if (v.interfaceFailed)
        say(kInterfaceFailed, "the interface stopped working during discovery; " + count +
                                  ", the list is partial; replug it and try again");
    if (v.stoppedByUser)
        say(kStopped, "discovery stopped by " + StopSignalName() + "; " + count + ", more may be on the line");
    if (v.cutShort && !v.incompleteTable.empty())
        say(kCutShort, "the table of devices is incomplete: " + v.incompleteTable + "; " + count);
    else if (v.cutShort)
        say(kCutShort, "discovery cut short by its time-out (" + std::to_string(o.timeout) + " s); " + count +
                           ", more may be on the line");
    if (v.setAside)
        say(kSetAside, "discovery set aside " + std::to_string(v.setAside) +
                           " device(s) or UID range(s) whose replies could not be resolved; -v names them");
    return status;
}

int Combined(int verdict, const Problems& problems)
{
    const int devices = problems.report();
    return verdict != kDone ? verdict : devices;
}

namespace {

// A manufacturer PID, as its PARAMETER_DESCRIPTION describes it.
struct Described {
    DescribedLayout layout;
    bool known = false;
};

Described Describe(Session& s, Uid uid, uint16_t pid)
{
    Described d;
    d.layout.layout = "data:hex";
    const ParameterReply r =
        ExchangeParameter(s.engine, uid, rdm::GET_COMMAND, rdm::PARAMETER_DESCRIPTION, {uint8_t(pid >> 8), uint8_t(pid)});
    rdm::ParameterDescription description;
    if (r.result == TxAck && rdm::DecodeParameterDescription(r.data.data(), r.data.size(), description)) {
        d.layout = LayoutFromDescription(description);
        d.layout.name = Cp1251ToUtf8(d.layout.name);
        d.known = true;
    } else if (r.result == TxAck) {
        s.problems.add(uid, "PARAMETER_DESCRIPTION of " + PidText(pid) + " does not fit its layout");
    } else if (!(r.result == TxNotAck && r.nackReason == rdm::NR_UNKNOWN_PID)) {
        s.problems.note(uid, rdm::PARAMETER_DESCRIPTION, r);
    }
    return d;
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
        t.add({UidColonText(a.uid), a.footprint ? Cell::number(a.startIndex + 1) : Cell(), Cell::number(a.footprint),
               overlaps});
    }
    t.print(format);
}

} // namespace

int List(const Options& o)
{
    PosixSerial serial;
    FtdiD2xx d2xx;
    InterfacePort port(serial, d2xx);
    Table t({"kind", "row", "text", "path", "device"});
    for (const InterfaceKindInfo& kind : kInterfaceKinds) {
        // Unless asked for by --kind, only the kinds found without a word on the
        // network: polling is not what a plain list should do.
        if (o.kindGiven ? kind.kind != o.kind : kind.onNetwork)
            continue;
        port.PortInit();
        port.setKind(kind.kind);
        // A node given by its address is asked alone.
        port.setListAddresses(o.interface);
        std::vector<InterfaceEntry> rows;
        port.ListInterfaces(rows);
        if (kind.onNetwork && !port.listNote().empty())
            return UsageError("--interface: " + port.listNote());
        if (!port.listNote().empty())
            std::fprintf(stderr, "vantrell-cli: virtual lines not listed: %s\n", port.listNote().c_str());
        for (size_t i = 0; i < rows.size(); ++i)
            t.add({kind.token, Cell::number(long(i)), rows[i].text, rows[i].path,
                   kind.byDevicePath ? Cell() : Cell::number(rows[i].deviceNumber)});
    }
    t.print(o.format);
    return kDone;
}

namespace {

const std::vector<std::string> kDiscoverColumns{"uid",         "manufacturer", "model", "category",
                                                "start",       "footprint",    "personality",
                                                "personalities", "label",      "doubt", "set_aside"};

// One discovery and its rows in `t`, each led by `universe` when it is given.
int DiscoverInto(const Options& o, Table& t, const std::optional<Cell>& universe)
{
    Session s(o);
    if (!s.open())
        return kNoInterface;
    std::vector<Uid> found;
    DiscoveryVerdict v;
    int verdict = RunDiscovery(s, found, isatty(STDERR_FILENO), &v);
    // A device listed with doubt says why; a range set aside is a row of its own,
    // with no device in it.
    const size_t kColumns = kDiscoverColumns.size();
    auto add = [&](std::vector<Cell> row) {
        if (universe)
            row.insert(row.begin(), *universe);
        t.add(std::move(row));
    };
    for (const Uid uid : found) {
        char manufacturer[8];
        std::snprintf(manufacturer, sizeof manufacturer, "%04X", unsigned(UidManufacturer(uid)));
        std::vector<Cell> row{UidColonText(uid), manufacturer};
        Cell doubt;
        for (const DiscoveryVerdict::Listed& d : v.doubtful)
            if (d.uid == uid)
                doubt = DoubtText(d.why);
        // With the interface gone, the UIDs found are all there is to say.
        rdm::DeviceInfo d;
        if (verdict != kInterfaceFailed && !s.problems.interfaceFailed() && ReadInfo(s, uid, d)) {
            const std::optional<std::string> label = ReadLabel(s, uid, rdm::DEVICE_LABEL);
            row.insert(row.end(), {Cell::number(d.modelId), CategoryText(d.productCategory), StartCell(d.startAddress),
                                   Cell::number(d.footprint), Cell::number(d.personality),
                                   Cell::number(d.personalityCount), Optional(label)});
        }
        row.resize(kColumns - 2);
        row.insert(row.end(), {doubt, Cell()});
        add(row);
    }
    // A device that answers far too late may only show itself by its replies
    // coming while the devices found were read.
    for (const Uid uid : s.engine.namedLate()) {
        const bool known = std::find(found.begin(), found.end(), uid) != found.end() ||
                           std::any_of(v.ranges.begin(), v.ranges.end(),
                                       [uid](const DiscoveryVerdict::Range& r) { return r.lower <= uid && uid <= r.upper; });
        if (!known)
            v.ranges.push_back({uid, uid, DiscoveryVerdict::Doubt::FarTooLate});
        if (!known && verdict == kDone) {
            std::fprintf(stderr, "vantrell-cli: %s answers far later than E1.20 allows; it is not listed\n",
                         UidColonText(uid).c_str());
            verdict = kSetAside;
        }
    }
    for (const DiscoveryVerdict::Range& r : v.ranges) {
        std::vector<Cell> row(kColumns - 1);
        const std::string range =
            r.lower == r.upper ? UidColonText(r.lower) : UidColonText(r.lower) + ".." + UidColonText(r.upper);
        row.push_back(range + ": " + DoubtText(r.why));
        add(row);
    }
    return Combined(verdict, s.problems);
}

// discover --universe all: every port of the node that carries RDM, one after another.
int DiscoverEveryUniverse(const Options& o)
{
    // One node, asked by its address: nothing is polled before that is known.
    uint32_t node = 0;
    if (!ParseIpv4(o.interface.substr(0, o.interface.find(':')), node)) {
        std::fprintf(stderr, "vantrell-cli: --universe all takes --interface NODE_IP\n");
        return kUsage;
    }
    PosixSerial serial;
    FtdiD2xx d2xx;
    InterfacePort port(serial, d2xx);
    port.PortInit();
    port.setKind(int8_t(o.kind));
    port.setListAddresses(o.interface);
    std::vector<InterfaceEntry> rows;
    port.ListInterfaces(rows);
    std::vector<std::string> columns{"universe"};
    columns.insert(columns.end(), kDiscoverColumns.begin(), kDiscoverColumns.end());
    Table t(columns);
    int status = kDone, ports = 0;
    // The rows are that node's ports alone, each with its Port-Address.
    for (const InterfaceEntry& row : rows) {
        if (!row.carriesRdm)
            continue;
        ++ports;
        Options one = o;
        one.everyUniverse = false;
        one.universe = row.deviceNumber;
        const int result = DiscoverInto(one, t, Cell::number(row.deviceNumber));
        if (status == kDone)
            status = result;
    }
    if (ports == 0) {
        std::fprintf(stderr, "vantrell-cli: the node %s answered no poll with a port that carries RDM\n",
                     o.interface.c_str());
        return kNoInterface;
    }
    t.print(o.format);
    return status;
}

} // namespace

int Discover(const Options& o)
{
    if (KindOnNetwork(o.kind) && o.everyUniverse)
        return DiscoverEveryUniverse(o);
    Table t(kDiscoverColumns);
    const int status = DiscoverInto(o, t, std::nullopt);
    if (status != kNoInterface)
        t.print(o.format);
    return status;
}

int Info(const Options& o, Uid uid)
{
    Session s(o);
    if (!s.open())
        return kNoInterface;
    const ParameterReply info = Ask(s, uid, rdm::DEVICE_INFO, o.subDevice);
    std::optional<std::vector<PidField>> fields;
    if (info.result == TxAck) {
        fields = DecodeLayout(FindPidLayout(rdm::DEVICE_INFO)->getReply, info.data.data(), info.data.size());
        if (!fields)
            s.problems.add(uid, "DEVICE_INFO does not fit its layout");
    } else if (s.problems.note(uid, rdm::DEVICE_INFO, info)) {
        return s.problems.report();
    }
    const uint16_t labelPids[] = {rdm::MANUFACTURER_LABEL, rdm::DEVICE_MODEL_DESCRIPTION, rdm::DEVICE_LABEL,
                                  rdm::SOFTWARE_VERSION_LABEL};
    std::optional<std::string> labels[4];
    std::optional<std::vector<uint16_t>> supported;
    // A device that did not answer DEVICE_INFO is asked nothing more.
    if (info.result == TxAck) {
        for (size_t i = 0; i < 4 && !s.problems.interfaceFailed(); ++i)
            labels[i] = ReadLabel(s, uid, labelPids[i]);
        const ParameterReply r =
            s.problems.interfaceFailed() ? ParameterReply{} : Ask(s, uid, rdm::SUPPORTED_PARAMETERS, o.subDevice);
        if (r.result == TxAck) {
            supported.emplace(r.data.size() / 2);
            rdm::DecodeSupportedParameters(r.data.data(), r.data.size(), supported->data(), supported->size());
        } else if (!s.problems.interfaceFailed()) {
            s.problems.note(uid, rdm::SUPPORTED_PARAMETERS, r);
        }
    }
    // Each sub-device's DEVICE_INFO, when asked for.
    std::vector<std::pair<int, std::optional<std::vector<PidField>>>> subDevices;
    if (o.listSubDevices && fields && o.subDevice == 0) {
        int count = 0;
        for (const PidField& f : *fields)
            if (f.name == "sub_device_count")
                count = std::stoi(f.value);
        for (int n = 1; n <= count && n <= 512 && !s.problems.interfaceFailed(); ++n) {
            const ParameterReply r = Ask(s, uid, rdm::DEVICE_INFO, uint16_t(n));
            std::optional<std::vector<PidField>> sub;
            if (r.result == TxAck)
                sub = DecodeLayout(FindPidLayout(rdm::DEVICE_INFO)->getReply, r.data.data(), r.data.size());
            else
                s.problems.add(uid, "sub-device " + std::to_string(n) + ": " +
                                        (r.result == TxNotAck ? "refused" : "no reply to") + " DEVICE_INFO");
            subDevices.emplace_back(n, sub);
        }
    }
    auto nameOf = [](uint16_t pid) { return FindPidName(pid) ? Cell(FindPidName(pid)->name) : Cell(); };
    if (o.format == Format::Json) {
        JsonObject object;
        object.add("uid", UidColonText(uid));
        if (o.subDevice)
            object.add("sub_device", Cell::number(o.subDevice));
        if (fields)
            for (const PidField& f : *fields) {
                object.add(f.name, FieldCell(f));
                if (f.name == "product_category")
                    object.add("product_category_name", Cell(CategoryText(uint16_t(std::stoul(f.value)))));
            }
        for (size_t i = 0; i < 4; ++i) {
            std::string key = PidText(labelPids[i]);
            std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::tolower(c)); });
            object.add(key, Optional(labels[i]));
        }
        std::vector<std::string> pids;
        if (supported)
            for (uint16_t pid : *supported)
                pids.push_back(JsonObject().add("pid", Cell::number(pid)).add("name", nameOf(pid)).text());
        object.addRaw("supported_parameters", supported ? JsonArray(pids) : "null");
        if (o.listSubDevices) {
            std::vector<std::string> subs;
            for (const auto& [n, sub] : subDevices) {
                JsonObject one;
                one.add("sub_device", Cell::number(n));
                if (sub)
                    for (const PidField& f : *sub)
                        one.add(f.name, FieldCell(f));
                subs.push_back(one.text());
            }
            object.addRaw("sub_devices", JsonArray(subs));
        }
        PrintText(object.text() + "\n");
        return s.problems.report();
    }
    Table t({"field", "value"});
    if (info.result != TxAck) {
        t.print(o.format);  // nothing came to show
        return s.problems.report();
    }
    if (fields)
        for (const PidField& f : *fields)
            t.add({f.name, f.name == "product_category"
                               ? f.value + " (" + CategoryText(uint16_t(std::stoul(f.value))) + ")"
                               : FieldText(f)});
    else
        t.add({"DEVICE_INFO", HexText(info.data.data(), info.data.size())});
    for (size_t i = 0; i < 4; ++i)
        t.add({PidText(labelPids[i]), Optional(labels[i])});
    if (supported) {
        for (const uint16_t pid : *supported) {
            char number[8];
            std::snprintf(number, sizeof number, "0x%04X", unsigned(pid));
            t.add({"supported", std::string(number) + " " + (FindPidName(pid) ? FindPidName(pid)->name : "manufacturer")});
        }
    } else {
        t.add({"supported", Cell()});
    }
    for (const auto& [n, sub] : subDevices) {
        std::string text;
        if (sub)
            for (const PidField& f : *sub)
                if (f.name == "start_address" || f.name == "footprint")
                    text += (text.empty() ? "" : ", ") + f.name + " " + f.value;
        t.add({"sub-device " + std::to_string(n), text});
    }
    t.print(o.format);
    return s.problems.report();
}

namespace {

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

struct Job {
    uint16_t pid = 0;
    std::string layout;  // empty: from the device's PARAMETER_DESCRIPTION
    std::vector<std::string> values;
    std::vector<uint8_t> data;
};

// One parameter's listing: rows of the table, or an object of the JSON list.
struct Listing {
    uint16_t subDevice = 0;
    Table table{{"pid", "field", "value"}};
    std::vector<std::string> objects;

    void add(Uid uid, uint16_t pid, const std::string& description, const std::string& valuesJson,
             const std::string& error, const std::vector<std::array<std::string, 2>>& rows)
    {
        JsonObject o;
        o.add("uid", UidColonText(uid));
        if (subDevice)
            o.add("sub_device", Cell::number(subDevice));
        o.add("pid", Cell::number(pid));
        o.add("name", FindPidName(pid) ? Cell(FindPidName(pid)->name) : description.empty() ? Cell() : Cell(description));
        o.addRaw("values", valuesJson.empty() ? "null" : valuesJson);
        o.add("error", error.empty() ? Cell() : Cell(error));
        objects.push_back(o.text());
        const std::string shown = PidText(pid) + (description.empty() ? "" : " " + description);
        for (const auto& r : rows)
            table.add({shown, r[0], r[1]});
    }
    void print(Format format) const
    {
        if (format == Format::Json) {
            std::string out = "[";
            for (size_t i = 0; i < objects.size(); ++i)
                out += (i ? ",\n " : "\n ") + objects[i];
            PrintText(out + (objects.empty() ? "]\n" : "\n]\n"));
        } else {
            table.print(format);
        }
    }
};

} // namespace

int GetOrSet(const Options& o, bool set, Uid uid, const std::vector<std::string>& args)
{
    const bool toAll = IsBroadcastUid(uid);
    if (toAll && !set)
        return ValueError("nobody answers a GET to " + UidColonText(uid) + ", which is every device" +
                          (uid == kBroadcastUid ? "" : " of one maker") + "; name one device");
    // Everything is checked before anything is sent.
    std::vector<Job> jobs;
    for (size_t i = 0; i < args.size(); ++i) {
        Job job;
        if (set) {
            const std::optional<uint16_t> pid = ParsePid(args[i]);
            if (!pid)
                return ValueError("unknown PID " + Quoted(args[i]));
            job.pid = *pid;
            for (size_t k = i + 1; k < args.size(); ++k)
                job.values.push_back(Utf8ToCp1251(args[k]));
            i = args.size();
        } else if (!SplitPidArg(args[i], job.pid, job.values)) {
            return ValueError("unknown PID " + Quoted(args[i]));
        }
        if (job.pid <= rdm::DISC_UN_MUTE)
            return ValueError("discovery PIDs are not read or written (use discover)");
        const PidLayout* layout = FindPidLayout(job.pid);
        if (!layout && job.pid < 0x8000)
            return ValueError("unknown PID \"" + PidText(job.pid) + "\"");
        if (layout && !(set ? layout->setRequest : layout->getRequest))
            return ValueError(PidText(job.pid) + (set ? " cannot be set" : " cannot be read"));
        if (o.raw) {
            std::string error;
            if (!EncodeLayout("data:hex", job.values.empty() ? std::vector<std::string>{""} : job.values, job.data, error))
                return ValueError(error);
        } else if (layout) {
            std::string error;
            if (!EncodeLayout(set ? layout->setRequest : layout->getRequest, job.values, job.data, error))
                return ValueError(PidText(job.pid) + ": " + error);
            job.layout = set ? layout->setReply : layout->getReply;
        } else if (toAll) {
            return ValueError("a manufacturer PID sent to every device is given as hex bytes (--raw): "
                              "there is no one device to describe it");
        }
        if (set && job.pid == rdm::DMX_START_ADDRESS && !o.raw && job.data.size() == 2) {
            const int address = job.data[0] << 8 | job.data[1];
            if (address < 1 || address > 512)
                return ValueError("a start address is 1..512");
        }
        jobs.push_back(std::move(job));
    }
    if (jobs.empty())
        return UsageError(set ? "set needs a PID and its values" : "get needs at least one PID");

    Session s(o);
    if (!s.open())
        return kNoInterface;
    Listing listing;
    listing.subDevice = o.subDevice;
    for (Job& job : jobs) {
        if (StopRequested())
            break;  // said by the caller; what was done is listed
        if (s.problems.interfaceFailed())
            break;
        if (toAll) {
            const rdm::RdmRequest request(uid, rdm::SET_COMMAND, job.pid, job.data.data(), job.data.size(),
                                          o.subDevice);
            if (!SendToAll(s.engine, request)) {
                s.problems.note(uid, job.pid, ParameterReply{});
                break;
            }
            listing.add(uid, job.pid, "", JsonObject().add("result", Cell("sent to all")).text(), "",
                        {{"result", "sent to all"}});
            continue;
        }
        std::string layout = job.layout;
        std::vector<uint8_t> data = job.data;
        std::string description;
        if (!o.raw && !FindPidLayout(job.pid)) {
            const Described d = Describe(s, uid, job.pid);
            if (s.problems.interfaceFailed())
                break;
            description = d.layout.name;
            layout = d.layout.layout;
            if (set) {
                std::string error;
                // The values are checked by the device's own description before
                // anything is set; nothing more is sent when they do not fit it.
                if (!EncodeLayout(layout.c_str(), job.values, data, error) ||
                    !WithinDescribedLimits(d.layout, job.values, error))
                    return ValueError(PidText(job.pid) + " (" + description + "): " + error);
                layout.clear();
            }
        }
        const ParameterReply r = ExchangeParameter(
            s.engine, rdm::RdmRequest(uid, set ? rdm::SET_COMMAND : rdm::GET_COMMAND, job.pid, data.data(), data.size(),
                                      o.subDevice));
        if (r.result != TxAck) {
            if (s.problems.note(uid, job.pid, r))
                break;
            std::string error = r.result == TxNotAck ? "refused" : r.timerExpired ? "answer never ready" : "no reply";
            if (r.result == TxNotAck && NackReasonName(r.nackReason))
                error += std::string(": ") + NackReasonName(r.nackReason);
            listing.add(uid, job.pid, description, "", error, {});
            continue;
        }
        const std::string hex = HexText(r.data.data(), r.data.size());
        if (set && r.data.empty()) {
            listing.add(uid, job.pid, description, JsonObject().add("result", Cell("ok")).text(), "", {{"result", "ok"}});
            continue;
        }
        if (o.raw || layout.empty()) {
            listing.add(uid, job.pid, description, JsonObject().add("data", Cell(hex)).text(), "", {{"data", hex}});
            continue;
        }
        auto fields = DecodeLayout(layout.c_str(), r.data.data(), r.data.size());
        if (fields && job.pid == rdm::PARAMETER_DESCRIPTION)
            SignLimitsByDataType(*fields);
        if (!fields) {
            s.problems.add(uid, "the reply to " + PidText(job.pid) + " does not fit its layout");
            listing.add(uid, job.pid, description, JsonObject().add("data", Cell(hex)).text(),
                        "the reply does not fit the PID's layout", {{"data", hex + " (does not fit the PID's layout)"}});
            continue;
        }
        std::vector<std::array<std::string, 2>> rows;
        for (const PidField& f : *fields)
            rows.push_back({f.name, FieldText(f)});
        listing.add(uid, job.pid, description, FieldsJson(*fields), "", rows);
    }
    listing.print(o.format);
    return s.problems.report();
}

int Patch(const Options& o, const std::vector<std::string>& args)
{
    if (args.empty())
        return UsageError("patch takes read, write FILE, show FILE or auto");
    if (args[0] == "auto") {
        if (args.size() != 1)
            return UsageError("patch auto takes no file: --from, --gap, --order and --undo say how");
        return PatchAuto(o);
    }
    if (args[0] == "show" || args[0] == "write") {
        if (args.size() != 2)
            return UsageError("patch " + args[0] + " takes one file");
        std::vector<PatchRecord> records;
        std::string why;
        if (!LoadPatchFile(args[1], records, why))
            return ValueError(args[1] + ": " + why);
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
        WritePatch(s.engine, table, int(records.size()), RunControl{StopRequested, {}}, [&](int i, TxResult r) {
            const PatchRecord& record = records[size_t(i)];
            ParameterReply reply;
            reply.result = r;
            if (r != TxAck)
                s.problems.note(record.uid, rdm::DMX_START_ADDRESS, reply);
            t.add({UidColonText(record.uid), Cell::number(record.startIndex + 1),
                   r == TxAck ? "written" : r == TxNotAck ? "refused" : r == TxFailed ? "not sent" : "no reply"});
        });
        t.print(o.format);
        return s.problems.report();
    }
    if (args[0] != "read" || args.size() != 1)
        return UsageError("patch takes read, write FILE, show FILE or auto");
    Session s(o);
    if (!s.open())
        return kNoInterface;
    std::vector<Uid> found;
    const int verdict = RunDiscovery(s, found, false);
    std::vector<PatchRecord> records;
    for (const Uid uid : found) {
        if (verdict == kInterfaceFailed || s.problems.interfaceFailed())
            break;
        rdm::DeviceInfo d;
        if (!ReadInfo(s, uid, d))
            continue;
        records.push_back({uid, uint16_t(d.startAddress - 1), d.footprint});
    }
    PrintArrangement(records, o.format);
    return Combined(verdict, s.problems);
}

int Dmx(const Options& o, const std::vector<std::string>& args, uint16_t storedSize)
{
    std::vector<std::pair<int, int>> levels;
    int highest = 0;
    for (const std::string& a : args) {
        const size_t eq = a.find('=');
        if (eq == std::string::npos || eq == 0)
            return ValueError(Quoted(a) + ": SLOT=LEVEL with a slot 1..512");
        long slot = 0, level = 0;
        if (!Decimal(a.substr(0, eq), 1, DmxOutput::kMaxSlots, slot))
            return ValueError(Quoted(a) + ": SLOT=LEVEL with a slot 1..512");
        if (!Decimal(a.substr(eq + 1), 0, 255, level))
            return ValueError(Quoted(a) + ": a level is 0..255");
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
    if (isatty(STDERR_FILENO))
        std::fprintf(stderr, "sending %u slots every %d ms%s\n", unsigned(size), o.period,
                     o.seconds > 0 ? "" : " until Ctrl-C");
    const uint64_t frameUs = DmxOutput::FrameUs(size);
    if (uint64_t(o.period) * 1000 < frameUs)
        std::fprintf(stderr, "vantrell-cli: a frame of %u slots takes %.1f ms on the line, longer than the period "
                             "of %d ms: frames go back to back, no faster\n",
                     unsigned(size), double(frameUs) / 1000, o.period);
    dmx.DmxTimerStart(o.period);
    const uint64_t until = MonotonicUs() + uint64_t(o.seconds * 1e6);
    while (!StopRequested() && (o.seconds <= 0 || MonotonicUs() < until))
        usleep(20000);
    dmx.DmxTimerStop();
    return kDone;
}

} // namespace cli
