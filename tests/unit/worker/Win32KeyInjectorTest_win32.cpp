#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/MessageCatalog.h"
#include "platform/Win32KeyInjector.h"
#include "support/MessageView.h"
#include "worker/Keybot.h"

// After the project's headers: winnt.h's DELETE would replace the name of a key code.
// clang-format off
#include <windows.h>
// clang-format on
#undef DELETE

// What Wine cannot show of the keyboard output (Alt codes, AltGr, dead keys, refused input) is checked
// here, one layer down: the events handed to SendInput, on layouts the test describes.
namespace rszorvik::worker {
namespace {

using platform::Win32KeyInjector;
using platform::Win32KeyInput;
using KeyboardType = Keybot::KeyboardType;
using KeyMapType = Keybot::KeyMapType;

// A layout as Windows would describe it: the OEM key carrying each character unshifted, and the keys that
// are dead (with or without Shift).
struct Layout {
    std::map<char32_t, std::uint16_t> plain;
    std::map<char32_t, std::uint16_t> dead;
    std::set<std::pair<std::uint16_t, bool>> deadKeys;  // (key, shift)
};

const Layout kUs{{{U',', VK_OEM_COMMA},
                  {U'-', VK_OEM_MINUS},
                  {U'.', VK_OEM_PERIOD},
                  {U'/', VK_OEM_2},
                  {U';', VK_OEM_1},
                  {U'=', VK_OEM_PLUS},
                  {U'[', VK_OEM_4},
                  {U'\\', VK_OEM_5},
                  {U']', VK_OEM_6},
                  {U'`', VK_OEM_3},
                  {U'\'', VK_OEM_7}},
                 {},
                 {}};
// US-International: the apostrophe and the grave accent are dead keys, and so are Shift+6 and Shift+`.
const Layout kUsInternational{
    {{U',', VK_OEM_COMMA}, {U'-', VK_OEM_MINUS}, {U'.', VK_OEM_PERIOD}},
    {{U'\'', VK_OEM_7}, {U'`', VK_OEM_3}},
    {{VK_OEM_7, false}, {VK_OEM_7, true}, {VK_OEM_3, false}, {VK_OEM_3, true}, {'6', true}}};
const Layout kGerman{{{U'#', VK_OEM_2},
                      {U'+', VK_OEM_PLUS},
                      {U',', VK_OEM_COMMA},
                      {U'-', VK_OEM_MINUS},
                      {U'.', VK_OEM_PERIOD},
                      {U'<', VK_OEM_102}},
                     {{U'^', VK_OEM_5}, {U'\u00b4', VK_OEM_6}},
                     {{VK_OEM_5, false}, {VK_OEM_6, false}, {VK_OEM_6, true}}};

// A layout with the circumflex as a plain key.
const Layout kPlainCircumflex{{{U'^', VK_OEM_5}}, {}, {}};

struct FakeWindows {
    Layout layout;
    std::vector<Win32KeyInput> sent{};
    std::set<int> refused{};  // the attempts (counted from 0) Windows refuses
    bool refuseAll = false;
    int attempts = 0;
    bool capsLock = false;

    Win32KeyInjector::System system() {
        Win32KeyInjector::System s;
        s.sendInput = [this](const std::vector<Win32KeyInput>& events, unsigned long& error) {
            unsigned taken = 0;
            for (const Win32KeyInput& e : events) {
                if (refuseAll || refused.contains(attempts++)) {
                    // Windows takes the events in order up to the first it refuses.
                    error = ERROR_ACCESS_DENIED;
                    return taken;
                }
                sent.push_back(e);
                if (e.virtualKey == VK_CAPITAL && !e.up) capsLock = !capsLock;
                ++taken;
            }
            return taken;
        };
        s.keyForCharacter = [this](char32_t c, bool dead) -> std::optional<std::uint16_t> {
            const auto& table = dead ? layout.dead : layout.plain;
            if (const auto it = table.find(c); it != table.end()) return it->second;
            return std::nullopt;
        };
        s.isDeadKey = [this](std::uint16_t key, bool shift, bool) {
            return layout.deadKeys.contains({key, shift});
        };
        s.capsLockOn = [this] { return capsLock; };
        return s;
    }

