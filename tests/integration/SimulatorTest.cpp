// Runs the built zorvik-sim and reads its pseudo-terminal like a serial reader would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::string simulatorPath() {
#ifdef ZORVIK_SIM_PATH
    return ZORVIK_SIM_PATH;
#else
    return (fs::read_symlink("/proc/self/exe").parent_path() / "zorvik-sim").string();
#endif
}

constexpr auto kPatience = 10s;  // a safety limit for a hung simulator, not a timing check

class Simulator {
  public:
    explicit Simulator(std::vector<std::string> args) : child(withSimulator(std::move(args))) {}

    ~Simulator() {
        if (readerFd >= 0) ::close(readerFd);
    }

    // The first line of the simulator's standard output; empty when it ended without one.
    std::string slavePath() { return child.firstLine(kPatience); }

    void openReader(const std::string& path) {
        readerFd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(readerFd, 0) << path;
    }

    void closeReader() {
        ::close(readerFd);
        readerFd = -1;
    }

    // Reads until the simulator closes its end (or at least `atLeast` bytes arrived, when given).
    std::string read(std::size_t atLeast = std::string::npos) {
        std::string received;
        const auto end = std::chrono::steady_clock::now() + kPatience;
        while (received.size() < atLeast && std::chrono::steady_clock::now() < end) {
            pollfd entry{readerFd, POLLIN, 0};
            if (::poll(&entry, 1, 100) <= 0) continue;
            std::array<char, 256> buffer;
            const ssize_t n = ::read(readerFd, buffer.data(), buffer.size());
            if (n <= 0) break;  // EIO: the simulator closed the terminal
            received.append(buffer.data(), static_cast<std::size_t>(n));
        }
        return received;
    }

    // Exit status, or -1 when it did not end in time.
    int wait() { return child.wait(kPatience); }

    void signal(int number) { child.signal(number); }
    const std::string& err() const { return child.err; }

  private:
    static std::vector<std::string> withSimulator(std::vector<std::string> args) {
        args.insert(args.begin(), {simulatorPath(), "--quiet", "--settle-ms", "0"});
        return args;
    }

    rszorvik::test::ChildProcess child;
    int readerFd = -1;
};

std::vector<std::string> splitLines(const std::string& bytes, char terminator) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : bytes) {
        if (c == terminator) {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    return lines;
}

}  // namespace

struct Session {
    const char* name;
    std::vector<std::string> args;
    std::string expected;
};

class SimulatorSessionTest : public ::testing::TestWithParam<Session> {};

