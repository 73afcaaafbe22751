#include <benchmark/benchmark.h>

#include <string>

#include "base/BigDecimal.h"

using rszorvik::base::BigDecimal;
using rszorvik::base::RoundingMode;

namespace {

// The number path of one received weight: parse, round to two places, write out.
void BM_ParseRoundFormatWeight(benchmark::State& state) {
    const std::string text = "+00012.345";
    for (auto _ : state) {
        auto value = BigDecimal::parse(text).setScale(2, RoundingMode::HALF_UP).toPlainString();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ParseRoundFormatWeight);

void BM_ParseWeight(benchmark::State& state) {
    const std::string text = "+00012.345";
    for (auto _ : state) {
        auto value = BigDecimal::parse(text);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ParseWeight);

// A value with more digits than fit a machine word takes GMP's string conversion.
void BM_ParseRoundFormatLong(benchmark::State& state) {
    const std::string text = "-123456789012345678901234567890.123456789";
    for (auto _ : state) {
        auto value = BigDecimal::parse(text).setScale(2, RoundingMode::HALF_EVEN).toPlainString();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ParseRoundFormatLong);

}  // namespace

BENCHMARK_MAIN();
