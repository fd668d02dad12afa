#include "params/param_read.h"

#include "params/param_edit.h"
#include "params/param_query.h"
#include "params/param_transfer.h"
#include "params/standard_param.h"
#include "rdm/device_info.h"

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
        const std::string value = ReadParamValue(engine, uid, record);
        sink.row(k, record, value);
        control.step(k + 1, count);
    }
    return count;
}
