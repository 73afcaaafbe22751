#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/Config.h"

namespace rszorvik::prefs {

// How a setting is kept in the settings node.
enum class SettingKind { TEXT, NAME, INTEGER, BOOLEAN };

// One key of the settings node: its stored encoding, its check, and how it maps to the record.
struct SettingKey {
    std::string_view key;
    SettingKind kind;
    // The value loading uses when the key is missing or its stored text fails the check.
    std::string loadDefault;
    // The stored text is acceptable (and the record can take it).
    std::function<bool(std::string_view)> valid;
    // The record's value in the stored encoding; none when the record holds none (instrument, prevPort).
    std::function<std::optional<std::string>(const config::Config&)> get;
    // Sets the record from a text that passed `valid`.
    std::function<void(config::Config&, std::string_view)> set;
    // What the key accepts, for messages.
    std::string accepts;
};

// Every key of the settings node, in the order loading reads them.
const std::vector<SettingKey>& settingKeys();
const SettingKey* findSettingKey(std::string_view key);

// Sets one setting of the record from its stored encoding (constant names for enumerations, indexes for
// the serial fields, the input terminator as its code, true/false for booleans, texts otherwise). Throws
// std::invalid_argument naming the key and what it accepts; the record is then unchanged.
void applySetting(config::Config& config, std::string_view key, std::string_view value);

}  // namespace rszorvik::prefs
