#include "health/stream_health.h"

namespace qz417 {

void StreamHealth::Observe(std::uint16_t packetCount) {
    stats_.Observe(packetCount);
    const StreamCounts &c = stats_.counts();
    received_.store(c.received, std::memory_order_relaxed);
    lost_.store(c.lost, std::memory_order_relaxed);
    late_.store(c.late, std::memory_order_relaxed);
    duplicates_.store(c.duplicates, std::memory_order_relaxed);
    restarts_.store(c.restarts, std::memory_order_relaxed);
}

StreamCounts StreamHealth::counts() const {
    StreamCounts c;
    c.received = received();
    c.lost = lost();
    c.late = late_.load(std::memory_order_relaxed);
    c.duplicates = duplicates_.load(std::memory_order_relaxed);
    c.restarts = restarts();
    return c;
}

} // namespace qz417
