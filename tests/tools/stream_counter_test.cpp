// qz417ctl's stream counting: the counts are qz417::StreamStats' (tested in
// tests/model/stream_stats_test.cpp); here the intervals and the rates from
// the counters, across the wrap, a late packet and a restart.
#include <gtest/gtest.h>

#include <array>

#include "model/profile_packet.h"
#include "stream_counter.h"

namespace qz417::ctl {
namespace {

void Add(StreamCounter &c, std::uint16_t measurementCount, std::uint16_t packetCount) {
    std::array<std::uint8_t, qz417::kProfilePacketSize> packet{};
    packet[0] = static_cast<std::uint8_t>(measurementCount & 0xFF);
    packet[1] = static_cast<std::uint8_t>(measurementCount >> 8);
    packet[2] = static_cast<std::uint8_t>(packetCount & 0xFF);
    packet[3] = static_cast<std::uint8_t>(packetCount >> 8);
    c.add(packet.data());
}

TEST(StreamCounter, CountsAsTheModelDoes) {
    StreamCounter c;
    for (const std::uint16_t pc : {10, 10, 12, 11, 13, 20000, 20001})
        Add(c, 0, pc);
    EXPECT_EQ(c.counts().received, 7u);
    EXPECT_EQ(c.counts().duplicates, 1u);
    EXPECT_EQ(c.counts().late, 1u);
    EXPECT_EQ(c.counts().lost, 20000u - 13u - 1u); // 11 came late and filled its gap
}

TEST(StreamCounter, RatesAreCounterDifferencesOverTime) {
    StreamCounter c;
    Add(c, 100, 1);
    Add(c, 110, 2);
    Add(c, 150, 5);
    const StreamInterval first = c.endInterval(1000);
    EXPECT_DOUBLE_EQ(first.packetRate, 4.0);
    EXPECT_DOUBLE_EQ(first.measurementRate, 50.0);
    EXPECT_EQ(first.received, 3u);
    EXPECT_EQ(first.lost, 2u);
    Add(c, 65535, 30000);
    const StreamInterval second = c.endInterval(500);
    EXPECT_DOUBLE_EQ(second.packetRate, (30000 - 5) * 2.0);
    EXPECT_EQ(second.lost, 29994u);
    Add(c, 9, 30001);
    Add(c, 1, 29990); // late: the rates keep to the newest counters
    const StreamInterval third = c.endInterval(1000);
    EXPECT_DOUBLE_EQ(third.measurementRate, 10.0); // 65535 -> 9 across the wrap
    EXPECT_DOUBLE_EQ(third.packetRate, 1.0);
    const StreamInterval idle = c.endInterval(1000);
    EXPECT_EQ(idle.received, 0u);
    EXPECT_DOUBLE_EQ(idle.packetRate, 0.0);
}

TEST(StreamCounter, ARestartStartsTheRatesAfresh) {
    StreamCounter c;
    for (std::uint16_t pc = 20000; pc < 20010; ++pc)
        Add(c, pc, pc);
    c.endInterval(1000);
    Add(c, 0, 0); // the scanner counts again
    Add(c, 4, 1);
    Add(c, 8, 2);
    const StreamInterval s = c.endInterval(1000);
    EXPECT_EQ(c.counts().restarts, 1u);
    EXPECT_EQ(s.lost, 0u);
    EXPECT_DOUBLE_EQ(s.packetRate, 2.0);
    EXPECT_DOUBLE_EQ(s.measurementRate, 8.0);
}

TEST(StreamCounter, NoPacketsNoRates) {
    StreamCounter c;
    const StreamInterval s = c.endInterval(1000);
    EXPECT_DOUBLE_EQ(s.packetRate, 0.0);
    EXPECT_EQ(c.counts().received, 0u);
}

} // namespace
} // namespace qz417::ctl
