#include "prefs/Preferences.h"

#include <charconv>
#include <set>

#include "base/Ascii.h"
#include "base/Utf8.h"
#include "prefs/FilePreferencesFactory.h"
#include "prefs/XmlSupport.h"

namespace rszorvik::prefs {

namespace {

// Limits count characters, not bytes; they are checked before the encoding, which is why they count lead
// bytes rather than decode.
void checkKey(const std::string& key) {
    if (base::utf8::countLeadBytes(key) > Preferences::MAX_KEY_LENGTH)
        throw std::invalid_argument("Key too long: " + key);
    if (key.find('\0') != std::string::npos) throw std::invalid_argument("Key contains code point U+0000");
    if (!base::utf8::isValid(key)) throw std::invalid_argument("Key is not UTF-8");
}

void checkValue(std::string_view value) {
    if (base::utf8::countLeadBytes(value) > Preferences::MAX_VALUE_LENGTH)
        throw std::invalid_argument("Value too long: " + std::string(value.substr(0, 100)) + "...");
    if (value.find('\0') != std::string_view::npos)
        throw std::invalid_argument("Value contains code point U+0000");
    if (!base::utf8::isValid(value)) throw std::invalid_argument("Value is not UTF-8");
}

// Splits a relative path into node names, rejecting the forms a path may not take.
std::vector<std::string> splitPath(std::string_view path) {
    std::vector<std::string> names;
    if (path.empty()) return names;
    if (path.back() == '/') throw std::invalid_argument("Path ends with slash");
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string_view::npos) slash = path.size();
        if (slash == start) throw std::invalid_argument("Consecutive slashes in path");
        names.emplace_back(path.substr(start, slash - start));
        if (base::utf8::countLeadBytes(names.back()) > Preferences::MAX_NAME_LENGTH)
            throw std::invalid_argument("Node name " + names.back() + " too long");
        start = slash + 1;
    }
    return names;
}

std::mutex factoryMutex;
std::shared_ptr<PreferencesFactory> installedFactory;

}  // namespace

Preferences::Preferences(Preferences* parent, std::string name)
    : isRoot(parent == nullptr), nodeName(std::move(name)) {
    if (parent == nullptr) {
        if (!nodeName.empty()) throw std::invalid_argument("Root name '" + nodeName + "' must be \"\"");
        nodePath = "/";
        return;
    }
    if (nodeName.empty()) throw std::invalid_argument("Illegal name: empty string");
    if (nodeName.find('/') != std::string::npos)
        throw std::invalid_argument("Name '" + nodeName + "' contains '/'");
    if (!base::utf8::isValid(nodeName)) throw std::invalid_argument("Node name is not UTF-8");
    parentLink = parent->weak_from_this();
    rootLink = parent->rootNode();
    nodePath = parent->isRoot ? "/" + nodeName : parent->nodePath + "/" + nodeName;
}

std::shared_ptr<Preferences> Preferences::rootNode() const {
    if (isRoot) return std::const_pointer_cast<Preferences>(shared_from_this());
    // A node handle may outlive its tree (a test resetting the factory); it can no longer reach the root.
    if (auto root = rootLink.lock()) return root;
    throw std::logic_error("The tree of node " + nodePath + " no longer exists");
}

bool Preferences::removed() const {
    std::lock_guard guard(lock);
    return nodeRemoved;
}

void Preferences::checkNotRemoved() const {
    if (nodeRemoved) throw std::logic_error("Node has been removed.");
}

std::optional<std::string> Preferences::get(const std::string& key) {
    std::lock_guard guard(lock);
    checkNotRemoved();
    try {
        return getSpi(key);
    } catch (const std::exception&) {
        // A failing store answers like a missing key, as the typed getters expect.
        return std::nullopt;
    }
}

std::string Preferences::get(const std::string& key, const std::string& def) {
    return get(key).value_or(def);
}

