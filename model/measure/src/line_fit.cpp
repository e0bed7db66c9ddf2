#include "model/measure/line_fit.h"

#include <algorithm>
#include <cmath>

namespace qz::measure {

namespace {

// Residuals below this (mm) always count as on the line: the float rounding
// of decoded points (about 1e-5 mm at 250 mm) must not reject points of an
// exact line whose robust spread is 0.
constexpr double kResidualFloor = 1e-4;

} // namespace

Workspace::Workspace(std::size_t points)
    : xs(points), zs(points), scratch(points), keep(points), points_(points) {}

void Workspace::Finish(bool ascending, bool descending) {
    auto begin = points_.begin();
    auto end = begin + static_cast<std::ptrdiff_t>(count_);
    if (ascending)
        return;
    if (descending) {
        std::reverse(begin, end);
        return;
    }
    std::stable_sort(begin, end, [](const Point &a, const Point &b) { return a.x < b.x; });
}

void Workspace::Load(std::span<const ProfilePoint> profile) {
    if (profile.size() > points_.size()) {
        points_.resize(profile.size());
        xs.resize(profile.size());
        zs.resize(profile.size());
        scratch.resize(profile.size());
        keep.resize(profile.size());
    }
    count_ = 0;
    bool ascending = true, descending = true;
    for (std::size_t i = 0; i < profile.size(); ++i) {
        const ProfilePoint &p = profile[i];
        if (!p.valid || !std::isfinite(p.x) || !std::isfinite(p.z))
            continue;
        const double x = p.x;
        if (count_ > 0) {
            ascending = ascending && x >= points_[count_ - 1].x;
            descending = descending && x <= points_[count_ - 1].x;
        }
        points_[count_++] = Point{x, static_cast<double>(p.z), static_cast<int>(i)};
    }
    Finish(ascending, descending);
}

void Workspace::Load(std::span<const double> x, std::span<const double> z) {
    const std::size_t n = std::min(x.size(), z.size());
    if (n > points_.size()) {
        points_.resize(n);
        xs.resize(n);
        zs.resize(n);
        scratch.resize(n);
        keep.resize(n);
    }
    count_ = 0;
    bool ascending = true, descending = true;
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(z[i]))
            continue;
        if (count_ > 0) {
            ascending = ascending && x[i] >= points_[count_ - 1].x;
            descending = descending && x[i] <= points_[count_ - 1].x;
        }
        points_[count_++] = Point{x[i], z[i], static_cast<int>(i)};
    }
    Finish(ascending, descending);
}

std::pair<std::size_t, std::size_t> Workspace::Span(const Region &r) const {
    const Point *b = points_.data();
    const Point *e = b + count_;
    const Point *first =
        std::lower_bound(b, e, r.xMin, [](const Point &p, double x) { return p.x < x; });
    const Point *last =
        std::upper_bound(first, e, r.xMax, [](double x, const Point &p) { return x < p.x; });
    return {static_cast<std::size_t>(first - b), static_cast<std::size_t>(last - b)};
}

std::size_t Workspace::Collect(std::span<const Region> regions) {
    std::size_t n = 0;
    for (const Region &r : regions) {
        const auto [first, last] = Span(r);
        for (std::size_t i = first; i < last && n < xs.size(); ++i) {
            const Point &p = points_[i];
            if (p.z < r.zMin || p.z > r.zMax)
                continue;
            xs[n] = p.x;
            zs[n] = p.z;
            ++n;
        }
    }
    return n;
}

double MedianInPlace(double *v, std::size_t n) {
    const std::size_t mid = n / 2;
    std::nth_element(v, v + mid, v + n);
    const double upper = v[mid];
    if (n % 2 == 1)
        return upper;
    const double lower = *std::max_element(v, v + mid);
    return 0.5 * (lower + upper);
}

Line FitLine(Workspace &ws, std::span<const Region> regions, const FitOptions &options) {
    Line line;
    const std::size_t n = ws.Collect(regions);
    line.used = static_cast<int>(n);
    if (n == 0) {
        line.reason = "no valid points in the region";
        return line;
    }
    if (n < 2) {
        line.reason = "fewer than 2 valid points in the region";
        return line;
    }
    const double *x = ws.xs.data();
    const double *z = ws.zs.data();
    unsigned char *keep = ws.keep.data();
    std::fill(keep, keep + n, 1);

    const int iterations = std::max(1, options.maxIterations);
    for (int iteration = 0; iteration < iterations; ++iteration) {
        // Least squares on the kept points, X and Z centred on their means.
        double sx = 0.0, sz = 0.0;
        std::size_t m = 0;
        for (std::size_t i = 0; i < n; ++i)
            if (keep[i]) {
                sx += x[i];
                sz += z[i];
                ++m;
            }
        if (m < 2) {
            line.reason = "fewer than 2 points left after rejecting outliers";
            line.ok = false;
            return line;
        }
        const double mx = sx / static_cast<double>(m), mz = sz / static_cast<double>(m);
        double sxx = 0.0, sxz = 0.0;
        for (std::size_t i = 0; i < n; ++i)
            if (keep[i]) {
                const double dx = x[i] - mx;
                sxx += dx * dx;
                sxz += dx * (z[i] - mz);
            }
        if (options.level) {
            line.slope = 0.0;
        } else if (!(sxx > 0.0)) {
            line.reason = "the points of the region share one X";
            line.ok = false;
            return line;
        } else {
            line.slope = sxz / sxx;
        }
        line.intercept = mz - line.slope * mx;
        line.inliers = static_cast<int>(m);
        line.ok = true;
        line.reason = nullptr;

        // Robust spread of all residuals; rejection against it.
        double *r = ws.scratch.data();
        for (std::size_t i = 0; i < n; ++i)
            r[i] = std::fabs(z[i] - line.At(x[i]));
        const double sigma = 1.4826 * MedianInPlace(r, n);
        const double threshold = std::max(options.rejectSigma * sigma, kResidualFloor);
        bool changed = false;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char k = std::fabs(z[i] - line.At(x[i])) <= threshold ? 1 : 0;
            changed = changed || k != keep[i];
            keep[i] = k;
        }
        if (!changed)
            break;
    }
    // Statistics of the points kept by the final line (as fitted).
    double ss = 0.0, largest = 0.0;
    std::size_t m = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (keep[i]) {
            const double d = z[i] - line.At(x[i]);
            ss += d * d;
            largest = std::max(largest, std::fabs(d));
            ++m;
        }
    if (m == 0) {
        line.ok = false;
        line.reason = "fewer than 2 points left after rejecting outliers";
        return line;
    }
    line.rms = std::sqrt(ss / static_cast<double>(m));
    line.largestDeviation = largest;
    line.inliers = static_cast<int>(m);
    return line;
}

} // namespace qz::measure
