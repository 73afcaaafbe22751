#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// UTF-8 helpers shared by every layer. Two readings exist on purpose: `decode`/`isValid` refuse anything
// that is not well-formed UTF-8 (overlong forms, encoded surrogates, code points above U+10FFFF, truncated
// sequences), for input that must be refused; `next` never fails, for line texts, where a "character" is
// a code point and a stray byte must still count as one.
namespace rszorvik::base::utf8 {

inline void append(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The code point of the well-formed sequence at text[i], moving i past it; none (i unchanged) when no
// well-formed sequence starts there.
inline std::optional<char32_t> decode(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    }
    if (length == 0 || i + length > text.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    i += length;
    return cp;
}

inline bool isValid(std::string_view text) {
    for (std::size_t i = 0; i < text.size();)
        if (!decode(text, i)) return false;
    return true;
}

// Decodes the code point at text[i] and moves i past it. A byte that does not start a well-formed
// sequence is taken as the code point of its own value, so no input is ever lost or merged.
inline char32_t next(std::string_view text, std::size_t& i) {
    if (const auto cp = decode(text, i)) return *cp;
    return static_cast<unsigned char>(text[i++]);
}

// Byte offset of the code point after the first n code points (text.size() when there are fewer).
inline std::size_t offsetOf(std::string_view text, std::size_t n) {
    std::size_t i = 0;
    while (n > 0 && i < text.size()) {
        next(text, i);
        --n;
    }
    return i;
}

inline std::size_t length(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++n)
        next(text, i);
    return n;
}

// The longest start of text of at most maxBytes bytes that does not end inside a character.
inline std::string_view prefixOfBytes(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

// Bytes that start a character, continuation bytes left out: the code point count of well-formed text
// without decoding it. Limits checked before the encoding use this count, so malformed text is not
// measured the way `length` would measure it.
inline std::size_t countLeadBytes(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

// Each byte becomes the code point of the same value.
inline std::string fromLatin1(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

// UTF-16 text (the wide strings of the Windows API) as UTF-8, up to its first NUL; an unpaired surrogate
// becomes U+FFFD.
inline std::string fromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size() && text[i] != u'\0'; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        append(out, cp);
    }
    return out;
}

// UTF-8 text as UTF-16; a byte that starts no well-formed sequence becomes U+FFFD.
inline std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0xFFFD;
        if (const auto decoded = decode(text, i)) {
            cp = *decoded;
        } else {
            ++i;
        }
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

}  // namespace rszorvik::base::utf8
