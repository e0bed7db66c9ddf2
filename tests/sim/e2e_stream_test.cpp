// The UDP result stream, received with the library's UDP functions.
#include "e2e_fixture.h"

#include <vector>

namespace qz417::sim::e2e {
namespace {

using Stream = EmulatorTest;

// Receives for `seconds`, returning the packet counters in arrival order.
std::vector<std::uint16_t> receiveFor(int socket, double seconds) {
    std::vector<std::uint16_t> counts;
    Packet p{};
    const auto start = std::chrono::steady_clock::now();
    while (secondsSince(start) < seconds && counts.size() < 100000)
        if (QZ417_UDP_GetResult(socket, p.data()) == 1)
            counts.push_back(u16(&p[2]));
    return counts;
}

TEST_F(Stream, BlockRateArrivesWithConsecutiveCounters) {
    const int u = QZ417_UDP_Connect(6003);
    ASSERT_GT(u, 0);
    Block b = emu().config(1);
    b[32] = 100; // udpFrequency
    emu().setConfig(1, b);
    const auto counts = receiveFor(u, 1.0);
    b[32] = 0;
    emu().setConfig(1, b);
    EXPECT_GE(counts.size(), 90u);
    EXPECT_LE(counts.size(), 110u);
    for (std::size_t i = 1; i < counts.size(); ++i)
        ASSERT_EQ(static_cast<std::uint16_t>(counts[i - 1] + 1), counts[i]) << i;

    // Switched off: nothing more after the last packets in flight. The
    // streamer looks at the block at least every 10 ms and has no sign of
    // having done so: 50 ms cover five looks. Then a quiet 0.2 s, in which
    // 20 packets would come at 100 Hz.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto sent = emu().udpPacketsSent(1);
    EXPECT_LE(receiveFor(u, 0.2).size(), 2u);
    EXPECT_EQ(emu().udpPacketsSent(1), sent);
    QZ417_UDP_Disconnect(u);
}

TEST_F(Stream, DestinationFollowsTheBlockAndStaysOnLoopback) {
    const int u = QZ417_UDP_Connect(6004);
    ASSERT_GT(u, 0);
    Block b = emu().config(0);
    b[30] = 6004 & 0xFF; // udpPort
    b[31] = 6004 >> 8;
    b[32] = 50;
    emu().setConfig(0, b);
    EXPECT_GT(receiveFor(u, 0.3).size(), 5u);

    b[29] = 10; // udpAddress 10.0.0.1: outside loopback, refused
    emu().setConfig(0, b);
    // As above: five looks at the block, then a quiet 0.2 s (10 packets at 50 Hz).
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto sent = emu().udpPacketsSent(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(emu().udpPacketsSent(0), sent);
    QZ417_UDP_Disconnect(u);
}

class FastStream : public EmulatorTest {
protected:
    EmulatorOptions options() const override {
        EmulatorOptions o = EmulatorTest::options();
        o.count = 1;
        o.streamRateHz = 20000;
        return o;
    }
};

TEST_F(FastStream, StreamRateOverridesTheBlock) {
    const int u = QZ417_UDP_Connect(6003);
    ASSERT_GT(u, 0);
    const auto before = emu().udpPacketsSent(0);
    const auto counts = receiveFor(u, 0.5);
    const auto sent = emu().udpPacketsSent(0) - before;
    // The block's own rate is at most 255 Hz (about 128 packets in 0.5 s):
    // more than 2000 shows the override even when a busy machine slows the
    // emulator's sender; it never sends faster than asked.
    EXPECT_GT(sent, 2000u);
    EXPECT_LT(sent, 12000u);
    EXPECT_GT(counts.size(), sent / 2);
    QZ417_UDP_Disconnect(u);
}

} // namespace
} // namespace qz417::sim::e2e
