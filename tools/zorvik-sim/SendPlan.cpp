#include "SendPlan.h"

#include <random>
#include <stdexcept>

namespace rszorvik::sim {
namespace {

ValueSource makeSource(const Options& options) {
    if (!options.values.empty()) return ValueSource::list(options.values);
    if (!options.from.empty() || !options.to.empty()) {
        if (options.from.empty() || options.to.empty())
            throw std::invalid_argument("--from needs --to and back");
        if (options.random)
            return ValueSource::randomWalk(options.from, options.to, options.step,
                                           options.seed.value_or(std::random_device{}()));
        return ValueSource::ramp(options.from, options.to, options.step);
    }
    return ValueSource::list({"12.34"});
}

}  // namespace

SendPlan planFrom(const Options& options) {
    const auto format = parseFormat(options.format);
    if (!format) throw std::invalid_argument("unknown format \"" + options.format + "\"");
    const FormatInfo& info = formatInfo(*format);
    std::string terminator =
        options.terminator ? parseTerminator(*options.terminator) : std::string(info.terminator);
    ValueSource source = makeSource(options);
    const long count = options.count.value_or(static_cast<long>(source.passLength()));
    // Values the format cannot carry are refused before anyone connects.
    for (const std::string& value : source.widestValues())
        formatValue(*format, value, options.unit);
    std::string request;
    if (!options.onRequest.empty()) {
        request = parseTerminator(options.onRequest);
        if (request.empty())
            throw std::invalid_argument("--on-request \"" + options.onRequest + "\" stands for no bytes");
    }
    return {*format, std::move(terminator), std::move(source), count, std::move(request)};
}

}  // namespace rszorvik::sim
