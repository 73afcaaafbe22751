#include "worker/Ignorer.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace rszorvik::worker {

namespace {

std::optional<base::BigDecimal> parseValue(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    return base::BigDecimal::tryParse(text);
}

bool isTextPreset(const config::Config& config) {
    const auto instrument = config.getInstrument().value_or(config::ConfigHelper::Instrument::getDefault());
    return instrument.getInstrumentType() == config::ConfigHelper::InstrumentType::TEXT;
}

}  // namespace

Ignorer::Ignorer(const config::Config& config, Report report) : report(std::move(report)) {
    timeLimit = config::parseDecimalInteger(config.getIgnoreTimeLimit()).value_or(0);
    // Text values are compared as texts whatever tolerance is left in the settings.
    if (!isTextPreset(config))
        difference = base::BigDecimal::tryParse(config.getIgnoreDifference()).value_or(base::BigDecimal());
}

DataLine& Ignorer::process(DataLine& dataLine) {
    if (!dataLine.hasValue()) return dataLine;
    DataLine reference = dataLine.copy();
    if (lastData && inTime(dataLine) && inTolerance(dataLine)) dataLine.deleteProcessedData();
    lastData = std::move(reference);
    return dataLine;
}

bool Ignorer::inTime(const DataLine& dataLine) const {
    if (!lastData) return false;
    if (timeLimit == 0) return true;
    // Whole milliseconds, rounded towards the past as a duration's millisecond count is.
    const auto elapsed =
        std::chrono::floor<std::chrono::milliseconds>(dataLine.getInstant() - lastData->getInstant());
    return elapsed.count() <= timeLimit;
}

bool Ignorer::inTolerance(const DataLine& dataLine) {
    if (!lastData) return false;
    if (difference.signum() == 0) return dataLine.getProcessedData() == lastData->getProcessedData();
    const auto current = parseValue(dataLine.getProcessedData());
    const auto last = parseValue(lastData->getProcessedData());
    if (!current || !last) {
        if (!reported && report) {
            const std::string& bad = current ? lastData->getProcessedData() : dataLine.getProcessedData();
            report("Duplicate filter: \"" + bad +
                   "\" is not a number and cannot be compared within the tolerance; such values are never "
                   "treated as duplicates.");
        }
        reported = true;
        return false;
    }
    return current->subtract(*last).abs().compareTo(difference) <= 0;
}

}  // namespace rszorvik::worker
