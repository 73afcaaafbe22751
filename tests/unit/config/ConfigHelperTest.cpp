#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include "base/EmbeddedResources.h"
#include "base/MessageCatalog.h"
#include "base/Properties.h"
#include "config/ConfigHelper.h"
#include "config/Instrument.h"

using namespace rszorvik::config;
using namespace rszorvik::config::ConfigHelper;
using rszorvik::base::MessageCatalog;
using rszorvik::base::RoundingMode;

namespace {

std::vector<int> keys(const std::string& text) {
    std::vector<int> out;
    std::istringstream in(text);
    for (int k; in >> k;)
        out.push_back(k);
    return out;
}

std::string catalogText(const std::string& key) {
    return MessageCatalog::get(kBundleName).getString(key);
}

}  // namespace

// ---- named enumerations -------------------------------------------------------------------------------

template <class E>
class NamedEnumerationTest : public ::testing::Test {};
using NamedEnumerations = ::testing::Types<StartWith, OutputTerminator, Sound, RoundingMethod, MathOperation,
                                           KeyboardType, KeyMapType, EditPosition, EditOperation,
                                           DecimalSeparator, Connect, InstrumentType, Instrument>;
TYPED_TEST_SUITE(NamedEnumerationTest, NamedEnumerations);

TYPED_TEST(NamedEnumerationTest, NamesRoundTripAndLabelsResolve) {
    std::set<std::string_view> names;
    int expectedOrdinal = 0;
    for (TypeParam constant : TypeParam::values()) {
        EXPECT_EQ(constant.ordinal(), expectedOrdinal++);
        EXPECT_TRUE(TypeParam::valid(constant.name()));
        EXPECT_EQ(TypeParam::valueOf(constant.name()), constant);
        EXPECT_EQ(TypeParam::tryValueOf(constant.name()), constant);
        EXPECT_TRUE(names.insert(constant.name()).second) << constant.name();
        EXPECT_FALSE(constant.label().empty()) << constant.name();  // throws if a catalogue key is missing
    }
    EXPECT_FALSE(TypeParam::valid(""));
    EXPECT_FALSE(TypeParam::valid("QWERTY"));
    EXPECT_THROW(TypeParam::valueOf("QWERTY"), std::invalid_argument);
    EXPECT_EQ(TypeParam::tryValueOf("none"), std::nullopt);
}

