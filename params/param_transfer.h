#pragma once
// Moves one parameter's value between a record's store and the device.
#include "rdm/transaction.h"

#include <string>

// Each logs "Get PID XXXX:" or "Set PID XXXX:" before its request.
bool GetParamBytes(RdmEngine& engine, Uid uid, uint16_t pid, uint8_t* destination, int capacity);
// The value's bytes, up to `capacity`; their count, or -1 when no value came.
int GetParamData(RdmEngine& engine, Uid uid, uint16_t pid, uint8_t* destination, int capacity);
bool GetParamWords(RdmEngine& engine, Uid uid, uint16_t pid, uint16_t* destination, int count);
// A SET's outcome: TxAck, TxNotAck with the device's reason, or no answer.
struct SetOutcome {
    TxResult result = TxFailed;
    uint16_t nackReason = 0;
};
SetOutcome SetParamBytes(RdmEngine& engine, Uid uid, uint16_t pid, const uint8_t* source, int length);
SetOutcome SetParamWords(RdmEngine& engine, Uid uid, uint16_t pid, const uint16_t* source, int count);

// For a SET that was refused or not answered: one log line naming the parameter,
// the device and, for a refusal, the reason. Nothing for an acknowledged one.
void LogSetOutcome(RdmEngine& engine, Uid uid, const std::string& parameter, const SetOutcome& outcome);