    // "+10 -10": presses and releases by Windows virtual key, extended keys marked with an x.
    std::string keys() const {
        std::ostringstream out;
        for (const Win32KeyInput& e : sent)
            out << (out.tellp() > 0 ? " " : "") << (e.up ? '-' : '+') << std::hex << e.virtualKey
                << (e.extended ? "x" : "");
        return out.str();
    }
};

class Win32KeyInjectorTest : public ::testing::Test {
  protected:
    void SetUp() override { Keybot::queue().clear(); }

    std::unique_ptr<Keybot> make(KeyboardType keyboard, int start = 0, int end = 0) {
        return std::make_unique<Keybot>(0, start, end, 0, 0, keyboard, KeyMapType::ALPHANUMERIC_COMPLETE,
                                        &view, std::make_unique<Win32KeyInjector>(windows.system()));
    }

    FakeWindows windows;
    test::MessageView view;
};

// The character Windows composes from Alt and keypad digits: the code modulo 256 in the OEM code page, or
// in the ANSI code page when the digits start with 0.
wchar_t altCodeCharacter(const std::string& digits, UINT oemCodePage, UINT ansiCodePage) {
    const char byte = static_cast<char>(std::stoi(digits) % 256);
    wchar_t character = 0;
    MultiByteToWideChar(digits.front() == '0' ? ansiCodePage : oemCodePage, 0, &byte, 1, &character, 1);
    return character;
}

TEST_F(Win32KeyInjectorTest, EveryCharacterOfAllIsAnAltCodeOfTheKeypadThatWindowsReadsAsThatCharacter) {
    const config::KeyMap map = KeyboardType(KeyboardType::ALL).getKeymap(KeyMapType::ALPHANUMERIC_COMPLETE);
    ASSERT_EQ(map.size(), 95U) << "every printable ASCII character";
    // The keypad's scan codes by digit: Windows composes Alt codes from these keys only.
    const std::uint16_t keypad[10] = {0x52, 0x4f, 0x50, 0x51, 0x4b, 0x4c, 0x4d, 0x47, 0x48, 0x49};
    for (const auto& [character, codes] : map) {
        SCOPED_TRACE("character '" + character + "'");
        windows.sent.clear();
        make(KeyboardType::ALL)->typeValue(character);
        ASSERT_GE(windows.sent.size(), 4U);
        EXPECT_EQ(windows.sent.front(), (Win32KeyInput{VK_MENU, 0x38, false, false}));
        EXPECT_EQ(windows.sent.back(), (Win32KeyInput{VK_MENU, 0x38, false, true}));
        std::string digits;
        for (std::size_t i = 1; i + 1 < windows.sent.size(); i += 2) {
            const Win32KeyInput& down = windows.sent[i];
            ASSERT_TRUE(down.virtualKey >= VK_NUMPAD0 && down.virtualKey <= VK_NUMPAD9) << windows.keys();
            const int digit = down.virtualKey - VK_NUMPAD0;
            EXPECT_EQ(down, (Win32KeyInput{down.virtualKey, keypad[digit], false, false}));
            EXPECT_EQ(windows.sent[i + 1], (Win32KeyInput{down.virtualKey, keypad[digit], false, true}));
            digits += static_cast<char>('0' + digit);
        }
        // This system's code pages, and those of US and Western European Windows.
        for (const auto& [oem, ansi] :
             {std::pair<UINT, UINT>{GetOEMCP(), GetACP()}, {437, 1252}, {850, 1252}})
            EXPECT_EQ(altCodeCharacter(digits, oem, ansi), static_cast<wchar_t>(character[0]))
                << "Alt+" << digits << " in code page " << oem;
    }
    EXPECT_TRUE(view.messages().empty());
}

TEST_F(Win32KeyInjectorTest, LayoutKeysAltGrDeadKeysStartKeyAndTerminatorBecomeTheseEvents) {
    struct Case {
        const char* name;
        KeyboardType keyboard;
        const Layout* layout;
        int start, end;
        std::string value;
        std::string events;
    };
    const Case cases[] = {
        {"letters by Shift, digits, punctuation by the layout's OEM keys", KeyboardType::QUERTY, &kUs, 0, 0,
         "Ab1,;", "+10 +41 -41 -10 +42 -42 +31 -31 +bc -bc +ba -ba"},
        {"tab before, enter after", KeyboardType::QUERTY, &kUs, Vk::TAB, Vk::ENTER, "7",
         "+9 -9 +37 -37 +d -d"},
        {"keypad operators and the extended divide key", KeyboardType::QUERTY, &kUs, 0, 0, "*/+",
         "+6a -6a +6fx -6fx +6b -6b"},
        {"dead apostrophe and dead Shift+6 then a Space", KeyboardType::US_INTERNATIONAL, &kUsInternational,
         0, 0, "'^", "+de -de +20 -20 +10 +36 -36 -10 +20 -20"},
        {"AltGr as Control with Alt, number sign by its own key", KeyboardType::GERMAN, &kGerman, 0, 0, "@#",
         "+11 +12 +51 -51 -12 -11 +bf -bf"},
        {"dead circumflex then a Space; a question mark by Alt code 63", KeyboardType::GERMAN, &kGerman, 0, 0,
         "^?", "+dc -dc +20 -20 +12 +66 -66 +63 -63 -12"},
        {"a dead key the layout has as a plain key: no Space", KeyboardType::GERMAN, &kPlainCircumflex, 0, 0,
         "^", "+dc -dc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        windows = FakeWindows{.layout = *c.layout};
        view.clear();
        make(c.keyboard, c.start, c.end)->typeValue(c.value);
        EXPECT_EQ(windows.keys(), c.events);
        EXPECT_TRUE(view.messages().empty()) << view.messages().front();
    }
}

TEST_F(Win32KeyInjectorTest, RefusedInputIsReportedOnceWithTheValueAndNoKeyStaysDown) {
    struct Case {
        const char* name;
        bool refuseAll;
        std::set<int> refused;
        std::string report;  // after "Cannot type: "
        std::string events;  // everything Windows took, the releases at the end included
    };
    const Case cases[] = {
        {"everything refused (a locked desktop)", true, {}, "Ab (SendInput refused key code 16 (error 5", ""},
        {"the release of Shift refused once: released when the output ends",
         false,
         {3},
         "Ab (SendInput refused key code 16 (error 5",
         "+10 +41 -41 +42 -42 -10"},
        {"the press of b refused",
         false,
         {4},
         "Ab (SendInput refused key code 66 (error 5",
         "+10 +41 -41 -10 -42"},
    };
    const std::string cannotType =
        base::MessageCatalog::get(base::catalogues::kWorker).getString("cannot_type");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        windows = FakeWindows{.layout = kUs};
        windows.refuseAll = c.refuseAll;
        windows.refused = c.refused;
        view.clear();
        make(KeyboardType::QUERTY)->typeValue("Ab");
        const std::vector<std::string> messages = view.messages();
        ASSERT_EQ(messages.size(), 1U);
        EXPECT_TRUE(messages[0].starts_with(cannotType + c.report)) << messages[0];
        EXPECT_EQ(windows.keys(), c.events);
    }
}

TEST_F(Win32KeyInjectorTest, CapsLockIsReadFromWindowsAndTappedAroundTheValue) {
    windows = FakeWindows{.layout = kUs};
    windows.capsLock = true;
    auto keybot = make(KeyboardType::QUERTY);
    keybot->setOverrideCapsLock(true);
    keybot->typeValue("a");
    EXPECT_EQ(windows.keys(), "+14 -14 +41 -41 +14 -14");
    EXPECT_TRUE(windows.capsLock) << "left as the operator had it";
    EXPECT_TRUE(view.messages().empty());
}

TEST(Win32KeyInjector, KeysWithoutAMeaningOnTheLayoutAreRefusedBeforeAnythingIsSent) {
    FakeWindows windows{.layout = kUs};
    Win32KeyInjector injector(windows.system());
    EXPECT_THROW(injector.keyPress(Vk::EURO_SIGN), std::invalid_argument);
    EXPECT_THROW(injector.keyPress(700), std::invalid_argument);
    const Win32KeyInput del = injector.inputFor(Vk::DELETE, false);
    EXPECT_EQ(del.virtualKey, VK_DELETE);
    EXPECT_TRUE(del.extended);
    EXPECT_TRUE(windows.sent.empty());
}

}  // namespace
}  // namespace rszorvik::worker
