#include "link/artnet_driver.h"

#include "link/clock.h"
#include "link/interface_port.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <tuple>

namespace {

constexpr uint8_t kRdmStartCode = 0xCC;
// How long nodes are given to answer a poll, and to send their whole table.
constexpr uint64_t kPollAnswerUs = 1000000;
constexpr uint64_t kTableUs = 2000000;
// How long the other replies of a node that has answered are waited for.
constexpr uint64_t kMoreRepliesUs = 100000;

bool Number(const std::string& text, unsigned long max, unsigned long& out)
{
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return false;
    out = std::stoul(text);
    return out <= max;
}

} // namespace

std::string ArtNetPortPath(uint32_t ip, uint16_t udpPort, uint16_t portAddress)
{
    return Ipv4Text(ip) + (udpPort == artnet::kUdpPort ? "" : ":" + std::to_string(udpPort)) + "/" +
           std::to_string(portAddress);
}

bool ParseArtNetPortPath(const std::string& path, uint32_t& ip, uint16_t& udpPort, uint16_t& portAddress)
{
    const size_t slash = path.find('/');
    std::string host = path.substr(0, slash);
    unsigned long number = 0;
    udpPort = artnet::kUdpPort;
    const size_t colon = host.find(':');
    if (colon != std::string::npos) {
        if (!Number(host.substr(colon + 1), 65535, number) || number == 0)
            return false;
        udpPort = uint16_t(number);
        host.resize(colon);
    }
    if (!ParseIpv4(host, ip) || slash == std::string::npos ||
        !Number(path.substr(slash + 1), artnet::kMaxPortAddress, number))
        return false;
    portAddress = uint16_t(number);
    return true;
}

void ParseNodeAddresses(const std::string& text, std::vector<std::pair<uint32_t, uint16_t>>& nodes, std::string& bad)
{
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find_first_of(", ", at), text.size());
        const std::string word = text.substr(at, end - at);
        at = end + 1;
        if (word.empty())
            continue;
        uint32_t ip = 0;
        uint16_t udpPort = 0, portAddress = 0;
        if (word.find('/') == std::string::npos && ParseArtNetPortPath(word + "/0", ip, udpPort, portAddress)) {
            if (std::find(nodes.begin(), nodes.end(), std::make_pair(ip, udpPort)) == nodes.end())
                nodes.push_back({ip, udpPort});
        } else {
            bad += " " + word;
        }
    }
}

int ArtNetDriver::open()
{
    // The node and port are taken from the path once, here: requests and frames
    // use them as they are.
    if (!ParseArtNetPortPath(port_.devicePath(), nodeIp_, nodePort_, portAddress_)) {
        port_.refusal_ = "no Art-Net node and port chosen (NODE_IP/PORT_ADDRESS)";
        return 0;
    }
    std::string error;
    // Nodes answer on Art-Net's own port; when another program holds it, replies to
    // the port asked from still arrive.
    if (!socket_.open(0, localPort_, error) && !socket_.open(0, 0, error)) {
        port_.refusal_ = error;
        return 0;
    }
    sequence_ = 0;
    lastFrameUs_ = 0;
    lastTableUs_ = lastFlushUs_ = 0;
    return 1;
}

void ArtNetDriver::close()
{
    socket_.close();
    nodeIp_ = 0;
}

void ArtNetDriver::purge()
{
    uint8_t buffer[artnet::kMaxPacket];
    uint32_t ip = 0;
    uint16_t port = 0;
    while (socket_.receive(buffer, sizeof buffer, ip, port, 0) > 0) {
    }
}

int ArtNetDriver::sendDmxFrame(const uint8_t* frame, int length)
{
    if (length < 2 || frame[0] != 0x00 || !nodeIp_)
        return 0;
    // Never faster than the node's line carries frames: a break, the mark after
    // it and 44 µs a slot, start code included. A node has no room for the rest.
    const uint64_t lineUs = 176 + 12 + 44 * uint64_t(length);
    const uint64_t now = MonotonicUs();
    if (lastFrameUs_ && now < lastFrameUs_ + lineUs)
        SystemClock::instance().sleepUs(lastFrameUs_ + lineUs - now);
    lastFrameUs_ = MonotonicUs();
    // 0 means "no sequence"; the count runs 1 to 255.
    sequence_ = uint8_t(sequence_ % 255 + 1);
    const size_t size = artnet::EncodeDmx(portAddress_, sequence_, frame + 1, size_t(length - 1), packet_);
    return size && socket_.sendTo(nodeIp_, nodePort_, packet_, size) ? length : 0;
}

