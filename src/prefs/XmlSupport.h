#pragma once

#include <cstddef>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rszorvik::prefs {

class Preferences;

// The XML form of exported preferences: a <preferences> document with one <root> whose nested <node>
// elements name the path, each with a <map> of <entry key value> elements.
class XmlSupport {
  public:
    // Larger documents are refused before they are parsed.
    static constexpr std::size_t MAX_DOCUMENT_SIZE = 1024 * 1024;
    // Deeper nesting of <node> elements is refused.
    static constexpr std::size_t MAX_DEPTH = 64;
    // The only document type declaration accepted on import; written on export.
    static constexpr std::string_view DOCTYPE =
        "preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\"";

    // The entries a document holds for one node, in document order.
    struct NodeEntries {
        std::string path;  // absolute, "/" for the root
        std::vector<std::pair<std::string, std::string>> entries;
    };

    // Writes node with all its keys; its ancestors appear with empty maps. The caller holds node's lock.
    static void exportNode(Preferences& node, std::ostream& out);

    // Checks a whole document and answers what it holds, node by node (nodes without entries included).
    // Throws InvalidPreferencesFormatException saying what is wrong.
    static std::vector<NodeEntries> parse(std::string_view document);

    // Puts every entry into the node of that path below root, then flushes each of those nodes.
    static void apply(const std::vector<NodeEntries>& content, Preferences& root);

    // Reads at most MAX_DOCUMENT_SIZE bytes; more is refused with InvalidPreferencesFormatException.
    static std::string readDocument(std::istream& in);
    static std::string readDocument(const std::filesystem::path& file);

    // readDocument, parse and apply: a refused document changes nothing.
    static void importPreferences(std::istream& in, Preferences& root);
};

}  // namespace rszorvik::prefs
