// What the emulated scanner measures: it turns the scene, its parameters and
// its description into one profile of raw points and into the mounting angle
// it calculates from the points it sees.
#pragma once

#include "config_block.h"
#include "emulator.h"
#include "profile_packet.h"
#include "scene.h"

#include <cstdint>

namespace qz417::sim {

// How laser level and integration time expose the camera.
struct Exposure {
    double brightness = 0;   // 1.0 at the factory settings; 0 with the laser off
    double invalidShare = 0; // share of points lost to darkness or saturation
};
Exposure exposureFor(const ConfigFields &f);

// The image window in pixels, decoded as the program decodes it.
struct PixelWindow {
    double left = 0, right = 0, top = 0, bottom = 0;
    bool contains(double column, double row) const {
        return column >= left && column <= right && row >= top && row <= bottom;
    }
};
PixelWindow pixelWindow(const ConfigFields &f);

struct Measurement {
    RawProfile points;
    int validPoints = 0;
    std::int16_t angleUnits = kNoAngle; // mounting angle seen, or kNoAngle
};

// Measurement number `index` taken at time t seconds. Valid points are
// rotated by the block's angle setting; invalid ones carry the error value in
// both coordinates. The angle is fitted to the belt before that rotation, so
// applying its negation as the angle setting levels the profile.
Measurement measure(const Scene &scene, const ConfigFields &f, const DescriptionOptions &d,
                    std::uint64_t index, double tSec);

std::int16_t degreesToAngleUnits(double degrees);

} // namespace qz417::sim
