#include "prefs/FilePreferencesFactory.h"

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
        // One kind of separator on Windows, whatever the parts were written with.
        preferencesFile = std::filesystem::absolute(file).make_preferred();
        log.info("Preferences file is " + preferencesFile->string());
    }
    return *preferencesFile;
}

void FilePreferencesFactory::reset() {
    std::lock_guard guard(mutex);
    preferencesFile.reset();
    rootPreferences.reset();
}

}  // namespace rszorvik::prefs
