#pragma once
// The arrangement read from and written to the listed devices.
#include "rdm/device_table.h"
#include "rdm/run_control.h"
#include "rdm/transaction.h"

#include <functional>

// Reads DEVICE_INFO from the first `count` devices of `table`; each device that
// answers gets its footprint and start index through `update`. Returns how many
// devices were asked before the run ended (all, unless it was stopped).
int ReadPatch(RdmEngine& engine, const DeviceTable& table, int count,
              const std::function<void(int index, uint16_t footprint, uint16_t startIndex)>& update,
              const RunControl& control);

// Sets the start address of the first `count` devices from their start index.
// A stopped run leaves the devices not yet written untouched, says so in the log,
// and returns how many were written. `written`, when given, hears each result.
int WritePatch(RdmEngine& engine, const DeviceTable& table, int count, const RunControl& control,
               const std::function<void(int index, TxResult result)>& written = nullptr);
