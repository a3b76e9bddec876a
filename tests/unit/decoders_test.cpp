// The header decoders and ExtractAddress: their examples and their exact
// ways of failing.
#include <gtest/gtest.h>

#include "filter/decoders.h"
#include "platform/native.h"

using namespace iw::filter;

namespace {

struct BytesCase {
    const char* in;
    std::string out;
};

class DecodeBase64Cases : public ::testing::TestWithParam<BytesCase> {};

TEST_P(DecodeBase64Cases, Decodes) { EXPECT_EQ(DecodeBase64(GetParam().in), GetParam().out) << GetParam().in; }

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeBase64Cases,
    ::testing::Values(BytesCase{"SGVsbG8=", "Hello"}, BytesCase{"QQ==", "A"}, BytesCase{"QUJD", "ABC"},
                      BytesCase{"SGVsbG8", "Hello"},  // partial last group: its zero byte ends the result
                      BytesCase{"A=", ""},            // final group meets "="
                      BytesCase{"QQ=a", ""},          // "=" inside a body group
                      BytesCase{"xQQ==", "A"},        // a one-character body is ignored
                      BytesCase{"", ""}, BytesCase{"A", ""}, BytesCase{"=", ""}, BytesCase{"ab-c", ""},
                      BytesCase{"QUJD\r\nQUJD", ""},  // line ends are not in the alphabet
                      BytesCase{"QUJ D", ""}, BytesCase{"pUqkaw==", "\xA5\x4A\xA4\x6B"},
                      BytesCase{"AEFC", ""},          // a zero first byte: nothing before it
                      BytesCase{"QQBC", "A"},         // zero byte in the middle cuts the rest
                      BytesCase{"\xA4\xA4QQ==", "A"}, // a Big5 character before the last four is ignored
                      BytesCase{"\xA4QQ=", ""}));     // ...but not inside them

TEST(DecodeBase64, HasNoLengthLimit) {
    // Far beyond 32,764 characters.
    std::string in;
    for (int i = 0; i < 20000; ++i) in += "QUJD";
    const std::string out = DecodeBase64(in);
    ASSERT_EQ(out.size(), 60000u);
    EXPECT_EQ(out.substr(59997), "ABC");
}

class DecodeQpCases : public ::testing::TestWithParam<BytesCase> {};

TEST_P(DecodeQpCases, Decodes) { EXPECT_EQ(DecodeQuotedPrintable(GetParam().in), GetParam().out) << GetParam().in; }

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeQpCases,
    ::testing::Values(BytesCase{"=A4=A4", "\xA4\xA4"}, BytesCase{"abc=", "abc\x11"},
                      BytesCase{"a_b", "a_b"},             // "_" stays
                      BytesCase{"=3D", "="}, BytesCase{"=a4", "\xA4"},  // hex digits in either case
                      BytesCase{"=e4=B8=aD", "\xE4\xB8\xAD"}, BytesCase{"=g1", "\x01"},  // "g" is no digit
                      BytesCase{"=\r\n", std::string(1, '\0')},         // soft line break
                      BytesCase{"=4", "\x41"},             // H(missing) is 1
                      BytesCase{"=0A", std::string("\x0A")}, BytesCase{"", ""},
                      BytesCase{"x\xA4\xA4y", ""},         // a double-byte character fails the decode
                      BytesCase{"=\xA4\xA4zq", std::string("\x00q", 2)},  // a double-byte digit counts 0
                      BytesCase{"\xFF", "\xFF"}));         // a lone high byte stays itself

TEST(DecodeQuotedPrintable, UnderscoreIsABlankOnlyInAnEncodedWord) {
    EXPECT_EQ(DecodeQuotedPrintable("a_b=5F", true), "a b_");
    EXPECT_EQ(DecodeQuotedPrintable("a_b", false), "a_b");
}

// Header values as mail programs write them, and the text shown for each.
struct HeaderCase {
    const char* what;
    std::string value;
    std::u16string shown;
    int lastPage = 0;
    WordFault fault = WordFault::None;
};