TEST(ConfigHelperTest, ValidIsExactAndPerEnumeration) {
    struct Case {
        std::function<bool(std::string_view)> valid;
        std::string name;
        bool expected;
    };
    const std::vector<Case> cases{
        {KeyboardType::valid, "QUERTY", true},  {StartWith::valid, "QUERTY", false},
        {KeyboardType::valid, "QWERTY", false}, {KeyboardType::valid, "querty", false},
        {StartWith::valid, "F12", true},        {OutputTerminator::valid, "F12", true},
        {StartWith::valid, "f12", false},       {StartWith::valid, "F12 ", false},
        {StartWith::valid, "F13", false},       {Sound::valid, "OPEN_TRIANGLE", true},
        {Sound::valid, "TRIANGLE", false},      {RoundingMethod::valid, "HALF_UP", true},
        {MathOperation::valid, "DIVIDE", true}, {DecimalSeparator::valid, "COMMA", true},
        {Connect::valid, "AUTO", true},         {EditPosition::valid, "LAST", true},
        {EditOperation::valid, "KEEP", true},   {EditOperation::valid, "REMOVE ", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.valid(c.name), c.expected) << c.name;
}

TEST(ConfigHelperTest, Defaults) {
    EXPECT_EQ(StartWith::getDefault(), StartWith::NONE);
    EXPECT_EQ(OutputTerminator::getDefault(), OutputTerminator::NONE);
    EXPECT_EQ(Sound::getDefault(), Sound::NONE);
    EXPECT_EQ(RoundingMethod::getDefault(), RoundingMethod::HALF_UP);
    EXPECT_EQ(MathOperation::getDefault(), MathOperation::NONE);
    EXPECT_EQ(KeyboardType::getDefault(), KeyboardType::QUERTY);
    EXPECT_EQ(EditPosition::getDefault(), EditPosition::FIRST);
    EXPECT_EQ(EditOperation::getDefault(), EditOperation::REMOVE);
    EXPECT_EQ(DecimalSeparator::getDefault(), DecimalSeparator::DOT);
    EXPECT_EQ(Connect::getDefault(), Connect::MANUAL);
    EXPECT_EQ(InputTerminator::getDefault(), 13);
    // A default-constructed constant is the default.
    EXPECT_EQ(RoundingMethod(), RoundingMethod::HALF_UP);
    EXPECT_EQ(KeyboardType(), KeyboardType::QUERTY);
}

TEST(ConfigHelperTest, KeyCodesOfStartAndTerminatorKeys) {
    const std::vector<std::pair<std::string, int>> codes{
        {"NONE", 0},  {"ENTER", 10},  {"TAB", 9},    {"MULTIPLY", 106}, {"COMMA", 44}, {"DELETE", 127},
        {"DOWN", 40}, {"ESCAPE", 27}, {"F1", 112},   {"F2", 113},       {"F3", 114},   {"F4", 115},
        {"F5", 116},  {"F6", 117},    {"F7", 118},   {"F8", 119},       {"F9", 120},   {"F10", 121},
        {"F11", 122}, {"F12", 123},   {"RIGHT", 39}, {"SEMICOLON", 59}, {"SPACE", 32}};
    ASSERT_EQ(codes.size(), StartWith::values().size());
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const auto& [name, code] = codes[i];
        EXPECT_EQ(StartWith::values()[i].name(), name);
        EXPECT_EQ(StartWith::valueOf(name).getKeyCode(), code) << name;
        EXPECT_EQ(OutputTerminator::valueOf(name).getKeyCode(), code) << name;
    }
    EXPECT_EQ(OutputTerminator(OutputTerminator::NONE).getKeyCode(), 0);
    EXPECT_EQ(StartWith(StartWith::F12).getKeyCode(), 123);
}

TEST(ConfigHelperTest, Labels) {
    EXPECT_EQ(StartWith(StartWith::MULTIPLY).toString(), "* (Numpad)");
    EXPECT_EQ(StartWith(StartWith::ESCAPE).toString(), "Esc");
    EXPECT_EQ(OutputTerminator(OutputTerminator::F7).toString(), "F7");
    EXPECT_EQ(StartWith(StartWith::ENTER).toString(), catalogText("enter"));
    EXPECT_EQ(OutputTerminator(OutputTerminator::NONE).toString(), catalogText("key.none"));
    EXPECT_EQ(Sound(Sound::OPEN_TRIANGLE).toString(), "Triangle");
    EXPECT_EQ(Sound(Sound::NONE).toString(), catalogText("sound.none"));
    EXPECT_EQ(RoundingMethod(RoundingMethod::HALF_EVEN).toString(), "half even");
    EXPECT_EQ(DecimalSeparator(DecimalSeparator::COMMA).toString(), catalogText("comma"));
    EXPECT_EQ(KeyboardType(KeyboardType::ALL).toString(), catalogText("keyboardType.all"));
    EXPECT_EQ(InputTerminator(InputTerminator::CR).toString(), "13 <CR>");
    EXPECT_EQ(KeyMapType(KeyMapType::ALPHANUMERIC_BASIC).toString(), "ALPHANUMERIC_BASIC");
    // The process language is German: the German text wins over the base text.
    EXPECT_EQ(StartWith(StartWith::DELETE).toString(), "Entf");
}

