// The manual-reset event that starts, stops and announces the end of threads.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "core/manual_reset_event.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(ManualResetEvent, WaitTimesOutWhileNotSignalled) {
    qz417::ManualResetEvent e;
    const auto t0 = Clock::now();
    EXPECT_FALSE(e.wait(20ms));
    EXPECT_GE(Clock::now() - t0, 19ms);
    EXPECT_FALSE(e.isSet());
}

TEST(ManualResetEvent, StaysSignalledForEveryWaiterUntilReset) {
    qz417::ManualResetEvent e(true);
    for (int i = 0; i < 3; ++i) {
        const auto t0 = Clock::now();
        EXPECT_TRUE(e.wait(1s));
        EXPECT_LT(Clock::now() - t0, 100ms); // returns at once on a signalled event
    }
    e.reset();
    EXPECT_FALSE(e.wait(1ms));
    e.set();
    e.set(); // setting twice is the same as once
    EXPECT_TRUE(e.isSet());
    e.reset();
    EXPECT_FALSE(e.isSet());
}

TEST(ManualResetEvent, SetFromAnotherThreadWakesAllWaiters) {
    qz417::ManualResetEvent e;
    bool woke1 = false;
    bool woke2 = false;
    std::atomic<long> tid1{0}, tid2{0};
    std::thread w1([&] {
        tid1 = ::syscall(SYS_gettid);
        woke1 = e.wait(5s);
    });
    std::thread w2([&] {
        tid2 = ::syscall(SYS_gettid);
        woke2 = e.wait(5s);
    });
    // Both wait (asleep in a futex) before the event is set.
    const auto waiting = [](const std::atomic<long> &tid) {
        return tid.load() != 0 && qz417::test::ThreadSyscall(tid.load()) == SYS_futex;
    };
    EXPECT_TRUE(qz417::test::WaitUntil([&] { return waiting(tid1) && waiting(tid2); }, 2s));
    const auto t0 = Clock::now();
    e.set();
    w1.join();
    w2.join();
    EXPECT_TRUE(woke1);
    EXPECT_TRUE(woke2);
    EXPECT_LT(Clock::now() - t0, 1s);
}

} // namespace
