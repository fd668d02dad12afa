#pragma once
// The encoded form of a DISC_UNIQUE_BRANCH reply: up to seven 0xFE, the separator
// 0xAA, each UID byte twice (ORed with 0xAA and with 0x55), and the 16-bit sum of
// those twelve bytes encoded the same way. No break goes before it on the line.
#include "rdm/uid.h"

#include <cstddef>
#include <cstdint>
#include <vector>

enum BranchResult : uint8_t {
    BranchSilent = 0,
    BranchCollision = 1,
    BranchSingle = 2,
};

namespace rdm {

constexpr int kMaxDiscoveryPreamble = 7;
// The encoded UID and checksum after the separator.
constexpr size_t kDiscoveryReplyBody = 16;
// A controller looks for the separator this far into what it read: the preamble,
// and whatever a slow line put ahead of it.
constexpr size_t kSeparatorSearch = 15;

// The reply of `uid` with `preambleLength` (0..7) bytes of 0xFE.
std::vector<uint8_t> EncodeDiscoveryReply(Uid uid, int preambleLength = kMaxDiscoveryPreamble);

enum class DiscoveryReply : uint8_t {
    None,        // no separator where one may be
    Incomplete,  // a separator, but not yet all 16 bytes after it
    Garbled,     // all there, but the encoding or the checksum does not hold, or
                 // the UID is none a device may carry
    Whole,       // one clean reply: `uid` holds it
};

// Reads the reply in the first `count` bytes: its separator among the first
// kSeparatorSearch bytes as E1.20 places it, or, when that holds no clean reply,
// a clean reply further on behind a burst of line noise.
DiscoveryReply DecodeDiscoveryReply(const uint8_t* bytes, size_t count, Uid& uid);

// Whether `count` bytes hold anything of a reply: the start of an RDM message, or
// two pairs of bytes encoded as a discovery reply encodes its UID, which replies
// that collide keep and random bytes almost never show.
bool LooksLikeReply(const uint8_t* bytes, size_t count);
// Whether the `count` bytes read after a branch are only line noise: fewer than
// the shortest reply, and nothing of a reply among them. Replies that collide
// leave more.
bool NoiseOnly(const uint8_t* bytes, int count);

// Judges the 40 bytes read after a branch request over [lowerBound, upperBound],
// filled with 0x55 beyond what came: nothing, one clean reply in range (`found`
// gets its UID), or anything else, which counts as a collision.
BranchResult JudgeBranchReply(const uint8_t* reply, Uid lowerBound, Uid upperBound, Uid& found);

// Whether the first `count` bytes after a branch request hold one whole, correctly
// summed reply, in the form a fast read's judge takes: `count` when whole, else 0.
int BranchReplyWhole(const uint8_t* reply, int count, void* unused = nullptr);

} // namespace rdm
