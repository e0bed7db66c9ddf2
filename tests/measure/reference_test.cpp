// The library's measuring path (points loaded once, regions found by binary
// search, lines shared between tools, scratch reused) against the plain
// reference on randomised profiles and jobs: every value, reason and limit
// state must be the same, bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "profiles.h"
#include "reference_measurer.h"

namespace qz417::measuretest {
namespace {

namespace ms = qz417::measure;

// Plates with a step, a V groove or a bead, noise, outliers, runs of
// invalid points; now and then quantised, reversed, shuffled or tilted.
std::vector<qz417::ProfilePoint> RandomProfile(std::mt19937 &rng, std::size_t points) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, u(rng) < 0.2 ? 0.0 : 0.005 + 0.05 * u(rng));
    const double base = 50.0 + 150.0 * u(rng);
    const double tilt = u(rng) < 0.5 ? 0.0 : 0.2 * (u(rng) - 0.5);
    const double step = 10.0 * (u(rng) - 0.5);
    const double featureX = 40.0 * (u(rng) - 0.5);
    const double featureW = 2.0 + 15.0 * u(rng);
    const double featureD = 12.0 * (u(rng) - 0.5);
    const bool quantise = u(rng) < 0.3;
    std::vector<qz417::ProfilePoint> p(points);
    int invalidRun = 0;
    for (std::size_t i = 0; i < points; ++i) {
        const double x = -50.0 + 100.0 * static_cast<double>(i) / static_cast<double>(points - 1);
        double z = base + tilt * x + (x > featureX + featureW ? step : 0.0) + noise(rng);
        const double off = std::fabs(x - featureX);
        if (off < featureW)
            z += featureD * (1.0 - off / featureW);
        if (u(rng) < 0.01)
            z += 20.0 * (u(rng) - 0.5); // an outlier
        if (quantise)
            z = std::round(z * 64.0) / 64.0;
        if (invalidRun == 0 && u(rng) < 0.01)
            invalidRun = 1 + static_cast<int>(u(rng) * 20);
        const bool valid = invalidRun == 0;
        invalidRun = std::max(0, invalidRun - 1);
        p[i] = {valid, static_cast<float>(x), static_cast<float>(z)};
    }
    const double order = u(rng);
    if (order < 0.1)
        std::reverse(p.begin(), p.end());
    else if (order < 0.15)
        std::shuffle(p.begin(), p.end(), rng);
    return p;
}

ms::Region RandomRegion(std::mt19937 &rng, bool mayHaveZ) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    ms::Region r;
    const double c = 110.0 * (u(rng) - 0.5);
    const double w = u(rng) < 0.05 ? 0.05 : 1.0 + 40.0 * u(rng);
    r.xMin = c - w / 2;
    r.xMax = c + w / 2;
    if (mayHaveZ && u(rng) < 0.25) {
        const double z = 50.0 + 150.0 * u(rng);
        const double h = 5.0 + 80.0 * u(rng);
        if (u(rng) < 0.8)
            r.zMin = z - h;
        r.zMax = z + h;
    }
    return r;
}

std::vector<ms::Region> RandomRegions(std::mt19937 &rng) {
    std::vector<ms::Region> out(1 + rng() % 3);
    for (auto &r : out)
        r = RandomRegion(rng, true);
    return out;
}

ms::Job RandomJob(std::mt19937 &rng) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    ms::Job job;
    // Every kind, some twice, with regions shared now and then so that
    // lines are shared between tools.
    ms::Region shared = RandomRegion(rng, true);
    for (int k = 0; k < 2 * ms::kToolKinds; ++k) {
        if (k >= ms::kToolKinds && u(rng) < 0.5)
            continue;
        ms::ToolSetup t;
        t.kind = static_cast<ms::ToolKind>(k % ms::kToolKinds);
        t.name = "t" + std::to_string(k);
        t.region = u(rng) < 0.3 ? shared : RandomRegion(rng, true);
        t.second = u(rng) < 0.2 ? shared : RandomRegion(rng, true);
        if (u(rng) < 0.3) {
            t.fit.rejectSigma = 1.0 + 5.0 * u(rng);
            t.fit.maxIterations = 1 + static_cast<int>(rng() % 12);
            t.fit.level = u(rng) < 0.2;
        }
        if (u(rng) < 0.5)
            t.referenceX = 60.0 * (u(rng) - 0.5);
        t.level = u(rng) < 0.5 ? 50.0 + 150.0 * u(rng) : 10.0 * (u(rng) - 0.5);
        if (u(rng) < 0.5)
            t.levelBase = u(rng) < 0.3 ? std::vector<ms::Region>{shared} : RandomRegions(rng);
        t.direction = static_cast<ms::EdgeDirection>(rng() % 3);
        t.pick = static_cast<ms::EdgePick>(rng() % 2);
        t.polarity = static_cast<ms::Polarity>(rng() % 2);
        t.gapTolerance = 0.01 + 2.0 * u(rng);
        if (u(rng) < 0.6)
            t.areaBase = RandomRegions(rng);
        t.baseAngleDeg = 20.0 * (u(rng) - 0.5);
        t.baseOffset = 50.0 + 150.0 * u(rng);
        const int outputs = ms::InfoOf(t.kind).outputCount;
        t.limits.push_back({static_cast<int>(rng() % static_cast<unsigned>(outputs)),
                            100.0 * u(rng), 100.0 + 100.0 * u(rng)});
        job.tools.push_back(t);
    }
    return job;
}

