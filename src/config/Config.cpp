#include "config/Config.h"

#include <algorithm>

#include "base/MessageCatalog.h"
#include "base/MessageFormat.h"
#include "config/SettingsTable.h"

namespace rszorvik::config {

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

std::string Config::mathInactiveReason() const {
    if (mathOperation == MathOperation::NONE || mathOperationEnabled()) return {};
    const auto& catalog = base::MessageCatalog::get(base::catalogues::kConfig);
    const std::string operation(mathOperation.name());
    return base::formatMessage(
        catalog.getString(mathOperand.empty() ? "math.without.operand" : "math.without.decimal.places"),
        {operation});
}

std::string Config::getRequestBytes() const {
    if (requestCommand.empty()) {
        const Instrument preset = instrument.value_or(Instrument::getDefault());
        return std::string(preset.getDataCommand());
    }
    if (!ConfigHelper::RequestCommand::valid(requestCommand)) return {};
    return ConfigHelper::RequestCommand::toBytes(requestCommand);
}

int Config::getRequestIntervalAsInt() const {
    if (!ConfigHelper::RequestInterval::valid(requestInterval)) return 0;
    return parseDecimalInteger(requestInterval).value_or(0);
}

Config Config::copyConfig(const Config& c) {
    Config copy;
    for (const Setting& setting : settingsTable())
        if (!setting.automatic) setting.copy(copy, c);
    return copy;
}

bool Config::hasChanged(const Config& a, const Config& b) {
    return std::ranges::any_of(settingsTable(), [&a, &b](const Setting& setting) {
        return !setting.automatic && setting.differs(a, b);
    });
}

}  // namespace rszorvik::config
