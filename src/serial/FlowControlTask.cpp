#include "serial/FlowControlTask.h"

#include <algorithm>
#include <chrono>

#include "serial/Diagnostics.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"

namespace Zivaraze {

FlowControlTask::FlowControlTask(const SerialPortLocal& sp) : portNum(sp.getPortNum()) {
    printDiagnostic("FlowControlTask created");
}

FlowControlTask::~FlowControlTask() {
    join();
}

void FlowControlTask::start() {
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

void FlowControlTask::run() {
    setFlowPriority(getFlowPriority() + 1);
    while (!abortRequest.load()) {
        std::int32_t result = -1;
        try {
            result = NativeLibrary::api("SerFlowTask").SerFlowTask(portNum);
        } catch (...) {
            result = -1;
        }
        if (abortRequest.load()) break;
        if (result < 0) {
            // A failing step returns at once; pause so the loop cannot spin on it.
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return abortRequest.load(); });
        }
    }
}

void FlowControlTask::abort() {
    {
        std::lock_guard lock(mutex_);
        abortRequest.store(true);
    }
    wake_.notify_all();
}

void FlowControlTask::join() {
    abort();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void FlowControlTask::setFlowPriority(int priority) {
    priority_.store(std::clamp(priority, 1, kMaxPriority));
}

}  // namespace Zivaraze
