// The profile as the tools see it (valid points sorted by X) and the robust
// line fit they share. Everything works in a Workspace sized once.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "model/measure/job.h"
#include "model/profile_packet.h"

namespace qz417::measure {

// A valid point; index is its place in the packet (a jump between
// neighbours means invalid points lie between them).
struct Point {
    double x;
    double z;
    int index;
};

// Z = slope * X + intercept, fitted on `inliers` of `used` points.
struct Line {
    bool ok = false;
    const char *reason = nullptr;
    double slope = 0.0;
    double intercept = 0.0;
    double rms = 0.0;              // of the kept points
    double largestDeviation = 0.0; // largest |residual| of the kept points
    int used = 0;
    int inliers = 0;
    double At(double x) const { return slope * x + intercept; }
};

// The valid points as parallel arrays; [i] gives one as a Point.
struct PointsView {
    const double *x;
    const double *z;
    const int *index;
    std::size_t n;
    Point operator[](std::size_t i) const { return {x[i], z[i], index[i]}; }
    std::size_t size() const { return n; }
};

// Points of some regions: X and Z arrays of n points, and their least and
// greatest X (when n > 0).
struct Gathered {
    const double *x;
    const double *z;
    std::size_t n;
    double xLow = 0.0;
    double xHigh = 0.0;
};

// Sums of a line fit over its points: their count, and X and Z less the
// first point's, their squares and products.
struct FitSums {
    std::size_t n = 0;
    double x = 0, z = 0, xx = 0, xz = 0;
};

class Workspace {
public:
    explicit Workspace(std::size_t points = kProfilePoints);
    // Takes the valid points of a profile, in X order. Points run along X in
    // packet order on the scanner; a profile that does not is sorted (slower).
    void Load(std::span<const ProfilePoint> profile);
    // Same from separate arrays (NaN in either = invalid).
    void Load(std::span<const double> x, std::span<const double> z);
    // Room for fits on up to this many regions (each may hold every point).
    void ReserveRegions(std::size_t regionsPerFit);
    PointsView points() const { return {x_.data(), z_.data(), index_.data(), count_}; }
    // [first, last) of points() with X inside [xMin, xMax].
    std::pair<std::size_t, std::size_t> Span(const Region &r) const;
    // The points of the regions (X and Z bounds): for one region without Z
    // bounds the profile's own arrays, else a copy.
    Gathered Gather(std::span<const Region> regions);

    // Scratch of the fit and the tools (capacity = points times regions per fit):
    // the fit's kept points of the last round and of this one.
    std::vector<double> scratch;
    std::vector<double> keep, keepNext; // 1.0 kept, 0.0 not
    std::vector<double> ones;           // all kept

private:
    void Grow(std::size_t n);
    void Order();
    std::vector<Point> staging_; // sorting an out-of-order profile only
    std::size_t regionsPerFit_ = 1;
    std::vector<double> x_, z_, gx_, gz_;
    std::vector<int> index_;
    std::size_t count_ = 0;
};

// Robust fit on the points of the regions (see FitOptions). No result when
// fewer than 2 points remain or they share one X. Without statistics the
// line's rms and largestDeviation are not computed (a pass saved); slope,
// intercept and inliers are the same either way.
Line FitLine(Workspace &ws, std::span<const Region> regions, const FitOptions &options,
             bool statistics = true);

// Least, greatest and sum of v[0, n) (n > 0, no NaN); the sum in four
// running sums (v[i] in sum i % 4) added as (s0 + s1) + (s2 + s3).
struct Spread {
    double least;
    double greatest;
    double sum;
};
Spread SpreadOf(const double *v, std::size_t n);

// Median of v[0, n) (reorders v); n > 0.
double MedianInPlace(double *v, std::size_t n);

} // namespace qz417::measure
