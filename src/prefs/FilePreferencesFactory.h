#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "prefs/FilePreferences.h"
#include "prefs/Logger.h"
#include "prefs/Preferences.h"

namespace rszorvik::prefs {

// The factory of the file-backed store: one root (user and system alike) in one file.
class FilePreferencesFactory : public PreferencesFactory {
  public:
    // The process property that names the file.
    static constexpr std::string_view SYSTEM_PROPERTY_FILE =
        "net.norquill.util.prefs.FilePreferencesFactory.file";

    std::shared_ptr<Preferences> userRoot() override;
    std::shared_ptr<Preferences> systemRoot() override { return userRoot(); }

    // The file, resolved once: the property SYSTEM_PROPERTY_FILE, or ".fileprefs" in the user's home
    // folder when the property is absent or empty; made absolute.
    static std::filesystem::path getPreferencesFile();

    // "user.home" from the process properties, else $HOME, else the password database (on Windows
    // %USERPROFILE%).
    static std::filesystem::path userHome();

    // Forgets the resolved file and the root, so that the next use starts afresh (tests point the store
    // at another file this way). Nodes handed out before stay usable but are no longer in the tree.
    static void reset();

  private:
    static std::recursive_mutex mutex;
    static std::optional<std::filesystem::path> preferencesFile;
    static std::shared_ptr<FilePreferences> rootPreferences;
    static const Logger log;
};

}  // namespace rszorvik::prefs