TEST(ConfigHelperTest, PercussionNumbersAndRoundingModes) {
    EXPECT_EQ(Sound(Sound::OPEN_TRIANGLE).getPercussionNumber(), 81);
    EXPECT_EQ(Sound(Sound::NONE).getPercussionNumber(), 0);

    const std::vector<std::pair<RoundingMethod, RoundingMode>> modes{
        {RoundingMethod::CEILING, RoundingMode::CEILING},
        {RoundingMethod::DOWN, RoundingMode::DOWN},
        {RoundingMethod::FLOOR, RoundingMode::FLOOR},
        {RoundingMethod::HALF_DOWN, RoundingMode::HALF_DOWN},
        {RoundingMethod::HALF_EVEN, RoundingMode::HALF_EVEN},
        {RoundingMethod::HALF_UP, RoundingMode::HALF_UP},
        {RoundingMethod::UP, RoundingMode::UP}};
    for (const auto& [method, mode] : modes)
        EXPECT_EQ(method.getRoundingMode(), mode) << method;
}

// ---- index enumerations -------------------------------------------------------------------------------

TEST(ConfigHelperTest, IndexEnumerations) {
    struct Case {
        std::string name;
        int count;
        int defaultIndex;
        std::function<bool(int)> valid;
        std::function<std::string(int)> readable;
        std::vector<std::string> labels;
    };
    const std::vector<Case> cases{
        {"BitRates",
         15,
         7,
         BitRates::valid,
         BitRates::getReadable,
         {"110", "150", "300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200",
          "230400", "460800", "921600"}},
        {"DataBits", 4, 3, DataBits::valid, DataBits::getReadable, {"5", "6", "7", "8"}},
        {"StopBits", 2, 0, StopBits::valid, StopBits::getReadable, {"1", "2"}},
        {"Parity", 5, 0, Parity::valid, Parity::getReadable, {"NONE", "ODD", "EVEN", "MARK", "SPACE"}},
        {"Handshake",
         3,
         0,
         Handshake::valid,
         Handshake::getReadable,
         {"NONE", "XON/XOFF (Software)", "RTS/CTS (Hardware)"}},
    };
    const std::vector<int> defaults{BitRates::getDefault(), DataBits::getDefault(), StopBits::getDefault(),
                                    Parity::getDefault(), Handshake::getDefault()};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(defaults[i], c.defaultIndex);
        ASSERT_EQ(static_cast<int>(c.labels.size()), c.count);
        for (int index = 0; index < c.count; ++index) {
            EXPECT_TRUE(c.valid(index));
            EXPECT_EQ(c.readable(index), c.labels[static_cast<std::size_t>(index)]);
        }
        EXPECT_FALSE(c.valid(-1));
        EXPECT_FALSE(c.valid(c.count));
        EXPECT_EQ(c.readable(-1), "");
        EXPECT_EQ(c.readable(c.count), "");
    }
    EXPECT_EQ(BitRates::BR_921600, 14);
    EXPECT_EQ(Handshake::CTS_RTS, 2);
    EXPECT_EQ(Parity::SPACE, 4);
    EXPECT_EQ(BitRates::name(7), "BR_9600");
}

TEST(ConfigHelperTest, InputTerminator) {
    EXPECT_TRUE(InputTerminator::valid(0));
    EXPECT_TRUE(InputTerminator::valid(255));
    EXPECT_FALSE(InputTerminator::valid(256));
    EXPECT_FALSE(InputTerminator::valid(-1));
    EXPECT_EQ(InputTerminator::itemFromDecimal(4), InputTerminator::EOT);
    EXPECT_EQ(InputTerminator::itemFromDecimal(10), InputTerminator::LF);
    EXPECT_EQ(InputTerminator::itemFromDecimal(13), InputTerminator::CR);
    EXPECT_EQ(InputTerminator::itemFromDecimal(3), std::nullopt);
    EXPECT_EQ(InputTerminator::itemFromDecimal(0), std::nullopt);
    EXPECT_EQ(InputTerminator(InputTerminator::LF).getDecimal(), 10);
    EXPECT_EQ(InputTerminator::valueOf("EOT").getDecimal(), 4);
    EXPECT_EQ(InputTerminator::tryValueOf("NUL"), std::nullopt);
}

