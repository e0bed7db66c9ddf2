// Counting a UDP profile stream: packets received, packets lost (gaps in the
// 16-bit packetCount), and the packet and measurement rates from the change
// of the two counters (differences modulo 65536 over the elapsed time).
#pragma once

#include <cstdint>

namespace qzctl {

struct StreamInterval {
    double packetRate = 0;      // per second, from packetCount
    double measurementRate = 0; // per second, from measurementCount
    std::uint64_t received = 0; // in this interval
    std::uint64_t lost = 0;     // in this interval
};

class StreamCounter {
public:
    // A step of packetCount of 1 is the next packet; 2..32767 means that
    // step - 1 packets were lost; 0 is a duplicate; 32768..65535 a packet
    // that arrived late, after its successors (counted as late, not lost).
    void add(std::uint16_t measurementCount, std::uint16_t packetCount);
    // Rates since the previous interval ended; starts the next one.
    StreamInterval endInterval(double elapsedMs);

    std::uint64_t received() const { return received_; }
    std::uint64_t lost() const { return lost_; }
    std::uint64_t duplicates() const { return duplicates_; }
    std::uint64_t late() const { return late_; }

private:
    bool havePacket_ = false;
    std::uint16_t lastPacketCount_ = 0;
    std::uint16_t lastMeasurementCount_ = 0;
    std::uint16_t basePacketCount_ = 0;
    std::uint16_t baseMeasurementCount_ = 0;
    std::uint64_t received_ = 0;
    std::uint64_t lost_ = 0;
    std::uint64_t duplicates_ = 0;
    std::uint64_t late_ = 0;
    std::uint64_t intervalReceived_ = 0;
    std::uint64_t intervalLost_ = 0;
};

} // namespace qzctl
