// The receive buffer the kernel granted a socket and the datagrams it
// dropped: the /proc/net/udp parsing, a real socket overrun on loopback, and
// the warning for a buffer that holds less than 100 ms of the stream.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "model/socket_receive.h"

namespace qz417 {
namespace {

constexpr const char *kTable =
    "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
    "timeout inode ref pointer drops            \n"
    "  123: 0100007F:1773 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        "
    "0 4242 2 0000000000000000 17     \n"
    " 7001: 00000000:3E84 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        "
    "0 99 2 0000000000000000 0\n";

TEST(SocketReceive, ReadsDropsAndPortsFromTheKernelsTable) {
    EXPECT_EQ(ParseUdpDrops(kTable, 4242), std::optional<std::uint64_t>(17));
    EXPECT_EQ(ParseUdpDrops(kTable, 99), std::optional<std::uint64_t>(0));
    EXPECT_FALSE(ParseUdpDrops(kTable, 5));
    EXPECT_EQ(ParseUdpInodeOfPort(kTable, 0x1773), 4242u);
    EXPECT_EQ(ParseUdpInodeOfPort(kTable, 16004), 99u);
    EXPECT_EQ(ParseUdpInodeOfPort(kTable, 6004), 0u);
    // The heading alone, a cut line and nothing at all find nothing.
    EXPECT_FALSE(ParseUdpDrops("  sl  local_address\n", 4242));
    EXPECT_FALSE(ParseUdpDrops("h\n  1: 0100007F:1773 00000000:0000 07 4242", 4242));
    EXPECT_FALSE(ParseUdpDrops("", 4242));
}

TEST(SocketReceive, AWarningOnlyBelowAHundredMilliseconds) {
    // 2 MiB hold 248 datagrams: 6.2 ms at 40 kHz, 248 ms at 1 kHz.
    EXPECT_NEAR(BufferMilliseconds(2097152, 40000), 6.2, 0.05);
    EXPECT_TRUE(BufferTooSmall(2097152, 40000));
    EXPECT_FALSE(BufferTooSmall(2097152, 1000));
    EXPECT_FALSE(BufferTooSmall(67108864, 40000)); // 32 MiB asked, 64 MiB granted
    EXPECT_FALSE(BufferTooSmall(0, 40000));        // unknown buffer: no warning
    EXPECT_FALSE(BufferTooSmall(425984, 0));       // no stream: no warning
    const std::string warning = BufferWarning(425984, 40000);
    EXPECT_NE(warning.find("416 KiB"), std::string::npos) << warning;
    EXPECT_NE(warning.find("sudo sysctl -w net.core.rmem_max=33554432"), std::string::npos);
    EXPECT_TRUE(BufferWarning(67108864, 40000).empty());
}

class Fd {
public:
    Fd() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Fd() { close(fd_); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

TEST(SocketReceive, ASocketNobodyReadsShowsItsBufferAndDrops) {
    Fd receiver, sender;
    ASSERT_GE(receiver.get(), 0);
    const int small = 4096;
    setsockopt(receiver.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(receiver.get(), reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(receiver.get(), reinterpret_cast<sockaddr *>(&address), &length), 0);

    const SocketReceive before = ReadSocketReceive(receiver.get());
    ASSERT_GT(before.grantedBytes, 0);
    ASSERT_TRUE(before.drops.has_value()) << "no line of this socket in /proc/net/udp";
    EXPECT_EQ(*before.drops, 0u);

    const std::vector<char> datagram(4100, 'x');
    for (int i = 0; i < 64; ++i)
        sendto(sender.get(), datagram.data(), datagram.size(), 0,
               reinterpret_cast<sockaddr *>(&address), sizeof address);
    const SocketReceive after = ReadSocketReceive(receiver.get());
    ASSERT_TRUE(after.drops.has_value());
    EXPECT_GT(*after.drops, 0u);
    EXPECT_LT(*after.drops, 64u);

    // Found by its port as well, with the same figures.
    const auto byPort = ReadUdpPortReceive(ntohs(address.sin_port));
    ASSERT_TRUE(byPort.has_value());
    EXPECT_EQ(byPort->drops, after.drops);
    EXPECT_EQ(byPort->grantedBytes, after.grantedBytes);
    // Not a socket: nothing known.
    const SocketReceive none = ReadSocketReceive(-1);
    EXPECT_EQ(none.grantedBytes, 0);
    EXPECT_FALSE(none.drops.has_value());
}

} // namespace
} // namespace qz417
