#include "rdm/parameter_exchange.h"

namespace {

constexpr uint16_t kQueuedMessage = 0x0020;
constexpr uint8_t kStatusGetLastMessage = 0x01;
// More parts than any parameter needs: a device that never stops overflowing.
constexpr int kMaxOverflowParts = 64;
constexpr int kLongestReply = int(rdm::kHeaderSize + rdm::kMaxPdl + 2);

} // namespace

const char* NackReasonName(uint16_t reason)
{
    static const char* const kNames[] = {
        "UNKNOWN_PID",       "FORMAT_ERROR",           "HARDWARE_FAULT",        "PROXY_REJECT",
        "WRITE_PROTECT",     "UNSUPPORTED_COMMAND_CLASS", "DATA_OUT_OF_RANGE", "BUFFER_FULL",
        "PACKET_SIZE_UNSUPPORTED", "SUB_DEVICE_OUT_OF_RANGE", "PROXY_BUFFER_FULL",
    };
    return reason < sizeof kNames / sizeof kNames[0] ? kNames[reason] : nullptr;
}

ParameterReply ExchangeParameter(RdmEngine& engine, Uid uid, uint8_t commandClass, uint16_t pid,
                                 const std::vector<uint8_t>& data)
{
    using namespace rdm;
    ParameterReply out;
    uint8_t cc = commandClass;
    uint16_t askPid = pid;
    std::vector<uint8_t> askData = data;
    uint32_t waitedMs = 0;
    for (int part = 0; part < kMaxOverflowParts; ++part) {
        engine.PrepareRequest(cc, askPid, askData.data(), uint8_t(askData.size()));
        // Room for the longest reply: a part of an overflowing one.
        out.result = engine.RdmTransaction(uid, kLongestReply);
        if (out.result == TxFailed || out.result == TxNoResponse)
            return out;
        const uint8_t* r = engine.response;
        const uint8_t type = r[kOffPortOrResponseType];
        const uint8_t pdl = r[kOffPdl];
        if (type == RESPONSE_TYPE_ACK_TIMER) {
            // Ready after the given number of 100 ms steps; then the answer is queued.
            const uint32_t ms = pdl >= 2 ? uint32_t(ReadBE16(r + kOffData)) * 100u : 100u;
            waitedMs += ms;
            if (waitedMs > kAckTimerLimitMs) {
                out.result = TxNoResponse;
                return out;
            }
            engine.clock().sleepMs(ms);
            cc = GET_COMMAND;
            askPid = kQueuedMessage;
            askData = {kStatusGetLastMessage};
            continue;
        }
        if (type == RESPONSE_TYPE_NACK_REASON) {
            out.result = TxNotAck;
            out.nackReason = pdl >= 2 ? ReadBE16(r + kOffData) : 0;
            return out;
        }
        // A queued answer to some other PID is not this one's.
        if (askPid == kQueuedMessage && ReadBE16(r + kOffPid) != pid && ReadBE16(r + kOffPid) != kQueuedMessage) {
            out.result = TxNoResponse;
            return out;
        }
        out.data.insert(out.data.end(), r + kOffData, r + kOffData + pdl);
        if (type != RESPONSE_TYPE_ACK_OVERFLOW) {
            out.result = TxAck;
            return out;
        }
        // The rest comes with the same request again.
    }
    out.result = TxNoResponse;
    return out;
}
