// zorvik-cli run over a real pseudo-terminal: zorvik-sim plays the instrument, the run prints the values
// it would type, logs to standard error and ends on a signal, or by itself when the instrument leaves,
// with the end handler's messages.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "base/EmbeddedResources.h"
#include "base/MessageCatalog.h"
#include "base/MessageFormat.h"
#include "base/Properties.h"
#include "support/ChildProcess.h"
#include "worker/WeightWorker.h"

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;
using rszorvik::worker::WeightWorker;
namespace fs = std::filesystem;

constexpr auto kPatience = 15s;  // a limit for a hung child, not a timing check

std::string cliPath() {
    return ZORVIK_CLI_PATH;
}

std::string simPath() {
    return ZORVIK_SIM_PATH;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        result.push_back(text.substr(start, end - start));
    return result;
}

class RunCommandTest : public ::testing::Test {
  protected:
    RunCommandTest() {
        prefs = fs::temp_directory_path() /
                ("zorvik-run-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
        fs::remove(prefs);
    }
    ~RunCommandTest() override { fs::remove(prefs); }

    std::unique_ptr<ChildProcess> run(const std::vector<std::string>& sets, const std::string& port,
                                      const std::string& output = "stdout", bool demo = false) {
        std::vector<std::string> args{"/usr/bin/env", std::string("ZORVIK_DEMO=") + (demo ? "1" : ""),
                                      cliPath(),      "--prefs",
                                      prefs.string(), "run",
                                      "--output",     output};
        for (const auto& set : sets) {
            args.push_back("--set");
            args.push_back(set);
        }
        if (!port.empty()) args.push_back(port);
        return std::make_unique<ChildProcess>(args);
    }

    fs::path prefs;
};

struct RunCase {
    std::string name;
    std::vector<std::string> simArgs;
    std::vector<std::string> sets;
    std::vector<std::string> printed;  // standard output, line by line
    std::vector<std::string> logged;   // worker catalogue keys whose texts the log must hold
    std::string unsent;                // rendered bytes of the unsent report; empty: none
    bool demo = false;                 // ZORVIK_DEMO=1: the instrument leaving is the demo's end
};

void PrintTo(const RunCase& c, std::ostream* os) {
    *os << c.name;
}

bool logHas(const std::vector<std::string>& log, const std::string& text) {
    for (const auto& line : log)
        if (line.size() >= 9 && line.substr(9) == text) return true;
    return false;
}

// The last lines of the log, without their time stamps, are the given ones.
void expectLogEndsWith(const std::vector<std::string>& log, const std::vector<std::string>& ending,
                       const std::string& all) {
    ASSERT_GE(log.size(), ending.size()) << all;
    for (std::size_t i = 0; i < ending.size(); ++i)
        EXPECT_EQ(log[log.size() - ending.size() + i].substr(9), ending[i]) << all;
    EXPECT_EQ(log.back()[2], ':');
}

class RunCases : public RunCommandTest, public ::testing::WithParamInterface<RunCase> {};

// The simulator closes its terminal once the reader has taken its last bytes, as an unplugged
// instrument would: the run prints what came before, reports the lost port and ends by itself. In a demo
// that is the planned end: said as such, with status 0.
TEST_P(RunCases, PrintsTheValuesAndEndsWhenTheInstrumentLeaves) {
    const RunCase& c = GetParam();
    std::vector<std::string> simArgs{simPath(), "--quiet", "--interval-ms", "20"};
    simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
    ChildProcess sim(simArgs);
    const std::string pty = sim.firstLine(kPatience);
    ASSERT_FALSE(pty.empty()) << sim.err;

    auto cli = run(c.sets, pty, "stdout", c.demo);
    EXPECT_EQ(sim.wait(kPatience), 0) << sim.err;
    ASSERT_EQ(cli->wait(kPatience), c.demo ? 0 : 1) << cli->err;

    EXPECT_EQ(lines(cli->out), c.printed) << cli->err;
    const auto log = lines(cli->err);
    for (const auto& key : c.logged)
        EXPECT_TRUE(logHas(log, WeightWorker::text(key))) << key << "\n" << cli->err;
    EXPECT_FALSE(logHas(log, WeightWorker::text("stopped"))) << cli->err;
    // The end handler reports how the run ended, then the bytes that never formed a line.
    std::vector<std::string> ending{
        c.demo ? "Ende der Demo: Das virtuelle Messger\u00e4t hat seinen letzten Wert gesendet und " + pty +
                     " geschlossen."
               : WeightWorker::text("execution.exception") + "Verbindung zum Port " + pty +
                     " unterbrochen (Ger\u00e4t ausgesteckt oder Port geschlossen)."};
    if (!c.unsent.empty()) ending.push_back(WeightWorker::text("unsent.data") + " " + c.unsent);
    expectLogEndsWith(log, ending, cli->err);
}

INSTANTIATE_TEST_SUITE_P(
    Run, RunCases,
    ::testing::Values(
        RunCase{"Generic",
                {"--format", "generic", "--values", "1.5,2,-3.25"},
                {"instrument=GENERIC"},
                {"1.5", "2", "-3.25"},
                {},
                ""},
        // A pseudo-terminal has no modem lines: the A&D test finds the scale not connected and reading
        // starts anyway.
        RunCase{"AndScale",
                {"--format", "and", "--values", "12.34,0.5"},
                {"instrument=AND", "inputTerminator=10"},
                {"12.34", "0.5"},
                {"and.error.not.connected"},
                ""},
        RunCase{"DuplicatesSuppressed",
                {"--format", "generic", "--values", "5,5,6"},
                {"ignoreDuplicates=true"},
                {"5", "6"},
                {},
                ""},
        RunCase{"HalfALineAtTheEnd",
                {"--format", "generic", "--values", "7,8", "--no-terminator-last"},
                {},
                {"7"},
                {},
                "8"},
        // Where no synthesizer can start the run goes on without sound.
        RunCase{"WithSound", {"--format", "generic", "--values", "9"}, {"sound=COWBELL"}, {"9"}, {}, ""},
        RunCase{"DemoEnds", {"--format", "generic", "--values", "1,2"}, {}, {"1", "2"}, {}, "", true},
        RunCase{"DemoEndsWithHalfALine",
                {"--format", "generic", "--values", "3,4", "--no-terminator-last"},
                {},
                {"3"},
                {},
                "4",
                true}),
    [](const auto& param) { return param.param.name; });

struct StopCase {
    std::string name;
    int signal;
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

class StopCases : public RunCommandTest, public ::testing::WithParamInterface<StopCase> {};

// An instrument that keeps sending until the run is stopped: the signal ends it with status 0.
TEST_P(StopCases, StopsCleanlyOnTheSignal) {
    ChildProcess sim({simPath(), "--quiet", "--interval-ms", "20", "--format", "generic", "--values", "4,5",
                      "--count", "0"});
    const std::string pty = sim.firstLine(kPatience);
    ASSERT_FALSE(pty.empty()) << sim.err;

    auto cli = run({}, pty);
    cli->collectUntil([&] { return lines(cli->out).size() >= 3; }, kPatience);
    cli->signal(GetParam().signal);
    ASSERT_EQ(cli->wait(kPatience), 0) << cli->err;
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(kPatience), 0) << sim.err;

