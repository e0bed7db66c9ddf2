// The scanner's measurement counter as a function of time: it advances at a
// rate that may change (measurement synchronisation, new parameters) without
// jumping, so counting never needs a timer thread.
#pragma once

#include <chrono>
#include <cstdint>

namespace qz417::sim {

class MeasurementClock {
public:
    using Clock = std::chrono::steady_clock;

    MeasurementClock(Clock::time_point start, double rateHz) : since_(start), rate_(rateHz) {}

    std::uint64_t count(Clock::time_point now) const {
        if (rate_ <= 0 || now <= since_)
            return base_;
        const double elapsed = std::chrono::duration<double>(now - since_).count();
        return base_ + static_cast<std::uint64_t>(elapsed * rate_);
    }
    // From `now` on the counter advances at the new rate.
    void setRate(double rateHz, Clock::time_point now) {
        base_ = count(now);
        since_ = now > since_ ? now : since_;
        rate_ = rateHz;
    }
    double rate() const { return rate_; }

private:
    std::uint64_t base_ = 0;
    Clock::time_point since_;
    double rate_;
};

} // namespace qz417::sim
