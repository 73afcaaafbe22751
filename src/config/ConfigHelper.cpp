#include "config/ConfigHelper.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "base/MessageCatalog.h"
#include "base/Regex.h"
#include "base/Utf8.h"
#include "config/Instrument.h"

namespace rszorvik::config {

std::optional<std::int32_t> parseDecimalInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // from_chars would accept a second sign; digits only from here on.
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int64_t magnitude = 0;
    for (char c : text) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

namespace detail {

std::string resolveLabel(const Label& label) {
    if (!label.fromCatalog) return std::string(label.text);
    return base::MessageCatalog::get(ConfigHelper::kBundleName).getString(label.text);
}

void throwNoConstant(std::string_view typeName, std::string_view name) {
    throw std::invalid_argument("No enum constant rszorvik.config.ConfigHelper." + std::string(typeName) +
                                "." + std::string(name));
}

}  // namespace detail

namespace ConfigHelper {
namespace {

// Virtual key codes used below.
constexpr int VK_SHIFT = 16;
constexpr int VK_ALT = 18;
constexpr int VK_NUMPAD0 = 96;

template <class Traits>
void addCatalogKeys(std::vector<std::string>& keys) {
    for (const auto& label : Traits::kLabels)
        if (label.fromCatalog && std::find(keys.begin(), keys.end(), label.text) == keys.end())
            keys.emplace_back(label.text);
}

int keyCodeOf(detail::KeyConstants::Value key) {
    using K = detail::KeyConstants::Value;
    switch (key) {
        case K::NONE:
            return 0;
        case K::ENTER:
            return 10;
        case K::TAB:
            return 9;
        case K::MULTIPLY:
            return 106;
        case K::COMMA:
            return 44;
        case K::DELETE:
            return 127;
        case K::DOWN:
            return 40;
        case K::ESCAPE:
            return 27;
        case K::RIGHT:
            return 39;
        case K::SEMICOLON:
            return 59;
        case K::SPACE:
            return 32;
        default:
            if (key >= K::F1 && key <= K::F12) return 112 + (static_cast<int>(key) - static_cast<int>(K::F1));
            return 0;
    }
}

// Alt held while the character's decimal code is typed on the keypad.
std::vector<int> altCode(unsigned char c) {
    std::vector<int> keys{VK_ALT};
    for (char digit : std::to_string(c))
        keys.push_back(VK_NUMPAD0 + (digit - '0'));
    return keys;
}

// Per character: the sequences for US_INTERNATIONAL, GERMAN, QUERTY, AZERTY (0 ends a sequence).
struct SymbolRow {
    char character;
    std::array<std::array<int, 4>, 4> layouts;
};
constexpr std::array<SymbolRow, 26> kSymbols{{
    {'!', {{{16, 49}, {16, 49}, {16, 49}, {517}}}},
    {'"', {{{16, 129, 32}, {16, 50}, {16, 222}, {51}}}},
    {':', {{{16, 59}, {16, 46}, {16, 59}, {513}}}},
    {'#', {{{16, 51}, {520}, {16, 51}, {17, 18, 51}}}},
    {'$', {{{16, 52}, {16, 52}, {16, 52}, {515}}}},
    {'%', {{{16, 53}, {16, 53}, {16, 53}, {18, 99, 103}}}},
    {'&', {{{16, 55}, {16, 54}, {16, 55}, {49}}}},
    {'\'', {{{129, 32}, {16, 520}, {222}, {52}}}},
    {'(', {{{16, 57}, {16, 56}, {16, 57}, {53}}}},
    {')', {{{16, 48}, {16, 57}, {16, 48}, {522}}}},
    {';', {{{59}, {16, 44}, {59}, {59}}}},
    {'<', {{{16, 44}, {153}, {16, 44}, {153}}}},
    {'=', {{{61}, {16, 48}, {61}, {61}}}},
    {'>', {{{16, 46}, {16, 153}, {16, 46}, {16, 153}}}},
    {'?', {{{16, 47}, {18, 102, 99}, {16, 47}, {16, 44}}}},
    {'@', {{{16, 50}, {17, 18, 81}, {16, 50}, {17, 18, 48}}}},
    {'[', {{{91}, {17, 18, 56}, {91}, {17, 18, 53}}}},
    {'\\', {{{92}, {18, 105, 98}, {92}, {17, 18, 56}}}},
    {']', {{{93}, {17, 18, 57}, {93}, {17, 18, 522}}}},
    {'^', {{{16, 54, 32}, {130, 32}, {16, 54}, {130, 32}}}},
    {'_', {{{16, 45}, {16, 45}, {16, 45}, {56}}}},
    {'`', {{{128, 32}, {16, 129, 32}, {192}, {17, 18, 55, 32}}}},
    {'{', {{{16, 91}, {17, 18, 55}, {16, 91}, {17, 18, 52}}}},
    {'|', {{{16, 92}, {17, 18, 153}, {16, 92}, {17, 18, 54}}}},
    {'}', {{{16, 93}, {17, 18, 48}, {16, 93}, {17, 18, 61}}}},
    {'~', {{{16, 128, 32}, {17, 18, 521}, {16, 192}, {17, 18, 50, 32}}}},
}};

std::size_t symbolColumn(KeyboardType type) {
    switch (type) {
        case KeyboardType::US_INTERNATIONAL:
            return 0;
        case KeyboardType::GERMAN:
            return 1;
        case KeyboardType::AZERTY:
            return 3;
        default:
            return 2;
    }
}

std::vector<int> sequence(const std::array<int, 4>& keys) {
    std::vector<int> out;
    for (int k : keys) {
        if (k == 0) break;
        out.push_back(k);
    }
    return out;
}

bool integerIn(std::string_view s, std::int32_t low, std::int32_t high) {
    const auto value = parseDecimalInteger(s);
    return value && *value >= low && *value <= high;
}

// Index of the first `c` at position 0 or not after a backslash; -1 when there is none.
long firstUnescaped(std::string_view s, char c) {
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i] == c && (i == 0 || s[i - 1] != '\\')) return static_cast<long>(i);
    return -1;
}

}  // namespace

