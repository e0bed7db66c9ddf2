// The measurement tools on synthetic profiles of known geometry: exact
// profiles give the true value within 1 um where the samples determine it;
// where an edge lies between two samples the test says what bound holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "profiles.h"

namespace qz417::measuretest {
namespace {

using qz417::measure::EdgeDirection;
using qz417::measure::EdgePick;
using qz417::measure::LimitState;
using qz417::measure::Polarity;
using qz417::measure::ToolKind;

constexpr double kMicron = 1e-3;

double Deg(double rad) {
    return rad * 180.0 / std::numbers::pi;
}

TEST(MeasureHeight, StatisticsOfTheRegionSkipInvalidAndOutOfZPoints) {
    // Z = x on the grid: the region [0, 10] holds the samples from x = 0.0489 upwards.
    auto p = Make([](double x) { return x; });
    p[600].valid = false; // inside the region: not counted
    auto t = Tool(ToolKind::Height, R(0.0, 10.0));
    const auto r = RunOne(t, p);
    ASSERT_TRUE(r.ok) << r.reason;
    std::vector<double> z;
    for (int i = 0; i < kPoints; ++i)
        if (i != 600 && XAt(i) >= 0.0 && XAt(i) <= 10.0)
            z.push_back(static_cast<float>(XAt(i)));
    std::sort(z.begin(), z.end());
    double mean = 0;
    for (double v : z)
        mean += v;
    mean /= static_cast<double>(z.size());
    const double median =
        z.size() % 2 ? z[z.size() / 2] : 0.5 * (z[z.size() / 2 - 1] + z[z.size() / 2]);
    EXPECT_NEAR(r.values[0], z.front(), kMicron);
    EXPECT_NEAR(r.values[1], z.back(), kMicron);
    EXPECT_NEAR(r.values[2], mean, kMicron);
    EXPECT_NEAR(r.values[3], median, kMicron);
    EXPECT_EQ(r.values[4], static_cast<double>(z.size()));

    // A Z window keeps only the points inside it.
    t.region.zMin = 2.0;
    t.region.zMax = 4.0;
    const auto w = RunOne(t, p);
    ASSERT_TRUE(w.ok);
    EXPECT_GE(w.values[0], 2.0);
    EXPECT_LE(w.values[1], 4.0);
    EXPECT_NEAR(w.values[4], std::floor(2.0 / kSpacing), 1.0);
}

TEST(MeasureHeight, NoResultNamesTheReasonInsteadOfZero) {
    auto p = Make([](double) { return 1.0; });
    for (int i = 0; i < kPoints; ++i)
        if (XAt(i) > 10 && XAt(i) < 20)
            p[static_cast<std::size_t>(i)].valid = false;
    const auto r = RunOne(Tool(ToolKind::Height, R(11, 19)), p);
    EXPECT_FALSE(r.ok);
    EXPECT_STREQ(r.reason, "no valid points in the region");
    EXPECT_TRUE(std::isnan(r.values[0]));
    // A region beyond the measured range likewise.
    EXPECT_FALSE(RunOne(Tool(ToolKind::Height, R(60, 70)), p).ok);
    // A region reaching past the range's end measures the points it holds.
    const auto edge = RunOne(Tool(ToolKind::Height, R(45, 70)), p);
    ASSERT_TRUE(edge.ok);
    EXPECT_EQ(edge.values[4], std::floor(5.0 / kSpacing) + 1);
}

TEST(MeasureLine, TiltedLineWithOutliersAndInvalidPointsIsExact) {
    const double slope = 0.3, offset = 2.0;
    auto p = Make([&](double x) { return slope * x + offset; });
    for (int i = 0; i < kPoints; i += 10)
        p[static_cast<std::size_t>(i)].z += (i % 20 ? 4.0f : -3.0f); // 10 % spikes
    for (int i = 5; i < kPoints; i += 37)
        p[static_cast<std::size_t>(i)].valid = false;
    const auto r = RunOne(Tool(ToolKind::Line, R(-50, 50)), p);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_NEAR(r.values[0], Deg(std::atan(slope)), 1e-5);
    EXPECT_NEAR(r.values[1], offset, kMicron);
    EXPECT_LT(r.values[2], kMicron);
    EXPECT_LT(r.values[3], kMicron);
    EXPECT_NEAR(r.values[4], kPoints - kPoints / 10 - kPoints / 37, 2);
}

TEST(MeasureLine, StraightnessIsTheLargestDeviationOfARipple) {
    // Ripple of amplitude 0.05 mm over whole periods on a tilted base: nothing is
    // rejected (its spread is 1.05 x amplitude); the largest deviation is the
    // amplitude plus what the least-squares line's small tilt against the
    // ripple adds at the ends (a few per cent).
    const double a = 0.05;
    const auto p =
        Make([&](double x) { return 0.1 * x + a * std::sin(2 * std::numbers::pi * x / 5.0); });
    const auto r = RunOne(Tool(ToolKind::Line, R(-50, 50)), p);
    ASSERT_TRUE(r.ok);
    EXPECT_NEAR(r.values[3], a, 0.06 * a);
    EXPECT_NEAR(r.values[2], a / std::sqrt(2.0), 0.02 * a);
    EXPECT_NEAR(r.values[0], Deg(std::atan(0.1)), 0.01);
}

TEST(MeasureLine, TooFewPointsOrOneXGiveReasons) {
    auto p = Make([](double) { return 0.0; });
    const auto one = RunOne(Tool(ToolKind::Line, R(0.0, 0.06)), p);
    EXPECT_FALSE(one.ok);
    EXPECT_STREQ(one.reason, "fewer than 2 valid points in the region");
    for (auto &pt : p)
        pt.x = 1.0f;
    const auto same = RunOne(Tool(ToolKind::Line, R(0, 2)), p);
    EXPECT_FALSE(same.ok);
    EXPECT_STREQ(same.reason, "the points of the region share one X");
}

TEST(MeasureStep, DifferenceOfTheLinesAtTheReferenceX) {
    // Tilted base with a 1.5 mm step at x = 0.
    const auto p = Make([](double x) { return 0.1 * x + (x > 0 ? 1.5 : 0.0); });
    auto t = Tool(ToolKind::Step, R(-40, -5), R(5, 40));
    const auto r = RunOne(t, p);
    ASSERT_TRUE(r.ok);
    EXPECT_NEAR(r.values[0], 1.5, kMicron);
    EXPECT_NEAR(r.values[1], 0.0, 1e-12); // halfway between the centres
    // Lines of different tilt: the difference depends on X and is taken there.
    const auto q = Make([](double x) { return x < 0 ? 0.0 : 0.2 * x + 1.0; });
    t.referenceX = 10.0;
    const auto s = RunOne(t, q);
    ASSERT_TRUE(s.ok);
    EXPECT_NEAR(s.values[0], 3.0, kMicron);
    EXPECT_EQ(s.values[1], 10.0);
    // Either region empty: the reason of the fit.
    t.second = R(60, 70);
    EXPECT_STREQ(RunOne(t, q).reason, "no valid points in the region");
}

TEST(MeasureEdge, InterpolatedOnSlopesAndWithinHalfASpacingOnVerticalEdges) {
    // A ramp from z = 0 to z = 2 between x = 3 and x = 5: the crossing of
    // level 1 at x = 4 lies on a straight piece between samples: exact.
    const auto ramp = Make([](double x) { return std::clamp((x - 3.0), 0.0, 2.0); });
    auto t = Tool(ToolKind::Edge, R(-20, 20));
    t.level = 1.0;
    t.direction = EdgeDirection::Rising;
    auto r = RunOne(t, ramp);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_NEAR(r.values[0], 4.0, kMicron);
    EXPECT_NEAR(r.values[1], 1.0, kMicron);
    t.direction = EdgeDirection::Falling;
    EXPECT_STREQ(RunOne(t, ramp).reason, "edge not found");

    // A vertical edge at x = 3.3 lies between two samples; at mid-height the
    // interpolation gives their midpoint, within half a spacing of the truth.
    const auto wall = Make([](double x) { return x < 3.3 ? 5.0 : 1.0; });
    t.level = 3.0;
    r = RunOne(t, wall);
    ASSERT_TRUE(r.ok);
    EXPECT_NEAR(r.values[0], 3.3, kSpacing / 2);

    // First and last of several crossings; a level relative to a tilted base.
    const auto teeth = Make(
        [](double x) { return 0.05 * x + ((x > -10 && x < -8) || (x > 8 && x < 10) ? 1.0 : 0.0); });
    t.level = 0.5;
    t.levelBase = {R(-40, -20), R(20, 40)};
    t.direction = EdgeDirection::Any;
    t.pick = EdgePick::First;
    r = RunOne(t, teeth);
    ASSERT_TRUE(r.ok);
    EXPECT_NEAR(r.values[0], -10.0, kSpacing / 2);
    t.pick = EdgePick::Last;
    r = RunOne(t, teeth);
    ASSERT_TRUE(r.ok);
    EXPECT_NEAR(r.values[0], 10.0, kSpacing / 2);
    EXPECT_NEAR(r.values[1], 0.05 * r.values[0] + 0.5, kMicron);
}

TEST(MeasureWidth, GrooveAndBeadBetweenTheirOutermostEdges) {
    // Trapezoid groove 1 mm deep: walls from x = -3 to -2 and 2 to 3, floor
    // between; at half depth the width is 5 mm, the walls straight: exact.
    const auto groove = Make([](double x) {
        const double ax = std::fabs(x);
        return ax >= 3 ? 0.0 : ax <= 2 ? -1.0 : -(3 - ax);
    });
    auto t = Tool(ToolKind::Width, R(-20, 20));
    t.level = -0.5;
    t.polarity = Polarity::Groove;
    auto r = RunOne(t, groove);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_NEAR(r.values[0], 5.0, kMicron);
    EXPECT_NEAR(r.values[1], 0.0, kMicron);
    EXPECT_NEAR(r.values[2], -2.5, kMicron);
    EXPECT_NEAR(r.values[3], 2.5, kMicron);
    t.polarity = Polarity::Bead;
    EXPECT_FALSE(RunOne(t, groove).ok);

    // Rectangular bead 2 mm high from x = -4.1 to 6.2 with a dip inside that
    // crosses the level: the outermost edges count; vertical walls lie
    // between samples, each edge within half a spacing.
    auto bead =
        Make([](double x) { return x > -4.1 && x < 6.2 ? (x > 0 && x < 0.5 ? 0.2 : 2.0) : 0.0; });
    t.level = 1.0;
    r = RunOne(t, bead);
    ASSERT_TRUE(r.ok);
    EXPECT_NEAR(r.values[2], -4.1, kSpacing / 2);
    EXPECT_NEAR(r.values[3], 6.2, kSpacing / 2);
    EXPECT_NEAR(r.values[0], 10.3, kSpacing);
    // Relative to a base 0.5 mm above the floor the bead starts at the same walls.
    t.levelBase = {R(-40, -10), R(10, 40)};
    t.level = 0.5;
    r = RunOne(t, bead);
    ASSERT_TRUE(r.ok);
    EXPECT_NEAR(r.values[0], 10.3, kSpacing);
    // A region holding only the left wall: no right edge.
    t.region = R(-20, -1);
    EXPECT_STREQ(RunOne(t, bead).reason, "right edge not found");
    // A Z window below the level hides the bead: no left edge either.
    t.region.zMax = 1.0;
    EXPECT_STREQ(RunOne(t, bead).reason, "left edge not found");
}

TEST(MeasureGap, InvalidGapAndVisibleFloorGiveEdgesAndFlush) {
    // Left surface z = 0.05x, right surface 0.3 mm higher, no points between
    // x = -1 and 1.5 (the scanner sees nothing in the gap).
    auto p = Make([](double x) { return 0.05 * x + (x > 0 ? 0.3 : 0.0); });
    for (int i = 0; i < kPoints; ++i)
        if (XAt(i) > -1.0 && XAt(i) < 1.5)
            p[static_cast<std::size_t>(i)].valid = false;
    auto t = Tool(ToolKind::Gap, R(-30, -3), R(3, 30));
    auto r = RunOne(t, p);
    ASSERT_TRUE(r.ok) << r.reason;
    // The edges are the last points seen: within one spacing of the true edges.
    EXPECT_NEAR(r.values[3], -1.0, kSpacing);
    EXPECT_NEAR(r.values[4], 1.5, kSpacing);
    EXPECT_NEAR(r.values[0], 2.5, 2 * kSpacing);
    EXPECT_NEAR(r.values[2], 0.5 * (r.values[3] + r.values[4]), 1e-9);
    EXPECT_NEAR(r.values[1], 0.3, kMicron); // parallel surfaces: flush anywhere
    EXPECT_TRUE(r.passed);

    // A visible floor 3 mm down, reached by sloped walls 1 mm wide that start
    // on samples (x0 = sample 480 and its mirror): the edges are where the
    // walls leave their surface by the tolerance (0.2 mm), on straight pieces.
    const double x0 = XAt(480);
    const auto floor = Make([&](double x) {
        const double ax = std::fabs(x);
        if (ax >= -x0)
            return 0.0;
        return ax <= -x0 - 1.0 ? -3.0 : -3.0 * (-x0 - ax);
    });
    t.region = R(-30, -4);
    t.second = R(4, 30);
    r = RunOne(t, floor);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_NEAR(r.values[3], x0 + 0.2 / 3.0, kMicron);
    EXPECT_NEAR(r.values[4], -x0 - 0.2 / 3.0, kMicron);
    EXPECT_NEAR(r.values[1], 0.0, kMicron);

    // No gap: the surfaces meet without parting.
    const auto flat = Make([](double) { return 0.0; });
    EXPECT_FALSE(RunOne(t, flat).ok);
}

TEST(MeasureAngle, VGrooveOpeningAndVertex) {
    // 90-degree V with its vertex at (2, -3), tilted arms of 45 degrees.
    const auto v = Make([](double x) { return -3.0 + std::fabs(x - 2.0); });
    auto t = Tool(ToolKind::Angle, R(-30, -2), R(6, 30));
    auto r = RunOne(t, v);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_NEAR(r.values[0], 90.0, 1e-4);
    EXPECT_NEAR(r.values[1], 2.0, kMicron);
    EXPECT_NEAR(r.values[2], -3.0, kMicron);
    // Regions in either order: the same angle.
    std::swap(t.region, t.second);
    EXPECT_NEAR(RunOne(t, v).values[0], 90.0, 1e-4);
    // A 60-degree V (arms at 60 degrees from horizontal): opening 60.
    const double s = std::tan(std::numbers::pi / 3);
    const auto narrow = Make([&](double x) { return s * std::fabs(x); });
    EXPECT_NEAR(RunOne(Tool(ToolKind::Angle, R(-10, -1), R(1, 10)), narrow).values[0], 60.0, 1e-4);
    // Parallel lines have no intersection.
    const auto flat = Make([](double) { return 1.0; });
    EXPECT_STREQ(RunOne(t, flat).reason, "the lines are parallel: no intersection");
}

TEST(MeasureArea, PiecewiseLinearBeadAndGrooveAreExact) {
    // Triangle bead 2 mm high on a tilted base, its corners on samples
    // (indices 400, 500, 620): the trapezoid rule is exact there.
    const double xa = XAt(400), xc = XAt(500), xb = XAt(620), h = 2.0;
    const auto bump = [&](double x) {
        if (x <= xa || x >= xb)
            return 0.0;
        return x <= xc ? h * (x - xa) / (xc - xa) : h * (xb - x) / (xb - xc);
    };
    const auto p = Make([&](double x) { return 0.1 * x + bump(x); });
    auto t = Tool(ToolKind::Area, R(-20, 30));
    t.areaBase = {R(-45, -25), R(35, 45)};
    auto r = RunOne(t, p);
    ASSERT_TRUE(r.ok) << r.reason;
    EXPECT_NEAR(r.values[0], 0.5 * (xb - xa) * h, kMicron);
    EXPECT_NEAR(r.values[1], 0.0, kMicron);
    // Fixed base: the same tilt given as angle and offset.
    t.areaBase.clear();
    t.baseAngleDeg = Deg(std::atan(0.1));
    t.baseOffset = 0.0;
    r = RunOne(t, p);
    ASSERT_TRUE(r.ok);
    EXPECT_NEAR(r.values[0], 0.5 * (xb - xa) * h, kMicron);

    // A groove below and a bead above a level base; a crossing inside a
    // segment is split where it crosses (the S-curve z = x on [-1, 1] gives
    // 0.5 above and 0.5 below whatever the sampling).
    const auto s = Make([](double x) { return std::clamp(x, -1.0, 1.0); });
    auto u = Tool(ToolKind::Area, R(-1, 1));
    r = RunOne(u, s);
    ASSERT_TRUE(r.ok);
    // The region's ends are the samples inside it, at most one spacing in.
    const double first = XAt(static_cast<int>(std::ceil((-1 - kX0) / kSpacing)));
    const double last = XAt(static_cast<int>(std::floor((1 - kX0) / kSpacing)));
    EXPECT_NEAR(r.values[0], 0.5 * last * last, kMicron);
    EXPECT_NEAR(r.values[1], 0.5 * first * first, kMicron);
    EXPECT_NEAR(r.values[2], r.values[0] - r.values[1], 1e-12);
}

TEST(MeasureProfileOrder, ReversedAndShuffledPacketsGiveTheSameResults) {
    const auto p = Make([](double x) { return 0.1 * x + (x > 0 ? 1.5 : 0.0); });
    auto reversed = p;
    std::reverse(reversed.begin(), reversed.end());
    auto shuffled = p;
    std::mt19937 rng(3);
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    const auto t = Tool(ToolKind::Step, R(-40, -5), R(5, 40));
    const double expect = RunOne(t, p).values[0];
    EXPECT_NEAR(RunOne(t, reversed).values[0], expect, 1e-9);
    EXPECT_NEAR(RunOne(t, shuffled).values[0], expect, 1e-9);
}

TEST(MeasureLimits, PassFailAndNoResultPerLimit) {
    const auto p = Make([](double x) { return x > 0 ? 1.0 : 0.0; });
    auto t = Tool(ToolKind::Step, R(-40, -5), R(5, 40));
    t.limits = {{0, 0.9, 1.1}, {0, 1.05, std::nan("")}, {1, std::nan(""), -1.0}};
    qz417::measure::Job job;
    job.tools = {t};
    auto missing = Tool(ToolKind::Height, R(60, 70));
    missing.name = "missing";
    missing.limits = {{0, 0.0, 1.0}};
    job.tools.push_back(missing);
    qz417::measure::Measurer m(job);
    const auto &r = m.Measure(p);
    ASSERT_EQ(r.tools[0].limits.size(), 3u);
    EXPECT_EQ(r.tools[0].limits[0], LimitState::Pass);
    EXPECT_EQ(r.tools[0].limits[1], LimitState::Fail);
    EXPECT_EQ(r.tools[0].limits[2], LimitState::Fail);
    EXPECT_FALSE(r.tools[0].passed);
    EXPECT_EQ(r.tools[1].limits[0], LimitState::NoResult);
    EXPECT_FALSE(r.passed);

    // A job whose limits hold passes; the same Measurer measures again.
    qz417::measure::Job good;
    t.limits = {{0, 0.9, 1.1}};
    good.tools = {t};
    qz417::measure::Measurer ok(good);
    EXPECT_TRUE(ok.Measure(p).passed);
    EXPECT_TRUE(ok.Measure(p).tools[0].passed);
}

TEST(MeasureArrays, XAndZArraysWithNaNMatchTheProfilePoints) {
    auto p = Make([](double x) { return 0.2 * x; });
    std::vector<double> x(kPoints), z(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        x[static_cast<std::size_t>(i)] = p[static_cast<std::size_t>(i)].x;
        z[static_cast<std::size_t>(i)] = p[static_cast<std::size_t>(i)].z;
    }
    for (int i = 0; i < kPoints; i += 3) {
        p[static_cast<std::size_t>(i)].valid = false;
        z[static_cast<std::size_t>(i)] = std::nan("");
    }
    qz417::measure::Job job;
    job.tools = {Tool(ToolKind::Height, R(-10, 10))};
    qz417::measure::Measurer a(job), b(job);
    const auto &ra = a.Measure(p);
    const auto &rb = b.Measure(x, z);
    for (int k = 0; k < 5; ++k)
        EXPECT_DOUBLE_EQ(ra.tools[0].values[static_cast<std::size_t>(k)],
                         rb.tools[0].values[static_cast<std::size_t>(k)]);
}

} // namespace
} // namespace qz417::measuretest
