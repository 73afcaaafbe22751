#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/BigDecimal.h"
#include "config/ConfigHelper.h"
#include "config/Instrument.h"
#include "config/PropertyChangeSupport.h"

namespace rszorvik::config {

// The settings record. It checks nothing: validity is the validators' business (ConfigHelper).
// A new setting is a field here plus its row in the settings table (SettingsTable.cpp).
// Copyable; a copy (or a moved-to record) never carries the listeners over.
class Config {
  public:
    using Instrument = ConfigHelper::Instrument;
    using StartWith = ConfigHelper::StartWith;
    using OutputTerminator = ConfigHelper::OutputTerminator;
    using Sound = ConfigHelper::Sound;
    using RoundingMethod = ConfigHelper::RoundingMethod;
    using MathOperation = ConfigHelper::MathOperation;
    using KeyboardType = ConfigHelper::KeyboardType;
    using EditPosition = ConfigHelper::EditPosition;
    using EditOperation = ConfigHelper::EditOperation;
    using DecimalSeparator = ConfigHelper::DecimalSeparator;
    using Connect = ConfigHelper::Connect;

    // The settings node of the preferences store. Every key is in the settings table (SettingsTable.h);
    // these are the ones code refers to by name.
    static constexpr std::string_view kNodePath = "/com/vexlune/zorvik";
    struct Key {
        static constexpr std::string_view port = "port";
        static constexpr std::string_view prevPort = "prevPort";
    };

    // Window behaviour, read and written directly.
    bool minimizeToTray = true;
    bool notifyWhenMinimizedToTray = true;
    bool checkForUpdates = true;
    bool abortAutoStartWhenPrevPortNotAvailable = true;
    bool ignoreDuplicates = false;

    Config() = default;

    const std::string& getPort() const { return port; }
    void setPort(std::string value) { port = std::move(value); }
    std::optional<Instrument> getInstrument() const { return instrument; }
    // Stores the preset and tells every listener its type ("NUMBER"/"TEXT"), also when unchanged.
    void setInstrument(Instrument value);
    int getBitRate() const { return bitRate; }
    void setBitRate(int value) { bitRate = value; }
    int getDataBits() const { return dataBits; }
    void setDataBits(int value) { dataBits = value; }
    int getStopBits() const { return stopBits; }
    void setStopBits(int value) { stopBits = value; }
    int getParity() const { return parity; }
    void setParity(int value) { parity = value; }
    int getInputTerminator() const { return inputTerminator; }
    void setInputTerminator(int value) { inputTerminator = value; }
    int getHandshake() const { return handshake; }
    void setHandshake(int value) { handshake = value; }
    DecimalSeparator getDecimalSeparator() const { return decimalSeparator; }
    void setDecimalSeparator(DecimalSeparator value) { decimalSeparator = value; }
    StartWith getStartWith() const { return startWith; }
    void setStartWith(StartWith value) { startWith = value; }
    OutputTerminator getOutputTerminator() const { return outputTerminator; }
    void setOutputTerminator(OutputTerminator value) { outputTerminator = value; }
    OutputTerminator getOutputTerminator2() const { return outputTerminator2; }
    void setOutputTerminator2(OutputTerminator value) { outputTerminator2 = value; }
    const std::string& getEveryXValues() const { return everyXValues; }
    void setEveryXValues(std::string value) { everyXValues = std::move(value); }
    Connect getConnect() const { return connect; }
    void setConnect(Connect value) { connect = value; }
    MathOperation getMathOperation() const { return mathOperation; }
    void setMathOperation(MathOperation value) { mathOperation = value; }
    const std::string& getMathOperand() const { return mathOperand; }
    void setMathOperand(std::string value) { mathOperand = std::move(value); }
    const std::string& getDecimalPlaces() const { return decimalPlaces; }
    void setDecimalPlaces(std::string value) { decimalPlaces = std::move(value); }
    RoundingMethod getRoundingMethod() const { return roundingMethod; }
    void setRoundingMethod(RoundingMethod value) { roundingMethod = value; }
    Sound getSound() const { return sound; }
    void setSound(Sound value) { sound = value; }
    KeyboardType getKeyboardType() const { return keyboardType; }
    void setKeyboardType(KeyboardType value) { keyboardType = value; }
    const std::string& getDelay() const { return delay; }
    void setDelay(std::string value) { delay = std::move(value); }
    const std::optional<std::string>& getPrevPort() const { return prevPort; }
    void setPrevPort(std::optional<std::string> value) { prevPort = std::move(value); }
    EditOperation getEditOperation() const { return editOperation; }
    void setEditOperation(EditOperation value) { editOperation = value; }
    EditPosition getEditPosition() const { return editPosition; }
    void setEditPosition(EditPosition value) { editPosition = value; }
    const std::string& getEditNumCharacters() const { return editNumCharacters; }
    void setEditNumCharacters(std::string value) { editNumCharacters = std::move(value); }
    const std::string& getRemoveCharacters() const { return removeCharacters; }
    void setRemoveCharacters(std::string value) { removeCharacters = std::move(value); }
    const std::string& getCustomRegEx() const { return customRegEx; }
    void setCustomRegEx(std::string value) { customRegEx = std::move(value); }
    const std::string& getIgnoreTimeLimit() const { return ignoreTimeLimit; }
    void setIgnoreTimeLimit(std::string value) { ignoreTimeLimit = std::move(value); }
    const std::string& getIgnoreDifference() const { return ignoreDifference; }
    void setIgnoreDifference(std::string value) { ignoreDifference = std::move(value); }
    // Keep the run when the port goes away and go on once the instrument is back.
    bool getReconnect() const { return reconnect; }
    void setReconnect(bool value) { reconnect = value; }
    const std::string& getRequestCommand() const { return requestCommand; }
    void setRequestCommand(std::string value) { requestCommand = std::move(value); }
    const std::string& getRequestInterval() const { return requestInterval; }
    void setRequestInterval(std::string value) { requestInterval = std::move(value); }
    const std::string& getRequestHotKey() const { return requestHotKey; }
    void setRequestHotKey(std::string value) { requestHotKey = std::move(value); }
    // The file that gets one record per received line; empty: none.
    const std::string& getValueLog() const { return valueLog; }
    void setValueLog(std::string value) { valueLog = std::move(value); }
    // The keyboard output types letters as they are whatever the Caps Lock state.
    bool getOverrideCapsLock() const { return overrideCapsLock; }
    void setOverrideCapsLock(bool value) { overrideCapsLock = value; }