    const auto printed = lines(cli->out);
    ASSERT_GE(printed.size(), 3u) << cli->err;
    for (std::size_t i = 0; i < printed.size(); ++i)
        EXPECT_EQ(printed[i], i % 2 == 0 ? "4" : "5") << i;
    expectLogEndsWith(lines(cli->err), {WeightWorker::text("stopped")}, cli->err);
}

INSTANTIATE_TEST_SUITE_P(Run, StopCases,
                         ::testing::Values(StopCase{"Sigterm", SIGTERM}, StopCase{"Sigint", SIGINT},
                                           StopCase{"Sighup", SIGHUP}),
                         [](const auto& param) { return param.param.name; });

// The reader of the values leaves (`run --output stdout | head -1`): the run ends through its end
// handler with status 0 or 1, never by SIGPIPE.
TEST_F(RunCommandTest, AReaderThatLeavesEndsTheRunThroughItsEndHandler) {
    ChildProcess sim({simPath(), "--quiet", "--interval-ms", "20", "--format", "generic", "--values", "4,5",
                      "--count", "0"});
    const std::string pty = sim.firstLine(kPatience);
    ASSERT_FALSE(pty.empty()) << sim.err;
    ChildProcess shell({"/bin/bash", "-c",
                        "'" + cliPath() + "' --prefs '" + prefs.string() + "' run --output stdout '" + pty +
                            "' | head -1; echo \"status ${PIPESTATUS[0]}\" >&2"});
    ASSERT_EQ(shell.wait(kPatience), 0) << shell.err;
    sim.signal(SIGTERM);
    sim.wait(kPatience);

    EXPECT_EQ(lines(shell.out), std::vector<std::string>{"4"});
    const auto log = lines(shell.err);
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log.back() == "status 0" || log.back() == "status 1") << shell.err;
    EXPECT_TRUE(logHas(
        log,
        rszorvik::base::MessageCatalog::get(rszorvik::base::catalogues::kCli).getString("run.output.closed")))
        << shell.err;
    EXPECT_TRUE(logHas(log, WeightWorker::text("stopped"))) << shell.err;
}