int ArtNetDriver::sendRdmPacket(const uint8_t* packet, int count, ReplyKind expect)
{
    // The node discovers its own line: a branch is not carried.
    if (expect == ReplyKind::Discovery || count < 2 || packet[0] != kRdmStartCode || !nodeIp_)
        return 0;
    purge();
    const size_t size = artnet::EncodeRdm(portAddress_, packet + 1, size_t(count - 1), packet_);
    return size && socket_.sendTo(nodeIp_, nodePort_, packet_, size) ? count : 0;
}

long ArtNetDriver::receiveFromNode(uint8_t* buffer, size_t capacity, uint64_t untilUs)
{
    if (!nodeIp_)
        return -1;
    for (;;) {
        const uint64_t now = MonotonicUs();
        if (now >= untilUs)
            return 0;
        uint32_t ip = 0;
        uint16_t port = 0;
        const long got = socket_.receive(buffer, capacity, ip, port, untilUs - now);
        if (got <= 0)
            return got;
        if (ip == nodeIp_ && size_t(got) <= capacity)
            return got;
    }
}

int ArtNetDriver::readReply(uint8_t* buffer, int count, ReplyKind kind)
{
    const ReplyWait none{SystemClock::instance(), 0, 0, nullptr, nullptr, 0};
    return readReplyWhole(buffer, count, kind, none);
}

int ArtNetDriver::readReplyWhole(uint8_t* buffer, int count, ReplyKind kind, const ReplyWait& wait)
{
    if (kind != ReplyKind::Ordinary || count <= 0 || !nodeIp_)
        return kind == ReplyKind::None ? 0 : -1;
    const uint64_t until = MonotonicUs() + readWaitUs_;
    for (;;) {
        const long got = receiveFromNode(packet_, sizeof packet_, until);
        if (got <= 0)
            return int(got);
        uint16_t from = 0;
        const uint8_t* message = nullptr;
        size_t size = 0;
        if (!artnet::DecodeRdm(packet_, size_t(got), from, message, size) || from != portAddress_)
            continue;
        // As a raw line hands it over: the start code, then the message.
        const int n = std::min(count, int(size) + 1);
        buffer[0] = kRdmStartCode;
        std::memcpy(buffer + 1, message, size_t(n - 1));
        if (!wait.judge || wait.judge(buffer, n, wait.context) > 0)
            return n;
    }
}

int ArtNetDriver::nodeTable(bool flush, std::vector<uint64_t>& uids, std::string& note)
{
    uids.clear();
    if (!nodeIp_) {
        note = "no Art-Net port chosen";
        return 0;
    }
    artnet::TodTable table(portAddress_);
    // A node still discovering answers TodNak; it is asked to start afresh once.
    for (int round = 0; round < 2 && !table.complete(); ++round) {
        purge();
        uint64_t now = MonotonicUs();
        if (lastTableUs_ && now < lastTableUs_ + kTableEveryUs) {
            SystemClock::instance().sleepUs(lastTableUs_ + kTableEveryUs - now);
            now = MonotonicUs();
        }
        const bool flushing = (flush || round > 0) && (!lastFlushUs_ || now >= lastFlushUs_ + kFlushEveryUs);
        lastTableUs_ = now;
        if (flushing)
            lastFlushUs_ = now;
        const std::vector<uint8_t> ask = flushing ? artnet::EncodeTodControl(portAddress_, artnet::kAtcFlush)
                                                  : artnet::EncodeTodRequest(portAddress_);
        if (!socket_.sendTo(nodeIp_, nodePort_, ask.data(), ask.size())) {
            note = "the request for the node's table could not be sent";
            return 0;
        }
        const uint64_t until = MonotonicUs() + kTableUs;
        while (!table.complete()) {
            const long got = receiveFromNode(packet_, sizeof packet_, until);
            if (got <= 0)
                break;
            artnet::TodData data;
            if (artnet::DecodeTodData(packet_, size_t(got), data))
                table.take(data);
        }
        if (!table.refused())
            break;
    }
    uids = table.uids();
    if (table.complete())
        return 1;
    const std::string where =
        "the node " + Ipv4Text(nodeIp_) + " (Port-Address " + artnet::PortAddressText(portAddress_) + ")";
    if (!table.any())
        note = where + " sent no table of devices";
    else if (table.refused())
        note = where + " has no table of devices yet: it is still discovering";
    else
        note = where + " sent " + std::to_string(uids.size()) + " of the " + std::to_string(table.total()) +
               " UIDs of its table";
    return 0;
}

