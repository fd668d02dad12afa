#pragma once
// One UDP socket for Art-Net: bound to an address and port, sending to one
// address (or broadcast) and receiving with a time-out. IPv4 addresses are in
// host order (10.0.0.20 is 0x0A000014).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// "10.0.0.20" to 0x0A000014; false for anything else.
bool ParseIpv4(const std::string& text, uint32_t& ip);
std::string Ipv4Text(uint32_t ip);

// The broadcast addresses of the machine's IPv4 interfaces that are up, loopback aside.
std::vector<uint32_t> BroadcastAddresses();

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket() { close(); }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Binds to `ip` (0: every address) and `port` (0: any free one); broadcasts allowed.
    bool open(uint32_t ip, uint16_t port, std::string& error);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    uint16_t localPort() const;

    bool sendTo(uint32_t ip, uint16_t port, const uint8_t* bytes, size_t size);
    // One datagram into `buffer`, waiting up to `timeoutUs`: its size, 0 when
    // none came in time, -1 when the socket failed. A datagram larger than the
    // buffer is cut, and its size says so (larger than `capacity`).
    long receive(uint8_t* buffer, size_t capacity, uint32_t& fromIp, uint16_t& fromPort, uint64_t timeoutUs);

private:
    int fd_ = -1;
};
