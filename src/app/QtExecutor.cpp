#include "app/QtExecutor.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <utility>

namespace rszorvik {

void QtExecutor::post(std::function<void()> task) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
}

QtExecutor& QtExecutor::instance() {
    // Never destroyed: a background task that ends while the process exits still posts to it (and the
    // post is dropped once the application object is gone).
    static auto* executor = new QtExecutor;
    return *executor;
}

}  // namespace rszorvik
