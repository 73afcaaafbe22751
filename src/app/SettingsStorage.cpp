#include "app/SettingsStorage.h"

#include <iostream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "prefs/Preferences.h"

namespace rszorvik {

SettingsStorage::SettingsStorage(prefs::StoredSettings& storedSettings, config::Config& saved,
                                 std::filesystem::path file, std::vector<std::string> portList)
    : stored(storedSettings), lastSaved(saved), settingsFile(std::move(file)), ports(std::move(portList)) {
    if (!stored.node) return;
    // Read again rather than taken from the record, which may hold a port from the command line already.
    config::Config loaded;
    prefs::loadConfig(*stored.node, loaded, ports);
    before = prefs::settingTexts(loaded);
    for (auto& [key, text] : prefs::storedTexts(*stored.node))
        before[key] = std::move(text);
}

void SettingsStorage::save() {
    if (saveAllNext) {
        saveEverything();
        return;
    }
    prefs::saveChangedConfig(node(), stored.config, before, std::cerr);
    before = prefs::settingTexts(stored.config);
    lastSaved = config::Config::copyConfig(stored.config);
}

void SettingsStorage::saveEverything() {
    prefs::saveConfig(node(), stored.config);
    before = prefs::settingTexts(stored.config);
    lastSaved = config::Config::copyConfig(stored.config);
    saveAllNext = false;
}

bool SettingsStorage::saveIfChanged() {
    if (!config::Config::hasChanged(stored.config, lastSaved)) return false;
    save();
    return true;
}

void SettingsStorage::exportTo(const std::filesystem::path& file) {
    prefs::Preferences& settings = node();
    // An export over the store would leave a file the next start cannot read as settings.
    std::error_code ec;
    if (std::filesystem::equivalent(file, stored.file, ec))
        throw std::invalid_argument(file.string() + " is the settings file itself; choose another file");
    prefs::exportSettings(settings, file);
}

void SettingsStorage::importFrom(const std::filesystem::path& file) {
    node();  // the store the import goes into must be open, an unreadable file set aside
    prefs::importSettings(file, *prefs::Preferences::userRoot());
    saveAllNext = true;
}

prefs::Preferences& SettingsStorage::node() {
    if (stored.node) return *stored.node;
    // Start-up could not open the store. Open it now; a file that still cannot be read is kept beside
    // the new one, as zorvik-cli does, rather than lost under the window's settings.
    prefs::StoredSettings reopened;
    try {
        reopened = prefs::openStoredSettings(settingsFile, ports);
    } catch (const prefs::UnreadableSettingsException& e) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(e.file(), ec)) throw;  // a device or folder is never replaced
        const auto aside = prefs::setAsideUnreadable(e.file());
        std::cerr << "zorvik: the unreadable settings file is kept as " << aside.string() << '\n';
        reopened = prefs::openStoredSettings(settingsFile, ports);
    }
    stored.node = reopened.node;
    stored.file = reopened.file;
    return *stored.node;
}

}  // namespace rszorvik
