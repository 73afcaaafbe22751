#include "prefs/XmlSupport.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <istream>
#include <optional>
#include <ostream>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <utility>

#include "base/Ascii.h"
#include "base/Utf8.h"
#include "prefs/Preferences.h"

namespace rszorvik::prefs {

namespace {

constexpr std::string_view kVersion = "1.0";

[[noreturn]] void refuse(const std::string& why) {
    throw InvalidPreferencesFormatException(why);
}

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                // Tab, line feed and carriage return as references: literal ones in an attribute would be
                // read back as blanks. Other control characters cannot stand in XML 1.0 at all;
                // escapedValue has taken them out before.
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += "&#" + std::to_string(static_cast<unsigned char>(c)) + ';';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

bool representable(std::string_view text) {
    return std::ranges::none_of(text, [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7F;
    });
}

// A value with characters XML 1.0 cannot hold is written with encoding="escaped": a backslash as "\\",
// such a character as "\xNN". Other values stay as they are, so ordinary exports read anywhere.
std::string escapedValue(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (!representable(std::string_view(&c, 1))) {
            out += "\\x";
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescapedValue(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x' &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16));
            i += 3;
        } else {
            refuse("Malformed escape in an escaped value at offset " + std::to_string(i));
        }
    }
    return out;
}

// "1", "1.0", "0.9": digits with at most one fraction; compared as numbers (major, then minor).
std::optional<std::pair<long, long>> versionNumber(std::string_view text) {
    const auto point = text.find('.');
    const std::string_view major = text.substr(0, point);
    const std::string_view minor = point == std::string_view::npos ? "0" : text.substr(point + 1);
    const auto digits = [](std::string_view part) {
        return !part.empty() && part.size() <= 9 &&
               std::ranges::all_of(part, [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(major) || !digits(minor)) return std::nullopt;
    return std::pair{std::stol(std::string(major)), std::stol(std::string(minor))};
}

// Refuses bytes that are not UTF-8 (overlong forms and surrogates included) and NUL, which the parser
// would take for the end of a text. The offset named is that of the sequence's first byte.
void checkEncoding(std::string_view doc) {
    for (std::size_t i = 0; i < doc.size();) {
        if (doc[i] == '\0') refuse("The document contains a NUL byte at offset " + std::to_string(i));
        if (!base::utf8::decode(doc, i))
            refuse("The document is not UTF-8 (offset " + std::to_string(i) + ")");
    }
}

// Only the predefined entities and character references are known; with no internal subset there is
// nothing else a reference could name. A reference to NUL, a surrogate or beyond Unicode is refused.
void checkReferences(std::string_view doc) {
    for (std::size_t at = doc.find('&'); at != std::string_view::npos; at = doc.find('&', at + 1)) {
        std::size_t end = doc.find(';', at);
        std::string_view ref =
            end == std::string_view::npos ? doc.substr(at, 12) : doc.substr(at + 1, end - at - 1);
        auto bad = [&] {
            refuse("Unknown or invalid reference &" + std::string(ref.substr(0, 12)) + " in the document");
        };
        if (end == std::string_view::npos || end - at > 12) bad();
        if (ref == "amp" || ref == "lt" || ref == "gt" || ref == "quot" || ref == "apos") continue;
        if (ref.size() < 2 || ref[0] != '#') bad();
        bool hex = ref[1] == 'x';
        std::string_view digits = ref.substr(hex ? 2 : 1);
        if (digits.empty()) bad();
        unsigned long value = 0;
        for (char c : digits) {
            int digit = c >= '0' && c <= '9'          ? c - '0'
                        : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                      : -1;
            if (digit < 0) bad();
            value = value * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
        }
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) bad();
    }
}

std::string normalizedSpace(std::string_view text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

class Checker {
  public:
    std::vector<XmlSupport::NodeEntries> result;

    void document(const pugi::xml_document& doc) {
        pugi::xml_node top;
        for (pugi::xml_node child : doc.children()) {
            switch (child.type()) {
                case pugi::node_declaration: {
                    auto encoding = child.attribute("encoding");
                    if (encoding && !base::asciiEqualsIgnoreCase(encoding.value(), "utf-8"))
                        refuse(std::string("Unsupported document encoding ") + encoding.value());
                    break;
                }
                case pugi::node_doctype:
                    if (normalizedSpace(child.value()) != XmlSupport::DOCTYPE)
                        refuse("Refusing the document type declaration <!DOCTYPE " +
                               std::string(child.value()).substr(0, 80) + ">");
                    break;
                case pugi::node_element:
                    if (top) refuse("The document has more than one top element");
                    top = child;
                    break;
                default:
                    refuse("Unexpected content outside the top element");
            }
        }
        if (!top) refuse("The document has no top element");
        if (std::string_view(top.name()) != "preferences")
            refuse(std::string("Not a preferences export: the top element is <") + top.name() + ">");
        allowAttributes(top, {"EXTERNAL_XML_VERSION"});
        // A missing version means 0.0; a newer format is not understood.
        std::string version = top.attribute("EXTERNAL_XML_VERSION").as_string("0.0");
        const auto number = versionNumber(version);
        if (!number) refuse("The format version \"" + version.substr(0, 40) + "\" is not a version number");
        if (*number > *versionNumber(kVersion))
            refuse("Exported preferences file format version " + version + " is not supported");

        auto elements = childElements(top);
        if (elements.size() != 1 || std::string_view(elements[0].name()) != "root")
            refuse("<preferences> must hold exactly one <root> element");
        pugi::xml_node root = elements[0];
        allowAttributes(root, {"type"});
        std::string type = required(root, "type");
        if (type != "user" && type != "system")
            refuse("<root> has type \"" + type + "\"; expected user or system");
        nodeContent(root, "", 0);
    }

  private:
    static std::vector<pugi::xml_node> childElements(pugi::xml_node element) {
        std::vector<pugi::xml_node> elements;
        for (pugi::xml_node child : element.children()) {
            // Whitespace between elements is not kept by the parser; any other text is out of place.
            if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
                refuse(std::string("Unexpected text inside <") + element.name() + ">");
            if (child.type() == pugi::node_element) elements.push_back(child);
        }
        return elements;
    }

    static void allowAttributes(pugi::xml_node element, std::initializer_list<std::string_view> allowed) {
        std::set<std::string_view> seen;
        for (pugi::xml_attribute attribute : element.attributes()) {
            std::string_view name = attribute.name();
            if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
                refuse(std::string("Unexpected attribute ") + attribute.name() + " on <" + element.name() +
                       ">");
            if (!seen.insert(name).second)
                refuse(std::string("Repeated attribute ") + attribute.name() + " on <" + element.name() +
                       ">");
        }
    }

    static std::string required(pugi::xml_node element, const char* name) {
        pugi::xml_attribute attribute = element.attribute(name);
        if (!attribute) refuse(std::string("<") + element.name() + "> lacks the attribute " + name);
        return attribute.value();
    }

    // <root> and <node>: one <map>, then any number of <node>.
    void nodeContent(pugi::xml_node element, const std::string& path, std::size_t depth) {
        if (depth > XmlSupport::MAX_DEPTH) refuse("Nodes are nested too deeply");
        auto elements = childElements(element);
        if (elements.empty() || std::string_view(elements[0].name()) != "map")
            refuse("<" + std::string(element.name()) + "> of " + (path.empty() ? "/" : path) +
                   " must begin with a <map> element");
        XmlSupport::NodeEntries entries{path.empty() ? "/" : path, {}};
        map(elements[0], entries);
        result.push_back(std::move(entries));
        for (std::size_t i = 1; i < elements.size(); ++i) {
            pugi::xml_node child = elements[i];
            if (std::string_view(child.name()) != "node")
                refuse("Unexpected element <" + std::string(child.name()) + "> in " +
                       (path.empty() ? "/" : path));
            allowAttributes(child, {"name"});
            std::string name = required(child, "name");
            if (name.empty() || name.find('/') != std::string::npos ||
                base::utf8::countLeadBytes(name) > Preferences::MAX_NAME_LENGTH)
                refuse("Invalid node name \"" + name.substr(0, 100) + "\"");
            nodeContent(child, path + "/" + name, depth + 1);
        }
    }

    static void map(pugi::xml_node element, XmlSupport::NodeEntries& entries) {
        if (element.first_attribute()) refuse("Unexpected attribute on <map>");
        for (pugi::xml_node entry : childElements(element)) {
            if (std::string_view(entry.name()) != "entry")
                refuse("Unexpected element <" + std::string(entry.name()) + "> in <map>");
            allowAttributes(entry, {"key", "value", "encoding"});
            std::string key = required(entry, "key");
            std::string value = required(entry, "value");
            if (auto encoding = entry.attribute("encoding")) {
                if (std::string_view(encoding.value()) != "escaped")
                    refuse("Unknown value encoding \"" + std::string(encoding.value()).substr(0, 40) + "\"");
                value = unescapedValue(value);
            }
            if (!childElements(entry).empty()) refuse("<entry> must be empty");
            if (base::utf8::countLeadBytes(key) > Preferences::MAX_KEY_LENGTH)
                refuse("Key too long: " + key.substr(0, 100));
            if (base::utf8::countLeadBytes(value) > Preferences::MAX_VALUE_LENGTH)
                refuse("Value of key " + key + " too long");
            entries.entries.emplace_back(std::move(key), std::move(value));
        }
    }
};

}  // namespace

void XmlSupport::exportNode(Preferences& node, std::ostream& out) {
    std::vector<std::string> names;
    const std::string& path = node.absolutePath();
    for (std::size_t start = 1; start < path.size();) {
        std::size_t slash = std::min(path.find('/', start), path.size());
        names.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
        "<!DOCTYPE " +
        std::string(DOCTYPE) + ">\n<preferences EXTERNAL_XML_VERSION=\"" + std::string(kVersion) +
        "\">\n  <root type=\"user\">\n";
    std::string indent = "    ";
    for (const auto& name : names) {
        xml += indent + "<map/>\n" + indent + "<node name=\"" + escape(name) + "\">\n";
        indent += "  ";
    }
    auto keys = node.keys();
    std::string entries;
    for (const auto& key : keys)
        if (auto value = node.get(key))
            entries += indent + "  <entry key=\"" + escape(key) + "\" value=\"" +
                       (representable(*value) ? escape(*value) + "\""
                                              : escape(escapedValue(*value)) + "\" encoding=\"escaped\"") +
                       "/>\n";
    xml += entries.empty() ? indent + "<map/>\n" : indent + "<map>\n" + entries + indent + "</map>\n";
    for (std::size_t i = 0; i < names.size(); ++i) {
        indent.resize(indent.size() - 2);
        xml += indent + "</node>\n";
    }
    xml += "  </root>\n</preferences>\n";
    out << xml;
    out.flush();
    if (!out) throw std::runtime_error("Cannot write the exported preferences");
}

std::vector<XmlSupport::NodeEntries> XmlSupport::parse(std::string_view document) {
    if (document.size() > MAX_DOCUMENT_SIZE)
        refuse("The document is larger than " + std::to_string(MAX_DOCUMENT_SIZE) + " bytes");
    if (document.starts_with("\xEF\xBB\xBF")) document.remove_prefix(3);
    if (document.find_first_not_of(" \t\r\n") == std::string_view::npos) refuse("The document is empty");
    checkEncoding(document);
    checkReferences(document);

    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_buffer(
        document.data(), document.size(), pugi::parse_default | pugi::parse_doctype | pugi::parse_declaration,
        pugi::encoding_utf8);
    if (!parsed)
        refuse(std::string("Not a well-formed XML document: ") + parsed.description() + " at offset " +
               std::to_string(parsed.offset));
    Checker checker;
    checker.document(doc);
    return std::move(checker.result);
}

void XmlSupport::apply(const std::vector<NodeEntries>& content, Preferences& root) {
    std::vector<std::shared_ptr<Preferences>> touched;
    for (const auto& node : content) {
        if (node.entries.empty()) continue;
        auto target = root.node(node.path);
        target->putAll(node.entries);
        touched.push_back(target);
    }
    // A put that could not be written is only logged; the import must report it.
    for (auto& node : touched)
        node->flush();
}

std::string XmlSupport::readDocument(std::istream& in) {
    std::string document(MAX_DOCUMENT_SIZE + 1, '\0');
    in.read(document.data(), static_cast<std::streamsize>(document.size()));
    if (in.bad()) throw std::runtime_error("Cannot read the document");
    document.resize(static_cast<std::size_t>(in.gcount()));
    if (document.size() > MAX_DOCUMENT_SIZE)
        refuse("The document is larger than " + std::to_string(MAX_DOCUMENT_SIZE) + " bytes");
    return document;
}

std::string XmlSupport::readDocument(const std::filesystem::path& file) {
    std::error_code ec;
    auto status = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::exists(status)) throw std::runtime_error("No such file: " + file.string());
    if (std::filesystem::is_directory(status)) throw std::runtime_error(file.string() + " is a folder");
    if (std::filesystem::is_regular_file(status) && std::filesystem::file_size(file, ec) > MAX_DOCUMENT_SIZE)
        refuse("The document is larger than " + std::to_string(MAX_DOCUMENT_SIZE) + " bytes");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("Cannot open " + file.string());
    return readDocument(in);
}

void XmlSupport::importPreferences(std::istream& in, Preferences& root) {
    apply(parse(readDocument(in)), root);
}

}  // namespace rszorvik::prefs
