#include "params/param_transfer.h"

#include <cstdio>
#include <cstring>

namespace {

void LogPid(RdmEngine& engine, const char* verb, uint16_t pid)
{
    char text[24];
    std::snprintf(text, sizeof text, "%s PID %04X:", verb, unsigned(pid));
    engine.log().appendLine(text);
}

} // namespace

bool GetParamBytes(RdmEngine& engine, Uid uid, uint16_t pid, uint8_t* destination, int capacity)
{
    LogPid(engine, "Get", pid);
    engine.PrepareRequest(rdm::GET_COMMAND, pid);
    if (engine.RdmTransaction(uid, rdm::kReplyReadLength) != TxAck)
        return false;
    int n = engine.response[rdm::kOffPdl];
    if (n > capacity)
        n = capacity;
    std::memcpy(destination, engine.response + rdm::kOffData, size_t(n));
    return true;
}

bool GetParamWords(RdmEngine& engine, Uid uid, uint16_t pid, uint16_t* destination, int count)
{
    LogPid(engine, "Get", pid);
    engine.PrepareRequest(rdm::GET_COMMAND, pid);
    if (engine.RdmTransaction(uid, rdm::kReplyReadLength) != TxAck)
        return false;
    if (count > 244)
        count = 244;
    for (int i = 0; i < count; ++i)
        destination[i] = rdm::ReadBE16(engine.response + rdm::kOffData + 2 * i);
    return true;
}

void SetParamBytes(RdmEngine& engine, Uid uid, uint16_t pid, const uint8_t* source, int length)
{
    LogPid(engine, "Set", pid);
    if (length > rdm::kMaxPdl)
        length = rdm::kMaxPdl;
    engine.PrepareRequest(rdm::SET_COMMAND, pid, source, uint8_t(length < 0 ? 0 : length));
    engine.RdmTransaction(uid, rdm::kReplyReadLength);
}

void SetParamWords(RdmEngine& engine, Uid uid, uint16_t pid, const uint16_t* source, int count)
{
    LogPid(engine, "Set", pid);
    if (count > rdm::kMaxPdl / 2)
        count = rdm::kMaxPdl / 2;
    uint8_t* data = engine.request + rdm::kOffData;
    for (int i = 0; i < count; ++i)
        rdm::WriteBE16(source[i], data + 2 * i);
    engine.PrepareRequest(rdm::SET_COMMAND, pid, nullptr, uint8_t(2 * (count < 0 ? 0 : count)));
    engine.RdmTransaction(uid, rdm::kReplyReadLength);
}
