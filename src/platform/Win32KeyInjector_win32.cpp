#include <array>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

#include "base/Interruptible.h"
#include "base/VirtualKeys.h"
#include "platform/Win32KeyInjector.h"

// After the key codes: winnt.h's access right DELETE would replace the name of one of them.
// clang-format off
#include <windows.h>
// clang-format on
#undef DELETE

namespace rszorvik::platform {

namespace {

// Key codes that name a character rather than a key, with the characters Windows reports for the key
// that carries it (a dead key reports its accent in one of several forms, depending on the layout).
struct CharacterKey {
    int keyCode;
    bool dead;
    std::array<char32_t, 2> characters;
};
constexpr std::array<CharacterKey, 43> kCharacterKeys{{
    {Vk::COMMA, false, {U',', 0}},
    {Vk::MINUS, false, {U'-', 0}},
    {Vk::PERIOD, false, {U'.', 0}},
    {Vk::SLASH, false, {U'/', 0}},
    {Vk::SEMICOLON, false, {U';', 0}},
    {Vk::EQUALS, false, {U'=', 0}},
    {Vk::OPEN_BRACKET, false, {U'[', 0}},
    {Vk::BACK_SLASH, false, {U'\\', 0}},
    {Vk::CLOSE_BRACKET, false, {U']', 0}},
    {Vk::AMPERSAND, false, {U'&', 0}},
    {Vk::ASTERISK, false, {U'*', 0}},
    {Vk::QUOTEDBL, false, {U'"', 0}},
    {Vk::LESS, false, {U'<', 0}},
    {Vk::GREATER, false, {U'>', 0}},
    {Vk::BRACELEFT, false, {U'{', 0}},
    {Vk::BRACERIGHT, false, {U'}', 0}},
    {Vk::BACK_QUOTE, false, {U'`', 0}},
    {Vk::QUOTE, false, {U'\'', 0}},
    {Vk::AT, false, {U'@', 0}},
    {Vk::COLON, false, {U':', 0}},
    {Vk::CIRCUMFLEX, false, {U'^', 0}},
    {Vk::DOLLAR, false, {U'$', 0}},
    {Vk::EURO_SIGN, false, {U'\u20ac', 0}},
    {Vk::EXCLAMATION_MARK, false, {U'!', 0}},
    {Vk::INVERTED_EXCLAMATION_MARK, false, {U'\u00a1', 0}},
    {Vk::LEFT_PARENTHESIS, false, {U'(', 0}},
    {Vk::NUMBER_SIGN, false, {U'#', 0}},
    {Vk::PLUS, false, {U'+', 0}},
    {Vk::RIGHT_PARENTHESIS, false, {U')', 0}},
    {Vk::UNDERSCORE, false, {U'_', 0}},
    {Vk::DEAD_GRAVE, true, {U'`', 0}},
    {Vk::DEAD_ACUTE, true, {U'\u00b4', U'\''}},
    {Vk::DEAD_CIRCUMFLEX, true, {U'^', 0}},
    {Vk::DEAD_TILDE, true, {U'~', U'\u02dc'}},
    {Vk::DEAD_GRAVE + 4, true, {U'\u00af', 0}},  // macron
    {Vk::DEAD_GRAVE + 5, true, {U'\u02d8', 0}},  // breve
    {Vk::DEAD_GRAVE + 6, true, {U'\u02d9', 0}},  // dot above
    {Vk::DEAD_DIAERESIS, true, {U'\u00a8', U'"'}},
    {Vk::DEAD_GRAVE + 8, true, {U'\u02da', U'\u00b0'}},  // ring above
    {Vk::DEAD_GRAVE + 9, true, {U'\u02dd', 0}},          // double acute
    {Vk::DEAD_GRAVE + 10, true, {U'\u02c7', 0}},         // caron
    {Vk::DEAD_GRAVE + 11, true, {U'\u00b8', U','}},      // cedilla
    {Vk::DEAD_GRAVE + 12, true, {U'\u02db', 0}},         // ogonek
}};

// Key codes whose Windows code differs, or that are extended keys (sent with their E0 prefix).
struct FixedKey {
    int keyCode;
    std::uint16_t virtualKey;
    bool extended;
};
constexpr std::array<FixedKey, 13> kFixedKeys{{
    {Vk::ENTER, VK_RETURN, false},
    {Vk::DELETE, VK_DELETE, true},
    {Vk::INSERT, VK_INSERT, true},
    {Vk::PAGE_UP, VK_PRIOR, true},
    {Vk::PAGE_DOWN, VK_NEXT, true},
    {Vk::END, VK_END, true},
    {Vk::HOME, VK_HOME, true},
    {Vk::LEFT, VK_LEFT, true},
    {Vk::UP, VK_UP, true},
    {Vk::RIGHT, VK_RIGHT, true},
    {Vk::DOWN, VK_DOWN, true},
    {Vk::DIVIDE, VK_DIVIDE, true},
    {Vk::PAUSE, VK_PAUSE, false},
}};

// The keypad's own scan codes, 0 to 9: Windows composes an Alt code from these keys only.
constexpr std::array<std::uint16_t, 10> kKeypadScanCodes{0x52, 0x4f, 0x50, 0x51, 0x4b,
                                                         0x4c, 0x4d, 0x47, 0x48, 0x49};

// Keys whose Windows code is the key code itself.
bool sameCode(int keyCode) {
    return keyCode == Vk::BACK_SPACE || keyCode == Vk::TAB || keyCode == Vk::SHIFT ||
           keyCode == Vk::CONTROL || keyCode == Vk::ALT || keyCode == Vk::CAPS_LOCK ||
           keyCode == Vk::ESCAPE || keyCode == Vk::SPACE ||
           (keyCode >= Vk::DIGIT0 && keyCode <= Vk::DIGIT0 + 9) ||
           (keyCode >= Vk::A && keyCode <= Vk::A + 25) || (keyCode >= Vk::NUMPAD0 && keyCode <= Vk::DIVIDE) ||
           (keyCode >= Vk::F1 && keyCode <= Vk::F1 + 11);
}

std::uint16_t scanCodeOf(std::uint16_t virtualKey) {
    if (virtualKey >= VK_NUMPAD0 && virtualKey <= VK_NUMPAD9)
        return kKeypadScanCodes[virtualKey - VK_NUMPAD0];
    switch (virtualKey) {
        case VK_SHIFT:
            return 0x2a;
        case VK_CONTROL:
            return 0x1d;
        case VK_MENU:
            return 0x38;
        default:
            break;
    }
    return static_cast<std::uint16_t>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
}

// The layout of the window that gets the keys, not this program's own.
HKL activeLayout() {
    const HWND foreground = GetForegroundWindow();
    return GetKeyboardLayout(foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0);
}

// The keys that carry punctuation and accents on the layouts Windows ships (the OEM keys).
constexpr std::array<std::uint16_t, 16> kOemKeys{
    VK_OEM_1, VK_OEM_PLUS, VK_OEM_COMMA, VK_OEM_MINUS, VK_OEM_PERIOD, VK_OEM_2, VK_OEM_3, VK_OEM_4,
    VK_OEM_5, VK_OEM_6,    VK_OEM_7,     VK_OEM_8,     VK_OEM_102,    0xe1,     0xe3,     0xe4};

std::string windowsErrorText(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result;
    if (length > 0 && text) {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
        result.resize(static_cast<std::size_t>(size));
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), size, nullptr,
                            nullptr);
        while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
            result.pop_back();
    }
    if (text) LocalFree(text);
    return result;
}

}  // namespace

