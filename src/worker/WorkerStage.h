#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "base/Regex.h"
#include "config/Config.h"
#include "worker/DataLine.h"
#include "worker/Editor.h"
#include "worker/LineAssembler.h"
#include "worker/NumberFormatter.h"
#include "worker/Remover.h"

namespace rszorvik::worker {

// The settings cannot drive a worker: the expression does not compile, or math is on with an operand
// that is not a number. Raised before any byte is read.
class WorkerSetupError : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

// A line whose processing failed. It used up its number; nothing is published for it.
struct LineFailure {
    std::int32_t count;
    std::string message;  // what the worker logs: "Error [WW]: " and the error's text
};

// The worker stage of the processing chain: from the raw text of one line to its DataLine. Shared by the
// number worker and the text worker (and replay). Holds the settings fixed at start and the line number.
class WorkerStage {
  public:
    // NUMBER: the preset's capture group, whitespace removal and number formatting. TEXT: group 1, the
    // value as extracted (after edit and removal).
    enum class Kind { NUMBER, TEXT };
    using Instant = DataLine::Instant;
    using Outcome = std::variant<DataLine, LineFailure>;

    static constexpr std::string_view kErrorPrefix = "Error [WW]: ";

    // The kind follows the preset's value type (an unset preset counts as the default one).
    explicit WorkerStage(const config::Config& config);
    // Throws WorkerSetupError.
    WorkerStage(const config::Config& config, Kind kind);

    static Kind kindFor(const config::Config& config);

    // The value of one raw text (extraction, edit, removal, whitespace, formatting); empty when the line
    // has none: no match, or a capture group that did not take part in the match. Throws what a line can
    // fail with: base::NumberFormatError, base::ArithmeticError, std::out_of_range ("No group N"),
    // base::RegexMatchError (a runaway expression).
    std::string value(std::string_view rawText) const;

    // Numbers the line (previous number + 1) and processes it. instant: when the terminator arrived.
    Outcome process(RawLine line, Instant instant);

    std::int32_t getCount() const { return count; }  // the number of the last line, 0 before the first
    Kind getKind() const { return kind; }
    const base::Regex& getExpression() const { return expression; }
    int getCaptureGroup() const { return captureGroup; }

  private:
    Kind kind;
    base::Regex expression;
    int captureGroup;
    Editor editor;
    Remover remover;
    NumberFormatter formatter;
    std::int32_t count = 0;
};

}  // namespace rszorvik::worker
