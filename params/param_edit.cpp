#include "params/param_edit.h"

#include "params/int_parse.h"
#include "params/param_transfer.h"
#include "params/standard_param.h"
#include "rdm/text_codec.h"

#include <cstring>

std::string ReadParamValue(RdmEngine& engine, Uid uid, RDMPARAMDESC& r)
{
    if (r.layout) {
        if (!StandardValueReadable(r))
            return std::string();
        const int n = GetParamData(engine, uid, r.pid, r.byteValues, kMaxParamPdl);
        r.valueLength = uint8_t(n < 0 ? 0 : n);
        const std::optional<std::string> text = n < 0 ? std::nullopt : StandardValueText(r);
        return text ? *text : kNotAvailable;
    }
    bool ok = false;
    if (r.dataType <= DS_SIGNED_BYTE)
        ok = GetParamBytes(engine, uid, r.pid, r.byteValues, kMaxParamPdl);
    else if (r.dataType == DS_UNSIGNED_WORD || r.dataType == DS_SIGNED_WORD)
        ok = GetParamWords(engine, uid, r.pid, r.wordValues, r.pdlSize / 2);
    // Double words and unknown types are not read: showing zeros would claim a value.
    return ok ? FormatParamValue(r) : kNotAvailable;
}

void StoreTextValue(RDMPARAMDESC& r, const std::string& text)
{
    std::memset(r.byteValues, 0, 32);
    const size_t n = text.size() < 31 ? text.size() : 31;
    std::memcpy(r.byteValues, text.data(), n);
    r.byteValues[n] = 0;
}

SetOutcome SendRecordValue(RdmEngine& engine, Uid uid, const RDMPARAMDESC& r)
{
    if (r.layout)  // the value as the device last gave it
        return SetParamBytes(engine, uid, r.pid, r.byteValues, r.valueLength);
    switch (r.dataType) {
    case DS_NOT_DEFINED:
    case DS_BIT_FIELD:
    case DS_UNSIGNED_BYTE:
    case DS_SIGNED_BYTE:
        return SetParamBytes(engine, uid, r.pid, r.byteValues, r.pdlSize);
    case DS_UNSIGNED_WORD:
    case DS_SIGNED_WORD:
        return SetParamWords(engine, uid, r.pid, r.wordValues, r.pdlSize / 2);
    default:
        return SetOutcome{TxAck, 0};  // nothing to send
    }
}

SetOutcome SendTextValue(RdmEngine& engine, Uid uid, const RDMPARAMDESC& r, const std::string& text)
{
    uint8_t bytes[rdm::kMaxPdl + 1] = {};
    size_t length = text.size() + 1;
    if (length > r.pdlSize)
        length = r.pdlSize;
    if (length > rdm::kMaxPdl)
        length = rdm::kMaxPdl;
    std::memcpy(bytes, text.data(), length < text.size() ? length : text.size());
    return SetParamBytes(engine, uid, r.pid, bytes, int(length));
}

std::optional<std::string> CommitStandardValue(RdmEngine& engine, Uid uid, RDMPARAMDESC& r, const std::string& text,
                                               bool readBack)
{
    std::vector<uint8_t> data;
    std::string error;
    if (!EncodeStandardValue(r, text, data, error))
        throw ConvertError(error);
    const RDMPARAMDESC before = r;
    std::memcpy(r.byteValues, data.data(), data.size());
    r.valueLength = uint8_t(data.size());
    const SetOutcome sent = SetParamBytes(engine, uid, r.pid, data.data(), int(data.size()));
    LogSetOutcome(engine, uid, Cp1251ToUtf8(r.description), sent);
    if (sent.result == TxNotAck || readBack) {
        const std::string shown = ReadParamValue(engine, uid, r);
        if (shown == kNotAvailable && sent.result == TxNotAck) {
            r = before;
            return StandardValueText(r).value_or(kNotAvailable);
        }
        return shown;
    }
    return std::nullopt;
}

