#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/BigDecimal.h"
#include "base/MessageCatalog.h"

namespace rszorvik::config {

// Character (one UTF-8 encoded character) -> the virtual key codes that type it, in order.
using KeyMap = std::map<std::string, std::vector<int>>;

// Integer.parseInt: a signed 32-bit base-10 integer, optional "+" or "-", ASCII digits only, no blanks.
std::optional<std::int32_t> parseDecimalInteger(std::string_view text);

namespace detail {

// A constant's label: either the text itself or a key of the settings catalogue.
struct Label {
    std::string_view text;
    bool fromCatalog = false;
};
constexpr Label literal(std::string_view text) {
    return {text, false};
}
constexpr Label key(std::string_view key) {
    return {key, true};
}

// The text of a label; catalogue keys are looked up in "rszorvik.config.ConfigBundle".
std::string resolveLabel(const Label& label);

[[noreturn]] void throwNoConstant(std::string_view typeName, std::string_view name);

// Value type behind every named enumeration. Traits supply `enum class Value`, `using enum Value`,
// kTypeName, kNames and optionally kLabels (without them the label is the name) and kDefault.
// A constant is one byte, compares with == (directly or against Type::CONSTANT) and works in switch.
template <class Derived, class Traits>
class EnumConstant : public Traits {
  public:
    using Value = typename Traits::Value;
    static constexpr std::size_t kCount = Traits::kNames.size();

    // The default constant where the enumeration has one, else the first.
    constexpr EnumConstant() : value(initialValue()) {}
    constexpr EnumConstant(Value v) : value(v) {}  // NOLINT: implicit by design
    constexpr operator Value() const { return value; }

    constexpr int ordinal() const { return static_cast<int>(value); }
    constexpr std::string_view name() const { return Traits::kNames[static_cast<std::size_t>(value)]; }
    // The label, resolved from the catalogue once per enumeration.
    const std::string& label() const { return labels()[static_cast<std::size_t>(value)]; }
    std::string toString() const { return label(); }

    static constexpr std::array<Derived, kCount> values() {
        std::array<Derived, kCount> all{};
        for (std::size_t i = 0; i < kCount; ++i)
            all[i] = Derived(static_cast<Value>(i));
        return all;
    }
    // Exact, case-sensitive constant name.
    static constexpr bool valid(std::string_view name) { return indexOf(name) < kCount; }
    static constexpr std::optional<Derived> tryValueOf(std::string_view name) {
        const std::size_t i = indexOf(name);
        if (i >= kCount) return std::nullopt;
        return Derived(static_cast<Value>(i));
    }
    // Throws std::invalid_argument for a name that is not a constant.
    static Derived valueOf(std::string_view name) {
        const std::size_t i = indexOf(name);
        if (i >= kCount) throwNoConstant(Traits::kTypeName, name);
        return Derived(static_cast<Value>(i));
    }
    static constexpr Derived getDefault() requires requires { Traits::kDefault; }
    { return Derived(Traits::kDefault); }

    friend std::ostream& operator<<(std::ostream& os, const EnumConstant& e) { return os << e.name(); }

  private:
    static constexpr Value initialValue() {
        if constexpr (requires { Traits::kDefault; }) {
            return Traits::kDefault;
        } else {
            return static_cast<Value>(0);
        }
    }
    static constexpr std::size_t indexOf(std::string_view name) {
        for (std::size_t i = 0; i < kCount; ++i)
            if (Traits::kNames[i] == name) return i;
        return kCount;
    }
    static const std::array<std::string, kCount>& labels() {
        static const std::array<std::string, kCount> table = [] {
            std::array<std::string, kCount> t;
            for (std::size_t i = 0; i < kCount; ++i) {
                if constexpr (requires { Traits::kLabels; }) {
                    t[i] = resolveLabel(Traits::kLabels[i]);
                } else {
                    t[i] = std::string(Traits::kNames[i]);
                }
            }
            return t;
        }();
        return table;
    }

