#include "config/Config.h"

namespace rszorvik::config {

Config::Config(std::string port, std::optional<Instrument> instrument, int bitRate, int dataBits,
               int stopBits, int parity, int inputTerminator, int handshake, Connect connect,
               KeyboardType keyboardType, std::string delay, DecimalSeparator decimalSeparator,
               StartWith startWith, OutputTerminator outputTerminator, OutputTerminator outputTerminator2,
               std::string everyXValues, MathOperation mathOperation, std::string mathOperand,
               std::string decimalPlaces, RoundingMethod roundingMethod, Sound sound, bool minimizeToTray,
               bool notifyWhenMinimizedToTray, bool checkForUpdates,
               bool abortAutoStartWhenPrevPortNotAvailable, EditOperation editOperation,
               EditPosition editPosition, std::string editNumCharacters, std::string removeCharacters,
               std::string customRegEx, bool ignoreDuplicates, std::string ignoreTimeLimit,
               std::string ignoreDifference)
    : minimizeToTray(minimizeToTray),
      notifyWhenMinimizedToTray(notifyWhenMinimizedToTray),
      checkForUpdates(checkForUpdates),
      abortAutoStartWhenPrevPortNotAvailable(abortAutoStartWhenPrevPortNotAvailable),
      ignoreDuplicates(ignoreDuplicates),
      port(std::move(port)),
      instrument(instrument),
      bitRate(bitRate),
      dataBits(dataBits),
      stopBits(stopBits),
      parity(parity),
      inputTerminator(inputTerminator),
      handshake(handshake),
      decimalSeparator(decimalSeparator),
      startWith(startWith),
      outputTerminator(outputTerminator),
      outputTerminator2(outputTerminator2),
      everyXValues(std::move(everyXValues)),
      connect(connect),
      mathOperation(mathOperation),
      mathOperand(std::move(mathOperand)),
      decimalPlaces(std::move(decimalPlaces)),
      roundingMethod(roundingMethod),
      sound(sound),
      keyboardType(keyboardType),
      delay(std::move(delay)),
      editOperation(editOperation),
      editPosition(editPosition),
      editNumCharacters(std::move(editNumCharacters)),
      removeCharacters(std::move(removeCharacters)),
      customRegEx(std::move(customRegEx)),
      ignoreTimeLimit(std::move(ignoreTimeLimit)),
      ignoreDifference(std::move(ignoreDifference)) {}

void Config::setInstrument(Instrument value) {
    instrument = value;
    propertyChangeSupport.fire(
        PropertyChangeEvent{std::string(value.getInstrumentType().name()), std::nullopt, value});
}

ListenerId Config::addPropertyChangeListener(PropertyChangeListener listener) {
    return propertyChangeSupport.add(std::move(listener));
}

bool Config::removePropertyChangeListener(ListenerId id) {
    return propertyChangeSupport.remove(id);
}

int Config::getDelayAsInt() const {
    return parseDecimalInteger(delay).value_or(20);
}

std::optional<int> Config::getDecimalPlacesAsInt() const {
    return parseDecimalInteger(decimalPlaces);
}

int Config::getEditNumCharactersAsInt() const {
    return parseDecimalInteger(editNumCharacters).value_or(0);
}

int Config::getEveryXValuesAsInt() const {
    return parseDecimalInteger(everyXValues).value_or(0);
}

base::BigDecimal Config::getMathOperandAsBigDecimal() const {
    return base::BigDecimal::parse(mathOperand);
}

bool Config::roundingEnabled() const {
    const auto places = getDecimalPlacesAsInt();
    return places && *places >= 0 && *places <= 7;
}

bool Config::mathOperationEnabled() const {
    if (mathOperation == MathOperation::NONE || mathOperand.empty()) return false;
    if (mathOperation == MathOperation::DIVIDE) return roundingEnabled();
    return true;
}

Config Config::copyConfig(const Config& c) {
    return Config(c.port, c.instrument, c.bitRate, c.dataBits, c.stopBits, c.parity, c.inputTerminator,
                  c.handshake, c.connect, c.keyboardType, c.delay, c.decimalSeparator, c.startWith,
                  c.outputTerminator, c.outputTerminator2, c.everyXValues, c.mathOperation, c.mathOperand,
                  c.decimalPlaces, c.roundingMethod, c.sound, c.minimizeToTray, c.notifyWhenMinimizedToTray,
                  c.checkForUpdates, c.abortAutoStartWhenPrevPortNotAvailable, c.editOperation,
                  c.editPosition, c.editNumCharacters, c.removeCharacters, c.customRegEx, c.ignoreDuplicates,
                  c.ignoreTimeLimit, c.ignoreDifference);
}

bool Config::hasChanged(const Config& a, const Config& b) {
    return a.minimizeToTray != b.minimizeToTray ||
           a.notifyWhenMinimizedToTray != b.notifyWhenMinimizedToTray ||
           a.checkForUpdates != b.checkForUpdates ||
           a.abortAutoStartWhenPrevPortNotAvailable != b.abortAutoStartWhenPrevPortNotAvailable ||
           a.ignoreDuplicates != b.ignoreDuplicates || a.port != b.port || a.instrument != b.instrument ||
           a.bitRate != b.bitRate || a.dataBits != b.dataBits || a.stopBits != b.stopBits ||
           a.parity != b.parity || a.inputTerminator != b.inputTerminator || a.handshake != b.handshake ||
           a.decimalSeparator != b.decimalSeparator || a.startWith != b.startWith ||
           a.outputTerminator != b.outputTerminator || a.outputTerminator2 != b.outputTerminator2 ||
           a.everyXValues != b.everyXValues || a.connect != b.connect || a.mathOperation != b.mathOperation ||
           a.mathOperand != b.mathOperand || a.decimalPlaces != b.decimalPlaces ||
           a.roundingMethod != b.roundingMethod || a.sound != b.sound || a.keyboardType != b.keyboardType ||
           a.delay != b.delay || a.editOperation != b.editOperation || a.editPosition != b.editPosition ||
           a.editNumCharacters != b.editNumCharacters || a.removeCharacters != b.removeCharacters ||
           a.customRegEx != b.customRegEx || a.ignoreTimeLimit != b.ignoreTimeLimit ||
           a.ignoreDifference != b.ignoreDifference;
}

}  // namespace rszorvik::config
