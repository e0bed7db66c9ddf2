#include "config/integer_text.h"

#include <QMessageBox>

namespace qz417 {

std::optional<std::int32_t> ParseInteger(const QString &text) {
    int i = 0;
    const int n = static_cast<int>(text.size());
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == n)
        return std::nullopt;
    std::int64_t value = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > 2147483648LL)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

void ShowConversionError(QWidget *parent, const QString &text) {
    QMessageBox::critical(parent, QStringLiteral("QZ417 Setup Program."),
                          QStringLiteral("'%1' is not a valid integer value").arg(text));
}

TypedNumber ResolveTypedNumber(const QString &text, std::uint32_t current, std::uint32_t limit) {
    TypedNumber out;
    out.text = text.isEmpty() ? QString::number(current) : text;
    const std::optional<std::int32_t> number = ParseInteger(out.text);
    if (!number)
        return out;
    out.valid = true;
    if (*number < 0 || static_cast<std::uint32_t>(*number) > limit) {
        out.text = QString::number(current);
        out.value = current;
    } else {
        out.value = static_cast<std::uint32_t>(*number);
    }
    return out;
}

} // namespace qz417
