#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "base/Properties.h"
#include "prefs/Logger.h"
#include "prefs/Preferences.h"

namespace rszorvik::prefs {

// A preferences node kept, with the whole tree, in one properties file (FilePreferencesFactory names
// it). An entry with key K of the node /a/b is the property "a.b.K"; so keys and node names that contain
// "." cannot be stored faithfully. Every put and remove rewrites the whole file; writes of this process and
// of others that use the same file (zorvik-cli, a second window) take turns.
class FilePreferences final : public Preferences {
    struct Token {};

  public:
    // Creates a node and reads its entries from the file; a read failure is logged, not raised.
    static std::shared_ptr<FilePreferences> create(FilePreferences* parent, const std::string& name);
    FilePreferences(Token, FilePreferences* parent, const std::string& name);

    // Settings files larger than this are refused rather than read into memory.
    static constexpr std::size_t kMaxFileSize = std::size_t(16) << 20;
    // How long a write waits for another program's write to the same file to end before it fails.
    static std::chrono::milliseconds lockPatience;

    // Throws BackingStoreException naming the file and the problem when it exists but cannot be read as
    // a properties file (no permission, not a regular file, too large, malformed). A missing file is fine.
    static void checkReadable(const std::filesystem::path& file);

    // Appends the node's prefix: the names from the top down, each followed by ".".
    void getPath(std::string& builder) const;

  protected:
    std::optional<std::string> getSpi(const std::string& key) override;
    void putSpi(const std::string& key, const std::string& value) override;
    void putAllSpi(const std::vector<std::pair<std::string, std::string>>& entries) override;
    void removeSpi(const std::string& key) override;
    void removeNodeSpi() override;
    std::vector<std::string> keysSpi() override;
    std::vector<std::string> childrenNamesSpi() override;
    std::shared_ptr<Preferences> childSpi(const std::string& name) override;
    void syncSpi() override;
    void flushSpi() override;
    void mergeSpi(const std::vector<std::pair<std::string, std::string>>& changed,
                  const std::vector<std::pair<std::string, std::string>>& missing) override;

  private:
    // Puts the node's entries (none once it is removed) in place of the ones the file holds, and writes
    // the file. Under the file lock.
    void writeWith(base::Properties& properties, const std::filesystem::path& file);

    std::string prefix;  // getPath's text, fixed at creation
    std::map<std::string, std::string> root;
    std::map<std::string, std::shared_ptr<FilePreferences>> children;
    bool isRemoved = false;
    static const Logger log;
};

}  // namespace rszorvik::prefs
