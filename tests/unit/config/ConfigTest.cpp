#include <gtest/gtest.h>

#include <set>

#include "config/Config.h"
#include "config/SettingsTable.h"

using namespace rszorvik::config;
using namespace rszorvik::config::ConfigHelper;
using rszorvik::base::BigDecimal;
using rszorvik::base::NumberFormatError;

namespace {

// A stored text the setting accepts other than the record's current one: another choice, else a number
// or an expression for the free-text settings.
std::string otherValue(const Setting& setting, const Config& record) {
    std::vector<std::string> candidates = setting.choices;
    candidates.insert(candidates.end(),
                      {"5", "(\\d+)", "500", "Ctrl+Alt+R", "/var/log/values.csv", "C:\\values.csv"});
    const auto current = setting.read(record);
    for (const auto& candidate : candidates)
        if (setting.valid(candidate) && candidate != current) return candidate;
    ADD_FAILURE() << "no other value for " << setting.key;
    return {};
}

// A record in which every setting but the automatic ones differs from the construction default.
Config everyFieldSet() {
    Config c;
    for (const Setting& setting : settingsTable())
        if (!setting.automatic) setting.write(c, otherValue(setting, Config()));
    return c;
}

}  // namespace

TEST(ConfigTest, ConstructionDefaults) {
    const Config c;
    EXPECT_TRUE(c.minimizeToTray);
    EXPECT_TRUE(c.notifyWhenMinimizedToTray);
    EXPECT_TRUE(c.checkForUpdates);
    EXPECT_TRUE(c.abortAutoStartWhenPrevPortNotAvailable);
    EXPECT_FALSE(c.ignoreDuplicates);
    EXPECT_EQ(c.getPort(), "");
    EXPECT_EQ(c.getInstrument(), std::nullopt);
    for (int index : {c.getBitRate(), c.getDataBits(), c.getStopBits(), c.getParity(), c.getInputTerminator(),
                      c.getHandshake()})
        EXPECT_EQ(index, 0);
    EXPECT_EQ(c.getDecimalSeparator(), DecimalSeparator::DOT);
    EXPECT_EQ(c.getStartWith(), StartWith::NONE);
    EXPECT_EQ(c.getOutputTerminator(), OutputTerminator::NONE);
    EXPECT_EQ(c.getOutputTerminator2(), OutputTerminator::NONE);
    EXPECT_EQ(c.getConnect(), Connect::MANUAL);
    EXPECT_EQ(c.getMathOperation(), MathOperation::NONE);
    EXPECT_EQ(c.getRoundingMethod(), RoundingMethod::HALF_UP);
    EXPECT_EQ(c.getSound(), Sound::NONE);
    EXPECT_EQ(c.getKeyboardType(), KeyboardType::QUERTY);
    EXPECT_EQ(c.getDelay(), "20");
    EXPECT_EQ(c.getPrevPort(), std::nullopt);
    EXPECT_EQ(c.getEditOperation(), EditOperation::REMOVE);
    EXPECT_EQ(c.getEditPosition(), EditPosition::FIRST);
    for (const std::string& text :
         {c.getEveryXValues(), c.getMathOperand(), c.getDecimalPlaces(), c.getEditNumCharacters(),
          c.getRemoveCharacters(), c.getCustomRegEx(), c.getIgnoreTimeLimit(), c.getIgnoreDifference(),
          c.getRequestCommand(), c.getRequestInterval(), c.getRequestHotKey()})
        EXPECT_EQ(text, "");
    EXPECT_FALSE(c.getReconnect());
}

// Each row's own parts agree: its default and choices pass its check and read back as written (a row
// reading one field and writing another fails here), keys find their row, save ranks do not collide.
TEST(ConfigTest, EverySettingRowIsConsistent) {
    std::set<int> ranks;
    for (const Setting& setting : settingsTable()) {
        EXPECT_EQ(findSetting(setting.key), &setting) << setting.key;
        EXPECT_TRUE(ranks.insert(setting.saveRank).second) << setting.key << " shares its save rank";
        EXPECT_FALSE(setting.accepts.empty()) << setting.key;
        std::vector<std::string> texts = setting.choices;
        texts.push_back(setting.loadDefault);
        for (const auto& text : texts) {
            EXPECT_TRUE(setting.valid(text)) << setting.key << "=" << text;
            Config record;
            setting.write(record, text);
            EXPECT_EQ(setting.read(record), text) << setting.key;
        }
    }
    EXPECT_EQ(findSetting("speed"), nullptr);
    EXPECT_EQ(settingsInSaveOrder().size(), settingsTable().size());
}

