#pragma once

#include <QIcon>
#include <QPixmap>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/CatalogKeys.h"
#include "config/Config.h"
#include "prefs/SettingsStore.h"

namespace rszorvik {

class RevareRiDevFrame2;
class SettingsStorage;
class StatusLineUpdateCheck;

// The native serial module cannot be loaded: the program cannot talk to any port.
class NativeModuleMissingError : public std::runtime_error {
  public:
    NativeModuleMissingError() : std::runtime_error("native serial module not loaded") {}
};

// The serial ports as the port box lists them, in discovery order: the friendly name where the driver is
// known, else the plain name; an empty entry stays where the library reported it. Throws when the serial
// library cannot list its ports.
std::vector<std::string> friendlyPortList();
// friendlyPortList() for the start-up: NativeModuleMissingError without the module.
std::vector<std::string> discoverSerialPorts();

// An image that ships with the program; when it is missing, says "Couldn't find file: " and the name on
// standard error and answers a null pixmap.
QPixmap createImageIcon(const std::string& path, const std::string& description);

// The window's icon from every size that ships with the program.
QIcon windowIcon();

// What the window's start depends on; the defaults are the real ones, tests replace them.
struct StartUpOptions {
    std::vector<std::string> args;  // the program's arguments, without its name
    std::vector<RequiredKeys> requiredKeys = requiredCatalogKeys();
    std::filesystem::path settingsFile;                       // empty: the default settings file
    std::function<std::vector<std::string>()> discoverPorts;  // empty: discoverSerialPorts
    std::function<int()> updateDraw;                          // 0..3, 0 checks; empty: a fresh random draw
    std::function<void(RevareRiDevFrame2&)> startOutput;      // empty: as a click on the start button
    std::function<void(int)> exit;  // ends the program with a status; empty: ends the event loop with it
};

// The start of the window, from the catalogue check to the automatic start of keyboard output. Keeps the
// settings, the window and the update check for the rest of the process.
class StartUp {
  public:
    static constexpr int kToolTipMillis = 10000;
    static constexpr int kNoNativeModuleStatus = 2;
    static constexpr int kDamagedFilesStatus = 4;

    explicit StartUp(StartUpOptions options = {});
    ~StartUp();
    StartUp(const StartUp&) = delete;
    StartUp& operator=(const StartUp&) = delete;

    // Runs the sequence on the GUI thread. Nothing when the window is up (the event loop takes over), or the
    // exit status of a start that cannot go on; no window exists then.
    std::optional<int> run();

    RevareRiDevFrame2* window() const { return frame.get(); }
    const std::vector<std::string>& ports() const { return portList; }
    const prefs::StoredSettings& settings() const { return stored; }
    config::Config& config() { return stored.config; }
    // The settings as loaded (after the command line port) or as last saved by the window, for telling
    // whether anything changed.
    const config::Config& oldConfig() const { return loadedConfig; }
    bool updateCheckStarted() const { return updateCheck != nullptr; }
    bool outputStarted() const { return autoStarted; }

  private:
    bool catalogsComplete();
    std::optional<int> listPorts();
    void loadConfig();
    void maybeCheckForUpdates();
    void autoStart();

    StartUpOptions options;
    std::optional<std::string> commandLinePort;
    std::vector<std::string> portList;
    prefs::StoredSettings stored;
    config::Config loadedConfig;
    std::unique_ptr<SettingsStorage> storage;  // before the window, which uses it
    std::unique_ptr<RevareRiDevFrame2> frame;
    std::shared_ptr<StatusLineUpdateCheck> updateCheck;
    bool autoStarted = false;
};

}  // namespace rszorvik
