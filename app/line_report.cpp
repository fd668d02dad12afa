#include "app/line_report.h"

#include "rdm/device_info.h"
#include "rdm/discovery.h"


namespace {

// The log, as the window's pane would show it, indented under its heading.
class IndentedLog final : public LogSink {
public:
    IndentedLog(std::ostream& out, bool detailed) : out_(out), detailed_(detailed) {}

    void appendLine(const std::string& text) override
    {
        for (const std::string& line : SplitLogLines(text))
            out_ << "    " << line << '\n';
    }
    bool detailed() const override { return detailed_; }

private:
    std::ostream& out_;
    bool detailed_;
};

} // namespace

int RunLineReport(InterfacePort& port, Clock& clock, const LineReportOptions& options, std::ostream& out)
{
    out << "Interface kind: " << InterfaceKindName(options.kind) << '\n';
    port.PortClose();
    port.PortInit();
    port.setKind(int8_t(options.kind));
    port.setListAddresses(options.nodeAddresses);
    port.setNodeWaitUs(options.nodeWaitMs * 1000);
    std::vector<InterfaceEntry> rows;
    port.ListInterfaces(rows);
    out << "Interfaces listed: " << rows.size() << '\n';
    for (size_t i = 0; i < rows.size(); ++i)
        out << "  " << i << ": " << rows[i].text << (rows[i].path.empty() ? "" : "  (" + rows[i].path + ")") << '\n';

    const int row = ChooseInterfaceRow(options.kind, rows, options.interface, options.storedRow, options.storedName);
    if (row < 0) {
        const std::string stored = options.storedName.empty() ? "no row " + std::to_string(options.storedRow)
                                                              : "\"" + options.storedName + "\" not attached";
        out << "Chosen: none (" << (options.interface.empty() ? stored : "\"" + options.interface + "\" not listed")
            << ")\nResult: no interface to open\n";
        return 1;
    }
    port.ChooseInterface(rows[size_t(row)]);
    out << "Chosen: row " << row << ", " << rows[size_t(row)].text << '\n';

    IndentedLog log(out, options.detailed);
    RdmEngine engine(port, clock, log);
    engine.SetupRequestHeader();
    const bool opened = port.PortOpen() == 1;
    out << "Open: " << (opened ? status_text::kInterfaceReady : status_text::kInterfaceError) << '\n';
    if (!opened) {
        out << "Result: the interface did not open\n";
        return 1;
    }

    DeviceTable table;
    std::vector<std::string> found;
    Discovery discovery(engine, table,
                        DiscoveryHooks{[] {}, [] {}, [&found] { found.clear(); },
                                       [&found](Uid uid) { found.push_back(UidListText(uid)); },
                                       [&options] { return options.timeoutSeconds; }});
    out << "Discovery (time-out " << options.timeoutSeconds << " s):\n";
    const DiscoveryVerdict verdict = discovery.Run();

    int answered = 0;
    for (int i = 0; i < table.deviceCount; ++i) {
        const Uid uid = table.entries[i].uid;
        out << "Device " << UidColonText(uid) << ":\n";
        std::array<std::string, 9> info;
        if (ReadDeviceInfo(engine, uid, info)) {
            ++answered;
            for (int r = 0; r < 9; ++r)
                out << "    " << kDeviceInfoRowNames[r] << ": " << info[size_t(r)] << '\n';
        } else {
            out << "    DEVICE_INFO: no usable reply\n";
        }
    }
    port.PortClose();
    out << "Result: " << int(table.deviceCount) << " device(s) found, " << answered << " answered DEVICE_INFO\n";
    if (!verdict.complete()) {
        out << "Discovery was not complete:";
        if (verdict.interfaceFailed)
            out << " the interface failed;";
        if (verdict.stoppedByUser)
            out << " stopped;";
        if (verdict.cutShort)
            out << " cut short by its time-out;";
        if (verdict.listFull)
            out << " the list was full;";
        if (verdict.setAside)
            out << ' ' << verdict.setAside << " device(s) or UID range(s) set aside;";
        out << " the log above says more\n";
    }
    return 0;
}