const HeaderCase kHeaders[] = {
    {"adjacent words: the blank between them goes", "=?utf-8?B?aGVs?= =?utf-8?B?bG8=?=", u"hello", iw::platform::kUtf8},
    {"text around a word is kept", "Re: =?utf-8?B?5Lit5paH?= world", u"Re: 中文 world", iw::platform::kUtf8},
    {"blanks between words and text are kept", "a =?utf-8?Q?b?= c", u"a b c", iw::platform::kUtf8},
    {"a split utf-8 subject, blanks and tabs between the words",
     "=?UTF-8?B?5LuK5aSp5pyJ?=\t =?UTF-8?B?5YSq5oOg?=", u"今天有優惠", iw::platform::kUtf8},
    {"a character split over two words stays whole", "=?utf-8?B?5Lit5g==?= =?utf-8?B?loc=?=", u"中文",
     iw::platform::kUtf8},
    {"a character split over two q words", "=?utf-8?Q?=E4=B8?= =?utf-8?Q?=AD?=", u"中", iw::platform::kUtf8},
    {"two big5 words", "=?big5?B?pUqkaw==?= =?big5?B?pKQ=?=", u"仔女中", iw::platform::kBig5},
    {"big5 alias and q", "=?x-x-big5?Q?=A4=A4=A4=E5?=", u"中文", iw::platform::kBig5},
    {"gb2312", "=?gb2312?B?1tDOxA==?=", u"中文", iw::platform::kGbk},
    {"gbk", "=?GBK?Q?=D6=D0=CE=C4?=", u"中文", iw::platform::kGbk},
    {"gb18030 two-byte", "=?gb18030?B?1tDOxA==?=", u"中文", iw::platform::kGb18030},
    {"utf-7", "=?utf-7?Q?+ZeVnLIqe-?=", u"日本語", iw::platform::kUtf7},
    {"us-ascii", "=?us-ascii?Q?Hello_world?=", u"Hello world", iw::platform::kUsAscii},
    {"iso-8859-1", "=?ISO-8859-1?Q?caf=E9?=", u"café", iw::platform::kWestern},
    {"a language suffix", "=?utf-8*zh-tw?B?5Lit?=", u"中", iw::platform::kUtf8},
    {"words of two charsets", "=?big5?B?pKQ=?= =?gb2312?B?zsQ=?=", u"中文", iw::platform::kGbk},
    {"lower-case encoding letter", "=?utf-8?b?5Lit?=", u"中", iw::platform::kUtf8},
    {"unknown charset: the word as written", "=?x-unknown?B?QQ==?= ok", u"=?x-unknown?B?QQ==?= ok"},
    {"unknown charset between known words keeps its blanks", "=?utf-8?B?QQ==?= =?koi9?B?Qg==?= =?utf-8?B?Qw==?=",
     u"A =?koi9?B?Qg==?= C", iw::platform::kUtf8},
    {"unknown encoding: as written", "=?utf-8?X?abc?=", u"=?utf-8?X?abc?="},
    {"raw big5 text stays big5", "\xA4\xA4\xA4\xE5 =?utf-8?B?5Lit?=", u"中文 中", iw::platform::kUtf8},
    {"plain text with ?= is no word", "Why?= =?", u"Why?= =?"},
    {"a bad payload gives no text", "a =?utf-8?B?!!!?= b", u"a  b", iw::platform::kUtf8},
    {"a zero byte ends its word only", "=?utf-8?Q?A=00B?= =?utf-8?Q?C?=", u"AC", iw::platform::kUtf8},
    {"a word that closes before its encoding", "x =?utf-8?= y", u"x =?utf-8?= y", 0, WordFault::NoEncoding},
    {"a word folded inside its payload", "=?utf-8?B?5Lit 5paH?= =?utf-8?B?5Lit?=", u"=?utf-8?B?5Lit 5paH?= 中",
     iw::platform::kUtf8, WordFault::Unterminated},
    {"the last word never closes", "=?utf-8?B?5Lit?= =?utf-8?Q?abc", u"中 =?utf-8?Q?abc", iw::platform::kUtf8,
     WordFault::Unterminated},
    {"an over-long label is no word", "=?" + std::string(70, 'a') + "?B?QQ==?=", u"=?" + std::u16string(70, u'a') + u"?B?QQ==?="},
    {"empty", "", u""},
};

