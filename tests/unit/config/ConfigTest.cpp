#include <gtest/gtest.h>

#include <functional>

#include "config/Config.h"

using namespace rszorvik::config;
using namespace rszorvik::config::ConfigHelper;
using rszorvik::base::BigDecimal;
using rszorvik::base::NumberFormatError;

namespace {

// A record in which every field differs from the construction default.
Config everyFieldSet() {
    Config c("COM7", Instrument::KEYENCE_IL, BitRates::BR_19200, DataBits::LN_7BITS, StopBits::ST_2BITS,
             Parity::MARK, 4, Handshake::XON_XOFF, Connect::AUTO, KeyboardType::AZERTY, "35",
             DecimalSeparator::COMMA, StartWith::F3, OutputTerminator::TAB, OutputTerminator::ENTER, "5",
             MathOperation::DIVIDE, "2.5", "3", RoundingMethod::FLOOR, Sound::CLAVES, false, false, false,
             false, EditOperation::KEEP, EditPosition::LAST, "4", "gk", "(\\d+)", true, "1500", "0.2");
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
          c.getRemoveCharacters(), c.getCustomRegEx(), c.getIgnoreTimeLimit(), c.getIgnoreDifference()})
        EXPECT_EQ(text, "");
}

TEST(ConfigTest, AllFieldsConstructorKeepsTheOrder) {
    const Config c = everyFieldSet();
    EXPECT_EQ(c.getPort(), "COM7");
    EXPECT_EQ(c.getInstrument(), Instrument::KEYENCE_IL);
    EXPECT_EQ(c.getBitRate(), BitRates::BR_19200);
    EXPECT_EQ(c.getDataBits(), DataBits::LN_7BITS);
    EXPECT_EQ(c.getStopBits(), StopBits::ST_2BITS);
    EXPECT_EQ(c.getParity(), Parity::MARK);
    EXPECT_EQ(c.getInputTerminator(), 4);
    EXPECT_EQ(c.getHandshake(), Handshake::XON_XOFF);
    EXPECT_EQ(c.getConnect(), Connect::AUTO);
    EXPECT_EQ(c.getKeyboardType(), KeyboardType::AZERTY);
    EXPECT_EQ(c.getDelay(), "35");
    EXPECT_EQ(c.getDecimalSeparator(), DecimalSeparator::COMMA);
    EXPECT_EQ(c.getStartWith(), StartWith::F3);
    EXPECT_EQ(c.getOutputTerminator(), OutputTerminator::TAB);
    EXPECT_EQ(c.getOutputTerminator2(), OutputTerminator::ENTER);
    EXPECT_EQ(c.getEveryXValues(), "5");
    EXPECT_EQ(c.getMathOperation(), MathOperation::DIVIDE);
    EXPECT_EQ(c.getMathOperand(), "2.5");
    EXPECT_EQ(c.getDecimalPlaces(), "3");
    EXPECT_EQ(c.getRoundingMethod(), RoundingMethod::FLOOR);
    EXPECT_EQ(c.getSound(), Sound::CLAVES);
    EXPECT_FALSE(c.minimizeToTray);
    EXPECT_FALSE(c.notifyWhenMinimizedToTray);
    EXPECT_FALSE(c.checkForUpdates);
    EXPECT_FALSE(c.abortAutoStartWhenPrevPortNotAvailable);
    EXPECT_EQ(c.getEditOperation(), EditOperation::KEEP);
    EXPECT_EQ(c.getEditPosition(), EditPosition::LAST);
    EXPECT_EQ(c.getEditNumCharacters(), "4");
    EXPECT_EQ(c.getRemoveCharacters(), "gk");
    EXPECT_EQ(c.getCustomRegEx(), "(\\d+)");
    EXPECT_TRUE(c.ignoreDuplicates);
    EXPECT_EQ(c.getIgnoreTimeLimit(), "1500");
    EXPECT_EQ(c.getIgnoreDifference(), "0.2");
    EXPECT_EQ(c.getPrevPort(), std::nullopt);
}

