// The command channel through qz417link: profiles, the image, the parameter
// block, store and defaults, the angle, and how bad requests are answered.
#include "e2e_fixture.h"
#include "wait.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <vector>

namespace qz417::sim::e2e {
namespace {

using Commands = EmulatorTest;

int validPoints(const Packet &p, std::int16_t err = 0) {
    int n = 0;
    for (int i = 0; i < 1024; ++i) {
        const auto z = static_cast<std::int16_t>(u16(&p[4 + 4 * i]));
        const auto x = static_cast<std::int16_t>(u16(&p[6 + 4 * i]));
        n += (z != err && x != err);
    }
    return n;
}

TEST_F(Commands, BlockReadChangedWrittenAndReadBackKeepsEveryByte) {
    const int s = connect(1);
    Block read{};
    ASSERT_EQ(QZ417_ReadParams(s, read.data()), 1);
    EXPECT_EQ(read, emu().config(1));
    EXPECT_EQ(read[21], 127); // netAddress, first octet last
    EXPECT_EQ(read[18], 2);

    Block changed = read;
    changed[0] = 20;                        // laser level
    changed[10] = 0x00, changed[11] = 0xC0; // angle -16384
    changed[32] = 10;                       // udpFrequency
    for (std::size_t i = 33; i < 512; i += 7)
        changed[i] = static_cast<std::uint8_t>(~changed[i]); // bytes without meaning
    changed[12] ^= 0x80;
    ASSERT_EQ(QZ417_WriteParams(s, changed.data()), 1);
    Block back{};
    ASSERT_EQ(QZ417_ReadParams(s, back.data()), 1);
    EXPECT_EQ(back, changed);
    EXPECT_EQ(emu().config(1), changed);
    EXPECT_EQ(emu().commandsServed(1, 5), 1u);
    EXPECT_EQ(emu().commandsServed(1, 4), 2u);
    EXPECT_EQ(emu().config(0)[0], 16); // other scanners keep theirs
}

TEST_F(Commands, StoreThenDefaults) {
    const int s = connect(0);
    Block factory{};
    ASSERT_EQ(QZ417_ReadParams(s, factory.data()), 1);
    Block changed = factory;
    changed[0] = 5;
    changed[300] = 0x11;
    ASSERT_EQ(QZ417_WriteParams(s, changed.data()), 1);
    ASSERT_EQ(QZ417_FlushParams(s, QZ417_FLUSH_STORE), 1);
    EXPECT_EQ(emu().storedConfig(0), changed);

    Block other = changed;
    other[0] = 30;
    ASSERT_EQ(QZ417_WriteParams(s, other.data()), 1);
    ASSERT_EQ(QZ417_FlushParams(s, QZ417_FLUSH_DEFAULTS), 1);
    Block back{};
    ASSERT_EQ(QZ417_ReadParams(s, back.data()), 1);
    EXPECT_EQ(back, factory);
    EXPECT_EQ(emu().storedConfig(0), changed);
}

TEST_F(Commands, BlockPreparedBeforeConnectingIsWhatTheClientReads) {
    Block b = emu().config(2);
    b[0] = 12;
    emu().setConfig(2, b);
    const int s = connect(2);
    Block read{};
    ASSERT_EQ(QZ417_ReadParams(s, read.data()), 1);
    EXPECT_EQ(read[0], 12);
}

TEST_F(Commands, ProfilesAdvanceAndFollowTheLaserLevel) {
    const int s = connect(0);
    Packet a{}, b{};
    // A packet's counter is the scanner's measurement counter when it
    // answered: between its values before and after the request.
    const std::uint64_t beforeA = emu().measurementCount(0);
    ASSERT_EQ(QZ417_GetResult(s, a.data()), 1);
    const std::uint64_t afterA = emu().measurementCount(0);
    // 30 measurements on (30 ms at 1000 per second).
    ASSERT_TRUE(qz417::test::WaitUntil([&] { return emu().measurementCount(0) >= afterA + 30; },
                                       std::chrono::seconds(2)));
    const std::uint64_t beforeB = emu().measurementCount(0);
    ASSERT_EQ(QZ417_GetResult(s, b.data()), 1);
    const std::uint64_t afterB = emu().measurementCount(0);
    const int step = static_cast<std::uint16_t>(u16(b.data()) - u16(a.data()));
    EXPECT_GE(step, static_cast<int>(beforeB - afterA));
    EXPECT_LE(step, static_cast<int>(afterB - beforeA));
    EXPECT_GE(step, 30);
    EXPECT_GT(validPoints(b), 900);

    Block cfg = emu().config(0);
    cfg[0] = 0; // laser off
    ASSERT_EQ(QZ417_WriteParams(s, cfg.data()), 1);
    ASSERT_EQ(QZ417_GetResult(s, b.data()), 1);
    EXPECT_EQ(validPoints(b), 0);
}

TEST_F(Commands, ImageArrivesWholeWithTheLaserLine) {
    const int s = connect(0);
    std::vector<std::uint8_t> img(QZ417_IMAGE_SIZE);
    ASSERT_EQ(QZ417_GetImage(s, img.data()), 1);
    EXPECT_EQ(emu().commandsServed(0, 2), 1u);
    EXPECT_EQ(emu().commandsServed(0, 3), 10u);
    int columnsWithLine = 0;
    for (int x = 0; x < 640; ++x) {
        std::uint8_t best = 0;
        for (int y = 0; y < 512; ++y)
            best = std::max(best, img[y * 640 + x]);
        columnsWithLine += best > 150;
    }
    EXPECT_GT(columnsWithLine, 600);
    // The last chunk is not zero: the whole picture arrived.
    EXPECT_GT(*std::max_element(img.end() - 32768, img.end()), 0);
    std::vector<std::uint8_t> top(img.begin(), img.begin() + 640 * 20);
    std::sort(top.begin(), top.end());
    EXPECT_GT(top[top.size() / 2], 3); // a visible background
    EXPECT_LT(top[top.size() / 2], 80);
}

TEST_F(Commands, AngleMeasuredAppliedAndOutOfRange) {
    const int s = connect(0);
    std::uint8_t reply[2];
    ASSERT_EQ(QZ417_CalcAngle(s, reply), 1);
    const auto angle = static_cast<std::int16_t>(u16(reply));
    EXPECT_NEAR(angle, 1638, 5); // the 3 degrees of the emulated mount

    Block cfg{};
    ASSERT_EQ(QZ417_ReadParams(s, cfg.data()), 1);
    cfg[0] = 0; // no laser, no line
    ASSERT_EQ(QZ417_WriteParams(s, cfg.data()), 1);
    ASSERT_EQ(QZ417_CalcAngle(s, reply), 1);
    EXPECT_EQ(static_cast<std::int16_t>(u16(reply)), -32768);

    FaultOptions f;
    f.angleReply = 16384;
    emu().setFaults(0, f);
    ASSERT_EQ(QZ417_CalcAngle(s, reply), 1);
    EXPECT_EQ(u16(reply), 16384);
}

// Raw socket to scanner k, for requests the library never sends.
int rawConnect(int k) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(417);
    a.sin_addr.s_addr = htonl(0x7F000001u + static_cast<std::uint32_t>(k));
    timeval tv{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    return fd;
}

bool closedAfter(const std::array<std::uint32_t, 4> &header, int k) {
    const int fd = rawConnect(k);
    std::uint8_t bytes[16];
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 4; ++b)
            bytes[4 * i + b] = static_cast<std::uint8_t>(header[i] >> (8 * b));
    ::send(fd, bytes, sizeof bytes, MSG_NOSIGNAL);
    std::uint8_t sink[8192];
    const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
    ::close(fd);
    return n == 0;
}

TEST_F(Commands, BadRequestsCloseOnlyTheirConnection) {
    const int s = connect(0);
    Packet p{};
    ASSERT_EQ(QZ417_GetResult(s, p.data()), 1);
    EXPECT_TRUE(closedAfter({9, 0, 0, 0}, 0));            // unknown command
    EXPECT_TRUE(closedAfter({0, 0, 0, 0}, 0));            // no command 0 either
    EXPECT_TRUE(closedAfter({1, 4, 0, 0}, 0));            // wrong length
    EXPECT_TRUE(closedAfter({5, 0, 0, 0}, 0));            // write without its block
    EXPECT_TRUE(closedAfter({3, 0, 327680 - 16, 32}, 0)); // beyond the image
    EXPECT_TRUE(closedAfter({3, 0, 0, 0}, 0));            // empty chunk
    // The connection opened before, and new ones, are still served.
    EXPECT_EQ(QZ417_GetResult(s, p.data()), 1);
    const int t = connect(0);
    EXPECT_EQ(QZ417_ReadParams(t, Block{}.data()), 1);
}

TEST_F(Commands, ManyClientsInTurnAndAtOnce) {
    for (int i = 0; i < 30; ++i) {
        const int s = connect(i % 3);
        Packet p{};
        ASSERT_EQ(QZ417_GetResult(s, p.data()), 1) << i;
        disconnect(s);
    }
    std::atomic<int> ok{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 6; ++c)
        clients.emplace_back([&, c] {
            const DeviceAnnouncement d = recordOf(emu().announcement(c % 3));
            const int s = QZ417_Connect(&d);
            Packet p{};
            for (int i = 0; i < 200 && s > 0; ++i)
                ok += QZ417_GetResult(s, p.data());
            QZ417_Disconnect(s);
        });
    for (auto &t : clients)
        t.join();
    EXPECT_EQ(ok.load(), 1200);
    EXPECT_GE(emu().connectionsAccepted(0) + emu().connectionsAccepted(1) +
                  emu().connectionsAccepted(2),
              36u);
}

} // namespace
} // namespace qz417::sim::e2e
