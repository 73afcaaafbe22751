#include "worker/WorkerStage.h"

#include <exception>
#include <utility>

namespace rszorvik::worker {

namespace {

using config::ConfigHelper::Instrument;
using config::ConfigHelper::InstrumentType;

Instrument presetOf(const config::Config& config) {
    return config.getInstrument().value_or(Instrument::getDefault());
}

std::string_view patternOf(const config::Config& config) {
    if (!config.getCustomRegEx().empty()) return config.getCustomRegEx();
    return presetOf(config).getPattern();
}

base::Regex compile(std::string_view pattern) {
    try {
        return base::Regex(pattern);
    } catch (const base::RegexSyntaxError& e) {
        throw WorkerSetupError("The expression " + std::string(pattern) + " does not compile: " + e.what());
    }
}

NumberFormatter formatterFor(const config::Config& config) {
    try {
        return NumberFormatter::fromConfig(config);
    } catch (const base::NumberFormatError& e) {
        throw WorkerSetupError("The math operand \"" + config.getMathOperand() +
                               "\" is not a number: " + e.what());
    }
}

bool isWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

WorkerStage::WorkerStage(const config::Config& config) : WorkerStage(config, kindFor(config)) {}

WorkerStage::WorkerStage(const config::Config& config, Kind kind)
    : kind(kind),
      expression(compile(patternOf(config))),
      captureGroup(kind == Kind::TEXT ? 1 : presetOf(config).getCaptureGroup()),
      editor(config),
      remover(config),
      formatter(formatterFor(config)) {}

WorkerStage::Kind WorkerStage::kindFor(const config::Config& config) {
    return presetOf(config).getInstrumentType() == InstrumentType::TEXT ? Kind::TEXT : Kind::NUMBER;
}

std::string WorkerStage::value(std::string_view rawText) const {
    const auto match = expression.search(rawText);
    if (!match) return {};
    if (captureGroup < 0 || static_cast<std::size_t>(captureGroup) >= match->groups.size())
        throw std::out_of_range("No group " + std::to_string(captureGroup));
    // A group that did not take part in the match (an alternative not taken) gives no value.
    const auto& group = match->groups[static_cast<std::size_t>(captureGroup)];
    if (!group) return {};

    std::string v = *group;
    if (editor.getNumCharacters() > 0) v = editor.edit(v);
    if (!remover.empty() && !v.empty()) v = remover.removeCharacters(v);
    if (kind == Kind::TEXT) return v;
    std::erase_if(v, isWhitespace);
    if (v.empty()) return v;
    return formatter.format(v);
}

WorkerStage::Outcome WorkerStage::process(RawLine line, Instant instant) {
    // Wraps like a 32-bit counter instead of overflowing.
    count = static_cast<std::int32_t>(static_cast<std::uint32_t>(count) + 1u);
    try {
        std::string v = value(line.text);
        return DataLine(std::move(line.text), std::move(v), count, instant, line.error);
    } catch (const std::exception& e) {
        return LineFailure{count, std::string(kErrorPrefix) + e.what()};
    }
}

}  // namespace rszorvik::worker
