#pragma once
// What the editor knows about one parameter of the selected device: its E1.20
// description and its current value in typed storage. Texts are 8-bit
// Windows-1251, as the device sends them.
#include "rdm/standard_replies.h"

#include <cstdint>
#include <string>

struct RDMPARAMDESC {
    uint16_t pid = 0;
    uint8_t pdlSize = 0;
    uint8_t commandClass = 0;  // bit 0x02: writable
    uint8_t dataType = 0;
    uint8_t prefix = 0;
    uint8_t unit = 0;
    uint32_t minValue = 0;
    uint32_t maxValue = 0;
    uint32_t defaultValue = 0;
    std::string description;
    uint8_t byteValues[232] = {};
    uint16_t wordValues[116] = {};
    uint32_t dwordValues[57] = {};
    // A standard PID shown by the PID table (every parameter shown): its reply's
    // layout, and how many bytes of `byteValues` the last read filled. Null for the
    // built-in and described records.
    const char* layout = nullptr;
    uint8_t valueLength = 0;

    void Clear();
    bool writable() const { return (commandClass & 0x02) != 0; }
};

// One record per supported parameter of the selected device.
struct ParamTable {
    static constexpr int kCapacity = 100;
    RDMPARAMDESC records[kCapacity];
    uint16_t supportedPids[kCapacity] = {};
    int count = 0;  // records in use
};

enum DataType : uint8_t {
    DS_NOT_DEFINED = 0,
    DS_BIT_FIELD = 1,
    DS_ASCII = 2,
    DS_UNSIGNED_BYTE = 3,
    DS_SIGNED_BYTE = 4,
    DS_UNSIGNED_WORD = 5,
    DS_SIGNED_WORD = 6,
    DS_UNSIGNED_DWORD = 7,
    DS_SIGNED_DWORD = 8,
};

constexpr uint8_t kMaxParamPdl = 231;

void FillBuiltInDescription(uint16_t pid, RDMPARAMDESC& record);
void FillFromParameterDescription(const rdm::ParameterDescription& description, RDMPARAMDESC& record);
// The same from the answer's parameter data, `pdl` its length (clears the record
// when that is no PARAMETER_DESCRIPTION; a text beyond 32 bytes is cut).
void FillFromParameterDescription(const uint8_t* data, uint8_t pdl, RDMPARAMDESC& record);
int ElementCount(const RDMPARAMDESC& record);
// Text of element `index` by the data type (empty for types without a text form).
std::string FormatElement(const RDMPARAMDESC& record, int index);
std::string FormatParamValue(const RDMPARAMDESC& record);
void StoreElement(RDMPARAMDESC& record, int32_t value, int index);
int TerminateText(uint8_t* buffer, int capacity);

// Manufacturer-specific PIDs are described by the device itself.
constexpr bool IsManufacturerPid(uint16_t pid) { return pid >= 0x8000 && pid <= 0xFFDF; }
