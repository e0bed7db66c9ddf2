#include "reference_measurer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace qz417::measuretest {

namespace {

namespace ms = qz417::measure;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Pt {
    double x;
    double z;
    int index;
};

// The valid points in X order, and how many a set of regions may gather.
struct Profile {
    std::vector<Pt> points;
    std::size_t capacity;
};

Profile Valid(std::span<const qz417::ProfilePoint> profile) {
    Profile out;
    out.capacity = std::max<std::size_t>(qz417::kProfilePoints, profile.size());
    for (std::size_t i = 0; i < profile.size(); ++i) {
        const qz417::ProfilePoint &p = profile[i];
        if (p.valid && std::isfinite(p.x) && std::isfinite(p.z))
            out.points.push_back({p.x, static_cast<double>(p.z), static_cast<int>(i)});
    }
    const auto byX = [](const Pt &a, const Pt &b) { return a.x < b.x; };
    const auto descending = [](const Pt &a, const Pt &b) { return a.x > b.x; };
    if (std::is_sorted(out.points.begin(), out.points.end(), byX))
        return out;
    if (std::is_sorted(out.points.begin(), out.points.end(), descending))
        std::reverse(out.points.begin(), out.points.end());
    else
        std::stable_sort(out.points.begin(), out.points.end(), byX);
    return out;
}

// [first, last) of the points with X inside the region's X range.
std::pair<std::size_t, std::size_t> Span(const Profile &p, const ms::Region &r) {
    std::size_t first = 0;
    while (first < p.points.size() && p.points[first].x < r.xMin)
        ++first;
    std::size_t last = first;
    while (last < p.points.size() && p.points[last].x <= r.xMax)
        ++last;
    return {first, last};
}

void Gather(const Profile &p, std::span<const ms::Region> regions, std::vector<double> &x,
            std::vector<double> &z) {
    x.clear();
    z.clear();
    for (const ms::Region &r : regions) {
        const auto [first, last] = Span(p, r);
        for (std::size_t i = first; i < last && x.size() < p.capacity; ++i) {
            const Pt &q = p.points[i];
            if (q.z < r.zMin || q.z > r.zMax)
                continue;
            x.push_back(q.x);
            z.push_back(q.z);
        }
    }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t mid = v.size() / 2;
    return v.size() % 2 == 1 ? v[mid] : 0.5 * (v[mid - 1] + v[mid]);
}

ms::Line Fit(const Profile &p, std::span<const ms::Region> regions, const ms::FitOptions &options) {
    ms::Line line;
    std::vector<double> x, z;
    Gather(p, regions, x, z);
    const std::size_t n = x.size();
    line.used = static_cast<int>(n);
    if (n == 0) {
        line.reason = "no valid points in the region";
        return line;
    }
    if (n < 2) {
        line.reason = "fewer than 2 valid points in the region";
        return line;
    }
    std::vector<unsigned char> keep(n, 1);
    const double x0 = x[0], z0 = z[0];
    // Sums over all points in four running sums (point i in sum i % 4),
    // added as (s0 + s1) + (s2 + s3); each round, those of all less those of
    // the rejected points, summed in point order.
    double lx[4] = {}, lz[4] = {}, lxx[4] = {}, lxz[4] = {};
    double xLow = x0, xHigh = x0;
    for (std::size_t i = 0; i < n; ++i) {
        const double dx = x[i] - x0, dz = z[i] - z0;
        lx[i % 4] += dx;
        lz[i % 4] += dz;
        lxx[i % 4] += dx * dx;
        lxz[i % 4] += dx * dz;
        xLow = std::min(xLow, x[i]);
        xHigh = std::max(xHigh, x[i]);
    }
    const auto total = [](const double(&v)[4]) { return (v[0] + v[1]) + (v[2] + v[3]); };
    const double allN = static_cast<double>(n), allX = total(lx), allZ = total(lz),
                 allXX = total(lxx), allXZ = total(lxz);
    double sn = allN, sx = allX, sz = allZ, sxx0 = allXX, sxz0 = allXZ;
    const std::size_t stride = (n + 127) / 128;
    const int iterations = std::max(1, options.maxIterations);
    double previousSlope = 0.0, previousIntercept = 0.0, previousSigma = 0.0;
    for (int iteration = 0; iteration < iterations; ++iteration) {
        if (sn < 2) {
            line.ok = false;
            line.reason = "fewer than 2 points left after rejecting outliers";
            return line;
        }
        const double mx = sx / sn, mz = sz / sn;
        const double sxx = sxx0 - sn * mx * mx;
        const double sxz = sxz0 - sn * mx * mz;
        if (options.level) {
            line.slope = 0.0;
        } else if (!(sxx > 1e-12 * std::max(1.0, sxx0))) {
            line.ok = false;
            line.reason = "the points of the region share one X";
            return line;
        } else {
            line.slope = sxz / sxx;
        }
        line.intercept = (z0 + mz) - line.slope * (x0 + mx);
        line.inliers = static_cast<int>(sn);
        line.ok = true;
        line.reason = nullptr;
        if (iteration > 0) {
            const double moved =
                std::max(std::fabs(line.At(xLow) - (previousSlope * xLow + previousIntercept)),
                         std::fabs(line.At(xHigh) - (previousSlope * xHigh + previousIntercept)));
            if (moved <= std::max(0.05 * previousSigma, 1e-9))
                break;
        }
        previousSlope = line.slope;
        previousIntercept = line.intercept;
        if (iteration + 1 == iterations)
            break;
        std::vector<double> r;
        for (std::size_t i = 0; i < n; i += stride)
            r.push_back(std::fabs(z[i] - line.At(x[i])));
        const double sigma = 1.4826 * Median(r);
        previousSigma = sigma;
        const double threshold = std::max(options.rejectSigma * sigma, 1e-4);
        bool changed = false;
        double rn = 0, rx = 0, rz = 0, rxx = 0, rxz = 0;
        double ss = 0.0, largest = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double d = z[i] - line.At(x[i]);
            const unsigned char kept = std::fabs(d) <= threshold ? 1 : 0;
            changed = changed || kept != keep[i];
            keep[i] = kept;
            if (kept) {
                ss += d * d;
                largest = std::max(largest, std::fabs(d));
            } else {
                const double dx = x[i] - x0, dz = z[i] - z0;
                rn += 1;
                rx += dx;
                rz += dz;
                rxx += dx * dx;
                rxz += dx * dz;
            }
        }
        if (!changed) {
            line.rms = std::sqrt(ss / sn);
            line.largestDeviation = largest;
            return line;
        }
        sn = allN - rn;
        sx = allX - rx;
        sz = allZ - rz;
        sxx0 = allXX - rxx;
        sxz0 = allXZ - rxz;
    }
    double ss = 0.0, largest = 0.0;
    std::size_t m = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (keep[i]) {
            const double d = z[i] - line.At(x[i]);
            ss += d * d;
            largest = std::max(largest, std::fabs(d));
            ++m;
        }
    line.rms = std::sqrt(ss / static_cast<double>(m));
    line.largestDeviation = largest;
    line.inliers = static_cast<int>(m);
    return line;
}

