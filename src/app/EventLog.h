#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QTextCharFormat>
#include <QTime>
#include <array>
#include <vector>

namespace rszorvik {

// The event log: read-only styled lines in a fixed-width font. Appending is safe from any thread (the
// text is handed to the GUI thread) and cheap: the log keeps only the newest kMaxLines lines, so a run
// that lasts all day does not slow the window down.
class EventLog : public QPlainTextEdit {
    Q_OBJECT

  public:
    enum class Style { Regular, Unknown, Important, Typed, Ignored };
    static constexpr int kStyleCount = 5;
    static constexpr int kMaxLines = 10000;

    // One styled piece of a line.
    struct Run {
        QString text;
        Style style = Style::Regular;
    };

    explicit EventLog(QWidget* parent = nullptr);

    // "HH:mm:ss text" as one line in the style.
    void logLine(const QString& text, Style style);
    // Pieces appended in order; a "\n" inside a piece ends the line there.
    void append(std::vector<Run> runs);

    // The character format a style is written in.
    const QTextCharFormat& format(Style style) const;
    // "HH:mm:ss " of the time, the prefix of every line.
    static QString timePrefix(const QTime& time);
    // Style names of the log styles ("regular", "unknown", "important", "typed", "ignored").
    static const char* styleName(Style style);

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void appendNow(const std::vector<Run>& runs);
    void addStylesToDocument();

    std::array<QTextCharFormat, kStyleCount> formats_;
    // A line ended with "\n" is closed only when the next text arrives, so the document never holds an
    // empty last line and kMaxLines blocks are kMaxLines lines.
    bool started_ = false;
    int pendingBreaks_ = 0;
};

}  // namespace rszorvik
