#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/KeyInjector.h"

namespace rszorvik::test {

// What a RecordingKeyInjector was asked to do.
struct KeyEvent {
    enum class Kind { PRESS, RELEASE, PAUSE };
    Kind kind = Kind::PRESS;
    int value = 0;  // key code, or milliseconds of a pause

    bool operator==(const KeyEvent&) const = default;
};
std::ostream& operator<<(std::ostream& os, const KeyEvent& event);

// A key injector that sends nothing and records every call, safe to share between the typing thread and
// the test. Key codes marked as rejected throw std::invalid_argument like a real backend.
class RecordingKeyInjector : public platform::KeyInjector {
  public:
    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    // True unless the last key pressed (Shift, Control and Alt aside) was marked live: the default layout
    // is the one the key maps were written for.
    bool lastKeyWasDead() const override;
    void prepareFor(std::u32string_view characters) override;
    // Follows the Caps Lock key: each press of it toggles the state, as on a keyboard.
    bool capsLockOn() override;

    void reject(int keyCode, std::string message = "Invalid key code");
    void markLive(int keyCode);
    void setCapsLock(bool on);
    // capsLockOn() throws std::runtime_error with this message from now on.
    void failCapsLock(std::string message);
    // Called at every pause, after it was recorded, on the typing thread (to interrupt it, say).
    void onPause(std::function<void()> hook);

    std::vector<KeyEvent> events() const;
    // Every character the injector was told to get ready for.
    std::u32string prepared() const;
    // Presses and releases only, as "+16 +65 -65 -16".
    std::string keys() const;
    int pauseCount() const;
    void clear();
    // Waits until the recorded presses and releases read `expected` exactly; false after the timeout.
    bool waitForKeys(const std::string& expected,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const;

  private:
    void record(KeyEvent event);
    static std::string keysOf(const std::vector<KeyEvent>& events);

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<KeyEvent> recorded;
    std::u32string preparedCharacters;
    std::map<int, std::string> rejections;
    std::set<int> liveKeys;
    int lastKey = 0;
    bool capsLock = false;
    std::string capsLockFailure;
    std::function<void()> pauseHook;
};

}  // namespace rszorvik::test