// The terminator box shows the named entry for a known code and the bare number for any other.
TEST(ConfigHelperTest, InputTerminatorSetSelectedItem) {
    struct Box : InputTerminator::EditableBox {
        std::string shown;
        void selectEntry(int index) override { shown = "entry " + std::to_string(index); }
        void showText(const std::string& text) override { shown = "text " + text; }
    };
    const std::vector<std::pair<int, std::string>> cases{{4, "entry 0"}, {10, "entry 1"}, {13, "entry 2"},
                                                         {7, "text 7"},  {0, "text 0"},   {255, "text 255"}};
    for (const auto& [code, shown] : cases) {
        Box box;
        InputTerminator::setSelectedItem(box, code);
        EXPECT_EQ(box.shown, shown) << code;
    }
    // The entry index is the position in values(), which is what the box is filled from.
    for (InputTerminator item : InputTerminator::values()) {
        Box box;
        InputTerminator::setSelectedItem(box, item.getDecimal());
        EXPECT_EQ(box.shown, "entry " + std::to_string(item.ordinal()));
    }
}

// ---- key maps -----------------------------------------------------------------------------------------

TEST(KeymapTest, SizesPerLayoutAndType) {
    for (KeyboardType layout : KeyboardType::values()) {
        SCOPED_TRACE(std::string(layout.name()));
        EXPECT_EQ(layout.getKeymap(KeyMapType::NUMERIC).size(), 14u);
        EXPECT_EQ(layout.getKeymap(KeyMapType::ALPHANUMERIC_BASIC).size(), 40u);
        const KeyMap complete = layout.getKeymap(KeyMapType::ALPHANUMERIC_COMPLETE);
        // Exactly the printable ASCII characters, each typed by at least one key.
        ASSERT_EQ(complete.size(), 95u);
        for (char c = 32; c <= 126; ++c) {
            const auto it = complete.find(std::string(1, c));
            ASSERT_NE(it, complete.end()) << c;
            EXPECT_FALSE(it->second.empty()) << c;
        }
    }
}

TEST(KeymapTest, NumberCharacters) {
    struct Case {
        KeyboardType layout;
        std::string character;
        std::string keys;
    };
    const std::vector<Case> cases{
        {KeyboardType::QUERTY, "0", "48"},           {KeyboardType::QUERTY, "9", "57"},
        {KeyboardType::QUERTY, "-", "45"},           {KeyboardType::QUERTY, "+", "107"},
        {KeyboardType::QUERTY, ",", "44"},           {KeyboardType::QUERTY, ".", "46"},
        {KeyboardType::GERMAN, "5", "53"},           {KeyboardType::GERMAN, "-", "45"},
        {KeyboardType::US_INTERNATIONAL, ".", "46"}, {KeyboardType::AZERTY, "0", "16 48"},
        {KeyboardType::AZERTY, "7", "16 55"},        {KeyboardType::AZERTY, "-", "54"},
        {KeyboardType::AZERTY, "+", "107"},          {KeyboardType::AZERTY, ",", "44"},
        {KeyboardType::AZERTY, ".", "16 59"},
    };
    for (const auto& c : cases) {
        const KeyMap map = c.layout.getKeymap(KeyMapType::NUMERIC);
        ASSERT_TRUE(map.contains(c.character)) << c.layout << " " << c.character;
        EXPECT_EQ(map.at(c.character), keys(c.keys)) << c.layout << " " << c.character;
    }
    // Letters only from the alphanumeric types on.
    EXPECT_FALSE(KeyboardType(KeyboardType::QUERTY).getKeymap(KeyMapType::NUMERIC).contains("A"));
    EXPECT_FALSE(KeyboardType(KeyboardType::QUERTY).getKeymap(KeyMapType::ALPHANUMERIC_BASIC).contains("a"));
}

