#pragma once
// The GET requests with which the RDM page learns about the selected device.
#include "params/param_desc.h"
#include "rdm/transaction.h"

#include <array>
#include <string>

// Fills `table.supportedPids` from SUPPORTED_PARAMETERS and returns their count
// (every PID of the reply, up to the list's capacity).
int GetSupportedParameters(RdmEngine& engine, Uid uid, ParamTable& table);

// Clears `record`, then fills it from the device's PARAMETER_DESCRIPTION of `pid`.
void GetParameterDescription(RdmEngine& engine, Uid uid, uint16_t pid, RDMPARAMDESC& record);

// Reads DEVICE_INFO; on an ACK fills the nine row texts and returns true.
bool ReadDeviceInfo(RdmEngine& engine, Uid uid, std::array<std::string, 9>& rows);

// The nine texts of the device-information rows from DEVICE_INFO parameter data.
std::array<std::string, 9> DeviceInfoTexts(const uint8_t* data);

const char* ProductCategoryName(uint16_t code);

// Reads DEVICE_INFO; on an ACK gives the footprint and the start address minus 1.
bool ReadFootprintAndStart(RdmEngine& engine, Uid uid, uint16_t& footprint, uint16_t& startIndex);

// SET IDENTIFY_DEVICE on or off.
TxResult SetIdentify(RdmEngine& engine, Uid uid, bool on);

// SET DMX_START_ADDRESS to `startIndex` + 1.
TxResult SetStartAddress(RdmEngine& engine, Uid uid, uint16_t startIndex);

// The names of those nine rows, in order.
extern const char* const kDeviceInfoRowNames[9];
