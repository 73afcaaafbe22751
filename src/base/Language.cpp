#include "base/Language.h"

#include <atomic>
#include <cctype>
#include <cstdlib>

namespace rszorvik::base {

std::optional<Language> languageOf(std::string_view setting) {
    const auto lower = [&](std::size_t i) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(setting[i])));
    };
    if (setting.size() < 2 || (setting.size() > 2 && setting[2] != '_' && setting[2] != '-'))
        return std::nullopt;
    if (lower(0) == 'e' && lower(1) == 'n') return Language::English;
    if (lower(0) == 'd' && lower(1) == 'e') return Language::German;
    return std::nullopt;
}

namespace {

std::atomic<Language>& chosen() {
    static std::atomic<Language> language = [] {
        const char* setting = std::getenv("ZORVIK_LANGUAGE");
        return languageOf(setting ? setting : "").value_or(Language::German);
    }();
    return language;
}

}  // namespace

Language processLanguage() {
    return chosen().load();
}

void chooseProcessLanguage(Language language) {
    chosen().store(language);
}

}  // namespace rszorvik::base