bool SameBits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

std::string Differences(const ms::JobResult &got, const ms::JobResult &want, const ms::Job &job) {
    std::string out;
    if (got.tools.size() != want.tools.size())
        return "tool count differs";
    for (std::size_t t = 0; t < got.tools.size(); ++t) {
        const ms::ToolResult &g = got.tools[t], &w = want.tools[t];
        const std::string at = job.tools[t].name + " (" + ms::InfoOf(job.tools[t].kind).name + ")";
        if (g.ok != w.ok)
            out += at + ": ok " + std::to_string(g.ok) + " vs " + std::to_string(w.ok) + "\n";
        if ((g.reason == nullptr) != (w.reason == nullptr) ||
            (g.reason && std::strcmp(g.reason, w.reason) != 0))
            out += at + ": reason " + (g.reason ? g.reason : "-") + " vs " +
                   (w.reason ? w.reason : "-") + "\n";
        for (std::size_t v = 0; v < g.values.size(); ++v)
            if (!SameBits(g.values[v], w.values[v]))
                out += at + ": value " + std::to_string(v) + " " + std::to_string(g.values[v]) +
                       " vs " + std::to_string(w.values[v]) + "\n";
        if (g.limits != w.limits || g.passed != w.passed)
            out += at + ": limits differ\n";
    }
    if (got.passed != want.passed)
        out += "passed differs\n";
    return out;
}

TEST(MeasureReference, TheLibraryGivesTheReferencesBitsOnRandomProfilesAndJobs) {
    std::mt19937 rng(20261209);
    int compared = 0, withResult = 0;
    for (int j = 0; j < 60; ++j) {
        const ms::Job job = RandomJob(rng);
        ms::Measurer measurer(job);
        // The same Measurer over many profiles: nothing of one may stay for the next.
        for (int k = 0; k < 25; ++k) {
            const std::size_t points = k % 10 == 9 ? 1500 : qz417::kProfilePoints;
            const auto profile = RandomProfile(rng, points);
            const ms::JobResult &got = measurer.Measure(profile);
            const ms::JobResult want = MeasureReference(job, profile);
            const std::string diff = Differences(got, want, job);
            ASSERT_TRUE(diff.empty()) << "job " << j << " profile " << k << ":\n"
                                      << diff << ms::JobToJson(job);
            ++compared;
            for (const auto &t : want.tools)
                withResult += t.ok;
        }
    }
    EXPECT_EQ(compared, 60 * 25);
    // The random jobs must exercise the tools, not only their failures.
    EXPECT_GT(withResult, compared * 4);
}

