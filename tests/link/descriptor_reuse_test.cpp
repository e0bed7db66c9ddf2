// A disconnect of the socket an exchange is working on must not free the
// descriptor number while that exchange may still call on it: a connection
// opened meanwhile would get the same number and the rest of the exchange.
//
// This program replaces send() for the whole process (the library's calls
// resolve to the executable's definition first), so that the test can act
// at a chosen point between two calls of an exchange.
#include "scanner_fixture.h"

#include "qz417link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <dlfcn.h>
#include <functional>
#include <future>
#include <sys/socket.h>
#include <thread>
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
    // Whatever number it got, nothing of the first scanner's exchange reached the second.
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(second->requests().empty()) << second->requests().size() << " stray requests";
    EXPECT_EQ(QZ417_Disconnect(reconnected), 1);
    hook = nullptr;
}

} // namespace
