// Thin wrappers over POSIX sockets used by the command channel, discovery
// and the UDP stream. They keep errno as the system left it after a failure.
#ifndef QZ417LINK_SOCKET_UTIL_H
#define QZ417LINK_SOCKET_UTIL_H

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace qz417::link::net {

inline constexpr int kCommandReceiveTimeoutMs = 4000;
inline constexpr int kSearchReceiveTimeoutMs = 100;
inline constexpr int kStreamReceiveTimeoutMs = 50;
// The UDP stream's receive buffer: 32 MiB (the kernel grants twice that,
// about 200 ms of a 40 kHz stream), capped by net.core.rmem_max unless the
// process may force it. The command and search sockets keep 1 MiB.
inline constexpr int kReceiveBufferBytes = 1048576;
inline constexpr int kStreamReceiveBufferBytes = 33554432;

// An IPv4 socket of `type` (SOCK_STREAM or SOCK_DGRAM), close-on-exec and
// never numbered 0, because 0 means "no connection" to every caller.
// Returns -1 on failure.
int OpenSocket(int type) noexcept;

// Receive time-out and buffer size; failures are ignored by the callers.
void SetReceiveTimeout(int fd, int milliseconds) noexcept;
void SetReceiveBuffer(int fd, int bytes) noexcept;
// Asks for `bytes` past net.core.rmem_max (SO_RCVBUFFORCE, which needs
// CAP_NET_ADMIN) and, when that is refused, for `bytes` within the limit.
// Never lowers the buffer below what the socket already has.
void RequestReceiveBuffer(int fd, int bytes) noexcept;
void SetReuseAddress(int fd) noexcept;
void SetNoDelay(int fd) noexcept;

// Binds to any local address on `port`.
bool BindAny(int fd, uint16_t port) noexcept;

// Connects, waiting as long as the system's connect time-out allows; a
// signal during the wait does not abandon the connection attempt.
bool Connect(int fd, const sockaddr_in &address) noexcept;

// One send call that must accept all `size` bytes. Never raises SIGPIPE on a
// connection the peer has reset; a signal before anything was sent retries.
bool SendExactly(int fd, const void *data, std::size_t size) noexcept;

// Receives exactly `size` bytes into `buffer`, in as many pieces as the
// peer sends them. Fails on an error, the receive time-out, or the peer
// closing the connection (errno is then ECONNRESET). A signal does not fail it.
bool ReceiveExactly(int fd, void *buffer, std::size_t size) noexcept;
// The same, telling in *received how many bytes arrived (also on failure).
bool ReceiveExactly(int fd, void *buffer, std::size_t size, std::size_t *received) noexcept;

// One receive of a datagram into `buffer`; returns the datagram's real
// length, which exceeds `capacity` when it did not fit, or -1.
ssize_t ReceiveDatagram(int fd, void *buffer, std::size_t capacity) noexcept;

// Closes `fd` on a failure path, keeping the errno of the failure.
void CloseKeepingErrno(int fd) noexcept;

} // namespace qz417::link::net

#endif // QZ417LINK_SOCKET_UTIL_H
