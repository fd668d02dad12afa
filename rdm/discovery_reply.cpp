#include "rdm/discovery_reply.h"

namespace rdm {

std::vector<uint8_t> EncodeDiscoveryReply(Uid uid, int preambleLength)
{
    if (preambleLength < 0)
        preambleLength = 0;
    if (preambleLength > kMaxDiscoveryPreamble)
        preambleLength = kMaxDiscoveryPreamble;
    std::vector<uint8_t> out(size_t(preambleLength), 0xFE);
    out.push_back(0xAA);
    uint16_t sum = 0;
    uint8_t raw[6];
    WriteUid(uid, raw);
    for (uint8_t b : raw) {
        const uint8_t hi = b | 0xAA, lo = b | 0x55;
        out.push_back(hi);
        out.push_back(lo);
        sum = uint16_t(sum + hi + lo);
    }
    out.push_back(uint8_t(sum >> 8) | 0xAA);
    out.push_back(uint8_t(sum >> 8) | 0x55);
    out.push_back(uint8_t(sum) | 0xAA);
    out.push_back(uint8_t(sum) | 0x55);
    return out;
}

namespace {

// The reply whose separator is at `separator`.
DiscoveryReply DecodeAt(const uint8_t* bytes, size_t count, size_t separator, Uid& uid)
{
    const uint8_t* s = bytes + separator + 1;
    if (count < separator + 1 + kDiscoveryReplyBody)
        return DiscoveryReply::Incomplete;
    uint8_t raw[6];
    uint16_t sum = 0;
    bool encoded = true;
    for (int k = 0; k < 6; ++k) {
        const uint8_t a = s[2 * k], b = s[2 * k + 1];
        encoded = encoded && (a & 0xAA) == 0xAA && (b & 0x55) == 0x55;
        raw[k] = a & b;
        sum = uint16_t(sum + a + b);
    }
    const uint16_t expected = uint16_t(((s[12] & s[13]) << 8) | (s[14] & s[15]));
    encoded = encoded && (s[12] & 0xAA) == 0xAA && (s[13] & 0x55) == 0x55 && (s[14] & 0xAA) == 0xAA &&
              (s[15] & 0x55) == 0x55;
    if (!encoded || sum != expected)
        return DiscoveryReply::Garbled;
    // A UID no device may carry (0, a broadcast) is overlapping replies that
    // happen to sum right: listed, it would send what follows to every device.
    const Uid decoded = ReadUid(raw);
    if (!IsDeviceUid(decoded))
        return DiscoveryReply::Garbled;
    uid = decoded;
    return DiscoveryReply::Whole;
}

} // namespace

DiscoveryReply DecodeDiscoveryReply(const uint8_t* bytes, size_t count, Uid& uid)
{
    size_t separator = 0;
    while (separator < count && separator < kSeparatorSearch && bytes[separator] != 0xAA)
        ++separator;
    const DiscoveryReply first = separator < count && separator < kSeparatorSearch
                                     ? DecodeAt(bytes, count, separator, uid)
                                     : DiscoveryReply::None;
    if (first == DiscoveryReply::Whole)
        return first;
    // Noise ahead of the preamble pushes the separator further in: a clean reply
    // there is the answer all the same. Sixteen bytes that encode a UID and its sum
    // do not come about by chance.
    for (size_t at = separator + 1; at + 1 + kDiscoveryReplyBody <= count; ++at)
        if (bytes[at] == 0xAA && DecodeAt(bytes, count, at, uid) == DiscoveryReply::Whole)
            return DiscoveryReply::Whole;
    return first;
}

bool LooksLikeReply(const uint8_t* b, size_t count)
{
    constexpr uint8_t kStartCode = 0xCC, kSubStartCode = 0x01;
    for (size_t i = 0; i + 1 < count; ++i) {
        if (b[i] == kStartCode && b[i + 1] == kSubStartCode)
            return true;
        if (i + 3 < count && (b[i] & 0xAA) == 0xAA && (b[i + 1] & 0x55) == 0x55 && (b[i + 2] & 0xAA) == 0xAA &&
            (b[i + 3] & 0x55) == 0x55)
            return true;
    }
    return false;
}

bool NoiseOnly(const uint8_t* bytes, int count)
{
    return count > 0 && count < int(1 + kDiscoveryReplyBody) && !LooksLikeReply(bytes, size_t(count));
}

BranchResult JudgeBranchReply(const uint8_t* reply, Uid lowerBound, Uid upperBound, Uid& found)
{
    // Room for the separator where E1.20 places it, or behind a burst of noise.
    constexpr size_t kJudged = 40;
    Uid uid = 0;
    switch (DecodeDiscoveryReply(reply, kJudged, uid)) {
    case DiscoveryReply::None:
        // The read's fill where nothing came; anything else is overlapping replies.
        for (size_t i = 0; i <= kSeparatorSearch; ++i)
            if (reply[i] != 0x55)
                return BranchCollision;
        return BranchSilent;
    case DiscoveryReply::Whole:
        if (uid < lowerBound || uid > upperBound)
            return BranchCollision;
        found = uid;
        return BranchSingle;
    default:
        return BranchCollision;
    }
}

int BranchReplyWhole(const uint8_t* reply, int count, void*)
{
    Uid uid = 0;
    return count > 0 && DecodeDiscoveryReply(reply, size_t(count), uid) == DiscoveryReply::Whole ? count : 0;
}

} // namespace rdm
