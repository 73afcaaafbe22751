#include "serial/SerialServerTask.h"

#include <atomic>
#include <mutex>

#include "native/zspWin.h"
#include "serial/NativeConfig.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"

namespace Zivaraze {

struct SerialServerTask::State {
    explicit State(const SerialConfig& cfg) : native(cfg, 0) {}

    NativeConfig native;
    ZspConfig& config = native.c;
    std::atomic<bool> ended{false};
    mutable std::mutex mutex;
    std::string eMsg;

    int portNumber() { return std::atomic_ref<std::int32_t>(config.port).load(); }
    void fail(const std::string& message) {
        {
            std::lock_guard lock(mutex);
            eMsg = message;
        }
        std::atomic_ref<std::int32_t>(config.port).store(-1);
    }
};

SerialServerTask::SerialServerTask(const SerialPortLocal& sp)
    : sharedState(std::make_shared<State>(*sp.getConfig())) {}

SerialServerTask::~SerialServerTask() {
    if (!thread.joinable()) return;
    // A server still serving keeps running on its own; it holds its state itself.
    if (sharedState->ended.load()) {
        thread.join();
    } else {
        thread.detach();
    }
}

void SerialServerTask::start() {
    if (thread.joinable()) return;
    thread = std::thread([state = sharedState] {
        try {
            const std::int32_t result = NativeLibrary::api("SerServerTask").SerServerTask(&state->config);
            if (result != 0) state->fail("SerServerTask failed: " + std::to_string(result));
        } catch (const std::exception& e) {
            state->fail(e.what());
        }
        state->ended.store(true);
    });
}

void SerialServerTask::run() {
    start();
    thread.join();
}

bool SerialServerTask::hasEnded() const {
    return sharedState->ended.load();
}

int SerialServerTask::getPortNum() const {
    return sharedState->portNumber();
}

std::string SerialServerTask::getErrorMessage() const {
    std::lock_guard lock(sharedState->mutex);
    return sharedState->eMsg;
}

}  // namespace Zivaraze
