#include "params/param_read.h"

#include "params/param_edit.h"
#include "params/param_query.h"
#include "params/param_transfer.h"
#include "params/standard_param.h"
#include "rdm/described_layout.h"
#include "rdm/device_info.h"
#include "rdm/message.h"
#include "rdm/pid_layouts.h"

namespace {

// Types the grid keeps no value of (double words, types left to the maker): with
// every parameter shown, such a manufacturer PID is read whole and shown as its
// description lays it out, one value as it is and several in brackets.
bool ShownByDescription(const RDMPARAMDESC& r)
{
    return IsManufacturerPid(r.pid) && !r.layout && r.dataType > DS_SIGNED_WORD;
}

std::string ReadDescribedValue(RdmEngine& engine, Uid uid, const RDMPARAMDESC& r)
{
    rdm::ParameterDescription description;
    description.pid = r.pid;
    description.pdlSize = r.pdlSize;
    description.dataType = r.dataType;
    description.minValue = r.minValue;
    description.maxValue = r.maxValue;
    const DescribedLayout layout = LayoutFromDescription(description);
    uint8_t data[rdm::kMaxPdl];
    const int n = GetParamData(engine, uid, r.pid, data, int(sizeof data));
    const auto fields = n < 0 ? std::nullopt : DecodeLayout(layout.layout.c_str(), data, size_t(n));
    if (!fields || fields->empty())
        return kNotAvailable;
    if (fields->size() == 1 && (*fields)[0].repetition < 0)
        return (*fields)[0].value;
    std::string text;
    for (const PidField& f : *fields)
        text += (text.empty() ? "" : ", ") + f.value;
    return "[" + text + "]";
}

} // namespace

int ReadDeviceParameters(RdmEngine& engine, Uid uid, ParamTable& table, const ParamReadSink& sink,
                         const RunControl& control, bool allParameters)
{
    const int count = GetSupportedParameters(engine, uid, table);
    table.count = 0;  // no record is valid until it is filled again
    sink.listed(count);

    std::array<std::string, 9> info;
    const bool answered = ReadDeviceInfo(engine, uid, info);
    sink.deviceInfo(answered ? &info : nullptr);

    uint8_t label[40] = {};
    GetParamBytes(engine, uid, rdm::SOFTWARE_VERSION_LABEL, label, 32);
    TerminateText(label, 32);
    sink.softwareVersionLabel(reinterpret_cast<const char*>(label));

    for (int k = 0; k < count; ++k) {
        if (control.stopped()) {
            engine.log().appendLine(status_text::kStoppedByUser);
            return k;
        }
        const uint16_t pid = table.supportedPids[k];
        RDMPARAMDESC& record = table.records[k];
        if (IsManufacturerPid(pid))
            GetParameterDescription(engine, uid, pid, record);
        else
            FillBuiltInDescription(pid, record);
        if (allParameters && !IsManufacturerPid(pid) && record.description == "Unknown PID")
            FillStandardDescription(pid, record);
        table.count = k + 1;
        // A description that did not come leaves the record cleared, its PID too:
        // its row stays empty rather than asking the device for PID 0.
        const bool described = record.pid != 0;
        const std::string value = !described                                       ? std::string()
                                  : allParameters && ShownByDescription(record) ? ReadDescribedValue(engine, uid, record)
                                                                                 : ReadParamValue(engine, uid, record);
        sink.row(k, record, value);
        control.step(k + 1, count);
    }
    return count;
}