TEST_P(SimulatorSessionTest, ReaderReceivesExactlyTheInstrumentsBytes) {
    const auto& session = GetParam();
    Simulator sim(session.args);
    const std::string path = sim.slavePath();
    ASSERT_FALSE(path.empty());
    sim.openReader(path);
    EXPECT_EQ(sim.read(), session.expected);
    EXPECT_EQ(sim.wait(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SimulatorSessionTest,
    ::testing::Values(
        Session{"and",
                {"--format", "and", "--values", "12.34,-5", "-i", "0"},
                "ST,+00012.34  g\r\nST,-00000005  g\r\n"},
        Session{"sicsRepeated",
                {"--format", "sics", "--values", "16.7", "--repeat", "2", "-i", "5"},
                "S S       16.7 g\r\nS S       16.7 g\r\n"},
        Session{"rangeWithoutLastTerminator",
                {"--from", "1", "--to", "3", "--no-terminator-last", "-i", "0"},
                "1\r2\r3"},
        Session{"garbageAfterEverySecondLine",
                {"--format", "barcode", "--values", "111,222,333,444", "--garbage-every", "2", "-i", "0"},
                "111\r222\r\x02#?!~*\xB0\x03\r333\r444\r"},
        Session{"lineSplitByAPause",
                {"--format", "mitutoyo", "--values", "-1.1805,2", "--pause-mid-line", "50", "-i", "0"},
                "01A-001.1805\r01A+00000002\r"},
        Session{"ownTerminator",
                {"--format", "kern", "--values", "1", "--terminator", "\\x03"},
                "         1 g\x03"},
        Session{"countCyclesTheValues", {"--values", "1,2", "--count", "3", "-i", "0"}, "1\r2\r1\r"}),
    [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

TEST(SimulatorTest, WaitsForAReaderBeforeSending) {
    Simulator sim({"--values", "1,2", "-i", "0"});
    const std::string path = sim.slavePath();
    ASSERT_FALSE(path.empty());
    // A simulator that did not wait would have sent everything and closed the terminal by now.
    std::this_thread::sleep_for(300ms);
    sim.openReader(path);
    EXPECT_EQ(sim.read(), "1\r2\r");
    EXPECT_EQ(sim.wait(), 0);
}

TEST(SimulatorTest, PausesWhileTheReaderIsAwayAndGoesOnWhereItWas) {
    Simulator sim({"--from", "1", "--to", "8", "-i", "50"});
    const std::string path = sim.slavePath();
    ASSERT_FALSE(path.empty());
    sim.openReader(path);
    const std::string first = sim.read(2);
    sim.closeReader();
    std::this_thread::sleep_for(200ms);
    sim.openReader(path);
    const std::string second = sim.read();
    EXPECT_EQ(sim.wait(), 0);

    const auto lines = splitLines(first + second, '\r');
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "1");
    EXPECT_EQ(lines.back(), "8");
    // Nothing repeated, nothing out of order; the values sent while nobody listened are not sent at all.
    for (std::size_t i = 1; i < lines.size(); ++i)
        EXPECT_LT(std::stoi(lines[i - 1]), std::stoi(lines[i]));
    EXPECT_FALSE(second.empty());
}

TEST(SimulatorTest, LinkPointsToTheTerminalUntilStoppedBySignal) {
    const fs::path link = fs::temp_directory_path() / ("zorvik-sim-link-" + std::to_string(::getpid()));
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        Simulator sim({"--link", link.string(), "--count", "0", "-i", "20"});
        const std::string path = sim.slavePath();
        ASSERT_FALSE(path.empty());
        ASSERT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link), path);
        sim.openReader(link.string());
        EXPECT_EQ(sim.read(12).substr(0, 12), "12.34\r12.34\r");
        sim.signal(signal);
        EXPECT_EQ(sim.wait(), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    }
}

TEST(SimulatorTest, AnExistingLinkPathIsRefusedAndLeftAlone) {
    const fs::path base = fs::temp_directory_path() / ("zorvik-sim-taken-" + std::to_string(::getpid()));
    fs::create_directories(base);
    fs::create_symlink("/dev/null", base / "foreign-link");
    std::ofstream(base / "file") << "x";
    for (const char* name : {"foreign-link", "file"}) {
        const auto type = fs::symlink_status(base / name).type();
        Simulator sim({"--link", (base / name).string()});
        EXPECT_EQ(sim.slavePath(), "") << name;
        EXPECT_EQ(sim.wait(), 2) << name;
        EXPECT_EQ(fs::symlink_status(base / name).type(), type) << name;
    }
    EXPECT_EQ(fs::read_symlink(base / "foreign-link"), "/dev/null");
    fs::remove_all(base);
}

TEST(SimulatorTest, WithoutAReaderNoWaitSaysWhyItStopped) {
    Simulator sim({"--no-wait", "--count", "0", "-i", "0"});
    ASSERT_FALSE(sim.slavePath().empty());
    EXPECT_EQ(sim.wait(), 1);
    EXPECT_NE(sim.err().find("stopped: no reader has the terminal open and its buffer is full"),
              std::string::npos)
        << sim.err();
}

TEST(SimulatorTest, ValuesTheFormatCannotCarryAreRefusedBeforeATerminalIsOffered) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--format", "and", "--values", "123456789"},
                                               {"--format", "nosuch"},
                                               {"--values", "1,x"},
                                               {"--from", "1"}}) {
        Simulator sim(args);
        EXPECT_EQ(sim.slavePath(), "");
        EXPECT_EQ(sim.wait(), 2) << args[1];
    }
}
