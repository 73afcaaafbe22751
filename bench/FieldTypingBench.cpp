// Typing speed as an application sees it: Keybot types one value of CHARS printable ASCII characters at
// delay 0 through the XTest injector into a Qt window on a private Xvfb, per keyboard type and layout,
// ROUNDS times each, quiet and with BUSY processes spinning beside it. The window takes the keys in two
// fields: "sink", which keeps the text Qt makes of the keys and shows nothing (the typing's own pace), and
// "text field", a QPlainTextEdit, which lays out the whole growing line again with every key. The time runs
// from the first key to the field holding the whole value; "start" is the keyboard output's own start (the
// injector reading the layout and binding its keys), before the first key. Each round is an output of its
// own, ended once the value has arrived. Prints per case the characters per second (median, lowest, highest),
// the typing thread's processor time, the start time and how many rounds arrived exact.
//
//   FieldTypingBench [ROUNDS [CHARS [BUSY [FIELDS]]]]   (defaults 5, 3000, 3 and "sink,text"; from a Release
//   build)
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/X11KeyInjector.h"
#include "support/BusyProcesses.h"
#include "support/PrintableAscii.h"
#include "support/TypingWindow.h"
#include "worker/Keybot.h"

namespace {

using rszorvik::test::TypingWindow;
using rszorvik::worker::Keybot;
using KeyboardType = Keybot::KeyboardType;
using KeyMapType = Keybot::KeyMapType;
using Clock = std::chrono::steady_clock;

struct Case {
    KeyboardType type;
    const char* layout;
    const char* variant;
};
const Case kCases[] = {
    {KeyboardType::QUERTY, "us", ""}, {KeyboardType::US_INTERNATIONAL, "us", "intl"},
    {KeyboardType::GERMAN, "de", ""}, {KeyboardType::AZERTY, "fr", ""},
    {KeyboardType::ALL, "de", ""},
};

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Round {
    double rate = 0;     // characters per second, first key to the last character in the field
    double cpu = 0;      // the typing thread's processor time while it typed
    double start = 0;    // the injector's construction
    bool exact = false;  // the field held exactly the value
};

Round typeOnce(TypingWindow& window, const Case& c, const std::string& value) {
    Round round;
    const Clock::time_point before = Clock::now();
    Keybot keybot(0, 0, 0, 0, 0, c.type, KeyMapType::ALPHANUMERIC_COMPLETE, nullptr,
                  std::make_unique<rszorvik::platform::X11KeyInjector>());
    round.start = seconds(Clock::now() - before);
    Clock::time_point firstKey;
    // The output ends after the value has arrived, as a run that is stopped a while after its last value.
    const std::string typed = window.type(
        [&] {
            firstKey = Clock::now();
            const double cpuBefore = threadSeconds();
            keybot.typeValue(value);
            round.cpu = threadSeconds() - cpuBefore;
        },
        value);
    round.exact = typed == value;
    if (round.exact) round.rate = static_cast<double>(value.size()) / seconds(window.arrival() - firstKey);
    return round;
}

void report(const Case& c, int busy, const char* field, std::vector<Round>& rounds) {
    std::vector<double> rates, cpus, starts;
    int exact = 0;
    for (const Round& r : rounds) {
        if (r.exact) {
            ++exact;
            rates.push_back(r.rate);
        }
        cpus.push_back(r.cpu);
        starts.push_back(r.start);
    }
    const auto median = [](std::vector<double> v) {
        if (v.empty()) return 0.0;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const auto [low, high] = rates.empty() ? std::pair(0.0, 0.0)
                                           : std::pair(*std::min_element(rates.begin(), rates.end()),
                                                       *std::max_element(rates.begin(), rates.end()));
    std::printf(
        "%-10s %-16s %-8s busy %d: %8.0f chars/s (%.0f-%.0f), cpu %6.1f ms, start %5.1f ms, exact %d/%zu\n",
        field, std::string(KeyboardType(c.type).name()).c_str(),
        (std::string(c.layout) + (*c.variant ? "(intl)" : "")).c_str(), busy, median(rates), low, high,
        median(cpus) * 1000, median(starts) * 1000, exact, rounds.size());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int chars = argc > 2 ? std::atoi(argv[2]) : 3000;
    const int busy = argc > 3 ? std::atoi(argv[3]) : 3;
    const std::string fields = argc > 4 ? argv[4] : "sink,text";
    TypingWindow* window = TypingWindow::instance();
    if (window == nullptr) {
        std::cerr << "Xvfb is not installed: nothing to measure" << std::endl;
        return 0;
    }
    const std::string ascii = rszorvik::test::printableAscii();
    std::string value;
    while (value.size() < static_cast<std::size_t>(chars))
        value += ascii;
    value.resize(static_cast<std::size_t>(chars));

    for (const bool sink : {true, false}) {
        if (fields.find(sink ? "sink" : "text") == std::string::npos) continue;
        window->useSink(sink);
        for (const int load : {0, busy}) {
            const rszorvik::test::BusyProcesses processes(load);
            for (const Case& c : kCases) {
                window->setLayout(c.layout, c.variant);
                std::vector<Round> results;
                for (int i = 0; i < rounds; ++i)
                    results.push_back(typeOnce(*window, c, value));
                report(c, load, sink ? "sink" : "text field", results);
            }
        }
    }
    return 0;
}
