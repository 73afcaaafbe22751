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
    static QtExecutor executor;
    return executor;
}

}  // namespace rszorvik
