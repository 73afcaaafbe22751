// Characters per second through the XTest backend at delay 0, on a private Xvfb, next to
// `xdotool type --delay 0` typing the same text in the same run. Every iteration of ours waits until the
// server has handled all its key events; xdotool's ends with its process.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "platform/X11KeyInjector.h"
#include "support/PrintableAscii.h"
#include "support/TempDir.h"
#include "support/XvfbDisplay.h"
#include "worker/Keybot.h"

// Last: Xlib defines macros (Status, Bool, None) that other headers use as names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace {

using rszorvik::platform::X11KeyInjector;
using rszorvik::test::printableAscii;
using rszorvik::worker::Keybot;
using KeyboardType = Keybot::KeyboardType;
using KeyMapType = Keybot::KeyMapType;

rszorvik::test::XvfbDisplay* xvfb = nullptr;

void typeAll(benchmark::State& state, KeyboardType type, const std::string& layout,
             const std::string& variant) {
    xvfb->setLayout(layout, variant);
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

// The same characters through xdotool on the same layout; skipped without xdotool.
void xdotoolAll(benchmark::State& state, const std::string& layout, const std::string& variant) {
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) {
        state.SkipWithError("xdotool is not installed");
        return;
    }
    xvfb->setLayout(layout, variant);
    const std::string text = printableAscii();
    const rszorvik::test::TempDir dir("zorvik-bench");
    rszorvik::test::writeFile(dir / "text.txt", text);
    const std::string command = "xdotool type --delay 0 --file " + (dir / "text.txt").string();
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("xdotool failed");
            break;
        }
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

// A value with letters and Enter, Caps Lock off or on (locked on the server as a keyboard would); with it
// on, the output releases it for the value and locks it again: the cost of that per value.
void typeLettersCapsLock(benchmark::State& state) {
    xvfb->setLayout("us");
    const bool on = state.range(0) != 0;
    const auto lock = [](bool locked) {
        Display* display = XOpenDisplay(xvfb->name().c_str());
        if (display == nullptr) return false;
        XkbLockModifiers(display, XkbUseCoreKbd, LockMask, locked ? LockMask : 0);
        XSync(display, False);
        XCloseDisplay(display);
        return true;
    };
    if (!lock(on)) {
        state.SkipWithError("cannot open the display");
        return;
    }
    auto x11 = std::make_unique<X11KeyInjector>();
    X11KeyInjector* injector = x11.get();
    Keybot keybot(0, 0, 10, 0, 0, KeyboardType::QUERTY, KeyMapType::ALPHANUMERIC_COMPLETE, nullptr,
                  std::move(x11));
    keybot.setOverrideCapsLock(true);
    for (auto _ : state) {
        keybot.typeValue("AbC-12 kg");
        injector->sync();
    }
    lock(false);
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK_CAPTURE(typeAll, QUERTY_us, KeyboardType::QUERTY, "us", "")->UseRealTime();
BENCHMARK_CAPTURE(typeAll, US_INTERNATIONAL_us_intl, KeyboardType::US_INTERNATIONAL, "us", "intl")
    ->UseRealTime();
BENCHMARK_CAPTURE(typeAll, AZERTY_fr, KeyboardType::AZERTY, "fr", "")->UseRealTime();
BENCHMARK_CAPTURE(typeAll, GERMAN_de, KeyboardType::GERMAN, "de", "")->UseRealTime();
BENCHMARK_CAPTURE(typeAll, ALL_us, KeyboardType::ALL, "us", "")->UseRealTime();
BENCHMARK_CAPTURE(typeAll, ALL_de, KeyboardType::ALL, "de", "")->UseRealTime();
BENCHMARK_CAPTURE(typeAll, ALL_fr, KeyboardType::ALL, "fr", "")->UseRealTime();
BENCHMARK_CAPTURE(xdotoolAll, us, "us", "")->UseRealTime();
BENCHMARK_CAPTURE(xdotoolAll, us_intl, "us", "intl")->UseRealTime();
BENCHMARK_CAPTURE(xdotoolAll, fr, "fr", "")->UseRealTime();
BENCHMARK_CAPTURE(xdotoolAll, de, "de", "")->UseRealTime();
BENCHMARK(typeDigits)->UseRealTime();
BENCHMARK(typeLettersCapsLock)->ArgName("capsLock")->Arg(0)->Arg(1)->UseRealTime();

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
