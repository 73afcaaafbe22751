#pragma once

#include <charconv>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "config/Config.h"
#include "config/SettingsTable.h"
#include "prefs/SettingsStore.h"

namespace rszorvik::fuzz {

// Settings drawn from the head of an input: lines "key=value" up to the first empty line. A value
// "#N" picks choice N (modulo their number) of a setting with a closed set of choices, so that every
// preset, rounding method and operation is a small mutation away. Values a setting refuses are left
// out, as the store would never hand them to a worker. Other keys are ignored.
struct SettingsHeader {
    config::Config config;
    std::optional<long long> clockStepMs;  // "clockStep=MS"

    // Consumes the header from text.
    explicit SettingsHeader(std::string_view& text) {
        while (!text.empty()) {
            std::string_view line = takeUntil(text, "\n");
            if (line.empty()) break;
            const std::string_view key = takeUntil(line, "=");
            if (key == "clockStep") {
                long long ms = 0;
                if (std::from_chars(line.data(), line.data() + line.size(), ms).ec == std::errc())
                    clockStepMs = ms;
                continue;
            }
            const config::Setting* setting = config::findSetting(key);
            if (setting == nullptr) continue;
            std::string value(line);
            if (value.starts_with('#') && !setting->choices.empty()) {
                unsigned index = 0;
                std::from_chars(value.data() + 1, value.data() + value.size(), index);
                value = setting->choices[index % setting->choices.size()];
            }
            try {
                prefs::applySetting(config, key, value);
            } catch (const std::invalid_argument&) {
            }
        }
    }
};

}  // namespace rszorvik::fuzz