TEST(DecodeHeaderText, ShowsWhatTheSenderWrote) {
    auto cp = iw::platform::createCodePage();
    for (const HeaderCase& c : kHeaders) {
        const DecodedHeader d = DecodeHeaderText(*cp, c.value);
        EXPECT_EQ(d.text, c.shown) << c.what;
        EXPECT_EQ(d.lastCodePage, c.lastPage) << c.what;
        EXPECT_EQ(d.fault, c.fault) << c.what;
    }
}

TEST(DecodeHeaderText, GuardedBracketsOfADecodedNameAreFullWidth) {
    auto cp = iw::platform::createCodePage();
    // "<boss@x.tw>" as a Base64 name, then the real address.
    const std::string v = "=?utf-8?B?PGJvc3NAeC50dz4=?= <spam@y.tw>";
    EXPECT_EQ(DecodeHeaderText(*cp, v, true).text, u"\uFF1Cboss@x.tw\uFF1E <spam@y.tw>");
    EXPECT_EQ(DecodeHeaderText(*cp, v, false).text, u"<boss@x.tw> <spam@y.tw>");
}

// A hostile header of many words, none of them closed, must take linear time
// (the fuzzers' time limit catches a quadratic walk); the text stays as written.
TEST(DecodeHeaderText, ManyUnclosedWordsStayAsWritten) {
    auto cp = iw::platform::createCodePage();
    std::string v;
    for (int i = 0; i < 200000; ++i) v += "=?a?B?";
    const DecodedHeader d = DecodeHeaderText(*cp, v);
    EXPECT_EQ(d.text.size(), v.size());
    EXPECT_EQ(d.fault, WordFault::Unterminated);
}

// One real subject in each charset mail names, by its IANA label or an
// alias. `everywhere`: every system the program runs on reads the page; the
// others (ISO-8859-10, -14 and -16, which Windows lacks) are read where the
// system has them and otherwise stay as written.
struct CharsetCase {
    const char* label;
    std::string value;
    std::u16string shown;
    bool everywhere;
};

