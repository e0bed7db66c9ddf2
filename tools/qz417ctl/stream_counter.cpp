#include "stream_counter.h"

namespace qzctl {

void StreamCounter::add(std::uint16_t measurementCount, std::uint16_t packetCount) {
    ++received_;
    ++intervalReceived_;
    if (!havePacket_) {
        havePacket_ = true;
        basePacketCount_ = packetCount;
        baseMeasurementCount_ = measurementCount;
    } else {
        const auto step = static_cast<std::uint16_t>(packetCount - lastPacketCount_);
        if (step == 0) {
            ++duplicates_;
            return;
        }
        if (step >= 0x8000) {
            ++late_;
            return; // the newest counters stay the reference
        }
        lost_ += step - 1u;
        intervalLost_ += step - 1u;
    }
    lastPacketCount_ = packetCount;
    lastMeasurementCount_ = measurementCount;
}

StreamInterval StreamCounter::endInterval(double elapsedMs) {
    StreamInterval out;
    out.received = intervalReceived_;
    out.lost = intervalLost_;
    if (havePacket_ && elapsedMs > 0) {
        const auto packets = static_cast<std::uint16_t>(lastPacketCount_ - basePacketCount_);
        const auto measurements =
            static_cast<std::uint16_t>(lastMeasurementCount_ - baseMeasurementCount_);
        out.packetRate = packets * 1000.0 / elapsedMs;
        out.measurementRate = measurements * 1000.0 / elapsedMs;
    }
    basePacketCount_ = lastPacketCount_;
    baseMeasurementCount_ = lastMeasurementCount_;
    intervalReceived_ = 0;
    intervalLost_ = 0;
    return out;
}

} // namespace qzctl
