#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rszorvik::base {

// A table of text properties in the properties-file format that java.util.Properties reads with
// load(InputStream) and writes with store(OutputStream): ISO 8859-1 bytes, backslash escapes, "#" and "!"
// comment lines, continuation lines, \uXXXX for every character outside printable ASCII. In memory keys and
// values are UTF-8; the table is sorted by key (byte order, which is code point order).
class Properties {
  public:
    using Map = std::map<std::string, std::string, std::less<>>;

    // How the bytes handed to load() are decoded. Files written by store() are ISO 8859-1; message
    // catalogues may also be UTF-8.
    enum class Charset { Latin1, Utf8 };

    // Adds the entries of a properties file, replacing entries with equal keys; later lines win. Throws
    // std::invalid_argument on a malformed \uXXXX escape, on a \u escape that leaves half a surrogate pair,
    // and (Utf8 only) on bytes that are not UTF-8; the table is then unchanged.
    void load(std::string_view bytes, Charset charset = Charset::Latin1);
    static Properties parse(std::string_view bytes, Charset charset = Charset::Latin1);

    // The file bytes: the comment lines (every line of `comments` prefixed with "#" unless it already starts
    // with "#" or "!"), the date line written the same way, then one "key=value" line per entry in key order.
    // Lines end with "\n". An absent comment or date writes no line.
    std::string store(std::optional<std::string_view> comments = std::nullopt,
                      std::optional<std::string_view> date = std::nullopt) const;

    std::optional<std::string> get(std::string_view key) const;
    std::string get(std::string_view key, std::string_view fallback) const;
    // Throws std::invalid_argument when key or value is not UTF-8.
    void set(std::string_view key, std::string_view value);
    bool remove(std::string_view key);  // false when there was no such key
    bool contains(std::string_view key) const;
    std::vector<std::string> keys() const;  // sorted
    std::size_t size() const { return entryMap.size(); }
    bool empty() const { return entryMap.empty(); }
    void clear() { entryMap.clear(); }
    const Map& entries() const { return entryMap; }

    bool operator==(const Properties&) const = default;

  private:
    Map entryMap;
};

}  // namespace rszorvik::base
