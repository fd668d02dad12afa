#pragma once
// Rig files: a JSON description of the devices on a virtual line and their faults.
//
// {
//   "name": "truss-1",
//   "devices": [
//     { "model": "moving-head", "uid": "7FF0:00000001", "startAddress": 1,
//       "personality": 1, "label": "Spot SL", "preamble": 7, "turnaroundUs": 400,
//       "faults": { "ignoreMute": false, "badChecksum": false, "truncated": false,
//                   "lateMs": 0, "ackTimer": false, "silent": false } }
//   ]
// }
// "turnaroundUs" is how long the device waits after a request before it answers on
// a paced line; E1.20 allows 176 to 2000, and without it each device gets its own
// value in that range.
#include "rig/virtual_line.h"

#include <string>

namespace rig {

// A line carries at most this many devices from a rig file, as from --devices: a
// real line's splitters stop far below it, and each device costs the rig memory.
constexpr int kMaxRigDevices = 1000;

// Adds the file's devices to `line`; `name` gets the file's line name if it has one.
bool LoadRigFile(const std::string& path, VirtualLine& line, std::string& name, std::string& error);


} // namespace rig
