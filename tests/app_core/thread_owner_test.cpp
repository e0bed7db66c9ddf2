// Threads as the program creates them: stack floor, priority, stop and join.
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "core/thread_owner.h"
#include "wait.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Uses about 128 KiB of stack, far beyond the 1024 bytes a worker asks for.
__attribute__((noinline)) int UseStack() {
    volatile char block[128 * 1024];
    std::memset(const_cast<char *>(block), 1, sizeof block);
    int sum = 0;
    for (std::size_t i = 0; i < sizeof block; i += 4096)
        sum += block[i];
    return sum;
}

TEST(ThreadOwner, StackIsRaisedToTheFloor) {
    EXPECT_EQ(qz417::EffectiveStackBytes(1024), qz417::kMinStackBytes);
    EXPECT_EQ(qz417::EffectiveStackBytes(8192), qz417::kMinStackBytes);
    EXPECT_EQ(qz417::EffectiveStackBytes(4u << 20), 4u << 20);
    EXPECT_GE(qz417::EffectiveStackBytes(0), static_cast<std::size_t>(PTHREAD_STACK_MIN));
}

TEST(ThreadOwner, SmallRequestedStackStillRunsLibraryCode) {
    qz417::ThreadOwner owner;
    std::atomic<int> result{0};
    std::size_t stack = 0;
    ASSERT_TRUE(owner.start(qz417::ThreadParams{1024, false}, nullptr, [&] {
        pthread_attr_t attr;
        pthread_getattr_np(pthread_self(), &attr);
        pthread_attr_getstacksize(&attr, &stack);
        pthread_attr_destroy(&attr);
        result = UseStack();
    }));
    EXPECT_TRUE(owner.joinAll(5s));
    EXPECT_EQ(result.load(), 32);
    EXPECT_GE(stack, qz417::kMinStackBytes);
}

TEST(ThreadOwner, TimeCriticalUsesRealTimeWherePermitted) {
    qz417::ThreadOwner owner;
    qz417::ManualResetEvent go;
    int policy = -1;
    ASSERT_TRUE(owner.start(qz417::ThreadParams{1024, true}, nullptr, [&] {
        go.wait(5s); // the priority is raised after creation
        sched_param p{};
        pthread_getschedparam(pthread_self(), &policy, &p);
    }));
    const bool realTime = owner.lastWasRealTime();
    go.set();
    ASSERT_TRUE(owner.joinAll(5s));
    EXPECT_EQ(policy, realTime ? SCHED_FIFO : SCHED_OTHER);
}

TEST(ThreadOwner, StopAllResetsEveryRunEventAndJoinAllAwaits) {
    qz417::ThreadOwner owner;
    auto run1 = std::make_shared<qz417::ManualResetEvent>(true);
    auto run2 = std::make_shared<qz417::ManualResetEvent>(true);
    std::atomic<int> ended{0};
    for (auto run : {run1, run2})
        ASSERT_TRUE(owner.start(qz417::ThreadParams{1024, false}, run, [run, &ended] {
            for (int i = 0; i < 5000 && run->wait(1ms); ++i)
                std::this_thread::sleep_for(1ms); // runs until stopped, 5 s at most
            ++ended;
        }));
    EXPECT_EQ(owner.running(), 2u);
    owner.stopAll();
    EXPECT_FALSE(run1->isSet());
    EXPECT_FALSE(run2->isSet());
    EXPECT_TRUE(owner.joinAll(5s));
    EXPECT_EQ(ended.load(), 2);
    EXPECT_EQ(owner.count(), 0u);
}

TEST(ThreadOwner, JoinAllIsBoundedForAThreadThatIgnoresTheStop) {
    qz417::ThreadOwner owner;
    auto release = std::make_shared<qz417::ManualResetEvent>();
    auto finished = std::make_shared<qz417::ManualResetEvent>();
    ASSERT_TRUE(owner.start(qz417::ThreadParams{}, nullptr, [release, finished] {
        release->wait(10s);
        finished->set();
    }));
    const auto t0 = Clock::now();
    EXPECT_FALSE(owner.joinAll(100ms));
    EXPECT_LT(Clock::now() - t0, 1s);
    release->set(); // the detached thread ends on its own
    EXPECT_TRUE(finished->wait(5s));
}

TEST(ThreadOwner, FinishedThreadsAreJoinedOnTheNextStart) {
    qz417::ThreadOwner owner;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(owner.start(qz417::ThreadParams{}, nullptr, [] {}));
        ASSERT_TRUE(qz417::test::WaitUntil([&] { return owner.running() == 0; }, 2s));
    }
    EXPECT_LE(owner.count(), 2u);
    EXPECT_TRUE(owner.joinAll(5s));
}

} // namespace
