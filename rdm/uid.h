#pragma once
// 48-bit RDM UIDs held in a 64-bit number: manufacturer in bits 32..47, device in 0..31.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using Uid = uint64_t;

constexpr Uid kBroadcastUid = 0xFFFFFFFFFFFFull;
constexpr Uid kOwnUid = 0x4164FF000001ull;

constexpr Uid MakeUid(uint16_t manufacturer, uint32_t device) { return (Uid(manufacturer) << 32) | device; }
constexpr uint16_t UidManufacturer(Uid uid) { return uint16_t(uid >> 32); }
constexpr uint32_t UidDevice(Uid uid) { return uint32_t(uid); }
// Every device (FFFF:FFFFFFFF) or every device of one maker (7FF0:FFFFFFFF):
// nobody answers a request sent to it.
constexpr bool IsBroadcastUid(Uid uid) { return UidDevice(uid) == 0xFFFFFFFFu; }
// A UID one device can carry: 48 bits, neither 0 nor a broadcast.
constexpr bool IsDeviceUid(Uid uid) { return uid != 0 && uid <= 0xFFFFFFFFFFFFull && !IsBroadcastUid(uid); }

inline void WriteUid(Uid uid, uint8_t* out)
{
    for (int i = 0; i < 6; ++i)
        out[i] = uint8_t(uid >> (40 - 8 * i));
}

inline Uid ReadUid(const uint8_t* in)
{
    Uid uid = 0;
    for (int i = 0; i < 6; ++i)
        uid = (uid << 8) | in[i];
    return uid;
}

// "0x" and upper-case hex with at least six digits, as log lines show a UID.
std::string UidLogText(Uid uid);
// Twelve upper-case hex digits, as the device list shows a discovered UID.
std::string UidListText(Uid uid);
// "7FF0:00000001": manufacturer and device, as the tools print and take UIDs.
std::string UidColonText(Uid uid);
// A UID as people write it: "7FF0:00000001", "7FF000000001" or "0x7FF000000001"
// (twelve hex digits, any case); nothing for anything else.
std::optional<Uid> ParseUidText(std::string_view text);
