#pragma once
// The parameter data of the replies every RDM device must give, as typed values:
// DEVICE_INFO, SUPPORTED_PARAMETERS and PARAMETER_DESCRIPTION, decoded for the
// controller and encoded for the rig.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rdm {

struct DeviceInfo {
    uint8_t protocolMajor = 1;
    uint8_t protocolMinor = 0;
    uint16_t modelId = 0;
    uint16_t productCategory = 0;
    uint32_t softwareVersionId = 0;
    uint16_t footprint = 0;
    uint8_t personality = 0;
    uint8_t personalityCount = 0;
    uint16_t startAddress = 0;  // 0xFFFF for a device without a footprint
    uint16_t subDeviceCount = 0;
    uint8_t sensorCount = 0;
};
constexpr size_t kDeviceInfoSize = 19;

// False when the data is shorter than DEVICE_INFO's 19 bytes.
bool DecodeDeviceInfo(const uint8_t* data, size_t size, DeviceInfo& out);
std::vector<uint8_t> EncodeDeviceInfo(const DeviceInfo& info);

// The PIDs listed, up to `capacity` of them; returns how many there are in all
// (a trailing odd byte is no PID).
size_t DecodeSupportedParameters(const uint8_t* data, size_t size, uint16_t* out, size_t capacity);
std::vector<uint8_t> EncodeSupportedParameters(const std::vector<uint16_t>& pids);

struct ParameterDescription {
    uint16_t pid = 0;
    uint8_t pdlSize = 0;
    uint8_t dataType = 0;
    uint8_t commandClass = 0;
    uint8_t type = 0;
    uint8_t unit = 0;
    uint8_t prefix = 0;
    uint32_t minValue = 0;
    uint32_t maxValue = 0;
    uint32_t defaultValue = 0;
    char description[33] = {};  // 8-bit text, up to its first zero or 32 bytes
};
constexpr size_t kParameterDescriptionFixed = 20;

// False when the data is shorter than the 20 fixed bytes or longer than 52.
bool DecodeParameterDescription(const uint8_t* data, size_t size, ParameterDescription& out);
std::vector<uint8_t> EncodeParameterDescription(const ParameterDescription& description);

} // namespace rdm
