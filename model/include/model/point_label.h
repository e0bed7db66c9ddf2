// The text label of a chart point: X in fixed-point notation, rounded to
// three significant digits, with three digits after a '.' (12.3456 -> "12.300").
#pragma once

#include <string>

namespace qz417 {

std::string PointLabelText(double x);

} // namespace qz417
