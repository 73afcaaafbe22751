#include "app/ToolTips.h"

#include <QTextDocument>

namespace rszorvik {

QString readableToolTip(const QString& text) {
    if (text.isEmpty() || Qt::mightBeRichText(text)) return text;
    return QStringLiteral("<qt>") + text.toHtmlEscaped() + QStringLiteral("</qt>");
}

}  // namespace rszorvik