TEST(KeymapTest, LettersAndSpace) {
    for (KeyboardType layout :
         {KeyboardType::QUERTY, KeyboardType::US_INTERNATIONAL, KeyboardType::AZERTY, KeyboardType::GERMAN}) {
        const KeyMap map = layout.getKeymap(KeyMapType::ALPHANUMERIC_COMPLETE);
        EXPECT_EQ(map.at("A"), keys("16 65")) << layout;
        EXPECT_EQ(map.at("Z"), keys("16 90")) << layout;
        EXPECT_EQ(map.at("a"), keys("65")) << layout;
        EXPECT_EQ(map.at("z"), keys("90")) << layout;
        EXPECT_EQ(map.at(" "), keys("32")) << layout;
        EXPECT_EQ(map.at("*"), keys("106")) << layout;
        EXPECT_EQ(map.at("/"), keys("111")) << layout;
    }
    EXPECT_EQ(KeyboardType(KeyboardType::GERMAN).getKeymap(KeyMapType::ALPHANUMERIC_BASIC).at("Q"),
              keys("16 81"));
}

TEST(KeymapTest, SymbolsOfEveryLayout) {
    // character, US international, German, default, AZERTY
    const std::vector<std::array<std::string, 5>> rows{
        {"!", "16 49", "16 49", "16 49", "517"},
        {"\"", "16 129 32", "16 50", "16 222", "51"},
        {":", "16 59", "16 46", "16 59", "513"},
        {"#", "16 51", "520", "16 51", "17 18 51"},
        {"$", "16 52", "16 52", "16 52", "515"},
        {"%", "16 53", "16 53", "16 53", "18 99 103"},
        {"&", "16 55", "16 54", "16 55", "49"},
        {"'", "129 32", "16 520", "222", "52"},
        {"(", "16 57", "16 56", "16 57", "53"},
        {")", "16 48", "16 57", "16 48", "522"},
        {";", "59", "16 44", "59", "59"},
        {"<", "16 44", "153", "16 44", "153"},
        {"=", "61", "16 48", "61", "61"},
        {">", "16 46", "16 153", "16 46", "16 153"},
        {"?", "16 47", "18 102 99", "16 47", "16 44"},
        {"@", "16 50", "17 18 81", "16 50", "17 18 48"},
        {"[", "91", "17 18 56", "91", "17 18 53"},
        {"\\", "92", "18 105 98", "92", "17 18 56"},
        {"]", "93", "17 18 57", "93", "17 18 522"},
        {"^", "16 54 32", "130 32", "16 54", "130 32"},
        {"_", "16 45", "16 45", "16 45", "56"},
        {"`", "128 32", "16 129 32", "192", "17 18 55 32"},
        {"{", "16 91", "17 18 55", "16 91", "17 18 52"},
        {"|", "16 92", "17 18 153", "16 92", "17 18 54"},
        {"}", "16 93", "17 18 48", "16 93", "17 18 61"},
        {"~", "16 128 32", "17 18 521", "16 192", "17 18 50 32"},
    };
    const std::array<KeyboardType, 4> layouts{KeyboardType::US_INTERNATIONAL, KeyboardType::GERMAN,
                                              KeyboardType::QUERTY, KeyboardType::AZERTY};
    for (std::size_t l = 0; l < layouts.size(); ++l) {
        const KeyMap map = layouts[l].getKeymap(KeyMapType::ALPHANUMERIC_COMPLETE);
        for (const auto& row : rows)
            EXPECT_EQ(map.at(row[0]), keys(row[l + 1])) << layouts[l] << " " << row[0];
    }
}

TEST(KeymapTest, AltCodesForAnyLayout) {
    const KeyboardType all = KeyboardType::ALL;
    const KeyMap map = all.getKeymap(KeyMapType::ALPHANUMERIC_COMPLETE);
    EXPECT_EQ(map.at("0"), keys("18 100 104"));
    EXPECT_EQ(map.at("A"), keys("18 102 101"));
    EXPECT_EQ(map.at("d"), keys("18 97 96 96"));
    EXPECT_EQ(map.at("~"), keys("18 97 98 102"));
    EXPECT_EQ(map.at(" "), keys("18 99 98"));
    EXPECT_EQ(all.getKeymap(KeyMapType::NUMERIC).at("."), keys("18 100 102"));
    // Every character: Alt, then its decimal code on the keypad without leading zeros.
    for (const auto& [character, sequence] : map) {
        const int code = static_cast<unsigned char>(character[0]);
        std::vector<int> expected{18};
        if (code >= 100) expected.push_back(96 + code / 100);
        expected.push_back(96 + code / 10 % 10);
        expected.push_back(96 + code % 10);
        EXPECT_EQ(sequence, expected) << character;
    }
}

