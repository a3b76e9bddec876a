// The header text decoders and ExtractAddress. They follow the filter's own
// rules exactly, including the way each one fails, because the texts the
// user sees depend on them.
#include "filter/decoders.h"

#include <algorithm>
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

// H(ch) of the quoted-printable decoder: the hex value of "1"-"9" and of
// "A"-"F" in either case, 0 for any other character, 1 for no character.
int hexValue(const std::u16string& u, std::size_t idx) {
    if (idx >= u.size()) return 1;
    const char16_t c = u[idx];
    if (c >= u'1' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
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

std::string DecodeQuotedPrintable(std::string_view text, bool encodedWord) {
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
            out.push_back(encodedWord && text[i] == '_' ? ' ' : text[i]);
            ++i;
        }
    }
    return out;
}

std::u16string ConvertCodePage(const platform::CodePage& cp, std::string_view bytes, int codePage) {
    const std::size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
    if (bytes.empty()) return {};
    return cp.toUtf16(codePage, bytes);
}

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Characters of a charset label: a MIME token, which also holds the "*" of
// a language suffix.
bool isLabelChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+': case '-':
    case '^': case '_': case '`': case '{': case '|': case '}': case '~': case '.': case ':':
        return true;
    default:
        return false;
    }
}

constexpr std::size_t kMaxLabel = 64;

// An encoded word found at a "=?".
struct Word {
    enum Kind { NotAWord, Good, NoEncoding, Unterminated } kind = NotAWord;
    std::size_t end = 0;  // one past its closing "?="
    std::string_view label;
    char encoding = 0;  // 'B' or 'Q'
    std::string_view payload;
};

// The payload of a word ends at its first "?" or blank: a word that is not
// closed there ("?=") is broken (a mail program that folded inside it, or a
// word cut short), and no later "?=" is taken for its end.
Word wordAt(std::string_view s, std::size_t i) {
    Word w;
    std::size_t j = i + 2;
    while (j < s.size() && j - (i + 2) <= kMaxLabel && isLabelChar(s[j])) ++j;
    if (j == i + 2 || j >= s.size() || s[j] != '?' || j - (i + 2) > kMaxLabel) return w;
    w.label = s.substr(i + 2, j - (i + 2));
    if (j + 1 < s.size() && s[j + 1] == '=') {
        w.kind = Word::NoEncoding;
        return w;
    }
    if (j + 2 >= s.size() || s[j + 2] != '?') return w;
    const char e = big5::upper(s[j + 1]);
    if (e != 'B' && e != 'Q') return w;
    w.encoding = e;
    const std::size_t start = j + 3;
    std::size_t close = start;
    while (close < s.size() && s[close] != '?' && !isBlank(s[close]) && s[close] != '\r' && s[close] != '\n') ++close;
    if (close + 1 >= s.size() || s[close] != '?' || s[close + 1] != '=') {
        w.kind = Word::Unterminated;
        return w;
    }
    w.payload = s.substr(start, close - start);
    w.end = close + 2;
    w.kind = Word::Good;
    return w;
}

void guard(std::u16string& t, std::size_t from) {
    for (std::size_t k = from; k < t.size(); ++k) {
        if (t[k] == u'<') t[k] = u'\uFF1C';
        else if (t[k] == u'>') t[k] = u'\uFF1E';
    }
}

}  // namespace