    Value value;
};

// Static helpers over the integer index of a serial-line setting (index = ordinal). Traits supply an
// unscoped `enum Value`, kNames, kLabels (optional; without them the readable form is the name), kDefault.
template <class Traits>
struct IndexEnumeration : Traits {
    static constexpr int kCount = static_cast<int>(Traits::kNames.size());

    static constexpr int getDefault() { return Traits::kDefault; }
    static constexpr bool valid(int index) { return index >= 0 && index < kCount; }
    // Constant name at the index; empty for an index out of range.
    static constexpr std::string_view name(int index) {
        return valid(index) ? Traits::kNames[static_cast<std::size_t>(index)] : std::string_view();
    }
    // The label at the index; empty for an index out of range.
    static std::string getReadable(int index) {
        if (!valid(index)) return {};
        if constexpr (requires { Traits::kLabels; }) {
            return std::string(Traits::kLabels[static_cast<std::size_t>(index)]);
        } else {
            return std::string(Traits::kNames[static_cast<std::size_t>(index)]);
        }
    }
};

struct BitRatesConstants {
    static constexpr std::string_view kTypeName = "BitRates";
    enum Value : int {
        BR_110,
        BR_150,
        BR_300,
        BR_600,
        BR_1200,
        BR_2400,
        BR_4800,
        BR_9600,
        BR_19200,
        BR_38400,
        BR_57600,
        BR_115200,
        BR_230400,
        BR_460800,
        BR_921600
    };
    static constexpr std::array<std::string_view, 15> kNames{
        "BR_110",   "BR_150",   "BR_300",   "BR_600",    "BR_1200",   "BR_2400",   "BR_4800",  "BR_9600",
        "BR_19200", "BR_38400", "BR_57600", "BR_115200", "BR_230400", "BR_460800", "BR_921600"};
    static constexpr std::array<std::string_view, 15> kLabels{
        "110",   "150",   "300",   "600",    "1200",   "2400",   "4800",  "9600",
        "19200", "38400", "57600", "115200", "230400", "460800", "921600"};
    static constexpr int kDefault = BR_9600;
};

struct DataBitsConstants {
    static constexpr std::string_view kTypeName = "DataBits";
    enum Value : int { LN_5BITS, LN_6BITS, LN_7BITS, LN_8BITS };
    static constexpr std::array<std::string_view, 4> kNames{"LN_5BITS", "LN_6BITS", "LN_7BITS", "LN_8BITS"};
    static constexpr std::array<std::string_view, 4> kLabels{"5", "6", "7", "8"};
    static constexpr int kDefault = LN_8BITS;
};

struct StopBitsConstants {
    static constexpr std::string_view kTypeName = "StopBits";
    enum Value : int { ST_1BITS, ST_2BITS };
    static constexpr std::array<std::string_view, 2> kNames{"ST_1BITS", "ST_2BITS"};
    static constexpr std::array<std::string_view, 2> kLabels{"1", "2"};
    static constexpr int kDefault = ST_1BITS;
};

struct ParityConstants {
    static constexpr std::string_view kTypeName = "Parity";
    enum Value : int { NONE, ODD, EVEN, MARK, SPACE };
    static constexpr std::array<std::string_view, 5> kNames{"NONE", "ODD", "EVEN", "MARK", "SPACE"};
    static constexpr int kDefault = NONE;
};

struct HandshakeConstants {
    static constexpr std::string_view kTypeName = "Handshake";
    enum Value : int { NONE, XON_XOFF, CTS_RTS };
    static constexpr std::array<std::string_view, 3> kNames{"NONE", "XON_XOFF", "CTS_RTS"};
    static constexpr std::array<std::string_view, 3> kLabels{"NONE", "XON/XOFF (Software)",
                                                             "RTS/CTS (Hardware)"};
    static constexpr int kDefault = NONE;
};

// Shared by StartWith and OutputTerminator: the same 23 keys.
struct KeyConstants {
    enum class Value : std::uint8_t {
        NONE,
        ENTER,
        TAB,
        MULTIPLY,
        COMMA,
        DELETE,
        DOWN,
        ESCAPE,
        F1,
        F2,
        F3,
        F4,
        F5,
        F6,
        F7,
        F8,
        F9,
        F10,
        F11,
        F12,
        RIGHT,
        SEMICOLON,
        SPACE
    };
    using enum Value;
    static constexpr std::array<std::string_view, 23> kNames{
        "NONE", "ENTER", "TAB", "MULTIPLY", "COMMA", "DELETE",    "DOWN", "ESCAPE",
        "F1",   "F2",    "F3",  "F4",       "F5",    "F6",        "F7",   "F8",
        "F9",   "F10",   "F11", "F12",      "RIGHT", "SEMICOLON", "SPACE"};
    static constexpr std::array<Label, 23> kLabels{
        key("key.none"), key("enter"),   key("tab"),    literal("* (Numpad)"), key("comma"),  key("delete"),
        key("down"),     literal("Esc"), literal("F1"), literal("F2"),         literal("F3"), literal("F4"),
        literal("F5"),   literal("F6"),  literal("F7"), literal("F8"),         literal("F9"), literal("F10"),
        literal("F11"),  literal("F12"), key("right"),  key("semicolon"),      key("space")};
    static constexpr Value kDefault = NONE;
};
struct StartWithConstants : KeyConstants {
    static constexpr std::string_view kTypeName = "StartWith";
};
struct OutputTerminatorConstants : KeyConstants {
    static constexpr std::string_view kTypeName = "OutputTerminator";
};

struct SoundConstants {
    enum class Value : std::uint8_t {
        NONE,
        RIDE_BELL,
        COWBELL,
        HIGH_AGOGO,
        LOW_AGOGO,
        CLAVES,
        OPEN_TRIANGLE
    };
    using enum Value;
    static constexpr std::string_view kTypeName = "Sound";
    static constexpr std::array<std::string_view, 7> kNames{
        "NONE", "RIDE_BELL", "COWBELL", "HIGH_AGOGO", "LOW_AGOGO", "CLAVES", "OPEN_TRIANGLE"};
    static constexpr std::array<Label, 7> kLabels{
        key("sound.none"),    literal("Ride Bell"), literal("Cowbell"), literal("High Agogo"),
        literal("Low Agogo"), literal("Claves"),    literal("Triangle")};
    static constexpr Value kDefault = NONE;
};

struct RoundingMethodConstants {
    enum class Value : std::uint8_t { CEILING, DOWN, FLOOR, HALF_DOWN, HALF_EVEN, HALF_UP, UP };
    using enum Value;
    static constexpr std::string_view kTypeName = "RoundingMethod";
    static constexpr std::array<std::string_view, 7> kNames{"CEILING",   "DOWN",    "FLOOR", "HALF_DOWN",
                                                            "HALF_EVEN", "HALF_UP", "UP"};
    static constexpr std::array<Label, 7> kLabels{
        literal("ceiling"),   literal("down"),    literal("floor"), literal("half down"),
        literal("half even"), literal("half up"), literal("up")};
    static constexpr Value kDefault = HALF_UP;
};

struct MathOperationConstants {
    enum class Value : std::uint8_t { NONE, MULTIPLY, DIVIDE };
    using enum Value;
    static constexpr std::string_view kTypeName = "MathOperation";
    static constexpr std::array<std::string_view, 3> kNames{"NONE", "MULTIPLY", "DIVIDE"};
    static constexpr std::array<Label, 3> kLabels{key("math.none"), key("multiply"), key("divide")};
    static constexpr Value kDefault = NONE;
};

struct KeyMapTypeConstants {
    enum class Value : std::uint8_t { NUMERIC, ALPHANUMERIC_BASIC, ALPHANUMERIC_COMPLETE };
    using enum Value;
    static constexpr std::string_view kTypeName = "KeyMapType";
    static constexpr std::array<std::string_view, 3> kNames{"NUMERIC", "ALPHANUMERIC_BASIC",
                                                            "ALPHANUMERIC_COMPLETE"};
};

struct KeyboardTypeConstants {
    enum class Value : std::uint8_t { QUERTY, US_INTERNATIONAL, AZERTY, GERMAN, ALL };
    using enum Value;
    static constexpr std::string_view kTypeName = "KeyboardType";
    static constexpr std::array<std::string_view, 5> kNames{"QUERTY", "US_INTERNATIONAL", "AZERTY", "GERMAN",
                                                            "ALL"};
    static constexpr std::array<Label, 5> kLabels{
        key("keyboardType.default"), key("keyboardType.us_international"), key("keyboardType.azerty"),
        key("keyboardType.german"), key("keyboardType.all")};
    static constexpr Value kDefault = QUERTY;
};

struct EditPositionConstants {
    enum class Value : std::uint8_t { FIRST, LAST };
    using enum Value;
    static constexpr std::string_view kTypeName = "EditPosition";
    static constexpr std::array<std::string_view, 2> kNames{"FIRST", "LAST"};
    static constexpr std::array<Label, 2> kLabels{key("edit.first"), key("edit.last")};
    static constexpr Value kDefault = FIRST;
};

struct EditOperationConstants {
    enum class Value : std::uint8_t { REMOVE, KEEP };
    using enum Value;
    static constexpr std::string_view kTypeName = "EditOperation";
    static constexpr std::array<std::string_view, 2> kNames{"REMOVE", "KEEP"};
    static constexpr std::array<Label, 2> kLabels{key("edit.remove"), key("edit.keep")};
    static constexpr Value kDefault = REMOVE;
};

struct DecimalSeparatorConstants {
    enum class Value : std::uint8_t { DOT, COMMA };
    using enum Value;
    static constexpr std::string_view kTypeName = "DecimalSeparator";
    static constexpr std::array<std::string_view, 2> kNames{"DOT", "COMMA"};
    static constexpr std::array<Label, 2> kLabels{key("dot"), key("comma")};
    static constexpr Value kDefault = DOT;
};

struct ConnectConstants {
    enum class Value : std::uint8_t { MANUAL, AUTO };
    using enum Value;
    static constexpr std::string_view kTypeName = "Connect";
    static constexpr std::array<std::string_view, 2> kNames{"MANUAL", "AUTO"};
    static constexpr std::array<Label, 2> kLabels{key("manual"), key("auto")};
    static constexpr Value kDefault = MANUAL;
};

struct InstrumentTypeConstants {
    enum class Value : std::uint8_t { NUMBER, TEXT };
    using enum Value;
    static constexpr std::string_view kTypeName = "InstrumentType";
    static constexpr std::array<std::string_view, 2> kNames{"NUMBER", "TEXT"};
};

struct InputTerminatorConstants {
    enum class Value : std::uint8_t { EOT, LF, CR };
    using enum Value;
    static constexpr std::string_view kTypeName = "InputTerminator";
    static constexpr std::array<std::string_view, 3> kNames{"EOT", "LF", "CR"};
    static constexpr std::array<Label, 3> kLabels{literal("4 <EOT>"), literal("10 <LF>"), literal("13 <CR>")};
};

}  // namespace detail

// The closed sets of choices of the settings and the validators of the free-text settings.
// Named enumerations are small value types: `StartWith s = StartWith::F12; s.getKeyCode();`,
// `switch (s) { case StartWith::F12: ... }`, `StartWith::valueOf("F12")`, `s.name()`, `s.toString()`.
namespace ConfigHelper {

// The catalogue that holds the labels of the setting values and the preset messages.
inline constexpr std::string_view kBundleName = base::catalogues::kConfig;
// Every catalogue key the enumerations and presets use, so the application can check them at start.
std::vector<std::string> catalogKeys();

// Index enumerations: the settings hold the integer index (which is also the serial port's code).
struct BitRates : detail::IndexEnumeration<detail::BitRatesConstants> {};
struct DataBits : detail::IndexEnumeration<detail::DataBitsConstants> {};
struct StopBits : detail::IndexEnumeration<detail::StopBitsConstants> {};
struct Parity : detail::IndexEnumeration<detail::ParityConstants> {};
struct Handshake : detail::IndexEnumeration<detail::HandshakeConstants> {};

class KeyMapType : public detail::EnumConstant<KeyMapType, detail::KeyMapTypeConstants> {
  public:
    using EnumConstant::EnumConstant;
};

class InstrumentType : public detail::EnumConstant<InstrumentType, detail::InstrumentTypeConstants> {
  public:
    using EnumConstant::EnumConstant;
};

// Key typed before each value.
class StartWith : public detail::EnumConstant<StartWith, detail::StartWithConstants> {
  public:
    using EnumConstant::EnumConstant;
    int getKeyCode() const;  // 0 for NONE
};

// Key typed after each value.
class OutputTerminator : public detail::EnumConstant<OutputTerminator, detail::OutputTerminatorConstants> {
  public:
    using EnumConstant::EnumConstant;
    int getKeyCode() const;  // 0 for NONE
};

class Sound : public detail::EnumConstant<Sound, detail::SoundConstants> {
  public:
    using EnumConstant::EnumConstant;
    int getPercussionNumber() const;  // General MIDI percussion note; 0 for NONE
};

class RoundingMethod : public detail::EnumConstant<RoundingMethod, detail::RoundingMethodConstants> {
  public:
    using EnumConstant::EnumConstant;
    base::RoundingMode getRoundingMode() const;
};

class MathOperation : public detail::EnumConstant<MathOperation, detail::MathOperationConstants> {
  public:
    using EnumConstant::EnumConstant;
};

class KeyboardType : public detail::EnumConstant<KeyboardType, detail::KeyboardTypeConstants> {
  public:
    using EnumConstant::EnumConstant;
    // Key codes the output sends as one key press rather than through the character map.
    static std::vector<int> getDirectKeys();
    // A new map on every call. Keys are single characters; all are ASCII (32..126).
    KeyMap getKeymap(KeyMapType type) const;
};

class EditPosition : public detail::EnumConstant<EditPosition, detail::EditPositionConstants> {
  public:
    using EnumConstant::EnumConstant;
};

class EditOperation : public detail::EnumConstant<EditOperation, detail::EditOperationConstants> {
  public:
    using EnumConstant::EnumConstant;
};

class DecimalSeparator : public detail::EnumConstant<DecimalSeparator, detail::DecimalSeparatorConstants> {
  public:
    using EnumConstant::EnumConstant;
};

class Connect : public detail::EnumConstant<Connect, detail::ConnectConstants> {
  public:
    using EnumConstant::EnumConstant;
};

// The byte that ends a received line. The setting is any code 0..255; the constants name the common ones.
class InputTerminator : public detail::EnumConstant<InputTerminator, detail::InputTerminatorConstants> {
  public:
    using EnumConstant::EnumConstant;
    static constexpr int kMin = 0, kMax = 255;
    static constexpr int getDefault() { return 13; }
    static constexpr bool valid(int code) { return code >= kMin && code <= kMax; }
    int getDecimal() const;
    static std::optional<InputTerminator> itemFromDecimal(int code);

