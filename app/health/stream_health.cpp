#include "health/stream_health.h"

namespace qz {

void StreamHealth::Observe(std::uint16_t packetCount) {
    received_.fetch_add(1, std::memory_order_relaxed);
    if (!started_) {
        started_ = true;
        expected_ = static_cast<std::uint16_t>(packetCount + 1);
        seen_ = 1;
        return;
    }
    // Distance from the expected counter, modulo 65536 read as signed:
    // 65535 followed by 0 is one step forward.
    const auto d = static_cast<std::int16_t>(static_cast<std::uint16_t>(packetCount - expected_));
    if (d >= 0) {
        // In order (d == 0) or after a gap of d lost profiles.
        lost_.fetch_add(static_cast<std::uint64_t>(d), std::memory_order_relaxed);
        const int shift = d + 1;
        seen_ = shift >= kLateWindow ? 1 : (seen_ << shift) | 1;
        expected_ = static_cast<std::uint16_t>(packetCount + 1);
        return;
    }
    const int back = -d - 1; // 0: the newest seen, 1: the one before, ...
    if (back < kLateWindow) {
        outOfOrder_.fetch_add(1, std::memory_order_relaxed);
        const std::uint64_t bit = std::uint64_t{1} << back;
        if ((seen_ & bit) == 0) {
            // A late arrival that fills a gap counted as lost.
            seen_ |= bit;
            if (lost_.load(std::memory_order_relaxed) > 0)
                lost_.fetch_sub(1, std::memory_order_relaxed);
        }
        return;
    }
    // Far behind: the scanner restarted its counter. Follow it; nothing is
    // counted lost for the jump.
    expected_ = static_cast<std::uint16_t>(packetCount + 1);
    seen_ = 1;
}

} // namespace qz
