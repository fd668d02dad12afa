#pragma once
// Backup files: JSON in UTF-8, {"format": "vantrell-backup", "version": 1,
// "saved": TIME, "devices": [...]}, each device with its UID, maker, model,
// software version, personality, footprint and start address, the parameters kept
// (pid, name, layout, value field by field) and those missing with why. The
// README describes every member.
#include "patch/rig_backup.h"

#include <string>
#include <vector>

constexpr int kBackupFormatVersion = 1;

std::vector<uint8_t> EncodeBackup(const std::vector<SavedDevice>& devices);

// Checks the whole file before anything is taken from it: its format and version,
// each device's UID (one device, named once), and each value against its
// parameter's layout (a standard parameter's as E1.20 gives it). `why` names the
// device and parameter at fault.
bool DecodeBackup(const std::vector<uint8_t>& bytes, std::vector<SavedDevice>& devices, std::string& why);

// Saved as patch files are: whole or not at all, keeping an existing file's mode.
bool SaveBackupFile(const std::string& path, const std::vector<SavedDevice>& devices, std::string& why);
// Reads only a regular file of at most 16 MB.
bool LoadBackupFile(const std::string& path, std::vector<SavedDevice>& devices, std::string& why);
