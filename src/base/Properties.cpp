#include "base/Properties.h"

#include <stdexcept>
#include <utility>

#include "base/Utf8.h"

namespace rszorvik::base {

namespace {

// The file format works on UTF-16 code units (that is what its \uXXXX escapes count), so both directions
// go through a std::u16string.

constexpr const char* kMalformedEscape = "Malformed \\uxxxx encoding.";
constexpr const char* kLoneSurrogate = "Unpaired surrogate in \\uxxxx encoding.";

bool isHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Strict UTF-8 to UTF-16: no overlong forms, no encoded surrogates, nothing above U+10FFFF.
std::optional<std::u16string> utf8ToUtf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size();) {
        const auto decoded = utf8::decode(in, i);
        if (!decoded) return std::nullopt;
        char32_t cp = *decoded;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

// Surrogate pairs (as two \u escapes in the file) become one code point; half a pair cannot be UTF-8.
std::string utf16ToUtf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t c = in[i];
        if (isHighSurrogate(c) && i + 1 < in.size() && isLowSurrogate(in[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            throw std::invalid_argument(kLoneSurrogate);
        }
        utf8::append(out, c);
    }
    return out;
}

std::u16string latin1ToUtf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    for (char c : in)
        out.push_back(static_cast<unsigned char>(c));
    return out;
}

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\f';
}

// Cuts the text into logical lines: skips blank and comment lines and the leading blanks of every natural
// line, joins continuation lines (an odd number of backslashes at the end) and drops the joining backslash.
class LineReader {
  public:
    explicit LineReader(std::u16string_view in) : input(in) {}

    bool readLine(std::u16string& line) {
        line.clear();
        bool skipBlanks = true;
        bool appendedLineBegin = false;  // a line end right after a continuation ends the logical line
        bool precedingBackslash = false;
        while (true) {
            if (position >= input.size()) {
                if (line.empty()) return false;
                if (precedingBackslash) line.pop_back();
                return true;
            }
            const char16_t c = input[position++];
            if (skipBlanks) {
                if (isBlank(c)) continue;
                if (!appendedLineBegin && (c == u'\r' || c == u'\n')) continue;
                skipBlanks = false;
                appendedLineBegin = false;
            }
            if (line.empty() && (c == u'#' || c == u'!')) {
                // A comment never continues, whatever it ends with.
                while (position < input.size() && input[position] != u'\r' && input[position] != u'\n')
                    ++position;
                if (position >= input.size()) return false;
                ++position;
                skipBlanks = true;
                continue;
            }
            if (c != u'\n' && c != u'\r') {
                line.push_back(c);
                precedingBackslash = c == u'\\' ? !precedingBackslash : false;
                continue;
            }
            if (line.empty()) {
                skipBlanks = true;
                continue;
            }
            if (position >= input.size()) {
                if (precedingBackslash) line.pop_back();
                return true;
            }
            if (!precedingBackslash) return true;
            line.pop_back();
            skipBlanks = true;
            appendedLineBegin = true;
            precedingBackslash = false;
            if (c == u'\r' && input[position] == u'\n') ++position;
        }
    }

  private:
    std::u16string_view input;
    std::size_t position = 0;
};

int hexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Resolves the escapes of a key or value.
std::string unescape(std::u16string_view in) {
    std::u16string out;
    out.reserve(in.size());
    std::size_t off = 0;
    while (off < in.size()) {
        char16_t c = in[off++];
        if (c != u'\\') {
            out.push_back(c);
            continue;
        }
        // The line reader leaves no unpaired backslash at the end of a key or value.
        if (off >= in.size()) break;
        c = in[off++];
        if (c == u'u') {
            if (off + 4 > in.size()) throw std::invalid_argument(kMalformedEscape);
            int value = 0;
            for (int i = 0; i < 4; ++i) {
                const int digit = hexValue(in[off++]);
                if (digit < 0) throw std::invalid_argument(kMalformedEscape);
                value = (value << 4) + digit;
            }
            out.push_back(static_cast<char16_t>(value));
            continue;
        }
        switch (c) {
            case u't':
                c = u'\t';
                break;
            case u'r':
                c = u'\r';
                break;
            case u'n':
                c = u'\n';
                break;
            case u'f':
                c = u'\f';
                break;
            default:
                break;
        }
        out.push_back(c);
    }
    return utf16ToUtf8(out);
}

void appendHexEscape(std::string& out, char16_t c) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out.push_back(kDigits[(c >> shift) & 0xF]);
}

