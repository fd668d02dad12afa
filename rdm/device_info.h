#pragma once
// The GET requests with which the RDM page learns about the selected device.
#include "rdm/standard_replies.h"
#include "rdm/transaction.h"

#include <array>
#include <string>

// SUPPORTED_PARAMETERS into `pids`, logging "Получение параметров" first; returns
// the count listed (0 without an ACK), of which at most `capacity` are stored.
int GetSupportedParameters(RdmEngine& engine, Uid uid, uint16_t* pids, int capacity);

// PARAMETER_DESCRIPTION of `pid`; false without an ACK or with data of the wrong size.
bool GetParameterDescription(RdmEngine& engine, Uid uid, uint16_t pid, rdm::ParameterDescription& out);

// DEVICE_INFO; false without an ACK or with data of the wrong size.
bool GetDeviceInfo(RdmEngine& engine, Uid uid, rdm::DeviceInfo& out);

// Reads DEVICE_INFO; on an ACK fills the nine row texts and returns true.
bool ReadDeviceInfo(RdmEngine& engine, Uid uid, std::array<std::string, 9>& rows);

// The nine texts of the device-information rows.
std::array<std::string, 9> DeviceInfoTexts(const rdm::DeviceInfo& info);

const char* ProductCategoryName(uint16_t code);

// Reads DEVICE_INFO; on an ACK gives the footprint and the start address minus 1.
bool ReadFootprintAndStart(RdmEngine& engine, Uid uid, uint16_t& footprint, uint16_t& startIndex);

// SET IDENTIFY_DEVICE on or off.
TxResult SetIdentify(RdmEngine& engine, Uid uid, bool on);

// SET DMX_START_ADDRESS to `startIndex` + 1.
TxResult SetStartAddress(RdmEngine& engine, Uid uid, uint16_t startIndex);

// The names of those nine rows, in order.
extern const char* const kDeviceInfoRowNames[9];
