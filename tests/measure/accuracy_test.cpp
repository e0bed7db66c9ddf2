// How close the tools come on measured-like profiles: points quantised to
// the scanner's raw units (bound computed from the quantisation), and
// Gaussian noise with outliers over many seeded profiles.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "profiles.h"

namespace qz417::measuretest {
namespace {

using qz417::measure::ToolKind;

// Raw units as the scanner sends them, decoded by the model's decoder.
std::vector<qz417::ProfilePoint> Quantised(const std::function<double(double)> &z,
                                           const qz417::ProfileScale &scale) {
    std::vector<qz417::ProfilePoint> p(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        const double x = XAt(i);
        qz417::RawPoint raw;
        raw.xRaw =
            static_cast<std::int16_t>(std::lround(x * scale.discreteValue / scale.rangeXEmr));
        raw.zRaw =
            static_cast<std::int16_t>(std::lround(z(x) * scale.discreteValue / scale.rangeZ));
        p[static_cast<std::size_t>(i)] = qz417::DecodePoint(raw, scale);
    }
    return p;
}

// Sum of |least-squares weight| of each point of the region for the line's
// value at x: a value error of e per point moves the line at x by at most
// this times e.
double WeightSum(const std::vector<qz417::ProfilePoint> &p, const qz417::measure::Region &r,
                 double x) {
    std::vector<double> xs;
    for (const auto &pt : p)
        if (pt.valid && pt.x >= r.xMin && pt.x <= r.xMax)
            xs.push_back(pt.x);
    double mean = 0;
    for (double v : xs)
        mean += v;
    mean /= static_cast<double>(xs.size());
    double sxx = 0;
    for (double v : xs)
        sxx += (v - mean) * (v - mean);
    double sum = 0;
    for (double v : xs)
        sum += std::fabs(1.0 / static_cast<double>(xs.size()) + (x - mean) * (v - mean) / sxx);
    return sum;
}

TEST(MeasureAccuracy, QuantisedStepWithinTheBoundTheRawUnitsAllow) {
    qz417::ProfileScale scale; // 230 mm, 250 mm, 16384, error value 0
    const double slope = 0.08, height = 1.234;
    const auto p =
        Quantised([&](double x) { return slope * x + 20.0 + (x > 0 ? height : 0.0); }, scale);
    const auto a = R(-45, -5), b = R(5, 45);
    const auto r = RunOne(Tool(ToolKind::Step, a, b), p);
    ASSERT_TRUE(r.ok);
    // Each point's Z is off by at most half a Z unit, its X by half an X
    // unit, which on the slope is slope times as much in Z.
    const double qz = scale.rangeZ / double(scale.discreteValue);
    const double qx = scale.rangeXEmr / double(scale.discreteValue);
    const double perPoint = qz / 2 + std::fabs(slope) * qx / 2 + 1e-5; // + float rounding
    const double bound = perPoint * (WeightSum(p, a, 0.0) + WeightSum(p, b, 0.0));
    EXPECT_NEAR(r.values[0], height, bound);
    EXPECT_LT(bound, 3 * qz); // the bound is meaningful: a few raw units at most
    // Without the robust rejection dropping points: the quantisation errors
    // lie within 1.4 units, far inside three robust spreads.
    const auto line = RunOne(Tool(ToolKind::Line, a), p);
    ASSERT_TRUE(line.ok);
    int inRegion = 0;
    for (const auto &pt : p)
        inRegion += pt.valid && pt.x >= a.xMin && pt.x <= a.xMax;
    EXPECT_EQ(line.values[4], inRegion);
}

TEST(MeasureAccuracy, QuantisedVGrooveAngle) {
    qz417::ProfileScale scale;
    const auto p = Quantised([](double x) { return 30.0 + 0.7 * std::fabs(x); }, scale);
    const auto r = RunOne(Tool(ToolKind::Angle, R(-40, -2), R(2, 40)), p);
    ASSERT_TRUE(r.ok);
    const double expect = 180.0 - 2 * std::atan(0.7) * 180.0 / M_PI;
    // Slope error: half a raw unit in Z (and X on the slope) over 38 mm of arm
    // moves each arm's slope by at most 2 x 0.013 / 38 rad, < 0.04 deg each.
    EXPECT_NEAR(r.values[0], expect, 0.08);
}

// Noise 0.05 mm (sigma) with 10 % outliers of 0.5 to 3 mm either way, on
// regions of 200 points each side of a 1 mm step, 1000 seeded profiles.
std::vector<qz417::ProfilePoint> Noisy(std::mt19937 &rng, double slope, double step) {
    std::normal_distribution<double> noise(0.0, 0.05);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    return Make([&](double x) {
        double z = slope * x + (x > 0 ? step : 0.0) + noise(rng);
        if (u(rng) < 0.10)
            z += (u(rng) < 0.5 ? -1 : 1) * (0.5 + 2.5 * u(rng));
        return z;
    });
}

// 200 points each side of the step: regions of 200 x spacing, 2 mm from it.
constexpr double kRegionWidth = 199.5 * kSpacing;

TEST(MeasureAccuracy, NoisyStepWithOutliersOnLevelSurfaces) {
    // Surfaces held level (fit.level): each height comes from about 180
    // kept points, the step's sigma is 0.05 x sqrt(2 / 180) = 0.0053 mm, and
    // 0.02 mm is 3.8 of it.
    auto t = Tool(ToolKind::Step, R(-2 - kRegionWidth, -2), R(2, 2 + kRegionWidth));
    t.fit.level = true;
    qz417::measure::Job job;
    job.tools = {t};
    qz417::measure::Measurer m(job);
    int within = 0, results = 0;
    for (int seed = 0; seed < 1000; ++seed) {
        std::mt19937 rng(static_cast<unsigned>(seed));
        const auto &r = m.Measure(Noisy(rng, 0.0, 1.0)).tools[0];
        results += r.ok;
        within += r.ok && std::fabs(r.values[0] - 1.0) <= 0.02;
    }
    EXPECT_EQ(results, 1000);
    EXPECT_GE(within, 990) << within << " of 1000 within 0.02 mm";
}

TEST(MeasureAccuracy, NoisyStepWithFittedTiltWithinWhatTheNoiseAllows) {
    // With each surface's tilt fitted too (the default), the lines at the
    // reference X halfway between the region centres are each off by
    // sigma x sqrt(1/n + (d/2)^2 / Sxx): for n = 180 kept points of a 19.5 mm
    // region and d = 23.5 mm between the centres, the step's sigma is
    // 0.012 mm, so 0.02 mm holds in only about 90 % of the cases whatever
    // the fit. 99.7 % must lie within 3 of this sigma, on a level and on a
    // tilted base alike.
    const auto a = R(-2 - kRegionWidth, -2), b = R(2, 2 + kRegionWidth);
    const double n = 180.0, sxx = n * kRegionWidth * kRegionWidth / 12.0, d = 4.0 + kRegionWidth;
    const double sigma = 0.05 * std::sqrt(2.0 * (1.0 / n + (d / 2) * (d / 2) / sxx));
    qz417::measure::Job job;
    job.tools = {Tool(ToolKind::Step, a, b)};
    qz417::measure::Measurer m(job);
    for (const double slope : {0.0, 0.15}) {
        int within = 0;
        for (int seed = 0; seed < 1000; ++seed) {
            std::mt19937 rng(static_cast<unsigned>(seed) + 5000u);
            const auto &r = m.Measure(Noisy(rng, slope, 1.0)).tools[0];
            within += r.ok && std::fabs(r.values[0] - 1.0) <= 3 * sigma;
        }
        EXPECT_GE(within, 990) << within << " of 1000 within " << 3 * sigma << " mm, slope "
                               << slope;
    }
}

} // namespace
} // namespace qz417::measuretest