    ListenerId addPropertyChangeListener(PropertyChangeListener listener);
    bool removePropertyChangeListener(ListenerId id);

    int getDelayAsInt() const;                            // 20 when delay is not an integer
    std::optional<int> getDecimalPlacesAsInt() const;     // none when not an integer
    int getEditNumCharactersAsInt() const;                // 0 when not an integer
    int getEveryXValuesAsInt() const;                     // 0 when not an integer
    base::BigDecimal getMathOperandAsBigDecimal() const;  // throws base::NumberFormatError
    bool roundingEnabled() const;                         // decimal places is an integer 0..7
    // MULTIPLY with an operand; DIVIDE only with an operand and rounding enabled.
    bool mathOperationEnabled() const;
    // Why a chosen math operation leaves values unchanged (no operand; a division without decimal
    // places); empty when it applies or none is chosen.
    std::string mathInactiveReason() const;
    // The bytes that ask the instrument for a reading: the own command, else the preset's; empty when
    // there is none (or the own command is not valid).
    std::string getRequestBytes() const;
    // The request interval in milliseconds; 0 when off or not valid.
    int getRequestIntervalAsInt() const;

    // Every setting of the table but the automatic ones (prevPort stays none); no listeners.
    static Config copyConfig(const Config& c);
    // True when any setting of the table but the automatic ones differs.
    static bool hasChanged(const Config& a, const Config& b);

  private:
    // Builds the settings table, whose rows reach the fields directly.
    friend class SettingsTableBuilder;

    std::string port;
    std::optional<Instrument> instrument;
    int bitRate = 0;
    int dataBits = 0;
    int stopBits = 0;
    int parity = 0;
    int inputTerminator = 0;
    int handshake = 0;
    DecimalSeparator decimalSeparator = DecimalSeparator::DOT;
    StartWith startWith = StartWith::NONE;
    OutputTerminator outputTerminator = OutputTerminator::NONE;
    OutputTerminator outputTerminator2 = OutputTerminator::NONE;
    std::string everyXValues;
    Connect connect = Connect::MANUAL;
    MathOperation mathOperation = MathOperation::NONE;
    std::string mathOperand;
    std::string decimalPlaces;
    RoundingMethod roundingMethod = RoundingMethod::HALF_UP;
    Sound sound = Sound::NONE;
    KeyboardType keyboardType = KeyboardType::QUERTY;
    std::string delay = "20";
    std::optional<std::string> prevPort;
    EditOperation editOperation = EditOperation::REMOVE;
    EditPosition editPosition = EditPosition::FIRST;
    std::string editNumCharacters;
    std::string removeCharacters;
    std::string customRegEx;
    std::string ignoreTimeLimit;
    std::string ignoreDifference;
    bool reconnect = false;
    std::string requestCommand;
    std::string requestInterval;
    std::string requestHotKey;
    std::string valueLog;
    bool overrideCapsLock = true;
    PropertyChangeSupport propertyChangeSupport;
};

}  // namespace rszorvik::config
