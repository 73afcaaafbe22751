#pragma once

#include <QObject>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

namespace rszorvik {

namespace base {
class StopSignals;
}

// How the window's process ends besides its close button. SIGINT, SIGTERM and SIGHUP close the window as
// the close button does: the run stops, the keys it holds are released, the settings are saved, status 0.
// The loss of the X display, which Qt answers with exit() from inside its event handling while the reading
// and keyboard threads still run (the static destructors would pull the ground from under them), is taken
// first: the window ends its run at once, names the values it could not type and saves, and the process
// ends with kDisplayLostStatus without running any destructor.
class ProcessEnd : public QObject {
  public:
    static constexpr int kDisplayLostStatus = 1;

    // Blocks the stop signals in this thread and in every thread started after it: create it before the
    // QApplication, which starts threads of its own. One instance per process.
    ProcessEnd();
    ~ProcessEnd() override;
    ProcessEnd(const ProcessEnd&) = delete;
    ProcessEnd& operator=(const ProcessEnd&) = delete;

    // From now on a stop signal runs `close` on the GUI thread (a signal that came earlier runs it at once),
    // and the loss of the display runs `displayLost` there before the process ends. GUI thread.
    void watch(std::function<void()> close, std::function<void()> displayLost);

  private:
    // Qt tells of the lost connection through its message handler, on the GUI thread, and ends the process
    // right after: this is the last moment the program has.
    static void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);
    void stopRequested();
    // The display is gone: what can still be done is done, then the process ends. Never returns.
    [[noreturn]] void endForLostDisplay();

    std::function<void()> closeWindow;
    std::function<void()> saveWhatIsLeft;
    bool stopPending = false;
    std::unique_ptr<base::StopSignals> stopSignals;  // last: its watcher posts to this object
};

}  // namespace rszorvik
