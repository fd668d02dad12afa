#include "rig/collision.h"

#include "rdm/discovery_reply.h"

#include <algorithm>

namespace rig {

std::vector<uint8_t> CollideReplies(const std::vector<std::vector<uint8_t>>& replies, Combine combine)
{
    if (replies.empty())
        return {};
    if (replies.size() == 1)
        return replies.front();
    size_t length = 0;
    for (const auto& r : replies)
        length = std::max(length, r.size());
    const bool ored = combine == Combine::Or;
    std::vector<uint8_t> out(length, ored ? 0x00 : 0xFF);
    for (const auto& r : replies)
        for (size_t i = 0; i < r.size(); ++i)
            out[i] = ored ? out[i] | r[i] : out[i] & r[i];
    if (ored)
        return out;
    // Overlapping senders also break each other's framing; if the sum of bits still
    // happened to decode cleanly, the stop bits of the last pair would be lost.
    Uid uid = 0;
    if (rdm::DecodeDiscoveryReply(out.data(), out.size(), uid) == rdm::DiscoveryReply::Whole)
        out.resize(out.size() - 4);
    return out;
}

} // namespace rig
