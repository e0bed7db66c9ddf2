// The worker threads and their request service against emulated scanners on
// loopback: starting, stopping, failing, and a start right after a stop.
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/app_state.h"
#include "core/thread_owner.h"
#include "core/worker_threads.h"
#include "emulator.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using qz417::test::WaitUntil;

DeviceAnnouncement Node(int k) {
    DeviceAnnouncement node{};
    node.type = QZ417_TYPE_CODE;
    node.ip[0] = 127;
    node.ip[3] = static_cast<std::uint8_t>(k + 1);
    return node;
}

struct Counting {
    std::atomic<int> configReads{0};
    std::atomic<int> images{0};
    std::atomic<int> starts{0};
    std::atomic<int> results{0};
    qz417::WorkerHooks hooks() {
        qz417::WorkerHooks h;
        h.configRead = [this] { ++configReads; };
        h.imageFetched = [this] { ++images; };
        h.recordingStart = [this] { ++starts; };
        h.resultFetched = [this](const std::uint8_t *) { ++results; };
        return h;
    }
};

struct TestRun {
    qz417::WorkerRun run;
    explicit TestRun(qz417::WorkerHooks hooks)
        : run{std::make_shared<qz417::ManualResetEvent>(true),
              std::make_shared<qz417::ManualResetEvent>(false), std::move(hooks), nullptr} {}
};

class WorkerProtocol : public ::testing::Test {
protected:
    void SetUp() override {
        qz417::ResetAppState();
        qz417::sim::EmulatorOptions options;
        options.count = 1;
        options.announceIntervalMs = 0;
        emulator_ = std::make_unique<qz417::sim::Emulator>(options);
        std::string error;
        if (!emulator_->start(&error))
            GTEST_SKIP() << "the emulated scanner cannot listen: " << error;
        const DeviceAnnouncement node = Node(0);
        DeviceSocket = QZ417_Connect(&node);
        ASSERT_GT(DeviceSocket.load(), 0);
    }
    void TearDown() override {
        owner_.stopAll();
        EXPECT_TRUE(owner_.joinAll(10s));
        QZ417_Disconnect(DeviceSocket.exchange(-1));
        if (emulator_)
            emulator_->stop();
        qz417::ResetAppState();
    }
    void Start(int (*proc)(const qz417::WorkerRun &), const qz417::WorkerRun &run) {
        ASSERT_TRUE(owner_.start(qz417::ThreadParams{1024, false}, run.runEvent,
                                 [proc, run] { proc(run); }));
    }

    std::unique_ptr<qz417::sim::Emulator> emulator_;
    qz417::ThreadOwner owner_;
};

TEST_F(WorkerProtocol, ResultWorkerCountsUntilStoppedAndKeepsTheConnection) {
    Counting counting;
    TestRun r(counting.hooks());
    Start(&qz417::ResultThreadProc, r.run);
    ASSERT_TRUE(
        WaitUntil([] { return WorkerMode.load() == kModeResult && AcquiredCount >= 5; }, 5s));
    EXPECT_EQ(counting.starts.load(), 1);
    r.run.runEvent->reset();
    ASSERT_TRUE(r.run.doneEvent->wait(5s));
    ASSERT_TRUE(owner_.joinAll(5s));
    // Every counted result was handed to the recording step first.
    EXPECT_EQ(counting.results.load(), AcquiredCount.load());
    EXPECT_GT(DeviceSocket.load(), 0);
    EXPECT_GT(ResultPacket.sequence(), 0u);
}

TEST_F(WorkerProtocol, RequestsAreServedInOrderBeforeTheNextResult) {
    Counting counting;
    auto edited = DeviceConfig.read();
    edited.setLaserLevel(12);
    DeviceConfig.write(edited);
    RequestWriteParams = 1;
    RequestReadParams = 1;
    TestRun r(counting.hooks());
    Start(&qz417::ResultThreadProc, r.run);
    ASSERT_TRUE(WaitUntil([&] { return counting.images.load() >= 1 && AcquiredCount >= 1; }, 5s));
    r.run.runEvent->reset();
    ASSERT_TRUE(r.run.doneEvent->wait(5s));
    // The write reached the scanner before the read brought the block back.
    EXPECT_EQ(emulator_->config(0)[0], 12);
    EXPECT_EQ(DeviceConfig.read().laserLevel(), 12);
    EXPECT_EQ(counting.configReads.load(), 1);
    EXPECT_EQ(RequestWriteParams.load(), 0);
    EXPECT_EQ(RequestReadParams.load(), 0);
    EXPECT_EQ(RequestImage.load(), 0); // the read's image was fetched in the same pass
    EXPECT_EQ(emulator_->commandsServed(0, 2), 1u);
}

