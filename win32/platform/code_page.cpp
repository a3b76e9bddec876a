// Code-page conversion through the system's tables, brought to the rules of
// platform/code_page.h so the Windows and the native build agree:
//  - 950 and 936 are decoded one character at a time wherever the whole
//    text is not plainly valid, because the tables map some lone bytes
//    (0x80, 0xFF) to characters and would swallow a bad trail byte;
//  - UTF-8 goes through platform/unicode_forms.h, shared with the native
//    build;
//  - UTF-7 goes to the system, with eight-bit bytes made U+FFFD;
//  - the way back to bytes use the system as it is, with "?" for
//    characters a page cannot hold (no "best fit" look-alikes).
#include <string>

#include "platform/native.h"
#include "platform/unicode_forms.h"
#include "win32/platform/handles.h"

namespace iw::win32 {
namespace {

bool isLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

bool isTrail(int cp, unsigned char b) {
    if (b >= 0x40 && b <= 0x7E) return true;
    if (cp == platform::kBig5) return b >= 0xA1 && b <= 0xFE;
    return b >= 0x80 && b <= 0xFE;  // 936
}

// One system call over a piece known to be complete; false when the system
// calls any of it invalid.
bool systemDecode(int cp, const char* p, int n, std::u16string& out) {
    if (n == 0) return true;
    const int need = MultiByteToWideChar(static_cast<UINT>(cp), MB_ERR_INVALID_CHARS, p, n, nullptr, 0);
    if (need <= 0) return false;
    std::wstring w(static_cast<std::size_t>(need), L'\0');
    if (MultiByteToWideChar(static_cast<UINT>(cp), MB_ERR_INVALID_CHARS, p, n, w.data(), need) != need) return false;
    out.append(w.begin(), w.end());
    return true;
}

// Big5 pairs that Windows keeps for user-defined characters (its EUDC
// areas); the system maps them into the private use area on purpose. Other
// pairs that come back in the private use area are unassigned in Big5.
bool isUserDefinedBig5(unsigned char lead, unsigned char trail) {
    return lead >= 0xFA || lead <= 0xA0 || (lead == 0xC6 && trail >= 0xA1) || lead == 0xC7 || lead == 0xC8;
}

bool isPrivateUse(char16_t c) { return c >= 0xE000 && c <= 0xF8FF; }

// One character of two bytes, already known to be well formed; an
// unassigned pair is one "?".
void decodePair(int cp, const char* p, std::u16string& out) {
    std::u16string one;
    if (!systemDecode(cp, p, 2, one) || one.empty()) {
        out.push_back(u'?');
        return;
    }
    const auto lead = static_cast<unsigned char>(p[0]), trail = static_cast<unsigned char>(p[1]);
    if (cp == platform::kBig5 && one.size() == 1 && isPrivateUse(one[0]) && !isUserDefinedBig5(lead, trail)) {
        out.push_back(u'?');
        return;
    }
    out += one;
}

std::u16string decodeDbcs(int cp, std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        // A run of well-formed characters goes to the system in one call.
        std::size_t j = i;
        while (j < bytes.size()) {
            const auto b = static_cast<unsigned char>(bytes[j]);
            if (b < 0x80) ++j;
            else if (isLead(b) && j + 1 < bytes.size() && isTrail(cp, static_cast<unsigned char>(bytes[j + 1]))) j += 2;
            else break;
        }
        if (j == i && cp == platform::kGbk && static_cast<unsigned char>(bytes[i]) == 0x80) {
            // Windows' 936 table holds the euro sign at 0x80; not every
            // system's copy of it does, so it is decoded here.
            out.push_back(u'\u20AC');
            ++i;
            continue;
        }
        if (j == i) {
            // A byte that starts no character here, or a lead byte whose
            // trail is missing or invalid (the trail is read again).
            out.push_back(u'?');
            ++i;
            continue;
        }
        const std::size_t mark = out.size();
        if (systemDecode(cp, bytes.data() + i, static_cast<int>(j - i), out)) {
            bool suspect = false;
            if (cp == platform::kBig5)
                for (std::size_t k = mark; k < out.size() && !suspect; ++k) suspect = isPrivateUse(out[k]);
            if (!suspect) {
                i = j;
                continue;
            }
            out.resize(mark);
        }
        // The system refused something in the run, or mapped a pair into
        // the private use area: one character at a time.
        while (i < j) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            if (b < 0x80) {
                out.push_back(static_cast<char16_t>(b));
                ++i;
            } else {
                decodePair(cp, bytes.data() + i, out);
                i += 2;
            }
        }
    }
    return out;
}

// UTF-7 is seven-bit: a byte with the high bit set is invalid (U+FFFD),
// where the system would take it as a Latin-1 character.
std::u16string decodeSystem(int cp, std::string_view bytes);
std::u16string decodeUtf7(std::string_view bytes) {
    std::u16string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t j = i;
        while (j < bytes.size() && static_cast<unsigned char>(bytes[j]) < 0x80) ++j;
        out += decodeSystem(platform::kUtf7, bytes.substr(i, j - i));
        if (j < bytes.size()) {
            out.push_back(u'\xFFFD');
            ++j;
        }
        i = j;
    }
    return out;
}

std::u16string decodeSystem(int cp, std::string_view bytes) {
    if (bytes.empty()) return {};
    const int n = static_cast<int>(bytes.size());
    const int need = MultiByteToWideChar(static_cast<UINT>(cp), 0, bytes.data(), n, nullptr, 0);
    if (need <= 0) return {};
    std::wstring w(static_cast<std::size_t>(need), L'\0');
    const int got = MultiByteToWideChar(static_cast<UINT>(cp), 0, bytes.data(), n, w.data(), need);
    return std::u16string(w.begin(), w.begin() + (got > 0 ? got : 0));
}