namespace {

std::string ParameterName(const RDMPARAMDESC& r) { return Cp1251ToUtf8(r.description); }

// After a refused SET: the device's own value in `r`, read at once. When it cannot
// be read, `r` goes back to `before`, the value held before the refused one.
std::string ShowDeviceValue(RdmEngine& engine, Uid uid, RDMPARAMDESC& r, const RDMPARAMDESC& before)
{
    if (r.layout) {
        const std::string shown = ReadParamValue(engine, uid, r);
        if (shown == kNotAvailable)
            r = before;
        return shown == kNotAvailable ? StandardValueText(r).value_or(kNotAvailable) : shown;
    }
    const bool read = r.dataType == DS_UNSIGNED_WORD || r.dataType == DS_SIGNED_WORD
                          ? GetParamWords(engine, uid, r.pid, r.wordValues, r.pdlSize / 2)
                          : GetParamBytes(engine, uid, r.pid, r.byteValues, kMaxParamPdl);
    if (!read)
        r = before;
    return FormatParamValue(r);
}

} // namespace

std::optional<std::string> CommitValue(RdmEngine& engine, Uid uid, RDMPARAMDESC& r, const std::string& text,
                                       bool readBack)
{
    if (r.dataType == DS_ASCII) {
        StoreTextValue(r, text);
        return std::nullopt;
    }
    const RDMPARAMDESC before = r;
    StoreElement(r, StrToInt(text), 0);
    switch (r.dataType) {
    case DS_BIT_FIELD:
    case DS_UNSIGNED_BYTE:
    case DS_SIGNED_BYTE:
    case DS_UNSIGNED_WORD:
    case DS_SIGNED_WORD:
        break;
    default:
        return std::nullopt;
    }
    const SetOutcome sent = SendRecordValue(engine, uid, r);
    LogSetOutcome(engine, uid, ParameterName(r), sent);
    // A refused value is never kept: the cell shows what the device holds.
    if (sent.result == TxNotAck)
        return ShowDeviceValue(engine, uid, r, before);
    switch (r.dataType) {
    case DS_BIT_FIELD:
    case DS_UNSIGNED_BYTE:
    case DS_SIGNED_BYTE:
        if (readBack)
            return GetParamBytes(engine, uid, r.pid, r.byteValues, kMaxParamPdl) ? FormatParamValue(r)
                                                                                 : kNotAvailable;
        return std::nullopt;
    case DS_UNSIGNED_WORD:
    case DS_SIGNED_WORD:
        if (readBack)
            return GetParamWords(engine, uid, r.pid, r.wordValues, r.pdlSize / 2) ? FormatParamValue(r)
                                                                                  : kNotAvailable;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

std::optional<RefusedValue> SetRecord(RdmEngine& engine, Uid uid, int index, const RDMPARAMDESC& record,
                                      const std::string* text)
{
    const SetOutcome sent = text ? SendTextValue(engine, uid, record, *text) : SendRecordValue(engine, uid, record);
    LogSetOutcome(engine, uid, ParameterName(record), sent);
    if (sent.result != TxNotAck)
        return std::nullopt;
    RefusedValue shown{index, record, {}};
    shown.text = ShowDeviceValue(engine, uid, shown.record, record);
    return shown;
}

std::vector<RefusedValue> SendAllValues(RdmEngine& engine, Uid uid, const ParamTable& table,
                                        const std::vector<std::string>& texts, const RunControl& control)
{
    std::vector<RefusedValue> refused;
    engine.log().appendLine("Установка параметров " + UidLogText(uid));
    for (int k = 0; k < table.count; ++k) {
        const RDMPARAMDESC& record = table.records[k];
        if (!record.writable())
            continue;
        if (control.stopped()) {
            engine.log().appendLine(status_text::kStoppedByUser);
            return refused;
        }
        // A standard value never read has nothing to send.
        if ((record.dataType != DS_NOT_DEFINED && !record.layout) || record.valueLength) {
            const std::string text = size_t(k) < texts.size() ? texts[size_t(k)] : std::string();
            if (auto shown = SetRecord(engine, uid, k, record, record.dataType == DS_ASCII ? &text : nullptr))
                refused.push_back(std::move(*shown));
        }
        control.step(k + 1, table.count);
    }
    return refused;
}
