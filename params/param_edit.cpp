#include "params/param_edit.h"

#include "params/int_parse.h"
#include "params/param_transfer.h"

#include <cstring>

std::string ReadParamValue(RdmEngine& engine, Uid uid, RDMPARAMDESC& r)
{
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

void SendRecordValue(RdmEngine& engine, Uid uid, const RDMPARAMDESC& r)
{
    switch (r.dataType) {
    case DS_NOT_DEFINED:
    case DS_BIT_FIELD:
    case DS_UNSIGNED_BYTE:
    case DS_SIGNED_BYTE:
        SetParamBytes(engine, uid, r.pid, r.byteValues, r.pdlSize);
        break;
    case DS_UNSIGNED_WORD:
    case DS_SIGNED_WORD:
        SetParamWords(engine, uid, r.pid, r.wordValues, r.pdlSize / 2);
        break;
    default:
        break;
    }
}

void SendTextValue(RdmEngine& engine, Uid uid, const RDMPARAMDESC& r, const std::string& text)
{
    uint8_t bytes[rdm::kMaxPdl + 1] = {};
    size_t length = text.size() + 1;
    if (length > r.pdlSize)
        length = r.pdlSize;
    if (length > rdm::kMaxPdl)
        length = rdm::kMaxPdl;
    std::memcpy(bytes, text.data(), length < text.size() ? length : text.size());
    SetParamBytes(engine, uid, r.pid, bytes, int(length));
}

std::optional<std::string> CommitValue(RdmEngine& engine, Uid uid, RDMPARAMDESC& r, const std::string& text,
                                       bool readBack)
{
    if (r.dataType == DS_ASCII) {
        StoreTextValue(r, text);
        return std::nullopt;
    }
    StoreElement(r, StrToInt(text), 0);
    switch (r.dataType) {
    case DS_BIT_FIELD:
    case DS_UNSIGNED_BYTE:
    case DS_SIGNED_BYTE:
        SetParamBytes(engine, uid, r.pid, r.byteValues, r.pdlSize);
        if (readBack)
            return GetParamBytes(engine, uid, r.pid, r.byteValues, kMaxParamPdl) ? FormatParamValue(r)
                                                                                 : kNotAvailable;
        return std::nullopt;
    case DS_UNSIGNED_WORD:
    case DS_SIGNED_WORD:
        SetParamWords(engine, uid, r.pid, r.wordValues, r.pdlSize / 2);
        if (readBack)
            return GetParamWords(engine, uid, r.pid, r.wordValues, r.pdlSize / 2) ? FormatParamValue(r)
                                                                                  : kNotAvailable;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

void SendAllValues(RdmEngine& engine, Uid uid, const ParamTable& table, const std::vector<std::string>& texts,
                   const RunControl& control)
{
    engine.log().appendLine("Установка параметров " + UidLogText(uid));
    for (int k = 0; k < table.count; ++k) {
        const RDMPARAMDESC& record = table.records[k];
        if (!record.writable())
            continue;
        if (control.stopped()) {
            engine.log().appendLine(status_text::kStoppedByUser);
            return;
        }
        if (record.dataType == DS_ASCII)
            SendTextValue(engine, uid, record, size_t(k) < texts.size() ? texts[size_t(k)] : std::string());
        else if (record.dataType != DS_NOT_DEFINED)
            SendRecordValue(engine, uid, record);
        control.step(k + 1, table.count);
    }
}
