#include "model/measure/line_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "model/vector_clones.h"

namespace qz417::measure {

namespace {

// Loops over every point work on four values at a time (model/vector_clones.h).
using Lanes = vec::Doubles4;
using Masks = vec::Masks4;

// Residuals below this (mm) always count as on the line: the float rounding
// of decoded points (about 1e-5 mm at 250 mm) must not reject points of an
// exact line whose robust spread is 0.
constexpr double kResidualFloor = 1e-4;

// Whether x steps down anywhere in x[0, n) (x[i] < x[i - 1]; with down
// false, whether it steps up: x[i] > x[i - 1]), four neighbours compared at
// once, without branches.
QZ417_VECTOR_CLONES
bool AnyStep(const double *x, std::size_t n, bool down) {
    Masks any = {};
    std::size_t i = 1;
    for (; i + 4 <= n; i += 4) {
        Lanes a, b;
        std::memcpy(&a, x + i - 1, sizeof a);
        std::memcpy(&b, x + i, sizeof b);
        any |= down ? (b < a) : (b > a);
    }
    bool found = (any[0] | any[1] | any[2] | any[3]) != 0;
    for (; i < n; ++i)
        found = found || (down ? x[i] < x[i - 1] : x[i] > x[i - 1]);
    return found;
}

// Copies the valid points of p[0, size) to x, z and index (room for size
// each) and returns their count. Each point is written at n (n <= i) and
// counted when valid, without branches; four points at a time where all
// four are valid (nearly every block on the scanner).
QZ417_VECTOR_CLONES
std::size_t LoadPoints(const ProfilePoint *p, std::size_t size, double *x, double *z, int *index) {
    const auto one = [&](std::size_t i, std::size_t n) {
        x[n] = p[i].x;
        z[n] = p[i].z;
        index[n] = static_cast<int>(i);
        return static_cast<std::size_t>(p[i].valid) &
               static_cast<std::size_t>(std::isfinite(p[i].x)) &
               static_cast<std::size_t>(std::isfinite(p[i].z));
    };
    constexpr double kMax = std::numeric_limits<double>::max();
    const Lanes most = {kMax, kMax, kMax, kMax};
    std::size_t n = 0, i = 0;
    for (; i + 4 <= size; i += 4) {
        const ProfilePoint *q = p + i;
        const Lanes vx = {q[0].x, q[1].x, q[2].x, q[3].x};
        const Lanes vz = {q[0].z, q[1].z, q[2].z, q[3].z};
        // Finite: |v| <= the largest double (false for infinities and NaN).
        const Masks finite = (vx <= most) & (-vx <= most) & (vz <= most) & (-vz <= most);
        if (q[0].valid && q[1].valid && q[2].valid && q[3].valid &&
            (finite[0] & finite[1] & finite[2] & finite[3]) != 0) {
            std::memcpy(x + n, &vx, sizeof vx);
            std::memcpy(z + n, &vz, sizeof vz);
            const int at = static_cast<int>(i);
            const int indices[4] = {at, at + 1, at + 2, at + 3};
            std::memcpy(index + n, indices, sizeof indices);
            n += 4;
            continue;
        }
        for (std::size_t j = i; j < i + 4; ++j)
            n += one(j, n);
    }
    for (; i < size; ++i)
        n += one(i, n);
    return n;
}

} // namespace

QZ417_VECTOR_CLONES
Spread SpreadOf(const double *v, std::size_t n) {
    Lanes sum = {}, lo = {v[0], v[0], v[0], v[0]}, hi = lo;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Lanes a;
        std::memcpy(&a, v + i, sizeof a);
        sum += a;
        lo = a < lo ? a : lo;
        hi = a > hi ? a : hi;
    }
    for (std::size_t l = 0; i < n; ++i, ++l) {
        sum[l] += v[i];
        lo[l] = std::min(lo[l], v[i]);
        hi[l] = std::max(hi[l], v[i]);
    }
    return {std::min(std::min(lo[0], lo[1]), std::min(lo[2], lo[3])),
            std::max(std::max(hi[0], hi[1]), std::max(hi[2], hi[3])),
            (sum[0] + sum[1]) + (sum[2] + sum[3])};
}

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
    ones.assign(gathered, 1.0);
}

void Workspace::ReserveRegions(std::size_t regionsPerFit) {
    regionsPerFit_ = std::max(regionsPerFit_, std::max<std::size_t>(1, regionsPerFit));
    Grow(x_.size());
}

