#include "platform/X11KeyInjector.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/Interruptible.h"
#include "base/VirtualKeys.h"
#include "platform/X11KeySequencer.h"

namespace rszorvik::platform {

namespace {

// How long bound keycodes keep their symbols after their last use when the output ends: the focused
// application may still be reading the keys sent last.
constexpr auto kBoundKeysLinger = std::chrono::milliseconds(100);
// Sending nothing for this long makes the next chord the first of a burst.
constexpr auto kQuietSpell = std::chrono::milliseconds(1);

// Xlib's default handlers end the process, from whichever thread made the call, when the X server goes
// away or refuses a request. The handlers are process-wide: ours find the injector whose display the
// error concerns and leave the errors of other displays to the handlers that were there before.
struct Handlers {
    std::mutex mutex;
    std::map<Display*, X11KeyInjector::Impl*> injectors;
    std::vector<Display*> abandoned;  // connections that died; Xlib must not be asked to close them
    XErrorHandler previousError = nullptr;
    XIOErrorHandler previousIoError = nullptr;
};

Handlers& handlers() {
    static Handlers* const instance = new Handlers;  // used by Xlib until the process ends
    return *instance;
}

X11KeyInjector::Impl* injectorOf(Display* display) {
    Handlers& h = handlers();
    std::lock_guard lock(h.mutex);
    const auto it = h.injectors.find(display);
    return it == h.injectors.end() ? nullptr : it->second;
}

int onProtocolError(Display* display, XErrorEvent* event);
int onIoError(Display* display);
void onIoErrorExit(Display* display, void* injector);

void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Our connection is used by the keyboard thread while other threads may open their own.
        XInitThreads();
        Handlers& h = handlers();
        h.previousError = XSetErrorHandler(onProtocolError);
        h.previousIoError = XSetIOErrorHandler(onIoError);
    });
}

}  // namespace

struct X11KeyInjector::Impl final : X11KeySequencer::Output {
    Display* display = nullptr;
    std::string displayName;
    // Set by the handlers, which run on the thread that made the failing call: the keyboard thread.
    std::atomic<bool> dead{false};
    std::string refused;  // a request the server refused since the last check
    int xkbEventBase = 0;
    bool stale = true;
    X11KeyTable table;
    unsigned lockedModifiers = 0;
    X11KeySequencer sequencer{*this};

    std::map<int, int> pressed;  // virtual key -> the keycode its press went to
    bool shiftHeld = false;
    bool level3Held = false;
    bool lastDead = false;
    // Between the first press of a chord and its last release: the chord goes to the server whole, and
    // the table is not read again before the next one.
    bool keysHeld() const { return !pressed.empty() || level3Held; }
    std::chrono::steady_clock::time_point lastSent;  // when events last went to the server

    // A dead key is held back until the next key: with Space it stands for its bare accent, with a letter
    // for the letter they compose to, and either is typed as a key of its own instead. Composed in the
    // receiving client, it would overtake the plain keys still queued there before it.
    struct HeldDead {
        int keyCode;
        Keysym keysym;
        bool released;
    };
    std::optional<HeldDead> heldDead;
    std::optional<int> replacedKey;  // a press that became the accent or letter; its release goes nowhere

    // Keycodes without symbols that we bound to a character, with the order of their last use.
    std::map<int, Keysym> bound;
    std::map<int, unsigned long> lastUse;
    unsigned long uses = 0;
    std::chrono::steady_clock::time_point lastBoundUse;  // a keycode bound or typed
    // What the output may type and the layout has no key for is bound when the output starts (and again
    // after a change of layout), so that the key map stays as it is while keys are on their way to a
    // client that reads it only when it gets to them.
    std::vector<Keysym> prepared;
    bool bindingDue = false;  // the prepared keysyms are to be checked against the table

    explicit Impl(const std::string& displayName);
    ~Impl() override;

