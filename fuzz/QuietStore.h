#pragma once

#include <filesystem>

#include "FuzzSupport.h"
#include "prefs/Logger.h"

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
    ScratchDir dir;
};

}  // namespace rszorvik::fuzz
