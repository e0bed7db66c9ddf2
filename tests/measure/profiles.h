// Synthetic profiles of known geometry for the measurement tests.
#pragma once

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "model/measure/measurer.h"
#include "model/profile_packet.h"

namespace qz417::measuretest {

// 1024 points evenly from -50 to +50 mm.
constexpr int kPoints = qz417::kProfilePoints;
constexpr double kX0 = -50.0;
constexpr double kSpacing = 100.0 / (kPoints - 1);

inline double XAt(int i) {
    return kX0 + kSpacing * i;
}

inline std::vector<qz417::ProfilePoint> Make(const std::function<double(double)> &z) {
    std::vector<qz417::ProfilePoint> p(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        const double x = XAt(i);
        p[static_cast<std::size_t>(i)] = {true, static_cast<float>(x), static_cast<float>(z(x))};
    }
    return p;
}

inline qz417::measure::Region R(double xMin, double xMax) {
    qz417::measure::Region r;
    r.xMin = xMin;
    r.xMax = xMax;
    return r;
}

inline qz417::measure::ToolSetup Tool(qz417::measure::ToolKind kind, qz417::measure::Region region,
                                      qz417::measure::Region second = {}) {
    qz417::measure::ToolSetup t;
    t.name = "t";
    t.kind = kind;
    t.region = region;
    t.second = second;
    return t;
}

// Runs one tool on a profile.
inline qz417::measure::ToolResult RunOne(const qz417::measure::ToolSetup &tool,
                                         const std::vector<qz417::ProfilePoint> &profile) {
    qz417::measure::Job job;
    job.tools.push_back(tool);
    qz417::measure::Measurer m(job);
    return m.Measure(profile).tools.at(0);
}

} // namespace qz417::measuretest
