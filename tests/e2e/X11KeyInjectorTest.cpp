#include <gtest/gtest.h>

#include <QString>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/X11CapsLock.h"
#include "platform/X11KeyInjector.h"
#include "support/BusyProcesses.h"
#include "support/MessageView.h"
#include "support/PrintableAscii.h"
#include "support/TypingWindow.h"
#include "worker/Keybot.h"

// Last: Xlib defines macros (Status, Bool, None) that Qt and GoogleTest headers use as names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace rszorvik::test {
namespace {

using platform::X11KeyInjector;

// "+16 +65 -65 -16": presses and releases in order, with no pause.
void play(platform::KeyInjector& injector, const std::string& steps) {
    std::istringstream in(steps);
    std::string step;
    while (in >> step) {
        const int keyCode = std::stoi(step.substr(1));
        if (step[0] == '+') {
            injector.keyPress(keyCode);
        } else {
            injector.keyRelease(keyCode);
        }
        injector.delay(0);
    }
}

// What the X server tells every client about its key map, seen from a client of its own.
class KeyMapWatch {
  public:
    explicit KeyMapWatch(const std::string& displayName) : display(XOpenDisplay(displayName.c_str())) {
        if (display == nullptr) throw std::runtime_error("cannot open " + displayName);
        int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
        XkbQueryExtension(display, &opcode, &xkbEventBase, &error, &major, &minor);
        XkbSelectEvents(display, XkbUseCoreKbd, XkbMapNotifyMask, XkbMapNotifyMask);
        XSync(display, False);
    }
    ~KeyMapWatch() { XCloseDisplay(display); }
    KeyMapWatch(const KeyMapWatch&) = delete;
    KeyMapWatch& operator=(const KeyMapWatch&) = delete;

    // The changes of the key map announced since the last call, for requests the server has handled.
    int changes() {
        XSync(display, False);
        int count = 0;
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == xkbEventBase &&
                reinterpret_cast<XkbEvent*>(&event)->any.xkb_type == XkbMapNotify)
                ++count;
        }
        return count;
    }

    // The keycodes that carry no symbol.
    int emptyKeycodes() {
        int low = 0, high = 0, perKeycode = 0;
        XDisplayKeycodes(display, &low, &high);
        KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(low), high - low + 1, &perKeycode);
        int empty = 0;
        for (int keycode = 0; keycode <= high - low; ++keycode) {
            bool any = false;
            for (int i = 0; i < perKeycode; ++i)
                any = any || map[keycode * perKeycode + i] != NoSymbol;
            empty += any ? 0 : 1;
        }
        XFree(map);
        return empty;
    }

  private:
    Display* display;
    int xkbEventBase = 0;
};

class X11KeyInjectorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = TypingWindow::instance();
        ZORVIK_NEED_TYPING_WINDOW(window);
    }

    std::string typed(const std::string& steps, const std::string& expected) {
        return window->type(
            [&] {
                X11KeyInjector injector;
                play(injector, steps);
                injector.sync();
            },
            expected);
    }

    TypingWindow* window = nullptr;
};

TEST_F(X11KeyInjectorTest, KeysTypeWhatTheyMeanOnEachLayout) {
    struct Case {
        const char* layout;
        const char* variant;
        const char* steps;
        const char* text;
    };
    const Case cases[] = {
        {"us", "", "+16 +65 -65 -16 +66 -66 +49 -49 +44 -44 +222 -222", "Ab1,'"},
        {"de", "", "+89 -89 +90 -90 +16 +50 -50 -16", "yz\""},                  // Y and Z by meaning
        {"de", "", "+17 +18 +81 -81 -18 -17 +17 +18 +521 -521 -18 -17", "@~"},  // Control+Alt is AltGr
        {"de", "", "+520 -520 +521 -521 +153 -153 +16 +153 -153 -16", "#+<>"},
        {"de", "", "+130 -130 +32 -32 +16 +129 -129 -16 +32 -32", "^`"},  // dead keys with Space
        {"fr", "", "+49 -49 +16 +49 -49 -16 +513 -513 +517 -517 +522 -522 +515 -515", "&1:!)$"},
        {"fr", "", "+17 +18 +48 -48 -18 -17 +59 -59 +16 +59 -59 -16", "@;."},
        {"us", "intl", "+129 -129 +32 -32 +16 +129 -129 -16 +32 -32 +128 -128 +32 -32", "'\"`"},
        {"us", "", "+106 -106 +111 -111 +107 -107 +9 -9 +10 -10", "*/+\t\n"},
        // A dead key held back for a Space still composes with a letter, and Shift between changes nothing;
        // the letter comes as a key of its own, so it stays behind the plain keys typed before it.
        {"de", "", "+130 -130 +16 +32 -32 -16 +49 -49 +130 -130 +65 -65", "^1\u00e2"},
        {"us", "intl", "+16 +54 -54 -16 +32 -32 +16 +54 -54 +69 -69 -16 +16 +129 -129 -16 +85 -85",
         "^\u00ca\u00fc"},
        {"fr", "", "+130 -130 +32 -32 +17 +18 +55 -55 -18 -17 +130 -130 +79 -79", "^`\u00f4"},
    };
    for (const Case& c : cases) {
        window->setLayout(c.layout, c.variant);
        EXPECT_EQ(typed(c.steps, c.text), c.text) << c.layout << " " << c.variant << ": " << c.steps;
    }
}

