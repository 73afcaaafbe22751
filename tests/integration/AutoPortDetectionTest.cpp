// Auto-detection over real pseudo-terminals through the native serial module: they have no modem lines,
// so no port may score, and probing must leave them usable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "base/SystemProperties.h"
#include "serial/SerialPortLocal.h"
#include "worker/AutoPortWorker.h"

using namespace std::chrono_literals;
using rszorvik::worker::AutoPortWorker;
using rszorvik::worker::AutoPortWorkerView;

namespace {

class Pty {
  public:
    Pty() {
        char name[256] = {};
        if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        slavePath = name;
    }
    ~Pty() {
        ::close(slaveFd);
        ::close(masterFd);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    const std::string& path() const { return slavePath; }
    int master() const { return masterFd; }

  private:
    int masterFd = -1;
    int slaveFd = -1;
    std::string slavePath;
};

class CollectingView : public AutoPortWorkerView {
  public:
    void setButtonToCancel() override {}
    void setButtonToClose() override { closed = true; }
    void setPort(const std::string& name) override { selected = name; }
    void update(const std::string& text, std::optional<Style>) override {
        texts.push_back(text);
        ended = closed;
    }
    std::vector<std::string> texts;
    std::optional<std::string> selected;
    bool closed = false;
    bool ended = false;
};

TEST(AutoPortDetection, PseudoTerminalsScoreZeroAndStayUsable) {
    // As the program does at start: the Windows module name, which is the module built beside the tests.
    rszorvik::base::SystemProperties::set("ZSP_OSNAME", "Windows");
    rszorvik::base::SystemProperties::set("ZSP_OSARCH", "x86");
    ASSERT_TRUE(Zivaraze::SerialPortLocal::isLibraryLoaded()) << "libzspWin.so was not found beside the test";

    Pty first, second;
    const std::string missing = first.path() + "-missing";
    rszorvik::base::EventQueueExecutor executor;
    CollectingView view;
    // The standard pauses: this is the timing the module and the device see in use.
    auto worker = std::make_shared<AutoPortWorker>(
        executor, view, std::vector<std::string>{first.path(), missing, second.path()});
    worker->execute();
    ASSERT_TRUE(executor.runUntil([&] { return view.ended; }, 20s));

    const auto reports = worker->reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].confidence, 0);
    EXPECT_EQ(reports[1].confidence, std::nullopt);
    ASSERT_EQ(reports[1].messages.size(), 2u);
    EXPECT_NE(reports[1].messages[1].find(missing), std::string::npos) << reports[1].messages[1];
    EXPECT_EQ(reports[2].confidence, 0);
    EXPECT_EQ(worker->get(), std::nullopt);
    EXPECT_EQ(view.selected, std::nullopt);
    EXPECT_EQ(view.texts.back(), AutoPortWorker::text("could.not.auto.detect.port"));

    // Closed and not left locked: the terminals open again and still carry data.
    for (const Pty* pty : {&first, &second}) {
        const int fd = ::open(pty->path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0) << pty->path();
        ASSERT_EQ(::write(pty->master(), "x\n", 2), 2);
        char buffer[8] = {};
        ssize_t got = -1;
        for (int attempt = 0; attempt < 100 && got <= 0; ++attempt) {
            got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0) ::usleep(10000);
        }
        EXPECT_GT(got, 0) << pty->path();
        ::close(fd);
    }
}

TEST(AutoPortDetection, DetectCommandReportsEveryPortAsJson) {
    Pty pty;
    const std::string missing = pty.path() + "-missing";
    const std::string command =
        std::string(ZORVIK_CLI_PATH) + " detect --json '" + pty.path() + "' '" + missing + "' 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    std::array<char, 4096> buffer;
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        out.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "no port found";

    const auto json = nlohmann::json::parse(out);
    ASSERT_EQ(json["ports"].size(), 2u) << out;
    EXPECT_EQ(json["ports"][0]["port"], pty.path());
    EXPECT_EQ(json["ports"][0]["score"], 0);
    EXPECT_TRUE(json["ports"][1]["score"].is_null());
    EXPECT_EQ(json["ports"][1]["messages"].size(), 2u);
    EXPECT_TRUE(json["best"].is_null());
    EXPECT_EQ(json["outcome"], "none");
    EXPECT_EQ(json["message"], AutoPortWorker::text("could.not.auto.detect.port"));
}

}  // namespace