void Preferences::put(const std::string& key, const std::string& value) {
    checkKey(key);
    checkValue(value);
    std::lock_guard guard(lock);
    checkNotRemoved();
    putSpi(key, value);
}

void Preferences::putAll(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::size_t valid = 0;
    std::exception_ptr refused;
    for (; valid < entries.size(); ++valid) {
        try {
            checkKey(entries[valid].first);
            checkValue(entries[valid].second);
        } catch (const std::invalid_argument&) {
            refused = std::current_exception();
            break;
        }
    }
    {
        std::lock_guard guard(lock);
        checkNotRemoved();
        if (valid > 0) putAllSpi({entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(valid)});
    }
    if (refused) std::rethrow_exception(refused);
}

void Preferences::merge(const std::vector<std::pair<std::string, std::string>>& changed,
                        const std::vector<std::pair<std::string, std::string>>& missing) {
    for (const auto* entries : {&changed, &missing})
        for (const auto& [key, value] : *entries) {
            checkKey(key);
            checkValue(value);
        }
    std::lock_guard guard(lock);
    checkNotRemoved();
    mergeSpi(changed, missing);
}

void Preferences::putAllSpi(const std::vector<std::pair<std::string, std::string>>& entries) {
    for (const auto& [key, value] : entries)
        putSpi(key, value);
}

int Preferences::getInt(const std::string& key, int def) {
    auto text = get(key);
    if (!text || text->empty()) return def;
    std::string_view digits = *text;
    // A leading plus sign is accepted, as by the usual integer parsers; from_chars alone refuses it.
    if (digits.front() == '+') {
        digits.remove_prefix(1);
        if (digits.empty() || digits.front() == '-') return def;
    }
    int value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return def;
    return value;
}

void Preferences::putInt(const std::string& key, int value) {
    put(key, std::to_string(value));
}

bool Preferences::getBoolean(const std::string& key, bool def) {
    auto text = get(key);
    if (!text) return def;
    if (base::asciiEqualsIgnoreCase(*text, "true")) return true;
    if (base::asciiEqualsIgnoreCase(*text, "false")) return false;
    return def;
}

void Preferences::putBoolean(const std::string& key, bool value) {
    put(key, value ? "true" : "false");
}

void Preferences::remove(const std::string& key) {
    std::lock_guard guard(lock);
    checkNotRemoved();
    removeSpi(key);
}

void Preferences::clear() {
    std::lock_guard guard(lock);
    for (const auto& key : keys())
        remove(key);
}

std::vector<std::string> Preferences::keys() {
    std::lock_guard guard(lock);
    checkNotRemoved();
    return keysSpi();
}

std::vector<std::string> Preferences::childrenNames() {
    std::lock_guard guard(lock);
    checkNotRemoved();
    std::set<std::string> names;
    for (const auto& [name, kid] : childCache)
        names.insert(name);
    for (auto& name : childrenNamesSpi())
        names.insert(std::move(name));
    return {names.begin(), names.end()};
}

std::shared_ptr<Preferences> Preferences::parent() const {
    std::lock_guard guard(lock);
    checkNotRemoved();
    return parentLink.lock();
}

std::shared_ptr<Preferences> Preferences::node(std::string_view path) {
    {
        std::lock_guard guard(lock);
        checkNotRemoved();
    }
    if (path.empty()) return shared_from_this();
    if (path == "/") return rootNode();
    if (path.front() == '/') return rootNode()->nodeAt(splitPath(path.substr(1)), 0);
    return nodeAt(splitPath(path), 0);
}

std::shared_ptr<Preferences> Preferences::nodeAt(const std::vector<std::string>& names, std::size_t index) {
    std::shared_ptr<Preferences> child;
    {
        std::lock_guard guard(lock);
        checkNotRemoved();
        const std::string& token = names[index];
        if (auto it = childCache.find(token); it != childCache.end()) {
            child = it->second;
        } else {
            child = childSpi(token);
            childCache[token] = child;
        }
    }
    if (index + 1 == names.size()) return child;
    return child->nodeAt(names, index + 1);
}