// GB18030 one sequence at a time, so a bad byte costs one "?" as in the
// double-byte pages; 936 where the system has no 54936.
std::u16string decodeGb18030(std::string_view bytes) {
    if (!IsValidCodePage(platform::kGb18030)) return decodeDbcs(platform::kGbk, bytes);
    return platform::gb18030ToUtf16(bytes, [](std::string_view seq, std::u16string& out) {
        return systemDecode(platform::kGb18030, seq.data(), static_cast<int>(seq.size()), out);
    });
}

// ---- The further pages (Japanese, Korean, Thai, Cyrillic, ISO-8859, windows-125x)

bool isFurtherMultiByte(int cp) { return cp == platform::kShiftJis || cp == platform::kKorean || cp == platform::kBig5Hkscs; }

// A multi-byte page: runs the system accepts whole go in one call; where it
// refuses, one character at a time, "?" for a byte that starts none (the
// next byte is read again).
std::u16string decodeMultiByte(int cp, std::string_view bytes) {
    std::u16string out;
    if (systemDecode(cp, bytes.data(), static_cast<int>(bytes.size()), out)) return out;
    out.clear();
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const int len = IsDBCSLeadByteEx(static_cast<UINT>(cp), b) && i + 1 < bytes.size() ? 2 : 1;
        if (systemDecode(cp, bytes.data() + i, len, out)) {
            i += static_cast<std::size_t>(len);
        } else {
            out.push_back(u'?');
            ++i;
        }
    }
    return out;
}

// A one-byte page read byte by byte, U+FFFD for a byte the page leaves
// unassigned (the system would give a private-use character).
std::u16string decodeSingleByte(int cp, std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::u16string one;
    for (const char c : bytes) {
        one.clear();
        if (systemDecode(cp, &c, 1, one) && one.size() == 1 && !isPrivateUse(one[0])) out += one;
        else out.push_back(u'\xFFFD');
    }
    return out;
}

bool systemHas(int cp) { return IsValidCodePage(static_cast<UINT>(cp)) != 0; }

class CodePageImpl final : public platform::CodePage {
public:
    std::u16string toUtf16(int cp, std::string_view bytes) const override {
        switch (cp) {
        case platform::kBig5:
        case platform::kGbk: return decodeDbcs(cp, bytes);
        case platform::kUtf8: return platform::utf8ToUtf16(bytes);
        case platform::kUtf7: return decodeUtf7(bytes);
        case platform::kGb18030: return decodeGb18030(bytes);
        case platform::kWestern:
        case platform::kUsAscii: return platform::singleByteToUtf16(cp, bytes);
        // The system's 50220 and 20932 are missing or partial on some
        // systems; both are JIS X 0208 in another wrapping, read as 932.
        case platform::kIso2022Jp: return decodeMultiByte(platform::kShiftJis, platform::iso2022JpToShiftJis(bytes));
        case platform::kEucJp: return decodeMultiByte(platform::kShiftJis, platform::eucJpToShiftJis(bytes));
        // 951 is a table some Hong Kong systems install over 950; elsewhere
        // the Big5 part of the supplement is read by 950.
        case platform::kBig5Hkscs: return systemHas(cp) ? decodeMultiByte(cp, bytes) : decodeDbcs(platform::kBig5, bytes);
        default:
            if (!canDecode(cp)) return decodeSystem(cp, bytes);
            return platform::isSingleBytePage(cp) ? decodeSingleByte(cp, bytes) : decodeMultiByte(cp, bytes);
        }
    }

    bool canDecode(int cp) const override {
        if (CodePage::canDecode(cp) || cp == platform::kBig5Hkscs) return true;
        if (cp == platform::kIso2022Jp || cp == platform::kEucJp) return systemHas(platform::kShiftJis);
        return (platform::isSingleBytePage(cp) || isFurtherMultiByte(cp)) && systemHas(cp);
    }

    std::string fromUtf16(int cp, std::u16string_view text) const override {
        if (text.empty()) return {};
        if (cp == platform::kUtf8) return platform::utf16ToUtf8(text);
        if (cp == platform::kWestern || cp == platform::kUsAscii) return platform::utf16ToSingleByte(cp, text);
        if (cp == platform::kGb18030 && !IsValidCodePage(platform::kGb18030)) cp = platform::kGbk;
        const bool dbcs = cp == platform::kBig5 || cp == platform::kGbk || isFurtherMultiByte(cp) ||
                          platform::isSingleBytePage(cp);
        std::wstring w;
        w.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            // Neither double-byte page holds characters beyond the BMP: a
            // surrogate pair becomes one "?", not two.
            if (dbcs && text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF) {
                w.push_back(L'?');
                ++i;
                continue;
            }
            w.push_back(static_cast<wchar_t>(text[i]));
        }
        // UTF-7, UTF-8 and GB18030 take no flags and no default character.
        const DWORD flags = dbcs ? WC_NO_BEST_FIT_CHARS : 0;
        const char* defaultChar = dbcs ? "?" : nullptr;
        const int n = static_cast<int>(w.size());
        const int need = WideCharToMultiByte(static_cast<UINT>(cp), flags, w.data(), n, nullptr, 0, defaultChar, nullptr);
        if (need <= 0) return {};
        std::string out(static_cast<std::size_t>(need), '\0');
        const int got = WideCharToMultiByte(static_cast<UINT>(cp), flags, w.data(), n, out.data(), need, defaultChar, nullptr);
        out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return out;
    }
};

}  // namespace
}  // namespace iw::win32

namespace iw::platform {
std::unique_ptr<CodePage> createCodePage() { return std::make_unique<win32::CodePageImpl>(); }
}  // namespace iw::platform
