#pragma once
// The standard parameter IDs of E1.20 and E1.37-1 by name, for tools that take a
// PID as text and print it back.
#include "rdm/pid_table.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// An entry of the PID table, read for its name.
using PidName = PidEntry;

// The standard PID's entry, or null for a PID the standards do not name.
const PidName* FindPidName(uint16_t pid);
// A PID as tools print it: its name, or "0x8001" for one the table does not name.
std::string PidText(uint16_t pid);

// A PID written as its name (any case, "device_label"), as a decimal number, or
// as hexadecimal with 0x; nothing for anything else.
std::optional<uint16_t> ParsePid(std::string_view text);

// Every named PID, in ascending order.
const PidName* PidNamesBegin();
const PidName* PidNamesEnd();
