#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/InterruptibleThread.h"
#include "platform/X11CapsLock.h"
#include "platform/X11KeyInjector.h"
#include "support/MessageView.h"
#include "support/PrintableAscii.h"
#include "support/TypingWindow.h"
#include "worker/Keybot.h"

// Last: Xlib defines macros (Status, Bool, None) that Qt and GoogleTest headers use as names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace rszorvik::test {
namespace {

using worker::Keybot;
using KeyboardType = Keybot::KeyboardType;
using KeyMapType = Keybot::KeyMapType;

// Each keyboard type on its own layout, and ALL on three.
struct LayoutCase {
    KeyboardType type;
    const char* layout;
    const char* variant;
};
const LayoutCase kLayouts[] = {
    {KeyboardType::QUERTY, "us", ""}, {KeyboardType::US_INTERNATIONAL, "us", "intl"},
    {KeyboardType::AZERTY, "fr", ""}, {KeyboardType::GERMAN, "de", ""},
    {KeyboardType::ALL, "us", ""},    {KeyboardType::ALL, "de", ""},
    {KeyboardType::ALL, "fr", ""},
};

class KeybotTypingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = TypingWindow::instance();
        ZORVIK_NEED_TYPING_WINDOW(window);
        Keybot::queue().clear();
    }

    TypingWindow* window = nullptr;
    MessageView view;
};

TEST_F(KeybotTypingTest, EveryPrintableCharacterArrivesOnItsLayout) {
    const std::string all = printableAscii();
    for (const LayoutCase& c : kLayouts) {
        window->setLayout(c.layout, c.variant);
        const std::string typed = window->type(
            [&] {
                Keybot keybot(0, 0, 0, 0, 0, c.type, KeyMapType::ALPHANUMERIC_COMPLETE, &view,
                              std::make_unique<platform::X11KeyInjector>());
                for (std::size_t i = 0; i < all.size(); ++i) {
                    keybot.typeString(all.substr(i, 1), true);
                    window->waitForLength(i + 1);
                }
            },
            all);
        EXPECT_EQ(typed, all) << KeyboardType(c.type).name() << " on " << c.layout << " " << c.variant;
    }
    EXPECT_TRUE(view.messages().empty()) << view.messages().front();
}

// Where typed and expected part first, with a little of both around it, for a readable failure.
std::string firstDifference(const std::string& typed, const std::string& expected) {
    std::size_t at = 0;
    while (at < typed.size() && at < expected.size() && typed[at] == expected[at])
        ++at;
    const std::size_t from = at < 8 ? 0 : at - 8;
    return "differs at " + std::to_string(at) + " of " + std::to_string(expected.size()) + ": typed \"" +
           typed.substr(from, 24) + "\", expected \"" + expected.substr(from, 24) + "\"";
}

// The modifiers held down or latched on the display (Shift, Control, Alt, AltGr), as a mask.
unsigned heldModifiers(const std::string& displayName) {
    Display* display = XOpenDisplay(displayName.c_str());
    if (display == nullptr) return ~0U;
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    XCloseDisplay(display);
    return static_cast<unsigned>(state.base_mods | state.latched_mods);
}

// No pause at all between keys: composition in the receiving client must not reorder anything, so dead
// keys, AltGr chords and Alt codes come out exactly where they were typed.
TEST_F(KeybotTypingTest, AtFullSpeedEveryCharacterArrivesInOrder) {
    const std::string all = printableAscii();
    std::mt19937 random(19);
    for (const LayoutCase& c : kLayouts) {
        const std::string name =
            std::string(KeyboardType(c.type).name()) + " on " + c.layout + " " + c.variant;
        window->setLayout(c.layout, c.variant);
        unsigned modifiers = 0;
        const auto typeAtOnce = [&](const std::vector<std::string>& values) {
            std::string expected;
            for (const std::string& value : values)
                expected += value;
            const std::string typed = window->type(
                [&] {
                    auto x11 = std::make_unique<platform::X11KeyInjector>();
                    platform::X11KeyInjector* injector = x11.get();
                    Keybot keybot(0, 0, 0, 0, 0, c.type, KeyMapType::ALPHANUMERIC_COMPLETE, &view,
                                  std::move(x11));
                    for (const std::string& value : values)
                        keybot.typeString(value, true);
                    // Before the injector goes, which would let go of anything still held.
                    injector->sync();
                    modifiers = heldModifiers(window->display().name());
                },
                expected);
            return typed == expected ? std::string() : firstDifference(typed, expected);
        };
        EXPECT_EQ(typeAtOnce({all}), "") << name << ", all characters in one value";
        EXPECT_EQ(modifiers, 0U) << name << ": modifiers left down";

        std::vector<std::string> values;
        std::uniform_int_distribution<int> length(1, 40);
        std::uniform_int_distribution<int> character(' ', '~');
        for (std::size_t total = 0; total < 5000;) {
            std::string value(static_cast<std::size_t>(std::min<int>(length(random), 5000 - int(total))),
                              ' ');
            for (char& ch : value)
                ch = static_cast<char>(character(random));
            total += value.size();
            values.push_back(std::move(value));
        }
        EXPECT_EQ(typeAtOnce(values), "")
            << name << ", 5000 random characters in " << values.size() << " values";
        EXPECT_EQ(modifiers, 0U) << name << ": modifiers left down";
    }
    EXPECT_TRUE(view.messages().empty()) << view.messages().front();
}

