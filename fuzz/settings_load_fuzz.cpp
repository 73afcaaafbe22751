// A settings file someone else edited, loaded as a front end loads it: read, repaired key by key,
// unknown keys kept. What loads must save and load again clean and unchanged.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "QuietStore.h"
#include "config/Config.h"
#include "prefs/SettingsStore.h"

using namespace rszorvik::prefs;
using namespace rszorvik::fuzz;
using rszorvik::config::Config;
using rszorvik::test::readFile;
using rszorvik::test::writeFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QuietStore scratch;
    const auto file = scratch.file("prefs.txt");
    writeFile(file, std::string(asText(data, size)));

    const std::vector<std::string> ports{"/dev/ttyUSB0"};
    StoredSettings loaded;
    try {
        loaded = openStoredSettings(file, ports);
    } catch (const UnreadableSettingsException&) {
        // Refused as a whole: the file must be left exactly as it was.
        check(readFile(file) == asText(data, size), "an unreadable settings file was changed");
        return 0;
    }
    check(loaded.loadedClean == loaded.repairs.empty(), "loadedClean disagrees with the repairs");

    std::ostringstream diagnostics;
    saveConfig(*loaded.node, loaded.config, diagnostics);
    check(diagnostics.str().empty(), "saving loaded settings failed", diagnostics.str());
    const StoredSettings again = openStoredSettings(file, ports);
    check(again.loadedClean, "saved settings needed repair on the next load",
          again.repairs.empty() ? "" : again.repairs.front().key);
    check(!Config::hasChanged(loaded.config, again.config), "saved settings loaded with other values");
    return 0;
}