const CharsetCase kCharsets[] = {
{"shift_jis", "=?shift_jis?B?lsCYZoOBgVuDiw==?=", u"迷惑メール", true},
    {"sjis", "=?sjis?B?jMCS6IdAg1qBW4OL?=", u"限定①セール", true},
    {"ms_kanji", "=?ms_kanji?B?tsC2xQ==?=", u"ｶﾀｶﾅ", true},
    {"windows-31j", "=?windows-31j?Q?=82=A8=92m=82=E7=82=B9?=", u"お知らせ", true},
    {"iso-2022-jp", "=?iso-2022-jp?B?GyRCJCpGQCRKPnBKcyRHJDkbKEI=?=", u"お得な情報です", true},
    {"ISO-2022-JP", "=?ISO-2022-JP?B?GyhJMTIzGyhCIBskQi0hGyhC?=", u"ｱｲｳ ①", true},
    {"euc-jp", "=?euc-jp?B?uMLE6qW7obyl6w==?=", u"限定セール", true},
    {"euc-kr", "=?euc-kr?B?saSw7SC43sDP?=", u"광고 메일", true},
    {"ks_c_5601-1987", "=?ks_c_5601-1987?B?xq+6sCDH0sDO?=", u"특별 할인", true},
    {"cp949", "=?cp949?B?jGO55rCix88=?=", u"똠방각하", true},
    {"koi8-r", "=?koi8-r?B?88vJxMvJIDUwJQ==?=", u"Скидки 50%", true},
    {"koi8-u", "=?koi8-u?Q?=FA=CE=C9=D6=CB=C1_=AD?=", u"Знижка ґ", true},
    {"iso-8859-2", "=?iso-8859-2?Q?Za=BF=F3=B3=E6_g=EA=B6l=B1?=", u"Zażółć gęślą", true},
    {"iso-8859-3", "=?iso-8859-3?Q?=A1a=F5a?=", u"Ħaġa", true},
    {"iso-8859-4", "=?iso-8859-4?Q?=ABirts_=D1?=", u"Ģirts Ņ", true},
    {"iso-8859-5", "=?iso-8859-5?B?v+DY0tXi?=", u"Привет", true},
    {"iso-8859-6", "=?iso-8859-6?B?5dHNyMc=?=", u"مرحبا", true},
    {"iso-8859-7", "=?iso-8859-7?B?w+Xp3CDz7/U=?=", u"Γειά σου", true},
    {"iso-8859-8", "=?iso-8859-8?B?+ezl7Q==?=", u"שלום", true},
    {"iso-8859-9", "=?iso-8859-9?Q?T=FCrk=E7e_=F0=FD=FE?=", u"Türkçe ğış", true},
    {"iso-8859-10", "=?iso-8859-10?Q?=DE=F3r=F0ur_=BF?=", u"Þórður ŋ", false},
    {"iso-8859-11", "=?iso-8859-11?B?ysfRyrTV?=", u"สวัสดี", true},
    {"iso-8859-13", "=?iso-8859-13?Q?=C0=FEuolas?=", u"Ąžuolas", true},
    {"iso-8859-14", "=?iso-8859-14?Q?=D0_=B8?=", u"Ŵ ẁ", false},
    {"iso-8859-15", "=?iso-8859-15?Q?=A4_=BCuvre?=", u"€ Œuvre", true},
    {"iso-8859-16", "=?iso-8859-16?Q?=AA_=FE?=", u"Ș ț", false},
    {"windows-1250", "=?windows-1250?Q?P=F8=EDli=9A_=9Elu=9Dou=E8k=FD?=", u"Příliš žluťoučký", true},
    {"windows-1251", "=?windows-1251?B?z/Do4uXyIOzo8A==?=", u"Привет мир", true},
    {"windows-1252", "=?windows-1252?Q?=93Sale=94_=805?=", u"“Sale” €5", true},
    {"windows-1253", "=?windows-1253?B?w+Xp3A==?=", u"Γειά", true},
    {"windows-1254", "=?windows-1254?Q?T=FCrk=E7e?=", u"Türkçe", true},
    {"windows-1255", "=?windows-1255?B?+ezl7Q==?=", u"שלום", true},
    {"windows-1256", "=?windows-1256?B?49HNyMc=?=", u"مرحبا", true},
    {"windows-1257", "=?windows-1257?Q?=C0=FEuolas?=", u"Ąžuolas", true},
    {"windows-1258", "=?windows-1258?Q?Xin_ch=E0o?=", u"Xin chào", true},
    {"big5-hkscs", "=?big5-hkscs?B?rbu05MB1tGY=?=", u"香港優惠", true},
    {"latin2", "=?latin2?Q?=A3=F3d=BC?=", u"Łódź", true},
    {"cp1251", "=?cp1251?B?0ero5Org?=", u"Скидка", true},
    {"iso_8859-5:1988", "=?iso_8859-5:1988?B?wdrY1NrQ?=", u"Скидка", true},
    {"iso8859-7", "=?iso8859-7?B?w+Xp3A==?=", u"Γειά", true},
};

TEST(DecodeHeaderText, ReadsEveryCharsetTheSystemHas) {
    auto cp = iw::platform::createCodePage();
    for (const CharsetCase& c : kCharsets) {
        const int page = CharsetCodePage(c.label);
        ASSERT_NE(page, 0) << c.label;
        EXPECT_TRUE(!c.everywhere || cp->canDecode(page)) << c.label;
        const DecodedHeader d = DecodeHeaderText(*cp, "Re: " + c.value);
        if (cp->canDecode(page)) {
            EXPECT_EQ(d.text, u"Re: " + c.shown) << c.label;
            EXPECT_EQ(d.lastCodePage, page) << c.label;
        } else {
            EXPECT_EQ(d.text, cp->toUtf16(iw::platform::kBig5, "Re: " + c.value)) << c.label;
            EXPECT_EQ(d.lastCodePage, 0) << c.label;
        }
    }
}