// Escapes a key (every blank) or a value (only a leading blank) so that loading gives it back unchanged.
std::string escape(std::u16string_view in, bool escapeAllSpaces) {
    std::string out;
    out.reserve(in.size() * 2);
    for (std::size_t x = 0; x < in.size(); ++x) {
        const char16_t c = in[x];
        if (c > 61 && c < 127) {
            if (c == u'\\') out.push_back('\\');
            out.push_back(static_cast<char>(c));
            continue;
        }
        switch (c) {
            case u' ':
                if (x == 0 || escapeAllSpaces) out.push_back('\\');
                out.push_back(' ');
                break;
            case u'\t':
                out += "\\t";
                break;
            case u'\n':
                out += "\\n";
                break;
            case u'\r':
                out += "\\r";
                break;
            case u'\f':
                out += "\\f";
                break;
            case u'=':
            case u':':
            case u'#':
            case u'!':
                out.push_back('\\');
                out.push_back(static_cast<char>(c));
                break;
            default:
                if (c < 0x20 || c > 0x7E)
                    appendHexEscape(out, c);
                else
                    out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::u16string requireUtf8(std::string_view text, const char* what) {
    auto wide = utf8ToUtf16(text);
    if (!wide) throw std::invalid_argument(std::string(what) + " is not valid UTF-8");
    return std::move(*wide);
}

// One comment block: "#" before the first line and before every following line that does not start with
// "#" or "!" itself; characters above U+00FF as \uXXXX, the rest as ISO 8859-1 bytes.
void writeComment(std::string& out, std::string_view text) {
    const std::u16string comment = requireUtf8(text, "Comment");
    out.push_back('#');
    const std::size_t len = comment.size();
    for (std::size_t current = 0; current < len; ++current) {
        const char16_t c = comment[current];
        if (c > 0xFF) {
            appendHexEscape(out, c);
        } else if (c == u'\n' || c == u'\r') {
            out.push_back('\n');
            if (c == u'\r' && current + 1 < len && comment[current + 1] == u'\n') ++current;
            if (current == len - 1 || (comment[current + 1] != u'#' && comment[current + 1] != u'!'))
                out.push_back('#');
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.push_back('\n');
}

}  // namespace

void Properties::load(std::string_view bytes, Charset charset) {
    std::u16string text;
    if (charset == Charset::Utf8) {
        auto decoded = utf8ToUtf16(bytes);
        if (!decoded) throw std::invalid_argument("Properties text is not valid UTF-8");
        text = std::move(*decoded);
    } else {
        text = latin1ToUtf16(bytes);
    }

    Map loaded;
    LineReader reader(text);
    std::u16string line;
    while (reader.readLine(line)) {
        // The key ends at the first unescaped "=", ":" or blank; blanks around one "=" or ":" belong to
        // neither side.
        std::size_t keyLen = 0;
        std::size_t valueStart = line.size();
        bool hasSeparator = false;
        bool precedingBackslash = false;
        while (keyLen < line.size()) {
            const char16_t c = line[keyLen];
            if ((c == u'=' || c == u':') && !precedingBackslash) {
                valueStart = keyLen + 1;
                hasSeparator = true;
                break;
            }
            if (isBlank(c) && !precedingBackslash) {
                valueStart = keyLen + 1;
                break;
            }
            precedingBackslash = c == u'\\' ? !precedingBackslash : false;
            ++keyLen;
        }
        while (valueStart < line.size()) {
            const char16_t c = line[valueStart];
            if (!isBlank(c)) {
                if (hasSeparator || (c != u'=' && c != u':')) break;
                hasSeparator = true;
            }
            ++valueStart;
        }
        const std::u16string_view view(line);
        loaded.insert_or_assign(unescape(view.substr(0, keyLen)), unescape(view.substr(valueStart)));
    }
    // Applied only once everything parsed, so a bad file leaves the table as it was.
    for (auto& [key, value] : loaded)
        entryMap.insert_or_assign(key, std::move(value));
}

Properties Properties::parse(std::string_view bytes, Charset charset) {
    Properties properties;
    properties.load(bytes, charset);
    return properties;
}

std::string Properties::store(std::optional<std::string_view> comments,
                              std::optional<std::string_view> date) const {
    std::string out;
    if (comments) writeComment(out, *comments);
    if (date) writeComment(out, *date);
    for (const auto& [key, value] : entryMap) {
        // set() admitted only UTF-8, so the conversions cannot fail here.
        out += escape(*utf8ToUtf16(key), true);
        out.push_back('=');
        out += escape(*utf8ToUtf16(value), false);
        out.push_back('\n');
    }
    return out;
}

std::optional<std::string> Properties::get(std::string_view key) const {
    if (auto it = entryMap.find(key); it != entryMap.end()) return it->second;
    return std::nullopt;
}

std::string Properties::get(std::string_view key, std::string_view fallback) const {
    if (auto it = entryMap.find(key); it != entryMap.end()) return it->second;
    return std::string(fallback);
}

void Properties::set(std::string_view key, std::string_view value) {
    requireUtf8(key, "Property key");
    requireUtf8(value, "Property value");
    entryMap.insert_or_assign(std::string(key), std::string(value));
}

bool Properties::remove(std::string_view key) {
    auto it = entryMap.find(key);
    if (it == entryMap.end()) return false;
    entryMap.erase(it);
    return true;
}

bool Properties::contains(std::string_view key) const {
    return entryMap.find(key) != entryMap.end();
}

std::vector<std::string> Properties::keys() const {
    std::vector<std::string> result;
    result.reserve(entryMap.size());
    for (const auto& entry : entryMap)
        result.push_back(entry.first);
    return result;
}

}  // namespace rszorvik::base