namespace {

// "iso-8859-n" in the spellings mail programs write ("iso8859-n",
// "iso_8859-n", "iso_8859-n:1987", "iso88591"), and the "-i" and "-e"
// forms of the Hebrew and Arabic pages; 0 when the label is none of them.
int isoPartNumber(std::string_view l) {
    if (l.substr(0, 3) != "iso") return 0;
    l.remove_prefix(3);
    if (!l.empty() && (l[0] == '-' || l[0] == '_')) l.remove_prefix(1);
    if (l.substr(0, 4) != "8859") return 0;
    l.remove_prefix(4);
    if (!l.empty() && (l[0] == '-' || l[0] == '_')) l.remove_prefix(1);
    int n = 0;
    std::size_t k = 0;
    while (k < l.size() && k < 2 && l[k] >= '0' && l[k] <= '9') n = n * 10 + (l[k++] - '0');
    if (k == 0) return 0;
    l.remove_prefix(k);
    if (l == "-i" || l == "-e") return n == 6 || n == 8 ? n : 0;
    if (!l.empty() && l[0] == ':') {  // a year: ":1987"
        l.remove_prefix(1);
        if (l.empty() || l.find_first_not_of("0123456789") != std::string_view::npos) return 0;
        l = {};
    }
    return l.empty() ? n : 0;
}

// The page of ISO-8859-n. Mail programs read Latin-1, Latin-5 and Thai by
// their Windows supersets (the bytes 0x80-0x9F are punctuation there), as
// browsers do.
int isoPartPage(int n) {
    switch (n) {
    case 1: return platform::kWestern;
    case 9: return 1254;
    case 11: return platform::kThai;
    case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 10: case 13: case 14: case 15: case 16:
        return 28590 + n;
    default: return 0;
    }
}

}  // namespace

