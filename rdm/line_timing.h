#pragma once
// Times of the DMX512/RDM line that the fast exchange waits by (E1.20).
#include <cstdint>

namespace line_timing {

constexpr uint64_t kByteUs = 44;    // one slot: 11 bits at 250000 baud
constexpr uint64_t kBreakUs = 176;  // the shortest break a transmitter sends
constexpr uint64_t kMarkAfterBreakUs = 12;
// A response that has not begun this long after the request's end is lost.
constexpr uint64_t kResponseLostUs = 2800;
// The longest pause a responder may leave between two slots of its response.
constexpr uint64_t kInterSlotMaxUs = 2100;
// Extra time a begun reply is given before a pause counts as its end: the
// operating system can hand bytes on late when it is busy, and a reply that has
// begun is worth the wait (only a reply that really stops part-way pays it).
constexpr uint64_t kBegunReplySlackUs = 8000;
// The line's rest after a broadcast, which nobody answers, before the next request.
constexpr uint64_t kAfterBroadcastUs = 176;

// Line time of a packet of `bytes` slots after its break and mark-after-break.
constexpr uint64_t PacketUs(int bytes) { return kBreakUs + kMarkAfterBreakUs + uint64_t(bytes) * kByteUs; }

} // namespace line_timing
