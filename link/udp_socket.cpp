#include "link/udp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Address(uint32_t ip, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(ip);
    a.sin_port = htons(port);
    return a;
}

} // namespace

bool ParseIpv4(const std::string& text, uint32_t& ip)
{
    in_addr a{};
    // inet_pton takes only the dotted-decimal form, no octal or shortened ones.
    if (text.empty() || text.size() > 15 || inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    ip = ntohl(a.s_addr);
    return true;
}

std::string Ipv4Text(uint32_t ip)
{
    return std::to_string(ip >> 24) + "." + std::to_string(ip >> 16 & 0xFF) + "." + std::to_string(ip >> 8 & 0xFF) +
           "." + std::to_string(ip & 0xFF);
}

std::vector<uint32_t> BroadcastAddresses()
{
    std::vector<uint32_t> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return out;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
            (i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_BROADCAST) || !i->ifa_broadaddr)
            continue;
        out.push_back(ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr));
    }
    freeifaddrs(list);
    return out;
}

bool UdpSocket::open(uint32_t ip, uint16_t port, std::string& error)
{
    close();
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const sockaddr_in a = Address(ip, port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        error = "cannot listen on " + Ipv4Text(ip) + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close();
        return false;
    }
    return true;
}

void UdpSocket::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

uint16_t UdpSocket::localPort() const
{
    sockaddr_in a{};
    socklen_t size = sizeof a;
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
        return 0;
    return ntohs(a.sin_port);
}

bool UdpSocket::sendTo(uint32_t ip, uint16_t port, const uint8_t* bytes, size_t size)
{
    const sockaddr_in a = Address(ip, port);
    return fd_ >= 0 &&
           ::sendto(fd_, bytes, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&a), sizeof a) == long(size);
}

long UdpSocket::receive(uint8_t* buffer, size_t capacity, uint32_t& fromIp, uint16_t& fromPort, uint64_t timeoutUs)
{
    if (fd_ < 0)
        return -1;
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, int((timeoutUs + 999) / 1000));
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    if (ready == 0)
        return 0;
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const long got = ::recvfrom(fd_, buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &size);
    if (got < 0)
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    fromIp = ntohl(from.sin_addr.s_addr);
    fromPort = ntohs(from.sin_port);
    return got;
}
