#pragma once
// What the controller receives when several responders answer a discovery branch
// at once.
#include <cstdint>
#include <vector>

namespace rig {

// How a line combines the bits of drivers that talk at once.
enum class Combine {
    // Any 0 bit wins, as on most lines. Where the sum of bits would still decode
    // as a clean reply, the framing of its last bytes is lost: never a clean one.
    And,
    // Any 1 bit wins. Some pairs of replies then combine into a clean reply from
    // a UID above both, that no device carries: a phantom.
    Or,
};

// The replies overlap byte by byte, combined as `combine` says.
std::vector<uint8_t> CollideReplies(const std::vector<std::vector<uint8_t>>& replies, Combine combine = Combine::And);

} // namespace rig
