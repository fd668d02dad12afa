#include "rig/discovery_codec.h"

namespace rig {

std::vector<uint8_t> EncodeDiscoveryReply(Uid uid, int preambleLength)
{
    if (preambleLength < 0)
        preambleLength = 0;
    if (preambleLength > 7)
        preambleLength = 7;
    std::vector<uint8_t> out(size_t(preambleLength), 0xFE);
    out.push_back(0xAA);
    uint16_t sum = 0;
    uint8_t raw[6];
    WriteUid(uid, raw);
    for (uint8_t b : raw) {
        uint8_t hi = b | 0xAA, lo = b | 0x55;
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

std::optional<Uid> DecodeDiscoveryReply(const std::vector<uint8_t>& bytes)
{
    size_t s = 0;
    while (s < bytes.size() && s < 8 && bytes[s] == 0xFE)
        ++s;
    if (s >= bytes.size() || bytes[s] != 0xAA)
        return std::nullopt;
    ++s;
    if (bytes.size() < s + 16)
        return std::nullopt;
    uint8_t raw[6];
    uint16_t sum = 0;
    for (int k = 0; k < 6; ++k) {
        uint8_t a = bytes[s + 2 * k], b = bytes[s + 2 * k + 1];
        if ((a & 0xAA) != 0xAA || (b & 0x55) != 0x55)
            return std::nullopt;
        raw[k] = a & b;
        sum = uint16_t(sum + a + b);
    }
    uint16_t expected = uint16_t(((bytes[s + 12] & bytes[s + 13]) << 8) | (bytes[s + 14] & bytes[s + 15]));
    if (sum != expected)
        return std::nullopt;
    return ReadUid(raw);
}

std::vector<uint8_t> CollideReplies(const std::vector<std::vector<uint8_t>>& replies)
{
    if (replies.empty())
        return {};
    if (replies.size() == 1)
        return replies.front();
    size_t length = 0;
    for (const auto& r : replies)
        length = std::max(length, r.size());
    std::vector<uint8_t> out(length, 0xFF);
    for (const auto& r : replies)
        for (size_t i = 0; i < r.size(); ++i)
            out[i] &= r[i];
    // Overlapping senders also break each other's framing; if the sum of bits still
    // happened to decode cleanly, the stop bits of the last pair would be lost.
    if (DecodeDiscoveryReply(out))
        out.resize(out.size() - 4);
    return out;
}

} // namespace rig
