#include "base/HotKey.h"

#include <array>
#include <stdexcept>
#include <utility>

#include "base/Ascii.h"

namespace rszorvik::base {

namespace {

constexpr std::array<std::pair<std::string_view, unsigned>, 7> kModifierNames{{
    {"ctrl", HotKey::kCtrl},
    {"control", HotKey::kCtrl},
    {"alt", HotKey::kAlt},
    {"shift", HotKey::kShift},
    {"super", HotKey::kSuper},
    {"win", HotKey::kSuper},
    {"meta", HotKey::kSuper},
}};

constexpr std::array<std::string_view, 10> kNamedKeys{"Space",  "Insert",   "Delete", "Home",  "End",
                                                      "PageUp", "PageDown", "Pause",  "Print", "ScrollLock"};

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The key's name as toString() writes it; none for a name that is no key.
std::optional<std::string> keyName(std::string_view text) {
    if (text.size() == 1) {
        const char c = text.front();
        if (c >= 'a' && c <= 'z') return std::string(1, static_cast<char>(c - 'a' + 'A'));
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return std::string(1, c);
        return std::nullopt;
    }
    if ((text.front() == 'F' || text.front() == 'f') && text.size() <= 3) {
        int number = 0;
        for (char c : text.substr(1)) {
            if (c < '0' || c > '9') return std::nullopt;
            number = number * 10 + (c - '0');
        }
        if (text[1] == '0' || number < 1 || number > 24) return std::nullopt;
        return "F" + std::to_string(number);
    }
    for (std::string_view name : kNamedKeys)
        if (asciiEqualsIgnoreCase(text, name)) return std::string(name);
    return std::nullopt;
}

std::optional<unsigned> modifierOf(std::string_view text) {
    for (const auto& [name, bit] : kModifierNames)
        if (asciiEqualsIgnoreCase(text, name)) return bit;
    return std::nullopt;
}

}  // namespace

HotKey HotKey::parse(std::string_view text) {
    HotKey result;
    std::string_view rest = text;
    for (;;) {
        const std::size_t plus = rest.find('+');
        const std::string_view part = trimmed(rest.substr(0, plus));
        if (part.empty()) throw std::invalid_argument("a part of \"" + std::string(text) + "\" is empty");
        if (plus == std::string_view::npos) {
            const auto key = keyName(part);
            if (!key) throw std::invalid_argument("\"" + std::string(part) + "\" is no key name");
            result.key = *key;
            break;
        }
        const auto modifier = modifierOf(part);
        if (!modifier)
            throw std::invalid_argument("\"" + std::string(part) +
                                        "\" is no modifier (Ctrl, Alt, Shift, Super)");
        if ((result.modifiers & *modifier) != 0)
            throw std::invalid_argument("\"" + std::string(part) + "\" is given twice");
        result.modifiers |= *modifier;
        rest.remove_prefix(plus + 1);
    }
    const bool typing = result.key.size() == 1 || result.key == "Space";
    if (typing && (result.modifiers & (kCtrl | kAlt | kSuper)) == 0)
        throw std::invalid_argument("\"" + result.key +
                                    "\" needs Ctrl, Alt or Super: alone it is a key for typing");
    return result;
}

std::optional<HotKey> HotKey::tryParse(std::string_view text) {
    try {
        return parse(text);
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
}

std::string HotKey::toString() const {
    std::string text;
    for (const auto& [name, bit] : {std::pair<const char*, unsigned>{"Ctrl", kCtrl},
                                    {"Alt", kAlt},
                                    {"Shift", kShift},
                                    {"Super", kSuper}})
        if ((modifiers & bit) != 0) text += std::string(name) + "+";
    return text + key;
}

}  // namespace rszorvik::base
