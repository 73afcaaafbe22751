// How zorvik-cli run ends while it types: the X server goes away, the instrument goes away in the middle of
// a slow value, Ctrl+C arrives with values still to type. zorvik-sim plays the instrument on a
// pseudo-terminal; the keys go to a private Xvfb.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TypingWindow.h"
#include "support/ChildProcess.h"
#include "worker/WeightWorker.h"

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;
using rszorvik::test::TypingWindow;
using rszorvik::test::XvfbDisplay;
using rszorvik::worker::WeightWorker;
namespace fs = std::filesystem;

constexpr auto kPatience = 30s;  // a limit for a hung child, not a timing check

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++n;
    return n;
}

class RunEndings : public ::testing::Test {
  protected:
    RunEndings()
        : prefs(fs::temp_directory_path() /
                ("zorvik-e2e-endings-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt")) {
        fs::remove(prefs);
    }
    ~RunEndings() override { fs::remove(prefs); }

    // zorvik-cli run on the terminal, typing on the display (empty: the one in DISPLAY).
    std::unique_ptr<ChildProcess> run(const std::string& pty, const std::vector<std::string>& sets,
                                      const std::string& display = {}) {
        std::vector<std::string> args{"/usr/bin/env"};
        if (!display.empty()) args.push_back("DISPLAY=" + display);
        for (const std::string& a :
             {std::string(ZORVIK_CLI_PATH), std::string("--prefs"), prefs.string(), std::string("run")})
            args.push_back(a);
        for (const auto& set : sets) {
            args.push_back("--set");
            args.push_back(set);
        }
        args.push_back(pty);
        return std::make_unique<ChildProcess>(args);
    }

    fs::path prefs;
};

// The X server dies while values arrive and are typed: the keyboard output reports it, the run ends through
// the worker's end handler with status 1, never by a signal or Xlib's exit.
TEST_F(RunEndings, LosingTheXServerEndsTheRunWithItsEndHandler) {
    if (!XvfbDisplay::available()) GTEST_SKIP() << "Xvfb is not installed";
    const std::string cannotType = WeightWorker::text("cannot_type");
    const std::string stopped = WeightWorker::text("stopped");
    int crashes = 0;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        auto xvfb = std::make_unique<XvfbDisplay>();
        ChildProcess sim({ZORVIK_SIM_PATH, "--quiet", "--interval-ms", "30", "--format", "generic",
                          "--values", "1.5,2,3.25", "--count", "0"});
        const std::string pty = sim.firstLine(kPatience);
        ASSERT_FALSE(pty.empty()) << sim.err;
        auto cli = run(pty, {"delay=5", "outputTerminator=ENTER"}, xvfb->name());
        // Killed while values are being typed, after a varying number of them.
        cli->collectUntil([&] { return count(cli->err, "<13>\n") >= 2U + static_cast<unsigned>(round % 3); },
                          kPatience);
        xvfb.reset();
        const int status = cli->wait(kPatience);
        if (status >= 128) ++crashes;
        EXPECT_EQ(status, 1) << cli->err;
        const auto lost = cli->err.find(cannotType);
        const auto end = cli->err.find(stopped, lost == std::string::npos ? 0 : lost);
        EXPECT_NE(lost, std::string::npos) << cli->err;
        EXPECT_NE(end, std::string::npos) << "the end handler reports after the loss\n" << cli->err;
        EXPECT_EQ(cli->err.find("XIO"), std::string::npos) << cli->err;
        sim.signal(SIGTERM);
        sim.wait(kPatience);
    }
    EXPECT_EQ(crashes, 0);
}

