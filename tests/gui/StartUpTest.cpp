// The window's start in this process: the recording dialog seam answers, a scripted port discovery stands
// in for the serial library, and a throw-away settings file holds what the previous run stored.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QLabel>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "StartUpFixture.h"
#include "app/CatalogText.h"
#include "app/RevareRiDev.h"
#include "app/RevareRiDevFrame2.h"
#include "app/StartUp.h"
#include "base/MessageFormat.h"
#include "prefs/Preferences.h"
#include "serial/PlatformSupport.h"

namespace rszorvik {
namespace {

using namespace std::chrono_literals;
using test::Messages;
using Fixture = test::StartUpFixture;

std::vector<std::string> none() {
    return {};
}

QString text(const char* key) {
    return catalogText(key);
}

// A dialog by catalogue keys (the catalogues are read after the cases are made): its title, and what its
// text starts with: the key's text and a suffix, or the key's pattern with one argument.
struct Expected {
    const char* title;
    const char* key;
    const char* suffix = "";
    const char* argument = nullptr;

    QString text() const {
        const QString pattern = catalogText(key);
        if (argument == nullptr) return pattern + QString::fromUtf8(suffix);
        return QString::fromStdString(base::formatMessage(pattern.toStdString(), {argument}));
    }
};

struct PortCase {
    const char* name;
    std::vector<std::string> args;
    std::function<std::vector<std::string>()> discover;
    std::map<std::string, std::string> stored;
    std::vector<std::string> ports;  // as the window lists them
    std::string port;                // the current one
    std::vector<Expected> messages;
    bool discovered;
    bool outputStarted;
    std::string loadedPort = port;  // the port of the settings as loaded (the copy for change detection)
};

void PrintTo(const PortCase& c, std::ostream* os) {
    *os << c.name;
}

const std::map<std::string, std::string> kAutoStart{
    {"connect", "AUTO"}, {"abortAutoStartWhenPrevPortNotAvailable", "true"}, {"minimizeToTray", "false"}};

std::map<std::string, std::string> autoStartFrom(const std::string& previousPort) {
    auto values = kAutoStart;
    values["port"] = previousPort;
    values["prevPort"] = previousPort;
    return values;
}

class StartUpPorts : public ::testing::TestWithParam<PortCase> {};

TEST_P(StartUpPorts, ListsStoresAndStarts) {
    const PortCase& c = GetParam();
    Fixture f;
    if (!c.stored.empty()) f.store(c.stored);
    StartUp& startUp = f.start(c.args, c.discover);

    ASSERT_EQ(f.status, std::nullopt);
    ASSERT_NE(startUp.window(), nullptr);
    EXPECT_TRUE(startUp.window()->isVisible()) << "the window opens whatever the ports";
    EXPECT_EQ(startUp.ports(), c.ports);
    EXPECT_EQ(startUp.config().getPort(), c.port);
    EXPECT_EQ(startUp.oldConfig().getPort(), c.loadedPort)
        << "the copy for change detection includes the port";
    EXPECT_EQ(f.discoveries, c.discovered ? 1 : 0);
    EXPECT_EQ(f.starts, c.outputStarted ? 1 : 0);
    const bool toTray = c.stored.count("minimizeToTray") != 0 && c.stored.at("minimizeToTray") == "true";
    EXPECT_EQ(startUp.window()->isMinimized(), c.outputStarted && toTray)
        << "a started window goes to the tray";
    EXPECT_EQ(startUp.window()->windowIcon().availableSizes().size(), 4) << "16, 20, 24 and 32 pixels";
    const Messages shown = f.messages();
    ASSERT_EQ(shown.size(), c.messages.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i].first, text(c.messages[i].title));
        EXPECT_TRUE(shown[i].second.startsWith(c.messages[i].text())) << shown[i].second.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Window, StartUpPorts,
    ::testing::Values(PortCase{"PortArgumentReplacesDiscoveryAndThePreviousPortRule",
                               {"COM7", "ignored"},
                               [] { return std::vector<std::string>{"/dev/ttyS0"}; },
                               autoStartFrom("/dev/ttyS0"),
                               {"COM7"},
                               "COM7",
                               {},
                               false,
                               true},
                      PortCase{"EmptyArgumentDiscovers",
                               {""},
                               [] {
                                   return std::vector<std::string>{"/dev/ttyA", "/dev/ttyB"};
                               },
                               {},
                               {"/dev/ttyA", "/dev/ttyB"},
                               "/dev/ttyA",
                               {},
                               true,
                               false},
                      PortCase{"NoPortSaysSo",
                               {},
                               &none,
                               {},
                               {},
                               "",
                               {{"error", "no.rs.232.port.found.on.your.system.program.will.now.exit"}},
                               true,
                               false},
                      PortCase{"ListingFailureNamesItsReason",
                               {},
                               []() -> std::vector<std::string> { throw std::runtime_error(" no driver"); },
                               {},
                               {},
                               "",
                               {{"error", "error.listing.available.ports", " no driver"}},
                               true,
                               false},
                      PortCase{"PreviousPortPresentStartsAtOnce",
                               {},
                               [] {
                                   return std::vector<std::string>{"/dev/ttyA", "/dev/ttyB"};
                               },
                               autoStartFrom("/dev/ttyB"),
                               {"/dev/ttyA", "/dev/ttyB"},
                               "/dev/ttyB",
                               {},
                               true,
                               true},
                      // As the program stores them, port and previous port are the same: the check must
                      // compare the port the window shows, not the stored one.
                      PortCase{"PreviousPortGoneAbortsTheAutoStart",
                               {},
                               [] { return std::vector<std::string>{"/dev/ttyA"}; },
                               autoStartFrom("/dev/ttyB"),
                               {"/dev/ttyA"},
                               "/dev/ttyA",
                               {{"error", "previously.used.port.0.no.longer.available.naborting.auto.start",
                                 "", "/dev/ttyB"}},
                               true,
                               false,
                               "/dev/ttyB"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(StartUp, StoredUnknownInstrumentLoadsTheDefaultAndSaysSoOnce) {
    Fixture f;
    f.store({{"instrument", "NO_SUCH_SCALE"}});
    StartUp& startUp = f.start({}, [] { return std::vector<std::string>{"/dev/ttyA"}; });

    ASSERT_EQ(f.status, std::nullopt);
    EXPECT_EQ(startUp.config().getInstrument(), prefs::defaultConfig({"/dev/ttyA"}).getInstrument());
    const Messages shown = f.messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, text("error.while.loading.settings"));
    EXPECT_TRUE(shown[0].second.contains(QStringLiteral("NO_SUCH_SCALE"))) << shown[0].second.toStdString();
}

TEST(StartUp, UnreadableSettingsStartWithDefaultsAndLeaveTheFile) {
    Fixture f;
    std::filesystem::create_directories(f.file());  // a folder where the file should be
    StartUp& startUp = f.start({}, [] { return std::vector<std::string>{"/dev/ttyA"}; });

    ASSERT_EQ(f.status, std::nullopt);
    ASSERT_NE(startUp.window(), nullptr);
    EXPECT_EQ(startUp.settings().file, f.file()) << "a later save must know which file to set aside";
    const Messages shown = f.messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, text("error.while.loading.settings"));
    EXPECT_TRUE(shown[0].second.startsWith(text("access.error.while.loading.settings")));
    EXPECT_TRUE(std::filesystem::is_directory(f.file()));
}

// The two fatal ends: nothing is shown but the fixed dialog, nothing is written, no window exists.
TEST(StartUp, MissingCatalogueKeyEndsWithFourBeforeAnything) {
    Fixture f;
    StartUpOptions options;
    options.requiredKeys = requiredCatalogKeys();
    options.requiredKeys.front().keys.push_back("no.such.key");
    options.settingsFile = f.file();
    options.discoverPorts = [&f] {
        ++f.discoveries;
        return none();
    };
    StartUp startUp(std::move(options));

    EXPECT_EQ(startUp.run(), 4);
    EXPECT_EQ(startUp.window(), nullptr);
    EXPECT_EQ(f.discoveries, 0);
    EXPECT_EQ(f.messages(), (Messages{{QStringLiteral("Fatal error"),
                                       QStringLiteral("Program files seem to be damaged or missing!\nTry "
                                                      "downloading and reinstalling the program.")}}));
    EXPECT_FALSE(std::filesystem::exists(f.file()));
}

TEST(StartUp, NativeModuleMissingEndsWithTwoNamingTheSystem) {
    Fixture f;
    f.start({}, []() -> std::vector<std::string> { throw NativeModuleMissingError(); });

    EXPECT_EQ(f.status, 2);
    EXPECT_EQ(f.startUp->window(), nullptr);
    EXPECT_EQ(
        f.messages(),
        (Messages{{text("fatal.error"), text("library.zspwin.not.found.or.not.matching.your.system") + " (" +
                                            QString::fromStdString(Zivaraze::runningPlatform().shown()) +
                                            ")" + text("program.will.now.exit")}}));
    EXPECT_FALSE(f.messages().front().second.contains(QStringLiteral("Windows")));
    EXPECT_FALSE(std::filesystem::exists(f.file()));
}

TEST(StartUp, EveryKeyTheProgramNeedsIsInItsCatalogues) {
    std::size_t count = 0;
    for (const auto& required : requiredCatalogKeys())
        count += required.keys.size();
    EXPECT_EQ(count, 290u);
    EXPECT_EQ(missingCatalogKeys(requiredCatalogKeys()), std::vector<std::string>{});
    EXPECT_EQ(missingCatalogKeys({{"rszorvik.no.such.Bundle", {"a"}}, {kAppCatalog, {"error", "nope"}}}),
              (std::vector<std::string>{"rszorvik.no.such.Bundle", "rszorvik.zorvik: nope"}));
}

struct UpdateCase {
    const char* name;
    const char* checkForUpdates;
    int draw;
    bool checks;
};

void PrintTo(const UpdateCase& c, std::ostream* os) {
    *os << c.name;
}

class StartUpUpdateCheck : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(StartUpUpdateCheck, OnlyOneDrawInFourChecks) {
    const UpdateCase& c = GetParam();
    // Nothing listens there: a check that runs fails at once and says so in the status line.
    ::setenv("ZORVIK_UPDATE_URL", "https://127.0.0.1:1/version.xml", 1);
    Fixture f;
    f.store({{"checkForUpdates", c.checkForUpdates}});
    StartUp& startUp = f.start({"COM1"}, &none, c.draw);
    ::unsetenv("ZORVIK_UPDATE_URL");

    ASSERT_NE(startUp.window(), nullptr);
    EXPECT_EQ(startUp.updateCheckStarted(), c.checks);
    auto* status = startUp.window()->findChild<QLabel*>(QStringLiteral("statusJLabel"));
    ASSERT_NE(status, nullptr);
    if (c.checks)
        EXPECT_TRUE(test::waitFor([&] { return status->text().contains(text("update.check.failed")); }, 10s))
            << status->text().toStdString();
    else
        EXPECT_FALSE(status->text().contains(text("checking.for.update")));
}

INSTANTIATE_TEST_SUITE_P(Window, StartUpUpdateCheck,
                         ::testing::Values(UpdateCase{"DrawZeroChecks", "true", 0, true},
                                           UpdateCase{"DrawOneDoesNot", "true", 1, false},
                                           UpdateCase{"SwitchedOffNeverChecks", "false", 0, false}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace rszorvik
