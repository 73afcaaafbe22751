#include "worker/ReplaySession.h"

#include <string>
#include <utility>
#include <variant>

#include "worker/WeightWorker.h"

namespace rszorvik::worker {

ReplaySession::ReplaySession(const config::Config& config, Sink& sink, Options options)
    : stage(config),
      assembler(config.getInputTerminator(), WeightWorker::kMaxLineBytes),
      sink(sink),
      options(std::move(options)) {
    if (!this->options.clock)
        this->options.clock = [] {
            return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
        };
    if (config.ignoreDuplicates) ignorer.emplace(config, this->options.report);
}

void ReplaySession::feed(std::string_view bytes) {
    assembler.addAll(
        bytes, [this](RawLine&& line) { handle(std::move(line)); },
        [this](const DroppedLine& dropped) {
            sink.discarded(dropped.count, DataLine::textFromBytes(dropped.start));
        });
}

void ReplaySession::finish() {
    if (assembler.hasUnsent()) sink.unsent(assembler.unsentText());
    // The capture ended inside an overlong line: its bytes so far are what was dropped.
    if (assembler.isDropping())
        sink.discarded(assembler.dropped().count, DataLine::textFromBytes(assembler.dropped().start));
    assembler.clear();
}

DataLine::Instant ReplaySession::instantFor(std::int32_t count) {
    if (!options.clockStep) return options.clock();
    if (!firstInstant) firstInstant = options.clock();
    // A step of more than about 292 years has no count of nanoseconds: converting it would overflow.
    std::int64_t stepNanos = 0;
    std::int64_t offset = 0;
    std::int64_t nanos = 0;
    constexpr std::int64_t nanosPerUnit =
        std::chrono::nanoseconds(decltype(options.clockStep)::value_type(1)).count();
    if ((count != 1 && (__builtin_mul_overflow(options.clockStep->count(), nanosPerUnit, &stepNanos) ||
                        __builtin_mul_overflow(std::int64_t{count} - 1, stepNanos, &offset))) ||
        __builtin_add_overflow(firstInstant->time_since_epoch().count(), offset, &nanos))
        return DataLine::Instant::max();  // every later line as well: the filter's limit still holds
    return DataLine::Instant(std::chrono::nanoseconds(nanos));
}

void ReplaySession::handle(RawLine line) {
    const auto next = static_cast<std::int32_t>(static_cast<std::uint32_t>(stage.getCount()) + 1u);
    auto outcome = stage.process(std::move(line), instantFor(next));
    if (auto* failure = std::get_if<LineFailure>(&outcome)) {
        sink.failed(*failure);
        return;
    }
    auto& published = std::get<DataLine>(outcome);
    const bool hadValue = published.hasValue();
    if (ignorer) ignorer->process(published);
    sink.published(published, hadValue && !published.hasValue());
}

}  // namespace rszorvik::worker
