#pragma once
// 48-bit RDM UIDs held in a 64-bit number: manufacturer in bits 32..47, device in 0..31.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A UID: manufacturer and device number in one 48-bit value, with the ways
// people write it. It converts to and from its number, so that it sorts, compares
// and keys tables as the number does.
class Uid {
public:
    constexpr Uid() = default;
    constexpr Uid(uint64_t value) : value_(value) {}
    constexpr operator uint64_t() const { return value_; }

    constexpr uint16_t manufacturer() const { return uint16_t(value_ >> 32); }
    constexpr uint32_t device() const { return uint32_t(value_); }
    // Every device (FFFF:FFFFFFFF) or every device of one maker (7FF0:FFFFFFFF):
    // nobody answers a request sent to it.
    constexpr bool broadcast() const { return device() == 0xFFFFFFFFu; }
    // A UID one device can carry: 48 bits, neither 0 nor a broadcast.
    constexpr bool deviceUid() const { return value_ != 0 && value_ <= 0xFFFFFFFFFFFFull && !broadcast(); }

    std::string logText() const;    // "0x7FF000000001": as log lines show it, at least six digits
    std::string listText() const;   // "7FF000000001": as the device list shows it
    std::string colonText() const;  // "7FF0:00000001": as the tools print and take it
    // As people write it: "7FF0:00000001", "7FF000000001" or "0x7FF000000001"
    // (twelve hex digits, any case); nothing for anything else.
    static std::optional<Uid> parse(std::string_view text);

    // The six bytes of a message, most significant first.
    void toBytes(uint8_t* out) const
    {
        for (int i = 0; i < 6; ++i)
            out[i] = uint8_t(value_ >> (40 - 8 * i));
    }
    static Uid fromBytes(const uint8_t* in)
    {
        uint64_t value = 0;
        for (int i = 0; i < 6; ++i)
            value = (value << 8) | in[i];
        return value;
    }

private:
    uint64_t value_ = 0;
};

constexpr Uid kBroadcastUid = 0xFFFFFFFFFFFFull;
constexpr Uid kOwnUid = 0x4164FF000001ull;

constexpr Uid MakeUid(uint16_t manufacturer, uint32_t device) { return (uint64_t(manufacturer) << 32) | device; }
constexpr uint16_t UidManufacturer(Uid uid) { return uid.manufacturer(); }
constexpr uint32_t UidDevice(Uid uid) { return uid.device(); }
constexpr bool IsBroadcastUid(Uid uid) { return uid.broadcast(); }
constexpr bool IsDeviceUid(Uid uid) { return uid.deviceUid(); }
inline void WriteUid(Uid uid, uint8_t* out) { uid.toBytes(out); }
inline Uid ReadUid(const uint8_t* in) { return Uid::fromBytes(in); }
inline std::string UidLogText(Uid uid) { return uid.logText(); }
inline std::string UidListText(Uid uid) { return uid.listText(); }
inline std::string UidColonText(Uid uid) { return uid.colonText(); }
inline std::optional<Uid> ParseUidText(std::string_view text) { return Uid::parse(text); }
