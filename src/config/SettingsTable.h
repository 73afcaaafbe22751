#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/Config.h"

namespace rszorvik::config {

// How a setting's value is written in the settings node.
enum class SettingEncoding { TEXT, NAME, INTEGER, BOOLEAN };

// One setting of the record: everything loading, saving, --set, the settings listing, copyConfig,
// hasChanged and the window need to know about it. Adding a setting means adding its field to Config
// and one row to the table in SettingsTable.cpp.
struct Setting {
    std::string_view key;  // in the settings node; equals the field's name
    SettingEncoding encoding = SettingEncoding::TEXT;
    // What loading uses when the key is missing or its stored text fails the check.
    std::string loadDefault;
    // The stored text is acceptable (and the record can take it).
    std::function<bool(std::string_view)> valid;
    // What valid accepts, for messages and help texts; built from the validator's own range.
    std::string accepts;
    // Why valid refuses a text, where the check can say more than accepts (which rule or limit); empty
    // when it cannot or the text is valid. Unset for most settings.
    std::function<std::string(std::string_view)> refusal;
    // The stored texts of a closed set of choices (names, indexes, the common terminator codes), in
    // display order; empty for free text.
    std::vector<std::string> choices;
    // Saving writes the keys by increasing rank.
    int saveRank = 0;
    // Kept by the program, not chosen by the user (prevPort): it cannot be set, and copyConfig and
    // hasChanged leave it out.
    bool automatic = false;
    // The record's value in the stored encoding; none when the record holds none (instrument, prevPort).
    std::function<std::optional<std::string>(const Config&)> read;
    // Sets the record from a text that passed valid.
    std::function<void(Config&, std::string_view)> write;
    // Copies the field from one record to another without telling any listener.
    std::function<void(Config& to, const Config& from)> copy;
    std::function<bool(const Config&, const Config&)> differs;
};

// Every setting, in the order loading reads them and the settings listing shows them. The rows live for
// the whole program, so pointers to them stay valid.
const std::vector<Setting>& settingsTable();
// The row of the key, or null.
const Setting* findSetting(std::string_view key);
// Every setting in the order saving writes them.
const std::vector<const Setting*>& settingsInSaveOrder();

}  // namespace rszorvik::config
