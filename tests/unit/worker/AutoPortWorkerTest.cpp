#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "base/Interruptible.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"
#include "support/FakeNativeSerial.h"
#include "support/SerialTestSupport.h"
#include "worker/AutoPortWorker.h"
#include "worker/PortPermission.h"

using namespace std::chrono_literals;
using rszorvik::base::EventQueueExecutor;
using rszorvik::base::Interruptible;
using rszorvik::test::FakeNativeSerial;
using rszorvik::test::LineRule;
using rszorvik::worker::AutoPortWorker;
using rszorvik::worker::AutoPortWorkerView;

namespace {

std::string T(const char* key) {
    return AutoPortWorker::text(key);
}
std::string testingPort(const std::string& port) {
    return "Teste Port " + port;
}
std::string confidence(int score) {
    return T("confidence") + " " + std::to_string(score);
}

// Every view call as one line, in order.
class RecordingView : public AutoPortWorkerView {
  public:
    void setButtonToCancel() override { events.push_back("button:cancel"); }
    void setButtonToClose() override {
        events.push_back("button:close");
        closed = true;
    }
    void setPort(const std::string& name) override { events.push_back("port:" + name); }
    void update(const std::string& text, std::optional<Style> style) override {
        std::string line = "update:" + text;
        if (style == Style::EMPHASIS) line += " [emphasis]";
        if (style == Style::ALERT) line += " [alert]";
        events.push_back(line);
        // done() ends with an update after the button changed
        ended = closed;
    }

    std::vector<std::string> events;
    bool closed = false;
    bool ended = false;
};

std::string plain(const std::string& text) {
    return "update:" + text;
}

struct Device {
    std::string name;
    LineRule dsr = LineRule::Off;
    LineRule cts = LineRule::Off;
    int openFailure = 0;
    int configureFailure = 0;
};

// One detection over scripted ports, to the end of done().
struct Detection {
    FakeNativeSerial fake;
    Zivaraze::ScopedNativeApi guard{fake.api()};
    EventQueueExecutor executor;
    RecordingView view;
    std::shared_ptr<AutoPortWorker> worker;
    int pauses = 0;

    Detection(const std::vector<Device>& devices, std::vector<std::string> ports,
              std::function<void(Detection&)> onPause = {}) {
        // The serial library settles its platform and loads its module when it is first used. Without
        // this, the detection's thread did that, for the host's platform: it looked for
        // libzspLux86_64bit.so, and the loader's message stayed with a thread that could still be ending
        // when the test program exited. Here it happens once, on the test's thread, for the platform the
        // programs set.
        rszorvik::test::selectApplicationPlatform();
        for (const Device& d : devices) {
            auto& port = fake.port(d.name).dsr(d.dsr).cts(d.cts);
            if (d.openFailure != 0) port.failOpen(d.openFailure);
            if (d.configureFailure != 0) port.failConfigure(d.configureFailure);
        }
        worker = std::make_shared<AutoPortWorker>(executor, view, std::move(ports), [this, onPause] {
            ++pauses;
            if (onPause) onPause(*this);
            Interruptible::sleepFor(0ms);
        });
    }

    void run() {
        worker->execute();
        EXPECT_TRUE(executor.runUntil([this] { return view.ended; }, 10s)) << "detection did not end";
    }
};

// ---- the score of one port, and the output lines it took to find it ----

struct ScoreCase {
    const char* what;
    std::string name;
    LineRule dsr;
    LineRule cts;
    int score;
    int pauses;  // 2 when DSR is on with both outputs off, else 3
};

// Both outputs off, then on (DTR first), then off again at the end, whatever the device does.
const std::vector<std::string> kProbeLines{"DTR=0", "RTS=0", "DTR=1", "RTS=1", "DTR=0", "RTS=0"};

class ScoreTest : public testing::TestWithParam<ScoreCase> {};

TEST_P(ScoreTest, ScoresThePortFromItsInputLines) {
    const ScoreCase& c = GetParam();
    Detection r({{c.name, c.dsr, c.cts}}, {c.name});
    r.run();

    const auto reports = r.worker->reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].confidence, c.score);
    EXPECT_EQ(reports[0].messages, (std::vector<std::string>{testingPort(c.name), confidence(c.score)}));
    const auto* port = r.fake.find(c.name);
    EXPECT_EQ(port->outputHistory(), kProbeLines);
    EXPECT_EQ(r.pauses, c.pauses);
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->openCount(), 1);
    // the probe settings: 9600 bit/s, 8 data bits, no parity, 1 stop bit, no handshake
    const ZspConfig cfg = port->lastConfig();
    EXPECT_EQ(cfg.bitRate, Zivaraze::SerialConfig::BR_9600);
    EXPECT_EQ(cfg.dataBits, Zivaraze::SerialConfig::LN_8BITS);
    EXPECT_EQ(cfg.parity, Zivaraze::SerialConfig::PY_NONE);
    EXPECT_EQ(cfg.stopBits, Zivaraze::SerialConfig::ST_1BITS);
    EXPECT_EQ(cfg.handshake, Zivaraze::SerialConfig::HS_NONE);
    EXPECT_EQ(r.worker->get(), c.score > 0 ? std::optional(c.name) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScoreTest,
    testing::Values(ScoreCase{"tiedToOutputs", "COM1", LineRule::FollowDtr, LineRule::FollowRts, 2, 3},
                    ScoreCase{"alwaysOn", "COM1", LineRule::On, LineRule::On, 3, 2},
                    ScoreCase{"alwaysOnCom3", "COM3", LineRule::On, LineRule::On, 1, 2},
                    ScoreCase{"alwaysOnTtyS2", "/dev/ttyS2", LineRule::On, LineRule::On, 3, 2},
                    ScoreCase{"dsrOnOnly", "COM1", LineRule::On, LineRule::Off, 1, 2},
                    ScoreCase{"dsrFollowsDtrOnly", "COM1", LineRule::FollowDtr, LineRule::Off, 1, 3},
                    ScoreCase{"ctsFollowsRtsOnly", "COM1", LineRule::Off, LineRule::FollowRts, 1, 3},
                    ScoreCase{"ctsOnOnly", "COM1", LineRule::Off, LineRule::On, 1, 3},
                    ScoreCase{"crossed", "COM1", LineRule::FollowRts, LineRule::FollowDtr, 1, 3},
                    ScoreCase{"nothing", "COM1", LineRule::Off, LineRule::Off, 0, 3}),
    [](const auto& param) { return std::string(param.param.what); });

