// vantrell-rig: a virtual DMX512/RDM line with simulated responders, published as
// a pseudo-terminal that Vantrell lists under "Стандартный VCP".
#include "settings/settings_store.h"
#include "link/enumeration.h"
#include "rdm/pid_names.h"
#include "rdm/rdm_defs.h"
#include "link/udp_socket.h"
#include "rig/artnet_node.h"
#include "rig/fixtures.h"
#include "rig/pty_line.h"
#include "rig/rig_file.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

void Usage()
{
    std::puts("Usage: vantrell-rig [--devices N | --file RIG.json] [--name NAME] [--quiet] [--select-in-app] "
              "[--unpaced] [--latency MS] [--widget] [--widget-wait MS] [--power-cycle UID@S[+D]]\n"
              "A virtual DMX512/RDM line of simulated responders, published as a pseudo-terminal\n"
              "that Vantrell lists among its serial (VCP) interfaces.\n\n"
              "  --devices N      N stock fixtures (moving head, dimmer pack, LED par, fogger, ...), default 8\n"
              "  --file F         devices and faults from a rig file (JSON)\n"
              "  --name NAME      the line's name in the interface list, default \"rig\"\n"
              "  --quiet          do not log requests and replies\n"
              "  --select-in-app  store this line as Vantrell's interface, so its next start connects to it\n"
              "  --unpaced        hand replies over at once instead of at the line's pace (250000 baud,\n"
              "                   breaks, each device's turnaround)\n"
              "  --latency MS     deliver received bytes only every MS ms, as a USB-serial chip's latency\n"
              "                   timer does (16 as ftdi_sio leaves it, 1 with low latency); default 0\n"
              "  --widget         speak on the pty as an Enttec USB Pro widget does on its USB serial side,\n"
              "                   in framed messages (for an emulated FTDI chip in front of it)\n"
              "  --widget-wait MS how long the widget listens for a reply before it reports its time-out\n"
              "                   (0.1 to 1000, default 3; implies --widget)\n"
              "  --power-cycle UID@S[+D]\n"
              "                   switch that device off S seconds after the start, for D seconds\n"
              "                   (default 10); it comes back un-muted, as after a power cycle\n"
              "  --artnet ADDRESS[:PORT]\n"
              "                   answer as an Art-Net node on ADDRESS (a loopback address such as\n"
              "                   127.0.0.2 keeps it on this machine), a line behind each of its\n"
              "                   ports, instead of publishing a pseudo-terminal\n"
              "  --universe N[,N]...\n"
              "                   the node's ports by Port-Address (0 to 32767), up to 8, default 1;\n"
              "                   each port gets --devices stock fixtures of its own\n"
              "  --node-fault F   lose-block (the table's last ArtTodData never sent), late-MS (ArtRdm\n"
              "                   replies held back MS ms), foreign-ADDRESS (replies sent from ADDRESS),\n"
              "                   silent (no answer at all); repeatable\n"
              "  --version        print the version and exit");
}

const char* ClassName(uint8_t cc)
{
    switch (cc) {
    case rdm::DISCOVERY_COMMAND: return "DISCOVERY";
    case rdm::GET_COMMAND: return "GET";
    case rdm::SET_COMMAND: return "SET";
    default: return "?";
    }
}

std::string Hex(const std::vector<uint8_t>& bytes, size_t limit = 48)
{
    std::string out;
    char h[4];
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(h, sizeof h, "%02X ", bytes[i]);
        out += h;
    }
    if (bytes.size() > limit)
        out += "...";
    return out;
}

// The slots of a frame that are not at zero, as "1=255 2=128", at most 16 of them.
std::string LevelsText(const std::vector<uint8_t>& levels)
{
    std::string out;
    int shown = 0, more = 0;
    char item[32];
    for (size_t i = 0; i < levels.size(); ++i) {
        if (levels[i] == 0)
            continue;
        if (shown == 16) {
            ++more;
            continue;
        }
        std::snprintf(item, sizeof item, "%s%zu=%u", shown ? " " : "", i + 1, unsigned(levels[i]));
        out += item;
        ++shown;
    }
    if (more)
        out += " and " + std::to_string(more) + " more";
    return shown ? out : "every slot at 0";
}

