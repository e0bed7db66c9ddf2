// The results the "Measure" page keeps: the last N measured profiles, and the
// statistics of one output over them (the trend). Pure C++ (qz417appcore).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "measure/measure_worker.h"

namespace qz417 {

struct TrendStatistics {
    std::uint64_t count = 0; // profiles where the output has a value
    double mean = 0.0;
    double std = 0.0; // sample standard deviation (0 below two values)
    double min = 0.0;
    double max = 0.0;
    std::uint64_t failures = 0; // profiles where a limit on the output failed
    std::uint64_t noResult = 0; // profiles where the tool gave no result
};

class MeasureHistory {
public:
    explicit MeasureHistory(std::size_t depth) : depth_(depth == 0 ? 1 : depth) {}

    void Add(MeasuredProfile profile);
    void Clear() { kept_.clear(); }
    void SetDepth(std::size_t depth);
    std::size_t depth() const { return depth_; }
    const std::deque<MeasuredProfile> &kept() const { return kept_; }

    // The values of output `output` of tool `tool` (NaN where it has no
    // result), oldest first.
    std::vector<double> Values(std::size_t tool, int output) const;
    // Their statistics; limits are those of `setup` on that output.
    TrendStatistics Statistics(std::size_t tool, int output, const measure::ToolSetup &setup) const;

private:
    std::size_t depth_;
    std::deque<MeasuredProfile> kept_;
};

} // namespace qz417
