#pragma once

#include <optional>
#include <string_view>

namespace rszorvik::base {

enum class Language { German, English };

// The one language of every text of this process, the command line tool's and the window's alike:
// German, unless the environment variable ZORVIK_LANGUAGE is "en" (or "en_GB", "en-US", ...) or a program
// chose another one. Read once.
Language processLanguage();

// Chooses the process language (a program's --language option). Call it first thing in main: the catalogues
// keep the language they were loaded in.
void chooseProcessLanguage(Language language);

// The language a ZORVIK_LANGUAGE value asks for; nothing for an unset, empty or unknown value.
std::optional<Language> languageOf(std::string_view setting);

}  // namespace rszorvik::base