    // KeyOutputLost once the connection is gone: nothing may touch the display after that.
    void checkAlive() const {
        if (dead) throw KeyOutputLost("Lost the connection to the X display \"" + displayName + "\"");
    }
    // Sends everything and waits until the server has handled it; a refused request is reported here.
    void syncAndCheck();
    // Reports a refused request that has come back so far.
    void checkRefused();
    void closeDisplay();
    // Takes in what the server sent, without waiting for more.
    void readEvents();
    void refresh();
    void rebuild();
    bool bindPrepared();
    void fake(int keycode, bool down) {
        XTestFakeKeyEvent(display, static_cast<unsigned>(keycode), down ? True : False, CurrentTime);
    }
    int bindSpare(Keysym keysym);
    void tapBound(Keysym keysym) {
        const int keycode = bindSpare(keysym);
        fake(keycode, true);
        fake(keycode, false);
        lastBoundUse = std::chrono::steady_clock::now();
    }
    void tapAtLevel(int keycode, int level);
    // The keysym from the layout's own key where it has one, else from a bound keycode.
    void typeKeysym(Keysym keysym) {
        if (const auto stroke = x11StrokeFor(table, keysym)) {
            tapAtLevel(stroke->keycode, stroke->level);
        } else {
            tapBound(keysym);
        }
    }
    // The held-back dead key goes out after all, for the key that follows to compose with.
    void releaseHeldDead() {
        if (!heldDead) return;
        const Keysym keysym = heldDead->keysym;
        heldDead.reset();
        typeKeysym(keysym);
    }
    // What the virtual key types with the modifiers held now; 0 where the layout has no such key.
    Keysym keysymNow(int keyCode) const;
    bool holdBackDead(int keyCode, bool down);

    void sendKey(int keyCode, bool down) override;
    void sendLevel3(bool down) override;
    bool hasLevel3() const override { return table.hasLevel3; }
    void typeCharacter(char32_t character) override;
};

namespace {

int onProtocolError(Display* display, XErrorEvent* event) {
    X11KeyInjector::Impl* injector = injectorOf(display);
    if (injector == nullptr) {
        const XErrorHandler previous = handlers().previousError;
        return previous ? previous(display, event) : 0;
    }
    char text[256] = {};
    XGetErrorText(display, event->error_code, text, sizeof text);
    injector->refused = "The X server refused request " + std::to_string(event->request_code) + "." +
                        std::to_string(event->minor_code) + ": " + text;
    return 0;
}

int onIoError(Display* display) {
    X11KeyInjector::Impl* injector = injectorOf(display);
    if (injector == nullptr) {
        const XIOErrorHandler previous = handlers().previousIoError;
        return previous ? previous(display) : 0;
    }
    // What happens next is up to the exit handler of the display.
    injector->dead = true;
    return 0;
}

// Instead of exit(): Xlib returns to the caller, and every further request on the display does nothing.
void onIoErrorExit(Display* display, void* injector) {
    static_cast<X11KeyInjector::Impl*>(injector)->dead = true;
    Handlers& h = handlers();
    std::lock_guard lock(h.mutex);
    h.abandoned.push_back(display);
}

}  // namespace

X11KeyInjector::Impl::Impl(const std::string& name) {
    installHandlers();
    const char* env = std::getenv("DISPLAY");
    displayName = name.empty() ? (env ? env : "") : name;
    display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (display == nullptr) throw std::runtime_error("Cannot open the X display \"" + displayName + "\"");
    XSetIOErrorExitHandler(display, onIoErrorExit, this);
    {
        Handlers& h = handlers();
        std::lock_guard lock(h.mutex);
        h.injectors[display] = this;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        closeDisplay();
        throw std::runtime_error("The X server has no XTEST extension");
    }
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &xkbEventBase, &error, &major, &minor)) {
        closeDisplay();
        throw std::runtime_error("The X server has no XKB extension");
    }
    // A new layout, a changed keymap, another group or Caps Lock make the table stale.
    XkbSelectEvents(display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                    XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
    const unsigned long stateDetails = XkbGroupStateMask | XkbModifierLockMask;
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, stateDetails, stateDetails);
}

X11KeyInjector::Impl::~Impl() {
    if (dead) {
        closeDisplay();
        return;
    }
    // Nothing stays held down after us. A dead key still held back goes nowhere: alone it types nothing.
    for (const auto& [keyCode, keycode] : pressed)
        fake(keycode, false);
    if (level3Held) {
        if (const auto keycode = table.findAtLevel(XK_ISO_Level3_Shift, 1)) fake(*keycode, false);
    }
    XSync(display, False);
    if (!bound.empty()) {
        // Give the focused application time to read the bound symbols before they go.
        std::this_thread::sleep_until(lastBoundUse + kBoundKeysLinger);
        prepared.clear();
        bindingDue = false;
        try {
            refresh();
        } catch (const std::exception&) {
            // The server went away meanwhile (or cannot tell its keymap): nothing left to undo there.
            closeDisplay();
            return;
        }
        for (const auto& [keycode, keysym] : bound) {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(display, keycode, 2, none, 1);
        }
        XSync(display, False);
    }
    closeDisplay();
}

