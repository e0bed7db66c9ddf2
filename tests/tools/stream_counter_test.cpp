// Counting the UDP stream: lost packets from gaps in packetCount, wrap-around,
// duplicates, late packets, and the rates from the counters.
#include <gtest/gtest.h>

#include "stream_counter.h"

namespace qzctl {
namespace {

TEST(StreamCounter, CountsGapsAsLostPackets) {
    StreamCounter c;
    for (const std::uint16_t pc : {1, 2, 3, 5, 6, 10})
        c.add(0, pc);
    EXPECT_EQ(c.received(), 6u);
    EXPECT_EQ(c.lost(), 4u);
}

TEST(StreamCounter, WrapsFrom65535ToZeroWithoutLoss) {
    StreamCounter c;
    for (const std::uint16_t pc : {65534, 65535, 0, 1, 3})
        c.add(0, pc);
    EXPECT_EQ(c.lost(), 1u);
}

TEST(StreamCounter, TellsDuplicatesAndLatePacketsApart) {
    StreamCounter c;
    for (const std::uint16_t pc : {10, 10, 12, 11, 13})
        c.add(0, pc);
    EXPECT_EQ(c.duplicates(), 1u);
    EXPECT_EQ(c.late(), 1u);
    EXPECT_EQ(c.lost(), 1u); // 11 was missing when 12 came
    EXPECT_EQ(c.received(), 5u);
}

TEST(StreamCounter, RatesAreCounterDifferencesOverTime) {
    StreamCounter c;
    c.add(100, 1);
    c.add(110, 2);
    c.add(150, 5);
    const StreamInterval first = c.endInterval(1000);
    EXPECT_DOUBLE_EQ(first.packetRate, 4.0);
    EXPECT_DOUBLE_EQ(first.measurementRate, 50.0);
    EXPECT_EQ(first.received, 3u);
    EXPECT_EQ(first.lost, 2u);
    c.add(65535, 30000);
    const StreamInterval second = c.endInterval(500);
    EXPECT_DOUBLE_EQ(second.packetRate, (30000 - 5) * 2.0);
    EXPECT_EQ(second.lost, 29994u);
    c.add(9, 30001);
    const StreamInterval third = c.endInterval(1000);
    EXPECT_DOUBLE_EQ(third.measurementRate, 10.0); // 65535 -> 9 across the wrap
    EXPECT_DOUBLE_EQ(third.packetRate, 1.0);
    const StreamInterval idle = c.endInterval(1000);
    EXPECT_EQ(idle.received, 0u);
    EXPECT_DOUBLE_EQ(idle.packetRate, 0.0);
}

TEST(StreamCounter, NoPacketsNoRates) {
    StreamCounter c;
    const StreamInterval s = c.endInterval(1000);
    EXPECT_DOUBLE_EQ(s.packetRate, 0.0);
    EXPECT_EQ(c.received(), 0u);
}

} // namespace
} // namespace qzctl
