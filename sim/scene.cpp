#include "scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qz417::sim {

namespace {
constexpr double kBeltSpeed = 120; // mm/s
constexpr double kBeltLoop = 800;  // mm until the objects come round again
constexpr double kBeltDepth = 0.7; // belt surface at this share of the range
} // namespace

Scene::Scene(const SceneGeometry &g) : g_(g) {
    beltZ_ = kBeltDepth * g_.rangeZ;
    tiltSlope_ = std::tan(g_.mountTiltDeg * std::numbers::pi / 180.0);
    xScale_ = fieldWidth(beltZ_) / 200.0; // objects are laid out for a 200 mm wide field
    hScale_ = g_.rangeZ / 250.0;
}

double Scene::fieldWidth(double z) const {
    if (g_.rangeZ <= 0)
        return g_.rangeXEmr;
    return g_.rangeXSmr + (g_.rangeXEmr - g_.rangeXSmr) * z / g_.rangeZ;
}

double Scene::rowOf(double z) const {
    return g_.rangeZ > 0 ? z / g_.rangeZ * (511.0) : 0;
}

double Scene::objectHeight(double x, double s) const {
    double h = 0;
    // A box with a flat top.
    if (s >= 40 && s <= 130 && x >= -75 * xScale_ && x <= -25 * xScale_)
        h = std::max(h, 45 * hScale_);
    // A ball: its cross-section grows and shrinks as it passes.
    const double radius = 38 * xScale_, centre = 40 * xScale_;
    const double d = s - 260;
    if (std::abs(d) < radius) {
        const double rho2 = radius * radius - d * d;
        const double dx = x - centre;
        if (dx * dx < rho2)
            h = std::max(h, std::min(std::sqrt(rho2 - dx * dx), 0.6 * beltZ_));
    }
    // A wedge rising from left to right.
    const double x0 = -40 * xScale_, x1 = 70 * xScale_;
    if (s >= 400 && s <= 480 && x >= x0 && x <= x1)
        h = std::max(h, (10 + 40 * (x - x0) / (x1 - x0)) * hScale_);
    // Three more boxes of different heights, partly side by side, so that a
    // height map of the passing belt shows steps, edges and shadows.
    struct Box {
        double s0, s1, x0, x1, height;
    };
    static constexpr Box kBoxes[] = {
        {540, 620, 10, 80, 70},   // tall
        {560, 700, -90, -40, 15}, // flat and long
        {660, 760, -20, 45, 30},  // medium
    };
    for (const Box &b : kBoxes)
        if (s >= b.s0 && s <= b.s1 && x >= b.x0 * xScale_ && x <= b.x1 * xScale_)
            h = std::max(h, b.height * hScale_);
    return h;
}

SurfaceSample Scene::sampleColumn(double column, double tSec) const {
    const double u = column / 640.0 - 0.5;
    const double s = std::fmod(kBeltSpeed * std::max(tSec, 0.0), kBeltLoop);
    // The field widens with Z, so the lateral position depends on the depth
    // at which the ray meets the surface: a few fixed-point steps settle it.
    SurfaceSample p;
    double z = beltZ_;
    for (int i = 0; i < 4; ++i) {
        p.x = u * fieldWidth(z);
        const double h = objectHeight(p.x, s);
        z = beltZ_ + p.x * tiltSlope_ - h;
        p.onBelt = h <= 0;
    }
    p.z = z;
    return p;
}

} // namespace qz417::sim
