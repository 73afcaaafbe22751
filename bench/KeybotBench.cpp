// Keybot's own cost per character, with an injector that only records.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/KeyInjector.h"
#include "support/PrintableAscii.h"
#include "worker/Keybot.h"

namespace {

using rszorvik::test::printableAscii;
using rszorvik::worker::Keybot;
using KeyboardType = Keybot::KeyboardType;
using KeyMapType = Keybot::KeyMapType;

class RecordingInjector : public rszorvik::platform::KeyInjector {
  public:
    RecordingInjector() { events.reserve(4096); }
    void keyPress(int keyCode) override { events.push_back(keyCode); }
    void keyRelease(int keyCode) override { events.push_back(-keyCode); }
    void delay(int) override { ++pauses; }
    bool lastKeyWasDead() const override { return true; }

    std::vector<int> events;
    long pauses = 0;
};

void typeAll(benchmark::State& state, KeyboardType type) {
    auto recorder = std::make_unique<RecordingInjector>();
    RecordingInjector* injector = recorder.get();
    Keybot keybot(0, 0, 0, 0, 0, type, KeyMapType::ALPHANUMERIC_COMPLETE, nullptr, std::move(recorder));
    const std::string text = printableAscii();
    for (auto _ : state) {
        injector->events.clear();
        keybot.typeString(text, true);
        benchmark::DoNotOptimize(injector->events.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(text.size()));
}

void numericValue(benchmark::State& state) {
    auto recorder = std::make_unique<RecordingInjector>();
    RecordingInjector* injector = recorder.get();
    Keybot keybot(0, 9, 10, 0, 0, KeyboardType::QUERTY, KeyMapType::NUMERIC, nullptr, std::move(recorder));
    for (auto _ : state) {
        injector->events.clear();
        keybot.typeValue("-12345.678");
        benchmark::DoNotOptimize(injector->events.data());
    }
    state.SetItemsProcessed(state.iterations() * 10);
}

void construct(benchmark::State& state) {
    for (auto _ : state) {
        Keybot keybot(20, 0, 10, 0, 0, KeyboardType::GERMAN, KeyMapType::ALPHANUMERIC_BASIC, nullptr,
                      std::make_unique<RecordingInjector>());
        benchmark::DoNotOptimize(&keybot);
    }
}

}  // namespace

BENCHMARK_CAPTURE(typeAll, QUERTY, KeyboardType::QUERTY);
BENCHMARK_CAPTURE(typeAll, GERMAN, KeyboardType::GERMAN);
BENCHMARK_CAPTURE(typeAll, ALL, KeyboardType::ALL);
BENCHMARK(numericValue);
BENCHMARK(construct);
BENCHMARK_MAIN();
