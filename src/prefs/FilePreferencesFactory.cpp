#include "prefs/FilePreferencesFactory.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "base/SystemProperties.h"

namespace rszorvik::prefs {

std::recursive_mutex FilePreferencesFactory::mutex;
std::optional<std::filesystem::path> FilePreferencesFactory::preferencesFile;
std::shared_ptr<FilePreferences> FilePreferencesFactory::rootPreferences;
const Logger FilePreferencesFactory::log("rszorvik.prefs.FilePreferencesFactory");

std::shared_ptr<Preferences> FilePreferencesFactory::userRoot() {
    std::lock_guard guard(mutex);
    if (!rootPreferences) {
        log.fine("Instantiating root preferences");
        rootPreferences = FilePreferences::create(nullptr, "");
    }
    return rootPreferences;
}

std::filesystem::path FilePreferencesFactory::getPreferencesFile() {
    std::lock_guard guard(mutex);
    if (!preferencesFile) {
        auto property = base::SystemProperties::get(std::string(SYSTEM_PROPERTY_FILE));
        std::filesystem::path file =
            property && !property->empty() ? std::filesystem::path(*property) : userHome() / ".fileprefs";
        preferencesFile = std::filesystem::absolute(file);
        log.info("Preferences file is " + preferencesFile->string());
    }
    return *preferencesFile;
}

std::filesystem::path FilePreferencesFactory::userHome() {
    if (auto home = base::SystemProperties::get("user.home"); home && !home->empty()) return *home;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    // No home at all: the current folder, where the relative name resolves.
    return std::filesystem::current_path();
}

void FilePreferencesFactory::reset() {
    std::lock_guard guard(mutex);
    preferencesFile.reset();
    rootPreferences.reset();
}

}  // namespace rszorvik::prefs
