#include "base/InterruptibleThread.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>

namespace rszorvik::base {

InterruptibleThread::~InterruptibleThread() {
    stop();
}

InterruptibleThread& InterruptibleThread::operator=(InterruptibleThread&& other) noexcept {
    if (this != &other) {
        stop();
        interruptFlag = std::move(other.interruptFlag);
        thread = std::move(other.thread);
    }
    return *this;
}

void InterruptibleThread::start(std::function<void()> body) {
    if (interruptFlag) throw std::logic_error("InterruptibleThread already started");
    // The flag exists before the thread runs, so an interrupt() right after start() is not lost.
    interruptFlag = std::make_shared<InterruptFlag>();
    thread = std::thread([flag = interruptFlag, body = std::move(body)] {
        Interruptible::bindCurrentThread(flag);
        try {
            body();
        } catch (const InterruptedError&) {
            // The usual way for such a thread to end.
        } catch (const std::exception& e) {
            std::fprintf(stderr, "Exception in thread: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "Exception in thread: unknown error\n");
        }
    });
}

void InterruptibleThread::interrupt() {
    if (interruptFlag) interruptFlag->interrupt();
}

void InterruptibleThread::join() {
    if (!thread.joinable()) throw std::logic_error("InterruptibleThread not joinable");
    thread.join();
}

void InterruptibleThread::stop() noexcept {
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
        // The last owner let go from inside the thread; it ends on its own.
        thread.detach();
        return;
    }
    interruptFlag->interrupt();
    thread.join();
}

}  // namespace rszorvik::base