TEST_F(WorkerProtocol, ImageWorkerFetchesAndDrawsEveryPass) {
    Counting counting;
    TestRun r(counting.hooks());
    Start(&qz417::ImageThreadProc, r.run);
    ASSERT_TRUE(
        WaitUntil([] { return WorkerMode.load() == kModeImage && AcquiredCount >= 3; }, 5s));
    r.run.runEvent->reset();
    ASSERT_TRUE(r.run.doneEvent->wait(5s));
    ASSERT_TRUE(owner_.joinAll(5s));
    EXPECT_EQ(counting.images.load(), AcquiredCount.load());
    EXPECT_EQ(counting.results.load(), 0);
}

TEST_F(WorkerProtocol, ResultWorkerWithoutConnectionEndsAtOnce) {
    QZ417_Disconnect(DeviceSocket.exchange(-1));
    Counting counting;
    TestRun r(counting.hooks());
    const auto t0 = Clock::now();
    Start(&qz417::ResultThreadProc, r.run);
    ASSERT_TRUE(r.run.doneEvent->wait(2s));
    EXPECT_LT(Clock::now() - t0, 1s);
    EXPECT_EQ(DeviceSocket.load(), -1);
    EXPECT_EQ(counting.results.load(), 0);
    EXPECT_EQ(AcquiredCount.load(), 0);
}

TEST_F(WorkerProtocol, ScannerThatGoesAwayEndsTheWorkerAndClosesTheConnection) {
    TestRun r(qz417::WorkerHooks{});
    Start(&qz417::ResultThreadProc, r.run);
    ASSERT_TRUE(WaitUntil([] { return AcquiredCount >= 3; }, 5s));
    emulator_->stop();
    ASSERT_TRUE(r.run.doneEvent->wait(5s));
    EXPECT_TRUE(r.run.runEvent->isSet()); // it ended without being asked to
    EXPECT_EQ(DeviceSocket.load(), -1);
}

TEST_F(WorkerProtocol, StartRightAfterStopKeepsTheTwoThreadsApart) {
    TestRun first(qz417::WorkerHooks{});
    Start(&qz417::ResultThreadProc, first.run);
    ASSERT_TRUE(WaitUntil([] { return AcquiredCount >= 2; }, 5s));
    first.run.runEvent->reset();
    TestRun second(qz417::WorkerHooks{});
    Start(&qz417::ResultThreadProc, second.run);

    ASSERT_TRUE(first.run.doneEvent->wait(5s));
    // The first thread's end says nothing about the second one.
    EXPECT_FALSE(second.run.doneEvent->isSet());
    const std::uint16_t before = AcquiredCount.load();
    ASSERT_TRUE(WaitUntil([&] { return AcquiredCount.load() != before; }, 5s));
    EXPECT_EQ(WorkerMode.load(), kModeResult);
    EXPECT_FALSE(second.run.doneEvent->isSet());
    EXPECT_GT(DeviceSocket.load(), 0);

    second.run.runEvent->reset();
    EXPECT_TRUE(second.run.doneEvent->wait(5s));
}

TEST_F(WorkerProtocol, FailedWriteLeavesLaterRequestsRaised) {
    QZ417_Disconnect(DeviceSocket.exchange(-1));
    RequestWriteParams = 1;
    RequestReadParams = 1;
    RequestFlushParams = 1;
    int reads = 0;
    std::int32_t failed = 0;
    EXPECT_FALSE(qz417::ServiceRequests([&] { ++reads; }, &failed));
    EXPECT_EQ(failed, -1);
    EXPECT_EQ(RequestWriteParams.load(), 0); // cleared before its transfer: lost
    EXPECT_EQ(RequestReadParams.load(), 1);
    EXPECT_EQ(RequestFlushParams.load(), 1);
    EXPECT_EQ(reads, 0);
}

TEST_F(WorkerProtocol, DropConnectionLeavesANewerConnectionAlone) {
    const std::int32_t old = DeviceSocket.load();
    const DeviceAnnouncement node = Node(0);
    const std::int32_t newer = QZ417_Connect(&node);
    ASSERT_GT(newer, 0);
    DeviceSocket = newer;
    qz417::DropConnection(old); // a stale worker failing on the old handle
    EXPECT_EQ(DeviceSocket.load(), newer);
    qz417::DropConnection(newer);
    EXPECT_EQ(DeviceSocket.load(), -1);
    QZ417_Disconnect(old);
}

TEST(UdpWorker, PortThatCannotBeBoundEndsAtOnceWithoutAMode) {
    qz417::ResetAppState();
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = 0;
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ::getsockname(holder, reinterpret_cast<sockaddr *>(&addr), &len);
    UdpPort = ntohs(addr.sin_port);

    std::atomic<int> failedPort{-1};
    std::atomic<int> failedError{0};
    qz417::WorkerHooks hooks;
    hooks.udpPortFailed = [&](std::uint16_t port, int error) {
        failedPort = port;
        failedError = error;
    };
    TestRun r(std::move(hooks));
    qz417::ThreadOwner owner;
    ASSERT_TRUE(owner.start(qz417::ThreadParams{1024, true}, r.run.runEvent,
                            [run = r.run] { qz417::UdpResultThreadProc(run); }));
    EXPECT_TRUE(r.run.doneEvent->wait(2s));
    EXPECT_TRUE(owner.joinAll(2s));
    EXPECT_EQ(WorkerMode.load(), 0);
    EXPECT_TRUE(r.run.runEvent->isSet()); // not closed by a worker that never ran
    // The window is told which port and why.
    EXPECT_EQ(failedPort.load(), UdpPort.load());
    EXPECT_EQ(failedError.load(), EADDRINUSE);
    ::close(holder);
}

