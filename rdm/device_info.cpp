#include "rdm/device_info.h"

#include "rdm/parameter_exchange.h"

#include <cstdio>

const char* const kDeviceInfoRowNames[9] = {
    "RDM Protocol Version", "Device Model ID",      "Product Category", "Software Version ID", "DMX512 Footprint",
    "DMX512 Personality",   "DMX512 Start Address", "Sub-Device Count", "Sensor Count",
};

int GetSupportedParameters(RdmEngine& engine, Uid uid, uint16_t* pids, int capacity)
{
    for (int i = 0; i < capacity; ++i)
        pids[i] = 0;
    engine.log().appendLine("Получение параметров " + UidLogText(uid));
    // A long list comes in ACK_OVERFLOW parts, joined here.
    const ParameterReply reply =
        ExchangeParameter(engine, rdm::RdmRequest(uid, rdm::GET_COMMAND, rdm::SUPPORTED_PARAMETERS, nullptr, 0));
    if (reply.result != TxAck)
        return 0;
    return int(rdm::DecodeSupportedParameters(reply.data.data(), reply.data.size(), pids, size_t(capacity)));
}

bool GetParameterDescription(RdmEngine& engine, Uid uid, uint16_t pid, rdm::ParameterDescription& out)
{
    uint8_t data[2];
    rdm::WriteBE16(pid, data);
    const ParameterReply reply =
        ExchangeParameter(engine, rdm::RdmRequest(uid, rdm::GET_COMMAND, rdm::PARAMETER_DESCRIPTION, data, 2));
    return reply.result == TxAck && rdm::DecodeParameterDescription(reply.data.data(), reply.data.size(), out);
}

bool GetDeviceInfo(RdmEngine& engine, Uid uid, rdm::DeviceInfo& out)
{
    const ParameterReply reply =
        ExchangeParameter(engine, rdm::RdmRequest(uid, rdm::GET_COMMAND, rdm::DEVICE_INFO, nullptr, 0));
    return reply.result == TxAck && rdm::DecodeDeviceInfo(reply.data.data(), reply.data.size(), out);
}

const char* ProductCategoryName(uint16_t code)
{
    switch (code) {
    case 0x0101: return "Fixed Fixture";
    case 0x0102: return "Moving Head";
    case 0x0103: return "Scanner";
    case 0x0300: return "Projector";
    case 0x0401: return "Fog & Haze";
    case 0x0501: return "Dimmer";
    case 0x0502: return "CFL Dimmer";
    case 0x0504: return "Switch";
    case 0x0509: return "LED Dimmer";
    default: return "unknown";
    }
}

std::array<std::string, 9> DeviceInfoTexts(const rdm::DeviceInfo& i)
{
    char text[32];
    std::array<std::string, 9> rows;
    rows[0] = std::to_string(i.protocolMajor) + "." + std::to_string(i.protocolMinor);
    std::snprintf(text, sizeof text, "0x%04X", unsigned(i.modelId));
    rows[1] = text;
    rows[2] = ProductCategoryName(i.productCategory);
    std::snprintf(text, sizeof text, "0x%08X", unsigned(i.softwareVersionId));
    rows[3] = text;
    rows[4] = std::to_string(i.footprint);
    rows[5] = std::to_string(i.personality) + "(" + std::to_string(i.personalityCount) + ")";
    rows[6] = std::to_string(i.startAddress);
    rows[7] = std::to_string(i.subDeviceCount);
    rows[8] = std::to_string(i.sensorCount);
    return rows;
}

bool ReadDeviceInfo(RdmEngine& engine, Uid uid, std::array<std::string, 9>& rows)
{
    rdm::DeviceInfo info;
    if (!GetDeviceInfo(engine, uid, info))
        return false;
    rows = DeviceInfoTexts(info);
    return true;
}

bool ReadFootprintAndStart(RdmEngine& engine, Uid uid, uint16_t& footprint, uint16_t& startIndex)
{
    rdm::DeviceInfo info;
    if (!GetDeviceInfo(engine, uid, info))
        return false;
    footprint = info.footprint;
    startIndex = uint16_t(info.startAddress - 1);
    return true;
}

TxResult SetIdentify(RdmEngine& engine, Uid uid, bool on)
{
    const uint8_t data = on ? 1 : 0;
    return ExchangeParameter(engine, rdm::RdmRequest(uid, rdm::SET_COMMAND, rdm::IDENTIFY_DEVICE, &data, 1)).result;
}

TxResult SetStartAddress(RdmEngine& engine, Uid uid, uint16_t startIndex)
{
    uint8_t address[2];
    rdm::WriteBE16(uint16_t(startIndex + 1), address);
    return ExchangeParameter(engine, rdm::RdmRequest(uid, rdm::SET_COMMAND, rdm::DMX_START_ADDRESS, address, 2)).result;
}
