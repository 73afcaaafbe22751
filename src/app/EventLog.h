#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QTextCharFormat>
#include <QTime>
#include <array>
#include <mutex>
#include <vector>

namespace rszorvik {

// The event log: read-only styled lines in a fixed-width font. Appending is safe from any thread (the
// text is handed to the GUI thread) and cheap: the log keeps only the newest kMaxLines lines, each cut
// to kMaxLineChars characters (a note gives the whole length), so neither a run that lasts all day nor
// an instrument that sends endless lines slows the window down or fills its memory; and text from other
// threads or from appendLater is written in one piece per event-loop turn, so a busy instrument costs
// one layout per turn, not per line.
class EventLog : public QPlainTextEdit {
    Q_OBJECT

  public:
    enum class Style { Regular, Unknown, Important, Typed, Ignored };
    static constexpr int kStyleCount = 5;
    static constexpr int kMaxLines = 10000;
    static constexpr qsizetype kMaxLineChars = 1000;

    // One styled piece of a line.
    struct Run {
        QString text;
        Style style = Style::Regular;
    };

    explicit EventLog(QWidget* parent = nullptr);

    // "HH:mm:ss text" as one line in the style.
    void logLine(const QString& text, Style style);
    // Pieces appended in order; a "\n" inside a piece ends the line there. On the GUI thread they are in
    // the document on return; from another thread by the next event-loop turn. A line longer than
    // kMaxLineChars keeps its start and ends with the note of "line.shortened" (lines are counted from
    // the start of each call, so pass whole lines).
    void append(std::vector<Run> runs);
    // As append, but always in the next batch, from any thread.
    void appendLater(std::vector<Run> runs);
    // Writes the pending batch now; GUI thread.
    void flush();

    // The character format a style is written in.
    const QTextCharFormat& format(Style style) const;
    // "HH:mm:ss " of the time, the prefix of every line.
    static QString timePrefix(const QTime& time);
    // Style names of the log styles ("regular", "unknown", "important", "typed", "ignored").
    static const char* styleName(Style style);

  protected:
    void changeEvent(QEvent* event) override;

    // The pieces with every line cut to kMaxLineChars characters and the note added.
    static std::vector<Run> shortened(std::vector<Run> runs);

  private:
    void appendNow(const std::vector<Run>& runs);
    void addStylesToDocument();

    std::array<QTextCharFormat, kStyleCount> formats;
    // A line ended with "\n" is closed only when the next text arrives, so the document never holds an
    // empty last line and kMaxLines blocks are kMaxLines lines.
    bool started = false;
    int pendingBreaks = 0;

    std::mutex batchMutex;
    std::vector<Run> batch;    // guarded by batchMutex
    bool flushPosted = false;  // guarded by batchMutex
};

}  // namespace rszorvik
