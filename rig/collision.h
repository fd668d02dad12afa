#pragma once
// What the controller receives when several responders answer a discovery branch
// at once.
#include <cstdint>
#include <vector>

namespace rig {

// The replies overlap byte by byte (modelled as the AND of the bytes driven
// together, as on an open line where any 0 bit wins). The result is never a clean
// reply.
std::vector<uint8_t> CollideReplies(const std::vector<std::vector<uint8_t>>& replies);

} // namespace rig
