#include "app/Texts.h"

#include <atomic>
#include <stdexcept>

#include "app/CatalogKeys.h"
#include "base/EmbeddedResources.h"
#include "base/Language.h"
#include "base/MessageCatalog.h"

namespace rszorvik::texts {
namespace {

// Nothing: the process language (read when asked, so that the window's --language counts).
std::atomic<int> chosen{-1};

Language current() {
    const int language = chosen.load();
    if (language >= 0) return static_cast<Language>(language);
    return base::processLanguage() == base::Language::English ? Language::English : Language::German;
}

QString lookUp(std::string_view catalog, std::string_view key) {
    if (current() == Language::German)
        return QString::fromStdString(base::MessageCatalog::get(catalog).getString(key));
    // English: the base file alone, so a German text never shows through.
    static const auto appBase = catalogFile(std::string(kAppCatalog) + ".properties");
    static const auto configBase =
        catalogFile(std::string(config::ConfigHelper::kBundleName) + ".properties");
    const auto& texts = catalog == kAppCatalog ? appBase : configBase;
    if (auto it = texts.find(key); it != texts.end()) return QString::fromStdString(it->second);
    throw base::MissingResourceError(std::string(catalog), std::string(key));
}

}  // namespace

void setLanguage(Language language) {
    chosen.store(static_cast<int>(language));
}

Language language() {
    return current();
}

QString app(std::string_view key) {
    return lookUp(kAppCatalog, key);
}

QString config(std::string_view key) {
    return lookUp(config::ConfigHelper::kBundleName, key);
}

base::Properties::Map catalogFile(std::string_view fileName) {
    const auto bytes = base::embeddedResource(fileName);
    if (!bytes) return {};
    base::Properties properties;
    try {
        properties.load(*bytes, base::Properties::Charset::Utf8);
    } catch (const std::invalid_argument&) {
        properties.load(*bytes, base::Properties::Charset::Latin1);
    }
    return properties.entries();
}

std::optional<QString> choiceLabel(std::string_view type, std::string_view name) {
    if (name.empty()) return std::nullopt;
    const std::string key = "choice." + std::string(type) + "." + std::string(name);
    try {
        return app(key);
    } catch (const base::MissingResourceError&) {
        return std::nullopt;
    }
}

QString label(const config::ConfigHelper::Instrument& instrument) {
    if (language() == Language::English) {
        if (const auto key = instrument.getLabelKey()) return config(*key);
    }
    return QString::fromStdString(instrument.label());
}

}  // namespace rszorvik::texts
