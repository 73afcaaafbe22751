#pragma once

#include <optional>
#include <string_view>

namespace rszorvik::base {

enum class Language { German, English };

// The one language of every text of this process, the command line tool's and the window's alike:
// German, unless the environment variable ZORVIK_LANGUAGE is "en" (or "en_GB", "en-US", ...). Read once.
Language processLanguage();

// The language a ZORVIK_LANGUAGE value asks for; nothing for an unset, empty or unknown value.
std::optional<Language> languageOf(std::string_view setting);

}  // namespace rszorvik::base
