// The window's two fonts: the form's default font and the information memo's
// narrow font, each the first of a list of families that the system has.
#pragma once

#include <QFont>

namespace qz417 {

// "MS Sans Serif" 11 px, else a close sans-serif at 11 px.
QFont WindowFont();
// "Arial Narrow" 16 px, else a condensed sans-serif at 16 px.
QFont MemoFont();

} // namespace qz417
