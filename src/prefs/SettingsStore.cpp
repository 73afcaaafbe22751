#include "prefs/SettingsStore.h"

#include <iostream>
#include <sstream>

#include "base/SystemProperties.h"
#include "prefs/AtomicFile.h"
#include "prefs/ConfigKeys.h"
#include "prefs/FilePreferencesFactory.h"
#include "prefs/XmlSupport.h"

namespace rszorvik::prefs {

namespace {

using config::Config;

// The order in which saving writes the keys; "port" and "prevPort" come first, when a port is set.
constexpr std::string_view kSaveOrder[] = {
    Config::Key::instrument,
    Config::Key::bitRate,
    Config::Key::dataBits,
    Config::Key::stopBits,
    Config::Key::parity,
    Config::Key::inputTerminator,
    Config::Key::handshake,
    Config::Key::decimalSeparator,
    Config::Key::sound,
    Config::Key::startWith,
    Config::Key::outputTerminator,
    Config::Key::outputTerminator2,
    Config::Key::everyXValues,
    Config::Key::connect,
    Config::Key::mathOperation,
    Config::Key::mathOperand,
    Config::Key::decimalPlaces,
    Config::Key::roundingMethod,
    Config::Key::keyboardType,
    Config::Key::delay,
    Config::Key::minimizeToTray,
    Config::Key::notifyWhenMinimizedToTray,
    Config::Key::checkForUpdates,
    Config::Key::abortAutoStartWhenPrevPortNotAvailable,
    Config::Key::ignoreDuplicates,
    Config::Key::editOperation,
    Config::Key::editPosition,
    Config::Key::editNumCharacters,
    Config::Key::removeCharacters,
    Config::Key::customRegEx,
    Config::Key::ignoreTimeLimit,
    Config::Key::ignoreDifference,
};

}  // namespace

bool loadConfig(Preferences& node, Config& config, const std::vector<std::string>& portList) {
    bool clean = true;
    for (const SettingKey& setting : settingKeys()) {
        const std::string key(setting.key);
        if (setting.key == Config::Key::port) {
            if (!portList.empty()) config.setPort(node.get(key, portList.front()));
            continue;
        }
        if (setting.key == Config::Key::prevPort) {
            config.setPrevPort(node.get(key, config.getPort()));
            continue;
        }
        auto stored = node.get(key);
        if (!stored) {
            setting.set(config, setting.loadDefault);
        } else if (setting.valid(*stored)) {
            setting.set(config, *stored);
        } else {
            // Text that does not even parse (a word where a number belongs) counts as repaired too.
            setting.set(config, setting.loadDefault);
            clean = false;
        }
    }
    return clean;
}

void saveConfig(Preferences& node, const Config& config, std::ostream& diagnostics) {
    // The keys go to the store together: the file ends as after one put per key, but is rewritten once
    // rather than once per key.
    std::vector<std::pair<std::string, std::string>> entries;
    if (!config.getPort().empty()) {
        entries.emplace_back(Config::Key::port, config.getPort());
        entries.emplace_back(Config::Key::prevPort, config.getPort());
    }
    for (std::string_view key : kSaveOrder) {
        // A record without a preset (never loaded) leaves the key alone rather than stopping the save.
        if (auto value = findSettingKey(key)->get(config)) entries.emplace_back(key, *value);
    }
    try {
        node.putAll(entries);
    } catch (const std::exception& e) {
        diagnostics << "saveConfig exception: " << e.what() << std::endl;
    }
    node.flush();
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
    settings.node = Preferences::userRoot()->node(Config::kNodePath);
    settings.loadedClean = loadConfig(*settings.node, settings.config, portList);
    return settings;
}

void exportSettings(Preferences& node, const std::filesystem::path& file) {
    std::ostringstream xml;
    node.exportNode(xml);
    AtomicFile::write(file, xml.str());
}

void importSettings(const std::filesystem::path& file, Preferences& root) {
    auto content = XmlSupport::parse(XmlSupport::readDocument(file));
    const std::string settingsPath(Config::kNodePath);
    bool found = false;
    for (const auto& node : content) {
        if (node.path == settingsPath) {
            found = true;
            for (const auto& [key, value] : node.entries)
                if (key.find('.') != std::string::npos)
                    throw InvalidPreferencesFormatException("The key \"" + key + "\" cannot be stored");
        } else if (!node.entries.empty()) {
            throw InvalidPreferencesFormatException("The file holds entries of " + node.path +
                                                    ", not only settings of " + settingsPath);
        }
    }
    if (!found) throw InvalidPreferencesFormatException("The file holds no settings of " + settingsPath);
    XmlSupport::apply(content, root);
}

}  // namespace rszorvik::prefs