TEST(ConfigTest, HasChangedSeesEveryFieldButPrevPort) {
    const Config base = everyFieldSet();
    const std::vector<std::pair<std::string, std::function<void(Config&)>>> changes{
        {"minimizeToTray", [](Config& c) { c.minimizeToTray = true; }},
        {"notifyWhenMinimizedToTray", [](Config& c) { c.notifyWhenMinimizedToTray = true; }},
        {"checkForUpdates", [](Config& c) { c.checkForUpdates = true; }},
        {"abortAutoStart", [](Config& c) { c.abortAutoStartWhenPrevPortNotAvailable = true; }},
        {"ignoreDuplicates", [](Config& c) { c.ignoreDuplicates = false; }},
        {"port", [](Config& c) { c.setPort("COM8"); }},
        {"port empty", [](Config& c) { c.setPort(""); }},
        {"instrument", [](Config& c) { c.setInstrument(Instrument::KERN_572); }},
        {"bitRate", [](Config& c) { c.setBitRate(7); }},
        {"dataBits", [](Config& c) { c.setDataBits(3); }},
        {"stopBits", [](Config& c) { c.setStopBits(0); }},
        {"parity", [](Config& c) { c.setParity(0); }},
        {"inputTerminator", [](Config& c) { c.setInputTerminator(13); }},
        {"handshake", [](Config& c) { c.setHandshake(0); }},
        {"decimalSeparator", [](Config& c) { c.setDecimalSeparator(DecimalSeparator::DOT); }},
        {"startWith", [](Config& c) { c.setStartWith(StartWith::F4); }},
        {"outputTerminator", [](Config& c) { c.setOutputTerminator(OutputTerminator::ENTER); }},
        {"outputTerminator2", [](Config& c) { c.setOutputTerminator2(OutputTerminator::TAB); }},
        {"everyXValues", [](Config& c) { c.setEveryXValues("6"); }},
        {"connect", [](Config& c) { c.setConnect(Connect::MANUAL); }},
        {"mathOperation", [](Config& c) { c.setMathOperation(MathOperation::MULTIPLY); }},
        {"mathOperand", [](Config& c) { c.setMathOperand("2.50"); }},
        {"decimalPlaces", [](Config& c) { c.setDecimalPlaces("03"); }},
        {"roundingMethod", [](Config& c) { c.setRoundingMethod(RoundingMethod::CEILING); }},
        {"sound", [](Config& c) { c.setSound(Sound::COWBELL); }},
        {"keyboardType", [](Config& c) { c.setKeyboardType(KeyboardType::GERMAN); }},
        {"delay", [](Config& c) { c.setDelay("36"); }},
        {"editOperation", [](Config& c) { c.setEditOperation(EditOperation::REMOVE); }},
        {"editPosition", [](Config& c) { c.setEditPosition(EditPosition::FIRST); }},
        {"editNumCharacters", [](Config& c) { c.setEditNumCharacters("5"); }},
        {"removeCharacters", [](Config& c) { c.setRemoveCharacters("g"); }},
        {"customRegEx", [](Config& c) { c.setCustomRegEx("(\\d*)"); }},
        {"ignoreTimeLimit", [](Config& c) { c.setIgnoreTimeLimit("1501"); }},
        {"ignoreDifference", [](Config& c) { c.setIgnoreDifference("0.20"); }},
    };
    for (const auto& [field, change] : changes) {
        Config changed = Config::copyConfig(base);
        change(changed);
        EXPECT_TRUE(Config::hasChanged(base, changed)) << field;
        EXPECT_TRUE(Config::hasChanged(changed, base)) << field;
    }

    Config prevPortOnly = Config::copyConfig(base);
    prevPortOnly.setPrevPort("COM1");
    EXPECT_FALSE(Config::hasChanged(base, prevPortOnly));
    EXPECT_FALSE(Config::hasChanged(Config(), Config()));
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