// One row at a time, so a setting left out of copyConfig or hasChanged is named.
TEST(ConfigTest, CopyConfigAndHasChangedSeeEverySettingButTheAutomaticOnes) {
    for (const Setting& setting : settingsTable()) {
        const Config base;
        Config changed;
        setting.write(changed, otherValue(setting, base));
        ASSERT_NE(setting.read(changed), setting.read(base)) << setting.key;
        EXPECT_EQ(Config::hasChanged(base, changed), !setting.automatic) << setting.key;
        EXPECT_EQ(Config::hasChanged(changed, base), !setting.automatic) << setting.key;

        const Config copy = Config::copyConfig(changed);
        EXPECT_EQ(setting.read(copy), setting.automatic ? setting.read(base) : setting.read(changed))
            << setting.key;
    }
}

// hasChanged compares the stored texts: the same number written differently is a change.
TEST(ConfigTest, HasChangedComparesTextsNotTheirNumbers) {
    const std::pair<std::string_view, std::string_view> rewrites[] = {
        {"decimalPlaces", "03"}, {"mathOperand", "5.0"}, {"ignoreDifference", "05"}, {"delay", "+5"}};
    const Config base = everyFieldSet();
    for (const auto& [key, text] : rewrites) {
        ASSERT_EQ(findSetting(key)->read(base), "5") << key;
        Config changed = Config::copyConfig(base);
        findSetting(key)->write(changed, text);
        EXPECT_TRUE(Config::hasChanged(base, changed)) << key;
    }
}

TEST(ConfigTest, CopyConfigCopiesEverythingButPrevPortAndListeners) {
    Config original = everyFieldSet();
    original.setPrevPort("COM3");
    int heard = 0;
    original.addPropertyChangeListener([&heard](const PropertyChangeEvent&) { ++heard; });

    Config copy = Config::copyConfig(original);
    EXPECT_FALSE(Config::hasChanged(original, copy));
    EXPECT_EQ(copy.getPrevPort(), std::nullopt);
    copy.setInstrument(Instrument::BARCODE);
    EXPECT_EQ(heard, 0);

    // Plain copies keep prevPort but never take listeners along; assignment keeps the target's own.
    Config plainCopy = original;
    EXPECT_EQ(plainCopy.getPrevPort(), "COM3");
    plainCopy.setInstrument(Instrument::BARCODE);
    EXPECT_EQ(heard, 0);
    Config target;
    int targetHeard = 0;
    target.addPropertyChangeListener([&targetHeard](const PropertyChangeEvent&) { ++targetHeard; });
    target = original;
    EXPECT_FALSE(Config::hasChanged(original, target));
    target.setInstrument(Instrument::AND);
    EXPECT_EQ(heard, 0);
    EXPECT_EQ(targetHeard, 1);
    original.setInstrument(Instrument::AND);
    EXPECT_EQ(heard, 1);
}

TEST(ConfigTest, SetInstrumentTellsEveryListenerTheType) {
    Config c;
    std::vector<PropertyChangeEvent> first, second;
    const ListenerId a =
        c.addPropertyChangeListener([&first](const PropertyChangeEvent& e) { first.push_back(e); });
    c.addPropertyChangeListener([&second](const PropertyChangeEvent& e) { second.push_back(e); });

    c.setInstrument(Instrument::BARCODE);
    c.setInstrument(Instrument::AND);
    c.setInstrument(Instrument::AND);  // the same preset again is still announced
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[0].propertyName, "TEXT");
    EXPECT_EQ(first[0].newValue, Instrument::BARCODE);
    EXPECT_EQ(first[0].oldValue, std::nullopt);
    EXPECT_EQ(first[1].propertyName, "NUMBER");
    EXPECT_EQ(first[1].newValue, Instrument::AND);
    EXPECT_EQ(first[2].propertyName, "NUMBER");
    EXPECT_EQ(second.size(), 3u);
    EXPECT_EQ(c.getInstrument(), Instrument::AND);

    EXPECT_TRUE(c.removePropertyChangeListener(a));
    EXPECT_FALSE(c.removePropertyChangeListener(a));
    c.setInstrument(Instrument::BARCODE_ALPHA_COMPLETE);
    EXPECT_EQ(first.size(), 3u);
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(second[3].propertyName, "TEXT");
}