void Workspace::Order() {
    // On the scanner every profile runs along X.
    double *x = x_.data();
    double *z = z_.data();
    int *index = index_.data();
    const std::size_t n = count_;
    if (!AnyStep(x, n, true))
        return;
    if (!AnyStep(x, n, false)) {
        std::reverse(x, x + n);
        std::reverse(z, z + n);
        std::reverse(index, index + n);
        return;
    }
    // Out of order: sorted by X, ties in packet order (the index breaks
    // them, so no stable sort and none of its buffer is needed). A profile
    // with a few points folded back, as at a steep edge, sorts by insertion
    // in place in about one pass; one that takes more moves than a few
    // passes is sorted whole.
    const auto before = [](double ax, int ai, double bx, int bi) {
        return ax < bx || (ax == bx && ai < bi);
    };
    const std::size_t budget = 8 * n;
    std::size_t moves = 0;
    for (std::size_t i = 1; i < n && moves <= budget; ++i) {
        if (!before(x[i], index[i], x[i - 1], index[i - 1]))
            continue;
        const double px = x[i], pz = z[i];
        const int pi = index[i];
        std::size_t j = i;
        for (; j > 0 && before(px, pi, x[j - 1], index[j - 1]) && moves <= budget; --j, ++moves) {
            x[j] = x[j - 1];
            z[j] = z[j - 1];
            index[j] = index[j - 1];
        }
        x[j] = px;
        z[j] = pz;
        index[j] = pi;
    }
    if (moves <= budget)
        return;
    Point *s = staging_.data();
    for (std::size_t i = 0; i < n; ++i)
        s[i] = Point{x[i], z[i], index[i]};
    std::sort(s, s + n,
              [&](const Point &a, const Point &b) { return before(a.x, a.index, b.x, b.index); });
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = s[i].x;
        z[i] = s[i].z;
        index[i] = s[i].index;
    }
}

