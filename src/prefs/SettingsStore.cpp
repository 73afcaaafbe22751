#include "prefs/SettingsStore.h"

#include <ctime>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "base/SystemProperties.h"
#include "base/Utf8.h"
#include "config/SettingsTable.h"
#include "prefs/AtomicFile.h"
#include "prefs/FilePreferences.h"
#include "prefs/FilePreferencesFactory.h"
#include "prefs/Logger.h"
#include "prefs/XmlSupport.h"

namespace rszorvik::prefs {

namespace {

using config::Config;
using config::Setting;

// The value as a message can show it: quoted, control characters and stray bytes as \xNN, at most
// 60 bytes of it.
std::string shown(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::size_t limit = 60;
    std::string text = "\"";
    std::size_t i = 0;
    while (i < value.size() && i < limit) {
        const std::size_t start = i;
        const auto cp = base::utf8::decode(value, i);
        if (!cp || *cp < 0x20 || *cp == 0x7F) {
            const auto c = static_cast<unsigned char>(value[start]);
            text += "\\x";
            text += kHex[c >> 4];
            text += kHex[c & 0xF];
            i = start + 1;
        } else {
            text += value.substr(start, i - start);
        }
    }
    return text + (i < value.size() ? "...\"" : "\"");
}

const Logger& log() {
    static const Logger logger("rszorvik.prefs.SettingsStore");
    return logger;
}

// A setting's value in an import must pass the setting's check, as a save writes it; otherwise it would be
// stored verbatim and silently replaced by a default on the next load. Answers false for a key that is
// no setting (kept: another version may use it).
bool checkImportedValue(const std::string& key, const std::string& value) {
    if (key.find('.') != std::string::npos)
        throw InvalidPreferencesFormatException("The key " + shown(key) + " cannot be stored");
    const Setting* setting = config::findSetting(key);
    if (setting == nullptr) return false;
    if (setting->key == Config::Key::port || setting->key == Config::Key::prevPort) return true;
    try {
        Config scratch;
        applySetting(scratch, key, value);
    } catch (const std::invalid_argument& e) {
        throw InvalidPreferencesFormatException(std::string("The file holds an ") + e.what());
    }
    return true;
}

}  // namespace

bool loadConfig(Preferences& node, Config& config, const std::vector<std::string>& portList,
                std::vector<RepairedValue>* repairs) {
    bool clean = true;
    // The stored text, or none (after noting the repair) when saving could not write it back: a value with
    // NUL or too long for the store, which an edited file may hold, would otherwise stop the next save.
    const auto storable = [&](const std::string& key) -> std::optional<std::string> {
        auto stored = node.get(key);
        if (stored && !Preferences::isValidValue(*stored)) {
            clean = false;
            if (repairs != nullptr) repairs->push_back({key, *stored});
            return std::nullopt;
        }
        return stored;
    };
    for (const Setting& setting : config::settingsTable()) {
        const std::string key(setting.key);
        if (setting.key == Config::Key::port) {
            if (!portList.empty()) config.setPort(storable(key).value_or(portList.front()));
            continue;
        }
        if (setting.key == Config::Key::prevPort) {
            config.setPrevPort(storable(key).value_or(config.getPort()));
            continue;
        }
        auto stored = node.get(key);
        if (!stored) {
            setting.write(config, setting.loadDefault);
        } else if (Preferences::isValidValue(*stored) && setting.valid(*stored)) {
            setting.write(config, *stored);
        } else {
            // Text that does not even parse (a word where a number belongs) counts as repaired too.
            setting.write(config, setting.loadDefault);
            clean = false;
            if (repairs != nullptr) repairs->push_back({key, *stored});
        }
    }
    return clean;
}

void saveConfig(Preferences& node, const Config& config, std::ostream& diagnostics, EmptyPort emptyPort) {
    // The keys go to the store together: the file ends as after one put per key, but is rewritten once
    // rather than once per key.
    std::vector<std::pair<std::string, std::string>> entries;
    for (const Setting* setting : config::settingsInSaveOrder()) {
        if (setting->key == Config::Key::port || setting->key == Config::Key::prevPort) {
            // Both record the port in use; without one the stored ones are kept.
            if (!config.getPort().empty()) entries.emplace_back(setting->key, config.getPort());
            continue;
        }
        // A record without a preset (never loaded) leaves the key alone rather than stopping the save.
        if (auto value = setting->read(config)) entries.emplace_back(setting->key, *value);
    }
    try {
        node.putAll(entries);
        if (config.getPort().empty() && emptyPort == EmptyPort::CLEAR) {
            node.remove(std::string(Config::Key::port));
            node.remove(std::string(Config::Key::prevPort));
        }
    } catch (const std::exception& e) {
        diagnostics << "saveConfig exception: " << e.what() << std::endl;
    }
    node.flush();
}

std::map<std::string, std::string> settingTexts(const Config& config) {
    std::map<std::string, std::string> texts;
    for (const Setting* setting : config::settingsInSaveOrder()) {
        if (setting->key == Config::Key::port || setting->key == Config::Key::prevPort) {
            if (!config.getPort().empty()) texts.emplace(setting->key, config.getPort());
        } else if (auto value = setting->read(config)) {
            texts.emplace(setting->key, *value);
        }
    }
    return texts;
}

std::map<std::string, std::string> storedTexts(Preferences& node) {
    std::map<std::string, std::string> texts;
    for (const Setting& setting : config::settingsTable()) {
        const std::string key(setting.key);
        if (auto value = node.get(key)) texts.emplace(key, *value);
    }
    return texts;
}

void saveChangedConfig(Preferences& node, const Config& config,
                       const std::map<std::string, std::string>& before, std::ostream& diagnostics) {
    std::vector<std::pair<std::string, std::string>> changed;
    std::vector<std::pair<std::string, std::string>> missing;
    for (auto& [key, value] : settingTexts(config)) {
        if (!Preferences::isValidValue(value)) {
            // As a save of every key would report it; the stored value stays.
            diagnostics << "saveConfig exception: the value of " << key
                        << " cannot be stored: " << shown(value) << std::endl;
            continue;
        }
        // A repaired value differs from the text it replaced, so the repair is stored too; a setting the
        // store did not hold is filled in unless someone else stored it meanwhile.
        const auto it = before.find(key);
        const bool unchanged = it == before.end() || it->second == value;
        (unchanged ? missing : changed).emplace_back(key, std::move(value));
    }
    node.merge(changed, missing);
}

void applySetting(Config& config, std::string_view key, std::string_view value) {
    const Setting* setting = config::findSetting(key);
    if (setting == nullptr) {
        std::string known;
        for (const Setting& s : config::settingsTable())
            known += (known.empty() ? "" : ", ") + std::string(s.key);
        throw std::invalid_argument("unknown setting " + shown(key) + "; the settings are " + known);
    }
    if (setting->automatic)
        throw std::invalid_argument(std::string(key) +
                                    " cannot be set: saving writes the current port into it");
    std::string why;
    if (!Preferences::isValidValue(value)) {
        why = base::utf8::countLeadBytes(value) > Preferences::MAX_VALUE_LENGTH
                  ? "it is longer than " + std::to_string(Preferences::MAX_VALUE_LENGTH) + " characters"
                  : "it is not valid text (UTF-8 without NUL)";
    } else if (!setting->valid(value)) {
        why = setting->refusal ? setting->refusal(value) : "";
    }
    if (!why.empty() || !setting->valid(value))
        throw std::invalid_argument("invalid value " + shown(value) + " for " + std::string(key) + ": " +
                                    (why.empty() ? "" : why + "; ") + "it accepts " + setting->accepts);
    setting->write(config, value);
}

void saveConfig(Preferences& node, const Config& config) {
    saveConfig(node, config, std::cerr);
}

std::filesystem::path defaultSettingsFile() {
    std::filesystem::path base;
    if (auto programData = base::SystemProperties::get("ProgramData"); programData && !programData->empty()) {
        base = *programData;
    } else if (auto xdg = base::SystemProperties::get("XDG_CONFIG_HOME");
               xdg && !xdg->empty() && std::filesystem::path(*xdg).is_absolute()) {
        base = *xdg;
    } else {
        base = FilePreferencesFactory::userHome() / ".config";
    }
    return base / "vexlune" / "zorvik" / "prefs.txt";
}

StoredSettings openStoredSettings(const std::filesystem::path& file,
                                  const std::vector<std::string>& portList) {
    std::filesystem::path chosen = file;
    if (chosen.empty()) {
        chosen = defaultSettingsFile();
        std::filesystem::create_directories(chosen.parent_path());
    }
    base::SystemProperties::set(std::string(FilePreferencesFactory::SYSTEM_PROPERTY_FILE), chosen.string());
    PreferencesFactory::setFactory(std::make_shared<FilePreferencesFactory>());
    // The file is resolved once per store; a new choice needs a fresh one.
    FilePreferencesFactory::reset();
    StoredSettings settings;
    settings.file = FilePreferencesFactory::getPreferencesFile();
    try {
        FilePreferences::checkReadable(settings.file);
    } catch (const BackingStoreException& e) {
        throw UnreadableSettingsException(settings.file, e.what());
    }
    settings.node = Preferences::userRoot()->node(Config::kNodePath);
    settings.loadedClean = loadConfig(*settings.node, settings.config, portList, &settings.repairs);
    for (const auto& repair : settings.repairs)
        log().warning("The stored " + repair.key + " " + shown(repair.stored) +
                      " is invalid; its default is used");
    std::vector<std::string> unknown;
    for (const auto& key : settings.node->keys())
        if (config::findSetting(key) == nullptr) unknown.push_back(shown(key));
    if (!unknown.empty()) {
        std::string listed;
        for (std::size_t i = 0; i < unknown.size() && i < 5; ++i)
            listed += (i ? ", " : "") + unknown[i];
        log().warning(settings.file.string() + " holds " + std::to_string(unknown.size()) +
                      " keys that are no settings, kept as they are: " + listed +
                      (unknown.size() > 5 ? ", ..." : ""));
    }
    return settings;
}

Config defaultConfig(const std::vector<std::string>& portList) {
    Config config;
    for (const Setting& setting : config::settingsTable()) {
        if (setting.key == Config::Key::port) {
            if (!portList.empty()) config.setPort(portList.front());
        } else if (setting.key == Config::Key::prevPort) {
            config.setPrevPort(config.getPort());
        } else {
            setting.write(config, setting.loadDefault);
        }
    }
    return config;
}

std::filesystem::path setAsideUnreadable(const std::filesystem::path& file) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::filesystem::path aside = file;
    aside += std::string(".unreadable-") + stamp;
    for (int n = 2; std::filesystem::symlink_status(aside).type() != std::filesystem::file_type::not_found;
         ++n) {
        aside = file;
        aside += std::string(".unreadable-") + stamp + "-" + std::to_string(n);
    }
    std::filesystem::rename(file, aside);
    return aside;
}

void exportSettings(Preferences& node, const std::filesystem::path& file) {
    std::ostringstream xml;
    node.exportNode(xml);
    AtomicFile::write(file, xml.str());
}

std::vector<std::string> importSettings(const std::filesystem::path& file, Preferences& root) {
    auto content = XmlSupport::parse(XmlSupport::readDocument(file));
    const std::string settingsPath(Config::kNodePath);
    bool found = false;
    std::vector<std::string> unknown;
    for (const auto& node : content) {
        if (node.path == settingsPath) {
            found = true;
            for (const auto& [key, value] : node.entries)
                if (!checkImportedValue(key, value)) unknown.push_back(key);
        } else if (!node.entries.empty()) {
            throw InvalidPreferencesFormatException("The file holds entries of " + node.path +
                                                    ", not only settings of " + settingsPath);
        }
    }
    if (!found) throw InvalidPreferencesFormatException("The file holds no settings of " + settingsPath);
    XmlSupport::apply(content, root);
    return unknown;
}

}  // namespace rszorvik::prefs