void ArtNetDriver::list(std::vector<InterfaceEntry>& rows)
{
    const uint64_t asked = MonotonicUs();
    if (lastPollUs_ && asked < lastPollUs_ + kPollEveryUs && lastPollAddresses_ == port_.listAddresses()) {
        rows = lastPollRows_;
        return;
    }
    pollNodes(rows);
    // Addresses that are none are said each time.
    lastPollUs_ = port_.listNote_.empty() ? asked : 0;
    lastPollAddresses_ = port_.listAddresses();
    lastPollRows_ = rows;
}

void ArtNetDriver::pollNodes(std::vector<InterfaceEntry>& rows)
{
    // Nodes answer a poll on Art-Net's own port; from it, too, when it is free.
    UdpSocket poller;
    std::string error;
    if (!poller.open(0, localPort_, error) && !poller.open(0, 0, error))
        return;
    const std::vector<uint8_t> poll = artnet::EncodePoll();
    // The nodes asked by address, or every node on each interface's network.
    std::vector<std::pair<uint32_t, uint16_t>> targets;
    std::string bad;
    ParseNodeAddresses(port_.listAddresses(), targets, bad);
    if (!bad.empty())
        port_.listNote_ = "not a node's address (ADDRESS or ADDRESS:UDP_PORT):" + bad;
    const bool byAddress = !targets.empty();
    if (!byAddress && bad.empty())
        for (const uint32_t broadcast : BroadcastAddresses())
            targets.push_back({broadcast, artnet::kUdpPort});
    for (const auto& [address, port] : targets)
        poller.sendTo(address, port, poll.data(), poll.size());
    // Each reply once, however many times it arrives (once per interface polled);
    // a node of more than four ports, or of ports on several sub-nets, answers
    // with one reply for each group of them, told apart by their bind index.
    std::vector<std::tuple<uint32_t, uint16_t, uint8_t>> seen;
    std::vector<std::pair<uint32_t, uint16_t>> answered;
    uint64_t until = MonotonicUs() + kPollAnswerUs;
    uint8_t buffer[600];
    for (uint64_t now = MonotonicUs(); now < until; now = MonotonicUs()) {
        uint32_t from = 0;
        uint16_t fromPort = 0;
        const long got = poller.receive(buffer, sizeof buffer, from, fromPort, until - now);
        artnet::PollReply reply;
        if (got <= 0 || size_t(got) > sizeof buffer || !artnet::DecodePollReply(buffer, size_t(got), reply))
            continue;
        // The address a reply came from is the one that answers; a reply naming
        // another is another node's business.
        const std::pair<uint32_t, uint16_t> node{from, fromPort};
        const std::tuple<uint32_t, uint16_t, uint8_t> heard{from, fromPort, reply.bindIndex};
        if (reply.ip != from || std::find(seen.begin(), seen.end(), heard) != seen.end() ||
            (byAddress && std::find(targets.begin(), targets.end(), node) == targets.end()))
            continue;
        seen.push_back(heard);
        if (std::find(answered.begin(), answered.end(), node) == answered.end())
            answered.push_back(node);
        // The nodes asked by address have all answered: their further replies
        // follow at once.
        if (byAddress && answered.size() == targets.size())
            until = std::min(until, MonotonicUs() + kMoreRepliesUs);
        for (const artnet::NodePort& p : reply.ports) {
            if (!p.output)
                continue;
            InterfaceEntry row;
            row.path = ArtNetPortPath(from, fromPort, p.portAddress);
            row.text = reply.shortName + " " + Ipv4Text(from) + " · universe " + std::to_string(p.portAddress) +
                       (p.rdm ? "" : " (no RDM)");
            row.deviceNumber = p.portAddress;
            row.carriesRdm = p.rdm;
            rows.push_back(row);
        }
    }
}

void ArtNetDriver::choose(const InterfaceEntry& row) { port_.setDevicePath(row.path.c_str()); }
