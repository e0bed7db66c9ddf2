#include "net_util.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace qz417::sim {

void Fd::reset(int fd) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

sockaddr_in socketAddress(const Ipv4 &ip, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(ip.hostOrder());
    return a;
}

bool parseIpv4(const std::string &text, Ipv4 *out) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    const std::uint32_t h = ntohl(a.s_addr);
    out->octets = {static_cast<std::uint8_t>(h >> 24), static_cast<std::uint8_t>(h >> 16),
                   static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h)};
    return true;
}

std::string endpointText(const sockaddr_in &a) {
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return std::string(buf) + ":" + std::to_string(ntohs(a.sin_port));
}

namespace {

// Moves all `size` bytes with `step` (send or recv), again after a signal
// interrupted it; false when the peer closed or the socket failed.
template <typename Byte, typename Step> bool transferAll(Byte *data, std::size_t size, Step step) {
    while (size > 0) {
        const ssize_t n = step(data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool sendAll(int fd, const std::uint8_t *data, std::size_t size) {
    return transferAll(data, size, [fd](const std::uint8_t *d, std::size_t n) {
        return ::send(fd, d, n, MSG_NOSIGNAL);
    });
}

bool recvAll(int fd, std::uint8_t *data, std::size_t size) {
    return transferAll(data, size,
                       [fd](std::uint8_t *d, std::size_t n) { return ::recv(fd, d, n, 0); });
}

std::string selfExecutable() {
    char buf[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string("qz417sim");
}

} // namespace qz417::sim