double Degrees(double slope) {
    return std::atan(slope) * 180.0 / std::numbers::pi;
}

double Centre(const ms::Region &r) {
    return 0.5 * (r.xMin + r.xMax);
}

struct Level {
    double slope = 0.0;
    double intercept = 0.0;
    double At(double x) const { return slope * x + intercept; }
};

// The points of one region (X and Z bounds) in X order.
std::vector<Pt> Inside(const Profile &p, const ms::Region &r) {
    std::vector<Pt> out;
    const auto [first, last] = Span(p, r);
    for (std::size_t i = first; i < last; ++i)
        if (!(p.points[i].z < r.zMin || p.points[i].z > r.zMax))
            out.push_back(p.points[i]);
    return out;
}

struct Crossing {
    double x;
    bool rising;
};

std::vector<Crossing> Crossings(const std::vector<Pt> &points, const Level &level) {
    std::vector<Crossing> out;
    for (std::size_t i = 1; i < points.size(); ++i) {
        const Pt &a = points[i - 1], &b = points[i];
        const double pd = a.z - level.At(a.x), d = b.z - level.At(b.x);
        const bool rising = pd < 0.0 && d >= 0.0;
        const bool falling = pd >= 0.0 && d < 0.0;
        if (rising || falling)
            out.push_back({a.x + pd / (pd - d) * (b.x - a.x), rising});
    }
    return out;
}

const char *MakeLevel(const Profile &p, const ms::ToolSetup &t, Level &level) {
    level = {0.0, t.level};
    if (t.levelBase.empty())
        return nullptr;
    const ms::Line base = Fit(p, t.levelBase, t.fit);
    if (!base.ok)
        return base.reason;
    level = {base.slope, base.intercept + t.level};
    return nullptr;
}

