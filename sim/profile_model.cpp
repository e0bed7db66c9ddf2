#include "profile_model.h"

#include "noise.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qz417::sim {

namespace {
constexpr int kMinBeltPointsForAngle = 64;
constexpr double kZNoiseMm = 0.04;
constexpr double kDropoutShare = 0.005;
} // namespace

Exposure exposureFor(const ConfigFields &f) {
    Exposure e;
    e.brightness = (f.laserLevel / 16.0) * (f.integrationUs / 500.0);
    if (e.brightness <= 0) {
        e.invalidShare = 1;
        return e;
    }
    const double dark = std::clamp((0.35 - e.brightness) / 0.30, 0.0, 1.0);
    const double saturated = std::clamp((e.brightness - 1.8) / 2.5, 0.0, 0.95);
    e.invalidShare = std::max({dark, saturated, kDropoutShare});
    return e;
}

PixelWindow pixelWindow(const ConfigFields &f) {
    PixelWindow w;
    w.left = f.windowLeft * 640 / 255;
    w.right = w.left + f.windowWidth * 640 / 255;
    w.top = f.windowTop * 512 / 255;
    w.bottom = w.top + f.windowHeight * 512 / 255;
    return w;
}

std::int16_t degreesToAngleUnits(double degrees) {
    const double units = std::round(degrees * kAngleUnitsPer60Deg / 60.0);
    return static_cast<std::int16_t>(std::clamp(units, -32767.0, 32767.0));
}

Measurement measure(const Scene &scene, const ConfigFields &f, const DescriptionOptions &d,
                    std::uint64_t index, double tSec) {
    Measurement m;
    const std::int16_t err = d.errorValue;
    for (RawPoint &p : m.points)
        p = {err, err};
    const SceneGeometry &g = scene.geometry();
    if (!scene.usable() || d.discreteValue == 0)
        return m;

    const Exposure e = exposureFor(f);
    const PixelWindow w = pixelWindow(f);
    const double phi = f.angleUnits * 60.0 / kAngleUnitsPer60Deg * std::numbers::pi / 180.0;
    const double cosPhi = std::cos(phi), sinPhi = std::sin(phi);
    const double zMid = g.rangeZ / 2;
    const double zScale = d.discreteValue / g.rangeZ;
    const double xScale = d.discreteValue / g.rangeXEmr;
    const std::uint64_t seed = mix64(index);

    // Least-squares line through the belt points, for the angle.
    double n = 0, sx = 0, sz = 0, sxx = 0, sxz = 0;

    for (int i = 0; i < kPointCount; ++i) {
        const double column = (i + 0.5) * 640.0 / kPointCount;
        const SurfaceSample s = scene.sampleColumn(column, tSec);
        if (!w.contains(column, scene.rowOf(s.z)))
            continue;
        if (uniform01(seed, static_cast<std::uint64_t>(i)) < e.invalidShare)
            continue;
        const double z = s.z + kZNoiseMm * roughGauss(seed + 1, static_cast<std::uint64_t>(i));
        if (s.onBelt) {
            n += 1;
            sx += s.x;
            sz += z;
            sxx += s.x * s.x;
            sxz += s.x * z;
        }
        const double xr = s.x * cosPhi - (z - zMid) * sinPhi;
        const double zr = zMid + s.x * sinPhi + (z - zMid) * cosPhi;
        if (zr < 0 || zr > g.rangeZ)
            continue; // outside the measuring range
        const double zRaw = std::round(zr * zScale), xRaw = std::round(xr * xScale);
        if (zRaw < -32768 || zRaw > 32767 || xRaw < -32768 || xRaw > 32767)
            continue;
        // A valid coordinate must never read as the error value.
        auto avoidError = [err](double v) {
            auto r = static_cast<std::int16_t>(v);
            if (r == err)
                r = static_cast<std::int16_t>(r == 32767 ? r - 1 : r + 1);
            return r;
        };
        m.points[static_cast<std::size_t>(i)] = {avoidError(zRaw), avoidError(xRaw)};
        ++m.validPoints;
    }

    const double det = n * sxx - sx * sx;
    if (n >= kMinBeltPointsForAngle && det > 1e-9) {
        const double slope = (n * sxz - sx * sz) / det;
        m.angleUnits = degreesToAngleUnits(std::atan(slope) * 180.0 / std::numbers::pi);
    }
    return m;
}

} // namespace qz417::sim
