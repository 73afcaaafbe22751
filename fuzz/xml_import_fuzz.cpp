// The XML settings import on files from anywhere: a refused file changes nothing, an accepted one puts
// only values the settings accept.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "QuietStore.h"
#include "base/SystemProperties.h"
#include "config/Config.h"
#include "prefs/FilePreferencesFactory.h"
#include "prefs/Preferences.h"
#include "prefs/SettingsStore.h"
#include "prefs/XmlSupport.h"

using namespace rszorvik::prefs;
using namespace rszorvik::fuzz;
using rszorvik::config::Config;
using rszorvik::test::readFile;
using rszorvik::test::writeFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QuietStore scratch;
    const auto store = scratch.file("prefs.txt");
    const auto document = scratch.file("import.xml");
    writeFile(document, std::string(asText(data, size)));
    // A fresh store each time, holding one setting, so that an import that changes it shows.
    writeFile(store, "com.vexlune.zorvik.delay=33\n");
    rszorvik::base::SystemProperties::set(std::string(FilePreferencesFactory::SYSTEM_PROPERTY_FILE),
                                          store.string());
    PreferencesFactory::setFactory(std::make_shared<FilePreferencesFactory>());
    FilePreferencesFactory::reset();

    const std::string before = readFile(store);
    try {
        importSettings(document, *Preferences::userRoot());
    } catch (const InvalidPreferencesFormatException&) {
        check(readFile(store) == before, "a refused import changed the store");
        return 0;
    }
    // Accepted: the settings load from the store without repair.
    const StoredSettings loaded = openStoredSettings(store, {"/dev/ttyUSB0"});
    check(loaded.loadedClean, "an accepted import stored a value that needs repair",
          loaded.repairs.empty() ? "" : loaded.repairs.front().key);
    return 0;
}