// Labels the program does not know, and pages no system has, keep the word
// as written, and the words around them are still read.
TEST(DecodeHeaderText, AnUnreadableCharsetKeepsTheWordAsWritten) {
    auto cp = iw::platform::createCodePage();
    for (const std::string label : {"x-klingon", "iso-8859-12", "windows-1259", "koi8-z"}) {
        const std::string word = "=?" + label + "?B?QUJD?=";
        const DecodedHeader d = DecodeHeaderText(*cp, "=?koi8-r?B?88vJxMvJ?= " + word);
        EXPECT_EQ(d.text, u"Скидки " + cp->toUtf16(iw::platform::kBig5, word)) << label;
    }
    EXPECT_FALSE(cp->canDecode(12345));
    EXPECT_FALSE(cp->canDecode(0));
}

// ISO-2022-JP words each end back in ASCII, so a subject split over several
// words joins; a word cut inside its two-byte run still shows the rest.
TEST(DecodeHeaderText, JoinsIso2022JpWords) {
    auto cp = iw::platform::createCodePage();
    EXPECT_EQ(DecodeHeaderText(*cp, "=?ISO-2022-JP?B?GyRCJCpGQBsoQg==?= =?ISO-2022-JP?B?GyRCJEo+cEpzGyhC?=").text,
              u"お得な情報");
    EXPECT_EQ(DecodeHeaderText(*cp, "[=?iso-2022-jp?B?GyRCJCo=?=]").text, u"[お]");
}

TEST(CharsetCodePage, KnowsTheCommonLabelsInAnyCase) {
    const std::pair<const char*, int> labels[] = {
        {"big5", 950}, {"BIG5", 950}, {"Big5-HKSCS", 951}, {"cp950", 950}, {"gb2312", 936}, {"GBK", 936},
        {"gb18030", 54936}, {"utf-8", 65001}, {"UTF8", 65001}, {"utf-7", 65000}, {"us-ascii", 20127},
        {"iso-8859-1", 1252}, {"latin1", 1252}, {"utf-8*en", 65001}, {"koi8-r", 20866}, {"", 0}, {"big5x", 0},
        {"iso-8859-5", 28595}, {"ISO_8859-9:1989", 1254}, {"iso88592", 28592}, {"iso-8859-8-i", 28598},
        {"iso-8859-12", 0}, {"iso-8859-", 0}, {"iso-8859-2x", 0}, {"iso-8859-2:", 0}, {"windows-1259", 0},
        {"cp1250", 1250}, {"X-CP1258", 1258}, {"Shift_JIS", 932}, {"ks_c_5601-1987", 949}, {"koi8-z", 0},
    };
    for (const auto& [label, page] : labels) EXPECT_EQ(CharsetCodePage(label), page) << label;
}

struct SenderCase {
    std::string value;
    std::string address;
};

TEST(SenderAddressBytes, FindsTheAddressOfAWholeFromValue) {
    const SenderCase cases[] = {
        {"John <jd@x.tw>", "jd@x.tw"},
        {"=?big5?B?pUqkaw==?= <jd@x.tw>", "jd@x.tw"},
        {"\"Doe, John\" <jd@x.tw>", "jd@x.tw"},
        {"\"<boss@x.tw>\" <spam@y.tw>", "spam@y.tw"},        // a quoted bracket is part of the name
        {"(<boss@x.tw>) spam@y.tw", "spam@y.tw"},             // so is one in a comment
        {"jd@x.tw (John (the) Doe)", "jd@x.tw"},
        {"\"a \\\" <b@c>\" <d@e>", "d@e"},                      // an escaped quote does not end the name
        {"\"\xB3\\\" <d@e>", "d@e"},                         // a Big5 trail byte is no escape
        {"jd@x.tw", "jd@x.tw"},
        {"\t<jd@x.tw> ", "jd@x.tw"},
        {"<  jd@x.tw  >", "jd@x.tw"},
        {"<>", ""},
        {"", ""},
    };
    for (const SenderCase& c : cases) EXPECT_EQ(SenderAddressBytes(c.value), c.address) << c.value;
}

