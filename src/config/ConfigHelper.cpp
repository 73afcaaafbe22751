#include "config/ConfigHelper.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <utility>

#include "base/HotKey.h"
#include "base/MessageCatalog.h"
#include "base/Regex.h"
#include "base/Utf8.h"
#include "base/VirtualKeys.h"
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
            return Vk::ENTER;
        case K::TAB:
            return Vk::TAB;
        case K::MULTIPLY:
            return Vk::MULTIPLY;
        case K::COMMA:
            return Vk::COMMA;
        case K::DELETE:
            return Vk::DELETE;
        case K::DOWN:
            return Vk::DOWN;
        case K::ESCAPE:
            return Vk::ESCAPE;
        case K::RIGHT:
            return Vk::RIGHT;
        case K::SEMICOLON:
            return Vk::SEMICOLON;
        case K::SPACE:
            return Vk::SPACE;
        default:
            if (key >= K::F1 && key <= K::F12)
                return Vk::function(1 + static_cast<int>(key) - static_cast<int>(K::F1));
            return 0;
    }
}

// Alt held while the character's decimal code is typed on the keypad.
std::vector<int> altCode(unsigned char c) {
    std::vector<int> keys{Vk::ALT};
    for (char digit : std::to_string(c))
        keys.push_back(Vk::numpad(digit - '0'));
    return keys;
}

