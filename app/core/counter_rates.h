// Once-a-second rates of the 16-bit wrapping counters shown under the charts
// and the picture. Pure arithmetic; the live view applies it to its labels.
#pragma once

#include <cstdint>
#include <optional>

namespace qz417 {

// Interval between two rate updates: the shortest one that yields rates.
constexpr std::int32_t kRateIntervalMs = 1000;

// now - start as a signed 32-bit difference of the wrapping tick count, or
// nothing while its magnitude is kRateIntervalMs or less.
std::optional<std::int32_t> RateInterval(std::uint32_t now, std::uint32_t start);

// Counts per second: the difference counter - mark modulo 65536 read as a
// signed 16-bit value, its magnitude times 1000 divided (truncating) by the
// magnitude of the interval. elapsedMs must not be 0.
std::uint32_t CounterRate(std::uint16_t counter, std::uint16_t mark, std::int32_t elapsedMs);

} // namespace qz417