TEST(SenderAddressBytes, RaisesWhenTheBracketIsNotClosed) {
    for (const char* v : {"x <y", "x> <y", "\"q\" <", "a (c) <b"}) EXPECT_THROW(SenderAddressBytes(v), AddressError) << v;
}

TEST(ConvertCodePage, ReadsBytesInTheNamedPageWithoutLengthLimit) {
    auto cp = iw::platform::createCodePage();
    EXPECT_EQ(ConvertCodePage(*cp, "\xE4\xB8\xAD", iw::platform::kUtf8), u"中");
    EXPECT_EQ(ConvertCodePage(*cp, "\xD6\xD0", iw::platform::kGbk), u"中");
    EXPECT_EQ(ConvertCodePage(*cp, "\xA4\xA4", iw::platform::kBig5), u"中");
    EXPECT_EQ(ConvertCodePage(*cp, "\xD6\xD0", iw::platform::kGb18030), u"中");
    EXPECT_EQ(ConvertCodePage(*cp, std::string("ab\0cd", 5), iw::platform::kBig5), u"ab");
    EXPECT_EQ(ConvertCodePage(*cp, "", iw::platform::kUtf8), u"");
    // 200 bytes of UTF-8 (far past 127) convert in full.
    std::string longUtf8;
    std::u16string expected;
    for (int i = 0; i < 66; ++i) {
        longUtf8 += "\xE4\xB8\xAD";
        expected += u"中";
    }
    longUtf8 += "ok";
    expected += u"ok";
    EXPECT_EQ(ConvertCodePage(*cp, longUtf8, iw::platform::kUtf8), expected);
}

TEST(DecodeBase64, Utf8TextSurvivesBase64ThenConvert) {
    auto cp = iw::platform::createCodePage();
    // "中文 mail" in UTF-8, Base64.
    EXPECT_EQ(ConvertCodePage(*cp, DecodeBase64("5Lit5paHIG1haWw="), iw::platform::kUtf8), u"中文 mail");
}

struct AddressCase {
    std::u16string in;
    std::u16string out;
};

class ExtractAddressCases : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ExtractAddressCases, Extracts) {
    EXPECT_EQ(ExtractAddress(GetParam().in), GetParam().out);
    // The byte form agrees on ASCII.
    const std::string in(GetParam().in.begin(), GetParam().in.end());
    const std::string out(GetParam().out.begin(), GetParam().out.end());
    EXPECT_EQ(ExtractAddressBytes(in), out);
}

INSTANTIATE_TEST_SUITE_P(Table, ExtractAddressCases,
                         ::testing::Values(AddressCase{u"John <jd>", u"jd"}, AddressCase{u"<jd>", u"jd"},
                                           AddressCase{u" jd ", u"jd"}, AddressCase{u"x <y> z <w>", u"y> z <w"},
                                           AddressCase{u"<>", u""}, AddressCase{u"", u""},
                                           AddressCase{u"\tjd\t", u"\tjd\t"},  // only blanks are trimmed
                                           AddressCase{u"a <  b@c  >", u"b@c"}));

TEST(ExtractAddress, RaisesWhenNoClosingBracketFollows) {
    for (const std::u16string t : {u"x <y", u"x> <y", u"<"}) {
        EXPECT_THROW(ExtractAddress(t), AddressError);
        EXPECT_THROW(ExtractAddressBytes(std::string(t.begin(), t.end())), AddressError);
    }
}

}  // namespace
