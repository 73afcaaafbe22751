#include "app/LinkRunner.h"

#include <QStandardPaths>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "app/Dialogs.h"
#include "app/QtExecutor.h"

#ifdef Q_OS_LINUX
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

extern char** environ;
#else
#include <QDesktopServices>
#include <QUrl>
#endif

namespace rszorvik {

namespace {

#ifdef Q_OS_LINUX
constexpr const char* kOpener = "xdg-open";

// Runs the desktop's opener with the address as its only argument (no shell in between) and waits for its
// verdict: the desktop service of the toolkit would start it detached and never learn that it failed.
void runOpener(const std::string& address) {
    std::string program = kOpener;
    std::string argument = address;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (const int error = posix_spawnp(&pid, kOpener, nullptr, nullptr, argv, environ); error != 0)
        throw std::runtime_error(std::string(kOpener) + " cannot be started: " + std::strerror(error));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw std::runtime_error(std::string("waiting for ") + kOpener + ": " + std::strerror(errno));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(std::string(kOpener) + " failed with status " + std::to_string(status));
}
#endif

}  // namespace

LinkRunner::LinkRunner(base::Executor& executor, QString uri)
    : BackgroundTask(executor), uri(std::move(uri)) {}

void LinkRunner::open(const QString& url) {
    std::make_shared<LinkRunner>(QtExecutor::instance(), url)->execute();
}

bool LinkRunner::isBrowsingSupported() {
#ifdef Q_OS_LINUX
    return !QStandardPaths::findExecutable(kOpener).isEmpty();
#else
    return true;
#endif
}

void LinkRunner::doInBackground() {
#ifdef Q_OS_LINUX
    runOpener(uri.toStdString());
#else
    if (!QDesktopServices::openUrl(QUrl(uri))) throw std::runtime_error("the desktop refused the address");
#endif
}

void LinkRunner::done() {
    try {
        get();
    } catch (...) {
        // Failed, interrupted or cancelled: the operator only needs to know that the link did not open.
        Dialogs::current().message(nullptr, QString::fromUtf8(kFailureText), QString::fromUtf8(kFailureTitle),
                                   Dialogs::Icon::Error);
    }
}

}  // namespace rszorvik
