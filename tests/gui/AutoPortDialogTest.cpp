#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/AutoPortDialog.h"
#include "app/CatalogText.h"
#include "base/SystemProperties.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"
#include "support/FakeNativeSerial.h"
#include "support/RecordingDialogs.h"
#include "support/SerialTestSupport.h"
#include "util/FriendlyPortUtil.h"
#include "worker/AutoPortWorker.h"

using rszorvik::AutoPortDialog;
using rszorvik::test::FakeNativeSerial;
using rszorvik::test::LineRule;
using rszorvik::worker::AutoPortWorker;

using rszorvik::test::waitFor;

namespace {

std::string T(const char* key) {
    return AutoPortWorker::text(key);
}

struct Device {
    std::string name;
    bool tied;  // DSR follows DTR and CTS follows RTS: score 2; otherwise nothing answers: score 0
    bool described;
};

// A detection shown in the dialog over scripted ports.
struct Detection {
    FakeNativeSerial fake;
    Zivaraze::ScopedNativeApi guard{fake.api()};
    std::vector<std::string> selected;
    std::unique_ptr<AutoPortDialog> dialog;

    explicit Detection(const std::vector<Device>& devices) {
        rszorvik::test::guiApplication();
        for (const Device& d : devices) {
            auto& port = fake.port(d.name);
            if (d.tied) port.dsr(LineRule::FollowDtr).cts(LineRule::FollowRts);
            if (d.described) port.info("FTDI", "USB Serial Port");
        }
        // As the window lists its ports: the port list first, then the friendly names.
        rszorvik::test::selectApplicationPlatform();
        rszorvik::base::SystemProperties::clear("SERIAL_PORT_LIST");
        Zivaraze::SerialPortLocal::clearPortListInfo();
        if (!Zivaraze::SerialPortLocal::getPortList().empty()) rszorvik::util::FriendlyPortUtil::update();
        dialog = std::make_unique<AutoPortDialog>(
            nullptr, [this](const std::string& entry) { selected.push_back(entry); });
        dialog->show();
    }
    QPushButton* button() { return dialog->findChild<QPushButton*>(QStringLiteral("okButton")); }
    QStringList lines() {
        return dialog->findChild<QTextEdit*>(QStringLiteral("textPane1"))
            ->toPlainText()
            .split(QLatin1Char('\n'));
    }
    bool endsWith(const std::string& line) { return lines().last() == QString::fromStdString(line); }
};

struct Case {
    const char* what;
    std::vector<Device> devices;
    std::vector<std::string> ports;
    bool cancelAtOnce;
    std::optional<std::string> selected;  // the entry handed to the port box
    std::string lastLine;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.what;
}

class AutoPortDialogTest : public testing::TestWithParam<Case> {};

TEST_P(AutoPortDialogTest, ShowsTheProbingAndSelectsThePort) {
    const Case& c = GetParam();
    Detection d(c.devices);
    EXPECT_EQ(d.button()->text(), QStringLiteral("OK"));
    d.dialog->start(c.ports);
    EXPECT_EQ(d.button()->text(), rszorvik::catalogText("AutoPortDialog.cancelButton.text"));
    if (c.cancelAtOnce) {
        d.button()->click();
        EXPECT_EQ(d.button()->text(), rszorvik::catalogText("AutoPortDialog.closeButton.text"));
        EXPECT_TRUE(d.dialog->isVisible()) << "cancelling keeps the messages on screen";
    }
    EXPECT_TRUE(waitFor([&] { return d.endsWith(c.lastLine); }, std::chrono::seconds(10)))
        << c.what << ": " << d.lines().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(d.button()->text(), rszorvik::catalogText("AutoPortDialog.closeButton.text"));
    EXPECT_EQ(d.lines().first(), QString::fromStdString(T("auto.port.detection.started")));
    if (c.selected)
        EXPECT_EQ(d.selected, std::vector<std::string>{*c.selected}) << c.what;
    else
        EXPECT_TRUE(d.selected.empty()) << c.what;

    d.button()->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(d.dialog->isVisible()) << c.what;
}

const Device kSilent1{"COM1", false, false};
const Device kTied2{"COM2", true, true};
const Device kTied4{"COM4", true, false};

INSTANTIATE_TEST_SUITE_P(
    Detections, AutoPortDialogTest,
    testing::Values(
        Case{"found, by its friendly name",
             {kSilent1, kTied2},
             {"COM1", "COM2"},
             false,
             "COM2: USB Serial Port - FTDI",
             T("best.port") + " COM2"},
        Case{"found, no friendly name", {kTied4}, {"COM4"}, false, "COM4", T("best.port") + " COM4"},
        Case{"nothing answers", {kSilent1}, {"COM1"}, false, std::nullopt, T("could.not.auto.detect.port")},
        Case{"no ports", {}, {}, false, std::nullopt, T("could.not.auto.detect.port")},
        Case{"cancelled with the button",
             {kSilent1, kTied2},
             {"COM1", "COM2"},
             true,
             std::nullopt,
             T("stopped")}));

// Closing the window while probing stops the worker; its late reports reach no dialog.
TEST(AutoPortDialog, ClosingWhileProbingStopsIt) {
    Detection d({kTied2, kTied4});
    d.dialog->start({"COM2", "COM4"});
    d.dialog->close();
    d.dialog.reset();
    waitFor([] { return false; }, std::chrono::milliseconds(800));
    EXPECT_TRUE(d.selected.empty());
    EXPECT_FALSE(d.fake.find("COM2")->isOpen());
    EXPECT_EQ(d.fake.find("COM4")->openCount(), 0);
}

}  // namespace
