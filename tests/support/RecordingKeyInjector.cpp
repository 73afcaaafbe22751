#include "support/RecordingKeyInjector.h"

#include <stdexcept>

namespace rszorvik::test {

std::ostream& operator<<(std::ostream& os, const KeyEvent& event) {
    switch (event.kind) {
        case KeyEvent::Kind::PRESS:
            return os << '+' << event.value;
        case KeyEvent::Kind::RELEASE:
            return os << '-' << event.value;
        case KeyEvent::Kind::PAUSE:
            return os << "pause " << event.value;
    }
    return os;
}

void RecordingKeyInjector::keyPress(int keyCode) {
    {
        std::lock_guard lock(mutex_);
        if (const auto it = rejected_.find(keyCode); it != rejected_.end())
            throw std::invalid_argument(it->second);
        if (keyCode != Vk::SHIFT && keyCode != Vk::CONTROL && keyCode != Vk::ALT) lastKey_ = keyCode;
    }
    record({KeyEvent::Kind::PRESS, keyCode});
}

void RecordingKeyInjector::keyRelease(int keyCode) {
    {
        std::lock_guard lock(mutex_);
        if (const auto it = rejected_.find(keyCode); it != rejected_.end())
            throw std::invalid_argument(it->second);
    }
    record({KeyEvent::Kind::RELEASE, keyCode});
}

void RecordingKeyInjector::delay(int milliseconds) {
    record({KeyEvent::Kind::PAUSE, milliseconds});
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        hook = onPause_;
    }
    if (hook) hook();
}

bool RecordingKeyInjector::lastKeyWasDead() const {
    std::lock_guard lock(mutex_);
    return !live_.contains(lastKey_);
}

void RecordingKeyInjector::reject(int keyCode, std::string message) {
    std::lock_guard lock(mutex_);
    rejected_[keyCode] = std::move(message);
}

void RecordingKeyInjector::markLive(int keyCode) {
    std::lock_guard lock(mutex_);
    live_.insert(keyCode);
}

void RecordingKeyInjector::onPause(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    onPause_ = std::move(hook);
}

std::vector<KeyEvent> RecordingKeyInjector::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::string RecordingKeyInjector::keysOf(const std::vector<KeyEvent>& events) {
    std::string text;
    for (const KeyEvent& event : events) {
        if (event.kind == KeyEvent::Kind::PAUSE) continue;
        if (!text.empty()) text += ' ';
        text += (event.kind == KeyEvent::Kind::PRESS ? '+' : '-') + std::to_string(event.value);
    }
    return text;
}

std::string RecordingKeyInjector::keys() const {
    std::lock_guard lock(mutex_);
    return keysOf(events_);
}

int RecordingKeyInjector::pauseCount() const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const KeyEvent& event : events_)
        count += event.kind == KeyEvent::Kind::PAUSE ? 1 : 0;
    return count;
}

void RecordingKeyInjector::clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

bool RecordingKeyInjector::waitForKeys(const std::string& expected, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return keysOf(events_) == expected; });
}

void RecordingKeyInjector::record(KeyEvent event) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    changed_.notify_all();
}

}  // namespace rszorvik::test
