#pragma once

// The window's start in the test's process: the recording dialog seam answers, a scripted port discovery
// stands in for the serial library, a throw-away settings file holds what the previous run stored, and
// the program's end is recorded instead of ending the test.

#include <QApplication>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/RevareRiDev.h"
#include "app/RevareRiDevFrame2.h"
#include "app/StartUp.h"
#include "prefs/Preferences.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

namespace rszorvik::test {

using Messages = std::vector<std::pair<QString, QString>>;  // title, text

struct StartUpFixture {
    StartUpFixture() : app(guiApplication()) { RevareRiDev::setProcessProperties(); }

    // What the previous run left in the store, as stored texts.
    void store(const std::map<std::string, std::string>& values) {
        auto stored = prefs::openStoredSettings(file(), {"/dev/ttyS0"});
        for (const auto& [key, value] : values)
            stored.node->put(key, value);
        stored.node->flush();
    }

    StartUp& start(std::vector<std::string> args, std::function<std::vector<std::string>()> discover,
                   int draw = 1) {
        StartUpOptions options;
        options.args = std::move(args);
        options.settingsFile = file();
        options.discoverPorts = [this, discover] {
            ++discoveries;
            return discover();
        };
        options.updateDraw = [draw] { return draw; };
        options.startOutput = [this](RevareRiDevFrame2&) { ++starts; };
        options.exit = [this](int code) { exits.push_back({code, dialogs.messages().size()}); };
        startUp.reset();  // one window at a time, as in a process
        startUp.emplace(std::move(options));
        status = startUp->run();
        return *startUp;
    }

    Messages messages() const {
        Messages shown;
        for (const auto& call : dialogs.messages())
            shown.emplace_back(call.title, call.text);
        return shown;
    }

    std::filesystem::path file() const { return dir / "prefs.txt"; }

    // How the program was asked to end: the status and how many messages had been shown by then.
    struct Exit {
        int status;
        std::size_t messagesBefore;
        bool operator==(const Exit&) const = default;
    };

    QApplication& app;
    RecordingDialogs dialogs;
    TempDir dir{"zorvik-startup"};
    std::optional<StartUp> startUp;
    std::optional<int> status;
    int discoveries = 0;
    int starts = 0;
    std::vector<Exit> exits;
};

}  // namespace rszorvik::test