Win32KeyInjector::System Win32KeyInjector::windowsSystem() {
    System system;
    system.sendInput = [](const std::vector<Win32KeyInput>& events, unsigned long& error) {
        std::vector<INPUT> inputs(events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            inputs[i].type = INPUT_KEYBOARD;
            KEYBDINPUT& key = inputs[i].ki;
            key.wVk = events[i].virtualKey;
            key.wScan = events[i].scanCode;
            key.dwFlags =
                (events[i].extended ? KEYEVENTF_EXTENDEDKEY : 0U) | (events[i].up ? KEYEVENTF_KEYUP : 0U);
        }
        SetLastError(0);
        const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
        error = sent == inputs.size() ? 0 : GetLastError();
        return static_cast<unsigned>(sent);
    };
    system.keyForCharacter = [](char32_t character, bool dead) -> std::optional<std::uint16_t> {
        const HKL layout = activeLayout();
        for (const std::uint16_t key : kOemKeys) {
            const UINT mapped = MapVirtualKeyExW(key, MAPVK_VK_TO_CHAR, layout);
            // Dead keys have the top bit set.
            const bool isDead = (mapped & 0x80000000U) != 0;
            if ((mapped & 0xffffU) == character && isDead == dead) return key;
        }
        return std::nullopt;
    };
    system.isDeadKey = [](std::uint16_t virtualKey, bool shift, bool altGr) {
        const HKL layout = activeLayout();
        BYTE state[256] = {};
        if (shift) state[VK_SHIFT] = state[VK_LSHIFT] = 0x80;
        if (altGr) state[VK_CONTROL] = state[VK_LCONTROL] = state[VK_MENU] = state[VK_RMENU] = 0x80;
        wchar_t out[8] = {};
        // Flag 4 leaves the keyboard state alone (Windows 10 and later); a Space clears a dead key that an
        // older Windows kept anyway.
        const int result = ToUnicodeEx(virtualKey, MapVirtualKeyExW(virtualKey, MAPVK_VK_TO_VSC, layout),
                                       state, out, 8, 4, layout);
        if (result < 0) {
            BYTE plain[256] = {};
            ToUnicodeEx(VK_SPACE, MapVirtualKeyExW(VK_SPACE, MAPVK_VK_TO_VSC, layout), plain, out, 8, 4,
                        layout);
        }
        return result < 0;
    };
    system.capsLockOn = [] { return (GetKeyState(VK_CAPITAL) & 1) != 0; };
    return system;
}

