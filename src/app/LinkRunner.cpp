#include "app/LinkRunner.h"

#include <memory>
#include <utility>

#include "app/Dialogs.h"
#include "app/QtExecutor.h"
#include "platform/Browser.h"

namespace rszorvik {

LinkRunner::LinkRunner(base::Executor& executor, QString uri)
    : BackgroundTask(executor), uri(std::move(uri)) {}

void LinkRunner::open(const QString& url) {
    std::make_shared<LinkRunner>(QtExecutor::instance(), url)->execute();
}

bool LinkRunner::isBrowsingSupported() {
    return platform::browsingSupported();
}

void LinkRunner::doInBackground() {
    platform::openInBrowser(uri.toStdString());
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