// Per character: the sequences for US_INTERNATIONAL, GERMAN, QUERTY, AZERTY (0 ends a sequence).
struct SymbolRow {
    char character;
    std::array<std::array<int, 4>, 4> layouts;
};
constexpr std::array<SymbolRow, 26> kSymbols{{
    {'!',
     {{{Vk::SHIFT, Vk::digit(1)},
       {Vk::SHIFT, Vk::digit(1)},
       {Vk::SHIFT, Vk::digit(1)},
       {Vk::EXCLAMATION_MARK}}}},
    {'"',
     {{{Vk::SHIFT, Vk::DEAD_ACUTE, Vk::SPACE},
       {Vk::SHIFT, Vk::digit(2)},
       {Vk::SHIFT, Vk::QUOTE},
       {Vk::digit(3)}}}},
    {':', {{{Vk::SHIFT, Vk::SEMICOLON}, {Vk::SHIFT, Vk::PERIOD}, {Vk::SHIFT, Vk::SEMICOLON}, {Vk::COLON}}}},
    {'#',
     {{{Vk::SHIFT, Vk::digit(3)},
       {Vk::NUMBER_SIGN},
       {Vk::SHIFT, Vk::digit(3)},
       {Vk::CONTROL, Vk::ALT, Vk::digit(3)}}}},
    {'$', {{{Vk::SHIFT, Vk::digit(4)}, {Vk::SHIFT, Vk::digit(4)}, {Vk::SHIFT, Vk::digit(4)}, {Vk::DOLLAR}}}},
    {'%',
     {{{Vk::SHIFT, Vk::digit(5)},
       {Vk::SHIFT, Vk::digit(5)},
       {Vk::SHIFT, Vk::digit(5)},
       {Vk::ALT, Vk::numpad(3), Vk::numpad(7)}}}},
    {'&',
     {{{Vk::SHIFT, Vk::digit(7)}, {Vk::SHIFT, Vk::digit(6)}, {Vk::SHIFT, Vk::digit(7)}, {Vk::digit(1)}}}},
    {'\'', {{{Vk::DEAD_ACUTE, Vk::SPACE}, {Vk::SHIFT, Vk::NUMBER_SIGN}, {Vk::QUOTE}, {Vk::digit(4)}}}},
    {'(',
     {{{Vk::SHIFT, Vk::digit(9)}, {Vk::SHIFT, Vk::digit(8)}, {Vk::SHIFT, Vk::digit(9)}, {Vk::digit(5)}}}},
    {')',
     {{{Vk::SHIFT, Vk::digit(0)},
       {Vk::SHIFT, Vk::digit(9)},
       {Vk::SHIFT, Vk::digit(0)},
       {Vk::RIGHT_PARENTHESIS}}}},
    {';', {{{Vk::SEMICOLON}, {Vk::SHIFT, Vk::COMMA}, {Vk::SEMICOLON}, {Vk::SEMICOLON}}}},
    {'<', {{{Vk::SHIFT, Vk::COMMA}, {Vk::LESS}, {Vk::SHIFT, Vk::COMMA}, {Vk::LESS}}}},
    {'=', {{{Vk::EQUALS}, {Vk::SHIFT, Vk::digit(0)}, {Vk::EQUALS}, {Vk::EQUALS}}}},
    {'>', {{{Vk::SHIFT, Vk::PERIOD}, {Vk::SHIFT, Vk::LESS}, {Vk::SHIFT, Vk::PERIOD}, {Vk::SHIFT, Vk::LESS}}}},
    {'?',
     {{{Vk::SHIFT, Vk::SLASH},
       {Vk::ALT, Vk::numpad(6), Vk::numpad(3)},
       {Vk::SHIFT, Vk::SLASH},
       {Vk::SHIFT, Vk::COMMA}}}},
    {'@',
     {{{Vk::SHIFT, Vk::digit(2)},
       {Vk::CONTROL, Vk::ALT, Vk::letter('Q')},
       {Vk::SHIFT, Vk::digit(2)},
       {Vk::CONTROL, Vk::ALT, Vk::digit(0)}}}},
    {'[',
     {{{Vk::OPEN_BRACKET},
       {Vk::CONTROL, Vk::ALT, Vk::digit(8)},
       {Vk::OPEN_BRACKET},
       {Vk::CONTROL, Vk::ALT, Vk::digit(5)}}}},
    {'\\',
     {{{Vk::BACK_SLASH},
       {Vk::ALT, Vk::numpad(9), Vk::numpad(2)},
       {Vk::BACK_SLASH},
       {Vk::CONTROL, Vk::ALT, Vk::digit(8)}}}},
    {']',
     {{{Vk::CLOSE_BRACKET},
       {Vk::CONTROL, Vk::ALT, Vk::digit(9)},
       {Vk::CLOSE_BRACKET},
       {Vk::CONTROL, Vk::ALT, Vk::RIGHT_PARENTHESIS}}}},
    {'^',
     {{{Vk::SHIFT, Vk::digit(6), Vk::SPACE},
       {Vk::DEAD_CIRCUMFLEX, Vk::SPACE},
       {Vk::SHIFT, Vk::digit(6)},
       {Vk::DEAD_CIRCUMFLEX, Vk::SPACE}}}},
    {'_', {{{Vk::SHIFT, Vk::MINUS}, {Vk::SHIFT, Vk::MINUS}, {Vk::SHIFT, Vk::MINUS}, {Vk::digit(8)}}}},
    {'`',
     {{{Vk::DEAD_GRAVE, Vk::SPACE},
       {Vk::SHIFT, Vk::DEAD_ACUTE, Vk::SPACE},
       {Vk::BACK_QUOTE},
       {Vk::CONTROL, Vk::ALT, Vk::digit(7), Vk::SPACE}}}},
    {'{',
     {{{Vk::SHIFT, Vk::OPEN_BRACKET},
       {Vk::CONTROL, Vk::ALT, Vk::digit(7)},
       {Vk::SHIFT, Vk::OPEN_BRACKET},
       {Vk::CONTROL, Vk::ALT, Vk::digit(4)}}}},
    {'|',
     {{{Vk::SHIFT, Vk::BACK_SLASH},
       {Vk::CONTROL, Vk::ALT, Vk::LESS},
       {Vk::SHIFT, Vk::BACK_SLASH},
       {Vk::CONTROL, Vk::ALT, Vk::digit(6)}}}},
    {'}',
     {{{Vk::SHIFT, Vk::CLOSE_BRACKET},
       {Vk::CONTROL, Vk::ALT, Vk::digit(0)},
       {Vk::SHIFT, Vk::CLOSE_BRACKET},
       {Vk::CONTROL, Vk::ALT, Vk::EQUALS}}}},
    {'~',
     {{{Vk::SHIFT, Vk::DEAD_GRAVE, Vk::SPACE},
       {Vk::CONTROL, Vk::ALT, Vk::PLUS},
       {Vk::SHIFT, Vk::BACK_QUOTE},
       {Vk::CONTROL, Vk::ALT, Vk::digit(2), Vk::SPACE}}}},
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
    std::vector<int> keys{Vk::ENTER, Vk::TAB,    Vk::RIGHT,  Vk::DOWN,
                          Vk::SPACE, Vk::DELETE, Vk::ESCAPE, Vk::MULTIPLY};
    for (int n = 1; n <= 12; ++n)
        keys.push_back(Vk::function(n));
    return keys;
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
        for (char c = '0'; c <= '9'; ++c) {
            const int key = Vk::digit(c - '0');
            put(c, azerty ? std::vector<int>{Vk::SHIFT, key} : std::vector<int>{key});
        }
        put('-', {azerty ? Vk::digit(6) : Vk::MINUS});
        put('+', {Vk::ADD});
        put(',', {Vk::COMMA});
        put('.', azerty ? std::vector<int>{Vk::SHIFT, Vk::SEMICOLON} : std::vector<int>{Vk::PERIOD});
    }
    if (type == KeyMapType::NUMERIC) return map;

    for (char c = 'A'; c <= 'Z'; ++c) {
        if (all) {
            putAlt(c);
        } else {
            put(c, {Vk::SHIFT, Vk::letter(c)});
        }
    }
    if (type == KeyMapType::ALPHANUMERIC_BASIC) return map;

    for (char c = 'a'; c <= 'z'; ++c) {
        if (all) {
            putAlt(c);
        } else {
            put(c, {Vk::letter(static_cast<char>(c - 'a' + 'A'))});
        }
    }
    if (all) {
        for (char c : std::string_view(" */"))
            putAlt(c);
        for (const auto& row : kSymbols)
            putAlt(row.character);
    } else {
        put('*', {Vk::MULTIPLY});
        put('/', {Vk::DIVIDE});
        put(' ', {Vk::SPACE});
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

void InputTerminator::setSelectedItem(EditableBox& box, int code) {
    if (const auto item = itemFromDecimal(code))
        box.selectEntry(item->ordinal());
    else
        box.showText(std::to_string(code));
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
    return refusal(s).empty();
}

std::string MathOperand::refusal(std::string_view s) {
    if (s.empty()) return {};
    try {
        // Any zero ("0", "0.0", "-00") would make a division fail later, so none is accepted.
        if (base::BigDecimal::parse(s).signum() == 0) return "it is zero";
        return {};
    } catch (const base::NumberFormatError& e) {
        if (s.size() > base::BigDecimal::kMaxTextLength)
            return "it is longer than " + std::to_string(base::BigDecimal::kMaxTextLength) + " characters";
        if (std::string_view(e.what()) == "Exponent out of range.")
            return "its exponent is outside -" + std::to_string(base::BigDecimal::kMaxExponent) + " to " +
                   std::to_string(base::BigDecimal::kMaxExponent);
        return "it is not a decimal number";
    }
}

bool RemoveCharacters::valid(std::string_view s) {
    return refusal(s).empty();
}

std::string RemoveCharacters::refusal(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t start = i;
        const auto cp = base::utf8::decode(s, i);
        if (!cp) return "it is not valid text (a byte at " + std::to_string(start) + " is not UTF-8)";
        if (*cp > 0xFF) return "\"" + std::string(s.substr(start, i - start)) + "\" has a code above 255";
    }
    return {};
}

bool CustomRegEx::valid(std::string_view s) {
    return refusal(s).empty();
}

std::string CustomRegEx::refusal(std::string_view s) {
    if (s.empty()) return {};
    try {
        const base::Regex regex(s);
        // The value is taken from group 1, so an expression without a capture group can never yield one.
        if (regex.groupCount() < 1) return "it has no capture group";
    } catch (const base::RegexSyntaxError& e) {
        return "it does not compile: " + std::string(e.what()) + " at offset " + std::to_string(e.offset());
    } catch (const std::invalid_argument& e) {
        return "it does not compile: " + std::string(e.what());
    }
    if (firstUnescaped(s, '(') >= firstUnescaped(s, ')')) return "a \")\" comes before its first \"(\"";
    return {};
}

namespace {

// The byte code of "<n>" at text[i] (n 0-255, at most three digits), moving i past it; none otherwise.
std::optional<std::uint8_t> byteCodeAt(std::string_view text, std::size_t& i) {
    if (text[i] != '<') return std::nullopt;
    std::size_t end = i + 1;
    int code = 0;
    while (end < text.size() && end - i <= 3 && text[end] >= '0' && text[end] <= '9')
        code = code * 10 + (text[end++] - '0');
    if (end == i + 1 || end >= text.size() || text[end] != '>' || code > 255) return std::nullopt;
    i = end + 1;
    return static_cast<std::uint8_t>(code);
}

// The bytes of a request command text, or why it stands for none (refusal not empty).
struct DecodedRequest {
    std::string bytes;
    std::string refusal;
};

DecodedRequest decodeRequest(std::string_view s) {
    DecodedRequest result;
    for (std::size_t i = 0; i < s.size();) {
        if (const auto code = byteCodeAt(s, i)) {
            result.bytes.push_back(static_cast<char>(*code));
            continue;
        }
        const std::size_t start = i;
        const auto cp = base::utf8::decode(s, i);
        if (!cp) return {{}, "it is not valid text (a byte at " + std::to_string(start) + " is not UTF-8)"};
        if (*cp > 0xFF)
            return {{},
                    "\"" + std::string(s.substr(start, i - start)) +
                        "\" has a code above 255; write <n> for a byte"};
        result.bytes.push_back(static_cast<char>(*cp));
    }
    if (result.bytes.size() > RequestCommand::kMaxBytes)
        return {{},
                "it stands for " + std::to_string(result.bytes.size()) + " bytes, more than " +
                    std::to_string(RequestCommand::kMaxBytes)};
    return result;
}

}  // namespace

bool RequestCommand::valid(std::string_view s) {
    return refusal(s).empty();
}

std::string RequestCommand::refusal(std::string_view s) {
    return decodeRequest(s).refusal;
}

std::string RequestCommand::toBytes(std::string_view s) {
    DecodedRequest decoded = decodeRequest(s);
    if (!decoded.refusal.empty()) throw std::invalid_argument(decoded.refusal);
    return std::move(decoded.bytes);
}

std::string RequestCommand::toText(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code >= 0x20 && code < 0x7F && code != '<') {
            text.push_back(c);
        } else {
            text += "<" + std::to_string(code) + ">";
        }
    }
    return text;
}

bool RequestInterval::valid(std::string_view s) {
    return s.empty() || integerIn(s, 0, 0) || integerIn(s, kMin, kMax);
}

bool RequestHotKey::valid(std::string_view s) {
    return s.empty() || base::HotKey::tryParse(s).has_value();
}

std::string RequestHotKey::refusal(std::string_view s) {
    if (s.empty()) return {};
    try {
        base::HotKey::parse(s);
        return {};
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
}

bool ValueLog::valid(std::string_view s) {
    return refusal(s).empty();
}

std::string ValueLog::refusal(std::string_view s) {
    if (s.empty()) return {};
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t start = i;
        const auto cp = base::utf8::decode(s, i);
        if (!cp) return "it is not valid text (a byte at " + std::to_string(start) + " is not UTF-8)";
        if (*cp < 0x20 || *cp == 0x7f) return "it holds a control character";
    }
    // A relative path would depend on the folder the program happens to start in.
    const std::filesystem::path path(std::u8string(s.begin(), s.end()));
    if (!path.is_absolute()) return "it is not an absolute path";
    if (!path.has_filename()) return "it names a folder, not a file";
    return {};
}

}  // namespace ConfigHelper
}  // namespace rszorvik::config
