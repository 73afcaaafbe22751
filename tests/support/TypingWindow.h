#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QStackedLayout>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/XvfbDisplay.h"

// Qt's D-Bus connection (accessibility, themes) keeps a buffer to the end of the process. Only this is
// excused from the leak check; each end-to-end program includes this header from its one source file.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

// Ends the test when there is no typing window: skipped on a machine without Xvfb, failed in CI.
#define ZORVIK_NEED_TYPING_WINDOW(window)                                                                 \
    do {                                                                                                  \
        if ((window) == nullptr) {                                                                        \
            if (::rszorvik::test::XvfbDisplay::required()) FAIL() << "Xvfb is not installed (CI is set)"; \
            GTEST_SKIP() << "Xvfb is not installed";                                                      \
        }                                                                                                 \
    } while (false)

namespace rszorvik::test {

// The X server's time stamp (milliseconds) of every key press and release a widget receives.
class KeyClock : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
            times.push_back(static_cast<QKeyEvent*>(event)->timestamp());
        return QObject::eventFilter(watched, event);
    }
    std::vector<unsigned long> times;
};

// A field that keeps what is typed into it and shows nothing: Qt's way from a key event to text, dead keys
// composed by its input method included, without laying out a line that grows with every key.
class KeySink : public QWidget {
  public:
    KeySink() {
        setAttribute(Qt::WA_InputMethodEnabled);
        setFocusPolicy(Qt::StrongFocus);
    }
    QString typed;
    std::function<void()> changed;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            append(QStringLiteral("\n"));
        } else if (!event->text().isEmpty() &&
                   (event->text().at(0).isPrint() || event->key() == Qt::Key_Tab)) {
            append(event->text());
        } else {
            QWidget::keyPressEvent(event);
        }
    }
    void inputMethodEvent(QInputMethodEvent* event) override { append(event->commitString()); }
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override {
        if (query == Qt::ImEnabled) return true;
        return QWidget::inputMethodQuery(query);
    }

  private:
    void append(const QString& text) {
        if (text.isEmpty()) return;
        typed += text;
        if (changed) changed();
    }
};

// A private X server with a Qt window whose text field has the keyboard focus, for the whole test program:
// what is typed into the server arrives there, dead keys composed by Qt as in any application.
class TypingWindow {
  public:
    // The one window of the program, started on first use; nullptr when Xvfb is not installed.
    static TypingWindow* instance() {
        static std::unique_ptr<TypingWindow> window =
            XvfbDisplay::available() ? std::unique_ptr<TypingWindow>(new TypingWindow) : nullptr;
        return window.get();
    }

    const XvfbDisplay& display() const { return *xvfb; }

    // Loads the layout and lets Qt take it before anything is typed.
    void setLayout(const std::string& layout, const std::string& variant = {}) {
        if (layout == currentLayout && variant == currentVariant) return;
        xvfb->setLayout(layout, variant);
        currentLayout = layout;
        currentVariant = variant;
        QTest::qWait(150);
    }

    // Empties the field, runs `typing` on a thread of its own while the window handles its events, and
    // returns the field's text once `expected` arrived or nothing more arrives. The window waits for its
    // events as an application does, instead of spinning, so that it takes no processor from the typing.
    std::string type(const std::function<void()>& typing, const std::string& expected) {
        edit->clear();
        sink->typed.clear();
        keyClock.times.clear();
        shownLength = 0;
        arrived = {};
        QTest::qWait(10);
        const auto wanted = static_cast<std::size_t>(QString::fromStdString(expected).size());
        std::atomic<bool> done{false};
        QEventLoop loop;
        const auto check = [&] {
            const std::size_t length = fieldLength();
            shownLength = length;
            if (length >= wanted && arrived == std::chrono::steady_clock::time_point{})
                arrived = std::chrono::steady_clock::now();
            if (done && length >= wanted) loop.quit();
        };
        QObject::connect(edit->document(), &QTextDocument::contentsChanged, &loop, check);
        sink->changed = check;
        QTimer::singleShot(std::chrono::seconds(20), &loop, &QEventLoop::quit);
        std::thread worker([&] {
            typing();
            done = true;
            QMetaObject::invokeMethod(&loop, check, Qt::QueuedConnection);
        });
        loop.exec();
        worker.join();
        // Anything still on its way (a stray extra key) would show up now.
        QTest::qWait(100);
        sink->changed = nullptr;
        return text();
    }

    // Types into a field that shows nothing (KeySink) instead of the text field, or back: for measuring
    // the typing rather than the text field's layout of a long line.
    void useSink(bool on) {
        fields->setCurrentWidget(on ? static_cast<QWidget*>(sink) : edit);
        fields->currentWidget()->setFocus();
        QTest::qWait(50);
    }

    // When the field of the last type() first held as many characters as expected.
    std::chrono::steady_clock::time_point arrival() const { return arrived; }

    std::string text() const {
        return (fields->currentWidget() == sink ? sink->typed : edit->toPlainText()).toStdString();
    }
    // The server times of the key events of the last type(), in the order they came.
    const std::vector<unsigned long>& keyTimes() const { return keyClock.times; }

    // For the typing thread: waits until the field holds at least `length` characters. Qt commits a
    // character composed from a dead key at once but queues plain keys, so one typed right behind plain
    // ones at full speed can overtake them; waiting per character keeps the order what was typed.
    bool waitForLength(std::size_t length,
                       std::chrono::milliseconds timeout = std::chrono::seconds(2)) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (shownLength < length) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }

  private:
    TypingWindow() : xvfb(std::make_unique<XvfbDisplay>()) {
        setenv("DISPLAY", xvfb->name().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("QT_IM_MODULE", "compose", 1);  // Qt's own dead-key composition, as a desktop has it
        setenv("LC_ALL", "C.UTF-8", 1);
        xvfb->setLayout("us");
        currentLayout = "us";
        static int argc = 1;
        static char name[] = "zorvik-e2e";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
        window = std::make_unique<QWidget>();
        fields = new QStackedLayout(window.get());
        edit = new QPlainTextEdit;
        sink = new KeySink;
        fields->addWidget(edit);
        fields->addWidget(sink);
        edit->installEventFilter(&keyClock);
        sink->installEventFilter(&keyClock);
        window->resize(600, 300);
        window->show();
        window->activateWindow();
        edit->setFocus();
        if (!QTest::qWaitForWindowActive(window.get()))
            throw std::runtime_error("the test window got no focus");
    }

    // The field's length in characters, as Qt counts them.
    std::size_t fieldLength() const {
        if (fields->currentWidget() == sink) return static_cast<std::size_t>(sink->typed.size());
        // The document's count ends with the separator of its last paragraph.
        return static_cast<std::size_t>(edit->document()->characterCount() - 1);
    }

    ~TypingWindow() {
        // Before the window, which would move the focus out of it first: laying out its text then needs
        // font caches that went at the end of the program before this window.
        delete edit;
    }

    std::unique_ptr<XvfbDisplay> xvfb;
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QWidget> window;
    QStackedLayout* fields = nullptr;  // the window's
    QPlainTextEdit* edit = nullptr;
    KeySink* sink = nullptr;
    KeyClock keyClock;
    std::string currentLayout;
    std::string currentVariant;
    std::atomic<std::size_t> shownLength{0};
    std::chrono::steady_clock::time_point arrived;

    friend struct std::default_delete<TypingWindow>;
};

}  // namespace rszorvik::test
