// Characters per second through the XTest backend at delay 0, on a private Xvfb. Every iteration waits
// until the server has handled all its key events.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "platform/X11KeyInjector.h"
#include "support/PrintableAscii.h"
#include "support/XvfbDisplay.h"
#include "worker/Keybot.h"

namespace {

using rszorvik::platform::X11KeyInjector;
using rszorvik::test::printableAscii;
using rszorvik::worker::Keybot;
using KeyboardType = Keybot::KeyboardType;
using KeyMapType = Keybot::KeyMapType;

rszorvik::test::XvfbDisplay* xvfb = nullptr;

void typeAll(benchmark::State& state, KeyboardType type, const std::string& layout) {
    xvfb->setLayout(layout);
    auto x11 = std::make_unique<X11KeyInjector>();
    X11KeyInjector* injector = x11.get();
    Keybot keybot(0, 0, 0, 0, 0, type, KeyMapType::ALPHANUMERIC_COMPLETE, nullptr, std::move(x11));
    const std::string text = printableAscii();
    for (auto _ : state) {
        keybot.typeString(text, true);
        injector->sync();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(text.size()));
}

void typeDigits(benchmark::State& state) {
    xvfb->setLayout("us");
    auto x11 = std::make_unique<X11KeyInjector>();
    X11KeyInjector* injector = x11.get();
    Keybot keybot(0, 0, 10, 0, 0, KeyboardType::QUERTY, KeyMapType::NUMERIC, nullptr, std::move(x11));
    for (auto _ : state) {
        keybot.typeValue("-12345.678");
        injector->sync();
    }
    state.SetItemsProcessed(state.iterations() * 10);
}

}  // namespace

BENCHMARK_CAPTURE(typeAll, QUERTY_us, KeyboardType::QUERTY, "us")->UseRealTime();
BENCHMARK_CAPTURE(typeAll, GERMAN_de, KeyboardType::GERMAN, "de")->UseRealTime();
BENCHMARK_CAPTURE(typeAll, ALL_us, KeyboardType::ALL, "us")->UseRealTime();
BENCHMARK_CAPTURE(typeAll, ALL_de, KeyboardType::ALL, "de")->UseRealTime();
BENCHMARK(typeDigits)->UseRealTime();

int main(int argc, char** argv) {
    if (!rszorvik::test::XvfbDisplay::available()) {
        std::cerr << "Xvfb is not installed: nothing to measure" << std::endl;
        return 0;
    }
    rszorvik::test::XvfbDisplay display;
    xvfb = &display;
    setenv("DISPLAY", display.name().c_str(), 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
