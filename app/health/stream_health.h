// Health of a UDP profile stream, from the scanner's packet counter: how
// many profiles were lost (gaps in the counter) and how many arrived out of
// order. Pure C++, no Qt.
//
// Observe() runs on the receiving thread for every datagram; the counts are
// atomics that the window thread reads at any time.
#pragma once

#include <atomic>
#include <cstdint>

namespace qz {

class StreamHealth {
public:
    // How far back a late packet is still recognised as filling a gap.
    static constexpr int kLateWindow = 64;

    // One received packet with its packetCount (one receiving thread).
    void Observe(std::uint16_t packetCount);

    // Profiles missing from the counter sequence since the first packet:
    // every gap counts its size; a late packet that fills a gap takes one back.
    std::uint64_t lost() const { return lost_.load(std::memory_order_relaxed); }
    // Packets that arrived after a later one (late fills and duplicates).
    std::uint64_t outOfOrder() const { return outOfOrder_.load(std::memory_order_relaxed); }
    std::uint64_t received() const { return received_.load(std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> lost_{0};
    std::atomic<std::uint64_t> outOfOrder_{0};
    std::atomic<std::uint64_t> received_{0};
    // Receiving thread only.
    bool started_ = false;
    std::uint16_t expected_ = 0; // the counter that follows the newest seen
    // Bit k set: counter expected_ - 1 - k has arrived (k < kLateWindow).
    std::uint64_t seen_ = 0;
};

} // namespace qz
