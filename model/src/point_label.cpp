#include "model/point_label.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace qz417 {

std::string PointLabelText(double x) {
    if (!std::isfinite(x))
        return std::to_string(x);
    // std::to_chars ignores the locale, so the separator is always '.'.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 2);
    double rounded = 0.0;
    std::from_chars(buf, res.ptr, rounded);
    res = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, 3);
    std::string text(buf, res.ptr);
    // A negative value that rounds to zero is shown without its sign.
    if (text == "-0.000")
        text.erase(0, 1);
    return text;
}

} // namespace qz417
