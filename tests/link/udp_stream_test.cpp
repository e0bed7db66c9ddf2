// The UDP result stream on port 6003, fed by a sender on loopback.
#include "loopback_peers.h"

#include "qz417link.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using qz417::test::MillisecondsSince;
using qz417::test::UdpSender;

namespace {

constexpr uint16_t kStreamPort = 6003;

uint16_t BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

std::vector<uint8_t> Datagram(std::size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 3);
    return bytes;
}

TEST(UdpStream, PortTakesTheLow16BitsOfItsArgument) {
    for (const int32_t port : {6003, 6003 + 65536}) {
        const int32_t fd = QZ417_UDP_Connect(port);
        ASSERT_GT(fd, 0) << port;
        EXPECT_EQ(BoundPort(fd), kStreamPort) << port;
        EXPECT_EQ(QZ417_UDP_Disconnect(fd), 1);
    }
}

TEST(UdpStream, PortInUseFails) {
    const int32_t first = QZ417_UDP_Connect(kStreamPort);
    ASSERT_GT(first, 0);
    EXPECT_EQ(QZ417_UDP_Connect(kStreamPort), -1);
    EXPECT_EQ(QZ417_UDP_Disconnect(first), 1);
    const int32_t again = QZ417_UDP_Connect(kStreamPort); // free again after the close
    EXPECT_GT(again, 0);
    QZ417_UDP_Disconnect(again);
}

TEST(UdpStream, OnlyDatagramsOfExactly4100BytesArePackets) {
    const int32_t fd = QZ417_UDP_Connect(kStreamPort);
    ASSERT_GT(fd, 0);
    UdpSender sender;
    struct Case {
        std::size_t size;
        int32_t result;
    } const cases[] = {{4099, 0}, {4101, 0}, {4100, 1}, {1, 0}, {8200, 0}, {4100, 1}};
    uint8_t seed = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes");
        const std::vector<uint8_t> sent = Datagram(c.size, ++seed);
        ASSERT_TRUE(sender.send(sent, kStreamPort));
        std::vector<uint8_t> packet(QZ417_PACKET_SIZE);
        EXPECT_EQ(QZ417_UDP_GetResult(fd, packet.data()), c.result);
        if (c.result == 1) {
            EXPECT_EQ(packet, sent);
        }
    }
    QZ417_UDP_Disconnect(fd);
}

TEST(UdpStream, NoDatagramTimesOutAfterAbout50Ms) {
    const int32_t fd = QZ417_UDP_Connect(kStreamPort);
    ASSERT_GT(fd, 0);
    std::vector<uint8_t> packet(QZ417_PACKET_SIZE);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QZ417_UDP_GetResult(fd, packet.data()), 0);
    const long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 40);
    EXPECT_LT(elapsed, 500);
    QZ417_UDP_Disconnect(fd);
}

} // namespace
