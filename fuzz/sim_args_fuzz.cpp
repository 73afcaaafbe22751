// zorvik-sim's command-line values: format, terminator, value list, range or random walk and unit, as
// the simulator checks them before anyone connects, then a few values sent from the plan.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "InstrumentFormat.h"
#include "SendPlan.h"

using namespace rszorvik::sim;
using namespace rszorvik::fuzz;

// Input: one option per line, "--name=value" (--values takes a comma-separated list, --random and a
// line "--terminator" without value count as given).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = asText(data, size);
    Options options;
    while (!rest.empty()) {
        std::string_view line = takeUntil(rest, "\n");
        const std::string_view name = takeUntil(line, "=");
        const std::string value(line);
        if (name == "--format") {
            options.format = value;
        } else if (name == "--values") {
            std::string_view list = line;
            while (!list.empty())
                options.values.emplace_back(takeUntil(list, ","));
        } else if (name == "--from") {
            options.from = value;
        } else if (name == "--to") {
            options.to = value;
        } else if (name == "--step") {
            options.step = value;
        } else if (name == "--random") {
            options.random = true;
            options.seed = static_cast<std::uint32_t>(size);
        } else if (name == "--unit") {
            options.unit = value;
        } else if (name == "--terminator") {
            options.terminator = value;
        }
    }
    std::optional<SendPlan> plan;
    try {
        plan.emplace(planFrom(options));
    } catch (const std::invalid_argument&) {
        return 0;
    }
    // The plan was checked against the format: sending its values must not throw.
    for (int i = 0; i < 64; ++i)
        (void)formatValue(plan->format, plan->source.next(), options.unit);
    return 0;
}
