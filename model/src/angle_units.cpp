#include "model/angle_units.h"

#include <charconv>

namespace qz417 {

namespace {
constexpr long double kDegreesPerUnit = 1.0L / 32767.0L;
} // namespace

float AngleDegrees(std::int16_t units) {
    const long double degrees = static_cast<long double>(units) * 60.0L * kDegreesPerUnit;
    return static_cast<float>(degrees);
}

std::string FormatDegrees(float degrees) {
    // to_chars ignores the C locale, so the separator is always a point.
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, degrees, std::chars_format::fixed, 3);
    std::string out(text, result.ptr);
    if (out == "-0.000") // a value that rounds to zero shows no sign
        out = "0.000";
    return out;
}

std::string AngleCaption(std::int16_t setting, std::int16_t calculated) {
    std::string caption = "Angle: " + FormatDegrees(AngleDegrees(setting)) + "\u00B0; Calculate: ";
    if (calculated == kAngleOutOfRange)
        caption += "Out of range";
    else
        caption += FormatDegrees(AngleDegrees(calculated)) + "\u00B0";
    return caption;
}

} // namespace qz417
