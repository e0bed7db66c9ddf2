#include "model/thread_weight.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace qz417::modeltest {
namespace {

int NiceOf(pid_t tid) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    EXPECT_EQ(errno, 0);
    return nice;
}

// Whether this process may lower a nice value (root, CAP_SYS_NICE or an
// RLIMIT_NICE that allows it): asked of a thread of its own, thrown away.
bool MayLower(int nice) {
    bool may = false;
    std::thread([&] {
        may = setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice) == 0;
    }).join();
    return may;
}

TEST(ThreadWeight, RaisesTheCallingThreadAloneOrReportsThatItCannot) {
    const pid_t main = gettid();
    const int before = NiceOf(main);
    const bool may = MayLower(kStreamWorkerNice);
    bool raised = false;
    int inside = 0;
    std::thread([&] {
        raised = RaiseThreadWeight();
        inside = NiceOf(gettid());
    }).join();
    EXPECT_EQ(raised, may || before <= kStreamWorkerNice);
    if (raised)
        EXPECT_LE(inside, kStreamWorkerNice);
    else
        EXPECT_EQ(inside, before);
    // The thread that called it alone: this one keeps its own value.
    EXPECT_EQ(NiceOf(main), before);
}

TEST(ThreadWeight, NeverLowersAThreadsWeight) {
    // A thread already at a lower nice value (a larger share) keeps it.
    if (!MayLower(-15))
        GTEST_SKIP() << "this process may not lower a nice value";
    int after = 0;
    bool raised = false;
    std::thread([&] {
        ASSERT_EQ(setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -15), 0);
        raised = RaiseThreadWeight(-10);
        after = NiceOf(gettid());
    }).join();
    EXPECT_TRUE(raised);
    EXPECT_EQ(after, -15);
}

} // namespace
} // namespace qz417::modeltest
