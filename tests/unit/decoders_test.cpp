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
                      BytesCase{"=3D", "="}, BytesCase{"=a4", "\x04"},  // lower case counts 0
                      BytesCase{"=\r\n", std::string(1, '\0')},         // soft line break
                      BytesCase{"=4", "\x41"},             // H(missing) is 1
                      BytesCase{"=0A", std::string("\x0A")}, BytesCase{"", ""},
                      BytesCase{"x\xA4\xA4y", ""},         // a double-byte character fails the decode
                      BytesCase{"=\xA4\xA4zq", std::string("\x00q", 2)},  // a double-byte digit counts 0
                      BytesCase{"\xFF", "\xFF"}));         // a lone high byte stays itself

struct WordsCase {
    const char* in;
    std::string out;
};

class Big5WordsCases : public ::testing::TestWithParam<WordsCase> {};

TEST_P(Big5WordsCases, Decodes) { EXPECT_EQ(DecodeBig5Words(GetParam().in), GetParam().out) << GetParam().in; }

INSTANTIATE_TEST_SUITE_P(
    Table, Big5WordsCases,
    ::testing::Values(WordsCase{"=?big5?B?QQ==?= =?big5?B?Qg==?=", "AB"}, WordsCase{"=?utf-8?B?QQ==?=", ""},
                      WordsCase{"=?big5?B?QQ==?= =?gbk?B?Qg==?=", "A"},
                      WordsCase{"Re: =?BIG5?B?QQ==?=\r\n =?big5?B?Qg==?=", "AB"},  // any case, text outside dropped
                      WordsCase{"=?big5?Q?=41?=", ""},     // every word is read as Base64
                      WordsCase{"big5 no words", ""}, WordsCase{"", ""},
                      WordsCase{"?=big5", ""},             // "?=" with no "?" before it: nothing appended
                      // The last "big5" decides how far words are read: up to the word just past it.
                      WordsCase{"=?x?B?QQ==?=  big5 =?x?B?Qg==?= =?x?B?Qw==?=", "AB"},
                      WordsCase{"=?big5?B?QQ==?= =?big5?B?AEI=?= =?big5?B?Qw==?=", "AC"},  // a zero byte ends its word only
                      // A "b" that is the trail byte of a double-byte character starts no "big5".
                      WordsCase{"=?x?B?QQ==?= \xA4""big5", ""},
                      WordsCase{"=?x?B?QQ==?= \xA4\xA4""big5", "A"}));

// A header of many encoded words once took time growing with the square of
// its length; the result must still hold every word.
TEST(DecodeBig5Words, ReadsEveryWordOfALongHeader) {
    std::string in, expected;
    for (int i = 0; i < 20000; ++i) {
        in += "=?big5?B?QUI=?= ";
        expected += "AB";
    }
    EXPECT_EQ(DecodeBig5Words(in), expected);
    in += "=?gbk?B?Qw==?=";  // no "big5" after the last big5 word: the loop stops before it
    EXPECT_EQ(DecodeBig5Words(in), expected);
}

TEST(ConvertCodePage, ReadsBytesInTheNamedPageWithoutLengthLimit) {
    auto cp = iw::platform::createCodePage();
    EXPECT_EQ(ConvertCodePage(*cp, "\xE4\xB8\xAD", iw::platform::kUtf8), u"中");
    EXPECT_EQ(ConvertCodePage(*cp, "\xD6\xD0", iw::platform::kGbk), u"中");
    EXPECT_EQ(ConvertCodePage(*cp, "\xA4\xA4", iw::platform::kBig5), u"中");
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
