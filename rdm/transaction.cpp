#include "rdm/transaction.h"

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

TxResult RdmEngine::RdmTransaction(Uid uid, int readLength)
{
    if (readLength > int(rdm::kBufferSize))
        readLength = int(rdm::kBufferSize);
    const int size = CompleteRequest(uid);

    std::lock_guard<std::mutex> exchange(port_.exchangeLock());
    if (port_.SendRdmPacket(request, size, widget::kLabelSendRdm) == 0) {
        log_.appendLine(status_text::kSendError);
        return TxFailed;
    }
    clock_.sleepMs(50);
    if (log_.detailed())
        LogMessageDump(true);
    std::memset(response, 0xFF, sizeof response);
    if (port_.ReadRdmReply(response, readLength, ReplyKind::Ordinary) < 0)
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
