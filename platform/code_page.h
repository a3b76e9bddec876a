// Conversions between bytes and UTF-16 text. All bytes that become text, and
// all text that becomes bytes, go through here, so the native build (iconv)
// and the Windows build (the system's tables) can be proven to agree.
#pragma once

#include <string>
#include <string_view>

namespace iw::platform {

// The code pages the program uses.
enum CodePageId : int {
    kBig5 = 950,    // the ANSI page the program assumes (Traditional Chinese)
    kGbk = 936,     // Simplified Chinese, GB2312 and its GBK extension
    kUtf8 = 65001,
    kUtf7 = 65000,
    kGb18030 = 54936,  // Simplified Chinese, the full standard (four-byte sequences)
    kWestern = 1252,   // Western European; mail labelled iso-8859-1 is read with it
    kUsAscii = 20127,  // seven-bit ASCII
    // Further pages that mail names by its charset labels (see
    // filter/decoders.h, CharsetCodePage). Not every system has each of
    // them: canDecode() says which this one reads.
    kShiftJis = 932,    // Japanese: Shift_JIS with the Windows extensions
    kEucJp = 20932,     // Japanese: EUC-JP (read through 932, see below)
    kIso2022Jp = 50220, // Japanese: ISO-2022-JP (read through 932, see below)
    kKorean = 949,      // Korean: EUC-KR and its Windows superset (UHC)
    kBig5Hkscs = 951,   // Big5 with the Hong Kong supplement; 950 where the system has no table
    kThai = 874,        // Thai: TIS-620 / ISO-8859-11 and the Windows superset
    kKoi8R = 20866,
    kKoi8U = 21866,
    // ISO-8859-n is 28590 + n; windows-125x is 125x.
};

// True for the one-byte pages above: 874, 1250-1258, 20866, 21866 and the
// ISO-8859 pages 28591-28606 (1252 and 20127 included).
bool isSingleBytePage(int codePage);

// ISO-2022-JP and EUC-JP hold the characters of JIS X 0208 (and the
// half-width katakana of JIS X 0201) in another wrapping than Shift_JIS:
// these turn them into Shift_JIS bytes, which code page 932 reads on every
// system, with the Windows extension rows (circled numbers, the NEC and IBM
// rows) that Japanese mail written on Windows carries. A byte or sequence
// outside the wrapping becomes "?"; JIS X 0212 characters (EUC-JP's
// three-byte form, ISO-2022-JP's "ESC $ ( D"), which Shift_JIS cannot hold,
// become one "?" each.
std::string iso2022JpToShiftJis(std::string_view bytes);
std::string eucJpToShiftJis(std::string_view bytes);

class CodePage {
public:
    virtual ~CodePage() = default;

    // Bytes to UTF-16. Invalid bytes never stop the conversion:
    //  - 950 and 936: each byte that does not start a valid character, and
    //    each lead byte whose trail byte is not valid, becomes "?" (a lead
    //    byte's invalid trail byte is then read again on its own); a
    //    well-formed pair that the page leaves unassigned is one "?" for
    //    both bytes, as Windows' tables give it;
    //  - 936 reads the byte 0x80 as the euro sign, as Windows does; in 950
    //    it is not a character;
    //  - 54936: one-, two- and four-byte sequences; a byte that starts none
    //    becomes "?" and the next byte is read again, a well-formed sequence
    //    the page leaves unassigned is one "?". Where the system has no
    //    54936, it is read as 936;
    //  - 65001 and 65000: each invalid sequence becomes U+FFFD; in 65000,
    //    which is seven-bit, that includes every byte from 0x80 up;
    //  - 1252: every byte is a character (0x80-0x9F the page's punctuation,
    //    its five unassigned bytes the control characters of the same value);
    //  - 20127: every byte from 0x80 up becomes U+FFFD.
    // A lead byte at the very end (a character cut in two) becomes "?" or
    // U+FFFD; callers that receive text in pieces use completePrefix() first.
    virtual std::u16string toUtf16(int codePage, std::string_view bytes) const = 0;

    // UTF-16 to bytes. A character the page cannot hold becomes "?", with no
    // look-alike substitutes; a character beyond the BMP (a surrogate pair)
    // is one character, so 950 and 936 write one "?" for it. 1252 and 20127
    // write "?" for what they cannot hold.
    virtual std::string fromUtf16(int codePage, std::u16string_view text) const = 0;

    // Whether toUtf16 reads this page as its own. The first seven pages
    // above always are; the further ones only where the system has them.
    // The further pages follow the rules above for invalid input: a
    // multi-byte page (932, 949, 951) writes "?" for a byte that starts no
    // character (and reads the next byte again), a one-byte page writes
    // U+FFFD for a byte it leaves unassigned.
    virtual bool canDecode(int codePage) const {
        switch (codePage) {
        case kBig5: case kGbk: case kUtf8: case kUtf7: case kGb18030: case kWestern: case kUsAscii:
            return true;
        default:
            return false;
        }
    }
};

// Length of the longest prefix of `bytes` that does not end inside a
// character of the code page: for 950 and 936 a lone lead byte at the end is
// left out, for 65001 an incomplete sequence at the end is left out. Used to
// keep a character that arrives split over two reads whole.
std::size_t completePrefix(int codePage, std::string_view bytes);

}  // namespace iw::platform
