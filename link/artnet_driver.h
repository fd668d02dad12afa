#pragma once
// "Art-Net": one port of a node on the lighting network, reached over UDP. RDM
// requests go as ArtRdm to the node and its replies come back the same way; the
// node, not this controller, discovers its line and gives its table of devices;
// DMX frames go as ArtDmx. Replies are taken only from the node asked and only for
// its Port-Address.
#include "link/artnet_packets.h"
#include "link/line_driver.h"
#include "link/udp_socket.h"

#include <string>
#include <utility>
#include <vector>

class ArtNetDriver final : public LineDriver {
public:
    explicit ArtNetDriver(InterfacePort& port) : LineDriver(port) {}

    int open() override;
    void close() override;
    // Raw bytes mean nothing to a node: only packets go.
    int write(const uint8_t*, int) override { return 0; }
    int read(uint8_t*, int) override { return 0; }
    void lineBreak() override {}
    void purge() override;
    int sendDmxFrame(const uint8_t* frame, int length) override;
    int sendRdmPacket(const uint8_t* packet, int count, ReplyKind expect) override;
    int readReply(uint8_t* buffer, int count, ReplyKind kind) override;
    int readReplyWhole(uint8_t* buffer, int count, ReplyKind kind, const ReplyWait& wait) override;
    int readWaiting(uint8_t*, int) override { return 0; }
    uint32_t latencyUs() const override { return readWaitUs_; }
    int nodeTable(bool flush, std::vector<uint64_t>& uids, std::string& note) override;
    bool discoversItself() const override { return true; }

    // Polls the nodes the port's list addresses name ("10.0.0.20", "127.0.0.2:6455"),
    // or with none given every node on each IPv4 interface's network (its broadcast
    // address), and lists one row per output port: "Name 10.0.0.20 · universe 1".
    // Nodes asked by address are waited for until each has answered. The network
    // is polled at most once in kPollEveryUs: a list asked again sooner, of the
    // same nodes, gives the answers of the last poll.
    void list(std::vector<InterfaceEntry>& rows) override;
    void choose(const InterfaceEntry& row) override;

    // How long a reply is waited for: a network and a node's line lie between.
    static constexpr uint32_t kDefaultReadWaitUs = 500000;
    // The bounds on what a controller asks of the network: polls, tables of
    // devices of one port, and a node's discoveries of its line (a flush asked
    // sooner asks for the table that discovery left).
    static constexpr uint64_t kPollEveryUs = 2500000;
    static constexpr uint64_t kTableEveryUs = 250000;
    static constexpr uint64_t kFlushEveryUs = 5000000;
    void setReadWaitUs(uint32_t us) { readWaitUs_ = us; }
    // The local UDP port: Art-Net's own, unless it is taken (0: any free one).
    void setLocalPort(uint16_t port) { localPort_ = port; }

private:
    // The next packet from the node within `untilUs` (monotonic); its size, 0
    // when none came, -1 when the socket failed. Packets from anyone else are dropped.
    long receiveFromNode(uint8_t* buffer, size_t capacity, uint64_t untilUs);
    void pollNodes(std::vector<InterfaceEntry>& rows);

    UdpSocket socket_;
    uint32_t readWaitUs_ = kDefaultReadWaitUs;
    uint16_t localPort_ = artnet::kUdpPort;
    // The node and port opened (0: none open).
    uint32_t nodeIp_ = 0;
    uint16_t nodePort_ = artnet::kUdpPort;
    uint16_t portAddress_ = 0;
    uint8_t sequence_ = 0;
    uint64_t lastFrameUs_ = 0;  // when the last ArtDmx went
    uint64_t lastTableUs_ = 0, lastFlushUs_ = 0;  // when the port's table was last asked for, and flushed
    uint64_t lastPollUs_ = 0;
    std::string lastPollAddresses_;
    std::vector<InterfaceEntry> lastPollRows_;
    uint8_t packet_[artnet::kMaxPacket];
};

// A row's device path for a node's port, and back: "10.0.0.20/1" (the Port-Address
// in decimal), optionally with the node's UDP port ("127.0.0.2:6455/1").
std::string ArtNetPortPath(uint32_t ip, uint16_t udpPort, uint16_t portAddress);
bool ParseArtNetPortPath(const std::string& path, uint32_t& ip, uint16_t& udpPort, uint16_t& portAddress);
// Node addresses ("10.0.0.20, 127.0.0.2:6455") into `nodes` as address and UDP
// port, each once; the words that are none are added to `bad`, each after a space.
void ParseNodeAddresses(const std::string& text, std::vector<std::pair<uint32_t, uint16_t>>& nodes, std::string& bad);
