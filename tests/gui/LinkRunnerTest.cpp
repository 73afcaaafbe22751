#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "app/JLabelHtml.h"
#include "app/LinkRunner.h"
#include "support/RecordingDialogs.h"

using rszorvik::JLabelHtml;
using rszorvik::LinkRunner;
using rszorvik::test::RecordingDialogs;

using rszorvik::test::waitFor;

namespace {

// An address a shell would mangle: blanks, quotes, ampersand and a command substitution.
const char* const kAddress = "https://example.com/a b?x=1&y='2';$(false)";

// A stand-in for the desktop's opener, first on PATH for the life of the object.
class OpenerStandIn {
  public:
    // exitCode 0: records its arguments in the file argsPath() and succeeds.
    explicit OpenerStandIn(int exitCode) : oldPath(qgetenv("PATH")) {
        QFile script(dir.filePath(QStringLiteral("xdg-open")));
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        const QByteArray args = argsPath().toUtf8();
        // Each run writes its own file and renames it, so two runs at once leave one whole record.
        script.write("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + args + ".'$$ && mv '" + args + ".'$$ '" +
                     args + "'\nexit " + QByteArray::number(exitCode) + "\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", dir.path().toUtf8() + ":" + oldPath);
    }
    ~OpenerStandIn() { qputenv("PATH", oldPath); }
    OpenerStandIn(const OpenerStandIn&) = delete;
    OpenerStandIn& operator=(const OpenerStandIn&) = delete;

    QString argsPath() const { return dir.filePath(QStringLiteral("args")); }
    bool ran() const { return QFile::exists(argsPath()); }
    QString args() const {
        QFile file(argsPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

  private:
    QTemporaryDir dir;
    QByteArray oldPath;
};

struct ClickCase {
    const char* what;
    int exitCode;
    std::optional<QString> text;  // set on the label; none: the text it made itself
    int clicks;
    bool handCursor;
    int failureDialogs;
    std::optional<QString> openerArgs;  // what the opener got (the last time); none: it never ran
};

void PrintTo(const ClickCase& c, std::ostream* os) {
    *os << c.what;
}

QString anchored(const QString& caption) {
    return QStringLiteral("<html>See <a href=\"") + QString::fromUtf8(kAddress) + QStringLiteral("\">") +
           caption + QStringLiteral("</a></html>");
}

class LinkClickTest : public testing::TestWithParam<ClickCase> {};

TEST_P(LinkClickTest, OpensTheAddressOrSaysItCannot) {
    const ClickCase& c = GetParam();
    rszorvik::test::guiApplication();
    RecordingDialogs dialogs;
    OpenerStandIn opener(c.exitCode);
    JLabelHtml label;
    if (c.text) label.setText(*c.text);
    label.resize(300, 40);
    label.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&label));
    label.repaint();
    EXPECT_EQ(label.cursor().shape(), c.handCursor ? Qt::PointingHandCursor : Qt::ArrowCursor) << c.what;

    for (int i = 0; i < c.clicks; ++i)
        QTest::mouseClick(&label, Qt::LeftButton);
    const auto failures = [&] { return static_cast<int>(dialogs.messages().size()); };
    if (c.failureDialogs > 0) {
        EXPECT_TRUE(waitFor([&] { return failures() >= c.failureDialogs; }, std::chrono::seconds(10)))
            << c.what;
    }
    if (c.openerArgs) {
        EXPECT_TRUE(waitFor([&] { return opener.ran(); }, std::chrono::seconds(10))) << c.what;
    }
    // Time for anything that should not come: a second dialog, a late opener.
    waitFor([] { return false; }, std::chrono::milliseconds(300));

    EXPECT_EQ(failures(), c.failureDialogs) << c.what;
    for (const auto& message : dialogs.messages()) {
        EXPECT_EQ(message.title, QString::fromUtf8(LinkRunner::kFailureTitle));
        EXPECT_EQ(message.text, QString::fromUtf8(LinkRunner::kFailureText));
    }
    EXPECT_EQ(opener.ran(), c.openerArgs.has_value()) << c.what;
    if (c.openerArgs) {
        EXPECT_EQ(opener.args(), *c.openerArgs) << c.what;
    }
}

const QString kOneArgument = QStringLiteral("1\n") + QString::fromUtf8(kAddress) + QStringLiteral("\n");

INSTANTIATE_TEST_SUITE_P(
    Clicks, LinkClickTest,
    testing::Values(
        ClickCase{"opener fails: one dialog per click", 3, anchored("here"), 2, true, 2, kOneArgument},
        ClickCase{"opener succeeds: the exact address", 0, anchored("here"), 1, true, 0, kOneArgument},
        ClickCase{"text without a link", 0, QStringLiteral("plain"), 1, false, 0, std::nullopt},
        ClickCase{"own empty anchor: no address, reported", 0, std::nullopt, 1, true, 1, std::nullopt},
        ClickCase{"a local file is never opened", 0,
                  QStringLiteral("<html><a href=\"file:///etc/passwd\">x</a></html>"), 1, true, 1,
                  std::nullopt},
        ClickCase{"a mailto address is opened", 0,
                  QStringLiteral("<html><a href=\"mailto:a@b.example\">x</a></html>"), 1, true, 0,
                  QStringLiteral("1\nmailto:a@b.example\n")}));

// Without an opener the label stays plain, and a link opened anyway is reported, not lost.
TEST(LinkRunner, WithoutAnOpenerTheFailureIsReported) {
    rszorvik::test::guiApplication();
    RecordingDialogs dialogs;
    QTemporaryDir empty;
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", empty.path().toUtf8());
    EXPECT_FALSE(LinkRunner::isBrowsingSupported());
    JLabelHtml label;
    EXPECT_TRUE(label.text().isEmpty());
    LinkRunner::open(QString::fromUtf8(kAddress));
    EXPECT_TRUE(waitFor([&] { return !dialogs.messages().empty(); }, std::chrono::seconds(10)));
    qputenv("PATH", oldPath);
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_EQ(dialogs.messages()[0].title, QString::fromUtf8(LinkRunner::kFailureTitle));
}

}  // namespace
