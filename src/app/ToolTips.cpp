#include "app/ToolTips.h"

#include <QFontMetrics>
#include <QTextDocument>
#include <QToolTip>

namespace rszorvik {

QString readableToolTip(const QString& text) {
    if (text.isEmpty() || Qt::mightBeRichText(text)) return text;
    const QFontMetrics metrics(QToolTip::font());
    const int width = metrics.averageCharWidth() * 60;
    if (metrics.horizontalAdvance(text) <= width) return text;
    // A table of that width: Qt would otherwise pick a narrow column of its own for wrapped rich text.
    return QStringLiteral("<table width=\"%1\"><tr><td>%2</td></tr></table>")
        .arg(width)
        .arg(text.toHtmlEscaped());
}

}  // namespace rszorvik
