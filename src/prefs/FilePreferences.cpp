#include "prefs/FilePreferences.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <locale>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/Properties.h"
#include "prefs/AtomicFile.h"
#include "prefs/FilePreferencesFactory.h"

namespace rszorvik::prefs {

namespace {

// Guards reading and rewriting the one file against the other nodes of this process.
std::mutex& fileLock() {
    static std::mutex lock;
    return lock;
}

// A rewrite of the file (read, merge, write) against the other nodes of this process and against other
// programs that write the same file: the lock of this process, then AtomicFile's lock among programs. Where
// there is nothing to lock (the folder does not exist yet, or may not be read) the write goes on and
// reports its own failure; so does a file system that keeps no locks, with a warning: saving matters more.
class WriteLock {
  public:
    explicit WriteLock(const std::filesystem::path& file) : inProcess(fileLock()), acrossPrograms(file) {
        const auto deadline = std::chrono::steady_clock::now() + FilePreferences::lockPatience;
        for (;;) {
            switch (acrossPrograms.tryLock()) {
                case AtomicFile::WriteLock::State::Held:
                case AtomicFile::WriteLock::State::NoFolder:
                    return;
                case AtomicFile::WriteLock::State::NoLocks: {
                    static const Logger log("rszorvik.prefs.FilePreferences");
                    log.warning(acrossPrograms.problem() + ": " + file.string() +
                                " is written without waiting for other programs");
                    return;
                }
                case AtomicFile::WriteLock::State::Busy:
                    break;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                throw BackingStoreException("Cannot write " + file.string() +
                                            ": another program keeps writing to it");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

  private:
    std::lock_guard<std::mutex> inProcess;
    AtomicFile::WriteLock acrossPrograms;
};

[[noreturn]] void cannotRead(const std::filesystem::path& file, const std::string& problem) {
    throw BackingStoreException("Cannot read " + file.string() + ": " + problem);
}

base::Properties readProperties(const std::filesystem::path& file) {
    AtomicFile::Content content;
    try {
        content = AtomicFile::read(file, FilePreferences::kMaxFileSize);
    } catch (const std::system_error& e) {
        cannotRead(file, e.code().message());
    }
    using Kind = AtomicFile::Content::Kind;
    if (content.kind == Kind::Folder) cannotRead(file, "it is a folder, not a settings file");
    if (content.kind == Kind::NotRegular) cannotRead(file, "it is not a regular file");
    if (content.kind == Kind::TooLarge)
        cannotRead(file, "it is larger than " + std::to_string(FilePreferences::kMaxFileSize >> 20) + " MiB");
    const std::string& bytes = content.bytes;
    // Editors such as Notepad put a byte-order mark before the first key.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::string_view text = bytes;
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    try {
        return base::Properties::parse(text);
    } catch (const std::exception& e) {
        cannotRead(file, e.what());
    }
}

// The date line of the file header, in the usual "Tue Mar 05 10:11:12 CET 2024" form.
std::string dateLine() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::put_time(&local, "%a %b %d %H:%M:%S %Z %Y");
    return out.str();
}

// The part of a property name after the node's prefix, when the property is one of the node's own
// entries (deeper properties belong to descendants).
std::optional<std::string_view> ownKey(std::string_view property, std::string_view prefix) {
    if (!property.starts_with(prefix)) return std::nullopt;
    std::string_view rest = property.substr(prefix.size());
    if (rest.find('.') != std::string_view::npos) return std::nullopt;
    return rest;
}

}  // namespace

const Logger FilePreferences::log("rszorvik.prefs.FilePreferences");
std::chrono::milliseconds FilePreferences::lockPatience{10000};

void FilePreferences::checkReadable(const std::filesystem::path& file) {
    std::lock_guard guard(fileLock());
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) readProperties(file);
}

std::shared_ptr<FilePreferences> FilePreferences::create(FilePreferences* parent, const std::string& name) {
    return std::make_shared<FilePreferences>(Token{}, parent, name);
}

FilePreferences::FilePreferences(Token, FilePreferences* parent, const std::string& name)
    : Preferences(parent, name) {
    log.fine("Instantiating node " + name);
    if (parent != nullptr) prefix = parent->prefix + name + ".";
    try {
        syncSpi();
    } catch (const BackingStoreException& e) {
        log.log(Logger::Level::WARNING, "Unable to sync on creation of node " + name, e);
    }
}

void FilePreferences::getPath(std::string& builder) const {
    builder += prefix;
}

std::optional<std::string> FilePreferences::getSpi(const std::string& key) {
    if (auto it = root.find(key); it != root.end()) return it->second;
    return std::nullopt;
}

void FilePreferences::putSpi(const std::string& key, const std::string& value) {
    root[key] = value;
    try {
        flush();
    } catch (const BackingStoreException& e) {
        log.log(Logger::Level::WARNING, "Unable to flush after putting " + key, e);
    }
}

// One rewrite of the file for all entries; the file ends as after one put per entry.
void FilePreferences::putAllSpi(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string keys;
    for (const auto& [key, value] : entries) {
        root[key] = value;
        keys += (keys.empty() ? "" : ", ") + key;
    }
    try {
        flush();
    } catch (const BackingStoreException& e) {
        log.log(Logger::Level::WARNING, "Unable to flush after putting " + keys, e);
    }
}

void FilePreferences::removeSpi(const std::string& key) {
    root.erase(key);
    try {
        flush();
    } catch (const BackingStoreException& e) {
        log.log(Logger::Level::WARNING, "Unable to flush after removing " + key, e);
    }
}

void FilePreferences::removeNodeSpi() {
    isRemoved = true;
    flushSpi();
}

std::vector<std::string> FilePreferences::keysSpi() {
    std::vector<std::string> keys;
    for (const auto& [key, value] : root)
        keys.push_back(key);
    return keys;
}

std::vector<std::string> FilePreferences::childrenNamesSpi() {
    // Only nodes created in this process are known. A removed child is no longer listed.
    std::vector<std::string> names;
    for (const auto& [name, child] : children)
        if (!child->isRemoved) names.push_back(name);
    return names;
}

std::shared_ptr<Preferences> FilePreferences::childSpi(const std::string& name) {
    if (auto it = children.find(name); it != children.end() && !it->second->isRemoved) return it->second;
    auto child = create(this, name);
    children[name] = child;
    return child;
}

void FilePreferences::syncSpi() {
    if (isRemoved) return;
    auto file = FilePreferencesFactory::getPreferencesFile();
    std::lock_guard guard(fileLock());
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return;
    base::Properties properties = readProperties(file);
    for (const auto& [name, value] : properties.entries())
        if (auto key = ownKey(name, prefix)) root[std::string(*key)] = value;
}

void FilePreferences::flushSpi() {
    auto file = FilePreferencesFactory::getPreferencesFile();
    WriteLock lock(file);
    base::Properties properties;
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) properties = readProperties(file);
    writeWith(properties, file);
}

void FilePreferences::mergeSpi(const std::vector<std::pair<std::string, std::string>>& changed,
                               const std::vector<std::pair<std::string, std::string>>& missing) {
    auto file = FilePreferencesFactory::getPreferencesFile();
    WriteLock lock(file);
    base::Properties properties;
    std::error_code ec;
    if (std::filesystem::exists(file, ec)) properties = readProperties(file);
    // What the file holds now is the node, except where this save says otherwise.
    std::map<std::string, std::string> merged;
    for (const auto& [name, value] : properties.entries())
        if (auto key = ownKey(name, prefix)) merged[std::string(*key)] = value;
    for (const auto& [key, value] : changed)
        merged[key] = value;
    for (const auto& [key, value] : missing)
        merged.try_emplace(key, value);
    root = std::move(merged);
    writeWith(properties, file);
}

void FilePreferences::writeWith(base::Properties& properties, const std::filesystem::path& file) {
    std::vector<std::string> own;
    for (const auto& [name, value] : properties.entries())
        if (ownKey(name, prefix)) own.push_back(name);
    for (const auto& name : own)
        properties.remove(name);
    try {
        if (!isRemoved)
            for (const auto& [key, value] : root)
                properties.set(prefix + key, value);
        AtomicFile::write(file, properties.store("FilePreferences", dateLine()));
    } catch (const std::exception& e) {
        throw BackingStoreException(e.what());
    }
}

}  // namespace rszorvik::prefs