TEST(MeasureReference, TheBenchmarksJobGivesTheReferencesBits) {
    // Every tool with a result on plates with a V groove (as bench/suite measures).
    const ms::Job job = ms::ParseJob(R"({"format": "qz417-measure-job", "version": 1, "tools": [
      {"name": "plate", "tool": "height", "region": {"x": [-45, -15]}},
      {"name": "flatness", "tool": "line", "region": {"x": [-45, -15]}},
      {"name": "step", "tool": "step", "regions": [{"x": [-45, -15]}, {"x": [15, 45]}]},
      {"name": "edge", "tool": "edge", "region": {"x": [-15, 0]}, "level": -2, "levelBase": [{"x": [-45, -15]}], "direction": "falling"},
      {"name": "groove", "tool": "width", "region": {"x": [-15, 15]}, "level": -2, "levelBase": [{"x": [-45, -15]}, {"x": [15, 45]}], "polarity": "groove"},
      {"name": "joint", "tool": "gap", "regions": [{"x": [-45, -12]}, {"x": [12, 45]}], "tolerance": 0.3},
      {"name": "vee", "tool": "angle", "regions": [{"x": [-9, -2]}, {"x": [2, 9]}]},
      {"name": "fill", "tool": "area", "region": {"x": [-12, 12]}, "base": [{"x": [-45, -15]}, {"x": [15, 45]}]}
    ]})");
    ms::Measurer measurer(job);
    std::mt19937 rng(7);
    for (int k = 0; k < 50; ++k) {
        std::normal_distribution<double> noise(0.0, 0.02);
        std::vector<qz417::ProfilePoint> p(qz417::kProfilePoints);
        for (int i = 0; i < qz417::kProfilePoints; ++i) {
            const double x = XAt(i);
            double z = 100.0 + (x > 0 ? 0.3 : 0.0) + noise(rng);
            if (std::fabs(x) < 10.0)
                z -= 8.0 * (1.0 - std::fabs(x) / 10.0);
            p[static_cast<std::size_t>(i)] = {i % 97 != 13, static_cast<float>(x),
                                              static_cast<float>(z)};
        }
        const ms::JobResult want = MeasureReference(job, p);
        for (const auto &t : want.tools)
            ASSERT_TRUE(t.ok) << t.reason;
        const std::string diff = Differences(measurer.Measure(p), want, job);
        ASSERT_TRUE(diff.empty()) << "profile " << k << ":\n" << diff;
    }
}

TEST(MeasureReference, LoadKeepsTheValidFinitePointsWhereverTheyFallInAFourPointBlock) {
    // Profiles of 1 to 11 points; each point valid and finite, invalid,
    // or marked valid with an infinite or NaN coordinate, in every
    // combination of the first block and at random after it.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::mt19937 rng(11);
    ms::Workspace ws(16);
    for (std::size_t size = 1; size <= 11; ++size)
        for (int pattern = 0; pattern < 256; ++pattern) {
            std::vector<qz417::ProfilePoint> p(size);
            std::vector<int> want;
            for (std::size_t i = 0; i < size; ++i) {
                const int kind = i < 4 ? (pattern >> (2 * i)) & 3 : static_cast<int>(rng() % 4);
                const float x = static_cast<float>(i) - 5.0f, z = 100.0f + static_cast<float>(i);
                p[i] = {kind != 1, kind == 2 ? inf : x, kind == 3 ? nan : z};
                if (kind == 0)
                    want.push_back(static_cast<int>(i));
            }
            ws.Load(p);
            const ms::PointsView got = ws.points();
            ASSERT_EQ(got.size(), want.size()) << "size " << size << " pattern " << pattern;
            for (std::size_t k = 0; k < want.size(); ++k) {
                const auto i = static_cast<std::size_t>(want[k]);
                EXPECT_EQ(got[k].index, want[k]);
                EXPECT_EQ(got[k].x, static_cast<double>(p[i].x));
                EXPECT_EQ(got[k].z, static_cast<double>(p[i].z));
            }
        }
}

TEST(MeasureReference, OutOfOrderProfilesSortByXWithTiesInPacketOrder) {
    // Nearly in order (a few points folded back, runs of equal X) and
    // shuffled: the points come out as a stable sort by X would put them.
    std::mt19937 rng(5);
    ms::Workspace ws(qz417::kProfilePoints);
    for (int k = 0; k < 40; ++k) {
        std::vector<qz417::ProfilePoint> p(qz417::kProfilePoints);
        for (std::size_t i = 0; i < p.size(); ++i)
            p[i] = {rng() % 50 != 0, static_cast<float>(std::floor(static_cast<double>(i) / 3.0)),
                    static_cast<float>(i)};
        if (k % 4 == 3) {
            std::shuffle(p.begin(), p.end(), rng);
        } else {
            for (int fold = 0; fold < 1 + k; ++fold) {
                const std::size_t at = rng() % (p.size() - 8);
                std::swap(p[at], p[at + 1 + rng() % 6]);
            }
        }
        std::vector<std::pair<double, int>> want;
        for (std::size_t i = 0; i < p.size(); ++i)
            if (p[i].valid)
                want.push_back({p[i].x, static_cast<int>(i)});
        std::stable_sort(want.begin(), want.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
        ws.Load(p);
        const ms::PointsView got = ws.points();
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            ASSERT_EQ(got[i].x, want[i].first) << "profile " << k << " point " << i;
            ASSERT_EQ(got[i].index, want[i].second) << "profile " << k << " point " << i;
        }
    }
}

} // namespace
} // namespace qz417::measuretest