TEST(ConfigTest, ListenerMayRemoveItselfWhileBeingTold) {
    Config c;
    int calls = 0, otherCalls = 0;
    ListenerId self = 0;
    self = c.addPropertyChangeListener([&](const PropertyChangeEvent&) {
        ++calls;
        c.removePropertyChangeListener(self);
    });
    c.addPropertyChangeListener([&otherCalls](const PropertyChangeEvent&) { ++otherCalls; });
    c.setInstrument(Instrument::GENERIC);
    c.setInstrument(Instrument::GENERIC);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(otherCalls, 2);
}

TEST(ConfigTest, DerivedIntegers) {
    struct Case {
        std::string text;
        int delay;
        std::optional<int> decimalPlaces;
        int count;  // editNumCharacters and everyXValues
        bool rounding;
    };
    const std::vector<Case> cases{
        {"", 20, std::nullopt, 0, false},
        {"abc", 20, std::nullopt, 0, false},
        {"0", 0, 0, 0, true},
        {"7", 7, 7, 7, true},
        {"8", 8, 8, 8, false},
        {"-1", -1, -1, -1, false},
        {" 3", 20, std::nullopt, 0, false},
        {"+3", 3, 3, 3, true},
        {"1000", 1000, 1000, 1000, false},
        {"2.5", 20, std::nullopt, 0, false},
    };
    for (const auto& k : cases) {
        Config c;
        c.setDelay(k.text);
        c.setDecimalPlaces(k.text);
        c.setEditNumCharacters(k.text);
        c.setEveryXValues(k.text);
        EXPECT_EQ(c.getDelayAsInt(), k.delay) << k.text;
        EXPECT_EQ(c.getDecimalPlacesAsInt(), k.decimalPlaces) << k.text;
        EXPECT_EQ(c.getEditNumCharactersAsInt(), k.count) << k.text;
        EXPECT_EQ(c.getEveryXValuesAsInt(), k.count) << k.text;
        EXPECT_EQ(c.roundingEnabled(), k.rounding) << k.text;
    }
}

// The own request command wins over the preset's; one that cannot be sent sends nothing rather than
// something else.
TEST(ConfigTest, RequestBytesAndInterval) {
    struct Case {
        Instrument preset;
        std::string command;
        std::string interval;
        std::string bytes;
        int intervalMs;
    };
    const std::vector<Case> cases{
        {Instrument::METTLER_SICS, "", "", "SI\r\n", 0},
        {Instrument::METTLER_SICS, "S<13><10>", "0", "S\r\n", 0},
        {Instrument::GENERIC, "", "200", "", 200},
        {Instrument::GENERIC, "P", "49", "P", 0},
        {Instrument::SARTORIUS_SBI, "\u20ac", "abc", "", 0},
    };
    for (const Case& k : cases) {
        Config c;
        c.setInstrument(k.preset);
        c.setRequestCommand(k.command);
        c.setRequestInterval(k.interval);
        EXPECT_EQ(c.getRequestBytes(), k.bytes) << k.preset.name() << " " << k.command;
        EXPECT_EQ(c.getRequestIntervalAsInt(), k.intervalMs) << k.interval;
    }
}

TEST(ConfigTest, MathOperationEnabled) {
    struct Case {
        MathOperation operation;
        std::string operand;
        std::string decimalPlaces;
        bool enabled;
    };
    const std::vector<Case> cases{
        {MathOperation::NONE, "2", "2", false},   {MathOperation::MULTIPLY, "", "2", false},
        {MathOperation::MULTIPLY, "2", "", true}, {MathOperation::MULTIPLY, "2", "9", true},
        {MathOperation::DIVIDE, "2", "", false},  {MathOperation::DIVIDE, "2", "0", true},
        {MathOperation::DIVIDE, "2", "8", false}, {MathOperation::DIVIDE, "", "2", false},
    };
    for (const auto& k : cases) {
        Config c;
        c.setMathOperation(k.operation);
        c.setMathOperand(k.operand);
        c.setDecimalPlaces(k.decimalPlaces);
        EXPECT_EQ(c.mathOperationEnabled(), k.enabled)
            << k.operation << " '" << k.operand << "' '" << k.decimalPlaces << "'";
    }
}

TEST(ConfigTest, MathOperandAsDecimal) {
    Config c;
    c.setMathOperand("2.50");
    EXPECT_EQ(c.getMathOperandAsBigDecimal(), BigDecimal(250, 2));
    c.setMathOperand("-1E+3");
    EXPECT_EQ(c.getMathOperandAsBigDecimal().compareTo(BigDecimal::fromLong(-1000)), 0);
    for (const char* bad : {"", "2,5", "x"}) {
        c.setMathOperand(bad);
        EXPECT_THROW(c.getMathOperandAsBigDecimal(), NumberFormatError) << bad;
    }
}
