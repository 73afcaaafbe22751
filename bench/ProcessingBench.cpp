#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/Config.h"
#include "worker/DataLine.h"
#include "worker/Ignorer.h"
#include "worker/LineAssembler.h"
#include "worker/WorkerStage.h"

using rszorvik::config::Config;
using rszorvik::worker::DataLine;
using rszorvik::worker::Ignorer;
using rszorvik::worker::LineAssembler;
using rszorvik::worker::RawLine;
using rszorvik::worker::WorkerStage;
using Instrument = Config::Instrument;

namespace {

Config preset(Instrument instrument) {
    Config config = instrument.getDefaultConfig();
    config.setInstrument(instrument);
    return config;
}

// A few hundred different readings, so that no cache or branch predictor sees one line only.
std::vector<std::string> lines(const char* format, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, format, (i * 3779 % 200000) / 1000.0 - 100.0);
        out.emplace_back(DataLine::textFromBytes(line));
    }
    return out;
}

// The whole worker stage per received line: extraction, edit, removal, formatting, the DataLine.
void runStage(benchmark::State& state, const Config& config, const std::vector<std::string>& input) {
    WorkerStage stage(config);
    const DataLine::Instant instant{};
    std::size_t i = 0;
    for (auto _ : state) {
        auto outcome = stage.process(RawLine{input[i], false}, instant);
        benchmark::DoNotOptimize(outcome);
        if (++i == input.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_StageGenericRoundingAndMultiply(benchmark::State& state) {
    Config config = preset(Instrument::GENERIC);
    config.setDecimalPlaces("2");
    config.setRoundingMethod(Config::RoundingMethod::HALF_EVEN);
    config.setMathOperation(Config::MathOperation::MULTIPLY);
    config.setMathOperand("0.45359237");
    runStage(state, config, lines("  %.3f g\r\n", 256));
}
BENCHMARK(BM_StageGenericRoundingAndMultiply);

void BM_StageAnd(benchmark::State& state) {
    runStage(state, preset(Instrument::AND), lines("ST,%+09.2f kg\r\n", 256));
}
BENCHMARK(BM_StageAnd);

void BM_StageAndComma(benchmark::State& state) {
    Config config = preset(Instrument::AND);
    config.setDecimalSeparator(Config::DecimalSeparator::COMMA);
    runStage(state, config, lines("US,%+09.2f g\r\n", 256));
}
BENCHMARK(BM_StageAndComma);

void BM_StageText(benchmark::State& state) {
    std::vector<std::string> input;
    for (int i = 0; i < 256; ++i)
        input.push_back("4006381333" + std::to_string(100 + i) + "-LOT/A\r");
    runStage(state, preset(Instrument::BARCODE_ALPHA_COMPLETE), input);
}
BENCHMARK(BM_StageText);

// Cutting a received block into lines, as replay reads a capture.
void BM_AssembleBlock(benchmark::State& state) {
    std::string block;
    for (const auto& line : lines("ST,%+09.2f kg\r\n", 4096))
        block += line;
    LineAssembler assembler(10);
    for (auto _ : state) {
        assembler.addAll(block, [](RawLine&& line) { benchmark::DoNotOptimize(line); });
    }
    state.SetItemsProcessed(state.iterations() * 4096);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size()));
}
BENCHMARK(BM_AssembleBlock);

// Byte by byte, as the acquisition worker polls the port.
void BM_AssembleByteByByte(benchmark::State& state) {
    std::string block;
    for (const auto& line : lines("ST,%+09.2f kg\r\n", 4096))
        block += line;
    LineAssembler assembler(10);
    for (auto _ : state) {
        for (const char c : block) {
            auto line = assembler.add(static_cast<std::uint8_t>(c));
            benchmark::DoNotOptimize(line);
        }
    }
    state.SetItemsProcessed(state.iterations() * 4096);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size()));
}
BENCHMARK(BM_AssembleByteByByte);

// The duplicate filter with a numeric tolerance, per published line.
void BM_IgnorerTolerance(benchmark::State& state) {
    Config config = preset(Instrument::GENERIC);
    config.setIgnoreTimeLimit("1000");
    config.setIgnoreDifference("0.05");
    Ignorer ignorer(config);
    const auto values = lines("%.2f", 256);
    std::size_t i = 0;
    std::int32_t count = 0;
    for (auto _ : state) {
        DataLine line("x\r\n", values[i], ++count, DataLine::Instant(std::chrono::milliseconds(count)),
                      false);
        benchmark::DoNotOptimize(ignorer.process(line));
        if (++i == values.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IgnorerTolerance);

}  // namespace

BENCHMARK_MAIN();
