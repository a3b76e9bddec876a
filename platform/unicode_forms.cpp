// UTF-8 to and from UTF-16, written out here so both builds decode invalid
// input the same way (one U+FFFD for each maximal invalid piece) whatever
// the system's own converter does.
#include "platform/unicode_forms.h"

namespace iw::platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void appendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

}  // namespace

// Each maximal part of an ill-formed sequence becomes one U+FFFD (the
// practice Unicode recommends): a valid start whose sequence breaks off
// counts once, every other stray byte once.
std::u16string utf8ToUtf16(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    std::size_t i = 0;
    const std::size_t n = in.size();
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(in[k]); };
    while (i < n) {
        const unsigned char b = at(i);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        std::size_t need = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;  // no overlong forms
            if (b == 0xED) hi = 0x9F;  // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k <= need; ++k) {
            if (i + k >= n) break;
            const unsigned char c = at(i + k);
            const unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
            if (c < l || c > h) break;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (k <= need) {
            out.push_back(kReplacement);
            i += k;  // the bytes that matched so far form the one bad part
            continue;
        }
        appendCodePoint(out, cp);
        i += need + 1;
    }
    return out;
}

// A lone surrogate has no UTF-8 form and is written as U+FFFD.
std::string utf16ToUtf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size() * 3);
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (isHigh(in[i]) && i + 1 < in.size() && isLow(in[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (isHigh(in[i]) || isLow(in[i])) {
            cp = kReplacement;
        }
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
    return out;
}

namespace {

// 0x80-0x9F of code page 1252; the five bytes the page leaves unassigned
// stand for the control characters of the same value, as the system reads them.
constexpr char16_t kWestern80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

std::u16string singleByteToUtf16(int codePage, std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) out.push_back(b);
        else if (codePage != 1252) out.push_back(kReplacement);
        else if (b < 0xA0) out.push_back(kWestern80[b - 0x80]);
        else out.push_back(b);
    }
    return out;
}

std::string utf16ToSingleByte(int codePage, std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        char b = '?';
        if (c < 0x80) {
            b = static_cast<char>(c);
        } else if (codePage == 1252) {
            if (c >= 0xA0 && c <= 0xFF) b = static_cast<char>(c);
            for (int k = 0; k < 32; ++k)
                if (kWestern80[k] == c) b = static_cast<char>(0x80 + k);
        }
        if (isHigh(c) && i + 1 < text.size() && isLow(text[i + 1])) ++i;  // one "?" for the pair
        out.push_back(b);
    }
    return out;
}

namespace {

bool isGbLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool isDigit(unsigned char b) { return b >= 0x30 && b <= 0x39; }

// The length of the sequence at `i`: 2 for a lead byte and a two-byte trail,
// 4 for lead, digit, lead, digit; 0 when none starts there.
std::size_t gb18030Length(std::string_view in, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(in[i + k]); };
    if (!isGbLead(at(0)) || i + 1 >= in.size()) return 0;
    const unsigned char t = at(1);
    if ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFE)) return 2;
    if (isDigit(t) && i + 3 < in.size() && isGbLead(at(2)) && isDigit(at(3))) return 4;
    return 0;
}

}  // namespace

std::u16string gb18030ToUtf16(std::string_view bytes, const Gb18030Sequence& one) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        const std::size_t len = gb18030Length(bytes, i);
        if (len == 0) {
            out.push_back(u'?');
            ++i;
            continue;
        }
        const std::size_t mark = out.size();
        if (!one(bytes.substr(i, len), out) || out.size() == mark) {
            out.resize(mark);
            out.push_back(u'?');
        }
        i += len;
    }
    return out;
}

}  // namespace iw::platform
