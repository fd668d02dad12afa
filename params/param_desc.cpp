#include "params/param_desc.h"

#include "rdm/rdm_defs.h"

#include <cstring>

void RDMPARAMDESC::Clear()
{
    *this = RDMPARAMDESC{};
}

void FillBuiltInDescription(uint16_t pid, RDMPARAMDESC& r)
{
    struct Row {
        uint16_t pid;
        const char* description;
        uint8_t pdlSize, commandClass, dataType;
        uint32_t minValue, maxValue;
    };
    static const Row kRows[] = {
        {0x0081, "Manufacturer Label", 32, 0x01, DS_ASCII, 0, 0},
        {0x0082, "Device Label", 32, 0x03, DS_ASCII, 0, 0},
        {0x00C0, "Software Version Label", 32, 0x01, DS_ASCII, 0, 0},
        {0x00F0, "DMX Start Address", 2, 0x03, DS_UNSIGNED_WORD, 1, 512},
    };
    r.Clear();
    r.pid = pid;
    r.description = "Unknown PID";
    for (const Row& row : kRows)
        if (row.pid == pid) {
            r.description = row.description;
            r.pdlSize = row.pdlSize;
            r.commandClass = row.commandClass;
            r.dataType = row.dataType;
            r.minValue = row.minValue;
            r.maxValue = row.maxValue;
        }
}

void FillFromParameterDescription(const rdm::ParameterDescription& d, RDMPARAMDESC& r)
{
    r.pid = d.pid;
    // A size beyond the standard's limit would index past the value stores.
    r.pdlSize = d.pdlSize > kMaxParamPdl ? kMaxParamPdl : d.pdlSize;
    r.dataType = d.dataType;
    r.commandClass = d.commandClass;
    r.unit = d.unit;
    r.prefix = d.prefix;
    r.minValue = d.minValue;
    r.maxValue = d.maxValue;
    r.defaultValue = d.defaultValue;
    r.description.assign(d.description, strnlen(d.description, 32));
}

void FillFromParameterDescription(const uint8_t* data, uint8_t pdl, RDMPARAMDESC& r)
{
    constexpr uint8_t kLongest = rdm::kParameterDescriptionFixed + 32;
    rdm::ParameterDescription d;
    r.Clear();
    if (rdm::DecodeParameterDescription(data, pdl > kLongest ? kLongest : pdl, d))
        FillFromParameterDescription(d, r);
}

int ElementCount(const RDMPARAMDESC& r)
{
    switch (r.dataType) {
    case DS_UNSIGNED_WORD:
    case DS_SIGNED_WORD:
        return r.pdlSize / 2;
    case DS_UNSIGNED_DWORD:
    case DS_SIGNED_DWORD:
        return r.pdlSize / 4;
    default:
        return r.pdlSize;
    }
}

std::string FormatElement(const RDMPARAMDESC& r, int i)
{
    switch (r.dataType) {
    case DS_NOT_DEFINED:
    case DS_BIT_FIELD:
    case DS_UNSIGNED_BYTE:
        return std::to_string(unsigned(r.byteValues[i]));
    case DS_SIGNED_BYTE:
        return std::to_string(int(int8_t(r.byteValues[i])));
    case DS_UNSIGNED_WORD:
        return std::to_string(unsigned(r.wordValues[i]));
    case DS_SIGNED_WORD:
        return std::to_string(int(int16_t(r.wordValues[i])));
    case DS_UNSIGNED_DWORD:
    case DS_SIGNED_DWORD:
        return std::to_string(int32_t(r.dwordValues[i]));
    default:
        return std::string();
    }
}

std::string FormatParamValue(const RDMPARAMDESC& r)
{
    const int n = ElementCount(r);
    if (n == 0)
        return std::string();
    if (r.dataType == DS_ASCII) {
        const char* text = reinterpret_cast<const char*>(r.byteValues);
        return std::string(text, strnlen(text, sizeof r.byteValues));
    }
    if (r.dataType > DS_SIGNED_DWORD)
        return std::string();
    std::string out;
    for (int i = 0; i < n; ++i) {
        if (i)
            out += ", ";
        out += FormatElement(r, i);
    }
    return n > 1 ? "[" + out + "]" : out;
}

void StoreElement(RDMPARAMDESC& r, int32_t value, int i)
{
    if (i < 0)
        return;
    switch (r.dataType) {
    case DS_NOT_DEFINED:
    case DS_BIT_FIELD:
    case DS_UNSIGNED_BYTE:
    case DS_SIGNED_BYTE:
        if (i < int(sizeof r.byteValues))
            r.byteValues[i] = uint8_t(value);
        break;
    case DS_UNSIGNED_WORD:
    case DS_SIGNED_WORD:
        if (i < 116)
            r.wordValues[i] = uint16_t(value);
        break;
    case DS_UNSIGNED_DWORD:
    case DS_SIGNED_DWORD:
        if (i < 57)
            r.dwordValues[i] = uint32_t(value);
        break;
    default:
        break;
    }
}

int TerminateText(uint8_t* buffer, int capacity)
{
    for (int i = 0; i < capacity; ++i)
        if (buffer[i] == 0)
            return i;
    buffer[capacity] = 0;
    return capacity;
}
