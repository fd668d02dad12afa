#pragma once
// One GET or SET of any parameter as E1.20 wants it carried through: a reply in
// several ACK_OVERFLOW parts is joined, an ACK_TIMER is followed by waiting the
// time the device gave and asking for its QUEUED_MESSAGE, within a bound.
#include "rdm/transaction.h"

#include <cstdint>
#include <vector>

struct ParameterReply {
    TxResult result = TxFailed;  // TxAck, TxNotAck (a NACK), TxNoResponse or TxFailed
    uint16_t nackReason = 0;     // when NACKed
    std::vector<uint8_t> data;   // the parameter data, all parts joined
};

// `commandClass` is GET_COMMAND or SET_COMMAND.
ParameterReply ExchangeParameter(RdmEngine& engine, Uid uid, uint8_t commandClass, uint16_t pid,
                                 const std::vector<uint8_t>& data);

// "DATA_OUT_OF_RANGE" and the like; nullptr for a reason E1.20 does not name.
const char* NackReasonName(uint16_t reason);

// The longest an ACK_TIMER chain is followed, in milliseconds.
constexpr uint32_t kAckTimerLimitMs = 10000;
