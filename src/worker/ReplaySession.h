#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/Config.h"
#include "worker/DataLine.h"
#include "worker/Ignorer.h"
#include "worker/LineAssembler.h"
#include "worker/WorkerStage.h"

namespace rszorvik::worker {

// Runs captured bytes through the same pieces as an acquisition run: the line assembler, the worker stage
// and, when duplicates are ignored, the duplicate filter. Results go to a sink in line order.
class ReplaySession {
  public:
    class Sink {
      public:
        virtual ~Sink() = default;
        // suppressed: the duplicate filter deleted the line's value.
        virtual void published(const DataLine& line, bool suppressed) = 0;
        virtual void failed(const LineFailure& failure) = 0;
        // The bytes after the last terminator, as text (not rendered); called by finish() only when any.
        virtual void unsent(const std::string& text) = 0;
        // A line reached kMaxLineBytes bytes without its terminator and was dropped up to and including
        // it, as a run drops it: count bytes in all (up to the end of the capture when the terminator
        // never came); start is the beginning of them, as text (not rendered). Called when the line ended.
        virtual void discarded(std::size_t count, const std::string& start) = 0;
    };

    using Clock = std::function<DataLine::Instant()>;

    struct Options {
        // Line k gets the instant of line 1 plus (k - 1) steps, at most the last instant that can be held;
        // unset: the clock is read for every line.
        std::optional<std::chrono::milliseconds> clockStep;
        Clock clock;             // unset: the system clock
        Ignorer::Report report;  // the duplicate filter's one-time notice
    };

    // Throws WorkerSetupError when the settings cannot drive a worker, std::invalid_argument for an input
    // terminator outside 0..255.
    ReplaySession(const config::Config& config, Sink& sink, Options options = {});

    // A line longer than a run takes (WeightWorker::kMaxLineBytes) is dropped and reported to the sink.
    void feed(std::string_view bytes);
    // Reports unsent bytes, or the line being dropped, if any; the session is then empty.
    void finish();

    const WorkerStage& getStage() const { return stage; }

  private:
    void handle(RawLine line);
    DataLine::Instant instantFor(std::int32_t count);

    WorkerStage stage;
    LineAssembler assembler;
    std::optional<Ignorer> ignorer;
    Sink& sink;
    Options options;
    std::optional<DataLine::Instant> firstInstant;
};

}  // namespace rszorvik::worker
