// The header text decoders and ExtractAddress. They follow the filter's own
// rules exactly, including the way each one fails, because the texts the
// user sees depend on them.
#include "filter/decoders.h"

#include <cstdint>
#include <vector>

#include "filter/big5_text.h"

namespace iw::filter {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a Base64 character, -1 when it is not in the alphabet.
struct Base64Table {
    std::int8_t v[256];
    constexpr Base64Table() : v() {
        for (int i = 0; i < 256; ++i) v[i] = -1;
        for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    }
};
constexpr Base64Table kBase64{};

// The text as one unit per character: ASCII bytes stand for themselves and
// any other character (a Big5 pair, a lone high byte) becomes 0xFFFF, which
// is in no alphabet. Positions then count characters, as the text does.
std::u16string toUnits(std::string_view s) {
    std::u16string u;
    u.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            u.push_back(b);
            ++i;
        } else {
            u.push_back(0xFFFF);
            i += big5::charLength(s, i);
        }
    }
    return u;
}

struct DecodeFailed {};

int b64(const std::u16string& u, std::size_t pos1) {  // 1-based; past the end gives 0
    if (pos1 > u.size()) return 0;
    const char16_t c = u[pos1 - 1];
    const int v = c < 256 ? kBase64.v[c] : -1;
    if (v < 0) throw DecodeFailed{};
    return v;
}

std::string decodeBase64Units(const std::u16string& u) {
    if (u.empty()) throw DecodeFailed{};
    const std::size_t len = u.size();
    int finalBytes = 0;
    std::size_t n = len;
    if (u[len - 1] == u'=') {
        if (len == 1) throw DecodeFailed{};
        finalBytes = (u[len - 2] == u'=') ? 1 : 2;
        n = len >= 4 ? len - 4 : 0;
    }
    std::string out;
    out.reserve(len / 4 * 3 + 3);
    if (n >= 4) {
        for (std::size_t i = 1; i <= n; i += 4) {
            const int x1 = b64(u, i), x2 = b64(u, i + 1), x3 = b64(u, i + 2), x4 = b64(u, i + 3);
            out.push_back(static_cast<char>((x1 * 4) | ((x2 / 16) & 3)));
            out.push_back(static_cast<char>(((x2 * 16) & 255) | ((x3 / 4) & 15)));
            out.push_back(static_cast<char>(x4 | ((x3 * 64) & 255)));
        }
    }
    if (finalBytes > 0) {
        const std::size_t start = len >= 4 ? len - 4 : 0;  // 0-based start of the final group
        auto at = [&](std::size_t k) { return b64(u, start + k + 1); };
        const int x1 = at(0), x2 = at(1);
        out.push_back(static_cast<char>((x1 * 4) | ((x2 / 16) & 3)));
        if (finalBytes == 2) {
            const int x3 = at(2);
            out.push_back(static_cast<char>(((x2 * 16) & 255) | ((x3 / 4) & 15)));
        }
    }
    const std::size_t zero = out.find('\0');
    if (zero != std::string::npos) out.resize(zero);
    return out;
}

// H(ch) of the quoted-printable decoder: the position in "123456789ABCDEF",
// 0 for any other character, 1 for no character.
int hexValue(const std::u16string& u, std::size_t idx) {
    if (idx >= u.size()) return 1;
    const char16_t c = u[idx];
    if (c >= u'1' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return 0;
}

template <class Ch>
std::basic_string<Ch> extractAddressImpl(std::basic_string_view<Ch> t) {
    const std::size_t a = t.find(Ch('<'));
    if (a != std::basic_string_view<Ch>::npos) {
        const std::size_t b = t.rfind(Ch('>'));
        if (b == std::basic_string_view<Ch>::npos || b < a + 1) throw AddressError();
        t = t.substr(a + 1, b - a - 1);
    }
    std::size_t s = 0, e = t.size();
    while (s < e && t[s] == Ch(' ')) ++s;
    while (e > s && t[e - 1] == Ch(' ')) --e;
    return std::basic_string<Ch>(t.substr(s, e - s));
}

}  // namespace

std::string DecodeBase64(std::string_view text) {
    try {
        return decodeBase64Units(toUnits(text));
    } catch (const DecodeFailed&) {
        return {};
    }
}

std::string DecodeQuotedPrintable(std::string_view text) {
    if (text.empty()) return {};
    // Walk characters; keep the original byte of each one-byte character.
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '=') {
            // The two characters after "=", each possibly missing or double-byte.
            std::size_t j = i + 1;
            std::u16string two;
            for (int k = 0; k < 2 && j < text.size(); ++k) {
                const std::size_t len = big5::charLength(text, j);
                const unsigned char b = static_cast<unsigned char>(text[j]);
                two.push_back(len == 1 && b < 0x80 ? b : 0xFFFF);
                j += len;
            }
            out.push_back(static_cast<char>(16 * hexValue(two, 0) + hexValue(two, 1)));
            i = j;
        } else {
            if (big5::charLength(text, i) != 1) return {};  // a double-byte character
            out.push_back(text[i]);
            ++i;
        }
    }
    return out;
}

std::string DecodeBig5Words(std::string_view text) {
    // The loop goes on while "big5" still occurs in what is left. What is
    // left always starts at a character start of the whole text, so that is
    // the same as asking whether the last "big5" of the whole text (at a
    // character start) lies at or after it: found once, not searched again
    // for every word.
    std::size_t lastBig5 = big5::npos;
    for (std::size_t at = big5::findNoCase(text, "big5"); at != big5::npos;
         at = big5::findNoCase(text, "big5", at + 1))
        lastBig5 = at;
    std::string acc;
    if (lastBig5 == big5::npos) return acc;
    std::size_t start = 0;  // where what is left begins
    std::size_t p = text.find("?=");
    while (p != std::string_view::npos && start <= lastBig5) {
        const std::string_view left = text.substr(start, p - start);
        const std::size_t q = left.rfind('?');
        // A decoded word ends before its first zero byte, so the result never holds one.
        if (q != std::string_view::npos) acc += DecodeBase64(left.substr(q + 1));
        // Skip "?=" and the two characters after it.
        start = big5::advance(text, p + 2, 2);
        p = text.find("?=", start);
    }
    return acc;
}

std::u16string ConvertCodePage(const platform::CodePage& cp, std::string_view bytes, int codePage) {
    const std::size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
    if (bytes.empty()) return {};
    return cp.toUtf16(codePage, bytes);
}

std::u16string ExtractAddress(std::u16string_view text) { return extractAddressImpl<char16_t>(text); }

std::string ExtractAddressBytes(std::string_view text) { return extractAddressImpl<char>(text); }

}  // namespace iw::filter
