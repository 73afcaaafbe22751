#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "config/SettingsTable.h"
#include "prefs/FilePreferencesFactory.h"
#include "prefs/SettingsStore.h"

namespace rszorvik::cli {
namespace {

using config::SettingEncoding;

struct SettingsOptions {
    std::vector<std::string> sets;
    bool save = false;
    std::string exportFile;
    std::string importFile;
};

[[noreturn]] void fail(const std::string& message, int status) {
    std::cerr << "zorvik-cli settings: " << message << '\n';
    throw CLI::RuntimeError(status);
}

nlohmann::ordered_json settingsJson(const config::Config& config) {
    nlohmann::ordered_json settings = nlohmann::ordered_json::object();
    for (const auto& setting : config::settingsTable()) {
        const std::string key(setting.key);
        auto value = setting.read(config);
        if (!value) {
            settings[key] = nullptr;
        } else if (setting.encoding == SettingEncoding::INTEGER) {
            settings[key] = std::stoi(*value);
        } else if (setting.encoding == SettingEncoding::BOOLEAN) {
            settings[key] = *value == "true";
        } else {
            settings[key] = *value;
        }
    }
    return settings;
}

// The listing shows the port as stored, so that an empty port here means none is stored and saving
// it clears the stored one.
void showStoredPort(prefs::StoredSettings& stored) {
    stored.config.setPort(stored.node->get(std::string(config::Config::Key::port), ""));
}

void run(const GlobalOptions& global, const SettingsOptions& options) {
    // Every --set is checked before anything is changed.
    config::Config scratch;
    applySets(scratch, options.sets, "settings");

    const std::vector<std::string> portList;  // the port list joins when the CLI enumerates ports
    // Exporting saves first, as the window does, so the file holds what is shown.
    const bool save = options.save || !options.exportFile.empty();
    nlohmann::ordered_json result;
    prefs::StoredSettings stored;
    std::optional<prefs::UnreadableSettingsException> unreadable;
    try {
        stored = openStoredSettings(global, portList);
    } catch (const prefs::UnreadableSettingsException& e) {
        unreadable = e;
    } catch (const std::exception& e) {
        fail(std::string("cannot open the settings: ") + e.what(), 1);
    }
    if (unreadable) {
        // Only a write the user asks for may replace the file, and a copy of it is kept; anything but a
        // regular file (a device, a FIFO, a folder) is never replaced.
        std::error_code ec;
        if (!std::filesystem::is_regular_file(unreadable->file(), ec))
            fail(std::string(unreadable->what()) + "; nothing was changed", 1);
        if (!save && options.importFile.empty())
            fail(std::string(unreadable->what()) + "; nothing was changed (--save writes the settings with " +
                     "their defaults after keeping the file as " + unreadable->file().filename().string() +
                     ".unreadable-<date>)",
                 1);
        try {
            result["unreadableKeptAs"] = prefs::setAsideUnreadable(unreadable->file()).string();
        } catch (const std::exception& e) {
            fail(std::string(unreadable->what()) +
                     "; it cannot be kept aside, so nothing was changed: " + e.what(),
                 1);
        }
        try {
            stored = openStoredSettings(global, portList);
        } catch (const std::exception& e) {
            fail(std::string("cannot open the settings: ") + e.what(), 1);
        }
    }
    showStoredPort(stored);
    result["file"] = stored.file.string();

    if (!options.importFile.empty()) {
        try {
            const auto unknown = prefs::importSettings(options.importFile, *prefs::Preferences::userRoot());
            if (!unknown.empty()) {
                result["importedUnknownKeys"] = unknown;
                report("settings", "the import holds " + std::to_string(unknown.size()) +
                                       " keys that are no settings; they are kept as they are");
            }
        } catch (const std::exception& e) {
            fail("import failed: " + std::string(e.what()), 1);
        }
        stored.config = config::Config();
        stored.repairs.clear();
        stored.loadedClean = prefs::loadConfig(*stored.node, stored.config, portList, &stored.repairs);
        showStoredPort(stored);
        result["imported"] = std::filesystem::absolute(options.importFile).string();
    }
    result["repaired"] = !stored.loadedClean;
    if (!stored.repairs.empty()) {
        // Which values were replaced by their defaults, and what they held.
        auto& repaired = result["repairedValues"] = nlohmann::ordered_json::object();
        for (const auto& repair : stored.repairs)
            repaired[repair.key] = repair.stored;
    }

    applySets(stored.config, options.sets, "settings");
    if (save) {
        try {
            prefs::saveConfig(*stored.node, stored.config, std::cerr, prefs::EmptyPort::CLEAR);
        } catch (const std::exception& e) {
            fail(std::string("cannot save the settings: ") + e.what(), 1);
        }
    }
    result["saved"] = save;
    if (!options.exportFile.empty()) {
        try {
            prefs::exportSettings(*stored.node, options.exportFile);
        } catch (const std::exception& e) {
            fail("export failed: " + std::string(e.what()), 1);
        }
        result["exported"] = std::filesystem::absolute(options.exportFile).string();
    }
    result["settings"] = settingsJson(stored.config);
    std::cout << jsonText(result) << '\n';
}

}  // namespace

prefs::StoredSettings openStoredSettings(const GlobalOptions& global,
                                         const std::vector<std::string>& portList) {
    return prefs::openStoredSettings(global.prefsFile, portList);
}

void applySets(config::Config& config, const std::vector<std::string>& sets, std::string_view command) {
    for (const auto& set : sets) {
        std::string why;
        const auto equals = set.find('=');
        if (equals == std::string::npos) {
            why = "--set expects KEY=VALUE, got \"" + set + "\"";
        } else {
            try {
                prefs::applySetting(config, set.substr(0, equals), set.substr(equals + 1));
                continue;
            } catch (const std::invalid_argument& e) {
                why = e.what();
            }
        }
        std::cerr << "zorvik-cli " << command << ": " << why << '\n';
        throw CLI::RuntimeError(2);
    }
}

void addSettingsCommand(CLI::App& app, const GlobalOptions& global) {
    auto* command = app.add_subcommand(
        "settings",
        "Show the stored settings as JSON; change, save, export or import them. The settings live in "
        "$ProgramData/vexlune/zorvik/prefs.txt when ProgramData is set, else in "
        "$XDG_CONFIG_HOME/vexlune/zorvik/prefs.txt (~/.config when unset); --prefs names another file.");
    auto options = std::make_shared<SettingsOptions>();
    command
        ->add_option("--set", options->sets,
                     "KEY=VALUE in the stored encoding: constant names for choices, indexes for the serial "
                     "settings, the terminator's byte code, true/false, texts. Repeatable")
        ->type_name("KEY=VALUE");
    command->add_flag("--save", options->save, "Write the settings to the store");
    command->add_option("--export", options->exportFile, "Save, then write the settings to an XML file")
        ->type_name("FILE");
    command->add_option("--import", options->importFile, "Read the settings from an exported XML file first")
        ->type_name("FILE");
    command->callback([&global, options] { run(global, *options); });
}

}  // namespace rszorvik::cli