// ---- the choice among ports, and what the view is told ----

struct SelectCase {
    const char* what;
    std::vector<Device> devices;
    std::vector<std::string> ports;
    // Per port, its score, or the messages (one per line) of the port that could not be probed.
    std::vector<std::variant<int, std::string>> outcomes;
    std::optional<std::string> best;
};

const Device kTied1{"COM1", LineRule::FollowDtr, LineRule::FollowRts};
const Device kTied4{"COM4", LineRule::FollowDtr, LineRule::FollowRts};
const Device kOn5{"COM5", LineRule::On, LineRule::On};
const Device kDead6{"COM6"};
const Device kCtsOnly7{"COM7", LineRule::Off, LineRule::FollowRts};

class SelectTest : public testing::TestWithParam<SelectCase> {};

TEST_P(SelectTest, KeepsTheFirstPortWithTheHighestScoreAboveZero) {
    const SelectCase& c = GetParam();
    Detection r(c.devices, c.ports);
    r.view.setButtonToCancel();  // as the dialog is shown
    r.run();

    std::vector<std::string> expected{"button:cancel", plain(T("auto.port.detection.started"))};
    const auto reports = r.worker->reports();
    ASSERT_EQ(reports.size(), c.ports.size());
    for (std::size_t i = 0; i < c.ports.size(); ++i) {
        EXPECT_EQ(reports[i].port, c.ports[i]);
        expected.push_back(plain(testingPort(c.ports[i])));
        if (const int* score = std::get_if<int>(&c.outcomes[i])) {
            EXPECT_EQ(reports[i].confidence, *score) << c.ports[i];
            expected.push_back(plain(confidence(*score)));
        } else {
            EXPECT_EQ(reports[i].confidence, std::nullopt) << c.ports[i];
            std::istringstream messages(std::get<std::string>(c.outcomes[i]));
            for (std::string message; std::getline(messages, message);)
                expected.push_back(plain(message));
        }
    }
    expected.push_back("button:close");
    if (c.best) {
        expected.push_back("port:" + *c.best);
        expected.push_back(plain(T("best.port") + " " + *c.best) + " [emphasis]");
    } else {
        expected.push_back(plain(T("could.not.auto.detect.port")) + " [alert]");
    }
    EXPECT_EQ(r.view.events, expected);
    EXPECT_EQ(r.worker->get(), c.best);
    for (const Device& d : c.devices)
        EXPECT_FALSE(r.fake.find(d.name)->isOpen()) << d.name;
}

