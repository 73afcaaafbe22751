#include "base/MessageCatalog.h"

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "base/EmbeddedResources.h"
#include "base/Language.h"
#include "base/Properties.h"

namespace rszorvik::base {

struct MessageCatalog::Data {
    Properties::Map texts;  // the German texts laid over the base texts
};

namespace {

// Catalogue files may be written in UTF-8 or, as properties files traditionally are, in ISO 8859-1 with
// \u escapes; bytes that are not UTF-8 are read as ISO 8859-1.
bool loadFile(Properties& into, const std::string& fileName) {
    const auto bytes = embeddedResource(fileName);
    if (!bytes) return false;
    try {
        into.load(*bytes, Properties::Charset::Utf8);
    } catch (const std::invalid_argument&) {
        into.load(*bytes, Properties::Charset::Latin1);
    }
    return true;
}

}  // namespace

MissingResourceError::MissingResourceError(const std::string& catalogue, const std::string& key)
    : std::runtime_error("Can't find resource for bundle " + catalogue + ", key " + key), missingKey(key) {}

MessageCatalog::MessageCatalog(std::string name) : catalogName(std::move(name)), content(nullptr) {}

const MessageCatalog& MessageCatalog::get(std::string_view name) {
    struct Entry {
        Data data;
        std::unique_ptr<MessageCatalog> catalog;
    };
    // Loaded on first use and kept for the process; the mutex makes the first use safe from any thread.
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<Entry>, std::less<>> loaded;

    std::lock_guard lock(mutex);
    if (auto it = loaded.find(name); it != loaded.end()) return *it->second->catalog;

    const std::string base(name);
    Properties texts;
    const bool hasBase = loadFile(texts, base + ".properties");
    // In English the base file alone, so that no German text shows through.
    const bool german = processLanguage() == Language::German;
    const bool hasGerman = german && loadFile(texts, base + "_de.properties");
    if (!hasBase && !hasGerman)
        throw std::invalid_argument("Can't find bundle for base name " + base +
                                    (german ? ", locale de" : ", locale en"));

    auto entry = std::make_unique<Entry>();
    entry->data.texts = texts.entries();
    entry->catalog.reset(new MessageCatalog(base));
    entry->catalog->content = &entry->data;
    const MessageCatalog& catalog = *entry->catalog;
    loaded.emplace(base, std::move(entry));
    return catalog;
}

std::string MessageCatalog::getString(std::string_view key) const {
    if (auto it = content->texts.find(key); it != content->texts.end()) return it->second;
    throw MissingResourceError(catalogName, std::string(key));
}

bool MessageCatalog::containsKey(std::string_view key) const {
    return content->texts.find(key) != content->texts.end();
}

std::vector<std::string> MessageCatalog::keys() const {
    std::vector<std::string> result;
    result.reserve(content->texts.size());
    for (const auto& entry : content->texts)
        result.push_back(entry.first);
    return result;
}

std::vector<std::string> MessageCatalog::missingKeys(const std::vector<std::string>& required) const {
    std::vector<std::string> missing;
    for (const auto& key : required)
        if (!containsKey(key)) missing.push_back(key);
    return missing;
}

}  // namespace rszorvik::base
