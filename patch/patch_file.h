#pragma once
// Patch files: a 32-bit little-endian count N, then N records of uid (8 bytes),
// startIndex (2) and footprint (2), all little-endian: 4 + 12 N bytes, after which
// a reader ignores whatever else the file carries.
#include "rdm/device_table.h"

#include <string>
#include <vector>

struct PatchRecord {
    Uid uid = 0;
    uint16_t startIndex = 0;
    uint16_t footprint = 0;
};

std::vector<uint8_t> EncodePatch(const std::vector<PatchRecord>& records);

// Checks the whole file before anything is taken from it: its length, its count,
// and each record: a UID one device can carry (not 0, not a broadcast, 48 bits),
// named once in the file, a start address (1..512) and footprint (0..512) whose
// slots fit the universe (a record without a footprint keeps whatever start it
// has). On success `records` holds its devices (none when N is 0); otherwise
// `why` says what is wrong and which record.
bool DecodePatch(const std::vector<uint8_t>& bytes, std::vector<PatchRecord>& records, std::string& why);

// Writes through a temporary file in the same folder, renamed over `path` only
// when every byte is on disk, so a failed save leaves an existing file intact. An
// existing file keeps its mode; a new one gets the mode the umask leaves.
bool SavePatchFile(const std::string& path, const std::vector<PatchRecord>& records, std::string& why);
// Reads only a regular file, without blocking on anything else (a FIFO, a device).
bool LoadPatchFile(const std::string& path, std::vector<PatchRecord>& records, std::string& why);
