// Lost packets of a profile stream: gaps in the 16-bit packetCount, across
// its wrap from 65535 to 0.
#pragma once

#include <cstdint>

namespace qz::recording {

class PacketGapCounter {
public:
    // A step of 1 is the next packet; 2..32768 means step - 1 packets were
    // lost; 0 is a duplicate; 32769..65535 a packet that came late, after its
    // successors (it was counted as lost when the gap opened, so it is taken
    // back off the count).
    void Add(std::uint16_t packetCount) {
        if (!started_) {
            started_ = true;
            last_ = packetCount;
            return;
        }
        const auto step = static_cast<std::uint16_t>(packetCount - last_);
        if (step == 0) {
            ++duplicates_;
            return;
        }
        if (step <= 32768) {
            lost_ += step - 1u;
            last_ = packetCount;
            return;
        }
        ++late_;
        if (lost_ > 0)
            --lost_;
    }

    std::uint64_t lost() const { return lost_; }
    std::uint64_t duplicates() const { return duplicates_; }
    std::uint64_t late() const { return late_; }

private:
    bool started_ = false;
    std::uint16_t last_ = 0;
    std::uint64_t lost_ = 0;
    std::uint64_t duplicates_ = 0;
    std::uint64_t late_ = 0;
};

} // namespace qz::recording
