// LinkLock and threads: exchanges never interleave, invalid calls never wait
// for the lock, a disconnect wakes a pending exchange and never waits for an
// exchange on another socket, signals do not fail one.
#include "loopback_peers.h"
#include "scanner_fixture.h"
#include "wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <future>
#include <pthread.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using qz417::test::Connection;
using qz417::test::FakeScanner;
using qz417::test::FakeScannerOptions;
using qz417::test::MillisecondsSince;
using qz417::test::RecordedRequest;
namespace wire = qz417::link::wire;
using namespace std::chrono_literals;

namespace {

FakeScannerOptions At(const char *address) {
    FakeScannerOptions options;
    options.address = address;
    return options;
}

// In a request log ordered as the scanner(s) saw it, each command 2 must be
// followed directly by its ten chunk requests: nothing else in between.
void ExpectImagesUnbroken(const std::vector<RecordedRequest> &log) {
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i].header.command != 2)
            continue;
        ASSERT_LE(i + 11, log.size()) << "image request " << i << " incomplete";
        for (uint32_t k = 0; k < 10; ++k)
            EXPECT_EQ(log[i + 1 + k].header, (wire::CommandHeader{3, 0, k * 32768, 32768}))
                << "request " << i + 1 + k << " inside the image exchange at " << i;
    }
}

struct InvalidCall {
    const char *name;
    std::function<int32_t()> call;
};

TEST(LinkLock, InvalidCallsReturnAtOnceWhileAnotherThreadHoldsTheLock) {
    FakeScannerOptions options = At("127.0.0.61");
    options.stall = 3s; // holds the first exchange until released
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());

    std::vector<uint8_t> held(wire::kConfigSize);
    auto holder = std::async(std::launch::async,
                             [&] { return QZ417_ReadParams(connection.fd(), held.data()); });
    ASSERT_TRUE(scanner->waitForRequests(1, 2s)); // the holder is inside its exchange

    std::vector<uint8_t> buffer(wire::kImageSize);
    const int32_t fd = connection.fd();
    const InvalidCall calls[] = {
        {"result 0", [&] { return QZ417_GetResult(0, buffer.data()); }},
        {"result -1", [&] { return QZ417_GetResult(-1, buffer.data()); }},
        {"result null", [&] { return QZ417_GetResult(fd, nullptr); }},
        {"image 0", [&] { return QZ417_GetImage(0, buffer.data()); }},
        {"image null", [&] { return QZ417_GetImage(fd, nullptr); }},
        {"read -1", [&] { return QZ417_ReadParams(-1, buffer.data()); }},
        {"read null", [&] { return QZ417_ReadParams(fd, nullptr); }},
        {"write 0", [&] { return QZ417_WriteParams(0, buffer.data()); }},
        {"write null", [&] { return QZ417_WriteParams(fd, nullptr); }},
        {"flush 0", [] { return QZ417_FlushParams(0, 0); }},
        {"flush -1", [] { return QZ417_FlushParams(-1, 1); }},
        {"angle -1", [&] { return QZ417_CalcAngle(-1, buffer.data()); }},
        {"angle null", [&] { return QZ417_CalcAngle(fd, nullptr); }},
        {"udp result 0", [&] { return QZ417_UDP_GetResult(0, buffer.data()); }},
        {"udp result -1", [&] { return QZ417_UDP_GetResult(-1, buffer.data()); }},
        {"udp result null", [&] { return QZ417_UDP_GetResult(fd, nullptr); }},
    };
    for (const InvalidCall &c : calls) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c.call(), 0) << c.name;
        EXPECT_LT(MillisecondsSince(start), 100) << c.name << " waited";
    }
    EXPECT_EQ(holder.wait_for(0ms), std::future_status::timeout) << "the holder ended early";
    scanner->releaseStall();
    EXPECT_EQ(holder.get(), 1);
    EXPECT_EQ(scanner->requests().size(), 1u); // the invalid calls sent nothing
}

TEST(LinkLock, ThreadsSharingOneSocketNeverInterleave) {
    FakeScannerOptions options = At("127.0.0.62");
    options.segmentSize = 1500;
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());

    std::atomic<int> failures{0};
    std::thread images([&] {
        std::vector<uint8_t> image(wire::kImageSize);
        for (int i = 0; i < 3; ++i) {
            if (QZ417_GetImage(connection.fd(), image.data()) != 1 ||
                image[40000] != FakeScanner::ImageByte(40000))
                ++failures;
        }
    });
    std::thread params([&] {
        std::vector<uint8_t> config(wire::kConfigSize);
        for (int i = 0; i < 30; ++i)
            if (QZ417_ReadParams(connection.fd(), config.data()) != 1 ||
                config[511] != FakeScanner::ConfigByte(511))
                ++failures;
    });
    std::thread results([&] {
        std::vector<uint8_t> packet(wire::kPacketSize);
        for (int i = 0; i < 30; ++i)
            if (QZ417_GetResult(connection.fd(), packet.data()) != 1 ||
                packet[4099] != FakeScanner::PacketByte(4099))
                ++failures;
    });
    images.join();
    params.join();
    results.join();
    EXPECT_EQ(failures, 0);
    const auto log = scanner->requests();
    EXPECT_EQ(log.size(), 3u * 11 + 30 + 30);
    ExpectImagesUnbroken(log);
}

