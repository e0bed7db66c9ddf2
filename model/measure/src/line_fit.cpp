#include "model/measure/line_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qz417::measure {

namespace {

// Residuals below this (mm) always count as on the line: the float rounding
// of decoded points (about 1e-5 mm at 250 mm) must not reject points of an
// exact line whose robust spread is 0.
constexpr double kResidualFloor = 1e-4;

} // namespace

Workspace::Workspace(std::size_t points) {
    Grow(points);
}

void Workspace::Grow(std::size_t n) {
    if (n <= x_.size() && n * regionsPerFit_ <= gx_.size())
        return;
    n = std::max(n, x_.size());
    staging_.resize(n);
    x_.resize(n);
    z_.resize(n);
    index_.resize(n);
    // A fit on several regions gathers each region's points, overlapping or not.
    const std::size_t gathered = n * regionsPerFit_;
    gx_.resize(gathered);
    gz_.resize(gathered);
    scratch.resize(gathered);
    keep.resize(gathered);
    keepNext.resize(gathered);
    checkpoints.resize(gathered / kFitCheckpoint + 1);
}

void Workspace::ReserveRegions(std::size_t regionsPerFit) {
    regionsPerFit_ = std::max(regionsPerFit_, std::max<std::size_t>(1, regionsPerFit));
    Grow(x_.size());
}

void Workspace::Order() {
    // Counted without branches: on the scanner every profile runs along X.
    const double *x = x_.data();
    std::size_t down = 0, up = 0;
    for (std::size_t i = 1; i < count_; ++i)
        down += x[i] < x[i - 1] ? 1 : 0;
    if (down == 0)
        return;
    for (std::size_t i = 1; i < count_; ++i)
        up += x[i] > x[i - 1] ? 1 : 0;
    const auto n = static_cast<std::ptrdiff_t>(count_);
    if (up == 0) {
        std::reverse(x_.begin(), x_.begin() + n);
        std::reverse(z_.begin(), z_.begin() + n);
        std::reverse(index_.begin(), index_.begin() + n);
        return;
    }
    // Out of order (not from the scanner): sorted by X, ties in packet order.
    for (std::size_t i = 0; i < count_; ++i)
        staging_[i] = Point{x_[i], z_[i], index_[i]};
    std::stable_sort(staging_.begin(), staging_.begin() + n,
                     [](const Point &a, const Point &b) { return a.x < b.x; });
    for (std::size_t i = 0; i < count_; ++i) {
        x_[i] = staging_[i].x;
        z_[i] = staging_[i].z;
        index_[i] = staging_[i].index;
    }
}

void Workspace::Load(std::span<const ProfilePoint> profile) {
    Grow(profile.size());
    double *x = x_.data();
    double *z = z_.data();
    int *index = index_.data();
    // Without branches: each point is written at n (n <= i) and counted when valid.
    std::size_t n = 0;
    for (std::size_t i = 0; i < profile.size(); ++i) {
        const ProfilePoint &p = profile[i];
        x[n] = p.x;
        z[n] = p.z;
        index[n] = static_cast<int>(i);
        n += static_cast<std::size_t>(p.valid) & static_cast<std::size_t>(std::isfinite(p.x)) &
             static_cast<std::size_t>(std::isfinite(p.z));
    }
    count_ = n;
    Order();
}

void Workspace::Load(std::span<const double> x, std::span<const double> z) {
    const std::size_t size = std::min(x.size(), z.size());
    Grow(size);
    std::size_t n = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(z[i]))
            continue;
        x_[n] = x[i];
        z_[n] = z[i];
        index_[n] = static_cast<int>(i);
        ++n;
    }
    count_ = n;
    Order();
}

std::pair<std::size_t, std::size_t> Workspace::Span(const Region &r) const {
    const double *b = x_.data();
    const double *e = b + count_;
    const double *first = std::lower_bound(b, e, r.xMin);
    const double *last = std::upper_bound(first, e, r.xMax);
    return {static_cast<std::size_t>(first - b), static_cast<std::size_t>(last - b)};
}

