#pragma once

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/Config.h"
#include "prefs/Preferences.h"

namespace rszorvik::prefs {

// Reads the settings node into config, key by key with each key's default and check; a stored value that
// fails its check (or does not parse) is replaced by the default. "port" is read only when portList is
// not empty, its default being the first port. Writes nothing. Answers false when a value was repaired.
bool loadConfig(Preferences& node, config::Config& config, const std::vector<std::string>& portList);

// What saving does with the stored "port" and "prevPort" when the record holds no port.
enum class EmptyPort {
    KEEP_STORED,  // no port was chosen (none attached): the stored ones stay
    CLEAR,        // the record shows the stored port and the user emptied it: both keys are removed
};

// Writes every key from config ("port" and "prevPort" only when a port is set; see EmptyPort otherwise),
// then flushes the node. A failure while writing the keys is printed to diagnostics as
// "saveConfig exception: " and the message; the flush still happens, and its failure
// (BackingStoreException) reaches the caller.
void saveConfig(Preferences& node, const config::Config& config, std::ostream& diagnostics,
                EmptyPort emptyPort = EmptyPort::KEEP_STORED);
void saveConfig(Preferences& node, const config::Config& config);  // diagnostics to standard error

// Sets one setting of the record from its stored encoding (constant names for enumerations, indexes for
// the serial fields, the input terminator as its code, true/false for booleans, texts otherwise). Throws
// std::invalid_argument naming the key and what it accepts; the record is then unchanged.
void applySetting(config::Config& config, std::string_view key, std::string_view value);

// Where the settings live: "prefs.txt" in vexlune/zorvik below the folder named by "ProgramData" when
// that is set (shared by all users of the machine); else below $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path defaultSettingsFile();

// The stored settings, opened for a front end.
struct StoredSettings {
    std::filesystem::path file;
    std::shared_ptr<Preferences> node;  // the settings node
    config::Config config;
    bool loadedClean = true;  // loadConfig's answer
};

// Makes the file-backed store the process's store, pointed at file (empty: defaultSettingsFile(), whose
// folders are created), opens the settings node and loads it. Replaces any store opened before.
StoredSettings openStoredSettings(const std::filesystem::path& file,
                                  const std::vector<std::string>& portList);

// Writes the settings node, with all its keys, as a preferences XML file (replacing the file whole).
void exportSettings(Preferences& node, const std::filesystem::path& file);

// Puts every entry of the settings node held by an exported file into the store below root, and flushes.
// A file that is not such an export (malformed, foreign, another node's entries, hostile) is refused with
// InvalidPreferencesFormatException and changes nothing.
void importSettings(const std::filesystem::path& file, Preferences& root);

}  // namespace rszorvik::prefs
