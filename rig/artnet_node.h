#pragma once
// The rig as an Art-Net node: one UDP address with up to eight ports, each a line
// of simulated responders. It answers ArtPoll, keeps each port's table of devices
// by discovering its line (again on ArtTodControl flush), carries ArtRdm requests
// onto the line and their replies back, and puts ArtDmx frames on the line. Each
// port works on a thread of its own, as a node's outputs do: a port discovering its
// line holds up neither the others nor the node's answers to polls.
#include "link/artnet_packets.h"
#include "link/udp_socket.h"
#include "rig/virtual_line.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace rig {

// What a node can do wrong, for the controller's tests; switched while it runs.
struct NodeFaults {
    std::atomic<bool> silent{false};        // answers nothing at all
    std::atomic<bool> loseTodBlock{false};  // the last ArtTodData block of every table is never sent
    std::atomic<uint32_t> rdmLateMs{0};     // each ArtRdm reply is held back this long
    std::atomic<bool> foreignReplies{false};  // replies come from another address (`foreignIp`), as from another node
};

class ArtNetNode {
public:
    struct Port {
        uint16_t portAddress = 0;
        VirtualLine* line = nullptr;
    };

    static constexpr size_t kMaxPorts = 8;
    ArtNetNode(std::string name, uint32_t ip, std::vector<Port> ports);
    ~ArtNetNode();
    ArtNetNode(const ArtNetNode&) = delete;
    ArtNetNode& operator=(const ArtNetNode&) = delete;

    // Discovers every port's line (all at once), then listens on ip:`udpPort`.
    bool start(std::string& error, uint16_t udpPort = artnet::kUdpPort);
    void stop();
    // The UDP port it listens on (kUdpPort, or the free one a test asked for with 0).
    uint16_t udpPort() const { return socket_.localPort(); }

    NodeFaults faults;
    uint32_t foreignIp = 0;
    // Each request the node takes and each answer it sends, for the rig's log.
    std::function<void(const std::string&)> log;
    // The table of devices each port holds now, in port order.
    std::vector<std::vector<uint64_t>> tables() const;

private:
    struct PortState;
    void run();
    void work(PortState& p);
    void handle(const uint8_t* bytes, size_t size, uint32_t fromIp, uint16_t fromPort);
    void reply(const std::vector<uint8_t>& packet, uint32_t ip, uint16_t port);
    void sendTable(PortState& p, uint32_t ip, uint16_t port);
    void discover(PortState& p);
    void carryRdm(PortState& p, const std::vector<uint8_t>& packet, uint32_t ip, uint16_t port);
    PortState* find(uint16_t portAddress);
    void say(const std::string& text) const;

    std::string name_;
    uint32_t ip_;
    std::vector<std::unique_ptr<PortState>> ports_;
    UdpSocket socket_, foreign_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

} // namespace rig
