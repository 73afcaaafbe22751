#include "app/ProcessEnd.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QString>
#include <QThread>
#include <QtGlobal>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "base/StopSignals.h"

namespace rszorvik {

namespace {

ProcessEnd* watching = nullptr;  // the instance whose handler is installed
QtMessageHandler previousHandler = nullptr;

// What Qt's X connection says just before it calls exit() (both of its ways to notice the loss).
bool announcesLostDisplay(const QString& message) {
    return message.startsWith(QLatin1String("The X11 connection broke"));
}

}  // namespace

ProcessEnd::ProcessEnd() {
    // The watcher's thread only posts; everything happens on the GUI thread.
    stopSignals = std::make_unique<base::StopSignals>([this](int) {
        QMetaObject::invokeMethod(
            this, [this] { stopRequested(); }, Qt::QueuedConnection);
    });
}

ProcessEnd::~ProcessEnd() {
    if (watching == this) {
        qInstallMessageHandler(previousHandler);
        watching = nullptr;
    }
    stopSignals.reset();
}

void ProcessEnd::watch(std::function<void()> close, std::function<void()> displayLost) {
    closeWindow = std::move(close);
    saveWhatIsLeft = std::move(displayLost);
    if (watching == nullptr) {
        watching = this;
        previousHandler = qInstallMessageHandler(&ProcessEnd::handleMessage);
    }
    if (stopPending) {
        stopPending = false;
        stopRequested();
    }
}

void ProcessEnd::stopRequested() {
    if (!closeWindow) {
        stopPending = true;
        return;
    }
    closeWindow();
}

void ProcessEnd::handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (previousHandler != nullptr) {
        previousHandler(type, context, message);
    } else {
        std::fprintf(stderr, "%s\n", qUtf8Printable(qFormatLogMessage(type, context, message)));
    }
    if (watching == nullptr || !announcesLostDisplay(message)) return;
    const QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread()) return;
    static std::atomic<bool> ending{false};
    if (ending.exchange(true)) return;
    watching->endForLostDisplay();
}

void ProcessEnd::endForLostDisplay() {
    if (saveWhatIsLeft) saveWhatIsLeft();
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(kDisplayLostStatus);
}

}  // namespace rszorvik