TEST(LinkLock, ExchangesOnDifferentSocketsNeverInterleave) {
    std::atomic<uint64_t> sequence{0};
    FakeScannerOptions first = At("127.0.0.63");
    first.segmentSize = 4096;
    first.segmentPause = 1ms;
    first.sequence = &sequence;
    FakeScannerOptions second = At("127.0.0.64");
    second.sequence = &sequence;
    QZ417_START_SCANNER(imageScanner, first);
    QZ417_START_SCANNER(paramScanner, second);
    Connection imageLink(*imageScanner);
    Connection paramLink(*paramScanner);
    ASSERT_TRUE(imageLink.ok());
    ASSERT_TRUE(paramLink.ok());

    std::atomic<int> failures{0};
    std::thread images([&] {
        std::vector<uint8_t> image(wire::kImageSize);
        for (int i = 0; i < 2; ++i)
            failures += QZ417_GetImage(imageLink.fd(), image.data()) != 1;
    });
    std::thread params([&] {
        std::vector<uint8_t> config(wire::kConfigSize);
        for (int i = 0; i < 40; ++i)
            failures += QZ417_ReadParams(paramLink.fd(), config.data()) != 1;
    });
    images.join();
    params.join();
    EXPECT_EQ(failures, 0);

    std::vector<RecordedRequest> log = imageScanner->requests();
    const auto other = paramScanner->requests();
    log.insert(log.end(), other.begin(), other.end());
    std::sort(log.begin(), log.end(), [](const RecordedRequest &a, const RecordedRequest &b) {
        return a.sequence < b.sequence;
    });
    EXPECT_EQ(log.size(), 2u * 11 + 40);
    ExpectImagesUnbroken(log);
}

// True once thread `tid`, which has sent its request, waits in its receive
// for the reply (bounded: 2 s).
bool InItsReceive(long tid) {
    return qz417::test::WaitUntil([tid] { return qz417::test::ThreadSyscall(tid) == SYS_recvfrom; },
                                  2s);
}

TEST(LinkLock, DisconnectWakesAnExchangePendingInAnotherThread) {
    FakeScannerOptions options = At("127.0.0.65");
    options.silent = true;
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());
    const int32_t fd = connection.fd();

    std::vector<uint8_t> config(wire::kConfigSize);
    std::atomic<long> tid{0};
    auto pending = std::async(std::launch::async, [&] {
        tid = syscall(SYS_gettid);
        return QZ417_ReadParams(fd, config.data());
    });
    ASSERT_TRUE(scanner->waitForRequests(1, 2s));
    ASSERT_TRUE(InItsReceive(tid.load()));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connection.close(), 1);
    ASSERT_EQ(pending.wait_for(1s), std::future_status::ready) << "still waiting for its time-out";
    EXPECT_EQ(pending.get(), 0);
    EXPECT_LT(MillisecondsSince(start), 1000);
}

TEST(LinkLock, DisconnectNeverWaitsForAnExchangeOnAnotherSocket) {
    FakeScannerOptions silentOptions = At("127.0.0.67");
    silentOptions.silent = true;
    QZ417_START_SCANNER(silent, silentOptions);
    QZ417_START_SCANNER(other, At("127.0.0.68"));
    Connection silentLink(*silent);
    Connection otherLink(*other);
    ASSERT_TRUE(silentLink.ok());
    ASSERT_TRUE(otherLink.ok());

    std::vector<uint8_t> config(wire::kConfigSize);
    std::atomic<long> tid{0};
    auto pending = std::async(std::launch::async, [&] {
        tid = syscall(SYS_gettid);
        return QZ417_ReadParams(silentLink.fd(), config.data());
    });
    ASSERT_TRUE(silent->waitForRequests(1, 2s));
    ASSERT_TRUE(InItsReceive(tid.load()));

    const int32_t otherFd = otherLink.fd();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(otherLink.close(), 1);
    EXPECT_LT(MillisecondsSince(start), 50) << "waited for the exchange on the silent scanner";
    EXPECT_EQ(fcntl(otherFd, F_GETFD), -1) << "not closed on return";
    EXPECT_EQ(pending.wait_for(0ms), std::future_status::timeout)
        << "the exchange on the other socket was disturbed";

    EXPECT_EQ(silentLink.close(), 1);
    ASSERT_EQ(pending.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(pending.get(), 0);
}

void IgnoreSignal(int) {}

TEST(LinkLock, SignalsDuringAnExchangeDoNotFailIt) {
    struct sigaction action {};
    action.sa_handler = IgnoreSignal; // no SA_RESTART: blocking calls see EINTR
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    FakeScannerOptions options = At("127.0.0.66");
    options.stall = 400ms;
    QZ417_START_SCANNER(scanner, options);
    Connection connection(*scanner);
    ASSERT_TRUE(connection.ok());

    std::vector<uint8_t> config(wire::kConfigSize);
    std::promise<pthread_t> self;
    auto exchange = std::async(std::launch::async, [&] {
        self.set_value(pthread_self());
        return QZ417_ReadParams(connection.fd(), config.data());
    });
    const pthread_t worker = self.get_future().get();
    ASSERT_TRUE(scanner->waitForRequests(1, 2s));
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(30ms);
        pthread_kill(worker, SIGUSR1);
    }
    EXPECT_EQ(exchange.get(), 1);
    EXPECT_EQ(config[7], FakeScanner::ConfigByte(7));
    sigaction(SIGUSR1, &previous, nullptr);
}

} // namespace
