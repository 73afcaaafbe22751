#include "worker/Keybot.h"

#include <algorithm>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/Interruptible.h"
#include "base/MessageCatalog.h"
#include "base/Utf8.h"
#include "worker/WeightWorkerView.h"

namespace rszorvik::worker {

namespace {

constexpr int kAlt = Vk::ALT;
constexpr int kSpace = Vk::SPACE;

}  // namespace

base::BlockingQueue<std::string>& Keybot::queue() {
    static base::BlockingQueue<std::string> values;
    return values;
}

Keybot::Keybot(int keyDelay, int startWith, int endWith, int endWith2, int everyXValues,
               KeyboardType keyboardType, KeyMapType keyMapType, WeightWorkerView* view,
               std::unique_ptr<platform::KeyInjector> injector)
    : keyInjector(injector ? std::move(injector) : platform::KeyInjector::create()),
      view(view),
      keyDelay(keyDelay),
      endWith(endWith),
      endWith2(endWith2),
      everyXValues(everyXValues),
      startWith(startWith),
      keyboardType(keyboardType),
      keyMap(keyboardType.getKeymap(keyMapType)),
      keyMapComplete(keyboardType.getKeymap(KeyMapType::ALPHANUMERIC_COMPLETE)),
      directKeys(KeyboardType::getDirectKeys()),
      cannotType(base::MessageCatalog::get(base::catalogues::kWorker).getString("cannot_type")) {
    // Start keys and terminators that are characters type through the complete map, so both maps hold
    // every character this output types.
    std::u32string characters;
    for (const config::KeyMap* map : {&keyMap, &keyMapComplete}) {
        for (const auto& [character, codes] : *map) {
            std::size_t at = 0;
            characters += base::utf8::next(character, at);
        }
    }
    keyInjector->prepareFor(characters);
}

void Keybot::add(const std::string& value) {
    if (!value.empty()) queue().put(value);
}

namespace {

// A value counts as pending until its last key is released, not merely until it is taken.
struct Handled {
    ~Handled() { Keybot::queue().taskDone(); }
};

}  // namespace

void Keybot::run() {
    {
        std::lock_guard lock(typing);
        stopping = false;
        ended = false;
        outputThread = base::Interruptible::currentFlag();
    }
    bool lost = false;
    std::string value;
    try {
        while (!stopping) {
            value = queue().take();
            {
                // Done only once the lock is free, so that whoever sees the queue idle can type.
                Handled handled;
                std::lock_guard lock(typing);
                typeValue(value);
            }
            if (caughtUpHandler && queue().unfinished() == 0) caughtUpHandler();
        }
    } catch (const base::InterruptedError&) {
        // Interrupted while waiting for a value, or before taking one.
    } catch (const platform::KeyOutputLost& e) {
        lost = true;
        lose(value, e);
    }
    {
        std::lock_guard lock(typing);
        outputThread.reset();
        lost = lost || ended;
        ended = true;
    }
    queue().wake();
    if (!lost) base::Interruptible::interruptCurrentThread();
}

bool Keybot::typeIfIdle(const std::string& value) {
    if (keyDelay > 0 || value.empty()) return false;
    // The output thread is typing: the value waits its turn.
    std::unique_lock lock(typing, std::try_to_lock);
    if (!lock.owns_lock() || !outputThread || ended || stopping || !queue().claimIfIdle()) return false;
    std::optional<platform::KeyOutputLost> lost;
    {
        Handled handled;
        try {
            typeValue(value);
        } catch (const platform::KeyOutputLost& e) {
            lost = e;
            // The output thread waits for values it could not type either.
            ended = true;
            outputThread->interrupt();
        }
        // A pause interrupted here was this thread's own (its reading was stopped), not the output's.
        stopping = false;
    }
    lock.unlock();
    if (lost) {
        lose(value, *lost);
    } else if (caughtUpHandler && queue().unfinished() == 0) {
        caughtUpHandler();
    }
    return true;
}

void Keybot::lose(const std::string& value, const platform::KeyOutputLost& failure) {
    // Not through report(): the value's notes belong to the thread that types, and this one has let go.
    if (view) view->logImportantEvent(cannotType + value + " (" + failure.what() + ")");
    if (valueDoneHandler) valueDoneHandler(false, failure.what());
    // Ended before anyone hears of the loss.
    ended = true;
    queue().wake();
    if (lostHandler && !lossReported.exchange(true)) lostHandler(failure.what());
}

bool Keybot::awaitIdle(std::chrono::steady_clock::time_point deadline) {
    return queue().awaitAllDone(deadline, [this] { return ended.load(); });
}

void Keybot::typeValue(const std::string& value) {
    valueNotes.clear();
    valueBeingTyped = value;
    refusalReported = false;
    const bool released = releaseCapsLock();
    typeStart();
    typeString(value, false);
    typeEnd();
    if (released) pressKeyRelease(Vk::CAPS_LOCK, keyDelay);
    if (valueDoneHandler) valueDoneHandler(true, valueNotes);
}

bool Keybot::releaseCapsLock() {
    if (!overrideCapsLock || capsLockGivenUp) return false;
    const base::MessageCatalog& texts = base::MessageCatalog::get(base::catalogues::kWorker);
    try {
        if (!keyInjector->capsLockOn()) return false;
        pressKeyRelease(Vk::CAPS_LOCK, keyDelay);
        // Asked again, which also lets the injector see the new state before the first key of the value.
        if (!keyInjector->capsLockOn()) return true;
        report(texts.getString("caps.lock.stays.on"));
    } catch (const platform::KeyOutputLost&) {
        throw;
    } catch (const std::exception& e) {
        report(texts.getString("caps.lock.unknown") + e.what());
    }
    // Said once: it would be the same for every value, which are typed as they come from now on.
    capsLockGivenUp = true;
    return false;
}

void Keybot::typeStart() {
    if (startWith > 0) pressKeyReleaseStartEnd(startWith, keyDelay);
}

void Keybot::typeEnd() {
    if (everyXValues > 1) {
        ++numCounter;
        if (numCounter == everyXValues) {
            numCounter = 0;
            if (endWith2 > 0) pressKeyReleaseStartEnd(endWith2, keyDelay);
            return;
        }
    }
    if (endWith > 0) pressKeyReleaseStartEnd(endWith, keyDelay);
}

void Keybot::pressKeyReleaseStartEnd(int keyCode, int delay) {
    if (std::find(directKeys.begin(), directKeys.end(), keyCode) != directKeys.end()) {
        pressKeyRelease(keyCode, delay);
    } else if (keyCode > 0 && keyCode <= 0x10ffff) {
        // Punctuation such as comma or semicolon comes out right only through the layout's map.
        std::string character;
        base::utf8::append(character, static_cast<char32_t>(keyCode));
        typeString(character, true);
    }
}

void Keybot::pressKeyRelease(int keyCode, int delay) {
    press(keyCode);
    pause(delay);
    release(keyCode);
    pause(delay);
}

void Keybot::typeString(const std::string& text, bool complete) {
    const config::KeyMap& map = complete ? keyMapComplete : keyMap;
    for (std::size_t pos = 0; pos < text.size();) {
        // A byte that starts no well-formed sequence stands for itself.
        const std::size_t start = pos;
        const char32_t codePoint = base::utf8::next(text, pos);
        const std::string bytes = text.substr(start, pos - start);
        const auto entry = map.find(bytes);
        if (entry == map.end() || entry->second.empty()) {
            if (codePoint < 32 || codePoint > 126) {
                report(cannotType + "<" + std::to_string(static_cast<unsigned long>(codePoint)) + ">");
            } else {
                report(cannotType + bytes);
            }
            continue;
        }
        if (entry->second.front() == kAlt) {
            typeAltCode(bytes, entry->second);
        } else {
            typeChord(entry->second);
        }
    }
}

void Keybot::typeChord(const std::vector<int>& codes) {
    // A Space after the first code completes a dead key; it is tapped on its own after the chord.
    bool space = false;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (codes[i] == kSpace && i > 0) {
            space = true;
            continue;
        }
        press(codes[i]);
        pause(keyDelay);
    }
    for (std::size_t i = codes.size(); i-- > 0;) {
        if (codes[i] == kSpace && i > 0) continue;
        release(codes[i]);
        pause(keyDelay);
    }
    // Where the layout has no dead key there (AltGr+7 on the French layout of X types a plain grave
    // accent), a Space would only add a blank.
    if (space && keyInjector->lastKeyWasDead()) {
        try {
            keyInjector->keyPress(kSpace);
            pause(keyDelay);
            keyInjector->keyRelease(kSpace);
            pause(keyDelay);
        } catch (const platform::KeyOutputLost&) {
            throw;
        } catch (const std::exception& e) {
            if (view) {
                report(std::string("Deadkey error: ") + e.what());
            } else {
                std::cout << "Deadkey error" << std::endl;
            }
        }
    }
}

