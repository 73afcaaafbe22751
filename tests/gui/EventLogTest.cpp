#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <thread>
#include <vector>

#include "app/EventLog.h"
#include "app/Texts.h"
#include "base/MessageFormat.h"
#include "support/RecordingDialogs.h"

namespace rszorvik {
namespace {

using Style = EventLog::Style;

QString lineAt(const EventLog& log, int index) {
    return log.document()->findBlockByNumber(index).text();
}

// The style of the character at a position of a line, told apart by the format it was written with.
QTextCharFormat formatAt(const EventLog& log, int line, int column) {
    const QTextBlock block = log.document()->findBlockByNumber(line);
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (column >= fragment.position() - block.position() &&
            column < fragment.position() - block.position() + fragment.length())
            return fragment.charFormat();
    }
    return {};
}

TEST(EventLogTest, StylesAreDistinguishable) {
    test::guiApplication();
    EventLog log;
    const auto colour = [&](Style style) { return log.format(style).foreground().color(); };
    const auto hasColour = [&](Style style) {
        return log.format(style).hasProperty(QTextFormat::ForegroundBrush);
    };
    // Regular follows the palette; the others carry their own colours.
    EXPECT_FALSE(hasColour(Style::Regular));
    for (Style style : {Style::Unknown, Style::Important, Style::Typed, Style::Ignored})
        EXPECT_TRUE(hasColour(style)) << EventLog::styleName(style);
    EXPECT_NE(colour(Style::Typed), colour(Style::Important));
    EXPECT_NE(colour(Style::Typed), colour(Style::Ignored));
    EXPECT_NE(colour(Style::Important), colour(Style::Ignored));
    // An unknown line has the typed colour and more weight.
    EXPECT_EQ(colour(Style::Unknown), colour(Style::Typed));
    EXPECT_GT(log.format(Style::Unknown).fontWeight(), log.format(Style::Typed).fontWeight());
    EXPECT_TRUE(log.isReadOnly());
    EXPECT_EQ(log.font().pointSize(), 11);
    EXPECT_TRUE(QFontInfo(log.font()).fixedPitch());
}

TEST(EventLogTest, PiecesOfALineKeepTheirStylesAndBreaksEndLines) {
    test::guiApplication();
    EventLog log;
    log.append({{QStringLiteral("12:00:01 "), Style::Regular},
                {QStringLiteral("ST,"), Style::Ignored},
                {QStringLiteral("12.5"), Style::Typed},
                {QStringLiteral(" kg\n"), Style::Ignored}});
    log.append({{QStringLiteral("a\n\nb\n"), Style::Important}});
    ASSERT_EQ(log.document()->blockCount(), 4);
    EXPECT_EQ(lineAt(log, 0), QStringLiteral("12:00:01 ST,12.5 kg"));
    EXPECT_EQ(formatAt(log, 0, 0), log.format(Style::Regular));
    EXPECT_EQ(formatAt(log, 0, 9), log.format(Style::Ignored));
    EXPECT_EQ(formatAt(log, 0, 12), log.format(Style::Typed));
    EXPECT_EQ(formatAt(log, 0, 16), log.format(Style::Ignored));
    EXPECT_EQ(lineAt(log, 1), QStringLiteral("a"));
    EXPECT_EQ(lineAt(log, 2), QString());  // an empty line is kept
    EXPECT_EQ(lineAt(log, 3), QStringLiteral("b"));
}

TEST(EventLogTest, KeepsOnlyTheNewestLines) {
    test::guiApplication();
    EventLog log;
    const int extra = 25;
    for (int i = 0; i < EventLog::kMaxLines + extra; ++i)
        log.append({{QStringLiteral("line %1\n").arg(i), Style::Regular}});
    EXPECT_EQ(log.document()->blockCount(), EventLog::kMaxLines);
    EXPECT_EQ(lineAt(log, 0), QStringLiteral("line %1").arg(extra));
    EXPECT_EQ(lineAt(log, EventLog::kMaxLines - 1),
              QStringLiteral("line %1").arg(EventLog::kMaxLines + extra - 1));
}

struct LongLineCase {
    const char* what;
    std::vector<EventLog::Run> runs;  // one line, appended from this thread or another
    bool otherThread;
    QString shown;  // the line in the log
};

// A line of an instrument that never stops keeps its start and says how long it was; the rest of the log
// is as usual. Lines are built here, after the catalogues can be read.
TEST(EventLogTest, ALongLineIsShortenedWithItsLength) {
    test::guiApplication();
    const qsizetype limit = EventLog::kMaxLineChars;
    const QString note = QLatin1Char(' ') + QString::fromStdString(base::formatMessage(
                                                texts::app("line.shortened").toStdString(), {"60000"}));
    const QString flood(60000, QLatin1Char('x'));
    const QString exact(limit, QLatin1Char('y'));
    const std::vector<LongLineCase> cases{
        {"as long as allowed", {{exact + "\n", Style::Ignored}}, false, exact},
        {"one long piece", {{flood + "\n", Style::Ignored}}, false, flood.left(limit) + note},
        {"from another thread", {{flood + "\n", Style::Ignored}}, true, flood.left(limit) + note},
        {"the value beyond the cut",
         {{QStringLiteral("12:00:00 "), Style::Regular},
          {flood.left(59990), Style::Ignored},
          {QStringLiteral("12.5"), Style::Typed},
          {QStringLiteral("kg\n"), Style::Ignored}},
         false,
         QStringLiteral("12:00:00 ") + flood.left(limit - 9) + QLatin1Char(' ') +
             QString::fromStdString(
                 base::formatMessage(texts::app("line.shortened").toStdString(), {"60005"}))}};
    for (const LongLineCase& c : cases) {
        EventLog log;
        log.append({{QStringLiteral("before\n"), Style::Regular}});
        if (c.otherThread) {
            std::thread([&] { log.append(c.runs); }).join();
            QDeadlineTimer deadline(5000);
            while (log.document()->blockCount() < 2 && !deadline.hasExpired())
                QCoreApplication::processEvents();
        } else {
            log.append(c.runs);
        }
        log.append({{QStringLiteral("after\n"), Style::Regular}});
        ASSERT_EQ(log.document()->blockCount(), 3) << c.what;
        EXPECT_EQ(lineAt(log, 0), QStringLiteral("before")) << c.what;
        EXPECT_EQ(lineAt(log, 1), c.shown) << c.what;
        EXPECT_EQ(lineAt(log, 2), QStringLiteral("after")) << c.what;
    }
}

TEST(EventLogTest, LinesFromOtherThreadsArriveWholeAndInOrder) {
    test::guiApplication();
    EventLog log;
    const int perThread = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < perThread; ++i)
                log.logLine(QStringLiteral("thread %1 value %2").arg(t).arg(i), Style::Regular);
        });
    for (auto& thread : threads)
        thread.join();
    QDeadlineTimer deadline(5000);
    while (log.document()->blockCount() < 3 * perThread && !deadline.hasExpired())
        QCoreApplication::processEvents();
    ASSERT_EQ(log.document()->blockCount(), 3 * perThread);
    const QRegularExpression pattern(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d thread (\\d) value (\\d+)$"));
    std::vector<int> next(3, 0);
    for (int line = 0; line < 3 * perThread; ++line) {
        const QString text = lineAt(log, line);
        const auto match = pattern.match(text);
        ASSERT_TRUE(match.hasMatch()) << text.toStdString();
        EXPECT_EQ(match.captured(2).toInt(), next[match.captured(1).toInt()]++) << text.toStdString();
    }
}

}  // namespace
}  // namespace rszorvik
