#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "XvfbDisplay.h"

// Qt's D-Bus connection (accessibility, themes) keeps a buffer to the end of the process. Only this is
// excused from the leak check; each end-to-end program includes this header from its one source file.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

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

    const XvfbDisplay& display() const { return *xvfb_; }

    // Loads the layout and lets Qt take it before anything is typed.
    void setLayout(const std::string& layout, const std::string& variant = {}) {
        if (layout == layout_ && variant == variant_) return;
        xvfb_->setLayout(layout, variant);
        layout_ = layout;
        variant_ = variant;
        QTest::qWait(150);
    }

    // Empties the field, runs `typing` on a thread of its own while the window handles its events, and
    // returns the field's text once `expected` arrived or nothing more arrives.
    std::string type(const std::function<void()>& typing, const std::string& expected) {
        edit_->clear();
        clock_.times.clear();
        length_ = 0;
        QTest::qWait(10);
        std::atomic<bool> done{false};
        std::thread worker([&] {
            typing();
            done = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            length_ = static_cast<std::size_t>(edit_->toPlainText().size());
            if (done && text().size() >= expected.size()) break;
        }
        worker.join();
        // Anything still on its way (a stray extra key) would show up now.
        QTest::qWait(100);
        return text();
    }

    std::string text() const { return edit_->toPlainText().toStdString(); }
    // The server times of the key events of the last type(), in the order they came.
    const std::vector<unsigned long>& keyTimes() const { return clock_.times; }

    // For the typing thread: waits until the field holds at least `length` characters. Qt commits a
    // composed dead key at once but queues plain keys, so a dead key typed right behind plain ones at full
    // speed can overtake them; waiting per character keeps the order what was typed.
    bool waitForLength(std::size_t length,
                       std::chrono::milliseconds timeout = std::chrono::seconds(2)) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (length_ < length) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }

  private:
    TypingWindow() : xvfb_(std::make_unique<XvfbDisplay>()) {
        setenv("DISPLAY", xvfb_->name().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("QT_IM_MODULE", "compose", 1);  // Qt's own dead-key composition, as a desktop has it
        setenv("LC_ALL", "C.UTF-8", 1);
        xvfb_->setLayout("us");
        layout_ = "us";
        static int argc = 1;
        static char name[] = "zorvik-e2e";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        edit_ = std::make_unique<QPlainTextEdit>();
        edit_->resize(600, 300);
        edit_->installEventFilter(&clock_);
        edit_->show();
        edit_->activateWindow();
        edit_->setFocus();
        if (!QTest::qWaitForWindowActive(edit_.get()))
            throw std::runtime_error("the test window got no focus");
    }

    std::unique_ptr<XvfbDisplay> xvfb_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<QPlainTextEdit> edit_;
    KeyClock clock_;
    std::string layout_;
    std::string variant_;
    std::atomic<std::size_t> length_{0};

    friend struct std::default_delete<TypingWindow>;
};

}  // namespace rszorvik::test
