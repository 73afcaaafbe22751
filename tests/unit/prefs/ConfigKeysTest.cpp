#include <gtest/gtest.h>

#include "prefs/ConfigKeys.h"
#include "prefs/Preferences.h"

namespace rszorvik::prefs {
namespace {

using config::Config;

std::optional<std::string> stored(const Config& c, const std::string& key) {
    return findSettingKey(key)->get(c);
}

TEST(ConfigKeysTest, AcceptedValuesSetTheRecord) {
    struct Case {
        std::string key, value, expected;  // expected: the stored encoding afterwards
    };
    const Case cases[] = {
        {"port", "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"port", "", ""},
        {"instrument", "SARTORIUS", "SARTORIUS"},
        {"bitRate", "14", "14"},
        {"bitRate", "+3", "3"},
        {"dataBits", "0", "0"},
        {"stopBits", "1", "1"},
        {"parity", "4", "4"},
        {"handshake", "2", "2"},
        {"inputTerminator", "0", "0"},
        {"inputTerminator", "255", "255"},
        {"decimalSeparator", "COMMA", "COMMA"},
        {"startWith", "F12", "F12"},
        {"outputTerminator", "SEMICOLON", "SEMICOLON"},
        {"outputTerminator2", "ENTER", "ENTER"},
        {"connect", "AUTO", "AUTO"},
        {"mathOperation", "DIVIDE", "DIVIDE"},
        {"mathOperand", "-0.5", "-0.5"},
        {"decimalPlaces", "7", "7"},
        {"decimalPlaces", "", ""},
        {"roundingMethod", "CEILING", "CEILING"},
        {"sound", "OPEN_TRIANGLE", "OPEN_TRIANGLE"},
        {"keyboardType", "ALL", "ALL"},
        {"delay", "0", "0"},
        {"everyXValues", "99", "99"},
        {"minimizeToTray", "true", "true"},
        {"checkForUpdates", "FALSE", "false"},
        {"ignoreDuplicates", "True", "true"},
        {"editOperation", "KEEP", "KEEP"},
        {"editPosition", "LAST", "LAST"},
        {"editNumCharacters", "1", "1"},
        {"removeCharacters", "\x02\xC3\xA4 ", "\x02\xC3\xA4 "},
        {"customRegEx", "W:\\s*([0-9.]+)", "W:\\s*([0-9.]+)"},
        {"ignoreTimeLimit", "2147483647", "2147483647"},
        {"ignoreDifference", "0.001", "0.001"},
    };
    for (const auto& c : cases) {
        Config record;
        ASSERT_NO_THROW(applySetting(record, c.key, c.value)) << c.key << "=" << c.value;
        EXPECT_EQ(stored(record, c.key), c.expected) << c.key << "=" << c.value;
    }
}

TEST(ConfigKeysTest, RefusedValuesNameTheKeyAndWhatItAccepts) {
    struct Case {
        std::string key, value, message;
    };
    const Case cases[] = {
        {"bitRate", "15",
         "invalid value \"15\" for bitRate: it accepts an index from 0 to 14 (0 = 110, 1 = 150"},
        {"bitRate", "9600", "14 = 921600)"},
        {"bitRate", " 7", "for bitRate"},
        {"dataBits", "8", "an index from 0 to 3 (0 = 5, 1 = 6, 2 = 7, 3 = 8)"},
        {"parity", "EVEN", "0 = NONE, 1 = ODD, 2 = EVEN, 3 = MARK, 4 = SPACE"},
        {"handshake", "-1", "2 = RTS/CTS (Hardware)"},
        {"inputTerminator", "256", "a byte code from 0 to 255"},
        {"inputTerminator", "CR", "for inputTerminator"},
        {"instrument", "mettler_sics", "instrument preset"},
        {"keyboardType", "QWERTY", "one of QUERTY, US_INTERNATIONAL, AZERTY, GERMAN, ALL"},
        {"startWith", "enter", "one of NONE, ENTER, TAB"},
        {"delay", "1001", "from 0 to 1000"},
        {"everyXValues", "1", "from 2 to 99"},
        {"decimalPlaces", "8", "from 0 to 7"},
        {"mathOperand", "0", "other than 0"},
        {"ignoreDifference", "0", "greater than 0"},
        {"ignoreTimeLimit", "0", "at least 1"},
        {"removeCharacters", "\xE2\x82\xAC", "at most 255"},
        {"customRegEx", "([0-9]", "regular expression"},
        {"minimizeToTray", "yes", "true or false"},
        {"port", std::string("a\0b", 3), "invalid value \"a\\x00b\" for port"},
        {"port", "\xFF\xC3\xA4", "invalid value \"\\xFF\xC3\xA4\" for port"},
        {"customRegEx", "(" + std::string(Preferences::MAX_VALUE_LENGTH, 'x') + ")",
         "xxx...\" for customRegEx"},
        {"prevPort", "COM1", "prevPort cannot be set"},
        {"speed", "1", "unknown setting \"speed\"; the settings are port, prevPort, instrument, bitRate"},
    };
    for (const auto& c : cases) {
        Config record;
        const Config before = Config::copyConfig(record);
        try {
            applySetting(record, c.key, c.value);
            ADD_FAILURE() << c.key << "=" << c.value << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_FALSE(Config::hasChanged(before, record)) << c.key;
    }
}

TEST(ConfigKeysTest, SettingThePresetTellsTheListeners) {
    Config record;
    std::vector<std::string> heard;
    record.addPropertyChangeListener(
        [&](const config::PropertyChangeEvent& e) { heard.push_back(e.propertyName); });
    applySetting(record, "instrument", "BARCODE");
    applySetting(record, "instrument", "AND");
    EXPECT_EQ(heard, (std::vector<std::string>{"TEXT", "NUMBER"}));
}

}  // namespace
}  // namespace rszorvik::prefs
