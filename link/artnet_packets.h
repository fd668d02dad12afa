#pragma once
// Art-Net's packets for finding nodes, their tables of RDM devices, RDM requests
// and replies, and DMX: encoded as the protocol lays them out and decoded from
// whatever the network brings. A decoder takes nothing it cannot check: a packet
// too short, of another protocol or of another opcode is refused whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace artnet {

constexpr uint16_t kUdpPort = 6454;
constexpr uint8_t kProtocolVersion = 14;
constexpr uint16_t kMaxPortAddress = 0x7FFF;  // 15 bits: net, sub-net, universe

enum OpCode : uint16_t {
    OpPoll = 0x2000,
    OpPollReply = 0x2100,
    OpDmx = 0x5000,
    OpTodRequest = 0x8000,
    OpTodData = 0x8100,
    OpTodControl = 0x8200,
    OpRdm = 0x8300,
};

// ArtTodData's answer: the table follows, or the node has none to give yet.
constexpr uint8_t kTodFull = 0x00;
constexpr uint8_t kTodNak = 0xFF;
// ArtTodControl's commands.
constexpr uint8_t kAtcNone = 0x00;
constexpr uint8_t kAtcFlush = 0x01;
// UIDs in one ArtTodData at most.
constexpr size_t kUidsPerBlock = 200;
// The largest packet: ArtDmx of 512 slots, or ArtRdm of the longest RDM message.
constexpr size_t kMaxPacket = 18 + 512;

// The opcode of an Art-Net packet, or 0 for bytes that are not one.
uint16_t OpCodeOf(const uint8_t* bytes, size_t size);

// "net.sub-net.universe" of a Port-Address, as the tools print it ("0.0.1").
std::string PortAddressText(uint16_t portAddress);

std::vector<uint8_t> EncodePoll();

struct NodePort {
    uint16_t portAddress = 0;
    bool output = false;  // sends DMX from Art-Net onto its line
    bool rdm = false;     // and carries RDM there
};

struct PollReply {
    uint32_t ip = 0;  // host order: 10.0.0.20 is 0x0A000014
    uint16_t oem = 0, esta = 0;
    uint8_t bindIndex = 1;
    std::string shortName, longName;  // as the node sent them, at most 17 and 63 bytes
    std::vector<NodePort> ports;      // up to four per reply
};
std::vector<uint8_t> EncodePollReply(const PollReply& reply);
bool DecodePollReply(const uint8_t* bytes, size_t size, PollReply& reply);

std::vector<uint8_t> EncodeTodRequest(uint16_t portAddress);
// The Port-Addresses asked for (one net, up to 32 universes of it).
bool DecodeTodRequest(const uint8_t* bytes, size_t size, std::vector<uint16_t>& portAddresses);

std::vector<uint8_t> EncodeTodControl(uint16_t portAddress, uint8_t command);
bool DecodeTodControl(const uint8_t* bytes, size_t size, uint16_t& portAddress, uint8_t& command);

struct TodData {
    uint16_t portAddress = 0;
    uint8_t port = 1;  // the node's physical port, 1 to 4
    uint8_t bindIndex = 1;
    uint8_t response = kTodFull;
    uint16_t total = 0;  // UIDs in the whole table
    uint8_t block = 0;   // this packet's place among those that carry it
    std::vector<uint64_t> uids;
};
std::vector<uint8_t> EncodeTodData(const TodData& data);
bool DecodeTodData(const uint8_t* bytes, size_t size, TodData& data);

// ArtRdm around an RDM message given without its start code; `out` holds
// kMaxPacket bytes. Returns the packet's size, 0 when the message is too long.
size_t EncodeRdm(uint16_t portAddress, const uint8_t* message, size_t size, uint8_t* out);
// The RDM message an ArtRdm carries (without its start code), in place.
bool DecodeRdm(const uint8_t* bytes, size_t size, uint16_t& portAddress, const uint8_t*& message,
               size_t& messageSize);

// ArtDmx of `count` slots (1 to 512; an odd count is padded with a 0 slot, as
// the protocol wants an even length); `out` holds kMaxPacket bytes.
size_t EncodeDmx(uint16_t portAddress, uint8_t sequence, const uint8_t* slots, size_t count, uint8_t* out);
bool DecodeDmx(const uint8_t* bytes, size_t size, uint16_t& portAddress, uint8_t& sequence, const uint8_t*& slots,
               size_t& count);

// A node's table of devices as its ArtTodData packets bring it: blocks in any
// order, each counted once, complete when it holds as many UIDs as the node says
// it has. A table whose total changes starts over.
class TodTable {
public:
    explicit TodTable(uint16_t portAddress) : portAddress_(portAddress) {}
    // Takes a packet of this table's Port-Address; false for any other.
    bool take(const TodData& data);
    bool complete() const { return seenTotal_ && !nak_ && uids_.size() >= total_; }
    // The node said it has no table yet (still discovering).
    bool refused() const { return nak_; }
    bool any() const { return seenTotal_ || nak_; }
    uint16_t total() const { return total_; }
    // The UIDs so far, in ascending order, each once.
    const std::vector<uint64_t>& uids() const { return uids_; }

private:
    uint16_t portAddress_;
    bool seenTotal_ = false, nak_ = false;
    uint16_t total_ = 0;
    std::vector<uint8_t> blocks_;  // the block numbers taken
    std::vector<uint64_t> uids_;
};

} // namespace artnet
