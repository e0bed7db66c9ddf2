// A disconnect of the socket an exchange is working on, or waiting for
// LinkLock to work on, must not free the descriptor number while that
// exchange may still call on it: a connection opened meanwhile would get the
// same number and the rest of the exchange. A disconnect touches only
// sockets the library opened, and reports whether it closed.
//
// This program replaces send() for the whole process (the library's calls
// resolve to the executable's definition first), so that the test can act
// at a chosen point between two calls of an exchange.
#include "loopback_peers.h"
#include "scanner_fixture.h"
#include "wait.h"

#include "qz417link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using qz417::test::FakeScannerOptions;
using namespace std::chrono_literals;

namespace {

std::atomic<int> watchedFd{-1};
std::atomic<int> watchedSends{0};
int hookAtSend = 0;         // the hook runs before this send on watchedFd (1 = first)
std::function<void()> hook; // set before watching, cleared after
std::atomic<bool> hookRan{false};

} // namespace

extern "C" ssize_t send(int fd, const void *data, size_t size, int flags) {
    using Send = ssize_t (*)(int, const void *, size_t, int);
    static const Send real = reinterpret_cast<Send>(dlsym(RTLD_NEXT, "send"));
    if (fd == watchedFd.load() && ++watchedSends == hookAtSend) {
        watchedFd = -1;
        hook();
        hookRan = true;
    }
    return real(fd, data, size, flags);
}