struct RefusalCase {
    std::string name;
    std::vector<std::string> sets;
    std::string output;
    std::string port;
    int status;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class Refusals : public RunCommandTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, EndWithTheirStatus) {
    const RefusalCase& c = GetParam();
    auto cli = run(c.sets, c.port, c.output);
    EXPECT_EQ(cli->wait(kPatience), c.status) << cli->err;
    EXPECT_TRUE(cli->out.empty()) << cli->out;
}

INSTANTIATE_TEST_SUITE_P(
    Run, Refusals,
    ::testing::Values(RefusalCase{"SetWithoutValue", {"bitRate"}, "stdout", "/dev/null", 2},
                      RefusalCase{"SetOutOfRange", {"bitRate=99"}, "stdout", "/dev/null", 2},
                      RefusalCase{"RequestTimerTooFast", {"requestInterval=10"}, "stdout", "/dev/null", 2},
                      RefusalCase{"UnknownOutput", {}, "printer", "/dev/null", 2},
                      RefusalCase{"PortMissing", {}, "stdout", "/dev/zorvik-no-such-port", 3},
                      RefusalCase{"ValueLogNotAbsolute", {"valueLog=values.csv"}, "stdout", "/dev/null", 2},
                      // A device would take the records without keeping them.
                      RefusalCase{"ValueLogOnADevice", {"valueLog=/dev/null"}, "stdout", "/dev/null", 1},
                      // Checked before the port, which would end the start with 3.
                      RefusalCase{"ValueLogCannotOpen",
                                  {"valueLog=/zorvik-no-such-folder/values.csv"},
                                  "stdout",
                                  "/dev/zorvik-no-such-port",
                                  1}),
    [](const auto& param) { return param.param.name; });

class NoDisplay : public RunCommandTest, public ::testing::WithParamInterface<std::vector<std::string>> {};

// Keyboard output without a usable display refuses to start, even with an instrument that sends, and
// points to --output stdout instead of reading values it could only throw away.
TEST_P(NoDisplay, RefusesToTypeAndSuggestsStdout) {
    ChildProcess sim({simPath(), "--quiet", "--interval-ms", "20", "--format", "generic", "--values", "4",
                      "--count", "0"});
    const std::string pty = sim.firstLine(kPatience);
    ASSERT_FALSE(pty.empty()) << sim.err;
    std::vector<std::string> args = GetParam();
    args.insert(args.end(), {cliPath(), "--prefs", prefs.string(), "run", "--output", "keys", pty});
    ChildProcess cli(args);
    const int status = cli.wait(kPatience);
    sim.signal(SIGTERM);
    sim.wait(kPatience);

    EXPECT_EQ(status, 3) << cli.err;
    EXPECT_TRUE(cli.out.empty()) << cli.out;
    const std::string text =
        rszorvik::base::MessageCatalog::get(rszorvik::base::catalogues::kCli).getString("run.no.display");
    const auto hole = text.find("%s");
    ASSERT_NE(hole, std::string::npos);
    EXPECT_NE(cli.err.find(text.substr(0, hole)), std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find(text.substr(hole + 2)), std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find("--output stdout"), std::string::npos) << cli.err;
    EXPECT_FALSE(fs::exists(prefs)) << "nothing was written";
}

INSTANTIATE_TEST_SUITE_P(Run, NoDisplay,
                         ::testing::Values(std::vector<std::string>{"/usr/bin/env", "-u", "DISPLAY"},
                                           std::vector<std::string>{"/usr/bin/env", "DISPLAY=:87"}),
                         [](const auto& param) { return param.index == 0 ? "Unset" : "Missing"; });

// One language per process, chosen by ZORVIK_LANGUAGE: the run's own sentence and the window's catalogue
// text it reports come from the same language.
TEST_F(RunCommandTest, OneLanguagePerProcess) {
    struct Case {
        std::string setting;
        std::string suffix;  // of the catalogue files that must speak
    };
    const Case cases[] = {{"", "_de"}, {"de", "_de"}, {"en", ""}, {"fr", "_de"}};
    const auto text = [](const std::string& file, const std::string& key) {
        const auto bytes = rszorvik::base::embeddedResource(file);
        return bytes ? rszorvik::base::Properties::parse(*bytes, rszorvik::base::Properties::Charset::Utf8)
                           .get(key, "?")
                     : std::string("?");
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("ZORVIK_LANGUAGE=" + c.setting);
        ChildProcess cli({"/usr/bin/env", "ZORVIK_LANGUAGE=" + c.setting, cliPath(), "--prefs",
                          prefs.string(), "run", "--output", "stdout", "/dev/zorvik-no-such-port"});
        EXPECT_EQ(cli.wait(kPatience), 3) << cli.err;
        EXPECT_NE(cli.err.find(text("rszorvik.zorvik" + c.suffix + ".properties", "error.opening.port")),
                  std::string::npos)
            << cli.err;
        ChildProcess refused({"/usr/bin/env", "ZORVIK_LANGUAGE=" + c.setting, cliPath(), "--prefs",
                              prefs.string(), "run", "--output", "printer", "/dev/null"});
        EXPECT_EQ(refused.wait(kPatience), 2) << refused.err;
        const std::string choice =
            text("rszorvik.cli.CliBundle" + c.suffix + ".properties", "run.output.choice");
        EXPECT_NE(refused.err.find(choice.substr(0, choice.find('%'))), std::string::npos) << refused.err;
    }
}

