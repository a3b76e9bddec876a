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
};

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
};

// Length of the longest prefix of `bytes` that does not end inside a
// character of the code page: for 950 and 936 a lone lead byte at the end is
// left out, for 65001 an incomplete sequence at the end is left out. Used to
// keep a character that arrives split over two reads whole.
std::size_t completePrefix(int codePage, std::string_view bytes);

}  // namespace iw::platform
