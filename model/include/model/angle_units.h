// Angles in the scanner's units: 32767 units are 60 degrees.
#pragma once

#include <cstdint>
#include <string>

namespace qz417 {

constexpr std::int16_t kAngleOutOfRange = -32768; // "no angle found" reply

// v * 60 * (1/32767) in extended precision, rounded once to float.
float AngleDegrees(std::int16_t units);
// Fixed point, three decimals, '.' as separator: 0.002, -60.000.
std::string FormatDegrees(float degrees);

// Caption of the angle group: "Angle: <setting>°; Calculate: <calculated>°",
// or "Angle: <setting>°; Calculate: Out of range" when the scanner found no
// angle (kAngleOutOfRange).
std::string AngleCaption(std::int16_t setting, std::int16_t calculated);

} // namespace qz417
