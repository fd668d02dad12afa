#pragma once
// The encoded form of a DISC_UNIQUE_BRANCH reply: up to seven 0xFE, the separator
// 0xAA, each UID byte twice (ORed with 0xAA and with 0x55), and the checksum of the
// twelve encoded bytes encoded the same way.
#include "rdm/uid.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace rig {

std::vector<uint8_t> EncodeDiscoveryReply(Uid uid, int preambleLength = 7);

// The UID when the bytes are one clean reply (separator, encoding and checksum).
std::optional<Uid> DecodeDiscoveryReply(const std::vector<uint8_t>& bytes);

// What the controller receives when several responders answer at once: the
// replies overlap byte by byte (modelled as the AND of the bytes driven together,
// as on an open line where any 0 bit wins). The result is never a clean reply.
std::vector<uint8_t> CollideReplies(const std::vector<std::vector<uint8_t>>& replies);

} // namespace rig
