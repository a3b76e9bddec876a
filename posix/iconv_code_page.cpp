// Code pages of the native build. 950 and 936 use tables built once from
// iconv's CP950 and CP936, which agree with the Windows tables on every
// assigned character; the user-defined areas (private-use characters) and
// four box-drawing characters whose preferred byte pair differs are
// overridden so both builds give the same bytes. UTF-8 and UTF-7 are
// decoded here directly, so invalid input gets exactly the replacement
// rules of platform/code_page.h.
#include <iconv.h>

#include <array>
#include <cerrno>
#include <map>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/native.h"
#include "posix/text.h"

namespace iw::posix {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// ---- UTF-7 (RFC 2152) ---------------------------------------------------

int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decodes as Windows does: "+-" is "+", a shifted run ends at any character
// that is not base64 (a "-" there is dropped), leftover bits of a run are
// dropped, and a "+" followed by no base64 character is dropped. A byte
// outside 7-bit ASCII is invalid and becomes U+FFFD.
std::u16string utf7ToUtf16(std::string_view in) {
    std::u16string out;
    std::size_t i = 0;
    while (i < in.size()) {
        const unsigned char b = static_cast<unsigned char>(in[i]);
        if (b >= 0x80) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        if (b != '+') {
            out.push_back(b);
            ++i;
            continue;
        }
        ++i;
        if (i < in.size() && in[i] == '-') {
            out.push_back(u'+');
            ++i;
            continue;
        }
        std::uint32_t bits = 0;
        int count = 0;
        while (i < in.size()) {
            const int v = base64Value(static_cast<unsigned char>(in[i]));
            if (v < 0) break;
            bits = (bits << 6) | static_cast<std::uint32_t>(v);
            count += 6;
            if (count >= 16) {
                count -= 16;
                out.push_back(static_cast<char16_t>((bits >> count) & 0xFFFF));
            }
            ++i;
        }
        if (i < in.size() && in[i] == '-') ++i;
    }
    return out;
}

// Encodes as Windows does: the characters of RFC 2152's set D, space, tab,
// CR and LF stand for themselves, "+" becomes "+-", every other run is
// base64 of its UTF-16 units closed by "-".
std::string utf16ToUtf7(std::u16string_view in) {
    auto direct = [](char16_t c) {
        if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) return true;
        switch (c) {
        case u'\'': case u'(': case u')': case u',': case u'-': case u'.': case u'/': case u':':
        case u'?': case u' ': case u'\t': case u'\r': case u'\n':
            return true;
        default:
            return false;
        }
    };
    std::string out;
    std::size_t i = 0;
    while (i < in.size()) {
        const char16_t c = in[i];
        if (direct(c)) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        if (c == u'+') {
            out += "+-";
            ++i;
            continue;
        }
        out.push_back('+');
        std::uint32_t bits = 0;
        int count = 0;
        while (i < in.size() && !direct(in[i]) && in[i] != u'+') {
            bits = (bits << 16) | in[i];
            count += 16;
            while (count >= 6) {
                count -= 6;
                out.push_back(kBase64[(bits >> count) & 0x3F]);
            }
            ++i;
        }
        if (count > 0) out.push_back(kBase64[(bits << (6 - count)) & 0x3F]);
        out.push_back('-');
    }
    return out;
}

// ---- Double-byte pages --------------------------------------------------

struct DbcsTables {
    std::vector<char16_t> decode;        // index lead<<8|trail; 0 = not assigned
    std::vector<std::uint16_t> encode;   // index UTF-16 unit; 0 = not in the page
    char16_t single80 = 0;               // what the byte 0x80 stands for, 0 = invalid
};

bool isTrail(int cp, unsigned char t) {
    if (t >= 0x40 && t <= 0x7E) return true;
    if (cp == platform::kGbk) return t >= 0x80 && t <= 0xFE;
    return t >= 0xA1 && t <= 0xFE;
}
bool isLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

struct UserRange {
    unsigned char firstLead, lastLead, firstTrail, lastTrail;
    char16_t firstChar;
};

