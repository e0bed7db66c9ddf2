// The command channel against a fake scanner on 127.0.0.50+:417.
#include "loopback_peers.h"
#include "scanner_fixture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

using qz417::test::Connection;
using qz417::test::FakeScanner;
using qz417::test::FakeScannerOptions;
using qz417::test::MillisecondsSince;
namespace wire = qz417::link::wire;

namespace {

std::vector<uint8_t> Hex(const std::string &text) {
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size() + 1; i += 3)
        bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

FakeScannerOptions At(const char *address) {
    FakeScannerOptions options;
    options.address = address;
    return options;
}

bool MatchesPattern(const uint8_t *data, std::size_t size, uint8_t (*pattern)(std::size_t),
                    std::size_t start = 0) {
    for (std::size_t i = 0; i < size; ++i)
        if (data[i] != pattern(start + i))
            return false;
    return true;
}

std::vector<uint8_t> ConfigBlock() {
    std::vector<uint8_t> config(wire::kConfigSize);
    for (std::size_t i = 0; i < config.size(); ++i)
        config[i] = static_cast<uint8_t>(255 - i);
    return config;
}

struct RequestCase {
    const char *name;
    std::function<int32_t(int32_t)> call;
    std::string header; // bytes on the wire, in sending order
};

TEST(CommandChannel, EachExchangeSendsItsHeaderByteForByte) {
    QZ417_START_SCANNER(scanner, At("127.0.0.50"));
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());

    std::vector<uint8_t> packet(wire::kPacketSize), config(wire::kConfigSize);
    uint8_t angle[2] = {};
    const std::vector<uint8_t> written = ConfigBlock();
    const RequestCase cases[] = {
        {"profile", [&](int32_t s) { return QZ417_GetResult(s, packet.data()); },
         "01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"read parameters", [&](int32_t s) { return QZ417_ReadParams(s, config.data()); },
         "04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"write parameters", [&](int32_t s) { return QZ417_WriteParams(s, written.data()); },
         "05 00 00 00 00 02 00 00 00 00 00 00 00 00 00 00"},
        {"store", [](int32_t s) { return QZ417_FlushParams(s, QZ417_FLUSH_STORE); },
         "06 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"defaults", [](int32_t s) { return QZ417_FlushParams(s, QZ417_FLUSH_DEFAULTS); },
         "06 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00"},
        {"angle", [&](int32_t s) { return QZ417_CalcAngle(s, angle); },
         "07 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    };
    for (const RequestCase &c : cases)
        EXPECT_EQ(c.call(connection.fd()), 1) << c.name;

    ASSERT_TRUE(scanner->waitForRequests(std::size(cases), std::chrono::seconds(2)));
    const auto requests = scanner->requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (std::size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const std::vector<uint8_t> &sent = requests[i].bytes;
        ASSERT_GE(sent.size(), wire::kCommandHeaderSize);
        EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 16), Hex(cases[i].header));
    }
    // Command 5 carries the caller's block right behind its header.
    EXPECT_EQ(std::vector<uint8_t>(requests[2].bytes.begin() + 16, requests[2].bytes.end()),
              written);
    EXPECT_TRUE(MatchesPattern(packet.data(), packet.size(), FakeScanner::PacketByte));
    EXPECT_TRUE(MatchesPattern(config.data(), config.size(), FakeScanner::ConfigByte));
    EXPECT_EQ(angle[0], FakeScanner::kAngle[0]);
    EXPECT_EQ(angle[1], FakeScanner::kAngle[1]);
}

TEST(CommandChannel, ImageIsOneStartAndTenChunkRequests) {
    QZ417_START_SCANNER(scanner, At("127.0.0.51"));
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());
    std::vector<uint8_t> image(wire::kImageSize, 0xAA);
    ASSERT_EQ(QZ417_GetImage(connection.fd(), image.data()), 1);
    EXPECT_TRUE(MatchesPattern(image.data(), image.size(), FakeScanner::ImageByte));

    const auto requests = scanner->requests();
    ASSERT_EQ(requests.size(), 11u);
    EXPECT_EQ(requests[0].header, wire::MakeRequest(wire::Command::StartImage));
    for (uint32_t k = 0; k < 10; ++k)
        EXPECT_EQ(requests[1 + k].header, (wire::CommandHeader{3, 0, k * 32768, 32768}))
            << "chunk " << k;
    EXPECT_EQ(requests[2].bytes, Hex("03 00 00 00 00 00 00 00 00 80 00 00 00 80 00 00"));
}

TEST(CommandChannel, RepliesArriveAssembledFromManySmallSegments) {
    FakeScannerOptions options = At("127.0.0.52");
    options.segmentSize = 97;
    options.segmentPause = std::chrono::milliseconds(1);
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());

    std::vector<uint8_t> packet(wire::kPacketSize), config(wire::kConfigSize);
    uint8_t angle[2] = {};
    EXPECT_EQ(QZ417_GetResult(connection.fd(), packet.data()), 1);
    EXPECT_TRUE(MatchesPattern(packet.data(), packet.size(), FakeScanner::PacketByte));
    EXPECT_EQ(QZ417_ReadParams(connection.fd(), config.data()), 1);
    EXPECT_TRUE(MatchesPattern(config.data(), config.size(), FakeScanner::ConfigByte));
    EXPECT_EQ(QZ417_CalcAngle(connection.fd(), angle), 1);
    EXPECT_EQ(angle[1], FakeScanner::kAngle[1]);
}

