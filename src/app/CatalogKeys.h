#pragma once

#include <string_view>
#include <vector>

namespace rszorvik {

// The catalogue of the window, its dialogs and the start-up messages.
inline constexpr std::string_view kAppCatalog = "rszorvik.zorvik";

// Every key of kAppCatalog the program looks up. The start-up check refuses to run with one missing, so
// a key used anywhere in the window belongs here.
const std::vector<std::string_view>& appCatalogKeys();

}  // namespace rszorvik