TEST_F(X11KeyInjectorTest, AltCodesTypeTheirCharacterOnAnyLayout) {
    struct Case {
        const char* layout;
        const char* steps;
        const char* text;
    };
    const Case cases[] = {
        {"us", "+18 +102 -102 +101 -101 -18", "A"},
        {"us", "+18 +97 -97 +98 -98 +102 -102 -18", "~"},
        {"de", "+18 +105 -105 +100 -100 -18", "^"},              // only a dead key on this layout
        {"de", "+18 +105 -105 +102 -102 -18", "`"},              // nowhere as a plain symbol
        {"de", "+18 +102 -102 +99 -99 -18", "?"},                // Shift level
        {"de", "+18 +105 -105 +98 -98 -18", "\\"},               // AltGr level
        {"us", "+18 +96 -96 +98 -98 +99 -99 +99 -99 -18", "é"},  // 0233, bound to a spare key
        {"fr", "+18 +99 -99 +103 -103 -18 +18 +105 -105 +100 -100 -18", "%^"},
    };
    for (const Case& c : cases) {
        window->setLayout(c.layout);
        EXPECT_EQ(typed(c.steps, c.text), c.text) << c.layout << ": " << c.steps;
    }
}

// A keyboard output at full speed on a machine that is busy, so that the receiving client falls behind
// and reads whole batches of key events at once: every printable character through Keybot's map, and
// right behind plain keys, Latin-1 letters as the layout types them (dead key and letter, AltGr, Alt code).
// A letter the client composed itself would overtake the plain keys of its batch.
TEST_F(X11KeyInjectorTest, BesideBusyProcessesEveryCharacterArrivesInOrder) {
    using worker::Keybot;
    struct Letter {
        const char* text;
        const char* steps;
    };
    struct Case {
        Keybot::KeyboardType type;
        const char* layout;
        const char* variant;
        std::vector<Letter> letters;
    };
    const std::string altE = "+18 +96 -96 +98 -98 +99 -99 +99 -99 -18";  // Alt 0233: é
    const Case cases[] = {
        {Keybot::KeyboardType::QUERTY,
         "us",
         "",
         {{"\u00e9", altE.c_str()},
          {"\u00fc", "+18 +96 -96 +98 -98 +101 -101 +98 -98 -18"},
          {"\u00d1", "+18 +96 -96 +98 -98 +96 -96 +105 -105 -18"},
          {"\u00df", "+18 +98 -98 +98 -98 +101 -101 -18"}}},
        {Keybot::KeyboardType::US_INTERNATIONAL,
         "us",
         "intl",
         {{"\u00ea", "+16 +54 -54 -16 +69 -69"},
          {"\u00dc", "+16 +129 -129 +85 -85 -16"},
          {"\u00f1", "+16 +128 -128 -16 +78 -78"},
          {"\u00e0", "+128 -128 +65 -65"},
          {"\u00e9", "+129 -129 +69 -69"}}},
        {Keybot::KeyboardType::GERMAN,
         "de",
         "",
         {{"\u00e2", "+130 -130 +65 -65"},
          {"\u00c9", "+129 -129 +16 +69 -69 -16"},
          {"\u00e8", "+16 +129 -129 -16 +69 -69"},
          {"\u00fc", "+18 +96 -96 +98 -98 +101 -101 +98 -98 -18"}}},
        {Keybot::KeyboardType::AZERTY,
         "fr",
         "",
         {{"\u00f4", "+130 -130 +79 -79"},
          {"\u00eb", "+16 +130 -130 -16 +69 -69"},
          {"\u00ca", "+130 -130 +16 +69 -69 -16"},
          {"\u00e9", altE.c_str()}}},
    };
    const std::string ascii = printableAscii();
    MessageView view;
    const BusyProcesses busy(3);
    for (const Case& c : cases) {
        window->setLayout(c.layout, c.variant);
        std::u32string letters;
        for (const Letter& letter : c.letters)
            letters += QString::fromUtf8(letter.text).toStdU32String();
        // Each round is an output of its own, its letters in turns. It ends once the text has arrived, as
        // a run is stopped some time after its last value, not while the client is still reading it.
        for (std::size_t round = 0; round < 3; ++round) {
            const auto letterAfter = [&](std::size_t chunk) -> const Letter& {
                return c.letters[(chunk + round) % c.letters.size()];
            };
            std::string expected;
            for (std::size_t from = 0; from < ascii.size(); from += 12)
                expected += ascii.substr(from, 12) + letterAfter(from / 12).text;
            Keybot keybot(0, 0, 0, 0, 0, c.type, Keybot::KeyMapType::ALPHANUMERIC_COMPLETE, &view,
                          std::make_unique<X11KeyInjector>());
            keybot.injector().prepareFor(letters);
            const std::string typed = window->type(
                [&] {
                    for (std::size_t from = 0; from < ascii.size(); from += 12) {
                        keybot.typeString(ascii.substr(from, 12), true);
                        play(keybot.injector(), letterAfter(from / 12).steps);
                    }
                },
                expected);
            EXPECT_EQ(typed, expected) << c.layout << " " << c.variant << ", round " << round;
        }
    }
    EXPECT_TRUE(view.messages().empty()) << view.messages().front();
}

