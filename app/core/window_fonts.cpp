#include "core/window_fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace qz417 {

namespace {

// The first family of the list the font database knows; empty when none.
QString FirstAvailable(const QStringList &families) {
    const QStringList known = QFontDatabase::families();
    for (const QString &f : families)
        if (known.contains(f, Qt::CaseInsensitive))
            return f;
    return {};
}

} // namespace

QFont WindowFont() {
    QString family = FirstAvailable(
        {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans"});
    QFont font(family.isEmpty() ? QStringLiteral("Sans Serif") : family);
    font.setPixelSize(11);
    return font;
}

QFont MemoFont() {
    QString family = FirstAvailable({"Arial Narrow", "Liberation Sans Narrow"});
    QFont font;
    if (!family.isEmpty()) {
        font = QFont(family);
    } else {
        // DejaVu (and most sans families) carry a condensed face.
        family = FirstAvailable({"DejaVu Sans Condensed", "DejaVu Sans", "Liberation Sans"});
        font = QFont(family.isEmpty() ? QStringLiteral("Sans Serif") : family);
        font.setStretch(QFont::Condensed);
    }
    font.setPixelSize(16);
    return font;
}

} // namespace qz417
