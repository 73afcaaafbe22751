#include "serial/FlowControlTask.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "serial/Diagnostics.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"

namespace Zivaraze {

FlowControlTask::FlowControlTask(const SerialPortLocal& sp, std::shared_ptr<rszorvik::base::Clock> clock)
    : portNum(sp.getPortNum()), pauseClock(std::move(clock)) {
    printDiagnostic("FlowControlTask created");
}

FlowControlTask::~FlowControlTask() {
    join();
}

void FlowControlTask::start() {
    if (!thread.joinable()) thread = rszorvik::base::InterruptibleThread([this] { run(); });
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
            // A failing step returns at once; pause so the loop cannot spin on it. abort() interrupts the
            // pause.
            try {
                pauseClock->sleepFor(kRetryPause);
            } catch (const rszorvik::base::InterruptedError&) {
                break;
            }
        }
    }
}

void FlowControlTask::abort() {
    abortRequest.store(true);
    thread.interrupt();
}

void FlowControlTask::join() {
    abort();
    if (thread.joinable() && thread.id() != std::this_thread::get_id()) thread.join();
}

void FlowControlTask::setFlowPriority(int priority) {
    flowPriority.store(std::clamp(priority, 1, kMaxPriority));
}

}  // namespace Zivaraze