bool SurfaceEdge(const Profile &p, const ms::Line &line, std::size_t start, int step, double stopX,
                 double tolerance, double &edge) {
    const std::vector<Pt> &points = p.points;
    std::size_t i = start;
    double pd = points[i].z - line.At(points[i].x);
    for (;;) {
        if (step > 0 ? i + 1 >= points.size() : i == 0)
            return false;
        const std::size_t j = step > 0 ? i + 1 : i - 1;
        const Pt a = points[i], b = points[j];
        if (std::abs(b.index - a.index) > 1) {
            edge = a.x;
            return true;
        }
        if (step > 0 ? b.x > stopX : b.x < stopX)
            return false;
        const double d = b.z - line.At(b.x);
        if (std::fabs(d) > tolerance) {
            const double target = d > 0.0 ? tolerance : -tolerance;
            const double t = std::clamp((target - pd) / (d - pd), 0.0, 1.0);
            edge = a.x + t * (b.x - a.x);
            return true;
        }
        pd = d;
        i = j;
    }
}

void Fail(ms::ToolResult &out, const char *reason) {
    out.ok = false;
    out.reason = reason;
}

void Run(const Profile &p, const ms::ToolSetup &t, ms::ToolResult &out) {
    const ms::Region one[] = {t.region};
    const ms::Region two[] = {t.second};
    switch (t.kind) {
    case ms::ToolKind::Height: {
        const std::vector<Pt> in = Inside(p, t.region);
        if (in.empty())
            return Fail(out, "no valid points in the region");
        std::vector<double> z;
        // The sum in four running sums (point i in sum i % 4).
        double lo = in[0].z, hi = in[0].z, sums[4] = {};
        for (const Pt &q : in) {
            sums[z.size() % 4] += q.z;
            z.push_back(q.z);
            lo = std::min(lo, q.z);
            hi = std::max(hi, q.z);
        }
        const double sum = (sums[0] + sums[1]) + (sums[2] + sums[3]);
        out.values = {lo, hi, sum / static_cast<double>(z.size()), Median(z),
                      static_cast<double>(z.size())};
        return;
    }
    case ms::ToolKind::Line: {
        const ms::Line l = Fit(p, one, t.fit);
        if (!l.ok)
            return Fail(out, l.reason);
        out.values = {Degrees(l.slope), l.intercept, l.rms, l.largestDeviation,
                      static_cast<double>(l.inliers)};
        return;
    }
    case ms::ToolKind::Step: {
        const ms::Line a = Fit(p, one, t.fit);
        if (!a.ok)
            return Fail(out, a.reason);
        const ms::Line b = Fit(p, two, t.fit);
        if (!b.ok)
            return Fail(out, b.reason);
        const double x =
            std::isnan(t.referenceX) ? 0.5 * (Centre(t.region) + Centre(t.second)) : t.referenceX;
        out.values[0] = b.At(x) - a.At(x);
        out.values[1] = x;
        return;
    }
    case ms::ToolKind::Edge:
    case ms::ToolKind::Width: {
        Level level;
        if (const char *reason = MakeLevel(p, t, level))
            return Fail(out, reason);
        const std::vector<Pt> in = Inside(p, t.region);
        if (in.empty())
            return Fail(out, "no valid points in the region");
        const std::vector<Crossing> all = Crossings(in, level);
        if (t.kind == ms::ToolKind::Edge) {
            std::vector<double> wanted;
            for (const Crossing &c : all)
                if (t.direction == ms::EdgeDirection::Any ||
                    (t.direction == ms::EdgeDirection::Rising) == c.rising)
                    wanted.push_back(c.x);
            if (wanted.empty())
                return Fail(out, "edge not found");
            const double x = t.pick == ms::EdgePick::First ? wanted.front() : wanted.back();
            out.values[0] = x;
            out.values[1] = level.At(x);
            return;
        }
        const bool leftRising = t.polarity == ms::Polarity::Bead;
        std::size_t k = 0;
        while (k < all.size() && all[k].rising != leftRising)
            ++k;
        if (k == all.size())
            return Fail(out, "left edge not found");
        const double left = all[k].x;
        double right = 0.0;
        bool haveRight = false;
        for (std::size_t j = k + 1; j < all.size(); ++j)
            if (all[j].rising != leftRising) {
                right = all[j].x;
                haveRight = true;
            }
        if (!haveRight)
            return Fail(out, "right edge not found");
        out.values = {right - left, 0.5 * (left + right), left, right, kNaN};
        return;
    }
    case ms::ToolKind::Gap: {
        const ms::Line left = Fit(p, one, t.fit);
        if (!left.ok)
            return Fail(out, left.reason);
        const ms::Line right = Fit(p, two, t.fit);
        if (!right.ok)
            return Fail(out, right.reason);
        const std::size_t lLast = Span(p, t.region).second;
        const std::size_t rFirst = Span(p, t.second).first;
        double le = 0.0, re = 0.0;
        if (!SurfaceEdge(p, left, lLast - 1, +1, t.second.xMax, t.gapTolerance, le))
            return Fail(out, "left edge not found");
        if (!SurfaceEdge(p, right, rFirst, -1, t.region.xMin, t.gapTolerance, re))
            return Fail(out, "right edge not found");
        if (!(re > le))
            return Fail(out, "edge not found: the surfaces do not part");
        const double c = 0.5 * (le + re);
        out.values = {re - le, right.At(c) - left.At(c), c, le, re};
        return;
    }
    case ms::ToolKind::Angle: {
        const ms::Line a = Fit(p, one, t.fit);
        const ms::Line b = Fit(p, two, t.fit);
        const bool swap = Centre(t.second) < Centre(t.region);
        const ms::Line &left = swap ? b : a;
        const ms::Line &right = swap ? a : b;
        if (!left.ok)
            return Fail(out, left.reason);
        if (!right.ok)
            return Fail(out, right.reason);
        const double ds = left.slope - right.slope;
        if (std::fabs(ds) < 1e-12)
            return Fail(out, "the lines are parallel: no intersection");
        const double x = (right.intercept - left.intercept) / ds;
        out.values = {180.0 + Degrees(left.slope) - Degrees(right.slope), x, left.At(x), kNaN,
                      kNaN};
        return;
    }
    case ms::ToolKind::Area: {
        Level base{std::tan(t.baseAngleDeg * std::numbers::pi / 180.0), t.baseOffset};
        if (!t.areaBase.empty()) {
            const ms::Line fitted = Fit(p, t.areaBase, t.fit);
            if (!fitted.ok)
                return Fail(out, fitted.reason);
            base = {fitted.slope, fitted.intercept};
        }
        const std::vector<Pt> in = Inside(p, t.region);
        if (in.empty())
            return Fail(out, "no valid points in the region");
        if (in.size() < 2)
            return Fail(out, "fewer than 2 valid points in the region");
        double above = 0.0, below = 0.0;
        for (std::size_t i = 1; i < in.size(); ++i) {
            const double pd = in[i - 1].z - base.At(in[i - 1].x);
            const double d = in[i].z - base.At(in[i].x);
            const double dx = in[i].x - in[i - 1].x;
            if ((pd >= 0.0) == (d >= 0.0)) {
                const double a = 0.5 * (pd + d) * dx;
                (a >= 0.0 ? above : below) += std::fabs(a);
            } else {
                const double s = pd / (pd - d);
                const double a1 = 0.5 * pd * s * dx;
                const double a2 = 0.5 * d * (1.0 - s) * dx;
                (a1 >= 0.0 ? above : below) += std::fabs(a1);
                (a2 >= 0.0 ? above : below) += std::fabs(a2);
            }
        }
        out.values = {above, below, above - below, kNaN, kNaN};
        return;
    }
    }
}

} // namespace

ms::JobResult MeasureReference(const ms::Job &job, std::span<const qz417::ProfilePoint> profile) {
    const Profile p = Valid(profile);
    ms::JobResult result;
    result.passed = true;
    for (const ms::ToolSetup &t : job.tools) {
        ms::ToolResult out;
        out.ok = true;
        out.values.fill(kNaN);
        Run(p, t, out);
        if (!out.ok)
            out.values.fill(kNaN);
        out.passed = true;
        for (const ms::Limit &limit : t.limits) {
            ms::LimitState state = ms::LimitState::NoResult;
            if (out.ok) {
                const double v = out.values[static_cast<std::size_t>(limit.output)];
                const bool low = !std::isnan(limit.min) && !(v >= limit.min);
                const bool high = !std::isnan(limit.max) && !(v <= limit.max);
                state = low || high ? ms::LimitState::Fail : ms::LimitState::Pass;
            }
            out.limits.push_back(state);
            out.passed = out.passed && state == ms::LimitState::Pass;
        }
        result.passed = result.passed && out.passed;
        result.tools.push_back(out);
    }
    return result;
}

} // namespace qz417::measuretest
