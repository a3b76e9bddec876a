// ISO-2022-JP and EUC-JP turned into Shift_JIS bytes, so both are read with
// code page 932, which every system has (see platform/code_page.h).
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace iw::platform {
namespace {

// One JIS X 0208 character (row and cell bytes 0x21-0x7E) in Shift_JIS.
void jisToShiftJis(unsigned char j1, unsigned char j2, std::string& out) {
    const int s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
    const int s2 = j2 + ((j1 & 1) ? (j2 >= 0x60 ? 0x20 : 0x1F) : 0x7E);
    out.push_back(static_cast<char>(s1));
    out.push_back(static_cast<char>(s2));
}

bool isJisByte(unsigned char b) { return b >= 0x21 && b <= 0x7E; }

}  // namespace

bool isSingleBytePage(int cp) {
    return cp == kThai || (cp >= 1250 && cp <= 1258) || cp == kKoi8R || cp == kKoi8U || cp == kUsAscii ||
           (cp >= 28591 && cp <= 28606 && cp != 28602 && cp != 28601);
}

std::string iso2022JpToShiftJis(std::string_view in) {
    enum Set { Ascii, Jis0208, Kana, Jis0212 } set = Ascii;
    std::string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        const auto b = static_cast<unsigned char>(in[i]);
        if (b == 0x1B) {
            // The escape sequences of RFC 1468 and the half-width katakana
            // and JIS X 0212 ones mail programs also write.
            const std::string_view rest = in.substr(i + 1);
            struct Escape {
                std::string_view seq;
                Set set;
            };
            static constexpr Escape kEscapes[] = {
                {"(B", Ascii}, {"(J", Ascii}, {"$@", Jis0208}, {"$B", Jis0208},
                {"(I", Kana},  {"$(D", Jis0212}, {"$(B", Jis0208}, {"$(@", Jis0208},
            };
            bool known = false;
            for (const Escape& e : kEscapes) {
                if (rest.substr(0, e.seq.size()) == e.seq) {
                    set = e.set;
                    i += 1 + e.seq.size();
                    known = true;
                    break;
                }
            }
            if (!known) {
                out.push_back('?');
                ++i;
            }
            continue;
        }
        if (b == '\r' || b == '\n') {
            // A line end takes the text back to ASCII.
            set = Ascii;
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        if (b >= 0x80) {  // the wrapping is seven-bit
            out.push_back('?');
            ++i;
            continue;
        }
        switch (set) {
        case Ascii:
            out.push_back(static_cast<char>(b));
            ++i;
            break;
        case Kana:
            out.push_back(b >= 0x21 && b <= 0x5F ? static_cast<char>(b + 0x80) : static_cast<char>(b));
            ++i;
            break;
        case Jis0208:
        case Jis0212:
            if (i + 1 < in.size() && isJisByte(b) && isJisByte(static_cast<unsigned char>(in[i + 1]))) {
                if (set == Jis0208) jisToShiftJis(b, static_cast<unsigned char>(in[i + 1]), out);
                else out.push_back('?');
                i += 2;
            } else {
                out.push_back(isJisByte(b) ? '?' : static_cast<char>(b));
                ++i;
            }
            break;
        }
    }
    return out;
}

std::string eucJpToShiftJis(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    auto high = [&](std::size_t k) {
        return k < in.size() && static_cast<unsigned char>(in[k]) >= 0xA1 && static_cast<unsigned char>(in[k]) <= 0xFE;
    };
    std::size_t i = 0;
    while (i < in.size()) {
        const auto b = static_cast<unsigned char>(in[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
        } else if (b == 0x8E && i + 1 < in.size() && static_cast<unsigned char>(in[i + 1]) >= 0xA1 &&
                   static_cast<unsigned char>(in[i + 1]) <= 0xDF) {
            out.push_back(in[i + 1]);  // half-width katakana: the same byte in Shift_JIS
            i += 2;
        } else if (b == 0x8F && high(i + 1) && high(i + 2)) {
            out.push_back('?');  // JIS X 0212
            i += 3;
        } else if (b >= 0xA1 && b <= 0xFE && high(i + 1)) {
            jisToShiftJis(static_cast<unsigned char>(b - 0x80), static_cast<unsigned char>(in[i + 1] - 0x80), out);
            i += 2;
        } else {
            out.push_back('?');
            ++i;
        }
    }
    return out;
}

}  // namespace iw::platform
