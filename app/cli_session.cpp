#include "app/cli_session.h"

#include "link/interface_kinds.h"
#include "link/port_holder.h"
#include "rdm/pid_names.h"

#include <csignal>
#include <cstdio>

namespace cli {

namespace {

volatile std::sig_atomic_t gStopSignal = 0;

void OnStopSignal(int signal) { gStopSignal = signal; }

} // namespace

void CatchStopSignals()
{
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    // A signal ignored by whoever started the program (nohup, a background job)
    // stays ignored.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            sigaction(signal, &stop, nullptr);
    }
}

bool StopRequested() { return gStopSignal != 0; }

std::string StopSignalName()
{
    switch (gStopSignal) {
    case 0: return "";
    case SIGINT: return "Ctrl-C";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "vantrell-cli: %s\n(vantrell-cli --help shows the commands)\n", message.c_str());
    return kUsage;
}

bool Decimal(const std::string& text, long min, long max, long& out)
{
    const size_t digits = !text.empty() && text[0] == '-' && min < 0 ? 1 : 0;
    if (text.size() == digits || text.size() - digits > 10 ||
        text.find_first_not_of("0123456789", digits) != std::string::npos)
        return false;
    const long long v = std::stoll(text);
    if (v < min || v > max)
        return false;
    out = long(v);
    return true;
}

std::string Quoted(const std::string& argument)
{
    constexpr size_t kShown = 64;
    if (argument.size() <= kShown)
        return "\"" + EscapeControls(argument) + "\"";
    size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(argument[cut]) & 0xC0) == 0x80)
        --cut;  // not inside a UTF-8 character
    return "\"" + EscapeControls(argument.substr(0, cut)) + "...\" (" + std::to_string(argument.size()) + " bytes)";
}

int ValueError(const std::string& message)
{
    std::fprintf(stderr, "vantrell-cli: %s\n", message.c_str());
    return kUsage;
}

bool Problems::note(Uid uid, uint16_t pid, const ParameterReply& r)
{
    if (r.result == TxFailed) {
        interfaceFailed_ = true;
        return true;
    }
    if (r.result == TxNotAck) {
        const char* name = NackReasonName(r.nackReason);
        char code[16];
        std::snprintf(code, sizeof code, "NACK 0x%04X", unsigned(r.nackReason));
        add(uid, "refused " + PidText(pid) + " (" + (name ? name : code) + ")");
    } else if (r.timerExpired) {
        add(uid, "answered " + PidText(pid) + " with ACK_TIMER but had no answer ready within " +
                     std::to_string(kAckTimerLimitMs / 1000) + " s");
    } else {
        add(uid, "no reply to " + PidText(pid));
        noReply_ = true;
    }
    return false;
}

void Problems::add(Uid uid, const std::string& what) { entries_.emplace_back(uid, what); }

int Problems::report() const
{
    if (interfaceFailed_) {
        std::fprintf(stderr, "vantrell-cli: the interface stopped working (a write or read on it failed); "
                             "replug it and try again\n");
        return kInterfaceFailed;
    }
    if (entries_.empty())
        return kDone;
    std::string line;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const bool sameDevice = i && entries_[i - 1].first == entries_[i].first;
        line += sameDevice ? "; " : (i ? "; " : "") + UidColonText(entries_[i].first) + ": ";
        line += entries_[i].second;
    }
    if (noReply_ && !replyWait.empty())
        line += " (" + replyWait + ")";
    std::fprintf(stderr, "vantrell-cli: %s\n", line.c_str());
    return kDeviceFailed;
}

void StderrLog::appendLine(const std::string& text)
{
    if (!detailed_)
        return;
    for (const std::string& line : SplitLogLines(text))
        std::fprintf(stderr, "%s\n", line.c_str());
}

Session::Session(const Options& o) : options(o), log(o.detailed)
{
    engine.SetupRequestHeader();
    engine.setFastExchange(!o.fixedWaits);
}

bool Session::open()
{
    port.PortClose();
    port.PortInit();
    port.setKind(int8_t(options.kind));
    if (KindOnNetwork(options.kind))
        return openNodePort();
    std::vector<InterfaceEntry> rows;
    port.ListInterfaces(rows);
    if (!port.listNote().empty())
        std::fprintf(stderr, "vantrell-cli: virtual lines not listed: %s\n", port.listNote().c_str());
    const int row = ChooseInterfaceRow(options.kind, rows, options.interface, options.storedRow, options.storedName);
    std::string error;
    if (row < 0 && options.interface.empty() && !options.storedName.empty()) {
        error = "the interface the window last used, " + Quoted(options.storedName) +
                ", is not attached; choose one with --interface (vantrell-cli list shows them)";
    } else if (row < 0) {
        error = options.interface.empty() ? "no interface chosen (--interface, or choose one in the window)"
                                          : "no interface " + Quoted(options.interface) + " of kind " +
                                                InterfaceKindName(options.kind);
    } else {
        const InterfaceEntry& chosen = rows[size_t(row)];
        port.ChooseInterface(chosen);
        if (port.PortOpen() == 1)
            return true;
        if (!port.busyNode().empty()) {
            const std::string holders = ProgramsHolding(port.busyNode());
            error = "the interface \"" + chosen.text + "\" is held by another program (" +
                    (holders.empty() ? std::string("another user's, or the kernel's driver") : holders) +
                    "); close it there and try again";
        } else if (!port.refusal().empty()) {
            error = std::string(status_text::kInterfaceError) + ": " + port.refusal();
        } else {
            error = std::string(status_text::kInterfaceError) + ": " + chosen.text;
        }
    }
    std::fprintf(stderr, "vantrell-cli: %s\n", error.c_str());
    return false;
}

bool Session::openNodePort()
{
    // A node is named by its address (and UDP port, for one that is not on
    // Art-Net's own); the port by --universe. No poll is needed to reach it.
    // Without either, the node's port the window last used.
    uint32_t ip = 0;
    uint16_t udpPort = artnet::kUdpPort, portAddress = 0;
    const bool stored = !options.kindGiven && options.interface.empty() && !options.universeGiven &&
                        !options.storedName.empty();
    const std::string path = stored ? options.storedName : options.interface + "/" + std::to_string(options.universe);
    // An --interface is the node alone: a Port-Address in it is not taken.
    if ((!stored && options.interface.find('/') != std::string::npos) ||
        !ParseArtNetPortPath(path, ip, udpPort, portAddress)) {
        if (stored)
            std::fprintf(stderr, "vantrell-cli: the window last used %s, which is no node's port; choose one with "
                                 "--interface NODE_IP --universe N\n",
                         Quoted(path).c_str());
        else
            std::fprintf(stderr,
                         "vantrell-cli: --kind artnet takes --interface NODE_IP (or NODE_IP:UDP_PORT), not %s\n",
                         Quoted(options.interface).c_str());
        return false;
    }
    port.setDevicePath(path.c_str());
    port.setNodeWaitUs(options.nodeWaitMs * 1000);
    problems.replyWait =
        "each reply waited for " + std::to_string(options.nodeWaitMs) + " ms; --node-wait MS waits longer";
    if (port.PortOpen() == 1)
        return true;
    std::fprintf(stderr, "vantrell-cli: %s: %s\n", status_text::kInterfaceError, port.refusal().c_str());
    return false;
}

} // namespace cli
