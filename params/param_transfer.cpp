#include "params/param_transfer.h"

#include "rdm/parameter_exchange.h"

#include <cstdio>
#include <cstring>

namespace {

void LogPid(RdmEngine& engine, const char* verb, uint16_t pid)
{
    char text[24];
    std::snprintf(text, sizeof text, "%s PID %04X:", verb, unsigned(pid));
    engine.log().appendLine(text);
}

// Through the one GET/SET client: an ACK_TIMER is followed and ACK_OVERFLOW
// parts are joined, as for every other tool of the system.
ParameterReply Exchange(RdmEngine& engine, Uid uid, uint8_t commandClass, uint16_t pid, const uint8_t* data = nullptr,
                        size_t count = 0)
{
    return ExchangeParameter(engine, rdm::RdmRequest(uid, commandClass, pid, data, count), ExchangePolicy::Follow);
}

SetOutcome Outcome(const ParameterReply& reply) { return {reply.result, reply.nackReason}; }

} // namespace

bool GetParamBytes(RdmEngine& engine, Uid uid, uint16_t pid, uint8_t* destination, int capacity)
{
    LogPid(engine, "Get", pid);
    const ParameterReply reply = Exchange(engine, uid, rdm::GET_COMMAND, pid);
    if (reply.result != TxAck)
        return false;
    size_t n = reply.data.size();
    if (n > size_t(capacity))
        n = size_t(capacity);
    if (n)
        std::memcpy(destination, reply.data.data(), n);
    return true;
}

int GetParamData(RdmEngine& engine, Uid uid, uint16_t pid, uint8_t* destination, int capacity)
{
    LogPid(engine, "Get", pid);
    const ParameterReply reply = Exchange(engine, uid, rdm::GET_COMMAND, pid);
    if (reply.result != TxAck)
        return -1;
    const size_t n = reply.data.size() < size_t(capacity) ? reply.data.size() : size_t(capacity);
    if (n)
        std::memcpy(destination, reply.data.data(), n);
    return int(n);
}

bool GetParamWords(RdmEngine& engine, Uid uid, uint16_t pid, uint16_t* destination, int count)
{
    LogPid(engine, "Get", pid);
    const ParameterReply reply = Exchange(engine, uid, rdm::GET_COMMAND, pid);
    if (reply.result != TxAck)
        return false;
    if (count > 244)
        count = 244;
    for (int i = 0; i < count; ++i)
        destination[i] = size_t(2 * i + 2) <= reply.data.size() ? rdm::ReadBE16(reply.data.data() + 2 * i) : 0;
    return true;
}

SetOutcome SetParamBytes(RdmEngine& engine, Uid uid, uint16_t pid, const uint8_t* source, int length)
{
    LogPid(engine, "Set", pid);
    if (length > rdm::kMaxPdl)
        length = rdm::kMaxPdl;
    if (length < 0)
        length = 0;
    return Outcome(Exchange(engine, uid, rdm::SET_COMMAND, pid, source, size_t(length)));
}

SetOutcome SetParamWords(RdmEngine& engine, Uid uid, uint16_t pid, const uint16_t* source, int count)
{
    LogPid(engine, "Set", pid);
    if (count > rdm::kMaxPdl / 2)
        count = rdm::kMaxPdl / 2;
    if (count < 0)
        count = 0;
    uint8_t data[rdm::kMaxPdl];
    for (int i = 0; i < count; ++i)
        rdm::WriteBE16(source[i], data + 2 * i);
    return Outcome(Exchange(engine, uid, rdm::SET_COMMAND, pid, data, size_t(2 * count)));
}

void LogSetOutcome(RdmEngine& engine, Uid uid, const std::string& parameter, const SetOutcome& outcome)
{
    if (outcome.result == TxAck)
        return;
    if (outcome.result == TxNotAck) {
        const char* reason = NackReasonName(outcome.nackReason);
        char code[16];
        std::snprintf(code, sizeof code, "0x%04X", unsigned(outcome.nackReason));
        engine.log().appendLine("Устройство " + UidLogText(uid) + " отклонило \"" + parameter + "\": NACK " +
                                (reason ? reason : code));
    } else {
        engine.log().appendLine("Устройство " + UidLogText(uid) + " не ответило на установку \"" + parameter + "\"");
    }
}