void Keybot::typeAltCode(const std::string& character, const std::vector<int>& codes) {
    bool altDown = false;
    try {
        keyInjector->keyPress(kAlt);
        altDown = true;
        pause(keyDelay);
        for (std::size_t i = 1; i < codes.size(); ++i) {
            keyInjector->keyPress(codes[i]);
            pause(keyDelay);
            keyInjector->keyRelease(codes[i]);
            pause(keyDelay);
        }
        altDown = false;
        keyInjector->keyRelease(kAlt);
        pause(keyDelay);
    } catch (const platform::KeyOutputLost&) {
        throw;
    } catch (const std::exception& e) {
        if (view) {
            report("Error pressing ALT key for " + character + " on " + keyboardType.toString() +
                   " keyboard: " + e.what());
        } else {
            std::cout << "Error pressing/releasing ALT key for : " << character << std::endl;
        }
        // A keypad digit failed with Alt still down: let it go, or every key after it would be a shortcut.
        if (altDown) {
            try {
                keyInjector->keyRelease(kAlt);
            } catch (const std::exception&) {
            }
        }
    }
    pause(keyDelay);
}

void Keybot::press(int keyCode) {
    try {
        keyInjector->keyPress(keyCode);
    } catch (const platform::KeyOutputLost&) {
        throw;
    } catch (const std::exception& e) {
        if (view) {
            report("Error pressing key " + std::to_string(keyCode) + " on " + keyboardType.toString() +
                   " keyboard: " + e.what());
        } else {
            std::cout << "Error on pressing: " << keyCode << "\n" << e.what() << std::endl;
        }
    }
}

