// Health of a UDP profile stream, from the scanner's packet counter: the
// counts of qz417::StreamStats (model/stream_stats.h: lost, late, duplicates,
// restarts), published for the window thread. Pure C++, no Qt.
//
// Observe() runs on the receiving thread for every datagram (no lock, no
// allocation); the counts are atomics that the window thread reads at any time.
#pragma once

#include <atomic>
#include <cstdint>

#include "model/stream_stats.h"

namespace qz417 {

class StreamHealth {
public:
    // One received packet with its packetCount (one receiving thread).
    void Observe(std::uint16_t packetCount);

    // Profiles missing from the counter sequence since the first packet:
    // every gap counts its size; a late packet that fills a gap takes one back.
    std::uint64_t lost() const { return lost_.load(std::memory_order_relaxed); }
    // Packets that arrived after a later one (late packets and duplicates).
    std::uint64_t outOfOrder() const {
        return late_.load(std::memory_order_relaxed) + duplicates_.load(std::memory_order_relaxed);
    }
    std::uint64_t received() const { return received_.load(std::memory_order_relaxed); }
    std::uint64_t restarts() const { return restarts_.load(std::memory_order_relaxed); }
    // All counts at once (each read on its own; they may be one packet apart).
    StreamCounts counts() const;

private:
    std::atomic<std::uint64_t> received_{0}, lost_{0}, late_{0}, duplicates_{0}, restarts_{0};
    StreamStats stats_; // receiving thread only
};

} // namespace qz417