std::vector<std::string> catalogKeys() {
    std::vector<std::string> keys;
    addCatalogKeys<detail::KeyConstants>(keys);
    addCatalogKeys<detail::SoundConstants>(keys);
    addCatalogKeys<detail::MathOperationConstants>(keys);
    addCatalogKeys<detail::KeyboardTypeConstants>(keys);
    addCatalogKeys<detail::EditPositionConstants>(keys);
    addCatalogKeys<detail::EditOperationConstants>(keys);
    addCatalogKeys<detail::DecimalSeparatorConstants>(keys);
    addCatalogKeys<detail::ConnectConstants>(keys);
    for (Instrument instrument : Instrument::values()) {
        for (auto key : {instrument.getLabelKey(), instrument.getDefaultMessageKey()})
            if (key && std::find(keys.begin(), keys.end(), *key) == keys.end()) keys.emplace_back(*key);
    }
    return keys;
}

int StartWith::getKeyCode() const {
    return keyCodeOf(*this);
}

int OutputTerminator::getKeyCode() const {
    return keyCodeOf(*this);
}

int Sound::getPercussionNumber() const {
    static constexpr std::array<int, 7> kNotes{0, 53, 56, 67, 68, 75, 81};
    return kNotes[static_cast<std::size_t>(ordinal())];
}

base::RoundingMode RoundingMethod::getRoundingMode() const {
    using base::RoundingMode;
    switch (*this) {
        case CEILING:
            return RoundingMode::CEILING;
        case DOWN:
            return RoundingMode::DOWN;
        case FLOOR:
            return RoundingMode::FLOOR;
        case HALF_DOWN:
            return RoundingMode::HALF_DOWN;
        case HALF_EVEN:
            return RoundingMode::HALF_EVEN;
        case UP:
            return RoundingMode::UP;
        case HALF_UP:
            break;
    }
    return RoundingMode::HALF_UP;
}

