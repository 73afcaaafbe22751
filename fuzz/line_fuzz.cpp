// Bytes from an instrument through the processing of a run: the line assembler, the worker stage and the
// duplicate filter, with settings drawn from the input. The same bytes must give the same lines however
// the port delivers them (one block, byte by byte through add()), and no byte may be lost between lines.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "FuzzSupport.h"
#include "SettingsHeader.h"
#include "worker/LineAssembler.h"
#include "worker/ReplaySession.h"
#include "worker/WeightWorker.h"
#include "worker/WorkerStage.h"

using namespace rszorvik::worker;
using namespace rszorvik::fuzz;

namespace {

// Everything a session reports, as one comparable text per event.
class Recorder : public ReplaySession::Sink {
  public:
    std::vector<std::string> events;
    std::string rawTexts;  // the raw texts of the published lines, in order
    bool anyFailed = false, anyDiscarded = false;

    void published(const DataLine& line, bool suppressed) override {
        events.push_back(std::to_string(line.getCount()) + " " + line.getRawText() + " -> " +
                         line.getProcessedData() + (suppressed ? " (suppressed)" : ""));
        rawTexts += line.getRawText();
    }
    void failed(const LineFailure& failure) override {
        events.push_back(std::to_string(failure.count) + " failed: " + failure.message);
        anyFailed = true;
    }
    void unsent(const std::string& text) override {
        events.push_back("unsent " + text);
        rawTexts += text;
    }
    void discarded(std::size_t count, const std::string& start) override {
        events.push_back("discarded " + std::to_string(count) + " " + start);
        anyDiscarded = true;
    }
};

std::string joined(const std::vector<std::string>& events) {
    std::string text;
    for (const auto& event : events)
        text += event + "\n";
    return text;
}

}  // namespace

// Input: settings lines (see SettingsHeader), an empty line, then the bytes the instrument sends.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes = asText(data, size);
    const SettingsHeader header(bytes);

    ReplaySession::Options options;
    options.clock = [] { return DataLine::Instant(std::chrono::seconds(1'700'000'000)); };
    if (header.clockStepMs) options.clockStep = std::chrono::milliseconds(*header.clockStepMs);

    Recorder whole, piecewise;
    try {
        ReplaySession session(header.config, whole, options);
        session.feed(bytes);
        session.finish();
    } catch (const WorkerSetupError&) {
        return 0;  // refused before any byte is read, as a run refuses to start
    }
    ReplaySession bytewise(header.config, piecewise, options);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytewise.feed(bytes.substr(i, 1));
    bytewise.finish();
    check(whole.events == piecewise.events, "one block and single bytes gave other lines",
          joined(whole.events) + "---\n" + joined(piecewise.events));

    if (!whole.anyFailed && !whole.anyDiscarded)
        check(whole.rawTexts == DataLine::textFromBytes(bytes), "bytes were lost or changed between lines");

    // A run takes byte by byte through add(); without the duplicate filter it publishes what the stage
    // makes of each line, which must be what replay made of it.
    if (header.config.ignoreDuplicates) return 0;
    LineAssembler assembler(header.config.getInputTerminator(), WeightWorker::kMaxLineBytes);
    WorkerStage stage(header.config);
    Recorder run;
    const auto reportDropped = [&] {
        run.discarded(assembler.dropped().count, DataLine::textFromBytes(assembler.dropped().start));
    };
    for (const char c : bytes) {
        const bool wasDropping = assembler.isDropping();
        auto line = assembler.add(static_cast<std::uint8_t>(c));
        if (wasDropping && !assembler.isDropping()) reportDropped();
        if (!line) continue;
        auto outcome = stage.process(std::move(*line), options.clock());
        if (auto* failure = std::get_if<LineFailure>(&outcome))
            run.failed(*failure);
        else
            run.published(std::get<DataLine>(outcome), false);
    }
    if (assembler.hasUnsent()) run.unsent(assembler.unsentText());
    if (assembler.isDropping()) reportDropped();
    check(whole.events == run.events, "add() byte by byte gave other lines than replay",
          joined(whole.events) + "---\n" + joined(run.events));
    return 0;
}
