#include "measure/measure_history.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qz417 {

void MeasureHistory::Add(MeasuredProfile profile) {
    kept_.push_back(std::move(profile));
    while (kept_.size() > depth_)
        kept_.pop_front();
}

void MeasureHistory::SetDepth(std::size_t depth) {
    depth_ = depth == 0 ? 1 : depth;
    while (kept_.size() > depth_)
        kept_.pop_front();
}

std::vector<double> MeasureHistory::Values(std::size_t tool, int output) const {
    std::vector<double> values;
    values.reserve(kept_.size());
    for (const auto &p : kept_) {
        double v = std::numeric_limits<double>::quiet_NaN();
        if (tool < p.result.tools.size() && p.result.tools[tool].ok && output >= 0 &&
            output < measure::kMaxOutputs)
            v = p.result.tools[tool].values[static_cast<std::size_t>(output)];
        values.push_back(v);
    }
    return values;
}

TrendStatistics MeasureHistory::Statistics(std::size_t tool, int output,
                                           const measure::ToolSetup &setup) const {
    TrendStatistics s;
    double mean = 0.0, m2 = 0.0;
    for (const auto &p : kept_) {
        if (tool >= p.result.tools.size())
            continue;
        const auto &tr = p.result.tools[tool];
        if (!tr.ok) {
            ++s.noResult;
            continue;
        }
        for (std::size_t l = 0; l < setup.limits.size() && l < tr.limits.size(); ++l)
            if (setup.limits[l].output == output && tr.limits[l] == measure::LimitState::Fail) {
                ++s.failures;
                break;
            }
        const double v = tr.values[static_cast<std::size_t>(output)];
        if (!std::isfinite(v))
            continue;
        ++s.count;
        const double d = v - mean;
        mean += d / static_cast<double>(s.count);
        m2 += d * (v - mean);
        s.min = s.count == 1 ? v : std::min(s.min, v);
        s.max = s.count == 1 ? v : std::max(s.max, v);
    }
    s.mean = mean;
    s.std = s.count > 1 ? std::sqrt(m2 / static_cast<double>(s.count - 1)) : 0.0;
    return s;
}

} // namespace qz417
