#include "model/stream_stats.h"

#include "model/profile_packet.h"

namespace qz417 {

namespace {

constexpr std::uint64_t Bit(int k) {
    return std::uint64_t{1} << k;
}

// Bits 1 .. n - 1 (the counters a forward step of n skipped), within the window.
constexpr std::uint64_t SkippedBits(int n) {
    if (n <= 1)
        return 0;
    const std::uint64_t upToN = n >= StreamStats::kWindow ? ~std::uint64_t{0} : Bit(n) - 1;
    return upToN & ~std::uint64_t{1};
}

} // namespace

void StreamStats::ObservePacket(const std::uint8_t *packet) {
    Observe(ProfilePacket(packet).packetCount());
}

void StreamStats::Observe(std::uint16_t packetCount) {
    ++counts_.received;
    if (!started_) {
        started_ = true;
        newest_ = packetCount;
        seen_ = 1;
        gaps_ = 0;
        return;
    }
    if (candidate_) {
        candidate_ = false;
        const auto step = static_cast<std::uint16_t>(packetCount - candidateCount_);
        if (step >= 1 && step <= kWindow) {
            // The far step back was the scanner counting again from there.
            --counts_.late;
            ++counts_.restarts;
            counts_.lost += step - 1u;
            newest_ = packetCount;
            seen_ = 1 | (step < kWindow ? Bit(step) : 0);
            gaps_ = SkippedBits(step);
            return;
        }
        // It was one stale packet, late; this one is taken on its own.
    }
    Advance(packetCount);
}

void StreamStats::Advance(std::uint16_t packetCount) {
    const auto step = static_cast<std::uint16_t>(packetCount - newest_);
    if (step == 0) {
        ++counts_.duplicates;
        return;
    }
    if (step <= 32768) {
        counts_.lost += step - 1u;
        if (step >= kWindow) {
            seen_ = 1;
            gaps_ = SkippedBits(kWindow);
        } else {
            seen_ = (seen_ << step) | 1;
            gaps_ = (gaps_ << step) | SkippedBits(step);
        }
        newest_ = packetCount;
        return;
    }
    const int back = 65536 - step;
    if (back >= kWindow) {
        // Too far behind to fill a gap: late, or the first packet of a restart.
        ++counts_.late;
        candidate_ = true;
        candidateCount_ = packetCount;
        return;
    }
    const std::uint64_t bit = Bit(back);
    if ((seen_ & bit) != 0) {
        ++counts_.duplicates;
        return;
    }
    ++counts_.late;
    seen_ |= bit;
    if ((gaps_ & bit) != 0) {
        gaps_ &= ~bit;
        --counts_.lost;
    }
}

} // namespace qz417
