#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rszorvik {

// The catalogue of the window, its dialogs and the start-up messages.
inline constexpr std::string_view kAppCatalog = "rszorvik.zorvik";

// Every key of kAppCatalog the program looks up. The start-up check refuses to run with one missing, so
// a key used anywhere in the window belongs here.
const std::vector<std::string_view>& appCatalogKeys();

// The keys of the setting labels' and of the acquisition messages' catalogues that the program needs.
const std::vector<std::string_view>& configCatalogKeys();
const std::vector<std::string_view>& workerCatalogKeys();

// The keys one catalogue must hold.
struct RequiredKeys {
    std::string_view catalogue;
    std::vector<std::string_view> keys;
};

// The three catalogues with the keys above: what the start-up check asks for.
std::vector<RequiredKeys> requiredCatalogKeys();

// "catalogue: key" for each required key that is missing, in list order; a catalogue the program does not
// have counts as missing whole (one entry, "catalogue").
std::vector<std::string> missingCatalogKeys(const std::vector<RequiredKeys>& required);

}  // namespace rszorvik