Gathered Workspace::Gather(std::span<const Region> regions) {
    // The points of a region run along X: its least X is its first, its
    // greatest its last.
    if (regions.size() == 1 && std::isinf(regions[0].zMin) && regions[0].zMin < 0 &&
        std::isinf(regions[0].zMax) && regions[0].zMax > 0) {
        const auto [first, last] = Span(regions[0]);
        if (first == last)
            return {x_.data() + first, z_.data() + first, 0};
        return {x_.data() + first, z_.data() + first, last - first, x_[first], x_[last - 1]};
    }
    Gathered out{gx_.data(), gz_.data(), 0};
    std::size_t n = 0;
    for (const Region &r : regions) {
        const std::size_t start = n;
        const auto [first, last] = Span(r);
        for (std::size_t i = first; i < last && n < gx_.size(); ++i) {
            if (z_[i] < r.zMin || z_[i] > r.zMax)
                continue;
            gx_[n] = x_[i];
            gz_[n] = z_[i];
            ++n;
        }
        if (n == start)
            continue;
        out.xLow = start == 0 ? gx_[start] : std::min(out.xLow, gx_[start]);
        out.xHigh = start == 0 ? gx_[n - 1] : std::max(out.xHigh, gx_[n - 1]);
    }
    out.n = n;
    return out;
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

namespace {

// Continues sums over the kept points of [from, n) (from a multiple of the
// checkpoint spacing; sums hold those before it), saving the sums before
// every checkpoint. The order of the additions is that of the points, so
// sums resumed from a checkpoint equal sums taken from the start.
void Accumulate(const double *x, const double *z, const unsigned char *keep, std::size_t from,
                std::size_t n, double x0, double z0, FitSums &sums, FitSums *checkpoints) {
    constexpr std::size_t kStep = Workspace::kFitCheckpoint;
    FitSums s = sums;
    for (std::size_t block = from; block < n; block += kStep) {
        checkpoints[block / kStep] = s;
        const std::size_t end = std::min(block + kStep, n);
        for (std::size_t i = block; i < end; ++i) {
            if (!keep[i])
                continue;
            const double dx = x[i] - x0, dz = z[i] - z0;
            ++s.n;
            s.x += dx;
            s.z += dz;
            s.xx += dx * dx;
            s.xz += dx * dz;
        }
    }
    sums = s;
}

} // namespace

Line FitLine(Workspace &ws, std::span<const Region> regions, const FitOptions &options,
             bool statistics) {
    Line line;
    const Gathered points = ws.Gather(regions);
    const std::size_t n = points.n;
    line.used = static_cast<int>(n);
    if (n == 0) {
        line.reason = "no valid points in the region";
        return line;
    }
    if (n < 2) {
        line.reason = "fewer than 2 valid points in the region";
        return line;
    }
    const double *x = points.x;
    const double *z = points.z;
    unsigned char *keep = ws.keep.data();
    unsigned char *next = ws.keepNext.data();
    FitSums *checkpoints = ws.checkpoints.data();

    // Sums over the kept points, of X and Z less the first point's (so that
    // large coordinates lose no precision in the squares). A round that
    // keeps other points takes them up again from the checkpoint before the
    // first point that changed; one that keeps the same ends the fit.
    const double x0 = x[0], z0 = z[0];
    FitSums sums;
    std::fill(keep, keep + n, static_cast<unsigned char>(1));
    Accumulate(x, z, keep, 0, n, x0, z0, sums, checkpoints);
    const double xLow = points.xLow, xHigh = points.xHigh;
    // The robust spread is taken from at most about 128 residuals, evenly
    // spread over the points: as good an estimate, far cheaper to sort.
    const std::size_t stride = std::max<std::size_t>(1, n / 128);

    const int iterations = std::max(1, options.maxIterations);
    double previousSlope = 0.0, previousIntercept = 0.0, previousSigma = 0.0;
    for (int iteration = 0; iteration < iterations; ++iteration) {
        if (sums.n < 2) {
            line.ok = false;
            line.reason = "fewer than 2 points left after rejecting outliers";
            return line;
        }
        const double count = static_cast<double>(sums.n);
        const double mx = sums.x / count, mz = sums.z / count;
        const double sxx = sums.xx - count * mx * mx;
        const double sxz = sums.xz - count * mx * mz;
        if (options.level) {
            line.slope = 0.0;
        } else if (!(sxx > 1e-12 * std::max(1.0, sums.xx))) {
            line.ok = false;
            line.reason = "the points of the region share one X";
            return line;
        } else {
            line.slope = sxz / sxx;
        }
        line.intercept = (z0 + mz) - line.slope * (x0 + mx);
        line.inliers = static_cast<int>(sums.n);
        line.ok = true;
        line.reason = nullptr;
        // Points on the edge of the threshold may flip in and out without
        // moving the line: stop once it moves by less than 1 % of the spread.
        if (iteration > 0) {
            const double moved =
                std::max(std::fabs(line.At(xLow) - (previousSlope * xLow + previousIntercept)),
                         std::fabs(line.At(xHigh) - (previousSlope * xHigh + previousIntercept)));
            if (moved <= std::max(0.01 * previousSigma, 1e-9))
                break;
        }
        previousSlope = line.slope;
        previousIntercept = line.intercept;
        if (iteration + 1 == iterations)
            break;

        // Robust spread of the residuals, and which points lie within it.
        const double slope = line.slope, intercept = line.intercept;
        double *r = ws.scratch.data();
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; i += stride)
            r[k++] = std::fabs(z[i] - (slope * x[i] + intercept));
        const double sigma = 1.4826 * MedianInPlace(r, k);
        previousSigma = sigma;
        const double threshold = std::max(options.rejectSigma * sigma, kResidualFloor);
        unsigned char changed = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char kept =
                std::fabs(z[i] - (slope * x[i] + intercept)) <= threshold ? 1 : 0;
            next[i] = kept;
            changed |= kept ^ keep[i];
        }
        if (!changed) {
            // The line was fitted on exactly these points: their statistics are final.
            double ss = 0.0, largest = 0.0;
            if (statistics)
                for (std::size_t i = 0; i < n; ++i)
                    if (keep[i]) {
                        const double d = z[i] - (slope * x[i] + intercept);
                        ss += d * d;
                        largest = std::max(largest, std::fabs(d));
                    }
            line.rms = std::sqrt(ss / count);
            line.largestDeviation = largest;
            return line;
        }
        const std::size_t first =
            static_cast<std::size_t>(std::mismatch(keep, keep + n, next).first - keep);
        std::swap(keep, next);
        const std::size_t from = first / Workspace::kFitCheckpoint * Workspace::kFitCheckpoint;
        sums = checkpoints[from / Workspace::kFitCheckpoint];
        Accumulate(x, z, keep, from, n, x0, z0, sums, checkpoints);
    }
    if (!statistics)
        return line; // inliers already counts the kept points
    // Statistics of the points the final line was fitted on.
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

} // namespace qz417::measure