int CharsetCodePage(std::string_view label) {
    std::string l;
    for (const char c : label.substr(0, label.find('*'))) l.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    if (const int n = isoPartNumber(l)) return isoPartPage(n);
    // windows-125x, cp125x, x-cp125x.
    for (const char* prefix : {"windows-", "cp", "x-cp"}) {
        const std::string_view p = prefix;
        if (l.size() == p.size() + 4 && l.compare(0, p.size(), p) == 0 && l.compare(p.size(), 3, "125") == 0 &&
            l[p.size() + 3] >= '0' && l[p.size() + 3] <= '8')
            return 1250 + (l[p.size() + 3] - '0');
    }
    struct Label {
        const char* name;
        int codePage;
    };
    static constexpr Label kLabels[] = {
        {"big5", platform::kBig5}, {"big-5", platform::kBig5}, {"cn-big5", platform::kBig5},
        {"csbig5", platform::kBig5}, {"x-x-big5", platform::kBig5}, {"x-big5", platform::kBig5},
        {"cp950", platform::kBig5}, {"ms950", platform::kBig5}, {"windows-950", platform::kBig5},
        {"big5-hkscs", platform::kBig5Hkscs}, {"big5hkscs", platform::kBig5Hkscs}, {"cp951", platform::kBig5Hkscs},
        {"gb2312", platform::kGbk}, {"gbk", platform::kGbk}, {"cp936", platform::kGbk},
        {"ms936", platform::kGbk}, {"windows-936", platform::kGbk}, {"x-gbk", platform::kGbk},
        {"csgb2312", platform::kGbk}, {"euc-cn", platform::kGbk}, {"x-euc-cn", platform::kGbk},
        {"gb_2312-80", platform::kGbk}, {"chinese", platform::kGbk}, {"iso-ir-58", platform::kGbk},
        {"csiso58gb231280", platform::kGbk},
        {"gb18030", platform::kGb18030}, {"gb-18030", platform::kGb18030},
        {"utf-8", platform::kUtf8}, {"utf8", platform::kUtf8}, {"unicode-1-1-utf-8", platform::kUtf8},
        {"utf-7", platform::kUtf7}, {"utf7", platform::kUtf7}, {"unicode-1-1-utf-7", platform::kUtf7},
        {"csunicode11utf7", platform::kUtf7},
        {"us-ascii", platform::kUsAscii}, {"ascii", platform::kUsAscii}, {"ansi_x3.4-1968", platform::kUsAscii},
        {"iso646-us", platform::kUsAscii}, {"us", platform::kUsAscii}, {"csascii", platform::kUsAscii},
        {"cp367", platform::kUsAscii}, {"iso-ir-6", platform::kUsAscii},
        // Latin-1 is read as its Windows superset (see isoPartPage).
        {"latin1", platform::kWestern}, {"l1", platform::kWestern}, {"cp819", platform::kWestern},
        {"ibm819", platform::kWestern}, {"iso-ir-100", platform::kWestern}, {"csisolatin1", platform::kWestern},
        {"latin2", 28592}, {"l2", 28592}, {"csisolatin2", 28592}, {"iso-ir-101", 28592},
        {"latin3", 28593}, {"l3", 28593}, {"csisolatin3", 28593}, {"iso-ir-109", 28593},
        {"latin4", 28594}, {"l4", 28594}, {"csisolatin4", 28594}, {"iso-ir-110", 28594},
        {"cyrillic", 28595}, {"csisolatincyrillic", 28595}, {"iso-ir-144", 28595},
        {"arabic", 28596}, {"csisolatinarabic", 28596}, {"iso-ir-127", 28596}, {"asmo-708", 28596},
        {"greek", 28597}, {"greek8", 28597}, {"csisolatingreek", 28597}, {"iso-ir-126", 28597},
        {"elot_928", 28597}, {"ecma-118", 28597},
        {"hebrew", 28598}, {"csisolatinhebrew", 28598}, {"iso-ir-138", 28598}, {"visual", 28598},
        {"latin5", 1254}, {"l5", 1254}, {"csisolatin5", 1254}, {"iso-ir-148", 1254},
        {"latin6", 28600}, {"l6", 28600}, {"csisolatin6", 28600}, {"iso-ir-157", 28600},
        {"latin7", 28603}, {"l7", 28603},
        {"latin8", 28604}, {"l8", 28604}, {"iso-ir-199", 28604},
        {"latin9", 28605}, {"l9", 28605}, {"csisolatin9", 28605},
        {"latin10", 28606}, {"l10", 28606}, {"iso-ir-226", 28606},
        {"tis-620", platform::kThai}, {"windows-874", platform::kThai}, {"cp874", platform::kThai},
        {"x-cp874", platform::kThai}, {"dos-874", platform::kThai},
        {"koi8-r", platform::kKoi8R}, {"koi8", platform::kKoi8R}, {"koi", platform::kKoi8R},
        {"cskoi8r", platform::kKoi8R}, {"koi8_r", platform::kKoi8R},
        {"koi8-u", platform::kKoi8U}, {"koi8-ru", platform::kKoi8U},
        {"shift_jis", platform::kShiftJis}, {"shift-jis", platform::kShiftJis}, {"sjis", platform::kShiftJis},
        {"x-sjis", platform::kShiftJis}, {"ms_kanji", platform::kShiftJis}, {"csshiftjis", platform::kShiftJis},
        {"windows-31j", platform::kShiftJis}, {"cswindows31j", platform::kShiftJis}, {"cp932", platform::kShiftJis},
        {"ms932", platform::kShiftJis}, {"x-ms-cp932", platform::kShiftJis}, {"windows-932", platform::kShiftJis},
        {"iso-2022-jp", platform::kIso2022Jp}, {"csiso2022jp", platform::kIso2022Jp},
        {"euc-jp", platform::kEucJp}, {"x-euc-jp", platform::kEucJp}, {"eucjp", platform::kEucJp},
        {"cseucpkdfmtjapanese", platform::kEucJp},
        {"euc-kr", platform::kKorean}, {"ks_c_5601-1987", platform::kKorean}, {"ks_c_5601-1989", platform::kKorean},
        {"ksc_5601", platform::kKorean}, {"ksc5601", platform::kKorean}, {"korean", platform::kKorean},
        {"cseuckr", platform::kKorean}, {"csksc56011987", platform::kKorean}, {"iso-ir-149", platform::kKorean},
        {"cp949", platform::kKorean}, {"windows-949", platform::kKorean}, {"ms949", platform::kKorean},
        {"uhc", platform::kKorean}, {"x-windows-949", platform::kKorean},
    };
    for (const Label& k : kLabels)
        if (l == k.name) return k.codePage;
    return 0;
}

