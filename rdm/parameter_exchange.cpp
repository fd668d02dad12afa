#include "rdm/parameter_exchange.h"

#include <cstring>

namespace {

using namespace rdm;

constexpr uint16_t kQueuedMessage = 0x0020;
constexpr uint16_t kStatusMessages = 0x0030;
// QUEUED_MESSAGE's status type: any but STATUS_GET_LAST_MESSAGE (0x01, which asks
// for the last message again) asks for what is queued; STATUS_ERROR keeps any
// status messages that come instead down to errors.
constexpr uint8_t kStatusError = 0x04;
// Other parameters' queued answers kept for the caller, at most.
constexpr size_t kMaxOtherQueued = 16;
constexpr int kLongestReply = int(kMaxMessageSize);

} // namespace

void JoinedData::append(const ParamData& part)
{
    // There is room for every part an exchange takes; the bound only guards it.
    const size_t n = part.pdl < kCapacity - size_ ? part.pdl : kCapacity - size_;
    std::memcpy(bytes_ + size_, part.bytes, n);
    size_ += n;
}

const char* NackReasonName(uint16_t reason)
{
    static const char* const kNames[] = {
        "UNKNOWN_PID",       "FORMAT_ERROR",           "HARDWARE_FAULT",        "PROXY_REJECT",
        "WRITE_PROTECT",     "UNSUPPORTED_COMMAND_CLASS", "DATA_OUT_OF_RANGE", "BUFFER_FULL",
        "PACKET_SIZE_UNSUPPORTED", "SUB_DEVICE_OUT_OF_RANGE", "PROXY_BUFFER_FULL",
    };
    return reason < sizeof kNames / sizeof kNames[0] ? kNames[reason] : nullptr;
}

bool SendToAll(RdmEngine& engine, const RdmRequest& request)
{
    RdmResponse unused;
    return engine.RdmTransaction(request, unused, 0) != TxFailed;
}

ParameterReply ExchangeParameter(RdmEngine& engine, Uid uid, uint8_t commandClass, uint16_t pid,
                                 const std::vector<uint8_t>& data, ExchangePolicy policy)
{
    return ExchangeParameter(engine, RdmRequest(uid, commandClass, pid, data.data(), data.size()), policy);
}

ParameterReply ExchangeParameter(RdmEngine& engine, const RdmRequest& asked, ExchangePolicy policy)
{
    ParameterReply out;
    const bool follow = policy == ExchangePolicy::Follow;
    RdmRequest request = asked;
    RdmResponse reply;
    bool queued = false;  // asking for the answer an ACK_TIMER promised
    uint32_t waitedMs = 0;
    for (int part = 0; part < kMaxOverflowParts; ++part) {
        out.result = engine.RdmTransaction(request, reply, follow ? kLongestReply : kReplyReadLength);
        if (out.result == TxFailed || out.result == TxNoResponse)
            return out;
        out.responseType = reply.responseType;
        if (!follow)
            break;
        if (reply.responseType == RESPONSE_TYPE_ACK_TIMER ||
            (queued && reply.responseType == RESPONSE_TYPE_ACK && reply.pid == kStatusMessages &&
             asked.pid != kStatusMessages)) {
            // Not ready yet: ready after the given number of 100 ms steps, or, when the
            // queue was still empty, after another short wait.
            const uint32_t ms = reply.responseType == RESPONSE_TYPE_ACK_TIMER && reply.data.pdl >= 2
                                    ? uint32_t(reply.data.be16(0)) * 100u
                                    : 100u;
            waitedMs += ms;
            if (waitedMs > kAckTimerLimitMs) {
                out.result = TxNoResponse;
                out.timerExpired = true;
                return out;
            }
            engine.clock().sleepMs(ms);
            request = RdmRequest(asked.destination, GET_COMMAND, kQueuedMessage, &kStatusError, 1, asked.subDevice);
            queued = true;
            --part;
            continue;
        }
        if (queued && (reply.pid != asked.pid || reply.commandClass != uint8_t(asked.commandClass + 1))) {
            // Some other parameter's answer came out of the queue first: the caller
            // may want it; ours is still to come.
            if (out.otherQueued.size() == kMaxOtherQueued) {
                out.result = TxNoResponse;
                return out;
            }
            out.otherQueued.push_back(QueuedAnswer{reply.commandClass, reply.pid, reply.responseType,
                                                   std::vector<uint8_t>(reply.data.begin(), reply.data.end())});
            --part;
            continue;
        }
        if (reply.responseType == RESPONSE_TYPE_NACK_REASON)
            break;
        out.data.append(reply.data);
        if (reply.responseType != RESPONSE_TYPE_ACK_OVERFLOW) {
            out.result = TxAck;
            return out;
        }
        // The rest comes with the same request again (QUEUED_MESSAGE for a queued answer).
    }
    if (reply.responseType == RESPONSE_TYPE_NACK_REASON) {
        out.result = TxNotAck;
        out.nackReason = reply.data.be16(0);
        return out;
    }
    if (!follow) {
        if (out.result == TxAck)
            out.data.append(reply.data);
        return out;
    }
    out.result = TxNoResponse;
    return out;
}
