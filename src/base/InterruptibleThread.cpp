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
        flag_ = std::move(other.flag_);
        thread_ = std::move(other.thread_);
    }
    return *this;
}

void InterruptibleThread::start(std::function<void()> body) {
    if (flag_) throw std::logic_error("InterruptibleThread already started");
    // The flag exists before the thread runs, so an interrupt() right after start() is not lost.
    flag_ = std::make_shared<InterruptFlag>();
    thread_ = std::thread([flag = flag_, body = std::move(body)] {
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
    if (flag_) flag_->interrupt();
}

void InterruptibleThread::join() {
    if (!thread_.joinable()) throw std::logic_error("InterruptibleThread not joinable");
    thread_.join();
}

void InterruptibleThread::stop() noexcept {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // The last owner let go from inside the thread; it ends on its own.
        thread_.detach();
        return;
    }
    flag_->interrupt();
    thread_.join();
}

}  // namespace rszorvik::base
