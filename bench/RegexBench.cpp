#include <benchmark/benchmark.h>

#include <string>

#include "base/Regex.h"

using rszorvik::base::Regex;

namespace {

const char* const kDefaultPattern = "([-+]?\\s*[0-9]*[\\.,]?[0-9]+)";
const std::string kLine = "ST, +00012.34 kg\r\n";

// The extraction step of every received line with the default number expression.
void BM_SearchDefaultPattern(benchmark::State& state) {
    const Regex regex(kDefaultPattern);
    for (auto _ : state) {
        auto match = regex.search(kLine);
        benchmark::DoNotOptimize(match);
    }
    state.SetLabel(regex.usesJit() ? "jit" : "interpreter");
}
BENCHMARK(BM_SearchDefaultPattern);

void BM_SearchDefaultPatternInterpreter(benchmark::State& state) {
    const Regex regex(kDefaultPattern, Regex::Engine::Interpreter);
    for (auto _ : state) {
        auto match = regex.search(kLine);
        benchmark::DoNotOptimize(match);
    }
}
BENCHMARK(BM_SearchDefaultPatternInterpreter);

// Compiling happens once per worker start, shown for scale.
void BM_CompileDefaultPattern(benchmark::State& state) {
    for (auto _ : state) {
        Regex regex(kDefaultPattern);
        benchmark::DoNotOptimize(regex);
    }
}
BENCHMARK(BM_CompileDefaultPattern);

}  // namespace

BENCHMARK_MAIN();