TEST(CommandChannel, ImageAssembledFromSegmentsAcrossChunks) {
    FakeScannerOptions options = At("127.0.0.53");
    options.segmentSize = 1000; // never aligned with the 32768-byte chunks
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());
    std::vector<uint8_t> image(wire::kImageSize);
    ASSERT_EQ(QZ417_GetImage(connection.fd(), image.data()), 1);
    EXPECT_TRUE(MatchesPattern(image.data(), image.size(), FakeScanner::ImageByte));
}

TEST(CommandChannel, SilentScannerFailsAfterTheFourSecondTimeOut) {
    FakeScannerOptions options = At("127.0.0.54");
    options.silent = true;
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());
    std::vector<uint8_t> config(wire::kConfigSize);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QZ417_ReadParams(connection.fd(), config.data()), 0);
    const long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 3900);
    EXPECT_LT(elapsed, 5500);
}

TEST(CommandChannel, ScannerHangingUpMidReplyFailsTheExchange) {
    FakeScannerOptions options = At("127.0.0.55");
    options.hangUpAfter = 100;
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());
    std::vector<uint8_t> packet(wire::kPacketSize);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QZ417_GetResult(connection.fd(), packet.data()), 0);
    EXPECT_LT(MillisecondsSince(start), 1000);
    EXPECT_TRUE(MatchesPattern(packet.data(), 100, FakeScanner::PacketByte));
}

TEST(CommandChannel, FailedImageKeepsBytesSoFarAndZerosAfterThem) {
    constexpr std::size_t kDelivered = 32768 + 100;
    FakeScannerOptions options = At("127.0.0.56");
    options.hangUpAfter = kDelivered;
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());
    std::vector<uint8_t> image(wire::kImageSize, 0xAA);
    EXPECT_EQ(QZ417_GetImage(connection.fd(), image.data()), 0);
    EXPECT_TRUE(MatchesPattern(image.data(), kDelivered, FakeScanner::ImageByte));
    EXPECT_TRUE(
        std::all_of(image.begin() + kDelivered, image.end(), [](uint8_t b) { return b == 0; }));
}

TEST(CommandChannel, FlushSucceedsOnAnyAcknowledgementValue) {
    for (const uint16_t ack : {uint16_t{0}, uint16_t{1}, uint16_t{0xFFFF}}) {
        FakeScannerOptions options = At("127.0.0.57");
        options.flushAck = ack;
        QZ417_START_SCANNER(scanner, options);
        Connection connection(*scanner);
        ASSERT_TRUE(connection.ok());
        EXPECT_EQ(QZ417_FlushParams(connection.fd(), QZ417_FLUSH_STORE), 1) << "ack " << ack;
    }
}

TEST(CommandChannel, WriteParamsDoesNotWaitForAReply) {
    FakeScannerOptions options = At("127.0.0.58");
    options.silent = true;
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());
    const std::vector<uint8_t> config = ConfigBlock();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QZ417_WriteParams(connection.fd(), config.data()), 1);
    EXPECT_LT(MillisecondsSince(start), 500);
    ASSERT_TRUE(scanner->waitForRequests(1, std::chrono::seconds(2)));
    EXPECT_EQ(scanner->requests()[0].bytes.size(), 16u + 512u);
}

TEST(CommandChannel, ConnectRefusesBadRecordsWithoutCreatingASocket) {
    const std::size_t before = qz417::test::CountOpenDescriptors();
    EXPECT_EQ(QZ417_Connect(nullptr), -1);
    DeviceAnnouncement wrongType{};
    wrongType.type = 418;
    wrongType.ip[0] = 127;
    wrongType.ip[3] = 50;
    EXPECT_EQ(QZ417_Connect(&wrongType), -1);
    EXPECT_EQ(qz417::test::CountOpenDescriptors(), before);
}

TEST(CommandChannel, ConnectToAnAddressWithoutScannerFailsAndClosesItsSocket) {
    const std::size_t before = qz417::test::CountOpenDescriptors();
    DeviceAnnouncement nobody{};
    nobody.type = 417;
    nobody.ip[0] = 127;
    nobody.ip[3] = 79; // nothing listens on 127.0.0.79:417
    EXPECT_EQ(QZ417_Connect(&nobody), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_EQ(qz417::test::CountOpenDescriptors(), before);
}

TEST(CommandChannel, DisconnectClosesOnlyRealSockets) {
    EXPECT_EQ(QZ417_Disconnect(0), 0);
    EXPECT_EQ(QZ417_Disconnect(-1), 0);
    EXPECT_EQ(QZ417_UDP_Disconnect(-1), 0);
    QZ417_START_SCANNER(scanner, At("127.0.0.59"));
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());
    const int32_t fd = connection.fd();
    EXPECT_EQ(QZ417_Disconnect(fd), 1);
    EXPECT_EQ(QZ417_Disconnect(fd), 0); // already closed
    std::vector<uint8_t> packet(wire::kPacketSize);
    EXPECT_EQ(QZ417_GetResult(fd, packet.data()), 0);
}

TEST(CommandChannel, ResetConnectionDoesNotRaiseSigpipe) {
    std::signal(SIGPIPE, SIG_DFL); // a SIGPIPE would end this test process
    FakeScannerOptions options = At("127.0.0.60");
    options.resetOnAccept = true;
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());
    // The reset has arrived once the socket reports it (readable: recv
    // would fail with ECONNRESET).
    pollfd reset{connection.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&reset, 1, 2000), 1) << "no reset within 2 s";
    const std::vector<uint8_t> config = ConfigBlock();
    std::vector<uint8_t> packet(wire::kPacketSize);
    int failures = 0;
    for (int i = 0; i < 5; ++i) {
        failures += QZ417_WriteParams(connection.fd(), config.data()) == 0;
        failures += QZ417_GetResult(connection.fd(), packet.data()) == 0;
    }
    EXPECT_EQ(failures, 10);
}

} // namespace
