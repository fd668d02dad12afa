#pragma once
// Moves one parameter's value between a record's store and the device.
#include "rdm/transaction.h"

// Each logs "Get PID XXXX:" or "Set PID XXXX:" before its request.
bool GetParamBytes(RdmEngine& engine, Uid uid, uint16_t pid, uint8_t* destination, int capacity);
bool GetParamWords(RdmEngine& engine, Uid uid, uint16_t pid, uint16_t* destination, int count);
void SetParamBytes(RdmEngine& engine, Uid uid, uint16_t pid, const uint8_t* source, int length);
void SetParamWords(RdmEngine& engine, Uid uid, uint16_t pid, const uint16_t* source, int count);
