// Counting a UDP profile stream for `qz417ctl stream`: the counts of
// qz417::StreamStats (model/stream_stats.h: received, lost, late, duplicates,
// restarts) per interval and in total, and the packet and measurement rates
// from the change of the two counters (differences modulo 65536 over the
// elapsed time).
#pragma once

#include <cstdint>

#include "model/stream_stats.h"

namespace qz417::ctl {

struct StreamInterval {
    double packetRate = 0;      // per second, from packetCount
    double measurementRate = 0; // per second, from measurementCount
    std::uint64_t received = 0; // in this interval
    std::uint64_t lost = 0;     // in this interval (a late packet may take one back)
};

class StreamCounter {
public:
    // One received packet (its 4100 bytes; the counters are read through
    // qz417::ProfilePacket).
    void add(const std::uint8_t *packet);
    // Rates since the previous interval ended; starts the next one.
    StreamInterval endInterval(double elapsedMs);

    const qz417::StreamCounts &counts() const { return stats_.counts(); }

private:
    qz417::StreamStats stats_;
    bool haveBase_ = false;
    // Counters of the newest packet in sequence, and of the interval's start.
    std::uint16_t lastPacketCount_ = 0;
    std::uint16_t lastMeasurementCount_ = 0;
    std::uint16_t basePacketCount_ = 0;
    std::uint16_t baseMeasurementCount_ = 0;
    std::uint16_t latePacketCount_ = 0; // of the last packet out of order
    std::uint16_t lateMeasurementCount_ = 0;
    qz417::StreamCounts intervalStart_;
};

} // namespace qz417::ctl
