#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/BigDecimal.h"
#include "config/Config.h"
#include "worker/DataLine.h"

namespace rszorvik::worker {

// The duplicate filter: deletes the value of a line that repeats the previous value within the time limit
// and the tolerance. The reference is always the latest line that had a value, suppressed or not.
class Ignorer {
  public:
    // Told once per filter when a value cannot be compared as a number (see inTolerance).
    using Report = std::function<void(const std::string& message)>;

    explicit Ignorer(const config::Config& config, Report report = {});

    // Returns the same line, its value deleted when it is a duplicate.
    DataLine& process(DataLine& dataLine);
    // Within the time limit of the reference line (always when the limit is 0); false without a reference.
    bool inTime(const DataLine& dataLine) const;
    // Same text when the tolerance is 0, else |new - last| <= tolerance; false without a reference. A value
    // that is not a number is never within a non-zero tolerance, so it is typed rather than lost.
    bool inTolerance(const DataLine& dataLine);

    std::int32_t getTimeLimit() const { return timeLimit; }
    const base::BigDecimal& getDifference() const { return difference; }
    const std::optional<DataLine>& getLastData() const { return lastData; }

  private:
    std::optional<DataLine> lastData;
    std::int32_t timeLimit = 0;
    base::BigDecimal difference;
    Report report;
    bool reported = false;
};

}  // namespace rszorvik::worker
