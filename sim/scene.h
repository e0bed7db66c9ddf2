// The synthetic scene in front of the emulated scanner: a conveyor belt seen
// under a small mounting tilt, carrying boxes of different heights, a ball
// and a wedge that pass through the laser plane over and over. Pure geometry in millimetres; the
// camera model maps it to image columns and rows.
#pragma once

namespace qz417::sim {

struct SceneGeometry {
    double rangeZ = 250;     // measuring range along Z, mm
    double rangeXSmr = 140;  // field width at Z = 0, mm
    double rangeXEmr = 230;  // field width at Z = rangeZ, mm
    double mountTiltDeg = 3; // tilt of the scanner against the belt
};

struct SurfaceSample {
    double x = 0;       // mm across the laser line
    double z = 0;       // mm along the measuring range
    bool onBelt = true; // false where an object lies
};

class Scene {
public:
    explicit Scene(const SceneGeometry &g);

    // Where the laser line lies in image column `column` (0..640, fractional)
    // at time t seconds.
    SurfaceSample sampleColumn(double column, double tSec) const;
    // Image row (0..511, fractional) on which a point at Z appears.
    double rowOf(double z) const;
    const SceneGeometry &geometry() const { return g_; }
    bool usable() const { return g_.rangeZ > 0 && g_.rangeXSmr > 0 && g_.rangeXEmr > 0; }

private:
    double fieldWidth(double z) const;
    // Height of objects above the belt at lateral x, belt position s (mm).
    double objectHeight(double x, double s) const;

    SceneGeometry g_;
    double beltZ_;
    double tiltSlope_;
    double xScale_;
    double hScale_;
};

} // namespace qz417::sim