void ApplyPowerCycles(rig::VirtualLine& line, uint64_t startedUs, std::mutex& printLock)
{
    line.applyPowerCycles((MonotonicUs() - startedUs) / 1000, [&](const rig::Responder& r) {
        std::lock_guard<std::mutex> lock(printLock);
        std::printf("power: %s %s\n", UidColonText(r.uid()).c_str(), r.powered ? "on (un-muted)" : "off");
        std::fflush(stdout);
    });
}

// Each request, reply and changed frame of the line, on stdout; `prefix` names
// the line among several.
void LogLine(rig::VirtualLine& line, const std::string& prefix, std::mutex& printLock)
{
    line.onRequest = [&printLock, prefix](const rig::RecordedRequest& r) {
        std::lock_guard<std::mutex> lock(printLock);
        if (!r.whole) {
            std::printf("%s-> malformed request: %s\n", prefix.c_str(), Hex(r.bytes).c_str());
        } else {
            const rig::Request& q = r.decoded;
            char number[8];
            std::snprintf(number, sizeof number, "0x%04X", unsigned(q.pid));
            // A named PID with its number; an unnamed one is its number.
            const std::string pid = FindPidName(q.pid) ? PidText(q.pid) + " (" + number + ")" : PidText(q.pid);
            std::printf("%s-> %s %s to %s tn %u pdl %zu %s\n", prefix.c_str(), ClassName(q.commandClass), pid.c_str(),
                        UidColonText(q.destination).c_str(), unsigned(q.transaction), q.data.size(),
                        Hex(std::vector<uint8_t>(q.data.begin(), q.data.end()), 16).c_str());
        }
        std::fflush(stdout);
    };
    line.onReply = [&printLock, prefix](const rig::RecordedReply& r) {
        std::lock_guard<std::mutex> lock(printLock);
        std::printf("%s<- %s%zu bytes: %s\n", prefix.c_str(), r.collision ? "collision, " : "", r.bytes.size(),
                    Hex(r.bytes).c_str());
        std::fflush(stdout);
    };
    // A frame is logged only when its levels differ from the frame before.
    line.onFrame = [&printLock, prefix, last = std::vector<uint8_t>()](const rig::RecordedFrame& f) mutable {
        if (f.startCode != 0 || f.levels == last)
            return;
        last = f.levels;
        std::lock_guard<std::mutex> lock(printLock);
        std::printf("%sDMX: %d slots, %s\n", prefix.c_str(), f.slotCount, LevelsText(f.levels).c_str());
        std::fflush(stdout);
    };
}

// "1,2,7" into `universes`, each once, at most as many as a node has ports.
bool ParseUniverses(const char* text, std::vector<uint16_t>& universes)
{
    const char* p = text;
    for (;;) {
        char* end = nullptr;
        const long n = std::strtol(p, &end, 10);
        if (*p < '0' || *p > '9' || end == p || n > artnet::kMaxPortAddress ||
            universes.size() == rig::ArtNetNode::kMaxPorts ||
            std::find(universes.begin(), universes.end(), uint16_t(n)) != universes.end())
            return false;
        universes.push_back(uint16_t(n));
        if (*end == '\0')
            return true;
        if (*end != ',')
            return false;
        p = end + 1;
    }
}

bool SelectInApp(const std::string& path)
{
    std::vector<InterfaceEntry> list;
    EnumComPorts(list);
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].path != path)
            continue;
        SettingsStore store;
        SettingsRecord settings;
        try {
            store.Load(settings);
        } catch (const SettingsError&) {
            SetDefaults(settings);
        }
        settings.InterfaceType = 0;
        settings.InterfaceSelection = int32_t(i);
        // The window and vantrell-cli find the line by its text, wherever it is listed.
        settings.InterfaceName = list[i].text;
        try {
            return store.Save(settings);
        } catch (const SettingsError& e) {
            std::fprintf(stderr, "vantrell-rig: %s\n", e.what());
            return false;
        }
    }
    return false;
}

