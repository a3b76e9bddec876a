// The build's code pages against one table of cases, so the native build
// (iconv) and the Windows build (the system's tables, normalised) are held to
// the same results: text in each page, the invalid-byte rules of
// platform/code_page.h, unmappable characters, and characters split over two
// chunks.
#include <gtest/gtest.h>

#include <memory>

#include "platform/native.h"

namespace {

using namespace iw::platform;

struct DecodeCase {
    const char* what;
    int page;
    std::string bytes;
    std::u16string text;
};

const DecodeCase kDecode[] = {
    {"big5 text", kBig5, "\xA4\xA4\xA4\xE5 ok", u"中文 ok"},
    {"big5 mixed with ascii", kBig5, "a\xAB\x48\xBD\x63" "b", u"a信箱b"},
    {"big5 euro", kBig5, "\xA3\xE1", u"\u20AC"},
    {"big5 hyphenation point", kBig5, "\xA1\x45", u"\u2027"},
    {"big5 small wavy low line", kBig5, "\xA1\x4E", u"\uFE51"},
    {"big5 fullwidth macron", kBig5, "\xA1\xC3", u"\uFFE3"},
    {"big5 modifier low macron", kBig5, "\xA1\xC5", u"\u02CD"},
    {"big5 duplicate ten and thirty", kBig5, "\xA2\xCC\xA2\xCE", u"\u5341\u5345"},
    {"big5 eten extensions", kBig5, "\xF9\xD6\xF9\xDC\xF9\xDD\xF9\xFE", u"\u7881\u5AFA\u2554\u2593"},
    {"big5 user-defined area", kBig5, "\xFA\x40\x81\x40\xC6\xA1", u"\uE000\uEEB8\uF6B1"},
    {"big5 byte 0x80 is not a character", kBig5, "a\x80" "b", u"a?b"},
    {"big5 byte 0xFF is not a character", kBig5, "\xFF" "a", u"?a"},
    {"big5 lead with invalid trail reads the trail again", kBig5, "\xA4\x30\xA4\xA4", u"?0中"},
    {"big5 lead before a newline", kBig5, "\xA4\r\n", u"?\r\n"},
    {"big5 unassigned pair is one character", kBig5, "\xA3\xFE" "a", u"?a"},
    {"big5 lone lead at the end", kBig5, "ab\xA4", u"ab?"},
    {"gb2312 text", kGbk, "\xD6\xD0\xCE\xC4\xBA\xBA\xD7\xD6", u"中文汉字"},
    {"gbk euro at 0x80", kGbk, "\x80", u"\u20AC"},
    {"gbk trail in the 0x80 column", kGbk, "\x81\x80", u"\u4E90"},
    {"gbk lead with invalid trail", kGbk, "\x81\x30z", u"?0z"},
    {"gbk byte 0xFF", kGbk, "\xFF", u"?"},
    {"gbk lone lead at the end", kGbk, "x\xD6", u"x?"},
    {"utf-8 text", kUtf8, "\xE4\xB8\xAD\xE6\x96\x87 ok", u"中文 ok"},
    {"utf-8 four bytes make a surrogate pair", kUtf8, "a\xF0\x9F\x98\x80" "b", u"a\U0001F600b"},
    {"utf-8 overlong nul", kUtf8, "\xC0\x80", u"\uFFFD\uFFFD"},
    {"utf-8 stray continuations", kUtf8, "\x80\x80" "a", u"\uFFFD\uFFFDa"},
    {"utf-8 byte 0xFF", kUtf8, "\xFF", u"\uFFFD"},
    {"utf-8 broken sequence then ascii", kUtf8, "\xE4\xB8" "a", u"\uFFFDa"},
    {"utf-8 cut at the end", kUtf8, "\xF0\x9F\x98", u"\uFFFD"},
    {"utf-7 text", kUtf7, "+ZeVnLIqe-", u"日本語"},
    {"utf-7 run ended by a direct character", kUtf7, "+ZeVn.", u"日.", },
    {"utf-7 plus sign", kUtf7, "a+-b", u"a+b"},
    {"utf-7 surrogate pair", kUtf7, "+2D3eAA-", u"\U0001F600"},
    {"utf-7 eight-bit byte is invalid", kUtf7, "a\xE9z", u"a\uFFFDz"},
    {"gb18030 two-byte text", kGb18030, "\xD6\xD0\xCE\xC4 ok", u"中文 ok"},
    {"gb18030 broken four-byte sequence", kGb18030, "\x81\x30z", u"?0z"},
    {"gb18030 byte 0xFF", kGb18030, "\xFF" "a", u"?a"},
    {"western punctuation and letters", kWestern, "\x93" "caf\xE9\x94 \x80" "5", u"\u201Ccaf\u00E9\u201D \u20AC" "5"},
    {"western unassigned byte", kWestern, "\x81", u"\u0081"},
    {"us-ascii eight-bit byte is invalid", kUsAscii, "ok\xA4", u"ok\uFFFD"},
    {"shift_jis text with half-width katakana", kShiftJis, "\x93\xFA\x96\x7B \xB6\xC5", u"日本 ｶﾅ"},
    {"shift_jis windows row: circled one", kShiftJis, "\x87\x40", u"①"},
    {"shift_jis lead with invalid trail reads the trail again", kShiftJis, "\x81 a", u"? a"},
    {"shift_jis lone lead at the end", kShiftJis, "a\x93", u"a?"},
    {"iso-2022-jp two-byte run", kIso2022Jp, "a\x1B$BF|K\\\x1B(Bb", u"a日本b"},
    {"iso-2022-jp old escape and roman set", kIso2022Jp, "\x1B$@F|\x1B(Jx", u"日x"},
    {"iso-2022-jp half-width katakana", kIso2022Jp, "\x1B(I12\x1B(B", u"ｱｲ"},
    {"iso-2022-jp jis x 0212 character is one ?", kIso2022Jp, "\x1B$(D0!\x1B(Ba", u"?a"},
    {"iso-2022-jp windows row: circled one", kIso2022Jp, "\x1B$B-!\x1B(B", u"①"},
    {"iso-2022-jp eight-bit byte", kIso2022Jp, "a\xA4" "b", u"a?b"},
    {"iso-2022-jp unknown escape", kIso2022Jp, "\x1B$Za", u"?$Za"},
    {"iso-2022-jp line end goes back to ascii", kIso2022Jp, "\x1B$BF|\r\nF|", u"日\r\nF|"},
    {"iso-2022-jp odd byte at the end of a run", kIso2022Jp, "\x1B$BF|F", u"日?"},
    {"euc-jp text", kEucJp, "\xC6\xFC\xCB\xDC", u"日本"},
    {"euc-jp half-width katakana", kEucJp, "\x8E\xB1\x8E\xB2", u"ｱｲ"},
    {"euc-jp jis x 0212 character is one ?", kEucJp, "\x8F\xB0\xA1z", u"?z"},
    {"euc-jp stray bytes", kEucJp, "\x80\xC6z", u"??z"},
    {"korean text", kKorean, "\xC7\xD1\xB1\xB9", u"한국"},
    {"korean windows extension", kKorean, "\x8C\x63", u"똠"},
    {"koi8-r text", kKoi8R, "\xF3\xCB\xC9\xC4\xCB\xC1", u"Скидка"},
    {"windows-1251 text", 1251, "\xCF\xF0\xE8", u"При"},
    {"windows-1253 unassigned byte", 1253, "a\xAA" "b", u"a\uFFFDb"},
    {"iso-8859-3 unassigned byte", 28593, "\xA5", u"\uFFFD"},
    {"iso-8859-5 text", 28595, "\xBF\xE0\xD8", u"При"},
    {"thai text", kThai, "\xCA\xC7", u"สว"},
    {"big5-hkscs common characters", kBig5Hkscs, "\xAD\xBB\xB4\xE4", u"香港"},
};

struct EncodeCase {
    const char* what;
    int page;
    std::u16string text;
    std::string bytes;
};

const EncodeCase kEncode[] = {
    {"big5 text", kBig5, u"中文 ok", "\xA4\xA4\xA4\xE5 ok"},
    {"big5 euro", kBig5, u"\u20AC", "\xA3\xE1"},
    {"big5 duplicate takes the main pair", kBig5, u"\u5341\u5345", "\xA4\x51\xA4\xCA"},
    {"big5 double box drawing takes the eten pair", kBig5, u"\u2550\u255E\u2561\u256A",
     "\xF9\xF9\xF9\xE9\xF9\xEB\xF9\xEA"},
    {"big5 private use to user-defined area", kBig5, u"\uE000", "\xFA\x40"},
    {"big5 unmappable, no best fit", kBig5, u"\u00E9\u00A9\u6C49", "???"},
    {"big5 character beyond the bmp is one ?", kBig5, u"a\U0001F600b", "a?b"},
    {"big5 lone surrogate", kBig5, u"\xD800" "a", "?a"},
    {"gbk text", kGbk, u"汉字中文", "\xBA\xBA\xD7\xD6\xD6\xD0\xCE\xC4"},
    {"gbk euro", kGbk, u"\u20AC", "\x80"},
    {"gbk unmappable, no best fit", kGbk, u"\u00A9\u00AA", "??"},
    {"utf-8 text with a surrogate pair", kUtf8, u"中\U0001F600", "\xE4\xB8\xAD\xF0\x9F\x98\x80"},
    {"utf-8 lone surrogate", kUtf8, u"\xD800" "a", "\xEF\xBF\xBD" "a"},
    {"utf-7 text", kUtf7, u"日本語", "+ZeVnLIqe-"},
    {"utf-7 plus sign", kUtf7, u"A+B", "A+-B"},
    {"utf-7 run between direct characters", kUtf7, u"a日b", "a+ZeU-b"},
    {"utf-7 optional direct characters are encoded", kUtf7, u"Hi!", "Hi+ACE-"},
    {"western", kWestern, u"\u201Ccaf\u00E9\u201D\u4E2D", "\x93" "caf\xE9\x94?"},
    {"us-ascii", kUsAscii, u"a\u00E9", "a?"},
};

class NativeCodePage : public ::testing::Test {
protected:
    std::unique_ptr<CodePage> cp = createCodePage();
};

TEST_F(NativeCodePage, DecodesEveryCase) {
    for (const DecodeCase& c : kDecode) EXPECT_EQ(cp->toUtf16(c.page, c.bytes), c.text) << c.what;
}

TEST_F(NativeCodePage, EncodesEveryCase) {
    for (const EncodeCase& c : kEncode) EXPECT_EQ(cp->fromUtf16(c.page, c.text), c.bytes) << c.what;
}

// GB18030 in full (four-byte sequences) where the system has code page
// 54936, which the native build always has; elsewhere it reads as 936.
TEST_F(NativeCodePage, Gb18030InFullWhereTheSystemHasIt) {
    const bool full = cp->toUtf16(kGb18030, "\x81\x30\x81\x30") == u"\u0080";
#ifndef _WIN32
    EXPECT_TRUE(full);
#endif
    const DecodeCase cases[] = {
        {"four-byte character in the bmp", kGb18030, "\x81\x30\x81\x30", u"\u0080"},
        {"four-byte character beyond the bmp", kGb18030, "a\x95\x32\x82\x36" "b", u"a\U00020000b"},
        {"euro is a pair, not 0x80", kGb18030, "\xA2\xE3\x80", u"\u20AC?"},
    };
    for (const DecodeCase& c : cases) {
        if (full) EXPECT_EQ(cp->toUtf16(kGb18030, c.bytes), c.text) << c.what;
        else EXPECT_EQ(cp->toUtf16(kGb18030, c.bytes), cp->toUtf16(kGbk, c.bytes)) << c.what;
    }
    if (full) EXPECT_EQ(cp->fromUtf16(kGb18030, u"中\U00020000"), "\xD6\xD0\x95\x32\x82\x36");
    else EXPECT_EQ(cp->fromUtf16(kGb18030, u"中文"), cp->fromUtf16(kGbk, u"中文"));
}

// Big5-HKSCS in full where the system has a table for it (the native build
// always); elsewhere the supplement's characters are read as Big5's
// user-defined ones. The last character may take a combining mark, so the
// converter must not keep it back.
TEST_F(NativeCodePage, Big5HkscsInFullWhereTheSystemHasIt) {
    const std::string bytes = "a\x88\x66";
    const std::u16string got = cp->toUtf16(kBig5Hkscs, bytes);
#ifndef _WIN32
    EXPECT_EQ(got, u"a\u00CA");
#else
    EXPECT_TRUE(got == u"a\u00CA" || got == cp->toUtf16(kBig5, bytes));
#endif
}

TEST_F(NativeCodePage, EmptyInputEitherWay) {
    for (int page : std::initializer_list<int>{kBig5, kGbk, kUtf8, kUtf7, kGb18030, kWestern, kUsAscii, kShiftJis,
                                               kIso2022Jp, kEucJp, kKorean, kBig5Hkscs, kKoi8R, 1250, 28592}) {
        EXPECT_EQ(cp->toUtf16(page, ""), u"") << page;
        EXPECT_EQ(cp->fromUtf16(page, u""), "") << page;
    }
}

struct SplitCase {
    const char* what;
    int page;
    std::string first, second;
    std::size_t keep;  // completePrefix of `first`
    std::u16string text;
};

const SplitCase kSplit[] = {
    {"big5 character split after its lead byte", kBig5, "A\xA4", "\xA4" "B", 1, u"A中B"},
    {"big5 whole characters are not held back", kBig5, "\xA4\xA4\xA4", "\xE5", 2, u"中文"},
    {"gbk character split", kGbk, "\xD6", "\xD0", 0, u"中"},
    {"utf-8 sequence split after two bytes", kUtf8, "x\xE4\xB8", "\xAD", 1, u"x中"},
    {"utf-8 four-byte sequence split", kUtf8, "\xF0\x9F", "\x98\x80", 0, u"\U0001F600"},
    {"utf-8 complete text kept whole", kUtf8, "ab", "c", 2, u"abc"},
};

TEST_F(NativeCodePage, CharacterSplitOverTwoChunksStaysWhole) {
    for (const SplitCase& c : kSplit) {
        const std::size_t keep = completePrefix(c.page, c.first);
        EXPECT_EQ(keep, c.keep) << c.what;
        const std::u16string text =
            cp->toUtf16(c.page, c.first.substr(0, keep)) + cp->toUtf16(c.page, c.first.substr(keep) + c.second);
        EXPECT_EQ(text, c.text) << c.what;
    }
}

}  // namespace
