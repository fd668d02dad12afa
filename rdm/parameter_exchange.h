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

// More parts than any parameter needs: a device that never stops overflowing.
constexpr int kMaxOverflowParts = 64;

// The parameter data of every part of a reply, joined, held in place so that an
// exchange allocates nothing.
class JoinedData {
public:
    static constexpr size_t kCapacity = size_t(kMaxOverflowParts) * rdm::kMaxPdl;

    void append(const rdm::ParamData& part);
    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const uint8_t* begin() const { return bytes_; }
    const uint8_t* end() const { return bytes_ + size_; }
    uint8_t operator[](size_t at) const { return bytes_[at]; }
    std::vector<uint8_t> toVector() const { return {begin(), end()}; }

private:
    uint8_t bytes_[kCapacity];
    size_t size_ = 0;
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
    JoinedData data;             // the parameter data, all parts joined
    std::vector<QueuedAnswer> otherQueued;
};

// `request` names the device, sub-device, GET_COMMAND or SET_COMMAND, PID and data.
ParameterReply ExchangeParameter(RdmEngine& engine, const rdm::RdmRequest& request,
                                 ExchangePolicy policy = ExchangePolicy::Follow);
// The same for the root device.
ParameterReply ExchangeParameter(RdmEngine& engine, Uid uid, uint8_t commandClass, uint16_t pid,
                                 const std::vector<uint8_t>& data, ExchangePolicy policy = ExchangePolicy::Follow);

// A request to every device, or every device of one maker, which nobody answers:
// true when it went out.
bool SendToAll(RdmEngine& engine, const rdm::RdmRequest& request);

// "DATA_OUT_OF_RANGE" and the like; nullptr for a reason E1.20 does not name.
const char* NackReasonName(uint16_t reason);

// The longest an ACK_TIMER chain is followed, in milliseconds.
constexpr uint32_t kAckTimerLimitMs = 10000;