// A larger map type adds characters and never types a smaller type's character differently; every
// character is one printable ASCII character with at least one key.
TEST(KeymapTest, LargerTypesExtendSmallerOnes) {
    const KeyMapType types[] = {KeyMapType::NUMERIC, KeyMapType::ALPHANUMERIC_BASIC,
                                KeyMapType::ALPHANUMERIC_COMPLETE};
    for (const KeyboardType layout : KeyboardType::values()) {
        for (std::size_t t = 0; t < std::size(types); ++t) {
            const KeyMap map = layout.getKeymap(types[t]);
            for (const auto& [character, sequence] : map) {
                ASSERT_EQ(character.size(), 1u) << layout << " " << types[t];
                EXPECT_GE(character[0], ' ') << layout << " " << types[t];
                EXPECT_LE(character[0], '~') << layout << " " << types[t];
                EXPECT_FALSE(sequence.empty()) << layout << " " << types[t] << " " << character;
            }
            if (t == 0) continue;
            const KeyMap smaller = layout.getKeymap(types[t - 1]);
            EXPECT_GT(map.size(), smaller.size()) << layout << " " << types[t];
            for (const auto& [character, sequence] : smaller) {
                ASSERT_TRUE(map.contains(character)) << layout << " " << types[t] << " lacks " << character;
                EXPECT_EQ(map.at(character), sequence) << layout << " " << types[t] << " " << character;
            }
        }
    }
}

// ---- validators ---------------------------------------------------------------------------------------

TEST(ValidatorTest, DecimalIntegerParsing) {
    const std::vector<std::pair<std::string, std::optional<std::int32_t>>> cases{
        {"0", 0},
        {"+5", 5},
        {"-0", 0},
        {"00012", 12},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"--1", std::nullopt},
        {"+-1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1e3", std::nullopt},
        {"1.0", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parseDecimalInteger(text), expected) << text;
}

std::string repeated(const std::string& part, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += part;
    return text;
}