    // The window's editable terminator box as setSelectedItem drives it: its entries are values() in order,
    // and it can show free text instead of an entry.
    class EditableBox {
      public:
        virtual ~EditableBox() = default;
        virtual void selectEntry(int index) = 0;
        virtual void showText(const std::string& text) = 0;
    };
    // Shows the entry whose code is `code`, or the bare number when no entry has it.
    static void setSelectedItem(EditableBox& box, int code);
};

// Validators of the free-text settings. The empty text is valid for each and means "off" / "not set".
// The integer ones carry their range, so messages and the window show what the check really accepts.
struct EveryXValues {
    static constexpr std::int32_t kMin = 2, kMax = 99;
    static std::string getDefault() { return {}; }
    static bool valid(std::string_view s);
};
struct EditNumCharacters {
    static constexpr std::int32_t kMin = 1, kMax = 99;
    static std::string getDefault() { return {}; }
    static bool valid(std::string_view s);
};
struct Delay {
    static constexpr std::int32_t kMin = 0, kMax = 1000;
    static constexpr std::string_view kUnit = "milliseconds";
    static std::string getDefault() { return "20"; }
    static bool valid(std::string_view s);
};
struct DecimalPlaces {
    static constexpr std::int32_t kMin = 0, kMax = 7;
    static std::string getDefault() { return {}; }
    static bool valid(std::string_view s);
};
struct IgnoreTimeLimit {
    static constexpr std::int32_t kMin = 1, kMax = std::numeric_limits<std::int32_t>::max();
    static constexpr std::string_view kUnit = "milliseconds";
    static std::string getDefault() { return {}; }
    static bool valid(std::string_view s);
};
struct IgnoreDifference {
    static constexpr std::string_view kAccepts = "empty or a decimal number greater than 0";
    static std::string getDefault() { return {}; }
    static bool valid(std::string_view s);
};
struct MathOperand {
    static constexpr std::string_view kAccepts = "empty or a decimal number other than 0";
    static std::string getDefault() { return {}; }
    static bool valid(std::string_view s);
    // Why valid refuses s (which limit it hits); empty when it does not.
    static std::string refusal(std::string_view s);
};
struct RemoveCharacters {
    static constexpr std::string_view kAccepts = "characters whose codes are at most 255";
    static std::string getDefault() { return {}; }
    static bool valid(std::string_view s);  // well-formed UTF-8, every code point <= 255
    static std::string refusal(std::string_view s);
};
struct CustomRegEx {
    static constexpr std::string_view kAccepts =
        "empty or a regular expression whose first group opens before any group closes";
    static std::string getDefault() { return {}; }
    // Compiles, has a capture group, and its first unescaped "(" comes before its first unescaped ")".
    static bool valid(std::string_view s);
    // Which of those rules s breaks (with the expression engine's own reason when it does not compile);
    // empty when it breaks none.
    static std::string refusal(std::string_view s);
};
// The file of the value log. The empty text switches the log off.
struct ValueLog {
    static constexpr std::string_view kAccepts =
        "empty (no value log) or the absolute path of a file, which is created when missing";
    static std::string getDefault() { return {}; }
    static bool valid(std::string_view s);
    static std::string refusal(std::string_view s);
};

// The command that asks the instrument for a reading, as the settings hold it: each character is sent as
// the byte of its code, and <n> (n from 0 to 255) stands for the byte n, so "SI<13><10>" ends with CR LF.
// The empty text means the preset's own command.
struct RequestCommand {
    static constexpr std::size_t kMaxBytes = 64;
    static constexpr std::string_view kAccepts =
        "empty (the preset's command) or up to 64 bytes of text, <n> standing for the byte n (0-255), "
        "such as SI<13><10>";
    static std::string getDefault() { return {}; }
    static bool valid(std::string_view s);
    static std::string refusal(std::string_view s);
    // The bytes the text stands for; std::invalid_argument (with the refusal) for a text valid() refuses.
    static std::string toBytes(std::string_view s);
    // The text that stands for the bytes: printable ASCII as it is, every other byte and "<" as <n>.
    static std::string toText(std::string_view bytes);
};
// How often a reading is asked for while output runs; empty or 0 is off.
struct RequestInterval {
    static constexpr std::int32_t kMin = 50, kMax = 86'400'000;
    static constexpr std::string_view kAccepts =
        "empty or 0 (off), or an integer from 50 to 86400000 (milliseconds)";
    static std::string getDefault() { return {}; }
    static bool valid(std::string_view s);
};
// The key combination that asks for a reading from anywhere on the desktop (base::HotKey); empty is none.
struct RequestHotKey {
    static constexpr std::string_view kAccepts =
        "empty or modifiers (Ctrl, Alt, Shift, Super) and one key joined by +, such as Ctrl+Alt+R or F9; "
        "a letter, digit or Space needs Ctrl, Alt or Super";
    static std::string getDefault() { return {}; }
    static bool valid(std::string_view s);
    static std::string refusal(std::string_view s);
};

}  // namespace ConfigHelper
}  // namespace rszorvik::config
