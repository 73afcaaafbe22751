#include <gtest/gtest.h>

#include "config/SettingsTable.h"
#include "prefs/Preferences.h"
#include "prefs/SettingsStore.h"

namespace rszorvik::prefs {
namespace {

using config::Config;

std::optional<std::string> stored(const Config& c, const std::string& key) {
    return config::findSetting(key)->read(c);
}

TEST(SettingsApplyTest, AcceptedValuesSetTheRecord) {
    struct Case {
        std::string key, value, expected;  // expected: the stored encoding afterwards
    };
    const Case cases[] = {
        {"port", "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"instrument", "SARTORIUS", "SARTORIUS"},
        {"bitRate", "+3", "3"},
        {"parity", "4", "4"},
        {"inputTerminator", "0", "0"},
        {"decimalSeparator", "COMMA", "COMMA"},
        {"startWith", "F12", "F12"},
        {"mathOperand", "-0.5", "-0.5"},
        {"decimalPlaces", "7", "7"},
        {"delay", "0", "0"},
        {"checkForUpdates", "FALSE", "false"},
        {"ignoreDuplicates", "True", "true"},
        {"removeCharacters", "\x02\xC3\xA4 ", "\x02\xC3\xA4 "},
        {"customRegEx", "W:\\s*([0-9.]+)", "W:\\s*([0-9.]+)"},
        {"ignoreDifference", "0.001", "0.001"},
    };
    for (const auto& c : cases) {
        Config record;
        ASSERT_NO_THROW(applySetting(record, c.key, c.value)) << c.key << "=" << c.value;
        EXPECT_EQ(stored(record, c.key), c.expected) << c.key << "=" << c.value;
    }
}

TEST(SettingsApplyTest, RefusedValuesNameTheKeyAndWhatItAccepts) {
    struct Case {
        std::string key, value, message;
    };
    const Case cases[] = {
        {"bitRate", "15",
         "invalid value \"15\" for bitRate: it accepts an index from 0 to 14 (0 = 110, 1 = 150"},
        {"bitRate", "9600", "14 = 921600)"},
        {"dataBits", "8", "an index from 0 to 3 (0 = 5, 1 = 6, 2 = 7, 3 = 8)"},
        {"parity", "EVEN", "0 = NONE, 1 = ODD, 2 = EVEN, 3 = MARK, 4 = SPACE"},
        {"handshake", "-1", "2 = RTS/CTS (Hardware)"},
        {"inputTerminator", "256", "a byte code from 0 to 255"},
        {"instrument", "mettler_sics", "instrument preset"},
        {"keyboardType", "QWERTY", "one of QUERTY, US_INTERNATIONAL, AZERTY, GERMAN, ALL"},
        {"delay", "1001", "it accepts empty or an integer from 0 to 1000 (milliseconds)"},
        {"everyXValues", "1", "it accepts empty or an integer from 2 to 99"},
        {"ignoreTimeLimit", "0", "it accepts empty or an integer of at least 1 (milliseconds)"},
        {"mathOperand", "0", "other than 0"},
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

}  // namespace
}  // namespace rszorvik::prefs