// Sends one 4100-byte datagram with the given measurement counter to a port on 127.0.0.1.
void SendPacket(std::uint16_t port, std::uint16_t measurementCount) {
    std::array<std::uint8_t, QZ417_PACKET_SIZE> packet{};
    packet[0] = static_cast<std::uint8_t>(measurementCount);
    packet[1] = static_cast<std::uint8_t>(measurementCount >> 8);
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    ::sendto(s, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    ::close(s);
}

// A worker counts as ended only once its port is free: the window starts a
// new worker on the same port as soon as the old one has ended. Both threads
// share one CPU, so that the waiting thread, woken by the event, runs before
// the worker's next step.
TEST(UdpWorker, HasFreedItsPortWhenItCountsAsEnded) {
    qz417::ResetAppState();
    cpu_set_t all;
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof all, &all), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof one, &one), 0);

    constexpr int kRounds = 400;
    int busy = 0;
    for (int round = 0; round < kRounds; ++round) {
        const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        socklen_t len = sizeof addr;
        ::getsockname(probe, reinterpret_cast<sockaddr *>(&addr), &len);
        ::close(probe);
        UdpPort = ntohs(addr.sin_port);

        WorkerMode = kModeIdle;
        TestRun r(qz417::WorkerHooks{});
        qz417::ThreadOwner owner; // the worker inherits the single CPU
        ASSERT_TRUE(owner.start(qz417::ThreadParams{1024, false}, r.run.runEvent,
                                [run = r.run] { qz417::UdpResultThreadProc(run); }));
        ASSERT_TRUE(WaitUntil([] { return WorkerMode.load() == kModeUdp; }, 2s)); // bound
        r.run.runEvent->reset();
        SendPacket(UdpPort.load(), 1); // ends its wait for a datagram at once
        ASSERT_TRUE(r.run.doneEvent->wait(2s));
        const int next = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (::bind(next, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
            ++busy;
        ::close(next);
        EXPECT_TRUE(owner.joinAll(2s));
    }
    pthread_setaffinity_np(pthread_self(), sizeof all, &all);
    EXPECT_EQ(busy, 0) << "of " << kRounds << " ended workers still held their port";
    qz417::ResetAppState();
}

// A UDP worker started while a search holds the view leaves the mode and
// the search's counters alone, and its datagrams reach ResultPacket only
// while the window lets it publish.
TEST(UdpWorker, BehindAnotherThreadKeepsOffTheModeAndPublishesOnlyWhenLet) {
    qz417::ResetAppState();
    UdpPort = 6003;
    WorkerMode = kModeSearch;
    WorkerStartTicks = 1234;
    TestRun r(qz417::WorkerHooks{});
    r.run.publishes = std::make_shared<std::atomic<bool>>(false);
    qz417::ThreadOwner owner;
    ASSERT_TRUE(owner.start(qz417::ThreadParams{1024, true}, r.run.runEvent,
                            [run = r.run] { qz417::UdpResultThreadProc(run); }));
    ASSERT_TRUE(WaitUntil([] { return qz417::test::UdpPortBound(6003); }, 3s));
    const std::uint64_t before = ResultPacket.sequence();
    // 20 datagrams, each read by the worker before the next is sent (the
    // worker is this namespace's only UDP reader). It handles a datagram
    // before it reads the next, so once it has read a 21st the 20 are
    // handled: none may have been published.
    const std::uint64_t read = qz417::test::UdpDatagramsRead();
    for (std::uint64_t i = 1; i <= 21; ++i) {
        SendPacket(6003, 7);
        ASSERT_TRUE(WaitUntil([&] { return qz417::test::UdpDatagramsRead() >= read + i; }, 3s))
            << "datagram " << i << " was not read";
    }
    EXPECT_EQ(ResultPacket.sequence(), before);
    EXPECT_EQ(WorkerMode.load(), kModeSearch);
    EXPECT_EQ(WorkerStartTicks.load(), 1234u);

    *r.run.publishes = true;
    EXPECT_TRUE(WaitUntil(
        [] {
            SendPacket(6003, 9);
            return ResultPacket.sequence() > 0;
        },
        3s));
    r.run.runEvent->reset();
    EXPECT_TRUE(r.run.doneEvent->wait(2s));
    EXPECT_TRUE(owner.joinAll(2s));
    EXPECT_EQ(WorkerMode.load(), kModeSearch);
    qz417::ResetAppState();
}

} // namespace
