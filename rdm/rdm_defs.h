#pragma once
// RDM constants of ANSI E1.20 that the controller uses, and the message checksum.
#include <cstddef>
#include <cstdint>

namespace rdm {

constexpr uint8_t kStartCode = 0xCC;
constexpr uint8_t kSubStartCode = 0x01;
constexpr size_t kBufferSize = 512;
constexpr size_t kHeaderSize = 24;
constexpr uint8_t kMaxPdl = 231;
// Bytes asked of the port for an ordinary reply: more than any reply holds.
constexpr int kReplyReadLength = 200;

// Offsets into a message.
constexpr size_t kOffLength = 2;
constexpr size_t kOffDestination = 3;
constexpr size_t kOffSource = 9;
constexpr size_t kOffTransaction = 15;
constexpr size_t kOffPortOrResponseType = 16;
constexpr size_t kOffMessageCount = 17;
constexpr size_t kOffSubDevice = 18;
constexpr size_t kOffCommandClass = 20;
constexpr size_t kOffPid = 21;
constexpr size_t kOffPdl = 23;
constexpr size_t kOffData = 24;

constexpr uint8_t DISCOVERY_COMMAND = 0x10;
constexpr uint8_t DISCOVERY_COMMAND_RESPONSE = 0x11;
constexpr uint8_t GET_COMMAND = 0x20;
constexpr uint8_t GET_COMMAND_RESPONSE = 0x21;
constexpr uint8_t SET_COMMAND = 0x30;
constexpr uint8_t SET_COMMAND_RESPONSE = 0x31;

constexpr uint8_t RESPONSE_TYPE_ACK = 0x00;
constexpr uint8_t RESPONSE_TYPE_ACK_TIMER = 0x01;
constexpr uint8_t RESPONSE_TYPE_NACK_REASON = 0x02;
constexpr uint8_t RESPONSE_TYPE_ACK_OVERFLOW = 0x03;

constexpr uint16_t NR_UNKNOWN_PID = 0x0000;
constexpr uint16_t NR_FORMAT_ERROR = 0x0001;
constexpr uint16_t NR_HARDWARE_FAULT = 0x0002;
constexpr uint16_t NR_WRITE_PROTECT = 0x0004;
constexpr uint16_t NR_UNSUPPORTED_COMMAND_CLASS = 0x0005;
constexpr uint16_t NR_DATA_OUT_OF_RANGE = 0x0006;
constexpr uint16_t NR_SUB_DEVICE_OUT_OF_RANGE = 0x0009;

constexpr uint16_t DISC_UNIQUE_BRANCH = 0x0001;
constexpr uint16_t DISC_MUTE = 0x0002;
constexpr uint16_t DISC_UN_MUTE = 0x0003;
constexpr uint16_t SUPPORTED_PARAMETERS = 0x0050;
constexpr uint16_t PARAMETER_DESCRIPTION = 0x0051;
constexpr uint16_t DEVICE_INFO = 0x0060;
constexpr uint16_t DEVICE_MODEL_DESCRIPTION = 0x0080;
constexpr uint16_t MANUFACTURER_LABEL = 0x0081;
constexpr uint16_t DEVICE_LABEL = 0x0082;
constexpr uint16_t SOFTWARE_VERSION_LABEL = 0x00C0;
constexpr uint16_t DMX_PERSONALITY = 0x00E0;
constexpr uint16_t DMX_PERSONALITY_DESCRIPTION = 0x00E1;
constexpr uint16_t DMX_START_ADDRESS = 0x00F0;
constexpr uint16_t IDENTIFY_DEVICE = 0x1000;
constexpr uint16_t QUEUED_MESSAGE = 0x0020;
constexpr uint16_t STATUS_MESSAGES = 0x0030;
constexpr uint16_t STATUS_ID_DESCRIPTION = 0x0031;
constexpr uint16_t SENSOR_DEFINITION = 0x0200;
constexpr uint16_t SENSOR_VALUE = 0x0201;
constexpr uint16_t DEVICE_HOURS = 0x0400;
constexpr uint16_t LAMP_HOURS = 0x0401;
constexpr uint16_t LAMP_STATE = 0x0403;
constexpr uint16_t LAMP_ON_MODE = 0x0404;
constexpr uint16_t DISPLAY_LEVEL = 0x0501;
constexpr uint16_t TILT_INVERT = 0x0601;
constexpr uint16_t PAN_TILT_SWAP = 0x0602;

// Status types of STATUS_MESSAGES.
constexpr uint8_t STATUS_NONE = 0x00;
constexpr uint8_t STATUS_GET_LAST_MESSAGE = 0x01;
constexpr uint8_t STATUS_ADVISORY = 0x02;
constexpr uint8_t STATUS_WARNING = 0x03;
constexpr uint8_t STATUS_ERROR = 0x04;
constexpr uint8_t STATUS_ADVISORY_CLEARED = 0x12;
constexpr uint8_t STATUS_WARNING_CLEARED = 0x13;
constexpr uint8_t STATUS_ERROR_CLEARED = 0x14;

// 16-bit sum of the bytes, carries beyond 16 bits dropped.
inline uint16_t Checksum(const uint8_t* bytes, size_t count)
{
    uint16_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum = uint16_t(sum + bytes[i]);
    return sum;
}

inline uint16_t ReadBE16(const uint8_t* b) { return uint16_t((b[0] << 8) | b[1]); }
inline uint32_t ReadBE32(const uint8_t* b)
{
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}
inline void WriteBE16(uint16_t v, uint8_t* b)
{
    b[0] = uint8_t(v >> 8);
    b[1] = uint8_t(v);
}
inline void WriteBE32(uint32_t v, uint8_t* b)
{
    b[0] = uint8_t(v >> 24);
    b[1] = uint8_t(v >> 16);
    b[2] = uint8_t(v >> 8);
    b[3] = uint8_t(v);
}

} // namespace rdm
