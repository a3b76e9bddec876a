// Walking bytes that are read as Big5 text character by character, so that
// searches and positions count characters as the program's text does: a
// lead byte (0x81-0xFE) followed by a valid trail byte (0x40-0x7E or
// 0xA1-0xFE) is one character; every other byte is one character. Keyword
// searches therefore never match inside a double-byte character, whose
// trail byte may look like an ASCII letter.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace iw::filter::big5 {

constexpr std::size_t npos = std::string_view::npos;

inline bool isLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
inline bool isTrail(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0xA1 && b <= 0xFE); }

// Bytes taken by the character that starts at `i` (1 or 2).
inline std::size_t charLength(std::string_view s, std::size_t i) {
    if (isLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() &&
        isTrail(static_cast<unsigned char>(s[i + 1])))
        return 2;
    return 1;
}

// The byte offset `count` characters after `i` (at most s.size()).
inline std::size_t advance(std::string_view s, std::size_t i, std::size_t count) {
    while (count > 0 && i < s.size()) {
        i += charLength(s, i);
        --count;
    }
    return i < s.size() ? i : s.size();
}

inline char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// First occurrence of the ASCII `needle` at or after `from` (a character
// start), ignoring ASCII letter case, at a character start only.
inline std::size_t findNoCase(std::string_view s, std::string_view needle, std::size_t from = 0) {
    if (needle.empty()) return from <= s.size() ? from : npos;
    const char first = upper(needle[0]);
    std::size_t i = from;
    while (i + needle.size() <= s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            if (upper(static_cast<char>(b)) == first) {
                std::size_t k = 1;
                while (k < needle.size() && upper(s[i + k]) == upper(needle[k])) ++k;
                if (k == needle.size()) return i;
            }
            ++i;
        } else {
            i += charLength(s, i);
        }
    }
    return npos;
}

inline bool containsNoCase(std::string_view s, std::string_view needle) { return findNoCase(s, needle) != npos; }

// Whether the byte at `i` starts a one-byte character (walks from the start).
inline bool isSingleByteCharAt(std::string_view s, std::size_t i) {
    std::size_t p = 0;
    while (p < i) p += charLength(s, p);
    return p == i && i < s.size() && charLength(s, i) == 1;
}

}  // namespace iw::filter::big5
