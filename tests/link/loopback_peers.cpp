#include "loopback_peers.h"

#include "wait.h"
#include "wire_codec.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace qz417::test {

UdpSender::UdpSender() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<const sockaddr *>(&source), sizeof source);
}

UdpSender::~UdpSender() {
    close(fd_);
}

bool UdpSender::send(const std::vector<uint8_t> &datagram, uint16_t port) const {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    target.sin_port = htons(port);
    return sendto(fd_, datagram.data(), datagram.size(), 0,
                  reinterpret_cast<const sockaddr *>(&target),
                  sizeof target) == static_cast<ssize_t>(datagram.size());
}

bool WaitForUdpPortBound(uint16_t port, std::chrono::milliseconds timeout) {
    return qz417::test::WaitUntil([port] { return qz417::test::UdpPortBound(port); }, timeout);
}

std::size_t CountOpenDescriptors() {
    std::size_t count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (const dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                ++count;
        closedir(dir);
    }
    return count;
}

std::vector<uint8_t> MakeAnnouncement(uint16_t type, std::array<uint8_t, 4> ip, uint8_t fill,
                                      uint8_t reserved) {
    DeviceAnnouncement node{};
    node.type = type;
    std::memcpy(node.ip, ip.data(), 4);
    for (int i = 0; i < 6; ++i)
        node.mac[i] = static_cast<uint8_t>(0x10 * i + fill);
    std::memset(node.description, fill, sizeof node.description);
    const auto bytes = link::wire::EncodeAnnouncement(node);
    std::vector<uint8_t> datagram(bytes.begin(), bytes.end());
    datagram.back() = reserved;
    return datagram;
}

} // namespace qz417::test