// The user-defined areas, which Windows maps onto the private-use area in
// this order, row by row over the page's trail bytes.
const std::vector<UserRange>& userRanges(int cp) {
    static const std::vector<UserRange> big5 = {
        {0xFA, 0xFE, 0x40, 0xFE, 0xE000},
        {0x8E, 0xA0, 0x40, 0xFE, 0xE311},
        {0x81, 0x8D, 0x40, 0xFE, 0xEEB8},
        {0xC6, 0xC8, 0xA1, 0xFE, 0xF6B1},
    };
    static const std::vector<UserRange> gbk = {
        {0xAA, 0xAF, 0xA1, 0xFE, 0xE000},
        {0xF8, 0xFE, 0xA1, 0xFE, 0xE234},
        {0xA1, 0xA7, 0x40, 0xA0, 0xE4C6},
    };
    return cp == platform::kGbk ? gbk : big5;
}

void fillUserRanges(int cp, DbcsTables& t) {
    for (const UserRange& r : userRanges(cp)) {
        char16_t c = r.firstChar;
        for (int lead = r.firstLead; lead <= r.lastLead; ++lead) {
            for (int trail = r.firstTrail; trail <= r.lastTrail; ++trail) {
                if (!isTrail(cp, static_cast<unsigned char>(trail))) continue;
                const std::uint16_t code = static_cast<std::uint16_t>(lead << 8 | trail);
                // Where iconv knows the pair (parts of C6A1-C8FE), it agrees already.
                if (t.decode[code] == 0) t.decode[code] = c;
                if (t.encode[c] == 0 && t.decode[code] == c) t.encode[c] = code;
                ++c;
            }
        }
    }
}

// Converts with one iconv descriptor, resetting its state for every input.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) ::iconv_close(cd_);
    }
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return cd_; }
    // The bytes of a complete conversion, or empty when it fails.
    std::string run(const char* data, std::size_t size) {
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(data);
        std::size_t srcLeft = size;
        char buf[16];
        char* dst = buf;
        std::size_t dstLeft = sizeof buf;
        if (::iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) || srcLeft != 0)
            return {};
        return std::string(buf, sizeof buf - dstLeft);
    }

private:
    iconv_t cd_;
};

std::unique_ptr<DbcsTables> buildTables(int cp) {
    const char* name = cp == platform::kGbk ? "CP936" : "CP950";
    auto t = std::make_unique<DbcsTables>();
    t->decode.assign(0x10000, 0);
    t->encode.assign(0x10000, 0);
    Iconv toU(("UTF-16LE"), name);
    Iconv fromU(name, "UTF-16LE");
    if (toU.ok()) {
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (!isTrail(cp, static_cast<unsigned char>(trail))) continue;
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                const std::string u = toU.run(pair, 2);
                if (u.size() != 2) continue;  // unassigned, or not one UTF-16 unit
                t->decode[lead << 8 | trail] = static_cast<char16_t>(static_cast<unsigned char>(u[0]) |
                                                                     static_cast<unsigned char>(u[1]) << 8);
            }
        }
        const char b80 = static_cast<char>(0x80);
        const std::string u = toU.run(&b80, 1);
        // 936 has the euro sign at 0x80; in 950 the byte is not a character.
        if (cp == platform::kGbk && u.size() == 2)
            t->single80 = static_cast<char16_t>(static_cast<unsigned char>(u[0]) | static_cast<unsigned char>(u[1]) << 8);
    }
    if (fromU.ok()) {
        // A character is written as a pair only when that pair reads back as
        // it, so the encode table is the decode table turned round. Only a
        // character held by more than one pair needs iconv to say which pair
        // it writes; asking iconv once per pair found keeps this to a few
        // thousand conversions instead of one per UTF-16 unit.
        std::vector<std::uint8_t> pairs(0x10000, 0);
        for (int code = 0x8140; code <= 0xFEFE; ++code) {
            const char16_t c = t->decode[code];
            if (c >= 0x80 && pairs[c] < 2) ++pairs[c];
        }
        for (int code = 0x8140; code <= 0xFEFE; ++code) {
            const char16_t c = t->decode[code];
            if (c < 0x80 || (c >= 0xD800 && c <= 0xDFFF) || t->encode[c] != 0) continue;
            if (pairs[c] == 1) {
                t->encode[c] = static_cast<std::uint16_t>(code);
                continue;
            }
            const char unit[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
            const std::string b = fromU.run(unit, 2);
            if (b.size() == 2 && isLead(static_cast<unsigned char>(b[0])) &&
                t->decode[static_cast<unsigned char>(b[0]) << 8 | static_cast<unsigned char>(b[1])] == c)
                t->encode[c] = static_cast<std::uint16_t>(static_cast<unsigned char>(b[0]) << 8 |
                                                          static_cast<unsigned char>(b[1]));
            else
                t->encode[c] = 0xFFFF;  // asked already: iconv writes no pair for it (cleared below)
        }
        for (std::uint16_t& e : t->encode)
            if (e == 0xFFFF) e = 0;
    }
    if (t->single80) t->encode[t->single80] = 0x80;
    if (cp == platform::kBig5) {
        // Box-drawing characters held twice in Big5: Windows writes the
        // second (ETEN) pair.
        t->encode[0x2550] = 0xF9F9;
        t->encode[0x255E] = 0xF9E9;
        t->encode[0x2561] = 0xF9EB;
        t->encode[0x256A] = 0xF9EA;
    }
    fillUserRanges(cp, *t);
    return t;
}

