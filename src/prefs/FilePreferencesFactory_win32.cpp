#include <windows.h>

#include <vector>

#include "base/SystemProperties.h"
#include "prefs/FilePreferencesFactory.h"

namespace rszorvik::prefs {

std::filesystem::path FilePreferencesFactory::userHome() {
    if (auto home = base::SystemProperties::get("user.home"); home && !home->empty()) return *home;
    // Read as UTF-16, so a profile folder with letters outside the code page keeps them.
    const DWORD units = GetEnvironmentVariableW(L"USERPROFILE", nullptr, 0);
    if (units > 1) {
        std::vector<wchar_t> profile(units);
        const DWORD copied = GetEnvironmentVariableW(L"USERPROFILE", profile.data(), units);
        if (copied > 0 && copied < units) return std::filesystem::path(std::wstring(profile.data(), copied));
    }
    // No home at all: the current folder, where the relative name resolves.
    return std::filesystem::current_path();
}

}  // namespace rszorvik::prefs
