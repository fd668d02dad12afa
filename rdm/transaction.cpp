#include "rdm/transaction.h"

#include "rdm/line_timing.h"

#include <cstdio>
#include <cstring>

void RdmEngine::SetupRequestHeader()
{
    request[0] = rdm::kStartCode;
    request[1] = rdm::kSubStartCode;
    WriteUid(kOwnUid, request + rdm::kOffSource);
    request[rdm::kOffTransaction] = 0;
    request[rdm::kOffPortOrResponseType] = 1;
    request[rdm::kOffMessageCount] = 0;
    request[rdm::kOffSubDevice] = 0;
    request[rdm::kOffSubDevice + 1] = 0;
}

void RdmEngine::PrepareRequest(uint8_t commandClass, uint16_t pid, const uint8_t* data, uint8_t pdl)
{
    if (pdl > rdm::kMaxPdl)
        pdl = rdm::kMaxPdl;
    request[rdm::kOffCommandClass] = commandClass;
    rdm::WriteBE16(pid, request + rdm::kOffPid);
    request[rdm::kOffPdl] = pdl;
    if (pdl && data)
        std::memmove(request + rdm::kOffData, data, pdl);
}

int RdmEngine::CompleteRequest(Uid destination)
{
    nextTransactionNumber();
    uint8_t pdl = request[rdm::kOffPdl];
    if (pdl > rdm::kMaxPdl)
        pdl = request[rdm::kOffPdl] = rdm::kMaxPdl;
    const uint8_t length = uint8_t(rdm::kHeaderSize + pdl);
    request[rdm::kOffLength] = length;
    WriteUid(destination, request + rdm::kOffDestination);
    rdm::WriteBE16(rdm::Checksum(request, length), request + length);
    return length + 2;
}

int RdmEngine::JudgeReply(const uint8_t* b, int count, const uint8_t* request)
{
    using namespace rdm;
    if (count < 3 || b[0] != kStartCode || b[kOffLength] < kHeaderSize || count < int(b[kOffLength]) + 2)
        return 0;
    const int size = int(b[kOffLength]) + 2;
    const bool ours = b[kOffTransaction] == request[kOffTransaction] &&
                      std::memcmp(b + kOffSource, request + kOffDestination, 6) == 0 &&
                      std::memcmp(b + kOffDestination, request + kOffSource, 6) == 0;
    // A summed message that is not ours came late for an earlier request; anything
    // else (a garbled reply) is judged as the fixed waits judge it.
    if (!ours && ReadBE16(b + size - 2) == Checksum(b, size - 2))
        return -size;
    return size;
}

ReplyWait RdmEngine::replyWait(uint64_t handedUs, int requestBytes, int replyBytes, ReplyKind kind,
                               int (*judge)(const uint8_t*, int, const uint8_t*))
{
    using namespace line_timing;
    const uint64_t latency = port_.TransportLatencyUs();
    // A send that returned only once its bytes were out ends the request later.
    uint64_t requestEnd = handedUs + PacketUs(requestBytes);
    const uint64_t now = clock_.nowUs();
    if (now > requestEnd)
        requestEnd = now;
    // A collision must end quickly, for discovery is made of them; an ordinary reply
    // that has begun gets the slack.
    const uint64_t quiet = kind == ReplyKind::Ordinary ? kInterSlotMaxUs + kBegunReplySlackUs : 2 * kByteUs;
    return ReplyWait{clock_, requestEnd + kResponseLostUs + latency, quiet + latency, judge, request,
                     PacketUs(replyBytes)};
}

void RdmEngine::pauseMs(uint32_t ms)
{
    if (!fastExchange())
        clock_.sleepMs(ms);
}

TxResult RdmEngine::RdmTransaction(Uid uid, int readLength)
{
    if (readLength > int(rdm::kBufferSize))
        readLength = int(rdm::kBufferSize);
    const int size = CompleteRequest(uid);
    const bool fast = fastExchange();

    std::lock_guard<std::mutex> exchange(port_.exchangeLock());
    const uint64_t handedUs = clock_.nowUs();
    if (port_.SendRdmPacket(request, size, widget::kLabelSendRdm) == 0) {
        log_.appendLine(status_text::kSendError);
        return TxFailed;
    }
    std::memset(response, 0xFF, sizeof response);
    int got = 0;
    if (fast) {
        if (readLength > 0) {
            got = port_.ReadRdmReplyWhole(response, readLength, ReplyKind::Ordinary,
                                          replyWait(handedUs, size, readLength, ReplyKind::Ordinary, JudgeReply));
        } else {
            // Nobody answers; the line rests before the next request.
            const uint64_t rest = handedUs + line_timing::PacketUs(size) + line_timing::kAfterBroadcastUs;
            const uint64_t now = clock_.nowUs();
            if (rest > now)
                clock_.sleepUs(rest - now);
        }
        if (log_.detailed())
            LogMessageDump(true);
    } else {
        clock_.sleepMs(50);
        if (log_.detailed())
            LogMessageDump(true);
        got = port_.ReadRdmReply(response, readLength, ReplyKind::Ordinary);
    }
    if (got < 0)
        return TxFailed;
    if (response[0] != rdm::kStartCode) {
        log_.appendLine(std::string(status_text::kNoResponse) + "\r\n");
        return TxNoResponse;
    }
    if (log_.detailed())
        LogMessageDump(false);
    const uint8_t replyLength = response[rdm::kOffLength];
    const uint8_t replyPdl = response[rdm::kOffPdl];
    const uint16_t sum = rdm::Checksum(response, replyLength);
    if (response[rdm::kOffData + replyPdl] != uint8_t(sum >> 8) ||
        response[rdm::kOffData + replyPdl + 1] != uint8_t(sum))
        return TxNoResponse;
    return response[rdm::kOffPortOrResponseType] == rdm::RESPONSE_TYPE_ACK ? TxAck : TxNotAck;
}

std::string RdmEngine::DumpText(const uint8_t* b, bool isRequest)
{
    std::string text = isRequest ? "Запрос:  CC 01 " : "Ответ: CC 01 ";
    char hex[4];
    auto put = [&](uint8_t byte) {
        std::snprintf(hex, sizeof hex, "%02X", byte);
        text += hex;
    };
    auto run = [&](size_t from, size_t count) {
        for (size_t i = 0; i < count; ++i)
            put(b[from + i]);
        text += ' ';
    };
    run(2, 1);
    run(3, 6);
    run(9, 6);
    run(15, 1);
    run(16, 1);
    run(17, 1);
    run(18, 2);
    run(20, 1);
    run(21, 2);
    run(23, 1);
    for (size_t i = 0; i < b[23]; ++i)
        run(24 + i, 1);
    put(b[b[2]]);
    put(b[size_t(b[2]) + 1]);
    return text;
}

void RdmEngine::LogMessageDump(bool isRequest)
{
    log_.appendLine(DumpText(isRequest ? request : response, isRequest));
    if (!isRequest)
        log_.appendLine(std::string());
}
