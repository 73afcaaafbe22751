#include "app/JLabelHtml.h"

#include <QMouseEvent>

#include "app/LinkRunner.h"
#include "util/OpenHyperlinkInBrowser.h"

namespace rszorvik {

using util::OpenHyperlinkInBrowser;

JLabelHtml::JLabelHtml(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::RichText);
    // The whole label is the link; the label handles the click itself rather than the text control.
    setTextInteractionFlags(Qt::NoTextInteraction);
    setOpenExternalLinks(false);
    if (LinkRunner::isBrowsingSupported()) makeLinkable();
}

void JLabelHtml::makeLinkable() {
    setText(QString::fromStdString(OpenHyperlinkInBrowser::linkableText(text().toStdString())));
    setCursor(Qt::PointingHandCursor);
    linkable = true;
}

void JLabelHtml::mousePressEvent(QMouseEvent* event) {
    pressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void JLabelHtml::mouseReleaseEvent(QMouseEvent* event) {
    const bool clicked =
        pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed = false;
    const std::string current = text().toStdString();
    if (clicked && linkable && OpenHyperlinkInBrowser::containsHyperlink(current))
        LinkRunner::open(QString::fromStdString(OpenHyperlinkInBrowser::getPlainLink(current)));
    QLabel::mouseReleaseEvent(event);
}

void JLabelHtml::paintEvent(QPaintEvent* event) {
    // The window may set a text with or without an anchor at any time; the cursor follows at the next paint.
    const Qt::CursorShape shape = linkable && OpenHyperlinkInBrowser::containsHyperlink(text().toStdString())
                                      ? Qt::PointingHandCursor
                                      : Qt::ArrowCursor;
    if (cursor().shape() != shape) setCursor(shape);
    QLabel::paintEvent(event);
}

}  // namespace rszorvik