const DbcsTables& tables(int cp) {
    // Built on first use; conversions run on the one UI thread, but the
    // statics are initialised safely anyway.
    if (cp == platform::kGbk) {
        static const std::unique_ptr<DbcsTables> gbk = buildTables(platform::kGbk);
        return *gbk;
    }
    static const std::unique_ptr<DbcsTables> big5 = buildTables(platform::kBig5);
    return *big5;
}

std::u16string dbcsToUtf16(int cp, std::string_view in) {
    const DbcsTables& t = tables(cp);
    std::u16string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        const unsigned char b = static_cast<unsigned char>(in[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
        } else if (b == 0x80 && t.single80) {
            out.push_back(t.single80);
            ++i;
        } else if (isLead(b) && i + 1 < in.size() && isTrail(cp, static_cast<unsigned char>(in[i + 1]))) {
            // A well-formed pair the table does not hold is one unknown character.
            const char16_t c = t.decode[b << 8 | static_cast<unsigned char>(in[i + 1])];
            out.push_back(c ? c : u'?');
            i += 2;
        } else {
            // A stray byte, or a lead byte without a trail byte: the next byte is read on its own.
            out.push_back(u'?');
            ++i;
        }
    }
    return out;
}

std::string utf16ToDbcs(int cp, std::u16string_view in) {
    const DbcsTables& t = tables(cp);
    std::string out;
    out.reserve(in.size() * 2);
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char16_t c = in[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (isHigh(c) && i + 1 < in.size() && isLow(in[i + 1])) {
            ++i;  // a character beyond the BMP: neither page holds one
            out.push_back('?');
            continue;
        }
        const std::uint16_t code = t.encode[c];
        if (code == 0) {
            out.push_back('?');
        } else if (code < 0x100) {
            out.push_back(static_cast<char>(code));
        } else {
            out.push_back(static_cast<char>(code >> 8));
            out.push_back(static_cast<char>(code & 0xFF));
        }
    }
    return out;
}

// ---- GB18030 (54936) -----------------------------------------------------

class Gb18030 {
public:
    Gb18030() : toU_("UTF-16LE", "GB18030"), fromU_("GB18030", "UTF-16LE") {}

    std::u16string decode(std::string_view in) {
        return platform::gb18030ToUtf16(in, [this](std::string_view seq, std::u16string& out) {
            const std::string u = toU_.ok() ? toU_.run(seq.data(), seq.size()) : std::string();
            if (u.size() != 2 && u.size() != 4) return false;
            for (std::size_t k = 0; k < u.size(); k += 2)
                out.push_back(static_cast<char16_t>(static_cast<unsigned char>(u[k]) |
                                                    static_cast<unsigned char>(u[k + 1]) << 8));
            return true;
        });
    }

    std::string encode(std::u16string_view in) {
        std::string out;
        out.reserve(in.size() * 2);
        for (std::size_t i = 0; i < in.size(); ++i) {
            const char16_t c = in[i];
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
                continue;
            }
            char unit[4] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8), 0, 0};
            std::size_t n = 2;
            if (isHigh(c) && i + 1 < in.size() && isLow(in[i + 1])) {
                ++i;
                unit[2] = static_cast<char>(in[i] & 0xFF);
                unit[3] = static_cast<char>(in[i] >> 8);
                n = 4;
            }
            const std::string b = fromU_.ok() ? fromU_.run(unit, n) : std::string();
            out += b.empty() ? std::string("?") : b;
        }
        return out;
    }

