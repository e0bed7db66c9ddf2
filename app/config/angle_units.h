// Angles in the scanner's units: 32767 units are 60 degrees.
#pragma once

#include <cstdint>
#include <string>

namespace qz {

constexpr std::int16_t kAngleOutOfRange = -32768; // "no angle found" reply

// v * 60 * (1/32767) in extended precision, rounded once to float.
float AngleDegrees(std::int16_t units);
// Fixed point, three decimals, '.' as separator: 0.002, -60.000.
std::string FormatDegrees(float degrees);

} // namespace qz
