#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "config/Config.h"
#include "prefs/SettingsStore.h"

namespace rszorvik {

// The window's settings in the store zorvik-cli uses: the same file, the same rules and the same atomic
// save, so that what is set in one shows in the other. GUI thread only. Every failure is thrown to the
// window, which reports it in its own way.
class SettingsStorage {
  public:
    // stored: what start-up opened; its record is the one the window shows. Its node is null when the
    // store could not be opened at start, and is opened at the first save then. lastSaved: the record as
    // the store holds it, for telling whether a save is needed. settingsFile and ports: as start-up used
    // them (an empty file is the default settings file).
    SettingsStorage(prefs::StoredSettings& stored, config::Config& lastSaved,
                    std::filesystem::path settingsFile, std::vector<std::string> ports);

    // Writes the record and flushes it to the file.
    void save();
    // Saves when the record differs from the one last saved (or loaded); true when it saved.
    bool saveIfChanged();
    // Writes the settings node, with all its keys, as an XML export (replacing the file whole).
    void exportTo(const std::filesystem::path& file);
    // Reads an export into the store, replacing the keys it holds; the record is not changed. A file that
    // is no settings export, or holds an invalid value, is refused and the store stays as it was.
    void importFrom(const std::filesystem::path& file);

  private:
    prefs::Preferences& node();

    prefs::StoredSettings& stored;
    config::Config& lastSaved;
    std::filesystem::path settingsFile;
    std::vector<std::string> ports;
};

}  // namespace rszorvik