void X11KeyInjector::Impl::closeDisplay() {
    Handlers& h = handlers();
    {
        std::lock_guard lock(h.mutex);
        if (const auto it = h.injectors.find(display); it != h.injectors.end() && it->second == this)
            h.injectors.erase(it);
    }
    // A dead connection stays with the handlers (reachable, never closed): closing it would talk to it.
    if (!dead) XCloseDisplay(display);
}

void X11KeyInjector::Impl::syncAndCheck() {
    checkAlive();
    XSync(display, False);
    checkRefused();
}

void X11KeyInjector::Impl::checkRefused() {
    checkAlive();
    if (!refused.empty()) {
        const std::string message = std::move(refused);
        refused.clear();
        throw std::runtime_error(message);
    }
}

void X11KeyInjector::Impl::readEvents() {
    checkAlive();
    // Reads without flushing what waits to be sent, and without waiting for the server.
    while (XEventsQueued(display, QueuedAfterReading) > 0 && !dead) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == xkbEventBase || event.type == MappingNotify) stale = true;
    }
    checkAlive();
}

void X11KeyInjector::Impl::refresh() {
    readEvents();
    // Our own bindings come back as a change of the key map, read once more: two turns, unless someone
    // changes the map meanwhile.
    for (int turn = 0; turn < 3 && (stale || bindingDue); ++turn) {
        if (stale) {
            stale = false;
            rebuild();
            checkAlive();
            bindingDue = !prepared.empty();
        }
        if (bindingDue && bindPrepared()) readEvents();
    }
}

void X11KeyInjector::Impl::rebuild() {
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    XkbDescPtr xkb = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    if (xkb == nullptr) {
        checkAlive();
        throw std::runtime_error("Cannot read the keyboard map of the X server");
    }

    X11KeyTable fresh;
    unsigned level3Mask = 0;
    for (int keycode = xkb->min_key_code; keycode <= xkb->max_key_code; ++keycode) {
        const int count = XkbKeyNumSyms(xkb, keycode);
        const KeySym* syms = XkbKeySymsPtr(xkb, keycode);
        X11KeyTable::Key key;
        for (int i = 0; i < count; ++i) {
            if (syms[i] == NoSymbol) continue;
            key.all.push_back(static_cast<Keysym>(syms[i]));
            if (syms[i] == XK_ISO_Level3_Shift) level3Mask |= xkb->map->modmap[keycode];
        }
        if (key.all.empty()) {
            // The lowest keycode stays out: some clients take it for "no key".
            if (keycode > xkb->min_key_code) fresh.spare.push_back(keycode);
            continue;
        }
        fresh.keys.emplace(keycode, std::move(key));
    }
    const unsigned levelModifiers[X11KeyTable::kLevels] = {0, ShiftMask, level3Mask, ShiftMask | level3Mask};
    for (auto& [keycode, key] : fresh.keys) {
        for (int level = 0; level < X11KeyTable::kLevels; ++level) {
            if (level >= 2 && level3Mask == 0) break;
            unsigned consumed = 0;
            KeySym keysym = NoSymbol;
            XkbTranslateKeyCode(xkb, static_cast<KeyCode>(keycode),
                                XkbBuildCoreState(levelModifiers[level], state.group), &consumed, &keysym);
            key.levels[static_cast<std::size_t>(level)] = static_cast<Keysym>(keysym);
        }
    }
    XkbFreeKeyboard(xkb, 0, True);
    fresh.hasLevel3 = level3Mask != 0 && fresh.findAtLevel(XK_ISO_Level3_Shift, 1).has_value();

    // Our bindings survive a change of keymap only where the keycode still carries our symbol.
    for (auto it = bound.begin(); it != bound.end();) {
        const auto key = fresh.keys.find(it->first);
        if (key != fresh.keys.end() && key->second.levels[0] == it->second) {
            ++it;
        } else {
            lastUse.erase(it->first);
            it = bound.erase(it);
        }
    }
    table = std::move(fresh);
    lockedModifiers = state.locked_mods;
}