Win32KeyInjector::Win32KeyInjector() : Win32KeyInjector(windowsSystem()) {}

Win32KeyInjector::Win32KeyInjector(System system) : system(std::move(system)) {}

Win32KeyInjector::~Win32KeyInjector() {
    try {
        releaseAll();
    } catch (...) {
        // Nothing more can be done for a key Windows refuses to release.
    }
}

Win32KeyInput Win32KeyInjector::inputFor(int keyCode, bool up) const {
    Win32KeyInput input;
    input.up = up;
    for (const CharacterKey& key : kCharacterKeys) {
        if (key.keyCode != keyCode) continue;
        // A dead key asked for where the layout has the accent as a plain key (so does Wine, which marks
        // no key dead): the accent comes out as it is, and no Space follows since the key is not dead.
        for (const bool dead : {key.dead, false})
            for (const char32_t character : key.characters) {
                if (character == 0) continue;
                if (const auto found = system.keyForCharacter(character, dead)) {
                    input.virtualKey = *found;
                    input.scanCode = scanCodeOf(*found);
                    return input;
                }
            }
        throw std::invalid_argument("The active keyboard layout has no key for key code " +
                                    std::to_string(keyCode));
    }
    for (const FixedKey& key : kFixedKeys) {
        if (key.keyCode != keyCode) continue;
        input.virtualKey = key.virtualKey;
        input.scanCode = scanCodeOf(key.virtualKey);
        input.extended = key.extended;
        return input;
    }
    if (!sameCode(keyCode)) throw std::invalid_argument("Invalid key code " + std::to_string(keyCode));
    input.virtualKey = static_cast<std::uint16_t>(keyCode);
    input.scanCode = scanCodeOf(input.virtualKey);
    return input;
}

void Win32KeyInjector::send(int keyCode, bool up) {
    Win32KeyInput input;
    const auto pressed = held.find(keyCode);
    if (up && pressed != held.end()) {
        // The key that went down, even if the layout changed since.
        input = pressed->second;
        input.up = true;
    } else {
        input = inputFor(keyCode, up);
    }
    if (!up && keyCode == Vk::CAPS_LOCK) capsBeforeTap = system.capsLockOn();
    unsigned long error = 0;
    if (system.sendInput({input}, error) != 1) {
        if (failure.empty())
            failure = "SendInput refused key code " + std::to_string(keyCode) + " (error " +
                      std::to_string(error) + (error ? ": " + windowsErrorText(error) : std::string()) + ")";
        if (!up && keyCode == Vk::CAPS_LOCK) capsBeforeTap.reset();
        return;
    }
    if (up) {
        held.erase(keyCode);
    } else {
        held[keyCode] = input;
    }
}

void Win32KeyInjector::keyPress(int keyCode) {
    send(keyCode, false);
    if (keyCode == Vk::SHIFT || keyCode == Vk::CONTROL || keyCode == Vk::ALT) return;
    const auto key = held.find(keyCode);
    lastDead = key != held.end() && system.isDeadKey(key->second.virtualKey, held.contains(Vk::SHIFT),
                                                     held.contains(Vk::CONTROL) && held.contains(Vk::ALT));
}

void Win32KeyInjector::keyRelease(int keyCode) {
    send(keyCode, true);
}

void Win32KeyInjector::delay(int milliseconds) {
    if (!failure.empty()) throw std::runtime_error(std::exchange(failure, {}));
    if (milliseconds > 0) base::Interruptible::sleepFor(std::chrono::milliseconds(milliseconds));
}

bool Win32KeyInjector::lastKeyWasDead() const {
    return lastDead;
}

bool Win32KeyInjector::capsLockOn() {
    bool on = system.capsLockOn();
    if (const std::optional<bool> before = std::exchange(capsBeforeTap, std::nullopt)) {
        // SendInput queues the key; the state changes once Windows has handled it.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        while (on == *before && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            on = system.capsLockOn();
        }
    }
    return on;
}

void Win32KeyInjector::releaseAll() {
    if (held.empty()) return;
    std::vector<Win32KeyInput> releases;
    std::vector<int> keyCodes;
    // Modifiers last, so that no other key is released as a shortcut.
    for (const bool modifiers : {false, true})
        for (const auto& [keyCode, input] : held) {
            const bool modifier = keyCode == Vk::SHIFT || keyCode == Vk::CONTROL || keyCode == Vk::ALT;
            if (modifier != modifiers) continue;
            Win32KeyInput release = input;
            release.up = true;
            releases.push_back(release);
            keyCodes.push_back(keyCode);
        }
    unsigned long error = 0;
    const unsigned sent = system.sendInput(releases, error);
    // Windows takes the events in order up to the first it refuses.
    for (std::size_t i = 0; i < sent && i < keyCodes.size(); ++i)
        held.erase(keyCodes[i]);
    if (sent != releases.size())
        throw std::runtime_error("SendInput released " + std::to_string(sent) + " of " +
                                 std::to_string(releases.size()) + " keys still down (error " +
                                 std::to_string(error) + ")");
}

}  // namespace rszorvik::platform