namespace {

FakeScannerOptions At(const char *address) {
    FakeScannerOptions options;
    options.address = address;
    return options;
}

TEST(DescriptorReuse, NumberStaysTakenUntilTheExchangeOnItHasLeft) {
    QZ417_START_SCANNER(first, At("127.0.0.74"));
    QZ417_START_SCANNER(second, At("127.0.0.75"));
    const DeviceAnnouncement firstDevice = first->announcement();
    const int32_t fd = QZ417_Connect(&firstDevice);
    ASSERT_GT(fd, 0);

    // Between the first and the second image chunk request: disconnect from
    // another thread, give it time to return, then open a connection to the
    // second scanner, which takes the lowest free number, `fd` if it is free.
    std::future<int32_t> disconnect;
    int32_t reconnected = -1;
    const DeviceAnnouncement secondDevice = second->announcement();
    hookAtSend = 3; // command 2, chunk 0, then chunk 1
    hook = [&] {
        disconnect = std::async(std::launch::async, [fd] { return QZ417_Disconnect(fd); });
        disconnect.wait_for(300ms);
        reconnected = QZ417_Connect(&secondDevice);
    };
    watchedSends = 0;
    watchedFd = fd;

    std::vector<uint8_t> image(327680);
    EXPECT_EQ(QZ417_GetImage(fd, image.data()), 0) << "the exchange survived its disconnect";
    watchedFd = -1;
    ASSERT_TRUE(hookRan);
    ASSERT_EQ(disconnect.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(disconnect.get(), 1);
    ASSERT_GT(reconnected, 0);
    EXPECT_NE(reconnected, fd) << "the number was given out again while the exchange used it";
    // Whatever number it got, nothing of the first scanner's exchange reached
    // the second: a whole exchange on the new connection is the first and
    // only request the second scanner sees.
    std::vector<uint8_t> packet(4100);
    EXPECT_EQ(QZ417_GetResult(reconnected, packet.data()), 1);
    const auto requests = second->requests();
    EXPECT_EQ(requests.size(), 1u) << "stray requests before the new connection's own";
    if (!requests.empty()) {
        EXPECT_EQ(requests.back().header.command, 1u);
    }
    EXPECT_EQ(QZ417_Disconnect(reconnected), 1);
    hook = nullptr;
}

// True once thread `tid` of this process sleeps in a futex wait, which is
// where an exchange waits for LinkLock (bounded: 2 s).
bool WaitUntilBlockedInFutex(pid_t tid) {
    return qz417::test::WaitUntil([tid] { return qz417::test::ThreadSyscall(tid) == SYS_futex; },
                                  2s);
}

// Opens /dev/null until the lowest free descriptor is `wanted`, so that the
// next socket the system creates gets that number. Returns the fillers.
std::vector<int> MakeLowestFree(int wanted) {
    std::vector<int> fillers;
    for (int i = 0; i < wanted; ++i) {
        const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            break;
        if (fd == wanted) {
            close(fd);
            break;
        }
        fillers.push_back(fd);
    }
    return fillers;
}

TEST(DescriptorReuse, ExchangeWaitingForTheLockNeverReachesTheConnectionThatReusesItsNumber) {
    FakeScannerOptions holding = At("127.0.0.76");
    holding.stall = 3s; // keeps LinkLock taken until released
    QZ417_START_SCANNER(holder, holding);
    QZ417_START_SCANNER(first, At("127.0.0.77"));
    QZ417_START_SCANNER(second, At("127.0.0.78"));
    const DeviceAnnouncement holderDevice = holder->announcement();
    const DeviceAnnouncement firstDevice = first->announcement();
    const DeviceAnnouncement secondDevice = second->announcement();
    const int32_t holderFd = QZ417_Connect(&holderDevice);
    const int32_t fd = QZ417_Connect(&firstDevice);
    ASSERT_GT(holderFd, 0);
    ASSERT_GT(fd, 0);

    std::vector<uint8_t> block(512);
    auto holding_exchange =
        std::async(std::launch::async, [&] { return QZ417_ReadParams(holderFd, block.data()); });
    ASSERT_TRUE(holder->waitForRequests(1, 2s)); // LinkLock is taken

    // An exchange on `fd` queues behind it.
    std::atomic<pid_t> waiterTid{0};
    std::vector<uint8_t> packet(4100);
    auto waiting = std::async(std::launch::async, [&] {
        waiterTid = static_cast<pid_t>(syscall(SYS_gettid));
        return QZ417_GetResult(fd, packet.data());
    });
    ASSERT_TRUE(qz417::test::WaitUntil([&] { return waiterTid.load() != 0; }, 2s));
    ASSERT_TRUE(WaitUntilBlockedInFutex(waiterTid.load()));

    // Its socket is closed meanwhile, and a new connection gets the number.
    auto disconnect = std::async(std::launch::async, [fd] { return QZ417_Disconnect(fd); });
    ASSERT_EQ(disconnect.wait_for(2s), std::future_status::ready)
        << "the disconnect waited for the exchange holding the lock";
    EXPECT_EQ(disconnect.get(), 1);
    // The peers' threads may free numbers of their own meanwhile: a few tries.
    int32_t reconnected = -1;
    for (int attempt = 0; attempt < 20 && reconnected != fd; ++attempt) {
        if (reconnected > 0) {
            QZ417_Disconnect(reconnected);
            std::this_thread::sleep_for(10ms);
        }
        const std::vector<int> fillers = MakeLowestFree(fd);
        reconnected = QZ417_Connect(&secondDevice);
        for (const int filler : fillers)
            close(filler);
    }
    ASSERT_EQ(reconnected, fd) << "the test could not hand the number out again";

    holder->releaseStall();
    ASSERT_EQ(waiting.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 0) << "the queued exchange ran after its socket was closed";
    ASSERT_EQ(holding_exchange.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(holding_exchange.get(), 1);
    EXPECT_TRUE(first->requests().empty());

    // The new connection is whole, and its own exchange is the first request
    // the second scanner sees: the queued exchange never reached it.
    EXPECT_EQ(QZ417_GetResult(reconnected, packet.data()), 1);
    const auto requests = second->requests();
    EXPECT_EQ(requests.size(), 1u) << "the queued exchange reached the new connection";
    if (!requests.empty()) {
        EXPECT_EQ(requests.back().header.command, 1u);
    }
    EXPECT_EQ(QZ417_Disconnect(reconnected), 1);
    EXPECT_EQ(QZ417_Disconnect(holderFd), 1);
}

TEST(DescriptorReuse, DisconnectTouchesOnlySocketsTheLibraryOpened) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    errno = 0;
    EXPECT_EQ(QZ417_Disconnect(pair[0]), 0);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(QZ417_UDP_Disconnect(pair[0]), 0);
    // Neither shut down nor closed: the pair still carries data both ways.
    const char byte = 'x';
    char got = 0;
    ASSERT_EQ(write(pair[0], &byte, 1), 1);
    ASSERT_EQ(read(pair[1], &got, 1), 1);
    ASSERT_EQ(write(pair[1], &byte, 1), 1);
    ASSERT_EQ(read(pair[0], &got, 1), 1);
    // A caller's own connection still serves exchanges (the library only
    // never closes it).
    std::vector<uint8_t> block(512, 0x5A);
    EXPECT_EQ(QZ417_WriteParams(pair[0], block.data()), 1);
    std::vector<uint8_t> sent(8 + 512);
    EXPECT_EQ(recv(pair[1], sent.data(), sent.size(), MSG_WAITALL),
              static_cast<ssize_t>(sent.size()));
    EXPECT_EQ(sent.back(), 0x5A);
    close(pair[0]);
    close(pair[1]);

    // A handle closed once is no longer the library's.
    QZ417_START_SCANNER(scanner, At("127.0.0.79"));
    const DeviceAnnouncement device = scanner->announcement();
    const int32_t fd = QZ417_Connect(&device);
    ASSERT_GT(fd, 0);
    EXPECT_EQ(QZ417_Disconnect(fd), 1);
    EXPECT_EQ(QZ417_Disconnect(fd), 0);
    const int32_t udp = QZ417_UDP_Connect(0);
    ASSERT_GT(udp, 0);
    EXPECT_EQ(QZ417_UDP_Disconnect(udp), 1);
    EXPECT_EQ(QZ417_UDP_Disconnect(udp), 0);
}

TEST(DescriptorReuse, DisconnectThatCouldNotCloseReportsFailure) {
    QZ417_START_SCANNER(scanner, At("127.0.0.80"));
    const DeviceAnnouncement device = scanner->announcement();
    const int32_t fd = QZ417_Connect(&device);
    ASSERT_GT(fd, 0);

    // Inside the exchange, before its first send, the same thread disconnects:
    // the exchange cannot leave while the disconnect waits for it, so the
    // disconnect gives up after its time-out (4 s) and must say so.
    int32_t disconnected = -1;
    int error = 0;
    hookAtSend = 1;
    hook = [&] {
        disconnected = QZ417_Disconnect(fd);
        error = errno;
    };
    hookRan = false;
    watchedSends = 0;
    watchedFd = fd;
    std::vector<uint8_t> packet(4100);
    EXPECT_EQ(QZ417_GetResult(fd, packet.data()), 0);
    watchedFd = -1;
    ASSERT_TRUE(hookRan);
    EXPECT_EQ(disconnected, 0) << "reported closed while the socket stayed open";
    EXPECT_EQ(error, EBUSY);
    // The exchange closed the descriptor as it left.
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    EXPECT_TRUE(scanner->requests().empty());
    hook = nullptr;
}

} // namespace
