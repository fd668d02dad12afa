#pragma once
// Files a user keeps their rig in: written so that a failed save never costs the
// file before it, read only when they are plain files.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Writes through a temporary file in the same folder, renamed over `path` only
// when every byte is on disk, so a failed save leaves an existing file intact. An
// existing file keeps its mode; a new one gets the mode the umask leaves.
bool SaveFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& why);

// Reads at most `limit` bytes of a regular file, without blocking on anything
// else (a FIFO, a device). `whole` says whether the file ended within the limit.
bool ReadRegularFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes, bool& whole,
                     std::string& why);
