#include <cstdint>
#include <optional>

#include <gtest/gtest.h>

#include "core/counter_rates.h"

namespace {

struct RateCase {
    const char *name;
    std::uint16_t counter;
    std::uint16_t mark;
    std::int32_t elapsed;
    std::uint32_t rate;
};

class CounterRateCases : public ::testing::TestWithParam<RateCase> {};

TEST_P(CounterRateCases, DifferenceModulo65536OverElapsed) {
    const RateCase c = GetParam();
    EXPECT_EQ(qz417::CounterRate(c.counter, c.mark, c.elapsed), c.rate) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Values, CounterRateCases,
    ::testing::Values(RateCase{"wrap", 4, 65530, 1000 + 1, 9}, // 10 * 1000 / 1001
                      RateCase{"wrapOneSecond", 4, 65530, 2000, 5},
                      RateCase{"remainderDiscarded", 1500, 0, 1501, 999},
                      RateCase{"backwards", 100, 300, 2000, 100}, // |-200| * 1000 / 2000
                      RateCase{"negativeElapsed", 2000, 0, -2000, 1000},
                      RateCase{"halfRange", 32768, 0, 1001, 32735}, // -32768 read as i16
                      RateCase{"none", 7, 7, 5000, 0}, RateCase{"fromMax", 0, 65535, 1001, 0}));

TEST(CounterRate, WrapCountsTen) {
    // 65530 -> 4 is ten steps forward: 10 per 1000 ms.
    EXPECT_EQ(qz417::CounterRate(4, 65530, 1000), 10u);
}

TEST(RateInterval, NothingWithinTheFirstSecond) {
    EXPECT_FALSE(qz417::RateInterval(1000, 0).has_value());
    EXPECT_FALSE(qz417::RateInterval(0, 1000).has_value()); // |-1000|
    EXPECT_FALSE(qz417::RateInterval(500, 500).has_value());
    EXPECT_EQ(qz417::RateInterval(1001, 0), std::optional<std::int32_t>(1001));
    EXPECT_EQ(qz417::RateInterval(0, 1001), std::optional<std::int32_t>(-1001));
}

TEST(RateInterval, WrappingTickCount) {
    // The 32-bit tick count wraps; the signed difference is what counts.
    EXPECT_EQ(qz417::RateInterval(1000, 0xFFFFFF00u), std::optional<std::int32_t>(1256));
    EXPECT_FALSE(qz417::RateInterval(100, 0xFFFFFF00u).has_value());
    // The most negative difference has no positive counterpart in 32 bits.
    EXPECT_EQ(qz417::RateInterval(0x80000000u, 0), std::optional<std::int32_t>(INT32_MIN));
    EXPECT_EQ(qz417::CounterRate(1, 0, INT32_MIN), 0u);
}

} // namespace
