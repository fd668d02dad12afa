#pragma once
// Every standard parameter on the RDM page (the "Все параметры E1.20" setting): a
// standard PID beyond the built-in rows is named as E1.20 names it and its value
// is decoded by the PID layout table.
#include "params/param_desc.h"

#include <optional>
#include <string>
#include <vector>

// "DEVICE_MODEL_DESCRIPTION" as the page names it: "Device Model Description";
// acronyms stay as they are ("DMX Personality").
std::string StandardParamName(const char* e120Name);

// Fills `record` for a standard PID the PID table lays out; false for one it does
// not (the record is then left as it was). The record can be read when the PID's
// GET takes no data, and is edited in place when its SET takes the one field its
// GET gives.
bool FillStandardDescription(uint16_t pid, RDMPARAMDESC& record);

// Whether the Get reads the record's value.
bool StandardValueReadable(const RDMPARAMDESC& record);

// The cell text of a value read into the record: a single field as its value, several
// as "[name: value, ...]"; nothing when the data does not fit the layout.
std::optional<std::string> StandardValueText(const RDMPARAMDESC& record);

// The SET data for a typed text; false, with `error`, when it is not a value of the
// field (out of range, malformed).
bool EncodeStandardValue(const RDMPARAMDESC& record, const std::string& text, std::vector<uint8_t>& data,
                         std::string& error);
