#include "support/RecordingKeyInjector.h"

#include <stdexcept>
#include <utility>

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
        std::lock_guard lock(mutex);
        if (const auto it = rejections.find(keyCode); it != rejections.end())
            throw std::invalid_argument(it->second);
        if (keyCode != Vk::SHIFT && keyCode != Vk::CONTROL && keyCode != Vk::ALT) lastKey = keyCode;
        if (keyCode == Vk::CAPS_LOCK) capsLock = !capsLock;
    }
    record({KeyEvent::Kind::PRESS, keyCode});
}

void RecordingKeyInjector::keyRelease(int keyCode) {
    {
        std::lock_guard lock(mutex);
        if (const auto it = rejections.find(keyCode); it != rejections.end())
            throw std::invalid_argument(it->second);
    }
    record({KeyEvent::Kind::RELEASE, keyCode});
}

void RecordingKeyInjector::delay(int milliseconds) {
    record({KeyEvent::Kind::PAUSE, milliseconds});
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex);
        hook = pauseHook;
    }
    if (hook) hook();
}

bool RecordingKeyInjector::lastKeyWasDead() const {
    std::lock_guard lock(mutex);
    return !liveKeys.contains(lastKey);
}

void RecordingKeyInjector::prepareFor(std::u32string_view characters) {
    std::lock_guard lock(mutex);
    preparedCharacters += characters;
}

std::u32string RecordingKeyInjector::prepared() const {
    std::lock_guard lock(mutex);
    return preparedCharacters;
}

bool RecordingKeyInjector::capsLockOn() {
    std::lock_guard lock(mutex);
    if (!capsLockFailure.empty()) throw std::runtime_error(capsLockFailure);
    return capsLock;
}

void RecordingKeyInjector::setCapsLock(bool on) {
    std::lock_guard lock(mutex);
    capsLock = on;
}

void RecordingKeyInjector::failCapsLock(std::string message) {
    std::lock_guard lock(mutex);
    capsLockFailure = std::move(message);
}

void RecordingKeyInjector::reject(int keyCode, std::string message) {
    std::lock_guard lock(mutex);
    rejections[keyCode] = std::move(message);
}

void RecordingKeyInjector::markLive(int keyCode) {
    std::lock_guard lock(mutex);
    liveKeys.insert(keyCode);
}

void RecordingKeyInjector::onPause(std::function<void()> hook) {
    std::lock_guard lock(mutex);
    pauseHook = std::move(hook);
}

std::vector<KeyEvent> RecordingKeyInjector::events() const {
    std::lock_guard lock(mutex);
    return recorded;
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
    std::lock_guard lock(mutex);
    return keysOf(recorded);
}

int RecordingKeyInjector::pauseCount() const {
    std::lock_guard lock(mutex);
    int count = 0;
    for (const KeyEvent& event : recorded)
        count += event.kind == KeyEvent::Kind::PAUSE ? 1 : 0;
    return count;
}

void RecordingKeyInjector::clear() {
    std::lock_guard lock(mutex);
    recorded.clear();
}

bool RecordingKeyInjector::waitForKeys(const std::string& expected, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return keysOf(recorded) == expected; });
}

void RecordingKeyInjector::record(KeyEvent event) {
    {
        std::lock_guard lock(mutex);
        recorded.push_back(event);
    }
    changed.notify_all();
}

}  // namespace rszorvik::test
