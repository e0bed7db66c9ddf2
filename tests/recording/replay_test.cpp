// Replay by the emulator: a recording made here is streamed by qz417sim
// --replay, received through qz417link and recorded again; the second file
// holds the same packets in the same order. Command 1 answers from the
// recording, and the announcement carries the recorded description.
#include "emulator.h"
#include "model/recording/recording_file.h"
#include "model/recording/recording_writer_thread.h"
#include "qz417link.h"
#include "recording_test_support.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace qz417::recording {
namespace {

using test::MakePacket;
using test::TempDir;
using namespace std::chrono_literals;

constexpr std::uint16_t kStreamPort = 6003;

// A parameter block that streams to 127.0.0.1:6003 at 100 per second; the
// recorded network address (192.168.7.9) must not survive the replay.
ParameterBlock StreamingBlock() {
    ParameterBlock b{};
    b[0] = 16;
    b[18] = 9, b[19] = 7, b[20] = 168, b[21] = 192;  // netAddress, last octet first
    b[26] = 10, b[27] = 0, b[28] = 168, b[29] = 192; // udpAddress 192.168.0.10
    b[30] = kStreamPort & 0xFF, b[31] = kStreamPort >> 8;
    b[32] = 100;
    for (std::size_t i = 33; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>(i * 7);
    return b;
}

Announcement RecordedAnnouncement() {
    Announcement a{};
    a[0] = 417 & 0xFF, a[1] = 417 >> 8;
    a[2] = 192, a[3] = 168, a[4] = 7, a[5] = 9;
    for (int i = 0; i < 6; ++i)
        a[6 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x10 + i);
    const std::uint8_t description[16] = {0x2F, 1, 2,   3, 80, 0,  44, 1,
                                          140,  0, 230, 0, 0,  64, 0,  0}; // range Z 300
    std::memcpy(&a[12], description, sizeof description);
    return a;
}

// The receiving socket, closed however the test ends. Its buffer holds the
// whole replay (as root), so that a receiver held up by a busy machine
// loses nothing: the test is about the sender.
struct StreamSocket {
    StreamSocket() {
        const int size = 64 << 20;
        if (fd != -1 && setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    ~StreamSocket() { QZ417_UDP_Disconnect(fd); }
    std::int32_t fd = QZ417_UDP_Connect(kStreamPort);
};

std::string WriteSource(const TempDir &dir, std::uint64_t n, std::int64_t intervalNs) {
    const std::string path = dir.file("source.h5");
    RecordingWriter w(path, {RecordedAnnouncement(), StreamingBlock(), "test"});
    for (std::uint64_t i = 0; i < n; ++i) {
        const Packet p = MakePacket(i);
        const ReceiveTime t{static_cast<std::int64_t>(i) * intervalNs, 0};
        w.Append(p.data(), &t, 1);
    }
    w.Close(0, EndState::Closed);
    return path;
}

qz417::sim::EmulatorOptions ReplayOptions(const std::string &path, double rate) {
    qz417::sim::EmulatorOptions o;
    o.announceIntervalMs = 0;
    o.replayPath = path;
    o.replayRateHz = rate;
    o.replayOnce = true;
    return o;
}

// Receives on the stream port into a new recording until `n` arrived or the
// stream fell silent.
std::string ReceiveAndRecord(const TempDir &dir, std::int32_t socket, std::uint64_t n) {
    RecordingWriterThread again;
    RecorderSettings s;
    s.path = dir.file("again.h5");
    std::string error;
    EXPECT_TRUE(again.Start(s, &error)) << error;
    Packet p{};
    auto lastArrival = std::chrono::steady_clock::now();
    for (std::uint64_t got = 0; got < n && std::chrono::steady_clock::now() - lastArrival < 3s;) {
        if (QZ417_UDP_GetResult(socket, p.data()) == 1) {
            EXPECT_TRUE(again.Push(p.data(), ReceiveTime::Now()));
            lastArrival = std::chrono::steady_clock::now();
            ++got;
        }
    }
    again.Stop();
    return s.path;
}

TEST(Replay, RecordedAgainGivesTheSamePacketsInTheSameOrder) {
    TempDir dir;
    constexpr std::uint64_t kProfiles = 3000;
    const std::string source = WriteSource(dir, kProfiles, 1'000'000);
    StreamSocket socket;
    ASSERT_NE(socket.fd, -1);
    qz417::sim::Emulator emulator(ReplayOptions(source, 5000));
    std::string error;
    ASSERT_TRUE(emulator.start(&error)) << error;
    const std::string again = ReceiveAndRecord(dir, socket.fd, kProfiles);

    RecordingReader a(source), b(again);
    ASSERT_EQ(b.profiles(), kProfiles);
    std::vector<std::uint8_t> pa(kProfiles * kPacketSize), pb(kProfiles * kPacketSize);
    a.Read(0, kProfiles, pa.data(), nullptr);
    b.Read(0, kProfiles, pb.data(), nullptr);
    EXPECT_TRUE(pa == pb);
    EXPECT_EQ(b.Summary().lostPackets, 0u);

    // The emulator serves the recorded block with its own addresses, and
    // announces the recorded description from its own address.
    const auto block = emulator.config(0);
    const ParameterBlock recorded = StreamingBlock();
    EXPECT_TRUE(std::equal(block.begin() + 33, block.end(), recorded.begin() + 33));
    EXPECT_EQ(block[32], 100);
    EXPECT_EQ(block[21], 127); // netAddress 127.0.0.1, first octet at offset + 3
    EXPECT_EQ(block[29], 127);
    const auto announcement = emulator.announcement(0);
    EXPECT_TRUE(std::equal(announcement.begin() + 6, announcement.end(),
                           RecordedAnnouncement().begin() + 6));
    EXPECT_EQ(announcement[2], 127);
    EXPECT_EQ(announcement[5], 1);

    // Played once: command 1 keeps answering with the last recorded profile.
    DeviceAnnouncement device{};
    device.type = 417;
    std::memcpy(device.ip, &announcement[2], 4);
    const std::int32_t tcp = QZ417_Connect(&device);
    ASSERT_NE(tcp, -1);
    Packet reply{};
    ASSERT_EQ(QZ417_GetResult(tcp, reply.data()), 1);
    QZ417_Disconnect(tcp);
    EXPECT_EQ(reply, MakePacket(kProfiles - 1));
}

TEST(Replay, FollowsTheRecordedTiming) {
    TempDir dir;
    // 100 profiles 4 ms apart: the replay takes about 0.4 s.
    const std::string source = WriteSource(dir, 100, 4'000'000);
    StreamSocket socket;
    ASSERT_NE(socket.fd, -1);
    qz417::sim::Emulator emulator(ReplayOptions(source, 0));
    std::string error;
    ASSERT_TRUE(emulator.start(&error)) << error;
    const std::string again = ReceiveAndRecord(dir, socket.fd, 100);
    RecordingReader b(again);
    ASSERT_EQ(b.profiles(), 100u);
    const RecordingSummary s = b.Summary();
    const double span = (s.lastMonotonicNs - s.firstMonotonicNs) * 1e-9;
    EXPECT_GT(span, 0.3); // not all at once
    EXPECT_LT(span, 3.0); // nor stalled
}

TEST(Replay, RecordingThatCannotBeReplayedStopsTheStart) {
    TempDir dir;
    std::string error;
    qz417::sim::Emulator missing(ReplayOptions(dir.file("missing.h5"), 0));
    EXPECT_FALSE(missing.start(&error));
    EXPECT_NE(error.find("missing.h5"), std::string::npos) << error;

    const std::string empty = dir.file("empty.h5");
    RecordingWriter(empty, {}).Close(0, EndState::Closed);
    qz417::sim::Emulator none(ReplayOptions(empty, 0));
    EXPECT_FALSE(none.start(&error));
    EXPECT_NE(error.find("no profile"), std::string::npos) << error;
}

} // namespace
} // namespace qz417::recording