TEST_F(KeybotTypingTest, QueuedValuesArriveWithStartKeyAndTerminators) {
    struct Case {
        const char* name;
        const char* layout;
        int startWith;
        int endWith;
        int endWith2;
        int everyXValues;
        KeyboardType type;
        KeyMapType mapType;
        std::vector<std::string> values;
        const char* text;
    };
    const Case cases[] = {
        {"Space, then Tab and every second value Enter",
         "us",
         32,
         9,
         10,
         2,
         KeyboardType::QUERTY,
         KeyMapType::NUMERIC,
         {"1.5", "-2", "", "+3"},
         " 1.5\t -2\n +3\t"},
        {"semicolon terminator on AZERTY",
         "fr",
         0,
         59,
         0,
         0,
         KeyboardType::AZERTY,
         KeyMapType::NUMERIC,
         {"1,5", "-2.25"},
         "1,5;-2.25;"},
        {"comma terminator on German",
         "de",
         0,
         44,
         0,
         0,
         KeyboardType::GERMAN,
         KeyMapType::NUMERIC,
         {"7", "8"},
         "7,8,"},
        {"text with Alt codes and Enter",
         "de",
         0,
         10,
         0,
         0,
         KeyboardType::ALL,
         KeyMapType::ALPHANUMERIC_COMPLETE,
         {"Zy^`@", "~"},
         "Zy^`@\n~\n"},
        {"third value without a terminator",
         "us",
         0,
         9,
         0,
         3,
         KeyboardType::US_INTERNATIONAL,
         KeyMapType::ALPHANUMERIC_BASIC,
         {"A1", "B2", "C3", "D4"},
         "A1\tB2\tC3D4\t"},
    };
    for (const Case& c : cases) {
        window->setLayout(c.layout);
        const std::string typed = window->type(
            [&] {
                Keybot keybot(0, c.startWith, c.endWith, c.endWith2, c.everyXValues, c.type, c.mapType, &view,
                              std::make_unique<platform::X11KeyInjector>());
                base::InterruptibleThread output([&] { keybot.run(); });
                for (const std::string& value : c.values)
                    keybot.add(value);
                // An interruption only ends the output between values, so the last one is typed whole.
                while (!Keybot::queue().empty())
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                output.interrupt();
                output.join();
            },
            c.text);
        EXPECT_EQ(typed, c.text) << c.name;
    }
    EXPECT_TRUE(view.messages().empty()) << view.messages().front();
}

// Caps Lock on the display, as an operator may have left it: with the override the letters come out as
// they are, at full speed and with the default pause, and Caps Lock is on again afterwards; without it
// they come out inverted.
TEST_F(KeybotTypingTest, CapsLockOnDoesNotInvertLetters) {
    struct Case {
        const char* name;
        const char* layout;
        KeyboardType type;
        int delay;
        bool override;
        std::vector<std::string> values;
        const char* text;
    };
    const Case cases[] = {
        {"full speed", "us", KeyboardType::QUERTY, 0, true, {"AbC-12 kg", "xYz"}, "AbC-12 kg\nxYz\n"},
        {"default pause", "us", KeyboardType::QUERTY, 20, true, {"AbC-12 kg", "xYz"}, "AbC-12 kg\nxYz\n"},
        {"German layout", "de", KeyboardType::GERMAN, 0, true, {"ZyQ"}, "ZyQ\n"},
        {"Alt codes", "us", KeyboardType::ALL, 3, true, {"Ab"}, "Ab\n"},
        {"not overridden", "us", KeyboardType::QUERTY, 0, false, {"AbC-12 kg"}, "aBc-12 KG\n"},
    };
    const std::string display = window->display().name();
    // Locked from a connection of its own, as a keyboard would; unlocked whatever the test's outcome.
    const auto lock = [&](bool on) {
        Display* x = XOpenDisplay(display.c_str());
        ASSERT_NE(x, nullptr);
        XkbLockModifiers(x, XkbUseCoreKbd, LockMask, on ? LockMask : 0);
        XSync(x, False);
        XCloseDisplay(x);
    };
    struct Unlock {
        std::function<void(bool)> lock;
        ~Unlock() { lock(false); }
    } unlock{lock};
    for (const Case& c : cases) {
        window->setLayout(c.layout);
        lock(true);
        std::string text;
        for (const std::string& value : c.values)
            text += value;
        const std::string typed = window->type(
            [&] {
                auto x11 = std::make_unique<platform::X11KeyInjector>();
                platform::X11KeyInjector* injector = x11.get();
                Keybot keybot(c.delay, 0, Vk::ENTER, 0, 0, c.type, KeyMapType::ALPHANUMERIC_COMPLETE, &view,
                              std::move(x11));
                keybot.setOverrideCapsLock(c.override);
                for (const std::string& value : c.values)
                    keybot.typeValue(value);
                injector->sync();
            },
            c.text);
        EXPECT_EQ(typed, c.text) << c.name;
        EXPECT_TRUE(platform::x11CapsLockOn(display)) << c.name << ": Caps Lock was not locked again";
    }
    EXPECT_TRUE(view.messages().empty()) << view.messages().front();
}

TEST_F(KeybotTypingTest, CharactersWithoutAKeyAreSkipped) {
    window->setLayout("de");
    const std::string typed = window->type(
        [&] {
            Keybot keybot(0, 0, 0, 0, 0, KeyboardType::GERMAN, KeyMapType::NUMERIC, &view,
                          std::make_unique<platform::X11KeyInjector>());
            keybot.typeValue("1E-2");
        },
        "1-2");
    EXPECT_EQ(typed, "1-2");
    ASSERT_EQ(view.messages().size(), 1U);
    EXPECT_EQ(view.messages().front().back(), 'E');
}

}  // namespace
}  // namespace rszorvik::test
