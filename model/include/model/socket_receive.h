// What the computer itself did with a UDP stream: the receive buffer the
// kernel granted a socket and the datagrams it dropped because that buffer
// was full. Read from the socket's options and from /proc/net/udp and
// /proc/net/udp6 (the `drops` column of the socket's line, found by its
// inode). SO_RXQ_OVFL cannot serve: the library does the receiving.
//
// A datagram of 4100 bytes takes about kKernelBytesPerDatagram of the
// buffer (the kernel counts its whole allocation, not the payload), so a
// buffer of B bytes holds B / kKernelBytesPerDatagram profiles.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qz417 {

inline constexpr int kKernelBytesPerDatagram = 8448;
// Buffers holding less than this much of the stream get a warning.
inline constexpr double kMinimumBufferMs = 100.0;
// The setting that lets the library's request of 32 MiB through.
inline constexpr const char *kReceiveBufferRemedy = "sudo sysctl -w net.core.rmem_max=33554432";

struct SocketReceive {
    int grantedBytes = 0;               // SO_RCVBUF as the kernel reports it; 0: unknown
    std::optional<std::uint64_t> drops; // datagrams dropped, full buffer; empty: unknown
};

// Of the socket `fd`. Never throws; what cannot be read stays unknown.
SocketReceive ReadSocketReceive(int fd);
// Of this process's UDP socket bound to `port` (the window's worker does not
// hand out its descriptor): found through /proc/net/udp* and /proc/self/fd.
// Empty when this process has no such socket.
std::optional<SocketReceive> ReadUdpPortReceive(std::uint16_t port);

// The drops of the socket with `inode` in the text of /proc/net/udp or udp6.
std::optional<std::uint64_t> ParseUdpDrops(std::string_view table, std::uint64_t inode);
// The inode of the socket bound to local `port` in that text; 0 when none.
std::uint64_t ParseUdpInodeOfPort(std::string_view table, std::uint16_t port);

// Milliseconds of a stream of `packetsPerSecond` the buffer holds.
double BufferMilliseconds(int grantedBytes, double packetsPerSecond);
// True when a known buffer holds less than kMinimumBufferMs at that rate.
bool BufferTooSmall(int grantedBytes, double packetsPerSecond);
// "Receive buffer 416 KiB holds 1.2 ms at 40000/s; raise it: sudo sysctl -w
// net.core.rmem_max=33554432", or empty when the buffer is large enough.
std::string BufferWarning(int grantedBytes, double packetsPerSecond);

} // namespace qz417
