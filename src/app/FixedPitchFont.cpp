#include "app/FixedPitchFont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

namespace rszorvik {

QFont fixedPitchFont(const QString& preferred) {
    const QStringList families = QFontDatabase::families();
    QFont font = !preferred.isEmpty() && families.contains(preferred)
                     ? QFont(preferred)
                     : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    if (QFontInfo(font).fixedPitch()) return font;
    QStringList candidates{QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                           QStringLiteral("Noto Mono")};
    candidates += families;
    for (const QString& family : candidates) {
        if (families.contains(family) && QFontDatabase::isFixedPitch(family)) {
            font.setFamily(family);
            break;
        }
    }
    return font;
}

}  // namespace rszorvik