void Workspace::Load(std::span<const ProfilePoint> profile) {
    Grow(profile.size());
    double *x = x_.data();
    double *z = z_.data();
    int *index = index_.data();
    count_ = LoadPoints(profile.data(), profile.size(), x, z, index);
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

namespace {

bool AnyZ(const Region &r) {
    return std::isinf(r.zMin) && r.zMin < 0 && std::isinf(r.zMax) && r.zMax > 0;
}

} // namespace

Gathered Workspace::Gather(std::span<const Region> regions) {
    // The points of a region run along X: its least X is its first, its
    // greatest its last.
    if (regions.size() == 1 && AnyZ(regions[0])) {
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
        if (AnyZ(r)) {
            // Every point of the span: copied whole.
            const std::size_t count = std::min(last - first, gx_.size() - n);
            std::memcpy(gx_.data() + n, x_.data() + first, count * sizeof(double));
            std::memcpy(gz_.data() + n, z_.data() + first, count * sizeof(double));
            n += count;
        } else
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

// Sums over all n points, of X and Z less (x0, z0): four running sums per
// quantity (point i goes to sum i % 4), added as (s0 + s1) + (s2 + s3). Four
// independent sums let the additions overlap instead of each waiting for
// the one before; the order is fixed, so the result is too.
QZ417_VECTOR_CLONES
FitSums SumAll(const double *x, const double *z, std::size_t n, double x0, double z0) {
    // Lane l of each vector holds the sum of the points i % 4 == l.
    Lanes sx = {}, sz = {}, sxx = {}, sxz = {};
    const Lanes ox = {x0, x0, x0, x0}, oz = {z0, z0, z0, z0};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Lanes vx, vz;
        std::memcpy(&vx, x + i, sizeof vx);
        std::memcpy(&vz, z + i, sizeof vz);
        const Lanes dx = vx - ox, dz = vz - oz;
        sx += dx;
        sz += dz;
        sxx += dx * dx;
        sxz += dx * dz;
    }
    for (std::size_t l = 0; i < n; ++i, ++l) {
        const double dx = x[i] - x0, dz = z[i] - z0;
        sx[l] += dx;
        sz[l] += dz;
        sxx[l] += dx * dx;
        sxz[l] += dx * dz;
    }
    const auto total = [](const Lanes &v) { return (v[0] + v[1]) + (v[2] + v[3]); };
    return {n, total(sx), total(sz), total(sxx), total(sxz)};
}

// next[i] = 1.0 where |z - line(x)| <= threshold, else 0.0.
QZ417_VECTOR_CLONES
void Classify(const double *x, const double *z, std::size_t n, double slope, double intercept,
              double threshold, double *next) {
    const Lanes s = {slope, slope, slope, slope}, b = {intercept, intercept, intercept, intercept};
    const Lanes t = {threshold, threshold, threshold, threshold};
    const Lanes one = {1.0, 1.0, 1.0, 1.0};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Lanes vx, vz;
        std::memcpy(&vx, x + i, sizeof vx);
        std::memcpy(&vz, z + i, sizeof vz);
        const Lanes d = vz - (s * vx + b);
        // |d| <= t as d <= t and -d <= t: all bits set where it holds.
        const Masks within = (d <= t) & (-d <= t);
        const Lanes flags = (Lanes)(within & (Masks)one);
        std::memcpy(next + i, &flags, sizeof flags);
    }
    for (; i < n; ++i)
        next[i] = std::fabs(z[i] - (slope * x[i] + intercept)) <= threshold ? 1.0 : 0.0;
}

// |z - line(x)| of every stride-th point into r; returns their count.
// Four points at a time, gathered from their strided places.
QZ417_VECTOR_CLONES
std::size_t Residuals(const double *x, const double *z, std::size_t n, std::size_t stride,
                      double slope, double intercept, double *r) {
    const Lanes s = {slope, slope, slope, slope}, b = {intercept, intercept, intercept, intercept};
    const Masks magnitude = {~(1LL << 63), ~(1LL << 63), ~(1LL << 63), ~(1LL << 63)};
    std::size_t i = 0, k = 0;
    for (; i + 3 * stride < n; i += 4 * stride, k += 4) {
        const Lanes vx = {x[i], x[i + stride], x[i + 2 * stride], x[i + 3 * stride]};
        const Lanes vz = {z[i], z[i + stride], z[i + 2 * stride], z[i + 3 * stride]};
        const Lanes d = (Lanes)((Masks)(vz - (s * vx + b)) & magnitude);
        std::memcpy(r + k, &d, sizeof d);
    }
    for (; i < n; i += stride)
        r[k++] = std::fabs(z[i] - (slope * x[i] + intercept));
    return k;
}

// The sums of all points less those of the points not kept (few: the
// outliers), taken in point order.
FitSums WithoutRejected(const FitSums &all, const double *x, const double *z, const double *keep,
                        std::size_t n, double x0, double z0) {
    FitSums out;
    const auto subtract = [&](std::size_t i) {
        const double dx = x[i] - x0, dz = z[i] - z0;
        ++out.n;
        out.x += dx;
        out.z += dz;
        out.xx += dx * dx;
        out.xz += dx * dz;
    };
    // Eight points at a time: most blocks keep all eight, and the bits of
    // eight 1.0s ANDed together are those of 1.0.
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t bits[8];
        std::memcpy(bits, keep + i, sizeof bits);
        if (((bits[0] & bits[1]) & (bits[2] & bits[3])) &
            ((bits[4] & bits[5]) & (bits[6] & bits[7])))
            continue;
        for (std::size_t j = i; j < i + 8; ++j)
            if (keep[j] == 0.0)
                subtract(j);
    }
    for (; i < n; ++i)
        if (keep[i] == 0.0)
            subtract(i);
    return {all.n - out.n, all.x - out.x, all.z - out.z, all.xx - out.xx, all.xz - out.xz};
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
    // Which points a round keeps: 1.0 kept, 0.0 rejected (as doubles, so
    // that classifying the points compiles to vector compares). The first
    // round keeps all: the workspace's row of ones.
    const double *keep = ws.ones.data();
    double *next = ws.keep.data();
    double *spare = ws.keepNext.data();

    // Sums of X and Z less the first point's (so that large coordinates lose
    // no precision in the squares): over all points once, and each round
    // the sums of all less those of the points it rejects.
    const double x0 = x[0], z0 = z[0];
    const FitSums all = SumAll(x, z, n, x0, z0);
    FitSums sums = all;
    const double xLow = points.xLow, xHigh = points.xHigh;
    // The robust spread is taken from 65 to 128 residuals (every stride-th
    // point): as good an estimate, far cheaper to select from. (Fewer make
    // the threshold wander, and the fit takes more rounds.)
    const std::size_t stride = (n + 127) / 128;

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
        // moving the line: stop once it moves by less than 5 % of the spread.
        // (With 1 %, leaving out a single 3-spread point of 300 was enough
        // to take a round more, which only confirmed the same points.)
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

        // Robust spread of the residuals, and which points lie within it.
        const double slope = line.slope, intercept = line.intercept;
        double *r = ws.scratch.data();
        const std::size_t k = Residuals(x, z, n, stride, slope, intercept, r);
        const double sigma = 1.4826 * MedianInPlace(r, k);
        previousSigma = sigma;
        const double threshold = std::max(options.rejectSigma * sigma, kResidualFloor);
        Classify(x, z, n, slope, intercept, threshold, next);
        if (std::memcmp(keep, next, n * sizeof *keep) == 0)
            break; // the line was fitted on exactly these points
        keep = next;
        std::swap(next, spare);
        sums = WithoutRejected(all, x, z, keep, n, x0, z0);
    }
    if (!statistics)
        return line; // inliers already counts the kept points
    // Statistics of the points the final line was fitted on.
    double ss = 0.0, largest = 0.0;
    std::size_t m = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (keep[i] != 0.0) {
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
