// qz417ctl's receiving thread at real-time priority: raised only for the
// lifetime of ReceivePriority and only on the thread that made it (the
// recorder's writer, started before, keeps its priority); without the
// permission nothing changes.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <future>
#include <thread>

#include "udp_receiver.h"

namespace qz417::ctl {
namespace {

struct Policy {
    int policy = -1;
    int priority = -1;
    bool operator==(const Policy &) const = default;
};

Policy PolicyOf(pthread_t thread) {
    Policy p;
    sched_param param{};
    if (pthread_getschedparam(thread, &p.policy, &param) == 0)
        p.priority = param.sched_priority;
    return p;
}

TEST(ReceivePriority, RaisesOnlyThisThreadForItsLifetime) {
    const Policy before = PolicyOf(pthread_self());
    // A thread started before, as the recorder's writer is.
    std::promise<void> done;
    std::thread other([f = done.get_future()]() mutable { f.wait(); });
    bool raised = false;
    {
        const ReceivePriority priority;
        raised = priority.raised();
        const Policy now = PolicyOf(pthread_self());
        if (raised) {
            EXPECT_EQ(now.policy, SCHED_FIFO);
            EXPECT_EQ(now.priority, sched_get_priority_max(SCHED_FIFO));
        } else {
            EXPECT_EQ(now, before);
        }
        EXPECT_EQ(PolicyOf(other.native_handle()), before);
    }
    EXPECT_EQ(PolicyOf(pthread_self()), before);
    done.set_value();
    other.join();
    if (!raised)
        GTEST_SKIP() << "this process may not set real-time priority; checked that nothing changed";
}

} // namespace
} // namespace qz417::ctl