// The instrument goes away while the last value is still being typed: its keys keep their pauses.
TEST_F(RunEndings, APortLostDuringTheLastValueKeepsItsKeyDelays) {
    TypingWindow* window = TypingWindow::instance();
    if (window == nullptr) GTEST_SKIP() << "Xvfb is not installed";
    window->setLayout("us");
    ChildProcess sim({ZORVIK_SIM_PATH, "--quiet", "--format", "generic", "--values", "12.34"});
    const std::string pty = sim.firstLine(kPatience);
    ASSERT_FALSE(pty.empty()) << sim.err;
    std::unique_ptr<ChildProcess> cli;
    const std::string typed = window->type(
        [&] {
            cli = run(pty, {"delay=100", "outputTerminator=ENTER"});
            cli->wait(kPatience);
        },
        "12.34\n");
    EXPECT_EQ(typed, "12.34\n") << cli->err;
    EXPECT_NE(cli->err.find(WeightWorker::text("execution.exception")), std::string::npos) << cli->err;
    const auto& times = window->keyTimes();
    ASSERT_EQ(times.size(), 12U) << cli->err;
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_GE(times[i] - times[i - 1], 100U) << "key event " << i;
}

struct CtrlCCase {
    std::string name;
    int presses;  // Ctrl+C pressed this often
};

void PrintTo(const CtrlCCase& c, std::ostream* os) {
    *os << c.name;
}

class CtrlC : public RunEndings, public ::testing::WithParamInterface<CtrlCCase> {};

// Three values arrive, Ctrl+C follows while the first is typed: one Ctrl+C lets all of them be typed with
// their pauses; a second one right after stops at once and names the values that were not typed.
TEST_P(CtrlC, TypesWhatWasReceivedOrReportsIt) {
    TypingWindow* window = TypingWindow::instance();
    if (window == nullptr) GTEST_SKIP() << "Xvfb is not installed";
    window->setLayout("us");
    ChildProcess sim({ZORVIK_SIM_PATH, "--quiet", "--interval-ms", "20", "--format", "generic", "--values",
                      "1,2,3", "--count", "0"});
    const std::string pty = sim.firstLine(kPatience);
    ASSERT_FALSE(pty.empty()) << sim.err;
    std::unique_ptr<ChildProcess> cli;
    int status = -1;
    const std::string typed = window->type(
        [&] {
            cli = run(pty, {"delay=100", "outputTerminator=ENTER"});
            cli->collectUntil([&] { return count(cli->err, "<13>\n") >= 3; }, kPatience);
            // The instrument falls silent but stays connected.
            sim.signal(SIGSTOP);
            std::this_thread::sleep_for(150ms);
            for (int i = 0; i < GetParam().presses; ++i) {
                cli->signal(SIGINT);
                std::this_thread::sleep_for(30ms);
            }
            status = cli->wait(kPatience);
        },
        GetParam().presses == 1 ? "1\n2\n3\n" : "1\n");
    sim.signal(SIGCONT);
    sim.signal(SIGTERM);
    sim.wait(kPatience);
    EXPECT_EQ(status, 0) << cli->err;

    // What was received, in order: the values of the logged lines.
    std::vector<std::string> received;
    for (std::size_t at = 0; (at = cli->err.find("<13>\n", at)) != std::string::npos; at += 5) {
        const auto start = cli->err.rfind(' ', at) + 1;
        received.push_back(cli->err.substr(start, at - start));
    }
    ASSERT_GE(received.size(), 3U) << cli->err;
    std::string all;
    for (const auto& value : received)
        all += value + "\n";
    const std::string notTyped = WeightWorker::text("values.not.typed");
    if (GetParam().presses == 1) {
        EXPECT_EQ(typed, all) << cli->err;
        EXPECT_EQ(cli->err.find(notTyped), std::string::npos) << cli->err;
    } else {
        // Typed and reported together are what was received, each value once.
        const auto report = cli->err.find(notTyped);
        ASSERT_NE(report, std::string::npos) << cli->err;
        std::string reported;
        const std::string rest =
            cli->err.substr(report + notTyped.size(), cli->err.find('\n', report) - report - notTyped.size());
        for (std::size_t at = 0; (at = rest.find('"', at)) != std::string::npos;) {
            const auto close = rest.find('"', at + 1);
            reported += rest.substr(at + 1, close - at - 1) + "\n";
            at = close + 1;
        }
        EXPECT_EQ(typed + reported, all) << cli->err;
        EXPECT_LT(typed.size(), all.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Run, CtrlC, ::testing::Values(CtrlCCase{"Once", 1}, CtrlCCase{"Twice", 2}),
                         [](const auto& param) { return param.param.name; });

}  // namespace
