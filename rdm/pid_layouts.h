#pragma once
// The parameter data of every standard PID of E1.20 and E1.37-1, field by field,
// for each direction of GET and SET: one table that tools encode the values they
// are given with and decode the replies they get with.
#include "rdm/pid_table.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A layout is written as fields "name:type" separated by spaces; a group in
// parentheses followed by * repeats to the end of the data. Types: u8, u16, u32,
// s16, bool (one byte, 0 or 1), uid (six bytes), pid (a 16-bit PID), lang (two
// letters), text (the rest of the data, at most 32 bytes), hex (the rest, raw);
// s8 and s32 serve manufacturer PIDs described as signed bytes and double words.
// An entry of the PID table, read for its layouts.
using PidLayout = PidEntry;

// The standard PID's layout, or null.
const PidLayout* FindPidLayout(uint16_t pid);
const PidLayout* PidLayoutsBegin();
const PidLayout* PidLayoutsEnd();

// One decoded field: its name and its value as text (numbers in decimal, PIDs and
// UIDs in hex, text as its 8-bit bytes).
struct PidField {
    // What the value is, for a listing that keeps numbers as numbers: a Flag is
    // "on" or "off"; Text is everything else (text, PIDs, UIDs, hex).
    enum class Kind { Number, Flag, Text };
    std::string name;
    std::string value;
    Kind kind = Kind::Text;
    int repetition = -1;  // which repetition of the layout's group, -1 for a fixed field
};

// Decodes `data` by `layout`; nothing when the data does not fit it (too short,
// bytes left over, a text over 32 bytes, a bool other than 0 or 1).
std::optional<std::vector<PidField>> DecodeLayout(const char* layout, const uint8_t* data, size_t size);

// Encodes the values, one per field in order (a repeated group takes whole
// repetitions). Returns false with `error` set for a missing, extra, malformed or
// out-of-range value.
bool EncodeLayout(const char* layout, const std::vector<std::string>& values, std::vector<uint8_t>& out,
                  std::string& error);

// The field names of a layout, in order, for usage texts ("address", "(pid)...").
std::string LayoutSummary(const char* layout);

// The names of a layout's fields: those read once, then those of the group that
// repeats to the end (none when nothing repeats).
struct LayoutNames {
    std::vector<std::string> fixed;
    std::vector<std::string> group;
};
LayoutNames LayoutFieldNames(const char* layout);
// True when the text is a layout this notation can read: every field "name:type"
// with a known type, at most one group, and that group last.
bool ValidLayout(const std::string& layout);
