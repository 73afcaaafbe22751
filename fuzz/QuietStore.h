#pragma once

#include <filesystem>

#include "prefs/Logger.h"
#include "support/TempDir.h"

namespace rszorvik::fuzz {

// A folder for settings files, with the preferences log silenced: every repaired or unknown key would
// otherwise be written to standard error on each of millions of runs.
class QuietStore {
  public:
    QuietStore() {
        prefs::Logger::setSink([](const prefs::Logger::Record&) {});
    }
    std::filesystem::path file(const char* name) const { return dir.path() / name; }

  private:
    test::TempDir dir{"zorvik-fuzz"};
};

}  // namespace rszorvik::fuzz
