// The readings the benchmark figures rest on: the median that decides
// alternating turns, the kernel's count of datagrams a full receive buffer
// refused (set beside every UDP loss figure), and the machine's CPU pressure.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

TEST(BenchMedian, MiddleOfOddAndMeanOfMiddleTwoOfEvenCountsInAnyOrder) {
    EXPECT_EQ(qz417::bench::Median({}), 0);
    EXPECT_EQ(qz417::bench::Median({7}), 7);
    EXPECT_EQ(qz417::bench::Median({30, 10, 20}), 20);
    EXPECT_EQ(qz417::bench::Median({40, 10, 30, 20}), 25);
    // One turn hit by a load spike does not move it.
    EXPECT_EQ(qz417::bench::Median({15.9, 15.2, 95.0}), 15.9);
    EXPECT_EQ(qz417::bench::Median({95.0, 15.2, 15.9, 16.1, 14.8}), 15.9);
}

// A receiver on an ephemeral loopback port with a small buffer; n datagrams
// of a profile's size sent before it reads any. Returns those it got.
int OverflowReceiveBuffer(int n) {
    const int receiver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (receiver < 0 || sender < 0)
        return -1;
    const int small = 64 * 1024;
    ::setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(receiver, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::getsockname(receiver, reinterpret_cast<sockaddr *>(&a), &length) != 0)
        return -1;
    std::vector<std::uint8_t> packet(QZ417_PACKET_SIZE, 0x5A);
    for (int i = 0; i < n; ++i)
        ::sendto(sender, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&a),
                 sizeof a);
    int received = 0;
    while (::recv(receiver, packet.data(), packet.size(), MSG_DONTWAIT) > 0)
        ++received;
    ::close(sender);
    ::close(receiver);
    return received;
}

TEST(BenchKernelDrops, CountsExactlyTheDatagramsAFullReceiveBufferRefused) {
    const long before = qz417::bench::UdpReceiveBufferErrors();
    if (before < 0)
        GTEST_SKIP() << "/proc/net/snmp has no Udp RcvbufErrors here";
    constexpr int kSent = 400;
    const int received = OverflowReceiveBuffer(kSent);
    ASSERT_GT(received, 0);
    ASSERT_LT(received, kSent) << "the small buffer took every datagram";
    // The namespace is this test's own: no other socket adds to the count.
    EXPECT_EQ(qz417::bench::UdpReceiveBufferErrors() - before, kSent - received);
}

TEST(BenchCpuPressure, RisesWhileMoreThreadsSpinThanThereAreCores) {
    EXPECT_EQ(qz417::bench::CpuPressurePercent(-1, 100, 1), -1);
    EXPECT_EQ(qz417::bench::CpuPressurePercent(100, -1, 1), -1);
    EXPECT_EQ(qz417::bench::CpuPressurePercent(0, 250'000, 0.5), 50);
    const long long before = qz417::bench::CpuPressureMicroseconds();
    std::ifstream pressure("/proc/pressure/cpu");
    std::string line;
    if (!std::getline(pressure, line)) {
        // A kernel without pressure reporting (built or booted without it):
        // the reading says so, and the rows print -1 instead of a share.
        EXPECT_EQ(before, -1);
        return;
    }
    ASSERT_GE(before, 0) << line;
    std::atomic<bool> stop{false};
    std::vector<std::thread> spinners;
    const auto start = qz417::bench::Clock::now();
    for (unsigned i = 0; i < std::thread::hardware_concurrency() + 2; ++i)
        spinners.emplace_back([&] {
            while (!stop.load(std::memory_order_relaxed)) {
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    stop = true;
    for (std::thread &t : spinners)
        t.join();
    const double percent = qz417::bench::CpuPressurePercent(
        before, qz417::bench::CpuPressureMicroseconds(), qz417::bench::Since(start));
    EXPECT_GT(percent, 20);
    EXPECT_LE(percent, 101);
}

} // namespace
