// Small helpers for the library's socket tests: UDP senders on loopback,
// waiting for a UDP port to be bound, counting open descriptors and
// building announcement datagrams.
#ifndef QZ417_TESTS_LINK_LOOPBACK_PEERS_H
#define QZ417_TESTS_LINK_LOOPBACK_PEERS_H

#include "qz417link.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qz417::test {

// Sends datagrams from a socket on 127.0.0.1 to 127.0.0.1:<port>.
class UdpSender {
public:
    UdpSender();
    ~UdpSender();
    UdpSender(const UdpSender &) = delete;
    UdpSender &operator=(const UdpSender &) = delete;
    bool send(const std::vector<uint8_t> &datagram, uint16_t port) const;

private:
    int fd_ = -1;
};

// True once some socket on this host is bound to UDP `port` (from /proc/net/udp).
bool WaitForUdpPortBound(uint16_t port, std::chrono::milliseconds timeout);

std::size_t CountOpenDescriptors();

// A 268-byte announcement; `fill` is every description byte, the reserved byte is `reserved`.
std::vector<uint8_t> MakeAnnouncement(uint16_t type, std::array<uint8_t, 4> ip, uint8_t fill,
                                      uint8_t reserved = 0);

inline long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

} // namespace qz417::test

#endif // QZ417_TESTS_LINK_LOOPBACK_PEERS_H
