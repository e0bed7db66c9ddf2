// Each fault switch makes the library's call fail the way a faulty scanner
// makes it fail; segmented replies still succeed.
#include "e2e_fixture.h"
#include "wait.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <vector>

namespace qz417::sim::e2e {
namespace {

using Faults = EmulatorTest;

TEST_F(Faults, SegmentedRepliesAreStillWhole) {
    FaultOptions f;
    f.segmentBytes = 97;
    f.segmentDelayMs = 1;
    emu().setFaults(0, f);
    const int s = connect(0);
    Block b{};
    ASSERT_EQ(QZ417_ReadParams(s, b.data()), 1);
    EXPECT_EQ(b, emu().config(0));
    Packet p{};
    EXPECT_EQ(QZ417_GetResult(s, p.data()), 1);
    f.segmentBytes = 1000;
    f.segmentDelayMs = 0;
    emu().setFaults(0, f);
    std::vector<std::uint8_t> img(QZ417_IMAGE_SIZE);
    EXPECT_EQ(QZ417_GetImage(s, img.data()), 1);
}

TEST_F(Faults, StalledScannerFailsAfterTheReceiveTimeout) {
    FaultOptions f;
    f.stallAfterCommands = 1;
    emu().setFaults(1, f);
    const int s = connect(1);
    Packet p{};
    ASSERT_EQ(QZ417_GetResult(s, p.data()), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QZ417_GetResult(s, p.data()), 0);
    const double waited = secondsSince(start);
    EXPECT_GT(waited, 3.5);
    EXPECT_LT(waited, 6.0);
}

TEST_F(Faults, CloseMidReplyAndResetFailTheExchange) {
    FaultOptions f;
    f.closeMidReplyAfter = 0;
    emu().setFaults(0, f);
    int s = connect(0);
    Packet p{};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QZ417_GetResult(s, p.data()), 0);
    EXPECT_LT(secondsSince(start), 1.0);

    f = {};
    f.resetAfterCommands = 1;
    emu().setFaults(0, f);
    s = connect(0);
    Block b{};
    ASSERT_EQ(QZ417_ReadParams(s, b.data()), 1);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(QZ417_ReadParams(s, b.data()), 0);
    EXPECT_LT(secondsSince(start), 1.0);

    // Other scanners are unaffected, and clearing the faults heals scanner 0.
    EXPECT_EQ(QZ417_GetResult(connect(2), p.data()), 1);
    emu().setFaults(0, FaultOptions{});
    EXPECT_EQ(QZ417_GetResult(connect(0), p.data()), 1);
}

TEST_F(Faults, StopIsPromptEvenWithStalledClients) {
    FaultOptions f;
    f.stallAfterCommands = 0;
    emu().setFaults(0, f);
    const int s = connect(0);
    std::atomic<long> tid{0};
    std::thread blocked([s, &tid] {
        tid = ::syscall(SYS_gettid);
        Packet p{};
        QZ417_GetResult(s, p.data());
    });
    // The request is out and the client waits in its receive for a reply
    // that never comes.
    EXPECT_TRUE(qz417::test::WaitUntil(
        [&] { return tid.load() != 0 && qz417::test::ThreadSyscall(tid.load()) == SYS_recvfrom; },
        std::chrono::seconds(2)))
        << "the client never waited for its reply";
    const auto start = std::chrono::steady_clock::now();
    emu().stop();
    EXPECT_LT(secondsSince(start), 1.0);
    blocked.join(); // the closed connection ends the exchange early
    EXPECT_LT(secondsSince(start), 2.0);
}

} // namespace
} // namespace qz417::sim::e2e