bool Preferences::nodeExists(std::string_view path) {
    std::shared_ptr<Preferences> current;
    {
        std::lock_guard guard(lock);
        if (path.empty()) return !nodeRemoved;
        checkNotRemoved();
    }
    if (path == "/") return true;
    std::vector<std::string> names;
    if (path.front() == '/') {
        current = rootNode();
        names = splitPath(path.substr(1));
    } else {
        current = shared_from_this();
        names = splitPath(path);
    }
    for (const auto& token : names) {
        std::lock_guard guard(current->lock);
        current->checkNotRemoved();
        std::shared_ptr<Preferences> child;
        if (auto it = current->childCache.find(token); it != current->childCache.end()) {
            child = it->second;
        } else {
            auto existing = current->childrenNamesSpi();
            for (const auto& name : existing)
                if (name == token) child = current->childSpi(token);
        }
        if (!child) return false;
        current = child;
    }
    return true;
}

void Preferences::removeNode() {
    if (isRoot) throw std::logic_error("Can't remove the root!");
    auto parentNode = parentLink.lock();
    if (!parentNode) throw std::logic_error("The tree of node " + nodePath + " no longer exists");
    std::lock_guard parentGuard(parentNode->lock);
    removeSubtree();
    parentNode->childCache.erase(nodeName);
}

void Preferences::removeSubtree() {
    std::lock_guard guard(lock);
    if (nodeRemoved) throw std::logic_error("Node already removed.");
    for (const auto& name : childrenNamesSpi())
        if (!childCache.contains(name)) childCache[name] = childSpi(name);
    for (auto& [name, kid] : childCache) {
        try {
            kid->removeSubtree();
        } catch (const BackingStoreException&) {
            // The descendant keeps its entries; removing this node goes on, as a parent's removal must.
        }
    }
    childCache.clear();
    removeNodeSpi();
    nodeRemoved = true;
}

std::vector<std::shared_ptr<Preferences>> Preferences::cachedChildren() const {
    std::vector<std::shared_ptr<Preferences>> kids;
    for (const auto& [name, kid] : childCache)
        kids.push_back(kid);
    return kids;
}

void Preferences::flush() {
    std::vector<std::shared_ptr<Preferences>> kids;
    {
        std::lock_guard guard(lock);
        flushSpi();
        if (nodeRemoved) return;
        kids = cachedChildren();
    }
    for (auto& kid : kids)
        kid->flush();
}

void Preferences::sync() {
    std::vector<std::shared_ptr<Preferences>> kids;
    {
        std::lock_guard guard(lock);
        checkNotRemoved();
        syncSpi();
        kids = cachedChildren();
    }
    for (auto& kid : kids)
        kid->sync();
}

void Preferences::exportNode(std::ostream& out) {
    std::lock_guard guard(lock);
    checkNotRemoved();
    XmlSupport::exportNode(*this, out);
}

void Preferences::importPreferences(std::istream& in) {
    XmlSupport::importPreferences(in, *userRoot());
}

bool Preferences::isValidValue(std::string_view value) {
    try {
        checkValue(value);
        return true;
    } catch (const std::invalid_argument&) {
        return false;
    }
}

std::shared_ptr<Preferences> Preferences::userRoot() {
    return PreferencesFactory::factory()->userRoot();
}

std::shared_ptr<Preferences> Preferences::systemRoot() {
    return PreferencesFactory::factory()->systemRoot();
}

void PreferencesFactory::setFactory(std::shared_ptr<PreferencesFactory> factory) {
    std::lock_guard guard(factoryMutex);
    installedFactory = std::move(factory);
}

std::shared_ptr<PreferencesFactory> PreferencesFactory::factory() {
    std::lock_guard guard(factoryMutex);
    if (!installedFactory) return std::make_shared<FilePreferencesFactory>();
    return installedFactory;
}

}  // namespace rszorvik::prefs