TEST(ValidatorTest, EdgeCases) {
    struct Case {
        const char* validator;
        std::function<bool(std::string_view)> valid;
        std::string text;
        bool expected;
    };
    // The root of absolute paths on this host: "/" here, a drive such as "C:/" on Windows.
    const std::u8string rootText = std::filesystem::current_path().root_path().generic_u8string();
    const std::string root(rootText.begin(), rootText.end());
    const std::vector<Case> cases{
        {"EveryXValues", EveryXValues::valid, "", true},
        {"EveryXValues", EveryXValues::valid, "1", false},
        {"EveryXValues", EveryXValues::valid, "2", true},
        {"EveryXValues", EveryXValues::valid, "99", true},
        {"EveryXValues", EveryXValues::valid, "100", false},
        {"EditNumCharacters", EditNumCharacters::valid, "0", false},
        {"EditNumCharacters", EditNumCharacters::valid, "1", true},
        {"EditNumCharacters", EditNumCharacters::valid, "99", true},
        {"EditNumCharacters", EditNumCharacters::valid, "100", false},
        {"Delay", Delay::valid, "", true},
        {"Delay", Delay::valid, "0", true},
        {"Delay", Delay::valid, "1000", true},
        {"Delay", Delay::valid, "+20", true},
        {"Delay", Delay::valid, "1001", false},
        {"Delay", Delay::valid, "-1", false},
        {"Delay", Delay::valid, " 20", false},
        {"Delay", Delay::valid, "20 ", false},
        {"Delay", Delay::valid, "20ms", false},
        {"DecimalPlaces", DecimalPlaces::valid, "0", true},
        {"DecimalPlaces", DecimalPlaces::valid, "7", true},
        {"DecimalPlaces", DecimalPlaces::valid, "8", false},
        {"DecimalPlaces", DecimalPlaces::valid, "-1", false},
        {"IgnoreTimeLimit", IgnoreTimeLimit::valid, "0", false},
        {"IgnoreTimeLimit", IgnoreTimeLimit::valid, "1", true},
        {"IgnoreTimeLimit", IgnoreTimeLimit::valid, "2147483647", true},
        {"IgnoreTimeLimit", IgnoreTimeLimit::valid, "2147483648", false},
        {"IgnoreDifference", IgnoreDifference::valid, "", true},
        {"IgnoreDifference", IgnoreDifference::valid, "0.001", true},
        {"IgnoreDifference", IgnoreDifference::valid, "5", true},
        {"IgnoreDifference", IgnoreDifference::valid, "1E-3", true},
        {"IgnoreDifference", IgnoreDifference::valid, "0", false},
        {"IgnoreDifference", IgnoreDifference::valid, "0.0", false},
        {"IgnoreDifference", IgnoreDifference::valid, "-0.5", false},
        {"IgnoreDifference", IgnoreDifference::valid, "0,5", false},
        {"IgnoreDifference", IgnoreDifference::valid, "abc", false},
        {"MathOperand", MathOperand::valid, "", true},
        {"MathOperand", MathOperand::valid, "1.5", true},
        {"MathOperand", MathOperand::valid, "-3", true},
        {"MathOperand", MathOperand::valid, "+0.001", true},
        {"MathOperand", MathOperand::valid, "2.5E2", true},
        {"MathOperand", MathOperand::valid, "0", false},
        {"MathOperand", MathOperand::valid, "1,5", false},
        {"MathOperand", MathOperand::valid, " 2", false},
        // Every spelling of zero is refused: dividing by it would fail on every value.
        {"MathOperand", MathOperand::valid, "0.0", false},
        {"MathOperand", MathOperand::valid, "00", false},
        {"MathOperand", MathOperand::valid, "-0", false},
        {"MathOperand", MathOperand::valid, "0E5", false},
        {"RemoveCharacters", RemoveCharacters::valid, "", true},
        {"RemoveCharacters", RemoveCharacters::valid, " kg\t", true},
        {"RemoveCharacters", RemoveCharacters::valid, "\u00b0C", true},
        {"RemoveCharacters", RemoveCharacters::valid, "\u00ff", true},
        {"RemoveCharacters", RemoveCharacters::valid, "\u0100", false},
        {"RemoveCharacters", RemoveCharacters::valid, "12 \u20ac", false},
        {"RemoveCharacters", RemoveCharacters::valid, "\U0001F600", false},
        {"RemoveCharacters", RemoveCharacters::valid, "\xff", false},      // not UTF-8
        {"RemoveCharacters", RemoveCharacters::valid, "\xc3", false},      // cut-off sequence
        {"RemoveCharacters", RemoveCharacters::valid, "\xc1\x81", false},  // overlong "A"
        {"CustomRegEx", CustomRegEx::valid, "", true},
        {"CustomRegEx", CustomRegEx::valid, std::string(Instrument::kBasePattern), true},
        {"CustomRegEx", CustomRegEx::valid, "[-+]?\\s*[0-9]*[\\.,]?[0-9]+", false},
        {"CustomRegEx", CustomRegEx::valid, "(abc", false},
        {"CustomRegEx", CustomRegEx::valid, "abc)", false},
        {"CustomRegEx", CustomRegEx::valid, "\\(x\\)(\\d+)", true},
        {"CustomRegEx", CustomRegEx::valid, "[)](\\d+)", false},
        {"CustomRegEx", CustomRegEx::valid, "(?:\\d+)", false},  // no group to take the value from
        {"CustomRegEx", CustomRegEx::valid, "(?:kg )(\\d+)", true},
        {"RequestCommand", RequestCommand::valid, "SI<13><10>", true},
        // The limit counts bytes, not the characters that write them.
        {"RequestCommand", RequestCommand::valid, repeated("<13>", 64), true},
        {"RequestCommand", RequestCommand::valid, repeated("<13>", 65), false},
        {"RequestCommand", RequestCommand::valid, "P \u20ac", false},
        {"RequestInterval", RequestInterval::valid, "", true},
        {"RequestInterval", RequestInterval::valid, "0", true},
        {"RequestInterval", RequestInterval::valid, "49", false},
        {"RequestInterval", RequestInterval::valid, "50", true},
        {"RequestInterval", RequestInterval::valid, "86400001", false},
        {"ValueLog", ValueLog::valid, "", true},
        {"ValueLog", ValueLog::valid, root + "media/stick/Waage \u00e4.csv", true},
        {"ValueLog", ValueLog::valid, "values.csv", false},  // would depend on the start folder
        {"ValueLog", ValueLog::valid, root + "media/stick/", false},
        {"ValueLog", ValueLog::valid, root + "tmp/a\nb.csv", false},
        {"ValueLog", ValueLog::valid, root + "tmp/\xff.csv", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.valid(c.text), c.expected) << c.validator << " \"" << c.text << "\"";

    for (const std::string& defaultText :
         {EveryXValues::getDefault(), EditNumCharacters::getDefault(), DecimalPlaces::getDefault(),
          IgnoreTimeLimit::getDefault(), IgnoreDifference::getDefault(), MathOperand::getDefault(),
          RemoveCharacters::getDefault(), CustomRegEx::getDefault(), RequestCommand::getDefault(),
          RequestInterval::getDefault(), RequestHotKey::getDefault(), ValueLog::getDefault()})
        EXPECT_EQ(defaultText, "");
    EXPECT_EQ(Delay::getDefault(), "20");
}

// <n> stands for the byte n wherever it is a code 0-255 in at most three digits; anything else is the text
// as it is, each character the byte of its code.
TEST(ValidatorTest, RequestCommandBytes) {
    struct Case {
        std::string text;
        std::string bytes;
    };
    const std::vector<Case> cases{
        {"SI<13><10>", "SI\r\n"}, {"<27>P", "\x1bP"}, {"<0>", std::string(1, '\0')},
        {"<255>", "\xff"},        {"<256>", "<256>"}, {"<0255>", "<0255>"},
        {"<1a>", "<1a>"},         {"<>", "<>"},       {"<<13>", "<\r"},
        {"a<13", "a<13"},         {"\u00e9", "\xe9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RequestCommand::toBytes(c.text), c.bytes) << c.text;
        EXPECT_EQ(RequestCommand::toBytes(RequestCommand::toText(c.bytes)), c.bytes) << c.text;
    }
    EXPECT_EQ(RequestCommand::toText("\x1bP<\r\n"), "<27>P<60><13><10>");
    EXPECT_THROW(RequestCommand::toBytes("\u20ac"), std::invalid_argument);
}

// ---- message catalogue --------------------------------------------------------------------------------

TEST(ConfigHelperTest, BothCatalogueFilesHoldEveryKey) {
    const std::vector<std::string> required = catalogKeys();
    EXPECT_GE(required.size(), 40u);
    EXPECT_TRUE(MessageCatalog::get(kBundleName).missingKeys(required).empty());
    for (const std::string file :
         {"rszorvik.config.ConfigBundle.properties", "rszorvik.config.ConfigBundle_de.properties"}) {
        const auto bytes = rszorvik::base::embeddedResource(file);
        ASSERT_TRUE(bytes) << file;
        const auto texts = rszorvik::base::Properties::parse(*bytes);
        for (const auto& key : required) {
            EXPECT_TRUE(texts.contains(key)) << file << ": " << key;
            EXPECT_NE(texts.get(key, ""), "") << file << ": " << key;
        }
    }
}
