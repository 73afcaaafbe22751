// The whole road of a value: zorvik-sim on a pseudo-terminal, zorvik-cli run typing through the X server
// of a private Xvfb, a Qt window's text field receiving the keys.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/MessageFormat.h"
#include "support/ChildProcess.h"
#include "support/TypingWindow.h"
#include "worker/WeightWorker.h"

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;
using rszorvik::test::TypingWindow;
using rszorvik::worker::WeightWorker;
namespace fs = std::filesystem;

constexpr auto kPatience = 20s;  // a limit for a hung child, not a timing check

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++n;
    return n;
}

struct TypingCase {
    std::string name;
    std::vector<std::string> simArgs;
    std::vector<std::string> sets;
    std::size_t lines;     // lines the simulator sends
    std::string expected;  // what the text field holds afterwards
};

void PrintTo(const TypingCase& c, std::ostream* os) {
    *os << c.name;
}

class RunTyping : public ::testing::TestWithParam<TypingCase> {};

TEST_P(RunTyping, TheFieldHoldsExactlyTheValues) {
    TypingWindow* window = TypingWindow::instance();
    ZORVIK_NEED_TYPING_WINDOW(window);
    window->setLayout("us");
    const TypingCase& c = GetParam();
    const fs::path prefs =
        fs::temp_directory_path() / ("zorvik-e2e-run-" + std::to_string(::getpid()) + ".txt");
    fs::remove(prefs);

    std::vector<std::string> simArgs{ZORVIK_SIM_PATH, "--quiet", "--interval-ms", "10"};
    simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
    ChildProcess sim(simArgs);
    const std::string pty = sim.firstLine(kPatience);
    ASSERT_FALSE(pty.empty()) << sim.err;

    std::vector<std::string> args{ZORVIK_CLI_PATH, "--prefs", prefs.string(), "run", "--set", "delay=1"};
    for (const auto& set : c.sets) {
        args.push_back("--set");
        args.push_back(set);
    }
    args.push_back(pty);
    std::unique_ptr<ChildProcess> cli;
    // The run inherits the display of the private server.
    const std::string typed = window->type(
        [&] {
            cli = std::make_unique<ChildProcess>(args);
            sim.wait(kPatience);
            // Every line is logged before its value is queued for typing.
            cli->collectUntil(
                [&] {
                    std::size_t logged = 0;
                    for (std::size_t at = 0; (at = cli->err.find("<13>\n", at)) != std::string::npos; ++at)
                        ++logged;
                    return logged >= c.lines;
                },
                kPatience);
        },
        c.expected);
    // The simulator has left, as an unplugged instrument does: the run ends by itself once the values
    // are typed, reporting the lost port.
    EXPECT_EQ(cli->wait(kPatience), 1) << cli->err;
    EXPECT_NE(cli->err.find(WeightWorker::text("execution.exception") + "Verbindung zum Port " + pty +
                            " unterbrochen (Ger\u00e4t ausgesteckt oder Port geschlossen)."),
              std::string::npos)
        << cli->err;
    fs::remove(prefs);
    EXPECT_EQ(typed, c.expected) << cli->err;
}

INSTANTIATE_TEST_SUITE_P(Run, RunTyping,
                         ::testing::Values(TypingCase{"EnterAfterEachValue",
                                                      {"--format", "generic", "--values", "1.5,2,-3.25"},
                                                      {"outputTerminator=ENTER"},
                                                      3,
                                                      "1.5\n2\n-3.25\n"},
                                           TypingCase{"SecondTerminatorEveryTwoValues",
                                                      {"--format", "generic", "--values", "1,2,3,4"},
                                                      {"outputTerminator=TAB", "outputTerminator2=ENTER",
                                                       "everyXValues=2"},
                                                      4,
                                                      "1\t2\n3\t4\n"},
                                           TypingCase{"DuplicatesAreNotTyped",
                                                      {"--format", "generic", "--values", "7,7,8"},
                                                      {"outputTerminator=ENTER", "ignoreDuplicates=true"},
                                                      3,
                                                      "7\n8\n"}),
                         [](const auto& param) { return param.param.name; });

// The instrument is unplugged for 3 s in the middle of its values and plugged in again under the same
// link: with reconnect on, the run waits for it and types every value once, in order.
TEST(RunTypingReconnect, AnUnplugInTheMiddleLosesAndRepeatsNothing) {
    TypingWindow* window = TypingWindow::instance();
    ZORVIK_NEED_TYPING_WINDOW(window);
    window->setLayout("us");
    const std::string tag = std::to_string(::getpid());
    const fs::path prefs = fs::temp_directory_path() / ("zorvik-e2e-reconnect-" + tag + ".txt");
    const fs::path link = fs::temp_directory_path() / ("zorvik-e2e-reconnect-" + tag + ".tty");
    fs::remove(prefs);
    fs::remove(link);

    ChildProcess sim({ZORVIK_SIM_PATH, "--format", "generic", "--values", "1,2,3,4,5,6", "--interval-ms",
                      "100", "--link", link.string(), "--unplug-after", "3", "--unplug-ms", "3000"});
    ASSERT_FALSE(sim.firstLine(kPatience).empty()) << sim.err;
    std::unique_ptr<ChildProcess> cli;
    int status = -1;
    const std::string expected = "1\n2\n3\n4\n5\n6\n";
    const std::string typed = window->type(
        [&] {
            cli = std::make_unique<ChildProcess>(std::vector<std::string>{
                ZORVIK_CLI_PATH, "--prefs", prefs.string(), "run", "--reconnect", "--set", "delay=1", "--set",
                "outputTerminator=ENTER", link.string()});
            sim.wait(kPatience);
            // Six lines logged, each before its value is typed; the run then waits for the instrument.
            cli->collectUntil([&] { return count(cli->err, "<13>\n") >= 6; }, kPatience);
            window->waitForLength(expected.size(), kPatience);
            cli->signal(SIGINT);
            status = cli->wait(kPatience);
        },
        expected);
    EXPECT_EQ(typed, expected) << cli->err << sim.err;
    EXPECT_EQ(status, 0) << cli->err;
    EXPECT_EQ(count(cli->err, WeightWorker::text("execution.exception")), 2U) << cli->err;
    EXPECT_EQ(count(cli->err,
                    rszorvik::base::formatMessage(WeightWorker::text("reconnect.waiting"), {link.string()})),
              2U)
        << cli->err;
    EXPECT_EQ(count(sim.err, "plugged in again"), 1U) << sim.err;
    fs::remove(prefs);
}

}  // namespace
