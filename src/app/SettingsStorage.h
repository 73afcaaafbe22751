#pragma once

#include <filesystem>
#include <map>
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

    // Writes the settings this window changed since it loaded them (or last saved them), merged into the
    // file as it is now, so that what zorvik-cli or another window saved meanwhile is kept; settings the
    // file lacks are filled in.
    void save();
    // Writes every setting of the record (the export, which must hold what the window shows).
    void saveEverything();
    // Saves when the record differs from the one last saved (or loaded); true when it saved.
    bool saveIfChanged();
    // Writes the settings node, with all its keys, as an XML export (replacing the file whole).
    void exportTo(const std::filesystem::path& file);
    // Reads an export into the store, replacing the keys it holds; the record is not changed, and the
    // next save writes all of it. A file that is no settings export, or holds an invalid value, is
    // refused and the store stays as it was.
    void importFrom(const std::filesystem::path& file);

  private:
    prefs::Preferences& node();

    prefs::StoredSettings& stored;
    config::Config& lastSaved;
    std::filesystem::path settingsFile;
    std::vector<std::string> ports;
    // An import went into the store under the window, which still shows its own settings: the next save
    // writes them all (closing after a cancelled import keeps what the window shows).
    bool saveAllNext = false;
    // The settings' texts as the store held them when the window loaded them (the record's for keys it
    // lacked), or as the window last saved them. Empty when the store could not be read at the start: all
    // the window holds is then its own record.
    std::map<std::string, std::string> before;
};

}  // namespace rszorvik
