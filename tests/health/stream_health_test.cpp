// Lost and out-of-order profiles from the packet counter of a UDP stream.
#include <gtest/gtest.h>

#include <initializer_list>

#include "health/stream_health.h"

namespace qz417 {
namespace {

struct Counts {
    std::uint64_t lost() const { return lostCount; }
    std::uint64_t outOfOrder() const { return outOfOrderCount; }
    std::uint64_t received() const { return receivedCount; }
    std::uint64_t lostCount, outOfOrderCount, receivedCount;
};

Counts Feed(std::initializer_list<int> counters) {
    StreamHealth h;
    for (int c : counters)
        h.Observe(static_cast<std::uint16_t>(c));
    return {h.lost(), h.outOfOrder(), h.received()};
}

TEST(StreamHealth, GapsCountTheirSizeAcrossTheWrap) {
    EXPECT_EQ(Feed({5, 6, 7, 8}).lost(), 0u);
    EXPECT_EQ(Feed({5, 6, 9, 10}).lost(), 2u);
    // 65535 -> 0 is one step forward, not a gap and not a step back.
    const Counts wrap = Feed({65534, 65535, 0, 1});
    EXPECT_EQ(wrap.lost(), 0u);
    EXPECT_EQ(wrap.outOfOrder(), 0u);
    EXPECT_EQ(Feed({65534, 2}).lost(), 3u); // 65535, 0, 1
    // The first packet starts the count whatever its value.
    EXPECT_EQ(Feed({40000}).lost(), 0u);
    EXPECT_EQ(Feed({40000}).received(), 1u);
}

TEST(StreamHealth, LateArrivalsFillTheirGapAndCountAsOutOfOrder) {
    const Counts swapped = Feed({1, 2, 4, 3, 5});
    EXPECT_EQ(swapped.lost(), 0u);
    EXPECT_EQ(swapped.outOfOrder(), 1u);
    const Counts late = Feed({10, 11, 15, 12, 16}); // 13, 14 never come
    EXPECT_EQ(late.lost(), 2u);
    EXPECT_EQ(late.outOfOrder(), 1u);
    // Late across the wrap.
    const Counts wrapped = Feed({65534, 0, 65535, 1});
    EXPECT_EQ(wrapped.lost(), 0u);
    EXPECT_EQ(wrapped.outOfOrder(), 1u);
    // A duplicate is out of order but fills nothing.
    const Counts dup = Feed({1, 3, 3, 1});
    EXPECT_EQ(dup.lost(), 1u);
    EXPECT_EQ(dup.outOfOrder(), 2u);
    EXPECT_EQ(dup.received(), 4u);
}

TEST(StreamHealth, ACounterFarBehindIsARestartNotALoss) {
    StreamHealth h;
    for (int c = 30000; c < 30010; ++c)
        h.Observe(static_cast<std::uint16_t>(c));
    h.Observe(0); // the scanner started again
    h.Observe(1);
    h.Observe(3);
    EXPECT_EQ(h.lost(), 1u); // only 2
    EXPECT_EQ(h.outOfOrder(), 0u);
    // A late packet beyond the window is not taken for a gap filler.
    StreamHealth far;
    for (int c = 0; c < 200; c += 2)
        far.Observe(static_cast<std::uint16_t>(c)); // 99 gaps of one
    EXPECT_EQ(far.lost(), 99u);
    far.Observe(3); // 195 behind: a restart
    far.Observe(4);
    EXPECT_EQ(far.lost(), 99u);
}

TEST(StreamHealth, OneStalePacketIsLateAndARestartIsCounted) {
    // A packet 100 behind alone: late, and nothing added to the lost count.
    StreamHealth stale;
    for (int c = 0; c <= 200; ++c)
        stale.Observe(static_cast<std::uint16_t>(c));
    stale.Observe(100);
    stale.Observe(201);
    EXPECT_EQ(stale.lost(), 0u);
    EXPECT_EQ(stale.outOfOrder(), 1u);
    EXPECT_EQ(stale.restarts(), 0u);
    // The scanner counting again from 0: a restart, not 30 000 late packets.
    StreamHealth restart;
    for (int c = 30000; c < 30010; ++c)
        restart.Observe(static_cast<std::uint16_t>(c));
    for (int c = 0; c < 100; c += (c == 50 ? 2 : 1))
        restart.Observe(static_cast<std::uint16_t>(c));
    EXPECT_EQ(restart.restarts(), 1u);
    EXPECT_EQ(restart.lost(), 1u); // 51
    EXPECT_EQ(restart.outOfOrder(), 0u);
    const StreamCounts c = restart.counts();
    EXPECT_EQ(c.received, restart.received());
    EXPECT_EQ(c.lost, 1u);
}

} // namespace
} // namespace qz417
