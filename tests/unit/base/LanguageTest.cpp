// The process language and the catalogues behind it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/EmbeddedResources.h"
#include "base/Language.h"
#include "base/MessageCatalog.h"
#include "base/Properties.h"

namespace rszorvik::base {
namespace {

TEST(LanguageTest, TheSettingNamesTheLanguage) {
    struct Case {
        const char* setting;
        std::optional<Language> language;
    };
    const Case cases[] = {
        {"en", Language::English},    {"EN", Language::English}, {"en_GB", Language::English},
        {"en-US", Language::English}, {"de", Language::German},  {"de_AT", Language::German},
        {"", std::nullopt},           {"e", std::nullopt},       {"fr", std::nullopt},
        {"english", std::nullopt},    {"deutsch", std::nullopt}, {"end", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(languageOf(c.setting), c.language) << '"' << c.setting << '"';
}

Properties::Map keysOf(const std::string& file) {
    const auto bytes = embeddedResource(file);
    if (!bytes) return {};
    return Properties::parse(*bytes, Properties::Charset::Utf8).entries();
}

// English is the base file alone: every German text needs its English one, and the other way round.
TEST(LanguageTest, EveryCatalogueSpeaksBothLanguagesCompletely) {
    for (const std::string_view name : {catalogues::kWorker, catalogues::kConfig, catalogues::kCli}) {
        SCOPED_TRACE(std::string(name));
        const auto english = keysOf(std::string(name) + ".properties");
        const auto german = keysOf(std::string(name) + "_de.properties");
        ASSERT_FALSE(english.empty());
        std::vector<std::string> onlyGerman, onlyEnglish;
        for (const auto& [key, text] : german)
            if (!english.contains(key)) onlyGerman.push_back(key);
        for (const auto& [key, text] : english)
            if (!german.contains(key)) onlyEnglish.push_back(key);
        EXPECT_EQ(onlyGerman, std::vector<std::string>{});
        EXPECT_EQ(onlyEnglish, std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace rszorvik::base
