#include "link/artnet_packets.h"

#include <algorithm>
#include <cstring>

namespace artnet {
namespace {

constexpr uint8_t kId[8] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr size_t kPollReplySize = 239;
constexpr size_t kRdmHeader = 24;   // ArtRdm's fields before the message
constexpr size_t kDmxHeader = 18;
constexpr size_t kTodHeader = 28;   // ArtTodData's fields before the UIDs
constexpr size_t kRdmMaxMessage = 256;  // an RDM message without its start code
constexpr uint8_t kRdmStartCode = 0xCC;

// The ID, the opcode (low byte first) and, for all but ArtPollReply, the protocol version.
std::vector<uint8_t> Header(uint16_t op, size_t size)
{
    std::vector<uint8_t> p(size, 0);
    std::memcpy(p.data(), kId, sizeof kId);
    p[8] = uint8_t(op);
    p[9] = uint8_t(op >> 8);
    if (op != OpPollReply) {
        p[10] = 0;
        p[11] = kProtocolVersion;
    }
    return p;
}

void HeaderInto(uint16_t op, uint8_t* out)
{
    std::memcpy(out, kId, sizeof kId);
    out[8] = uint8_t(op);
    out[9] = uint8_t(op >> 8);
    out[10] = 0;
    out[11] = kProtocolVersion;
}

bool Is(const uint8_t* bytes, size_t size, uint16_t op, size_t minimum)
{
    return size >= minimum && OpCodeOf(bytes, size) == op;
}

uint16_t PortAddress(uint8_t net, uint8_t low) { return uint16_t((net & 0x7F) << 8 | low); }

std::string Text(const uint8_t* bytes, size_t room)
{
    const auto end = std::find(bytes, bytes + room - 1, uint8_t(0));  // the last byte is always a terminator
    return std::string(bytes, end);
}

void PutText(uint8_t* out, size_t room, const std::string& text)
{
    std::memcpy(out, text.data(), std::min(text.size(), room - 1));
}

uint64_t Uid(const uint8_t* b)
{
    uint64_t v = 0;
    for (int i = 0; i < 6; ++i)
        v = v << 8 | b[i];
    return v;
}

} // namespace

uint16_t OpCodeOf(const uint8_t* bytes, size_t size)
{
    if (size < 10 || std::memcmp(bytes, kId, sizeof kId) != 0)
        return 0;
    return uint16_t(bytes[8] | bytes[9] << 8);
}

std::string PortAddressText(uint16_t portAddress)
{
    return std::to_string(portAddress >> 8 & 0x7F) + "." + std::to_string(portAddress >> 4 & 0x0F) + "." +
           std::to_string(portAddress & 0x0F);
}

std::vector<uint8_t> EncodePoll()
{
    std::vector<uint8_t> p = Header(OpPoll, 14);
    p[12] = 0x02;  // replies unicast to this controller, not to everybody
    return p;
}

std::vector<uint8_t> EncodePollReply(const PollReply& r)
{
    std::vector<uint8_t> p = Header(OpPollReply, kPollReplySize);
    for (int i = 0; i < 4; ++i)
        p[size_t(10 + i)] = uint8_t(r.ip >> (24 - 8 * i));
    p[14] = uint8_t(kUdpPort);
    p[15] = uint8_t(kUdpPort >> 8);
    const uint16_t first = r.ports.empty() ? 0 : r.ports[0].portAddress;
    p[18] = uint8_t(first >> 8 & 0x7F);  // NetSwitch
    p[19] = uint8_t(first >> 4 & 0x0F);  // SubSwitch
    p[20] = uint8_t(r.oem >> 8);
    p[21] = uint8_t(r.oem);
    const bool anyRdm = std::any_of(r.ports.begin(), r.ports.end(), [](const NodePort& n) { return n.rdm; });
    p[23] = anyRdm ? 0x02 : 0x00;  // Status1: capable of RDM
    p[24] = uint8_t(r.esta);
    p[25] = uint8_t(r.esta >> 8);
    PutText(&p[26], 18, r.shortName);
    PutText(&p[44], 64, r.longName);
    const size_t ports = std::min<size_t>(r.ports.size(), 4);
    p[173] = uint8_t(ports);
    for (size_t i = 0; i < ports; ++i) {
        const NodePort& n = r.ports[i];
        p[174 + i] = n.output ? 0x80 : 0x00;            // PortTypes: output from Art-Net, DMX512
        p[182 + i] = n.output ? 0x80 : 0x00;            // GoodOutputA: data is being sent
        p[190 + i] = uint8_t(n.portAddress & 0x0F);      // SwOut
        p[213 + i] = n.rdm ? 0x00 : 0x80;               // GoodOutputB: RDM disabled when set
    }
    p[211] = r.bindIndex;
    p[212] = 0x08;  // Status2: 15-bit Port-Addresses
    return p;
}

bool DecodePollReply(const uint8_t* b, size_t size, PollReply& r)
{
    // Art-Net 3 nodes end at the MAC address; the per-port RDM bits came later.
    if (!Is(b, size, OpPollReply, 207))
        return false;
    r = PollReply{};
    r.ip = uint32_t(b[10]) << 24 | uint32_t(b[11]) << 16 | uint32_t(b[12]) << 8 | b[13];
    r.oem = uint16_t(b[20] << 8 | b[21]);
    r.esta = uint16_t(b[24] | b[25] << 8);
    r.shortName = Text(&b[26], 18);
    r.longName = Text(&b[44], 64);
    r.bindIndex = size > 211 ? b[211] : 1;
    const bool nodeRdm = b[23] & 0x02;
    const size_t ports = std::min<size_t>(b[173], 4);
    for (size_t i = 0; i < ports; ++i) {
        NodePort n;
        n.portAddress = uint16_t((b[18] & 0x7F) << 8 | (b[19] & 0x0F) << 4 | (b[190 + i] & 0x0F));
        n.output = b[174 + i] & 0x80;
        n.rdm = n.output && nodeRdm && !(size > 213 + i && (b[213 + i] & 0x80));
        r.ports.push_back(n);
    }
    return true;
}

std::vector<uint8_t> EncodeTodRequest(uint16_t portAddress)
{
    std::vector<uint8_t> p = Header(OpTodRequest, 25);
    p[21] = uint8_t(portAddress >> 8 & 0x7F);
    p[22] = 0x00;  // TodFull: the whole table
    p[23] = 1;
    p[24] = uint8_t(portAddress);
    return p;
}

bool DecodeTodRequest(const uint8_t* b, size_t size, std::vector<uint16_t>& portAddresses)
{
    if (!Is(b, size, OpTodRequest, 24))
        return false;
    const size_t count = b[23];
    if (count > 32 || size < 24 + count)
        return false;
    portAddresses.clear();
    for (size_t i = 0; i < count; ++i)
        portAddresses.push_back(PortAddress(b[21], b[24 + i]));
    return true;
}

std::vector<uint8_t> EncodeTodControl(uint16_t portAddress, uint8_t command)
{
    std::vector<uint8_t> p = Header(OpTodControl, 24);
    p[21] = uint8_t(portAddress >> 8 & 0x7F);
    p[22] = command;
    p[23] = uint8_t(portAddress);
    return p;
}

bool DecodeTodControl(const uint8_t* b, size_t size, uint16_t& portAddress, uint8_t& command)
{
    if (!Is(b, size, OpTodControl, 24))
        return false;
    portAddress = PortAddress(b[21], b[23]);
    command = b[22];
    return true;
}

std::vector<uint8_t> EncodeTodData(const TodData& d)
{
    const size_t count = std::min(d.uids.size(), kUidsPerBlock);
    std::vector<uint8_t> p = Header(OpTodData, kTodHeader + 6 * count);
    p[12] = 0x01;  // RDM standard 1.0
    p[13] = d.port;
    p[20] = d.bindIndex;
    p[21] = uint8_t(d.portAddress >> 8 & 0x7F);
    p[22] = d.response;
    p[23] = uint8_t(d.portAddress);
    p[24] = uint8_t(d.total >> 8);
    p[25] = uint8_t(d.total);
    p[26] = d.block;
    p[27] = uint8_t(count);
    for (size_t i = 0; i < count; ++i)
        for (int k = 0; k < 6; ++k)
            p[kTodHeader + 6 * i + size_t(k)] = uint8_t(d.uids[i] >> (40 - 8 * k));
    return p;
}

bool DecodeTodData(const uint8_t* b, size_t size, TodData& d)
{
    if (!Is(b, size, OpTodData, kTodHeader))
        return false;
    const size_t count = b[27];
    if (count > kUidsPerBlock || size < kTodHeader + 6 * count)
        return false;
    d = TodData{};
    d.port = b[13];
    d.bindIndex = b[20];
    d.portAddress = PortAddress(b[21], b[23]);
    d.response = b[22];
    d.total = uint16_t(b[24] << 8 | b[25]);
    d.block = b[26];
    for (size_t i = 0; i < count; ++i)
        d.uids.push_back(Uid(&b[kTodHeader + 6 * i]));
    return true;
}

size_t EncodeRdm(uint16_t portAddress, const uint8_t* message, size_t size, uint8_t* out)
{
    if (size == 0 || size > kRdmMaxMessage || kRdmHeader + size > kMaxPacket)
        return 0;
    std::memset(out, 0, kRdmHeader);
    HeaderInto(OpRdm, out);
    out[12] = 0x01;  // RDM standard 1.0
    out[21] = uint8_t(portAddress >> 8 & 0x7F);
    out[22] = 0x00;  // ArProcess
    out[23] = uint8_t(portAddress);
    std::memcpy(out + kRdmHeader, message, size);
    return kRdmHeader + size;
}

bool DecodeRdm(const uint8_t* b, size_t size, uint16_t& portAddress, const uint8_t*& message, size_t& messageSize)
{
    if (!Is(b, size, OpRdm, kRdmHeader + 1) || size - kRdmHeader > kRdmMaxMessage || b[22] != 0x00)
        return false;
    portAddress = PortAddress(b[21], b[23]);
    message = b + kRdmHeader;
    messageSize = size - kRdmHeader;
    // Some nodes pass the start code on; the message proper begins after it.
    if (message[0] == kRdmStartCode && messageSize > 1 && message[1] == 0x01) {
        ++message;
        --messageSize;
    }
    return true;
}

size_t EncodeDmx(uint16_t portAddress, uint8_t sequence, const uint8_t* slots, size_t count, uint8_t* out)
{
    if (count == 0 || count > 512)
        return 0;
    const size_t length = count + (count & 1);
    std::memset(out, 0, kDmxHeader + length);
    HeaderInto(OpDmx, out);
    out[12] = sequence;
    out[13] = 0;  // Physical: informational
    out[14] = uint8_t(portAddress);
    out[15] = uint8_t(portAddress >> 8 & 0x7F);
    out[16] = uint8_t(length >> 8);
    out[17] = uint8_t(length);
    std::memcpy(out + kDmxHeader, slots, count);
    return kDmxHeader + length;
}

bool DecodeDmx(const uint8_t* b, size_t size, uint16_t& portAddress, uint8_t& sequence, const uint8_t*& slots,
               size_t& count)
{
    if (!Is(b, size, OpDmx, kDmxHeader + 2))
        return false;
    count = size_t(b[16] << 8 | b[17]);
    if (count < 2 || count > 512 || size < kDmxHeader + count)
        return false;
    portAddress = PortAddress(b[15], b[14]);
    sequence = b[12];
    slots = b + kDmxHeader;
    return true;
}

bool TodTable::take(const TodData& d)
{
    if (d.portAddress != portAddress_)
        return false;
    if (d.response == kTodNak) {
        nak_ = true;
        return true;
    }
    if (d.response != kTodFull)
        return true;  // a response this version does not know adds nothing
    if (nak_ || !seenTotal_ || d.total != total_) {
        // The first packet of a table, or one that changed meanwhile.
        nak_ = false;
        seenTotal_ = true;
        total_ = d.total;
        blocks_.clear();
        uids_.clear();
    }
    if (std::find(blocks_.begin(), blocks_.end(), d.block) != blocks_.end())
        return true;
    blocks_.push_back(d.block);
    for (const uint64_t uid : d.uids)
        if (!std::binary_search(uids_.begin(), uids_.end(), uid))
            uids_.insert(std::upper_bound(uids_.begin(), uids_.end(), uid), uid);
    return true;
}

} // namespace artnet
