#include "core/counter_rates.h"

#include <cstdlib>

namespace qz417 {

std::optional<std::int32_t> RateInterval(std::uint32_t now, std::uint32_t start) {
    const auto elapsed = static_cast<std::int32_t>(now - start);
    if (std::llabs(static_cast<long long>(elapsed)) <= kRateIntervalMs)
        return std::nullopt;
    return elapsed;
}

std::uint32_t CounterRate(std::uint16_t counter, std::uint16_t mark, std::int32_t elapsedMs) {
    const auto d = static_cast<std::int16_t>(static_cast<std::uint16_t>(counter - mark));
    const long long magnitude = std::llabs(static_cast<long long>(d));
    const long long interval = std::llabs(static_cast<long long>(elapsedMs));
    if (interval == 0)
        return 0;
    return static_cast<std::uint32_t>(magnitude * 1000 / interval);
}

} // namespace qz417