bool X11KeyInjector::Impl::bindPrepared() {
    bindingDue = false;
    bool changed = false;
    for (const Keysym keysym : prepared) {
        // With every spare keycode taken, the rest are bound when they are typed.
        if (table.spare.empty()) break;
        if (x11StrokeFor(table, keysym)) continue;
        bindSpare(keysym);
        changed = true;
    }
    // Every client has been sent the new key map before any key that needs it.
    if (changed) syncAndCheck();
    return changed;
}

int X11KeyInjector::Impl::bindSpare(Keysym keysym) {
    for (const auto& [keycode, boundKeysym] : bound) {
        if (boundKeysym == keysym) {
            lastUse[keycode] = ++uses;
            return keycode;
        }
    }
    int keycode = -1;
    if (!table.spare.empty()) {
        keycode = table.spare.front();
        table.spare.erase(table.spare.begin());
    } else if (!bound.empty()) {
        // All taken: the binding used longest ago goes.
        keycode = bound.begin()->first;
        for (const auto& [candidate, use] : lastUse)
            if (use < lastUse[keycode]) keycode = candidate;
    } else {
        throw std::invalid_argument("The keyboard has no free keycode to type the character");
    }
    KeySym syms[2] = {keysym, keysym};
    XChangeKeyboardMapping(display, keycode, 2, syms, 1);
    bound[keycode] = keysym;
    lastUse[keycode] = ++uses;
    lastBoundUse = std::chrono::steady_clock::now();
    X11KeyTable::Key key;
    key.levels.fill(keysym);
    key.all = {keysym};
    table.keys[keycode] = key;
    return keycode;
}

void X11KeyInjector::Impl::tapAtLevel(int keycode, int level) {
    // Shift and AltGr as the level needs them, for the moment, whatever the keys typed before hold.
    const bool shift = (level & 1) != 0;
    const bool level3 = (level & 2) != 0;
    int shiftKey = 0;
    if (shift != shiftHeld) {
        const auto held = pressed.find(Vk::SHIFT);
        shiftKey = held != pressed.end() ? held->second : x11KeycodeOf(table, Vk::SHIFT);
    }
    const int level3Key = level3 != level3Held ? *table.findAtLevel(XK_ISO_Level3_Shift, 1) : 0;
    if (shiftKey) fake(shiftKey, shift);
    if (level3Key) fake(level3Key, level3);
    fake(keycode, true);
    fake(keycode, false);
    if (level3Key) fake(level3Key, level3Held);
    if (shiftKey) fake(shiftKey, shiftHeld);
}

Keysym X11KeyInjector::Impl::keysymNow(int keyCode) const {
    try {
        const int keycode = x11KeycodeOf(table, keyCode);
        return table.keys.at(keycode).levels[(shiftHeld ? 1U : 0U) | (level3Held ? 2U : 0U)];
    } catch (const std::invalid_argument&) {
        return 0;
    }
}

bool X11KeyInjector::Impl::holdBackDead(int keyCode, bool down) {
    if (!down) {
        if (heldDead && heldDead->keyCode == keyCode && !heldDead->released) {
            heldDead->released = true;
            return true;
        }
        if (replacedKey == keyCode) {
            replacedKey.reset();
            return true;
        }
        return false;
    }
    // Modifiers do not change what a dead key composes with.
    if (keyCode == Vk::SHIFT || keyCode == Vk::CONTROL || keyCode == Vk::ALT) return false;
    if (heldDead) {
        const Keysym result = keyCode == Vk::SPACE ? x11SpacingAccentOf(heldDead->keysym)
                                                   : x11ComposedOf(heldDead->keysym, keysymNow(keyCode));
        if (result != 0) {
            heldDead.reset();
            typeKeysym(result);
            replacedKey = keyCode;
            lastDead = false;
            return true;
        }
    }
    releaseHeldDead();
    const int keycode = x11KeycodeOf(table, keyCode);
    const std::size_t level = (shiftHeld ? 1U : 0U) | (level3Held ? 2U : 0U);
    const Keysym keysym = table.keys.at(keycode).levels[level];
    lastDead = x11IsDeadKeysym(keysym);
    if (!lastDead || x11SpacingAccentOf(keysym) == 0) return false;
    heldDead = HeldDead{keyCode, keysym, false};
    return true;
}