// ---- the instrument that is unplugged, and the one that answers only when asked ----

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++n;
    return n;
}

// Stop ends the wait for an unplugged instrument at once: the run ends with the stop's status and says
// so, without a return of the instrument.
TEST_F(RunCommandTest, AStopEndsTheWaitForTheInstrument) {
    const fs::path link = fs::temp_directory_path() / ("zorvik-run-link-" + std::to_string(::getpid()));
    fs::remove(link);
    ChildProcess sim({simPath(), "--quiet", "--format", "generic", "--values", "1,2", "--link", link.string(),
                      "--unplug-after", "1", "--unplug-ms", "60000"});
    ASSERT_FALSE(sim.firstLine(kPatience).empty()) << sim.err;
    ChildProcess cli(
        {cliPath(), "--prefs", prefs.string(), "run", "--output", "stdout", "--reconnect", link.string()});
    const std::string waiting =
        rszorvik::base::formatMessage(WeightWorker::text("reconnect.waiting"), {link.string()});
    ASSERT_TRUE(cli.collectUntil([&] { return cli.err.find(waiting) != std::string::npos; }, kPatience))
        << cli.err;
    cli.signal(SIGINT);
    EXPECT_EQ(cli.wait(kPatience), 0) << cli.err;
    sim.signal(SIGTERM);
    sim.wait(kPatience);

    EXPECT_EQ(lines(cli.out), std::vector<std::string>{"1"});
    expectLogEndsWith(lines(cli.err), {WeightWorker::text("stopped")}, cli.err);
}

struct RequestRunCase {
    std::string name;
    std::vector<std::string> runArgs;
    int signals;  // SIGUSR1 sent this often, each after the answer to the one before
};

void PrintTo(const RequestRunCase& c, std::ostream* os) {
    *os << c.name;
}

class RequestRuns : public RunCommandTest, public ::testing::WithParamInterface<RequestRunCase> {};

// Against an instrument that sends a value only when asked, every request, by timer or by SIGUSR1, gets
// its value: as many values as requests, in order. The simulator leaves after its fourth answer.
TEST_P(RequestRuns, EveryRequestGetsItsValue) {
    const RequestRunCase& c = GetParam();
    ChildProcess sim(
        {simPath(), "--format", "sics", "--values", "1.5,2.5,3.5,4.5", "--on-request", "SI\\r\\n"});
    const std::string pty = sim.firstLine(kPatience);
    ASSERT_FALSE(pty.empty()) << sim.err;
    std::vector<std::string> args{cliPath(),      "--prefs",
                                  prefs.string(), "run",
                                  "--output",     "stdout",
                                  "--set",        "instrument=METTLER_SICS",
                                  "--set",        "inputTerminator=10"};
    args.insert(args.end(), c.runArgs.begin(), c.runArgs.end());
    args.push_back(pty);
    ChildProcess cli(args);
    for (int i = 1; i <= c.signals; ++i) {
        // Sent once the run reads, and each next one once the answer to the last is there.
        ASSERT_TRUE(cli.collectUntil(
            [&] { return count(cli.err, "Port " + pty) >= 1 && lines(cli.out).size() >= std::size_t(i - 1); },
            kPatience))
            << cli.err;
        cli.signal(SIGUSR1);
    }
    EXPECT_EQ(sim.wait(kPatience), 0) << sim.err;
    EXPECT_EQ(cli.wait(kPatience), 1) << cli.err;

    EXPECT_EQ(lines(cli.out), (std::vector<std::string>{"1.5", "2.5", "3.5", "4.5"})) << cli.err;
    EXPECT_EQ(count(sim.err, " received"), 4U) << sim.err;
    if (c.signals > 0) {
        const std::string sent =
            rszorvik::base::formatMessage(WeightWorker::text("request.sent"), {"SI<13><10>"});
        EXPECT_EQ(count(cli.err, sent), 4U) << cli.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Run, RequestRuns,
                         ::testing::Values(RequestRunCase{"TimerEvery200ms", {"--request-every", "200"}, 0},
                                           RequestRunCase{"Sigusr1", {}, 4}),
                         [](const auto& param) { return param.param.name; });

}  // namespace