DecodedHeader DecodeHeaderText(const platform::CodePage& cp, std::string_view value, bool guardBrackets) {
    DecodedHeader out;
    std::string pending;  // bytes of adjacent decoded words of one code page
    int pendingPage = 0;
    auto flush = [&] {
        if (pendingPage == 0) return;
        const std::size_t from = out.text.size();
        out.text += ConvertCodePage(cp, pending, pendingPage);
        if (guardBrackets) guard(out.text, from);
        pending.clear();
        pendingPage = 0;
    };
    auto plain = [&](std::string_view bytes) {
        if (bytes.empty()) return;
        flush();
        out.text += cp.toUtf16(platform::kBig5, bytes);
    };
    std::size_t i = 0;       // start of the text not yet shown
    std::size_t scan = 0;    // where to look for the next "=?"
    bool afterWord = false;  // the text since `i` follows a decoded word
    while (true) {
        const std::size_t at = value.find("=?", scan);
        if (at == std::string_view::npos) break;
        const Word w = wordAt(value, at);
        int page = w.kind == Word::Good ? CharsetCodePage(w.label) : 0;
        if (page != 0 && !cp.canDecode(page)) page = 0;  // a page this system lacks: as written
        if (w.kind != Word::Good || page == 0) {
            if (out.fault == WordFault::None) {
                if (w.kind == Word::NoEncoding) out.fault = WordFault::NoEncoding;
                else if (w.kind == Word::Unterminated) out.fault = WordFault::Unterminated;
            }
            // Not a word the program can read: it stays as written.
            scan = w.kind == Word::Good ? w.end : at + 2;
            if (w.kind != Word::Good) continue;
            plain(value.substr(i, w.end - i));
            i = w.end;
            afterWord = false;
            continue;
        }
        const std::string_view between = value.substr(i, at - i);
        const bool onlyBlanks =
            std::all_of(between.begin(), between.end(), [](char c) { return isBlank(c); });
        if (!(afterWord && onlyBlanks)) plain(between);
        std::string bytes = w.encoding == 'B' ? DecodeBase64(w.payload) : DecodeQuotedPrintable(w.payload, true);
        const std::size_t nul = bytes.find('\0');
        if (nul != std::string::npos) bytes.resize(nul);
        if (pendingPage != page) flush();
        pending += bytes;
        pendingPage = page;
        out.lastCodePage = page;
        i = scan = w.end;
        afterWord = true;
    }
    plain(value.substr(i));
    flush();
    return out;
}

std::u16string ExtractAddress(std::u16string_view text) { return extractAddressImpl<char16_t>(text); }

std::string ExtractAddressBytes(std::string_view text) { return extractAddressImpl<char>(text); }

std::string SenderAddressBytes(std::string_view value) {
    // One walk by characters (a Big5 trail byte may be a backslash), keeping
    // what lies outside comments and noting the first "<" outside quotes.
    std::string outside;
    std::size_t lt = std::string_view::npos;
    bool quoted = false;
    int depth = 0;
    for (std::size_t i = 0; i < value.size();) {
        const std::size_t len = big5::charLength(value, i);
        const char c = value[i];
        if (len == 1 && c == '\\' && (quoted || depth > 0) && i + 1 < value.size()) {
            if (depth == 0) outside.append(value.substr(i, 1 + big5::charLength(value, i + 1)));
            i += 1 + big5::charLength(value, i + 1);
            continue;
        }
        if (len == 1 && depth == 0 && c == '"') {
            quoted = !quoted;
        } else if (len == 1 && !quoted && c == '(') {
            ++depth;
            i += 1;
            continue;
        } else if (len == 1 && !quoted && depth > 0 && c == ')') {
            --depth;
            i += 1;
            continue;
        } else if (len == 1 && !quoted && depth == 0 && c == '<' && lt == std::string_view::npos) {
            lt = outside.size();
        }
        if (depth == 0) outside.append(value.substr(i, len));
        i += len;
    }
    std::string_view t = outside;
    if (lt != std::string_view::npos) {
        const std::size_t gt = t.find('>', lt + 1);
        if (gt == std::string_view::npos) throw AddressError();
        t = t.substr(lt + 1, gt - lt - 1);
    }
    std::size_t b = 0, e = t.size();
    while (b < e && isBlank(t[b])) ++b;
    while (e > b && isBlank(t[e - 1])) --e;
    return std::string(t.substr(b, e - b));
}

}  // namespace iw::filter
