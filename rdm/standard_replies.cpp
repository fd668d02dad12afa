#include "rdm/standard_replies.h"

#include "rdm/rdm_defs.h"

#include <cstring>

namespace rdm {

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, uint16_t(v >> 16));
    Put16(out, uint16_t(v));
}

} // namespace

bool DecodeDeviceInfo(const uint8_t* d, size_t size, DeviceInfo& out)
{
    // Later revisions may add fields at the end.
    if (size < kDeviceInfoSize)
        return false;
    out.protocolMajor = d[0];
    out.protocolMinor = d[1];
    out.modelId = ReadBE16(d + 2);
    out.productCategory = ReadBE16(d + 4);
    out.softwareVersionId = ReadBE32(d + 6);
    out.footprint = ReadBE16(d + 10);
    out.personality = d[12];
    out.personalityCount = d[13];
    out.startAddress = ReadBE16(d + 14);
    out.subDeviceCount = ReadBE16(d + 16);
    out.sensorCount = d[18];
    return true;
}

std::vector<uint8_t> EncodeDeviceInfo(const DeviceInfo& i)
{
    std::vector<uint8_t> out{i.protocolMajor, i.protocolMinor};
    Put16(out, i.modelId);
    Put16(out, i.productCategory);
    Put32(out, i.softwareVersionId);
    Put16(out, i.footprint);
    out.push_back(i.personality);
    out.push_back(i.personalityCount);
    Put16(out, i.startAddress);
    Put16(out, i.subDeviceCount);
    out.push_back(i.sensorCount);
    return out;
}

size_t DecodeSupportedParameters(const uint8_t* data, size_t size, uint16_t* out, size_t capacity)
{
    const size_t count = size / 2;
    for (size_t i = 0; i < count && i < capacity; ++i)
        out[i] = ReadBE16(data + 2 * i);
    return count;
}

std::vector<uint8_t> EncodeSupportedParameters(const std::vector<uint16_t>& pids)
{
    std::vector<uint8_t> out;
    for (uint16_t pid : pids)
        Put16(out, pid);
    return out;
}

bool DecodeParameterDescription(const uint8_t* d, size_t size, ParameterDescription& out)
{
    if (size < kParameterDescriptionFixed || size > kParameterDescriptionFixed + 32)
        return false;
    out.pid = ReadBE16(d);
    out.pdlSize = d[2];
    out.dataType = d[3];
    out.commandClass = d[4];
    out.type = d[5];
    out.unit = d[6];
    out.prefix = d[7];
    out.minValue = ReadBE32(d + 8);
    out.maxValue = ReadBE32(d + 12);
    out.defaultValue = ReadBE32(d + 16);
    const size_t length = size - kParameterDescriptionFixed;
    std::memset(out.description, 0, sizeof out.description);
    std::memcpy(out.description, d + kParameterDescriptionFixed, length);
    return true;
}

std::vector<uint8_t> EncodeParameterDescription(const ParameterDescription& p)
{
    std::vector<uint8_t> out;
    out.reserve(kParameterDescriptionFixed + sizeof p.description);
    Put16(out, p.pid);
    out.insert(out.end(), {p.pdlSize, p.dataType, p.commandClass, p.type, p.unit, p.prefix});
    Put32(out, p.minValue);
    Put32(out, p.maxValue);
    Put32(out, p.defaultValue);
    const size_t length = strnlen(p.description, 32);
    out.insert(out.end(), p.description, p.description + length);
    return out;
}

} // namespace rdm