// The lines as the ports of an Art-Net node at ADDRESS[:UDP_PORT], until a signal.
int RunNode(const std::string& address, const std::vector<uint16_t>& universes,
            const std::vector<std::string>& faultNames, std::vector<std::unique_ptr<rig::VirtualLine>>& lines,
            std::mutex& printLock, bool quiet)
{
    const size_t colon = address.find(':');
    uint32_t ip = 0;
    long udpPort = artnet::kUdpPort;
    char* end = nullptr;
    if (colon != std::string::npos)
        udpPort = std::strtol(address.c_str() + colon + 1, &end, 10);
    if (!ParseIpv4(address.substr(0, colon), ip) || (end && *end) || udpPort < 1 || udpPort > 65535) {
        std::fprintf(stderr, "vantrell-rig: --artnet takes an IPv4 address, optionally with :UDP_PORT\n");
        return 2;
    }
    std::vector<rig::ArtNetNode::Port> ports;
    for (size_t i = 0; i < universes.size(); ++i)
        ports.push_back({universes[i], lines[i].get()});
    rig::ArtNetNode node("vantrell-rig", ip, ports);
    for (const std::string& f : faultNames) {
        if (f == "lose-block") {
            node.faults.loseTodBlock = true;
        } else if (f == "silent") {
            node.faults.silent = true;
        } else if (f.rfind("late-", 0) == 0 && std::strtol(f.c_str() + 5, &end, 10) > 0 && *end == '\0') {
            node.faults.rdmLateMs = uint32_t(std::strtol(f.c_str() + 5, nullptr, 10));
        } else if (f.rfind("foreign-", 0) == 0 && ParseIpv4(f.substr(8), node.foreignIp)) {
            node.faults.foreignReplies = true;
        } else {
            std::fprintf(stderr, "vantrell-rig: --node-fault takes lose-block, late-MS, foreign-ADDRESS or silent\n");
            return 2;
        }
    }
    if (!quiet)
        node.log = [&](const std::string& text) {
            std::lock_guard<std::mutex> lock(printLock);
            std::printf("node: %s\n", text.c_str());
            std::fflush(stdout);
        };
    struct sigaction stop {};
    stop.sa_handler = OnSignal;
    sigemptyset(&stop.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaction(signal, &stop, nullptr);
    std::string error;
    if (!node.start(error, uint16_t(udpPort))) {
        std::fprintf(stderr, "vantrell-rig: %s\n", error.c_str());
        return 1;
    }
    std::printf("Art-Net node %s:%ld\n", Ipv4Text(ip).c_str(), udpPort);
    const std::vector<std::vector<uint64_t>> tables = node.tables();
    for (size_t i = 0; i < universes.size(); ++i)
        std::printf("  universe (Port-Address) %u %s: %zu device(s) in its table\n", unsigned(universes[i]),
                    artnet::PortAddressText(universes[i]).c_str(), tables[i].size());
    std::fflush(stdout);
    const uint64_t startedUs = MonotonicUs();
    while (!gStop) {
        usleep(200000);
        for (auto& line : lines)
            ApplyPowerCycles(*line, startedUs, printLock);
    }
    node.stop();
    std::printf("Art-Net node %s closed\n", Ipv4Text(ip).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int devices = 8;
    std::string file, name = "rig";
    bool quiet = false, select = false, nameGiven = false, paced = true;
    int latencyMs = 0;
    bool widget = false;
    uint64_t widgetWaitUs = rig::kWidgetTimeoutUs;
    std::vector<std::string> powerCycles;  // UID@S[+D]
    std::string artnetAddress;             // ADDRESS[:UDP_PORT]: an Art-Net node instead of a pty
    std::vector<uint16_t> universes;  // the node's ports
    std::vector<std::string> nodeFaults;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--devices" && i + 1 < argc) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            devices = *argv[i] >= '0' && *argv[i] <= '9' && *end == '\0' && n <= rig::kMaxRigDevices ? int(n) : -1;
        } else if (a == "--file" && i + 1 < argc) {
            file = argv[++i];
        } else if (a == "--name" && i + 1 < argc) {
            name = argv[++i];
            nameGiven = true;
        } else if (a == "--unpaced") {
            paced = false;
        } else if (a == "--latency" && i + 1 < argc) {
            char* end = nullptr;
            const long ms = std::strtol(argv[++i], &end, 10);
            if (*argv[i] == '\0' || *end != '\0' || ms < 0 || ms > 255) {
                std::fprintf(stderr, "vantrell-rig: --latency takes 0 to 255 ms\n");
                return 2;
            }
            latencyMs = int(ms);
        } else if (a == "--widget") {
            widget = true;
        } else if (a == "--widget-wait" && i + 1 < argc) {
            char* end = nullptr;
            const double ms = std::strtod(argv[++i], &end);
            if (*argv[i] == '\0' || *end != '\0' || !(ms >= 0.1 && ms <= 1000)) {
                std::fprintf(stderr, "vantrell-rig: --widget-wait takes 0.1 to 1000 ms\n");
                return 2;
            }
            widgetWaitUs = uint64_t(ms * 1000);
            widget = true;
        } else if (a == "--power-cycle" && i + 1 < argc) {
            powerCycles.push_back(argv[++i]);
        } else if (a == "--artnet" && i + 1 < argc) {
            artnetAddress = argv[++i];
        } else if (a == "--universe" && i + 1 < argc) {
            if (!ParseUniverses(argv[++i], universes)) {
                std::fprintf(stderr, "vantrell-rig: --universe takes Port-Addresses, 0 to 32767, each once, at most "
                                     "8 in all (1,2,3)\n");
                return 2;
            }
        } else if (a == "--node-fault" && i + 1 < argc) {
            nodeFaults.push_back(argv[++i]);
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--select-in-app") {
            select = true;
        } else if (a == "--version") {
            std::puts("vantrell-rig " VANTRELL_VERSION);
            return 0;
        } else {
            Usage();
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    if (artnetAddress.empty() && (!nodeFaults.empty() || !universes.empty())) {
        std::fprintf(stderr, "vantrell-rig: --universe and --node-fault go with --artnet\n");
        return 2;
    }
    if (universes.empty())
        universes.push_back(1);
    if (universes.size() > 1 && !file.empty()) {
        std::fprintf(stderr, "vantrell-rig: a rig file describes one line: give it one --universe\n");
        return 2;
    }
    // One line, or one behind each port of the node.
    std::vector<std::unique_ptr<rig::VirtualLine>> lines;
    for (size_t i = 0; i < universes.size(); ++i) {
        lines.push_back(std::make_unique<rig::VirtualLine>(SystemClock::instance()));
        lines.back()->paced = paced;
        lines.back()->recordLimit = 4096;  // a rig left running keeps only its recent history
    }
    rig::VirtualLine& line = *lines[0];
    if (!file.empty()) {
        std::string error, fileName;
        if (!rig::LoadRigFile(file, line, fileName, error)) {
            std::fprintf(stderr, "vantrell-rig: %s\n", error.c_str());
            return 1;
        }
        if (!nameGiven && !fileName.empty())
            name = fileName;
    } else {
        if (devices < 0 || devices > rig::kMaxRigDevices) {
            std::fprintf(stderr, "vantrell-rig: --devices takes 0 to %d\n", rig::kMaxRigDevices);
            return 2;
        }
        for (size_t i = 0; i < lines.size(); ++i)
            rig::AddStockDevices(*lines[i], devices, uint32_t(i));
    }

    for (const std::string& cycle : powerCycles) {
        // UID@S[+D]: off S seconds after the start, for D seconds (10 unless given).
        const size_t at = cycle.find('@'), plus = cycle.find('+', at == std::string::npos ? 0 : at);
        char* end = nullptr;
        const double offAt = at == std::string::npos ? -1 : std::strtod(cycle.c_str() + at + 1, &end);
        const bool atOk = end && (*end == '\0' || *end == '+');
        const double length = plus == std::string::npos ? 10 : std::strtod(cycle.c_str() + plus + 1, &end);
        const std::optional<Uid> named = at != std::string::npos ? Uid::parse(cycle.substr(0, at)) : std::nullopt;
        rig::Responder* r = nullptr;
        for (size_t i = 0; named && !r && i < lines.size(); ++i)
            r = lines[i]->find(*named);
        if (!r || !atOk || *end != '\0' || !(offAt >= 0 && offAt < 86400) || !(length > 0 && length < 86400)) {
            std::fprintf(stderr, "vantrell-rig: --power-cycle takes UID@SECONDS[+SECONDS] of a device on the line\n");
            return 2;
        }
        r->powerOffAtMs = uint32_t(offAt * 1000);
        r->powerOffForMs = uint32_t(length * 1000);
    }

    std::mutex printLock;
    if (!quiet)
        for (size_t i = 0; i < lines.size(); ++i)
            LogLine(*lines[i], lines.size() > 1 ? "[" + std::to_string(universes[i]) + "] " : std::string(), printLock);

    // From --name or from the rig file alike: a plain name inside the lines folder.
    if (!IsPlainLineName(name)) {
        std::fprintf(stderr, "vantrell-rig: the line name must be a plain name of at most 64 bytes: no '/', no "
                             "leading dot, no control characters\n");
        return 2;
    }

    // Every way a terminal or a shell ends a program closes the line the same way:
    // its entry and lock are removed. A closed pipe on stdout is one of them.
    struct sigaction stop {};
    stop.sa_handler = OnSignal;
    sigemptyset(&stop.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaction(signal, &stop, nullptr);
    if (!artnetAddress.empty())
        return RunNode(artnetAddress, universes, nodeFaults, lines, printLock, quiet);
    rig::PtyLine pty(line);
    pty.latencyUs = uint32_t(latencyMs) * 1000u;
    pty.widget = widget;
    pty.widgetWaitUs = widgetWaitUs;
    std::string error;
    if (!pty.open(name, error)) {
        std::fprintf(stderr, "vantrell-rig: %s\n", error.c_str());
        return 1;
    }
    std::printf("line \"%s\": %s -> %s (%s", name.c_str(), pty.publishedPath().c_str(), pty.slavePath().c_str(),
                paced ? "paced" : "unpaced");
    if (latencyMs)
        std::printf(", latency timer %d ms", latencyMs);
    if (widget)
        std::printf(", as an Enttec USB Pro widget that waits %.1f ms for a reply", double(widgetWaitUs) / 1000);
    std::printf(")\n");
    for (auto& r : line.responders())
        std::printf("  %s  %-24s start %3u  footprint %3u  turnaround %4u us%s\n", UidColonText(r->uid()).c_str(),
                    r->model().modelDescription.c_str(), unsigned(r->startAddress), unsigned(r->footprint()),
                    unsigned(r->turnaroundUs), r->faults.silent ? "  (silent)" : "");
    std::fflush(stdout);
    if (select && !SelectInApp(pty.publishedPath()))
        std::fprintf(stderr, "vantrell-rig: could not store the line in Vantrell's settings\n");

    pty.start();
    // While DMX frames come, the rate the line carried them at, every few seconds.
    constexpr int kReportSeconds = 5;
    uint64_t framesBefore = line.frameCount(), droppedBefore = line.framesDropped(), reportedAt = MonotonicUs();
    const uint64_t startedUs = reportedAt;
    while (!gStop) {
        usleep(200000);
        const uint64_t now = MonotonicUs();
        ApplyPowerCycles(line, startedUs, printLock);
        if (now - reportedAt < kReportSeconds * 1000000ull)
            continue;
        const uint64_t frames = line.frameCount();
        if (frames != framesBefore) {
            std::lock_guard<std::mutex> lock(printLock);
            std::printf("DMX: %.1f frames/s received\n", double(frames - framesBefore) * 1e6 / double(now - reportedAt));
            std::fflush(stdout);
        }
        const uint64_t dropped = line.framesDropped();
        if (dropped != droppedBefore) {
            std::lock_guard<std::mutex> lock(printLock);
            std::printf("DMX: %llu frames dropped: they came faster than the line carries them\n",
                        static_cast<unsigned long long>(dropped - droppedBefore));
            std::fflush(stdout);
        }
        droppedBefore = dropped;
        framesBefore = frames;
        reportedAt = now;
    }
    pty.stop();
    std::printf("line \"%s\" closed\n", name.c_str());
    return 0;
}
