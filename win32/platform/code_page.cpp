// Code-page conversion through the system's tables, brought to the rules of
// platform/code_page.h so the Windows and the native build agree:
//  - 950 and 936 are decoded one character at a time wherever the whole
//    text is not plainly valid, because the tables map some lone bytes
//    (0x80, 0xFF) to characters and would swallow a bad trail byte;
//  - UTF-8 is decoded here, one U+FFFD for each maximal invalid piece;
//  - UTF-7 and the way back to bytes use the system as it is, with "?" for
//    characters a page cannot hold (no "best fit" look-alikes).
#include <string>

#include "platform/native.h"
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
        if (j > i && systemDecode(cp, bytes.data() + i, static_cast<int>(j - i), out)) {
            i = j;
            continue;
        }
        if (j == i) {
            // A byte that starts no character here, or a lead byte whose
            // trail is missing or invalid (the trail is read again).
            out.push_back(u'?');
            ++i;
            continue;
        }
        // The system refused something in the run: go through it one
        // character at a time.
        while (i < j) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            if (b < 0x80) {
                out.push_back(static_cast<char16_t>(b));
                ++i;
            } else if (systemDecode(cp, bytes.data() + i, 2, out)) {
                i += 2;
            } else {
                out.push_back(u'?');  // unassigned pair: the trail is read again
                ++i;
            }
        }
    }
    return out;
}

void appendCodePoint(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

// UTF-8 with one U+FFFD per maximal subpart of an invalid sequence (the
// Unicode recommendation): overlong forms, surrogates and values above
// U+10FFFF are invalid.
std::u16string decodeUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < n) {
        const unsigned char b = at(i);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int len = 0;
        char32_t c = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) len = 2, c = b & 0x1F;
        else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, c = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, c = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        }
        if (len == 0) {
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < static_cast<std::size_t>(len) && i + k < n; ++k) {
            const unsigned char t = at(i + k);
            if (t < (k == 1 ? lo : 0x80) || t > (k == 1 ? hi : 0xBF)) break;
            c = (c << 6) | (t & 0x3F);
        }
        if (k == static_cast<std::size_t>(len)) appendCodePoint(out, c);
        else out.push_back(u'\xFFFD');
        i += k;
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

class CodePageImpl final : public platform::CodePage {
public:
    std::u16string toUtf16(int cp, std::string_view bytes) const override {
        switch (cp) {
        case platform::kBig5:
        case platform::kGbk: return decodeDbcs(cp, bytes);
        case platform::kUtf8: return decodeUtf8(bytes);
        default: return decodeSystem(cp, bytes);
        }
    }

    std::string fromUtf16(int cp, std::u16string_view text) const override {
        if (text.empty()) return {};
        const std::wstring w(text.begin(), text.end());
        const bool dbcs = cp != platform::kUtf8 && cp != platform::kUtf7;
        // UTF-7 and UTF-8 take no flags and no default character.
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
