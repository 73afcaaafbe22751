#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/BlockingQueue.h"
#include "base/Interruptible.h"
#include "config/ConfigHelper.h"
#include "platform/KeyInjector.h"

namespace rszorvik::worker {

class WeightWorkerView;

// Types each value into the application that has the keyboard focus: an optional start key, the value
// through the key map of the keyboard layout, and a terminator (a second one after every X-th value).
// run() is the body of the output thread; add() feeds it from the GUI thread through a queue that all
// instances share (OutputRun empties it at the end of its run, so no value is carried into the next).
class Keybot {
  public:
    using KeyboardType = config::ConfigHelper::KeyboardType;
    using KeyMapType = config::ConfigHelper::KeyMapType;

    // Key codes <= 0 mean "no key"; everyXValues <= 1 switches the second terminator off. `view` may be
    // null. Without an injector the platform's is created, which throws std::runtime_error where there is
    // none. The injector is told the characters of both key maps (KeyInjector::prepareFor), and throws
    // what it throws there.
    Keybot(int keyDelay, int startWith, int endWith, int endWith2, int everyXValues,
           KeyboardType keyboardType, KeyMapType keyMapType, WeightWorkerView* view,
           std::unique_ptr<platform::KeyInjector> injector = nullptr);
    Keybot(const Keybot&) = delete;
    Keybot& operator=(const Keybot&) = delete;

    // Queues a value for typing without waiting; the empty text is ignored.
    void add(const std::string& value);
    // Types the value on the calling thread, as run() would, when run() is waiting for values with
    // nothing queued and keys need no pauses: the value is typed without waking the output thread. True
    // when it was typed (or its keys failed as they would have on the output thread); false, and nothing
    // done, otherwise: add() it then. While it types, the value counts as unfinished.
    bool typeIfIdle(const std::string& value);

    // Types queued values until the thread is interrupted. An interruption during a pause lets the value
    // being typed finish without further pauses (so no key is left held and no value half typed); run()
    // returns with the thread's interrupt flag set. When the injector loses its display, run() reports
    // the value it was typing with "cannot_type" and the reason, calls the lost handler and returns.
    void run();

    // Called once, on the thread that typed, with the reason when the injector lost its display.
    void onOutputLost(std::function<void(const std::string& reason)> handler) {
        lostHandler = std::move(handler);
    }

    // Called on the thread that typed (see typeIfIdle) each time the queue has been typed to its end.
    void onCaughtUp(std::function<void()> handler) { caughtUpHandler = std::move(handler); }
    // Called on the thread that typed, for each value taken from the queue or typed by typeIfIdle, in that
    // order, once it is done: typed (with the "cannot_type" reports of its characters that have no key,
    // joined by "; ", as the note), or not typed because the display was lost (the loss as the note).
    void onValueDone(std::function<void(bool typed, const std::string& note)> handler) {
        valueDoneHandler = std::move(handler);
    }
    // Letters come out as they are whatever the Caps Lock state: while Caps Lock is on, each value is
    // typed with it released, and it is locked again after the value's terminator. Off by default; set
    // before run().
    void setOverrideCapsLock(bool on) { overrideCapsLock = on; }

    // Waits until every value queued so far has been typed to its last key release (true), or until the
    // deadline passes or run() has ended (false). Interruptible.
    bool awaitIdle(std::chrono::steady_clock::time_point deadline);
    // run() has returned (interrupted, or the display was lost).
    bool hasEnded() const { return ended; }

    // One value as run() types it: start key, value, terminator (Caps Lock released around them when it
    // is on and overridden); then the value-done handler.
    void typeValue(const std::string& value);
    // A start key or terminator: a direct key is tapped, any other code is typed as the character of that
    // code through the complete key map.
    void pressKeyReleaseStartEnd(int keyCode, int delay);
    // Types the text through the complete key map or the preset's one; characters without an entry are
    // reported to the view and skipped.
    void typeString(const std::string& text, bool complete);

    static base::BlockingQueue<std::string>& queue();
    platform::KeyInjector& injector() { return *keyInjector; }

  private:
    // The value's keys failed for good: says so, ends the output and calls the lost handler.
    void lose(const std::string& value, const platform::KeyOutputLost& failure);
    // Releases Caps Lock when it is on and overridden; true when it was released and is to be locked again.
    bool releaseCapsLock();
    void typeStart();
    void typeEnd();
    void pressKeyRelease(int keyCode, int delay);
    void typeChord(const std::vector<int>& codes);
    void typeAltCode(const std::string& character, const std::vector<int>& codes);
    void pause(int milliseconds);
    void press(int keyCode);
    void release(int keyCode);
    // To the view, and to the notes of the value being typed.
    void report(const std::string& message);
    void note(const std::string& message);

    std::unique_ptr<platform::KeyInjector> keyInjector;
    WeightWorkerView* view;
    int keyDelay;
    int endWith;
    int endWith2;
    int everyXValues;
    int numCounter = 0;
    int startWith;
    KeyboardType keyboardType;
    config::KeyMap keyMap;
    config::KeyMap keyMapComplete;
    std::vector<int> directKeys;
    std::string cannotType;  // catalogue text, read once
    bool overrideCapsLock = false;
    bool capsLockGivenUp = false;  // its state could not be read, or its key did not release it
    std::string valueNotes;        // the reports about the value being typed; with `typing` held
    std::string valueBeingTyped;   // with `typing` held
    bool refusalReported = false;  // a refused key was reported for the value being typed
    // Held while a value is typed, by the output thread or by typeIfIdle.
    std::mutex typing;
    std::shared_ptr<base::InterruptFlag> outputThread;  // run()'s thread while it waits for values
    std::atomic<bool> stopping{false};  // interrupted during a pause: finish the value, then stop
    std::atomic<bool> ended{false};     // run() has returned, or the display was lost
    std::atomic<bool> lossReported{false};
    std::function<void(const std::string&)> lostHandler;
    std::function<void()> caughtUpHandler;
    std::function<void(bool, const std::string&)> valueDoneHandler;
};

}  // namespace rszorvik::worker
