#pragma once

#include <QApplication>
#include <QDialog>
#include <QInputDevice>
#include <QTest>
#include <chrono>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Dialogs.h"

// Qt's D-Bus connection (accessibility, themes) keeps a buffer to the end of the process. Only this is
// excused from the leak check; each GUI test program includes this header from its one source file.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

namespace rszorvik::test {

// One QApplication for the whole test program (offscreen platform, set by the test registration).
inline QApplication& guiApplication() {
    static int argc = 1;
    static char name[] = "zorvik-gui-test";
    static char* argv[] = {name, nullptr};
    // Qt registers some input devices lazily (QTest's mouse events do), as children of the application
    // object; their registry must be created first so that it is destroyed after the application at exit.
    (void)QInputDevice::devices();
    static QApplication app(argc, argv);
    return app;
}

// Runs the GUI thread's events until the condition holds or the time is up; false on timeout.
inline bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(10);
    }
    return true;
}

// The dialog seam of the tests: records every call and answers from a script, never blocking.
class RecordingDialogs : public Dialogs {
  public:
    enum class Kind { Message, Question, SaveFile, OpenFile, Dialog };
    struct Call {
        Kind kind;
        QString text;   // message or question text; the dialog's object name for Dialog
        QString title;  // title, or the proposed path for SaveFile
        Icon icon = Icon::Plain;
    };

    RecordingDialogs() { Dialogs::install(this); }
    ~RecordingDialogs() override { Dialogs::install(nullptr); }
    RecordingDialogs(const RecordingDialogs&) = delete;
    RecordingDialogs& operator=(const RecordingDialogs&) = delete;

    std::vector<Call> calls;
    // Answers to the next questions, in order; a question without a scripted answer fails the test.
    std::deque<bool> answers;
    // Files to return from the next choosers, in order (empty text = cancelled).
    std::deque<QString> files;
    // What to do with the next dialogs shown modally: acts on the dialog and returns its result.
    std::deque<std::function<int(QDialog&)>> dialogScripts;

    void message(QWidget*, const QString& text, const QString& title, Icon icon) override {
        calls.push_back({Kind::Message, text, title, icon});
    }
    bool ask(QWidget*, const QString& text, const QString& title, Buttons, Icon icon) override {
        calls.push_back({Kind::Question, text, title, icon});
        return next(answers, "question");
    }
    QString chooseSaveFile(QWidget*, const QString& title, const QString& proposedPath) override {
        calls.push_back({Kind::SaveFile, title, proposedPath});
        return next(files, "save-file chooser");
    }
    QString chooseOpenFile(QWidget*, const QString& title) override {
        calls.push_back({Kind::OpenFile, title, {}});
        return next(files, "open-file chooser");
    }
    int exec(QDialog& dialog) override {
        calls.push_back({Kind::Dialog, dialog.objectName(), dialog.windowTitle()});
        return next(dialogScripts, "dialog")(dialog);
    }

    std::vector<Call> messages() const {
        std::vector<Call> result;
        for (const auto& call : calls)
            if (call.kind == Kind::Message) result.push_back(call);
        return result;
    }

  private:
    template <class T>
    static T next(std::deque<T>& queue, const char* what) {
        if (queue.empty()) throw std::logic_error(std::string("unscripted ") + what);
        T value = std::move(queue.front());
        queue.pop_front();
        return value;
    }
};

}  // namespace rszorvik::test
