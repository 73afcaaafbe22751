#pragma once

#include <cstddef>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rszorvik::prefs {

// The backing store could not be read or written.
class BackingStoreException : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A document given to import is not a well-formed preferences export.
class InvalidPreferencesFormatException : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One node of a hierarchical preferences tree: string keys with string values, typed accessors layered
// on top, child nodes addressed by slash-separated paths below a single root. This class does the path
// handling, argument checks, typed conversion, the per-node lock and the child cache; a concrete store
// derives from it and supplies the *Spi backing functions, which are always called with the node's lock
// held. Nodes are created and owned through std::shared_ptr; a node keeps its children alive.
class Preferences : public std::enable_shared_from_this<Preferences> {
  public:
    static constexpr std::size_t MAX_KEY_LENGTH = 80;      // characters
    static constexpr std::size_t MAX_VALUE_LENGTH = 8192;  // characters
    static constexpr std::size_t MAX_NAME_LENGTH = 80;     // characters of one node name

    Preferences(const Preferences&) = delete;
    Preferences& operator=(const Preferences&) = delete;
    virtual ~Preferences() = default;

    std::optional<std::string> get(const std::string& key);
    std::string get(const std::string& key, const std::string& def);
    void put(const std::string& key, const std::string& value);
    // Puts the entries in order, with the effect of one put each, but lets the store write them in one
    // go. An entry put would refuse stops it: the entries before it are stored, then the error is thrown.
    void putAll(const std::vector<std::pair<std::string, std::string>>& entries);
    // Writes `changed` over the node as the store holds it at this moment, and each of `missing` only
    // where the store holds no value for its key; every other key keeps what the store holds now, not
    // what this node read earlier. One read and one write, with no other save (of this process or
    // another) between them. Every entry is checked first: std::invalid_argument stores nothing.
    // BackingStoreException when the store cannot be read or written.
    void merge(const std::vector<std::pair<std::string, std::string>>& changed,
               const std::vector<std::pair<std::string, std::string>>& missing);
    // The stored text parsed as a decimal int; def when missing or not a number.
    int getInt(const std::string& key, int def);
    void putInt(const std::string& key, int value);
    // "true" or "false" in any letter case; def otherwise.
    bool getBoolean(const std::string& key, bool def);
    void putBoolean(const std::string& key, bool value);
    void remove(const std::string& key);
    void clear();  // removes every key of this node
    std::vector<std::string> keys();

    std::vector<std::string> childrenNames();
    std::shared_ptr<Preferences> parent() const;  // null for the root
    // A relative path starts at this node, an absolute one at the root; missing nodes are created.
    std::shared_ptr<Preferences> node(std::string_view path);
    bool nodeExists(std::string_view path);
    // Removes this node and its descendants, with their entries in the store. Not for the root.
    void removeNode();

    const std::string& name() const { return nodeName; }
    const std::string& absolutePath() const { return nodePath; }
    bool isUserNode() const { return true; }

    // Writes this node and its cached descendants to the store / reads them back from it.
    void flush();
    void sync();

    // Writes this node with all its keys (and its ancestors, without keys) as a preferences XML document.
    void exportNode(std::ostream& out);
    // Reads a document written by exportNode (of this or any process) and puts every entry it holds into
    // the matching nodes below the root of the installed factory. The whole document is checked first;
    // a document that is refused changes nothing.
    static void importPreferences(std::istream& in);

    // put accepts the value: UTF-8 without NUL, at most MAX_VALUE_LENGTH characters.
    static bool isValidValue(std::string_view value);

    static std::shared_ptr<Preferences> userRoot();
    static std::shared_ptr<Preferences> systemRoot();

  protected:
    // parent is null for the root, whose name is empty.
    Preferences(Preferences* parent, std::string name);

    virtual std::optional<std::string> getSpi(const std::string& key) = 0;
    virtual void putSpi(const std::string& key, const std::string& value) = 0;
    // By default one putSpi per entry.
    virtual void putAllSpi(const std::vector<std::pair<std::string, std::string>>& entries);
    virtual void removeSpi(const std::string& key) = 0;
    virtual void removeNodeSpi() = 0;
    virtual std::vector<std::string> keysSpi() = 0;
    virtual std::vector<std::string> childrenNamesSpi() = 0;
    virtual std::shared_ptr<Preferences> childSpi(const std::string& name) = 0;
    virtual void syncSpi() = 0;
    virtual void flushSpi() = 0;
    virtual void mergeSpi(const std::vector<std::pair<std::string, std::string>>& changed,
                          const std::vector<std::pair<std::string, std::string>>& missing) = 0;

    bool removed() const;

    // Held during every *Spi call on this node.
    mutable std::recursive_mutex lock;

  private:
    std::shared_ptr<Preferences> rootNode() const;
    std::shared_ptr<Preferences> nodeAt(const std::vector<std::string>& names, std::size_t index);
    void removeSubtree();
    std::vector<std::shared_ptr<Preferences>> cachedChildren() const;
    void checkNotRemoved() const;

    const bool isRoot;
    std::weak_ptr<Preferences> parentLink;
    std::weak_ptr<Preferences> rootLink;
    const std::string nodeName;
    std::string nodePath;
    bool nodeRemoved = false;
    std::map<std::string, std::shared_ptr<Preferences>> childCache;
};

// Makes the root nodes; one factory serves the whole process.
class PreferencesFactory {
  public:
    virtual ~PreferencesFactory() = default;
    virtual std::shared_ptr<Preferences> userRoot() = 0;
    virtual std::shared_ptr<Preferences> systemRoot() = 0;

    // Installs the process-wide factory; until one is installed (or after installing null) the
    // file-backed store is used.
    static void setFactory(std::shared_ptr<PreferencesFactory> factory);
    static std::shared_ptr<PreferencesFactory> factory();
};

}  // namespace rszorvik::prefs
