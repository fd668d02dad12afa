// patch auto: consecutive start addresses for the devices that take slots, with
// the arrangement before kept in a patch file that puts it back.
#include "app/cli_commands.h"

#include "app/cli_device.h"
#include "patch/auto_address.h"
#include "patch/patch_transfer.h"

#include <cstdio>

namespace cli {

int PatchAuto(const Options& o)
{
    Session s(o);
    if (!s.open())
        return kNoInterface;
    std::vector<Uid> found;
    const int verdict = RunDiscovery(s, found, false);
    // What each device has now: its footprint and start, and its label when it orders.
    std::vector<AddressedDevice> devices;
    for (const Uid uid : found) {
        if (s.problems.interfaceFailed() || StopRequested())
            break;
        rdm::DeviceInfo info;
        if (!ReadInfo(s, uid, info))
            continue;
        AddressedDevice d{uid, uint16_t(info.footprint ? info.startAddress - 1 : 0), info.footprint, {}};
        if (o.order == AddressOrder::Label)
            d.label = ReadLabel(s, uid, rdm::DEVICE_LABEL).value_or(std::string());
        devices.push_back(d);
    }
    if (verdict != kDone || !s.problems.empty() || StopRequested()) {
        // Addresses given without every device known could land on one not counted.
        std::fprintf(stderr, "vantrell-cli: patch auto: not every device on the line was found and read; "
                             "nothing was written\n");
        return Combined(verdict != kDone ? verdict : StopRequested() ? int(kStopped) : int(kDone), s.problems);
    }
    std::vector<PatchRecord> after;
    std::string why;
    if (!AutoAddress(devices, o.firstAddress, o.gap, o.order, after, why))
        return ValueError("patch auto: " + why + "; nothing was written");

    // The arrangement before, for patch write to put back.
    std::vector<PatchRecord> before;
    for (const AddressedDevice& d : devices)
        if (d.footprint)
            before.push_back({d.uid, d.startIndex, d.footprint});
    const std::string undo = o.undoFile.empty() ? BeforeAutoFileName() : o.undoFile;
    if (!SavePatchFile(undo, before, why))
        return ValueError("patch auto: the arrangement before could not be kept in " + undo + ": " + why +
                          "; nothing was written");
    std::fprintf(stderr, "vantrell-cli: the arrangement before is in %s (vantrell-cli patch write %s puts it back)\n",
                 undo.c_str(), undo.c_str());

    DeviceTable table;
    for (size_t i = 0; i < after.size(); ++i)
        table.entries[i] = {after[i].uid, after[i].startIndex, after[i].footprint};
    std::vector<TxResult> written(after.size(), TxNoResponse);
    const int sent = WritePatch(s.engine, table, int(after.size()), RunControl{StopRequested, {}},
                                [&written](int i, TxResult r) { written[size_t(i)] = r; });

    // Each address read back: only the device's own word says it took it.
    Table t({"uid", "footprint", "was", "start", "result"});
    for (size_t i = 0; i < after.size(); ++i) {
        const PatchRecord& record = after[i];
        uint16_t was = record.startIndex;
        for (const PatchRecord& b : before)
            if (b.uid == record.uid)
                was = b.startIndex;
        std::string result;
        if (int(i) >= sent) {
            result = "not written (stopped)";
            s.problems.add(record.uid, "start address not written: stopped");
        } else if (written[i] != TxAck) {
            ParameterReply reply;
            reply.result = written[i];
            s.problems.note(record.uid, rdm::DMX_START_ADDRESS, reply);
            result = written[i] == TxNotAck ? "refused" : written[i] == TxFailed ? "not sent" : "no reply";
        } else {
            rdm::DeviceInfo info;
            if (!ReadInfo(s, record.uid, info)) {
                result = "written, not read back";
            } else if (info.startAddress != record.startIndex + 1) {
                result = "reads back " + std::to_string(info.startAddress);
                s.problems.add(record.uid, "start address reads back " + std::to_string(info.startAddress) +
                                               ", not " + std::to_string(record.startIndex + 1));
            } else {
                result = was == record.startIndex ? "unchanged" : "written";
            }
        }
        t.add({UidColonText(record.uid), Cell::number(record.footprint), Cell::number(was + 1),
               Cell::number(record.startIndex + 1), result});
    }
    t.print(o.format);
    return Combined(verdict, s.problems);
}

} // namespace cli
