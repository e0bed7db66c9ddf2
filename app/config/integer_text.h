// Conversion of typed numbers, as every numeric edit of the window uses it.
#pragma once

#include <cstdint>
#include <optional>

#include <QString>

class QWidget;

namespace qz {

// A decimal integer: an optional sign followed by one or more digits, nothing
// else (no spaces, no prefixes); it must fit in 32 bits. Anything else is not
// a number.
std::optional<std::int32_t> ParseInteger(const QString &text);

// "'<text>' is not a valid integer value" in an error message box (modal).
void ShowConversionError(QWidget *parent, const QString &text);

} // namespace qz