std::vector<int> KeyboardType::getDirectKeys() {
    return {10, 9, 39, 40, 32, 127, 27, 106, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123};
}

KeyMap KeyboardType::getKeymap(KeyMapType type) const {
    KeyMap map;
    const bool all = *this == ALL;
    auto put = [&map](char c, std::vector<int> keys) { map[std::string(1, c)] = std::move(keys); };
    auto putAlt = [&put](char c) { put(c, altCode(static_cast<unsigned char>(c))); };

    if (all) {
        for (char c : std::string_view("0123456789-+,."))
            putAlt(c);
    } else {
        const bool azerty = *this == AZERTY;  // digits and the period are shifted there
        for (char c = '0'; c <= '9'; ++c)
            put(c, azerty ? std::vector<int>{VK_SHIFT, c} : std::vector<int>{c});
        put('-', {azerty ? 54 : 45});
        put('+', {107});
        put(',', {44});
        put('.', azerty ? std::vector<int>{VK_SHIFT, 59} : std::vector<int>{46});
    }
    if (type == KeyMapType::NUMERIC) return map;

    for (char c = 'A'; c <= 'Z'; ++c) {
        if (all) {
            putAlt(c);
        } else {
            put(c, {VK_SHIFT, c});
        }
    }
    if (type == KeyMapType::ALPHANUMERIC_BASIC) return map;

    for (char c = 'a'; c <= 'z'; ++c) {
        if (all) {
            putAlt(c);
        } else {
            put(c, {c - 'a' + 'A'});
        }
    }
    if (all) {
        for (char c : std::string_view(" */"))
            putAlt(c);
        for (const auto& row : kSymbols)
            putAlt(row.character);
    } else {
        put('*', {106});
        put('/', {111});
        put(' ', {32});
        const std::size_t column = symbolColumn(*this);
        for (const auto& row : kSymbols)
            put(row.character, sequence(row.layouts[column]));
    }
    return map;
}

int InputTerminator::getDecimal() const {
    static constexpr std::array<int, 3> kCodes{4, 10, 13};
    return kCodes[static_cast<std::size_t>(ordinal())];
}

std::optional<InputTerminator> InputTerminator::itemFromDecimal(int code) {
    for (InputTerminator item : values())
        if (item.getDecimal() == code) return item;
    return std::nullopt;
}

bool EveryXValues::valid(std::string_view s) {
    return s.empty() || integerIn(s, kMin, kMax);
}

bool EditNumCharacters::valid(std::string_view s) {
    return s.empty() || integerIn(s, kMin, kMax);
}

bool Delay::valid(std::string_view s) {
    return s.empty() || integerIn(s, kMin, kMax);
}

bool DecimalPlaces::valid(std::string_view s) {
    return s.empty() || integerIn(s, kMin, kMax);
}

bool IgnoreTimeLimit::valid(std::string_view s) {
    return s.empty() || integerIn(s, kMin, kMax);
}

bool IgnoreDifference::valid(std::string_view s) {
    if (s.empty()) return true;
    const auto value = base::BigDecimal::tryParse(s);
    return value && value->signum() > 0;
}

bool MathOperand::valid(std::string_view s) {
    if (s.empty()) return true;
    // Any zero ("0", "0.0", "-00") would make a division fail later, so none is accepted.
    const auto value = base::BigDecimal::tryParse(s);
    return value && value->signum() != 0;
}

bool RemoveCharacters::valid(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto cp = base::utf8::decode(s, i);
        if (!cp || *cp > 0xFF) return false;
    }
    return true;
}

bool CustomRegEx::valid(std::string_view s) {
    if (s.empty()) return true;
    try {
        const base::Regex regex(s);
        // The value is taken from group 1, so an expression without a capture group can never yield one.
        if (regex.groupCount() < 1) return false;
    } catch (const std::invalid_argument&) {
        return false;
    }
    return firstUnescaped(s, '(') < firstUnescaped(s, ')');
}

}  // namespace ConfigHelper
}  // namespace rszorvik::config