void X11KeyInjector::Impl::sendKey(int keyCode, bool down) {
    if (!keysHeld()) refresh();
    if (holdBackDead(keyCode, down)) return;
    int keycode = 0;
    if (down) {
        keycode = x11KeycodeOf(table, keyCode);
        pressed[keyCode] = keycode;
    } else if (const auto it = pressed.find(keyCode); it != pressed.end()) {
        keycode = it->second;
        pressed.erase(it);
    } else {
        keycode = x11KeycodeOf(table, keyCode);
    }
    if (keyCode == Vk::SHIFT) shiftHeld = down;
    fake(keycode, down);
}

void X11KeyInjector::Impl::sendLevel3(bool down) {
    if (!keysHeld()) refresh();
    const auto keycode = table.findAtLevel(XK_ISO_Level3_Shift, 1);
    if (!keycode) throw std::invalid_argument("The keyboard layout has no AltGr key");
    level3Held = down;
    fake(*keycode, down);
}

void X11KeyInjector::Impl::typeCharacter(char32_t character) {
    if (!keysHeld()) refresh();
    releaseHeldDead();
    lastDead = false;
    const Keysym keysym = x11KeysymOf(character);
    if (keysym == 0)
        throw std::invalid_argument("No key types the character " +
                                    std::to_string(static_cast<unsigned>(character)));
    // Caps Lock does not touch an Alt code: it is off for the moment.
    struct CapsLockPause {
        Display* display;
        bool locked;
        ~CapsLockPause() {
            if (locked) XkbLockModifiers(display, XkbUseCoreKbd, LockMask, LockMask);
        }
    } capsLock{display, (lockedModifiers & LockMask) != 0};
    if (capsLock.locked) XkbLockModifiers(display, XkbUseCoreKbd, LockMask, 0);
    typeKeysym(keysym);
}

X11KeyInjector::X11KeyInjector(const std::string& displayName) : impl(std::make_unique<Impl>(displayName)) {
    impl->refresh();
}

X11KeyInjector::~X11KeyInjector() = default;

// Key events wait in Xlib's buffer for the pause that follows them.
void X11KeyInjector::keyPress(int keyCode) {
    impl->sequencer.press(keyCode);
}

void X11KeyInjector::keyRelease(int keyCode) {
    impl->sequencer.release(keyCode);
}

void X11KeyInjector::delay(int milliseconds) {
    if (milliseconds <= 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now - impl->lastSent > kQuietSpell) {
            // The first key after a quiet spell waits for the server, which then hands it to the client at
            // once rather than after the rest of the burst is made: that is the latency of a value.
            impl->syncAndCheck();
            impl->lastSent = now;
        } else if (!impl->keysHeld()) {
            // The rest go without waiting for the server, whose turns and the client's would otherwise
            // set the pace, each chord whole with the pause after its last release.
            impl->checkAlive();
            XFlush(impl->display);
            impl->checkRefused();
            impl->lastSent = now;
        } else {
            impl->checkRefused();
        }
        return;
    }
    // A round trip before a real pause: the pause starts once the server has the events, and the events
    // it refused are reported for the key that caused them.
    impl->syncAndCheck();
    base::Interruptible::sleepFor(std::chrono::milliseconds(milliseconds));
}

bool X11KeyInjector::lastKeyWasDead() const {
    return impl->lastDead;
}

void X11KeyInjector::prepareFor(std::u32string_view characters) {
    for (const char32_t character : characters) {
        const Keysym keysym = x11KeysymOf(character);
        if (keysym != 0 &&
            std::find(impl->prepared.begin(), impl->prepared.end(), keysym) == impl->prepared.end())
            impl->prepared.push_back(keysym);
    }
    impl->bindingDue = true;
    impl->refresh();
}

bool X11KeyInjector::capsLockOn() {
    impl->checkAlive();
    XkbStateRec state{};
    const bool read = XkbGetState(impl->display, XkbUseCoreKbd, &state) == Success;
    impl->checkAlive();
    if (!read) throw std::runtime_error("Cannot read the keyboard state");
    // Alt codes pause Caps Lock by this; the state change's event may still be on its way.
    impl->lockedModifiers = state.locked_mods;
    return (state.locked_mods & LockMask) != 0;
}

const X11KeyTable& X11KeyInjector::keyTable() {
    impl->refresh();
    return impl->table;
}

void X11KeyInjector::sync() {
    impl->syncAndCheck();
}

}  // namespace rszorvik::platform
