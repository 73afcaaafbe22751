#include "platform/X11KeyInjector.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <thread>

#include "base/Interruptible.h"
#include "base/VirtualKeys.h"
#include "platform/X11KeySequencer.h"

namespace rszorvik::platform {

struct X11KeyInjector::Impl final : X11KeySequencer::Output {
    Display* display = nullptr;
    int xkbEventBase = 0;
    bool stale = true;
    X11KeyTable table;
    unsigned lockedModifiers = 0;
    X11KeySequencer sequencer{*this};

    std::map<int, int> pressed;  // virtual key -> the keycode its press went to
    bool shiftHeld = false;
    bool level3Held = false;
    bool lastDead = false;

    // Keycodes without symbols that we bound to a character, with the order of their last use.
    std::map<int, Keysym> bound;
    std::map<int, unsigned long> lastUse;
    unsigned long uses = 0;

    explicit Impl(const std::string& displayName);
    ~Impl() override;

    void refresh();
    void rebuild();
    void fake(int keycode, bool down) {
        XTestFakeKeyEvent(display, static_cast<unsigned>(keycode), down ? True : False, CurrentTime);
    }
    int bindSpare(Keysym keysym);

    void sendKey(int keyCode, bool down) override;
    void sendLevel3(bool down) override;
    bool hasLevel3() const override { return table.hasLevel3; }
    void typeCharacter(char32_t character) override;
};

X11KeyInjector::Impl::Impl(const std::string& displayName) {
    display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (display == nullptr) {
        const char* env = std::getenv("DISPLAY");
        const std::string name = displayName.empty() ? (env ? env : "") : displayName;
        throw std::runtime_error("Cannot open the X display \"" + name + "\"");
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        throw std::runtime_error("The X server has no XTEST extension");
    }
    int opcode = 0;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &xkbEventBase, &error, &major, &minor)) {
        XCloseDisplay(display);
        throw std::runtime_error("The X server has no XKB extension");
    }
    // A new layout, a changed keymap, another group or Caps Lock make the table stale.
    XkbSelectEvents(display, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                    XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
    const unsigned long stateDetails = XkbGroupStateMask | XkbModifierLockMask;
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, stateDetails, stateDetails);
}

X11KeyInjector::Impl::~Impl() {
    // Nothing stays held down after us.
    for (const auto& [keyCode, keycode] : pressed)
        fake(keycode, false);
    if (level3Held) {
        if (const auto keycode = table.findAtLevel(XK_ISO_Level3_Shift, 1)) fake(*keycode, false);
    }
    XSync(display, False);
    if (!bound.empty()) {
        // Give the focused application time to read the bound symbols before they go.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        refresh();
        for (const auto& [keycode, keysym] : bound) {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(display, keycode, 2, none, 1);
        }
        XSync(display, False);
    }
    XCloseDisplay(display);
}

void X11KeyInjector::Impl::refresh() {
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == xkbEventBase || event.type == MappingNotify) stale = true;
    }
    if (stale) {
        rebuild();
        stale = false;
    }
}

void X11KeyInjector::Impl::rebuild() {
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    XkbDescPtr xkb = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    if (xkb == nullptr) throw std::runtime_error("Cannot read the keyboard map of the X server");

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
    X11KeyTable::Key key;
    key.levels.fill(keysym);
    key.all = {keysym};
    table.keys[keycode] = key;
    return keycode;
}

void X11KeyInjector::Impl::sendKey(int keyCode, bool down) {
    refresh();
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
    if (keyCode == Vk::SHIFT) {
        shiftHeld = down;
    } else if (down && keyCode != Vk::CONTROL && keyCode != Vk::ALT) {
        const std::size_t level = (shiftHeld ? 1U : 0U) | (level3Held ? 2U : 0U);
        lastDead = x11IsDeadKeysym(table.keys.at(keycode).levels[level]);
    }
    fake(keycode, down);
}

void X11KeyInjector::Impl::sendLevel3(bool down) {
    refresh();
    const auto keycode = table.findAtLevel(XK_ISO_Level3_Shift, 1);
    if (!keycode) throw std::invalid_argument("The keyboard layout has no AltGr key");
    level3Held = down;
    fake(*keycode, down);
}

void X11KeyInjector::Impl::typeCharacter(char32_t character) {
    refresh();
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

    // With a modifier held the layout's own keys would type something else.
    if (!shiftHeld && !level3Held) {
        if (const auto stroke = x11StrokeFor(table, keysym)) {
            const int shift = (stroke->level & 1) ? x11KeycodeOf(table, Vk::SHIFT) : 0;
            const int level3 = (stroke->level & 2) ? *table.findAtLevel(XK_ISO_Level3_Shift, 1) : 0;
            if (shift) fake(shift, true);
            if (level3) fake(level3, true);
            fake(stroke->keycode, true);
            fake(stroke->keycode, false);
            if (level3) fake(level3, false);
            if (shift) fake(shift, false);
            return;
        }
    }
    const int keycode = bindSpare(keysym);
    fake(keycode, true);
    fake(keycode, false);
}

X11KeyInjector::X11KeyInjector(const std::string& displayName) : impl_(std::make_unique<Impl>(displayName)) {
    impl_->refresh();
}

X11KeyInjector::~X11KeyInjector() = default;

// Each key event goes to the server as it is sent: Xlib would otherwise hold it in its buffer until the
// next pause, and a pause of 0 must not be what makes a key arrive.
void X11KeyInjector::keyPress(int keyCode) {
    impl_->sequencer.press(keyCode);
    XFlush(impl_->display);
}

void X11KeyInjector::keyRelease(int keyCode) {
    impl_->sequencer.release(keyCode);
    XFlush(impl_->display);
}

void X11KeyInjector::delay(int milliseconds) {
    XFlush(impl_->display);  // what a failed press or release left in the buffer
    if (milliseconds > 0) base::Interruptible::sleepFor(std::chrono::milliseconds(milliseconds));
}

bool X11KeyInjector::lastKeyWasDead() const {
    return impl_->lastDead;
}

const X11KeyTable& X11KeyInjector::keyTable() {
    impl_->refresh();
    return impl_->table;
}

void X11KeyInjector::sync() {
    XSync(impl_->display, False);
}

}  // namespace rszorvik::platform