private:
    Iconv toU_, fromU_;
};

Gb18030& gb18030() {
    static Gb18030 converter;
    return converter;
}

// ---- The further pages (Japanese, Korean, Thai, Cyrillic, ISO-8859, windows-125x)

const char* iconvName(int cp) {
    switch (cp) {
    case platform::kShiftJis: return "CP932";
    case platform::kKorean: return "CP949";
    case platform::kBig5Hkscs: return "BIG5-HKSCS";
    case platform::kThai: return "CP874";
    case platform::kKoi8R: return "KOI8-R";
    case platform::kKoi8U: return "KOI8-U";
    case platform::kEucJp: return "EUC-JP";
    case platform::kIso2022Jp: return "ISO-2022-JP";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 28592: return "ISO-8859-2";
    case 28593: return "ISO-8859-3";
    case 28594: return "ISO-8859-4";
    case 28595: return "ISO-8859-5";
    case 28596: return "ISO-8859-6";
    case 28597: return "ISO-8859-7";
    case 28598: return "ISO-8859-8";
    case 28599: return "ISO-8859-9";
    case 28600: return "ISO-8859-10";
    case 28603: return "ISO-8859-13";
    case 28604: return "ISO-8859-14";
    case 28605: return "ISO-8859-15";
    case 28606: return "ISO-8859-16";
    default: return nullptr;
    }
}

// One iconv descriptor per page and direction, opened on first use; the
// program converts on one thread.
iconv_t descriptor(int cp, bool toUnicode) {
    static std::map<std::pair<int, bool>, std::unique_ptr<Iconv>> open;
    const auto key = std::make_pair(cp, toUnicode);
    auto it = open.find(key);
    if (it == open.end()) {
        const char* name = iconvName(cp);
        std::unique_ptr<Iconv> cd;
        if (name) cd = toUnicode ? std::make_unique<Iconv>("UTF-16LE", name) : std::make_unique<Iconv>(name, "UTF-16LE");
        it = open.emplace(key, std::move(cd)).first;
    }
    return it->second ? it->second->handle() : reinterpret_cast<iconv_t>(-1);
}

bool available(int cp) { return descriptor(cp, true) != reinterpret_cast<iconv_t>(-1); }

void appendUtf16Le(const char* p, std::size_t n, std::u16string& out) {
    for (std::size_t k = 0; k + 1 < n; k += 2)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[k]) | static_cast<unsigned char>(p[k + 1]) << 8));
}

