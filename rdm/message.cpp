#include "rdm/message.h"

#include <cstring>

namespace rdm {

namespace {

constexpr uint16_t kQueuedMessage = 0x0020;

size_t EncodeFields(const MessageFields& m, uint8_t portOrType, uint8_t* out)
{
    const uint8_t pdl = m.data.pdl > kMaxPdl ? kMaxPdl : m.data.pdl;
    const size_t length = kHeaderSize + pdl;
    out[0] = kStartCode;
    out[1] = kSubStartCode;
    out[kOffLength] = uint8_t(length);
    WriteUid(m.destination, out + kOffDestination);
    WriteUid(m.source, out + kOffSource);
    out[kOffTransaction] = m.transaction;
    out[kOffPortOrResponseType] = portOrType;
    out[kOffMessageCount] = m.messageCount;
    WriteBE16(m.subDevice, out + kOffSubDevice);
    out[kOffCommandClass] = m.commandClass;
    WriteBE16(m.pid, out + kOffPid);
    out[kOffPdl] = pdl;
    if (pdl)
        std::memmove(out + kOffData, m.data.bytes, pdl);
    WriteBE16(Checksum(out, length), out + length);
    return length + 2;
}

// The checks every message passes, whichever way it goes; `size` gets its size
// once the length byte has come.
DecodeError CheckFrame(const uint8_t* b, size_t count, size_t* size)
{
    if (count < 1 || b[0] != kStartCode)
        return DecodeError::NotStartCode;
    if (count < 2)
        return DecodeError::Incomplete;
    if (b[1] != kSubStartCode)
        return DecodeError::BadSubStartCode;
    if (count < 3)
        return DecodeError::Incomplete;
    const size_t length = b[kOffLength];
    if (length < kHeaderSize)
        return DecodeError::BadLength;
    if (size)
        *size = length + 2;
    if (count < length + 2)
        return DecodeError::Incomplete;
    if (b[kOffPdl] != length - kHeaderSize)
        return DecodeError::BadLength;
    if (ReadBE16(b + length) != Checksum(b, length))
        return DecodeError::BadChecksum;
    return DecodeError::None;
}

void DecodeFields(const uint8_t* b, MessageFields& m)
{
    m.destination = ReadUid(b + kOffDestination);
    m.source = ReadUid(b + kOffSource);
    m.transaction = b[kOffTransaction];
    m.messageCount = b[kOffMessageCount];
    m.subDevice = ReadBE16(b + kOffSubDevice);
    m.commandClass = b[kOffCommandClass];
    m.pid = ReadBE16(b + kOffPid);
    m.data.assign(b + kOffData, b[kOffPdl]);
}

} // namespace

bool ParamData::assign(const uint8_t* data, size_t count)
{
    const bool whole = count <= kMaxPdl;
    pdl = uint8_t(whole ? count : kMaxPdl);
    if (pdl && data)
        std::memmove(bytes, data, pdl);
    return whole;
}

size_t Encode(const RdmRequest& r, uint8_t* out) { return EncodeFields(r, r.portId, out); }

size_t Encode(const RdmResponse& r, uint8_t* out) { return EncodeFields(r, r.responseType, out); }

DecodeError Decode(const uint8_t* bytes, size_t count, RdmRequest& out, size_t* size)
{
    const DecodeError error = CheckFrame(bytes, count, size);
    if (error == DecodeError::None) {
        DecodeFields(bytes, out);
        out.portId = bytes[kOffPortOrResponseType];
    }
    return error;
}

DecodeError Decode(const uint8_t* bytes, size_t count, RdmResponse& out, size_t* size)
{
    const DecodeError error = CheckFrame(bytes, count, size);
    if (error == DecodeError::None) {
        DecodeFields(bytes, out);
        out.responseType = bytes[kOffPortOrResponseType];
    }
    return error;
}

Mismatch Match(const RdmRequest& q, const RdmResponse& r)
{
    if (r.destination != q.source)
        return Mismatch::Destination;
    if (!q.broadcast() && r.source != q.destination)
        return Mismatch::Source;
    if (r.transaction != q.transaction)
        return Mismatch::Transaction;
    const bool queued = q.commandClass == GET_COMMAND && q.pid == kQueuedMessage;
    if (queued ? r.commandClass != GET_COMMAND_RESPONSE && r.commandClass != SET_COMMAND_RESPONSE
               : r.commandClass != uint8_t(q.commandClass + 1))
        return Mismatch::CommandClass;
    if (!queued && r.pid != q.pid)
        return Mismatch::Pid;
    if (r.subDevice != q.subDevice)
        return Mismatch::SubDevice;
    // Any other type says nothing a controller can act on: not even that the
    // request was refused.
    if (r.responseType > RESPONSE_TYPE_ACK_OVERFLOW)
        return Mismatch::ResponseType;
    return Mismatch::None;
}

const char* DecodeErrorText(DecodeError error)
{
    switch (error) {
    case DecodeError::None: return "сообщение целое";
    case DecodeError::NotStartCode: return "нет стартового кода";
    case DecodeError::BadSubStartCode: return "неверный дополнительный стартовый код";
    case DecodeError::Incomplete: return "длина больше прочитанного";
    case DecodeError::BadLength: return "неверная длина сообщения";
    case DecodeError::BadChecksum: return "неверная контрольная сумма";
    }
    return "";
}

const char* MismatchText(Mismatch mismatch)
{
    switch (mismatch) {
    case Mismatch::None: return "ответ на запрос";
    case Mismatch::Destination: return "адресован не этому контроллеру";
    case Mismatch::Source: return "пришёл не от опрошенного устройства";
    case Mismatch::Transaction: return "другой номер транзакции";
    case Mismatch::CommandClass: return "другой класс команды";
    case Mismatch::Pid: return "другой PID";
    case Mismatch::SubDevice: return "другое субустройство";
    case Mismatch::ResponseType: return "неизвестный тип ответа";
    }
    return "";
}

ReplyScan ScanForReply(const uint8_t* bytes, size_t count, const RdmRequest& request, RdmResponse& out)
{
    return ScanForReply(bytes, count, request, out, [](const uint8_t*, size_t, DecodeError, Mismatch) {});
}

} // namespace rdm
