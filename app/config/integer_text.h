// Conversion of typed numbers, as every numeric edit of the window uses it.
#pragma once

#include <cstdint>
#include <optional>

#include <QString>

class QWidget;

namespace qz417 {

// A decimal integer: an optional sign followed by one or more digits, nothing
// else (no spaces, no prefixes); it must fit in 32 bits. Anything else is not
// a number.
std::optional<std::int32_t> ParseInteger(const QString &text);

// "'<text>' is not a valid integer value" in an error message box (modal).
void ShowConversionError(QWidget *parent, const QString &text);

// What leaving a numeric edit does with its text, for a field that holds
// `current` and admits 0 ... limit.
struct TypedNumber {
    bool valid = false;      // false: the text is not a number, nothing is stored
    QString text;            // the text the edit shows afterwards
    std::uint32_t value = 0; // the number to store (valid only)
};

// Empty text stands for the current value; a number outside 0 ... limit
// (negative or above the limit) is replaced by the current value; text that
// is no decimal integer is reported back unchanged with valid == false.
TypedNumber ResolveTypedNumber(const QString &text, std::uint32_t current, std::uint32_t limit);

} // namespace qz417