// A multi-byte page: what iconv reads, with "?" for each byte where no
// character starts (the next byte is read again).
std::u16string multiByteToUtf16(int cp, std::string_view in) {
    const iconv_t cd = descriptor(cp, true);
    std::u16string out;
    out.reserve(in.size());
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    char buf[256];
    while (left > 0) {
        char* dst = buf;
        std::size_t room = sizeof buf;
        const std::size_t r = ::iconv(cd, &src, &left, &dst, &room);
        appendUtf16Le(buf, sizeof buf - room, out);
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            out.push_back(u'?');
            ++src;
            --left;
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    // BIG5-HKSCS holds a letter back to join a following mark: flush it.
    char* dst = buf;
    std::size_t room = sizeof buf;
    ::iconv(cd, nullptr, nullptr, &dst, &room);
    appendUtf16Le(buf, sizeof buf - room, out);
    return out;
}

// A one-byte page through a table built once from iconv: U+FFFD for a byte
// the page leaves unassigned.
std::u16string singleByteTableToUtf16(int cp, std::string_view in) {
    static std::map<int, std::array<char16_t, 256>> tables;
    auto it = tables.find(cp);
    if (it == tables.end()) {
        std::array<char16_t, 256> t{};
        const iconv_t cd = descriptor(cp, true);
        for (int b = 0; b < 256; ++b) {
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            char byte = static_cast<char>(b);
            char* src = &byte;
            std::size_t left = 1;
            char buf[8];
            char* dst = buf;
            std::size_t room = sizeof buf;
            // 1255 and 1258 hold a letter back to join a following
            // combining mark: the flush hands it over.
            bool ok = ::iconv(cd, &src, &left, &dst, &room) != static_cast<std::size_t>(-1);
            ok = ok && ::iconv(cd, nullptr, nullptr, &dst, &room) != static_cast<std::size_t>(-1) && room == sizeof buf - 2;
            t[static_cast<std::size_t>(b)] = ok ? static_cast<char16_t>(static_cast<unsigned char>(buf[0]) |
                                                                        static_cast<unsigned char>(buf[1]) << 8)
                                                : kReplacement;
        }
        it = tables.emplace(cp, t).first;
    }
    std::u16string out;
    out.reserve(in.size());
    for (const char c : in) out.push_back(it->second[static_cast<unsigned char>(c)]);
    return out;
}

// UTF-16 to a further page, one character at a time, "?" for what it cannot hold.
std::string utf16ToFurther(int cp, std::u16string_view in) {
    const iconv_t cd = descriptor(cp, false);
    std::string out;
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in.size(), '?');
    for (std::size_t i = 0; i < in.size(); ++i) {
        char unit[4] = {static_cast<char>(in[i] & 0xFF), static_cast<char>(in[i] >> 8), 0, 0};
        std::size_t n = 2;
        if (isHigh(in[i]) && i + 1 < in.size() && isLow(in[i + 1])) {
            ++i;
            unit[2] = static_cast<char>(in[i] & 0xFF);
            unit[3] = static_cast<char>(in[i] >> 8);
            n = 4;
        }
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* src = unit;
        std::size_t left = n;
        char buf[16];
        char* dst = buf;
        std::size_t room = sizeof buf;
        if (::iconv(cd, &src, &left, &dst, &room) == static_cast<std::size_t>(-1)) {
            out.push_back('?');
            continue;
        }
        // Close a stateful page's shift (ISO-2022-JP) after each character.
        ::iconv(cd, nullptr, nullptr, &dst, &room);
        out.append(buf, sizeof buf - room);
    }
    return out;
}

class IconvCodePage : public platform::CodePage {
public:
    std::u16string toUtf16(int cp, std::string_view bytes) const override {
        switch (cp) {
        case platform::kBig5:
        case platform::kGbk: return dbcsToUtf16(cp, bytes);
        case platform::kUtf8: return utf8ToUtf16(bytes);
        case platform::kUtf7: return utf7ToUtf16(bytes);
        case platform::kGb18030: return gb18030().decode(bytes);
        case platform::kWestern:
        case platform::kUsAscii: return platform::singleByteToUtf16(cp, bytes);
        case platform::kIso2022Jp: return toUtf16(platform::kShiftJis, platform::iso2022JpToShiftJis(bytes));
        case platform::kEucJp: return toUtf16(platform::kShiftJis, platform::eucJpToShiftJis(bytes));
        case platform::kBig5Hkscs:
            return available(cp) ? multiByteToUtf16(cp, bytes) : dbcsToUtf16(platform::kBig5, bytes);
        default:
            if (!available(cp)) return dbcsToUtf16(platform::kBig5, bytes);  // the ANSI page
            return platform::isSingleBytePage(cp) ? singleByteTableToUtf16(cp, bytes) : multiByteToUtf16(cp, bytes);
        }
    }
    bool canDecode(int cp) const override {
        if (CodePage::canDecode(cp) || cp == platform::kBig5Hkscs) return true;
        if (cp == platform::kIso2022Jp || cp == platform::kEucJp) return available(platform::kShiftJis);
        return iconvName(cp) != nullptr && available(cp);
    }
    std::string fromUtf16(int cp, std::u16string_view text) const override {
        switch (cp) {
        case platform::kBig5:
        case platform::kGbk: return utf16ToDbcs(cp, text);
        case platform::kUtf8: return utf16ToUtf8(text);
        case platform::kUtf7: return utf16ToUtf7(text);
        case platform::kGb18030: return gb18030().encode(text);
        case platform::kWestern:
        case platform::kUsAscii: return platform::utf16ToSingleByte(cp, text);
        default:
            if (iconvName(cp) != nullptr) return utf16ToFurther(cp, text);
            return utf16ToDbcs(platform::kBig5, text);
        }
    }
};

}  // namespace
}  // namespace iw::posix

namespace iw::platform {
std::unique_ptr<CodePage> createCodePage() { return std::make_unique<posix::IconvCodePage>(); }
}  // namespace iw::platform
