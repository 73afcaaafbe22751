#include "app/EventLog.h"

#include <QEvent>
#include <QMetaObject>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextOption>
#include <QThread>
#include <algorithm>
#include <string>

#include "app/FixedPitchFont.h"
#include "app/Texts.h"
#include "base/MessageFormat.h"

namespace rszorvik {
namespace {

QFont logFont() {
    QFont font = fixedPitchFont(QStringLiteral("Courier New"));
    font.setPointSize(11);
    return font;
}

std::size_t indexOf(EventLog::Style style) {
    return static_cast<std::size_t>(style);
}

}  // namespace

EventLog::EventLog(QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName(QStringLiteral("eventLog"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    // Long lines wrap, anywhere if they must (a raw line has no spaces), so nothing hides behind a
    // horizontal scroll bar.
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFont(logFont());
    document()->setMaximumBlockCount(kMaxLines);
    addStylesToDocument();
}

void EventLog::addStylesToDocument() {
    // Typed values and unknown lines share the accent colour; unknown lines also stand out in bold. The
    // shades follow the palette so each colour keeps its contrast on light and dark backgrounds.
    const bool dark = palette().color(QPalette::Base).lightness() < 128;
    const QColor accent = dark ? QColor(0x64, 0xb5, 0xf6) : QColor(0x15, 0x65, 0xc0);
    const QColor important = dark ? QColor(0xff, 0x8a, 0x80) : QColor(0xc6, 0x28, 0x28);
    const QColor ignored = dark ? QColor(0x9e, 0x9e, 0x9e) : QColor(0x75, 0x75, 0x75);

    QTextCharFormat regular;  // the document's own colour and weight
    QTextCharFormat unknown = regular;
    unknown.setForeground(accent);
    unknown.setFontWeight(QFont::Bold);
    QTextCharFormat typed = regular;
    typed.setForeground(accent);
    QTextCharFormat importantFormat = regular;
    importantFormat.setForeground(important);
    QTextCharFormat ignoredFormat = regular;
    ignoredFormat.setForeground(ignored);

    formats[indexOf(Style::Regular)] = regular;
    formats[indexOf(Style::Unknown)] = unknown;
    formats[indexOf(Style::Important)] = importantFormat;
    formats[indexOf(Style::Typed)] = typed;
    formats[indexOf(Style::Ignored)] = ignoredFormat;
}

void EventLog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) addStylesToDocument();
    QPlainTextEdit::changeEvent(event);
}

const QTextCharFormat& EventLog::format(Style style) const {
    return formats[indexOf(style)];
}

const char* EventLog::styleName(Style style) {
    switch (style) {
        case Style::Regular:
            return "regular";
        case Style::Unknown:
            return "unknown";
        case Style::Important:
            return "important";
        case Style::Typed:
            return "typed";
        case Style::Ignored:
            return "ignored";
    }
    return "regular";
}

QString EventLog::timePrefix(const QTime& time) {
    return time.toString(QStringLiteral("HH:mm:ss "));
}

void EventLog::logLine(const QString& text, Style style) {
    append({{timePrefix(QTime::currentTime()) + text + QLatin1Char('\n'), style}});
}

std::vector<EventLog::Run> EventLog::shortened(std::vector<Run> runs) {
    qsizetype total = 0;
    for (const Run& run : runs)
        total += run.text.size();
    if (total <= kMaxLineChars) return runs;

    std::vector<Run> result;
    qsizetype length = 0;  // characters of the current line so far, shown or not
    const auto note = [&](Style style) {
        if (length <= kMaxLineChars) return;
        const std::string pattern = texts::app("line.shortened").toStdString();
        result.push_back({QLatin1Char(' ') +
                              QString::fromStdString(base::formatMessage(pattern, {std::to_string(length)})),
                          style});
    };
    for (const Run& run : runs) {
        for (qsizetype from = 0;;) {
            const qsizetype newline = run.text.indexOf(QLatin1Char('\n'), from);
            const qsizetype end = newline < 0 ? run.text.size() : newline;
            const qsizetype room = std::max<qsizetype>(0, kMaxLineChars - length);
            if (end > from && room > 0)
                result.push_back({run.text.mid(from, std::min(end - from, room)), run.style});
            length += end - from;
            if (newline < 0) break;
            note(run.style);
            result.push_back({QStringLiteral("\n"), run.style});
            length = 0;
            from = newline + 1;
        }
    }
    if (!runs.empty()) note(runs.back().style);
    return result;
}

void EventLog::append(std::vector<Run> runs) {
    if (QThread::currentThread() != thread()) {
        appendLater(std::move(runs));
        return;
    }
    flush();  // what other threads sent earlier comes first
    appendNow(shortened(std::move(runs)));
}

void EventLog::appendLater(std::vector<Run> runs) {
    // Cut before it waits: a batch of long lines would otherwise take the memory the cut saves.
    runs = shortened(std::move(runs));
    {
        const std::lock_guard lock(batchMutex);
        batch.insert(batch.end(), std::make_move_iterator(runs.begin()), std::make_move_iterator(runs.end()));
        if (flushPosted) return;
        flushPosted = true;
    }
    QMetaObject::invokeMethod(
        this, [this] { flush(); }, Qt::QueuedConnection);
}

void EventLog::flush() {
    std::vector<Run> runs;
    {
        const std::lock_guard lock(batchMutex);
        runs.swap(batch);
        flushPosted = false;
    }
    if (!runs.empty()) appendNow(runs);
}

void EventLog::appendNow(const std::vector<Run>& runs) {
    QScrollBar* bar = verticalScrollBar();
    const bool follow = bar->value() == bar->maximum();

    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (const Run& run : runs) {
        const QStringList lines = run.text.split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0) ++pendingBreaks;
            if (lines[i].isEmpty()) continue;
            if (started)
                for (; pendingBreaks > 0; --pendingBreaks)
                    cursor.insertBlock();
            pendingBreaks = 0;
            started = true;
            cursor.insertText(lines[i], format(run.style));
        }
    }
    cursor.endEditBlock();
    if (follow) bar->setValue(bar->maximum());
}

}  // namespace rszorvik
