#include "rdm/device_info.h"

#include <cstdio>

const char* const kDeviceInfoRowNames[9] = {
    "RDM Protocol Version", "Device Model ID",      "Product Category", "Software Version ID", "DMX512 Footprint",
    "DMX512 Personality",   "DMX512 Start Address", "Sub-Device Count", "Sensor Count",
};

int GetSupportedParameters(RdmEngine& engine, Uid uid, ParamTable& table)
{
    for (uint16_t& pid : table.supportedPids)
        pid = 0;
    engine.log().appendLine("Получение параметров " + UidLogText(uid));
    engine.PrepareRequest(rdm::GET_COMMAND, rdm::SUPPORTED_PARAMETERS);
    if (engine.RdmTransaction(uid, rdm::kReplyReadLength) != TxAck)
        return 0;
    int count = engine.response[rdm::kOffPdl] / 2;
    if (count > ParamTable::kCapacity)
        count = ParamTable::kCapacity;
    for (int i = 0; i < count; ++i)
        table.supportedPids[i] = rdm::ReadBE16(engine.response + rdm::kOffData + 2 * i);
    return count;
}

void GetParameterDescription(RdmEngine& engine, Uid uid, uint16_t pid, RDMPARAMDESC& record)
{
    record.Clear();
    uint8_t data[2];
    rdm::WriteBE16(pid, data);
    engine.PrepareRequest(rdm::GET_COMMAND, rdm::PARAMETER_DESCRIPTION, data, 2);
    if (engine.RdmTransaction(uid, rdm::kReplyReadLength) == TxAck)
        FillFromParameterDescription(engine.response + rdm::kOffData, engine.response[rdm::kOffPdl], record);
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

std::array<std::string, 9> DeviceInfoTexts(const uint8_t* d)
{
    char text[32];
    std::array<std::string, 9> rows;
    rows[0] = std::to_string(d[0]) + "." + std::to_string(d[1]);
    std::snprintf(text, sizeof text, "0x%02X%02X", d[2], d[3]);
    rows[1] = text;
    rows[2] = ProductCategoryName(rdm::ReadBE16(d + 4));
    std::snprintf(text, sizeof text, "0x%02X%02X%02X%02X", d[6], d[7], d[8], d[9]);
    rows[3] = text;
    rows[4] = std::to_string(rdm::ReadBE16(d + 10));
    rows[5] = std::to_string(d[12]) + "(" + std::to_string(d[13]) + ")";
    rows[6] = std::to_string(rdm::ReadBE16(d + 14));
    rows[7] = std::to_string(rdm::ReadBE16(d + 16));
    rows[8] = std::to_string(d[18]);
    return rows;
}

bool ReadDeviceInfo(RdmEngine& engine, Uid uid, std::array<std::string, 9>& rows)
{
    engine.PrepareRequest(rdm::GET_COMMAND, rdm::DEVICE_INFO);
    if (engine.RdmTransaction(uid, rdm::kReplyReadLength) != TxAck)
        return false;
    rows = DeviceInfoTexts(engine.response + rdm::kOffData);
    return true;
}

bool ReadFootprintAndStart(RdmEngine& engine, Uid uid, uint16_t& footprint, uint16_t& startIndex)
{
    engine.PrepareRequest(rdm::GET_COMMAND, rdm::DEVICE_INFO);
    if (engine.RdmTransaction(uid, rdm::kReplyReadLength) != TxAck)
        return false;
    const uint8_t* data = engine.response + rdm::kOffData;
    footprint = rdm::ReadBE16(data + 10);
    startIndex = uint16_t(rdm::ReadBE16(data + 14) - 1);
    return true;
}

TxResult SetIdentify(RdmEngine& engine, Uid uid, bool on)
{
    const uint8_t data = on ? 1 : 0;
    engine.PrepareRequest(rdm::SET_COMMAND, rdm::IDENTIFY_DEVICE, &data, 1);
    return engine.RdmTransaction(uid, rdm::kReplyReadLength);
}

TxResult SetStartAddress(RdmEngine& engine, Uid uid, uint16_t startIndex)
{
    uint8_t address[2];
    rdm::WriteBE16(uint16_t(startIndex + 1), address);
    engine.PrepareRequest(rdm::SET_COMMAND, rdm::DMX_START_ADDRESS, address, 2);
    return engine.RdmTransaction(uid, rdm::kReplyReadLength);
}