INSTANTIATE_TEST_SUITE_P(
    Ports, SelectTest,
    testing::Values(
        SelectCase{"tieKeepsFirst", {kTied1, kTied4}, {"COM1", "COM4"}, {2, 2}, "COM1"},
        SelectCase{"higherLaterWins", {kCtsOnly7, kTied1, kOn5}, {"COM7", "COM1", "COM5"}, {1, 2, 3}, "COM5"},
        SelectCase{"lowerLaterLoses", {kOn5, kTied1}, {"COM5", "COM1"}, {3, 2}, "COM5"},
        SelectCase{"zeroNeverWins", {kDead6, {"COM8"}}, {"COM6", "COM8"}, {0, 0}, std::nullopt},
        SelectCase{"emptyList", {}, {}, {}, std::nullopt},
        SelectCase{"openFailureSkipped",
                   {{"COM2", LineRule::On, LineRule::On, 1002}, kTied4},
                   {"COM2", "COM4"},
                   {"COM2: SerOpenPort failed: Port is in use", 2},
                   "COM4"},
        SelectCase{
            "permissionDeniedIsExplained",
            {{"COM2", LineRule::On, LineRule::On, 1006}, kTied4},
            {"COM2", "COM4"},
            {"COM2: SerOpenPort failed: Permission denied\n" + rszorvik::worker::permissionAdvice("COM2", {}),
             2},
            "COM4"},
        SelectCase{"configureFailureSkipped",
                   {{"COM2", LineRule::On, LineRule::On, 0, 1009}, kDead6},
                   {"COM2", "COM6"},
                   {"Configure failed: 1009", 0},
                   std::nullopt},
        SelectCase{"unknownPortSkipped",
                   {kTied4},
                   {"COM9", "COM4"},
                   {"COM9: SerOpenPort failed: 2: No such file or directory", 2},
                   "COM4"}),
    [](const auto& param) { return std::string(param.param.what); });

TEST(AutoPortWorker, CancelAfterTheSecondPortSelectsNothing) {
    const std::vector<Device> devices{kOn5, kTied1, kTied4};
    Detection r(devices, {"COM5", "COM1", "COM4"}, [](Detection& run) {
        // first pause on the third port
        if (run.fake.find("COM4")->isOpen()) run.worker->cancel(true);
    });
    r.run();

    EXPECT_TRUE(r.worker->isCancelled());
    ASSERT_GE(r.view.events.size(), 2u);
    EXPECT_EQ(r.view.events[r.view.events.size() - 2], "button:close");
    EXPECT_EQ(r.view.events.back(), plain(T("stopped")));
    for (const auto& e : r.view.events)
        EXPECT_NE(e.rfind("port:", 0), 0u) << e;
    const auto reports = r.worker->reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].confidence, 3);
    EXPECT_EQ(reports[1].confidence, 2);
    EXPECT_EQ(reports[2].confidence, std::nullopt);
    // the interrupted port is released with its output lines off
    const auto* third = r.fake.find("COM4");
    EXPECT_FALSE(third->isOpen());
    EXPECT_FALSE(third->dtr());
    EXPECT_FALSE(third->rts());
}

TEST(AutoPortWorker, CancelEndsAPauseAtOnce) {
    FakeNativeSerial fake;
    Zivaraze::ScopedNativeApi guard(fake.api());
    fake.port("COM1").dsr(LineRule::FollowDtr).cts(LineRule::FollowRts);
    EventQueueExecutor executor;
    RecordingView view;
    // A pause that would outlast the test by far unless the cancel cuts it short.
    auto worker = std::make_shared<AutoPortWorker>(executor, view, std::vector<std::string>{"COM1"},
                                                   [] { Interruptible::sleepFor(1h); });
    worker->execute();
    // The port opens after the first message; nothing is posted when it does, so look now and then.
    for (int i = 0; i < 1000 && !fake.find("COM1")->isOpen(); ++i)
        executor.runFor(5ms);
    ASSERT_TRUE(fake.find("COM1")->isOpen());
    EXPECT_TRUE(worker->cancel(true));
    EXPECT_TRUE(executor.runUntil([&] { return view.ended; }, 10s));
    EXPECT_EQ(view.events.back(), plain(T("stopped")));
    EXPECT_FALSE(fake.find("COM1")->isOpen());
}

TEST(AutoPortWorker, AFailureOtherThanAPortErrorEndsProbing) {
    // No native table and no native module (this build makes none for Linux on ARM): the first open fails
    // outright.
    const rszorvik::test::ScopedSerialPlatform withoutModule("Linux", "armv5tel");
    if (Zivaraze::SerialPortLocal::isLibraryLoaded() || Zivaraze::NativeLibrary::current() != nullptr)
        GTEST_SKIP() << "a native serial module is loaded";
    EventQueueExecutor executor;
    RecordingView view;
    auto worker = std::make_shared<AutoPortWorker>(executor, view, std::vector<std::string>{"COM1", "COM2"},
                                                   [] { Interruptible::sleepFor(0ms); });
    worker->execute();
    ASSERT_TRUE(executor.runUntil([&] { return view.ended; }, 10s));
    ASSERT_EQ(worker->reports().size(), 1u);
    const std::string last = view.events.back();
    EXPECT_EQ(last.rfind(plain(T("execution.exception")), 0), 0u) << last;
    EXPECT_GT(last.size(), plain(T("execution.exception")).size()) << "the failure's message is missing";
    for (const auto& e : view.events)
        EXPECT_NE(e.rfind("port:", 0), 0u) << e;
}

}  // namespace
