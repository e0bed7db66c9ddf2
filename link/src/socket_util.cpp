#include "socket_util.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace qz417::link::net {

namespace {

// A descriptor numbered 0 (a process started with standard input closed)
// is moved to the lowest free number above it.
int MoveOffZero(int fd) noexcept {
    if (fd != 0)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    const int saved = errno;
    close(fd);
    errno = saved;
    return moved;
}

} // namespace

int OpenSocket(int type) noexcept {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    return MoveOffZero(fd);
}

void SetReceiveTimeout(int fd, int milliseconds) noexcept {
    timeval timeout{};
    timeout.tv_sec = milliseconds / 1000;
    timeout.tv_usec = (milliseconds % 1000) * 1000;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

void SetReceiveBuffer(int fd, int bytes) noexcept {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void RequestReceiveBuffer(int fd, int bytes) noexcept {
    const int saved = errno;
    int current = 0;
    socklen_t length = sizeof current;
    // The kernel reports twice what was asked (its bookkeeping share).
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &current, &length) == 0 && current / 2 >= bytes) {
        errno = saved;
        return;
    }
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    errno = saved;
}

void SetReuseAddress(int fd) noexcept {
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

void SetNoDelay(int fd) noexcept {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool BindAny(int fd, uint16_t port) noexcept {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    return bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

bool Connect(int fd, const sockaddr_in &address) noexcept {
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return true;
    if (errno != EINTR)
        return false;
    // Interrupted: the attempt goes on in the background; wait for its outcome.
    pollfd entry{fd, POLLOUT, 0};
    int ready;
    do {
        ready = poll(&entry, 1, -1);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return false;
    if (error != 0) {
        errno = error;
        return false;
    }
    return true;
}

bool SendExactly(int fd, const void *data, std::size_t size) noexcept {
    ssize_t sent;
    do {
        sent = send(fd, data, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent >= 0 && static_cast<std::size_t>(sent) == size;
}

bool ReceiveExactly(int fd, void *buffer, std::size_t size) noexcept {
    std::size_t received = 0;
    return ReceiveExactly(fd, buffer, size, &received);
}

bool ReceiveExactly(int fd, void *buffer, std::size_t size, std::size_t *received) noexcept {
    auto *bytes = static_cast<unsigned char *>(buffer);
    std::size_t &count = *received;
    count = 0;
    while (count < size) {
        const ssize_t received = recv(fd, bytes + count, size - count, 0);
        if (received > 0) {
            count += static_cast<std::size_t>(received);
        } else if (received == 0) {
            errno = ECONNRESET;
            return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

ssize_t ReceiveDatagram(int fd, void *buffer, std::size_t capacity) noexcept {
    return recv(fd, buffer, capacity, MSG_TRUNC);
}

void CloseKeepingErrno(int fd) noexcept {
    const int saved = errno;
    close(fd);
    errno = saved;
}

} // namespace qz417::link::net
