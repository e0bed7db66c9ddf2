#include "stream_counter.h"

#include "model/profile_packet.h"

namespace qz417::ctl {

void StreamCounter::add(const std::uint8_t *packet) {
    const qz417::ProfilePacket p(packet);
    const qz417::StreamCounts before = stats_.counts();
    stats_.Observe(p.packetCount());
    const qz417::StreamCounts &after = stats_.counts();
    const bool restarted = after.restarts != before.restarts;
    if (!restarted && (after.late != before.late || after.duplicates != before.duplicates)) {
        // The newest counters stay the reference; this one may be the first
        // of a restart.
        latePacketCount_ = p.packetCount();
        lateMeasurementCount_ = p.measurementCount();
        return;
    }
    if (restarted) {
        // The scanner counts again from the packet before this one.
        basePacketCount_ = latePacketCount_;
        baseMeasurementCount_ = lateMeasurementCount_;
    } else if (!haveBase_) {
        haveBase_ = true;
        basePacketCount_ = p.packetCount();
        baseMeasurementCount_ = p.measurementCount();
    }
    lastPacketCount_ = p.packetCount();
    lastMeasurementCount_ = p.measurementCount();
}

StreamInterval StreamCounter::endInterval(double elapsedMs) {
    StreamInterval out;
    const qz417::StreamCounts &now = stats_.counts();
    out.received = now.received - intervalStart_.received;
    out.lost = now.lost >= intervalStart_.lost ? now.lost - intervalStart_.lost : 0;
    if (haveBase_ && elapsedMs > 0) {
        const auto packets = static_cast<std::uint16_t>(lastPacketCount_ - basePacketCount_);
        const auto measurements =
            static_cast<std::uint16_t>(lastMeasurementCount_ - baseMeasurementCount_);
        out.packetRate = packets * 1000.0 / elapsedMs;
        out.measurementRate = measurements * 1000.0 / elapsedMs;
    }
    basePacketCount_ = lastPacketCount_;
    baseMeasurementCount_ = lastMeasurementCount_;
    intervalStart_ = now;
    return out;
}

} // namespace qz417::ctl
