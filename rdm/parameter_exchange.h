#pragma once
// The one GET/SET client: a request for one parameter of one device (or one of
// its sub-devices), carried through as E1.20 wants or as one plain exchange.
#include "rdm/transaction.h"

#include <cstdint>
#include <vector>

// How far an exchange is carried.
enum class ExchangePolicy {
    // One request, one answer: an ACK_TIMER or ACK_OVERFLOW counts as not acknowledged.
    OneShot,
    // A reply in several ACK_OVERFLOW parts is joined; an ACK_TIMER is followed by
    // waiting the time the device gave and asking for its QUEUED_MESSAGE, within a bound.
    Follow,
};

struct ParameterRequest {
    Uid uid = 0;
    uint16_t subDevice = 0;
    uint8_t commandClass = rdm::GET_COMMAND;  // GET_COMMAND or SET_COMMAND
    uint16_t pid = 0;
    std::vector<uint8_t> data;
};

// A queued answer the device gave for some other parameter while this one was
// awaited: the caller may want it.
struct QueuedAnswer {
    uint8_t commandClass = 0;
    uint16_t pid = 0;
    uint8_t responseType = 0;
    std::vector<uint8_t> data;
};

struct ParameterReply {
    TxResult result = TxFailed;  // TxAck, TxNotAck (a NACK), TxNoResponse or TxFailed
    uint8_t responseType = 0;    // of the last reply, when one came
    uint16_t nackReason = 0;     // when NACKed
    bool timerExpired = false;   // the device answered ACK_TIMER but never had the answer ready
    std::vector<uint8_t> data;   // the parameter data, all parts joined
    std::vector<QueuedAnswer> otherQueued;
};

ParameterReply ExchangeParameter(RdmEngine& engine, const ParameterRequest& request,
                                 ExchangePolicy policy = ExchangePolicy::Follow);
// The same for the root device.
ParameterReply ExchangeParameter(RdmEngine& engine, Uid uid, uint8_t commandClass, uint16_t pid,
                                 const std::vector<uint8_t>& data, ExchangePolicy policy = ExchangePolicy::Follow);

// "DATA_OUT_OF_RANGE" and the like; nullptr for a reason E1.20 does not name.
const char* NackReasonName(uint16_t reason);

// The longest an ACK_TIMER chain is followed, in milliseconds.
constexpr uint32_t kAckTimerLimitMs = 10000;
