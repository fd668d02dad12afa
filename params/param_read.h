#pragma once
// Get: everything the RDM page shows about one device, read in the page's order
// and handed to the page step by step, so that it can show rows as they come.
#include "params/param_desc.h"
#include "rdm/run_control.h"
#include "rdm/transaction.h"

#include <array>
#include <functional>
#include <string>

struct ParamReadSink {
    // The PIDs are listed; `count` rows will follow. The page starts over here.
    std::function<void(int count)> listed;
    // DEVICE_INFO's nine texts, or null when the device did not answer.
    std::function<void(const std::array<std::string, 9>* info)> deviceInfo;
    std::function<void(const std::string& label)> softwareVersionLabel;  // Windows-1251
    // Record k is described and its value read; `value` is its cell text.
    std::function<void(int k, const RDMPARAMDESC& record, const std::string& value)> row;
};

// Fills `table` with the device's supported parameters, their descriptions and
// values. A stopped run ends before the next parameter; returns the rows done.
// With `allParameters`, a standard PID beyond the built-in rows is named and
// decoded by the PID table.
int ReadDeviceParameters(RdmEngine& engine, Uid uid, ParamTable& table, const ParamReadSink& sink,
                         const RunControl& control, bool allParameters = false);