// A client reads a changed key map only when it gets to the change, which may be long after the keys
// behind it were sent: the output binds what it needs when it starts, and again only when the layout
// changes, and restores the map when it ends.
TEST_F(X11KeyInjectorTest, TheKeyMapChangesWhenTheOutputStartsOrTheLayoutChangesNotWhileItTypes) {
    using worker::Keybot;
    window->setLayout("de");
    KeyMapWatch watch(window->display().name());
    const int empty = watch.emptyKeycodes();
    MessageView view;
    const auto typed = [&](Keybot& keybot, const std::string& text) {
        return window->type([&] { keybot.typeString(text, true); }, text);
    };
    {
        Keybot keybot(0, 0, 0, 0, 0, Keybot::KeyboardType::GERMAN, Keybot::KeyMapType::NUMERIC, &view,
                      std::make_unique<X11KeyInjector>());
        // The numeric map has neither ^ nor `, but a terminator may be any character, and only dead keys
        // type them on this layout: both are bound when the output starts.
        EXPECT_GT(watch.changes(), 0);
        EXPECT_EQ(typed(keybot, "^1`^`"), "^1`^`");
        EXPECT_EQ(watch.changes(), 0) << "while it typed";

        window->setLayout("fr");
        window->setLayout("de");
        watch.changes();
        // The output notices the change with its next key: ` is bound again with ^, before that key.
        EXPECT_EQ(typed(keybot, "^"), "^");
        EXPECT_GT(watch.changes(), 0);
        EXPECT_EQ(typed(keybot, "`"), "`");
        EXPECT_EQ(watch.changes(), 0) << "while it typed after the change";
    }
    EXPECT_EQ(watch.emptyKeycodes(), empty) << "bound keycodes left when the output ended";
    EXPECT_TRUE(view.messages().empty()) << view.messages().front();
}

TEST_F(X11KeyInjectorTest, KeysTheLayoutLacksAreRejected) {
    window->setLayout("de");
    X11KeyInjector injector;
    EXPECT_THROW(injector.keyPress(Vk::SLASH), std::invalid_argument);
    EXPECT_THROW(injector.keyPress(Vk::COLON), std::invalid_argument);
    EXPECT_THROW(injector.keyPress(4711), std::invalid_argument);
    // An Alt code that stands for a control character.
    injector.keyPress(Vk::ALT);
    injector.keyPress(Vk::NUMPAD0 + 7);
    injector.keyRelease(Vk::NUMPAD0 + 7);
    EXPECT_THROW(injector.keyRelease(Vk::ALT), std::invalid_argument);
}

TEST_F(X11KeyInjectorTest, TellsWhetherTheLastKeyWasDead) {
    struct Case {
        const char* layout;
        const char* variant;
        const char* steps;
        bool dead;
    };
    const Case cases[] = {
        {"de", "", "+130 -130", true},
        {"us", "intl", "+16 +54 -54 -16", true},       // Shift+6 is the dead circumflex
        {"fr", "", "+17 +18 +55 -55 -18 -17", false},  // AltGr+7 is a plain grave accent here
        {"fr", "", "+17 +18 +50 -50 -18 -17", false},  // and AltGr+2 a plain tilde
        {"us", "", "+65 -65", false},
    };
    for (const Case& c : cases) {
        window->setLayout(c.layout, c.variant);
        bool dead = !c.dead;
        window->type(
            [&] {
                X11KeyInjector injector;
                play(injector, c.steps);
                dead = injector.lastKeyWasDead();
                // Leave nothing pending for the next case.
                injector.keyPress(Vk::SPACE);
                injector.keyRelease(Vk::SPACE);
                injector.sync();
            },
            "");
        EXPECT_EQ(dead, c.dead) << c.layout << " " << c.variant << ": " << c.steps;
    }
}

TEST_F(X11KeyInjectorTest, CapsLockStateAndAltCodesUnderCapsLock) {
    window->setLayout("us");
    EXPECT_FALSE(platform::x11CapsLockOn(window->display().name()));
    const int capsLock = 20;
    std::string text = typed("+" + std::to_string(capsLock) + " -" + std::to_string(capsLock), "");
    EXPECT_TRUE(platform::x11CapsLockOn(window->display().name()));
    // Alt codes ignore Caps Lock, as they do on Windows; a letter key does not.
    EXPECT_EQ(typed("+18 +105 -105 +103 -103 -18 +65 -65", "aA"), "aA");
    text = typed("+" + std::to_string(capsLock) + " -" + std::to_string(capsLock), "");
    EXPECT_FALSE(platform::x11CapsLockOn(window->display().name()));
    EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace rszorvik::test
