#pragma once

#include <filesystem>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/Config.h"
#include "prefs/Preferences.h"

namespace rszorvik::prefs {

// A stored value that failed its check and was replaced by the key's default when loading.
struct RepairedValue {
    std::string key;
    std::string stored;
};

// Reads the settings node into config, key by key with each key's default and check; a stored value that
// fails its check (or does not parse) is replaced by the default and, when repairs is given, added to
// it. "port" is read only when portList is not empty, its default being the first port. Writes nothing.
// Answers false when a value was repaired.
bool loadConfig(Preferences& node, config::Config& config, const std::vector<std::string>& portList,
                std::vector<RepairedValue>* repairs = nullptr);

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

// The texts a save of config writes, by key: the stored encoding of every setting ("port" and "prevPort"
// both the port, and only when a port is set; a setting the record cannot tell, such as an unset preset,
// is left out).
std::map<std::string, std::string> settingTexts(const config::Config& config);
// The texts the node holds for the settings, by key (keys without a value left out).
std::map<std::string, std::string> storedTexts(Preferences& node);

// Saves what a front end changed, leaving what others saved: a setting whose text differs from `before`
// (the texts as the store held them when the front end loaded them, or as it last saved them) is
// written; every other setting only where the file holds no value yet. All other keys keep what the file
// holds at this moment. One read and one write of the file, which other saves wait for (Preferences::
// merge). A value the store refuses is printed to diagnostics as "saveConfig exception: " and the message
// and left out; a failure to read or write the file (BackingStoreException) reaches the caller.
void saveChangedConfig(Preferences& node, const config::Config& config,
                       const std::map<std::string, std::string>& before, std::ostream& diagnostics);

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
    std::vector<RepairedValue> repairs;
};

// The settings file exists but cannot be read as settings (no permission, not a regular file, too
// large, malformed). Using defaults in its place would lose the operator's settings at the next save.
class UnreadableSettingsException : public BackingStoreException {
  public:
    UnreadableSettingsException(std::filesystem::path file, const std::string& problem)
        : BackingStoreException(problem), settingsFile(std::move(file)) {}
    const std::filesystem::path& file() const { return settingsFile; }

  private:
    std::filesystem::path settingsFile;
};

// Makes the file-backed store the process's store, pointed at file (empty: defaultSettingsFile(), whose
// folders are created), opens the settings node and loads it; each repaired value is logged as a warning
// with its key and stored text, and keys the settings do not have are logged and kept (another version
// of the program may use them). Replaces any store opened before. Throws UnreadableSettingsException
// when the file exists but cannot be read; the file is then left alone.
StoredSettings openStoredSettings(const std::filesystem::path& file,
                                  const std::vector<std::string>& portList);

// The settings a front end starts with when none can be read: every key's load default, "port" the first
// of portList. Touches no store.
config::Config defaultConfig(const std::vector<std::string>& portList);

// Moves an unreadable settings file aside, to "<name>.unreadable-<YYYYMMDD-HHMMSS>" in its folder, so that
// a save the user asked for does not destroy it. Answers the new name; throws std::system_error when the
// file cannot be moved.
std::filesystem::path setAsideUnreadable(const std::filesystem::path& file);

// Writes the settings node, with all its keys, as a preferences XML file (replacing the file whole).
void exportSettings(Preferences& node, const std::filesystem::path& file);

// Puts every entry of the settings node held by an exported file into the store below root, and flushes.
// A file that is not such an export (malformed, foreign, another node's entries, hostile), or that holds
// a value a setting's check refuses (named with key, value and what it accepts), is refused with
// InvalidPreferencesFormatException and changes nothing. Keys that are no settings are imported too
// (another version may use them) and answered, so that the caller can report them.
std::vector<std::string> importSettings(const std::filesystem::path& file, Preferences& root);

}  // namespace rszorvik::prefs