void Keybot::release(int keyCode) {
    try {
        keyInjector->keyRelease(keyCode);
    } catch (const platform::KeyOutputLost&) {
        throw;
    } catch (const std::exception& e) {
        if (view) {
            report("Error releasing key " + std::to_string(keyCode) + " on " + keyboardType.toString() +
                   " keyboard: " + e.what());
        } else {
            std::cout << "Error on releasing: " << keyCode << "\n" << e.what() << std::endl;
        }
    }
}

void Keybot::pause(int milliseconds) {
    try {
        keyInjector->delay(stopping ? 0 : milliseconds);
    } catch (const base::InterruptedError&) {
        stopping = true;
    } catch (const platform::KeyOutputLost&) {
        throw;
    } catch (const std::exception& e) {
        // The system refused an event sent before this pause; the next ones may go through. A locked
        // desktop refuses every key: the value is named once, not once for each of its keys.
        if (!refusalReported) report(cannotType + valueBeingTyped + " (" + e.what() + ")");
        refusalReported = true;
    }
}

void Keybot::report(const std::string& message) {
    note(message);
    if (view) view->logImportantEvent(message);
}

void Keybot::note(const std::string& message) {
    valueNotes += (valueNotes.empty() ? "" : "; ") + message;
}

}  // namespace rszorvik::worker
