// ParseMessageHeader on whole TOP replies: sender forms, subject windows,
// the Big5 branches, sizes, dates, preview lines, progress texts, the end
// of an account and the error paths (a failed reply still takes its row).
#include <gtest/gtest.h>

#include <set>

#include "filter/header_parser.h"
#include "platform/native.h"
#include "tests/support/fake_time.h"

using namespace iw::filter;
using iw::platform::LocalDateTime;

namespace {

class SetLists : public SenderLists {
public:
    std::set<std::u16string> trusted, black, domains;
    bool isTrusted(const std::u16string& a) override { return trusted.count(a) != 0; }
    bool isBlackListed(const std::u16string& a) override { return black.count(a) != 0; }
    bool isDomainListed(const std::u16string& d) override { return domains.count(d) != 0; }
};

class RecordingReporter : public ParseReporter {
public:
    std::vector<std::u16string> status, tips, errors;
    void statusText(const std::u16string& t) override { status.push_back(t); }
    void tipLabel(const std::u16string& t) override { tips.push_back(t); }
    void errorBox(const std::u16string& t) override { errors.push_back(t); }
};

class ParserTest : public ::testing::Test {
protected:
    ParserTest() : clock_(LocalDateTime{2026, 12, 10, 8, 30, 15, 600}) {
        model.resetAccounts({u"me@x.tw"});
        model.MessageCounts[0] = 3;
    }

    // Parses one reply made of header lines and optional body lines.
    const MessageEntry& parse(const std::string& headers, const std::string& body = "") {
        ParseMessageHeader(model, services(), 0, "+OK\r\n" + headers + "\r\n\r\n" + body + ".\r\n");
        return model.AccountLists[0].back();
    }
    ParseServices services() { return ParseServices{*cp, clock_, dates_, {lists, iw::settings::Options::FromStored(flags), 50}, reporter}; }
    std::u16string big5(const std::string& b) { return cp->toUtf16(iw::platform::kBig5, b); }

    std::unique_ptr<iw::platform::CodePage> cp = iw::platform::createCodePage();
    iw::test::FakeClock clock_;
    iw::platform::FixedDateFormat dates_;
    SetLists lists;
    std::u16string flags = u"000000000000";
    RecordingReporter reporter;
    FilterModel model;
};

struct TextCase {
    const char* headers;
    std::u16string expected;
};

class SenderForms : public ParserTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(SenderForms, ShowsTheSenderText) {
    EXPECT_EQ(parse(GetParam().headers).SenderText, GetParam().expected) << GetParam().headers;
    EXPECT_TRUE(reporter.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, SenderForms,
    ::testing::Values(
        TextCase{"From: John <jd@x>", u"John <jd@x>"}, TextCase{"From: <jd@x>", u"jd@x"},
        TextCase{"FROM: x", u"x"},                                        // name letter case ignored
        TextCase{"From:jd@x.tw", u"jd@x.tw"},                             // nothing after the colon is skipped
        TextCase{"X-From: y", u""},                                       // a whole name only
        TextCase{"X-From: y\r\nFrom: z@w", u"z@w"},
        TextCase{"From : z@w", u"z@w"},                                   // blanks before the colon
        TextCase{"From: =?utf-8?B?5Lit5paH?= <a@b>", u"中文 <a@b>"},      // re-read as UTF-8
        TextCase{"From: =?gb2312?B?1tDOxA==?= <a@b>", u"中文 <a@b>"},     // re-read as GB2312
        TextCase{"From: =?UTF-8?Q?=E4=B8=AD?= <a@b>", u"中 <a@b>"},
        TextCase{"From: =?x?Z?abc?= <a@b>", u"=?x?Z?abc?= <a@b>"},        // unknown letter: as written
        TextCase{"From: =?utf-8?B?QQBC?=", u"A"},                         // cut at the first NUL
        TextCase{"From: =?utf-8?B?PGJvc3NAeC50dz4=?= <s@y>", u"\uFF1Cboss@x.tw\uFF1E <s@y>"}));

TEST_F(ParserTest, Big5SenderNameIsDecodedInBig5) {
    EXPECT_EQ(parse("From: =?big5?B?pUqkaw==?= <jd@x>").SenderText, big5("\xA5\x4A\xA4\x6B") + u" <jd@x>");
}

class SubjectWindows : public ParserTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(SubjectWindows, ShowsTheSubject) {
    EXPECT_EQ(parse(GetParam().headers).Subject, GetParam().expected) << GetParam().headers;
    EXPECT_TRUE(reporter.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, SubjectWindows,
    ::testing::Values(
        TextCase{"X-Subject: a\r\nSubject: b", u"b"},                     // a whole name only
        TextCase{"Subject: Re: =?utf-8?B?5Lit5paH?=", u"Re: 中文"},
        TextCase{"Subject:hello", u"hello"},
        TextCase{"Subject: hello world\r\n folded on", u"hello world folded on"},  // unfolded
        TextCase{"Subject: a\r\n\tb", u"a\tb"},
        TextCase{"Subject: plain\r\nX-A: 1\r\nX-B: utf-8 =?x?B?QQ==?=", u"plain"},
        TextCase{"Subject: first\r\nSubject: second", u"first"},
        TextCase{"Subject: Why?=", u"Why?="},                              // no encoded word, no error
        TextCase{"Subject: =?utf-8?X?abc?=", u"=?utf-8?X?abc?="},
        TextCase{"Subject: =?big5?Q?=A4=A4?=", u"中"},
        TextCase{"Subject: about big5 things", u"about big5 things"},
        TextCase{"Subject:   \r\n", u""},
        // A charset named by Content-Type does not change how the subject's words are read.
        TextCase{"Subject: =?utf-8?B?5Lit5paH?=\r\nContent-Type: text/plain; charset=big5", u"中文"},
        TextCase{"Subject: =?big5?B?QQ==?=\r\nX-A: =?big5?B?Qg==?=", u"A"}));  // later lines stay out

TEST_F(ParserTest, LongUtf8AndGbSubjectsShowInFull) {
    std::string b64;
    std::u16string text;
    for (int i = 0; i < 30; ++i) {
        b64 += "5Lit5paH";
        text += u"中文";
    }
    EXPECT_EQ(parse("Subject: =?utf-8?B?" + b64 + "?=").Subject, text);  // 180 bytes of UTF-8
    std::string gb;
    for (int i = 0; i < 100; ++i) gb += "=D6=D0";
    EXPECT_EQ(parse("Subject: =?gb2312?Q?" + gb + "?=").Subject, std::u16string(100, u'中'));
}

TEST_F(ParserTest, KeywordInsideABig5CharacterIsNotAMatch) {
    // "\xA4\x44" is one Big5 character whose trail byte is "D".
    const MessageEntry& e = parse("Subject: \xA4\x44" "ate: 1 Jan 2020 10:00:00");
    EXPECT_EQ(e.ReceivedText, u"2026/12/10 08:30:15");  // no Date header: the parse time
}

TEST_F(ParserTest, DateIsFoundByItsWholeName) {
    // "date:" inside "Update:" once made the received date the parse time.
    const MessageEntry& e = parse("Subject: Update: new\r\nDate: Mon, 7 Dec 2026 10:23:45 +0800");
    EXPECT_EQ(e.ReceivedText, u"2026/12/7 10:23:45");
    EXPECT_EQ(e.Subject, u"Update: new");
}

TEST_F(ParserTest, HeadersInTheBodyAreNotRead) {
    model.PreviewLines = true;
    const MessageEntry& e = parse("Subject: s", "From: spoof@x\r\nSubject: other\r\n");
    EXPECT_EQ(e.SenderText, u"");
    EXPECT_EQ(e.Subject, u"s");
}

// Header shapes of today's mail, each checked for the texts the user sees
// and for how the lists judge it: black list jd@x.tw and spam@junk.tw,
// trust list friend@ok.tw, domain list junk.cn; the black-list, blank-sender
// and domain rules on.
struct ShapeCase {
    const char* what;
    std::string headers;
    std::u16string sender;
    std::u16string subject;
    RowColor color;  // Default: not checked
};

const ShapeCase kShapes[] = {
    {"utf-8 subject split over folded lines",
     "From: a@b.tw\r\nSubject: =?UTF-8?B?5pyA5paw5YSq5oOg5rS75YuV?=\r\n =?UTF-8?B?77yM6ZmQ5pmC5pC26LO85Lit?=", u"a@b.tw",
     u"最新優惠活動，限時搶購中", RowColor::Default},
    {"big5 subject split with a tab fold",
     "From: a@b.tw\r\nSubject: =?big5?B?pn6y169Tvea3fA==?=\r\n\t=?big5?B?pf7AXaStp+mwXw==?=", u"a@b.tw",
     u"年終特賣會全館五折起", RowColor::Default},
    {"big5 character split over two words", "From: a@b.tw\r\nSubject: =?big5?B?pn6y?= =?big5?B?1w==?=", u"a@b.tw",
     u"年終", RowColor::Default},
    {"folded sender, address on the continuation line", "From: =?big5?B?pP2kcKn6?=\r\n <jd@x.tw>\r\nSubject: hi",
     u"王小明 <jd@x.tw>", u"hi", RowColor::BlackList},
    {"quoted encoded name folded before the address",
     "From: \"=?utf-8?B?5by15LiJ?=\"\r\n\t<spam@junk.tw>\r\nSubject: hi", u"\"張三\"\t<spam@junk.tw>", u"hi",
     RowColor::BlackList},
    {"no blank after the colon", "From:jd@x.tw\r\nSubject:hello", u"jd@x.tw", u"hello", RowColor::BlackList},
    {"text around the word", "From: a@b.tw\r\nSubject: Re: =?utf-8?Q?=E6=9C=83=E5=93=A1?= world", u"a@b.tw",
     u"Re: 會員 world", RowColor::Default},
    {"gbk sender of a listed domain", "From: =?gbk?B?ueO45g==?= <ad@junk.cn>\r\nSubject: x", u"广告 <ad@junk.cn>",
     u"x", RowColor::DomainList},
    {"gb18030 subject", "From: a@b.tw\r\nSubject: =?GB18030?B?08W73civ?=", u"a@b.tw", u"优惠券", RowColor::Default},
    {"utf-7 subject", "From: a@b.tw\r\nSubject: =?utf-7?Q?+ZeVnLIqe-?=", u"a@b.tw", u"日本語", RowColor::Default},
    {"latin-1 subject with blanks as underscores", "From: a@b.tw\r\nSubject: =?iso-8859-1?Q?Caf=E9_cr=e8me?=",
     u"a@b.tw", u"Café crème", RowColor::Default},
    {"us-ascii subject", "From: a@b.tw\r\nSubject: =?us-ascii?Q?Weekly_news?=", u"a@b.tw", u"Weekly news",
     RowColor::Default},
    {"trusted sender with a quoted name", "From: \"=?utf-8?B?5by15LiJ?=\" <Friend@OK.tw>\r\nSubject: x",
     u"\"張三\" <Friend@OK.tw>", u"x", RowColor::Default},
    {"name posing as a trusted address", "From: =?utf-8?B?PGZyaWVuZEBvay50dz4=?= <spam@junk.tw>\r\nSubject: x",
     u"\uFF1Cfriend@ok.tw\uFF1E <spam@junk.tw>", u"x", RowColor::BlackList},
    {"quoted address posing as the sender", "From: \"<friend@ok.tw>\" <spam@junk.tw>\r\nSubject: x",
     u"\"<friend@ok.tw>\" <spam@junk.tw>", u"x", RowColor::BlackList},
    {"address with a comment", "From: jd@x.tw (John Doe)\r\nSubject: x", u"jd@x.tw (John Doe)", u"x",
     RowColor::BlackList},
    {"blank sender", "From: \r\nSubject: x", u"", u"x", RowColor::BlankSender},
    {"raw big5 subject", "From: a@b.tw\r\nSubject: \xB7|\xC4\xB3\xB3q\xAA\xBE", u"a@b.tw", u"會議通知", RowColor::Default},
    {"utf-8 subject, then a big5 content type",
     "From: a@b.tw\r\nSubject: =?utf-8?B?5pyD5ZOh?=\r\nContent-Type: text/plain;\r\n charset=\"big5\"", u"a@b.tw",
     u"會員", RowColor::Default},
    {"a to line of big5 words stays out", "From: a@b.tw\r\nSubject: =?big5?B?pP2kcKn6?=\r\nTo: =?big5?B?pn6y?= <c@d>",
     u"a@b.tw", u"王小明", RowColor::Default},
};

TEST_F(ParserTest, RealWorldShapesShowTheirTextAndAreJudgedByTheRealAddress) {
    lists.black = {u"jd@x.tw", u"spam@junk.tw"};
    lists.trusted = {u"friend@ok.tw"};
    lists.domains = {u"junk.cn"};
    flags = u"000101000001";
    for (const ShapeCase& c : kShapes) {
        const MessageEntry& e = parse(c.headers);
        EXPECT_EQ(e.SenderText, c.sender) << c.what;
        EXPECT_EQ(e.Subject, c.subject) << c.what;
        EXPECT_EQ(e.TextColor, c.color) << c.what;
        EXPECT_EQ(e.Checked, c.color != RowColor::Default) << c.what;
    }
    EXPECT_TRUE(reporter.errors.empty());
}

struct ErrorCase {
    const char* headers;
    std::u16string sender;
    std::u16string subject;
    std::u16string errorStart;
};

class ErrorPaths : public ParserTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ErrorPaths, ShowTheMessageBoxAndStillTakeTheRow) {
    lists.black = {u"y", u"a@b"};
    flags = u"000100000000";
    const MessageEntry& e = parse(GetParam().headers);
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(reporter.errors[0].substr(0, GetParam().errorStart.size()), GetParam().errorStart);
    EXPECT_EQ(e.SenderText, GetParam().sender);
    EXPECT_EQ(e.Subject, GetParam().subject);
    EXPECT_FALSE(e.Checked);  // not classified
    EXPECT_EQ(model.AccountLists[0].size(), 1u);
    EXPECT_EQ(model.VisibleList.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorPaths,
    ::testing::Values(ErrorCase{"From: x <y\r\nSubject: s", u"x <y", u"s", u"9001LIST\r\n"},
                      ErrorCase{"From: a@b\r\nSubject: x =?utf-8?= y", u"a@b", u"x =?utf-8?= y", u"9002LIST\r\n"},
                      ErrorCase{"From: =?utf-8?= <a@b>\r\nSubject: s", u"=?utf-8?= <a@b>", u"s", u"9002LIST\r\n"},
                      // A word cut short keeps what was decoded and shows the rest as written.
                      ErrorCase{"From: a@b\r\nSubject: =?utf-8?B?5Lit?= =?utf-8?B?5paH", u"a@b",
                                u"中 =?utf-8?B?5paH", u"9003LIST\r\n"},
                      ErrorCase{"From: =?utf-8?Q?a <a@b>\r\nSubject: s", u"=?utf-8?Q?a <a@b>", u"s",
                                u"9004LIST\r\n"},
                      ErrorCase{"From: \"q\" <y\r\nSubject: s", u"\"q\" <y", u"s", u"9001LIST\r\n"}));

TEST_F(ParserTest, FailedReplyKeepsRowNumberingAndSizesInStep) {
    model.ListingText = "1 1024\r\n2 2048\r\n3 3072\r\n";
    parse("From: a@b");
    parse("From: x <y");
    parse("From: c@d");
    ASSERT_EQ(model.AccountLists[0].size(), 3u);
    ASSERT_EQ(model.VisibleList.size(), 3u);
    EXPECT_EQ(model.AccountLists[0][1].SenderText, u"x <y");
    EXPECT_EQ(model.AccountLists[0][2].SenderText, u"c@d");
    EXPECT_EQ(model.AccountLists[0][2].SizeText, u"3KB");
    EXPECT_EQ(model.VisibleList[2].SenderText, u"c@d");
    EXPECT_TRUE(model.PhaseDone);
    EXPECT_EQ(reporter.errors.size(), 1u);
}

TEST_F(ParserTest, FailedReplyDoesNotLeakItsTextsIntoTheNext) {
    parse("From: x <y\r\nSubject: first");
    const MessageEntry& e = parse("Date: 7 Dec 2026 10:00");
    EXPECT_EQ(e.SenderText, u"");
    EXPECT_EQ(e.Subject, u"");
}

struct SizeCase {
    int n;
    const char* line;
    std::u16string expected;
};

class Sizes : public ParserTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(Sizes, RoundHalfToEven) {
    model.AccountLists[0].resize(GetParam().n - 1);
    model.MessageCounts[0] = 1000;
    model.ListingText = GetParam().line;
    EXPECT_EQ(parse("From: a@b").SizeText, GetParam().expected);
    EXPECT_EQ(model.RemainingListing(), "");
}

INSTANTIATE_TEST_SUITE_P(Table, Sizes,
                         ::testing::Values(SizeCase{12, "12 3456\r\n", u"3.4KB"}, SizeCase{10, "10 1536\r\n", u"1.5KB"},
                                           SizeCase{1, "1 1024\r\n", u"1KB"}, SizeCase{5, "5 2304\r\n", u"2.2KB"},
                                           SizeCase{1, "1 2816\r\n", u"2.8KB"},  // 2.75 goes up to the even 2.8
                                           SizeCase{1, "1 x\r\n", u"0KB"}, SizeCase{100, "100 0\r\n", u"0KB"},
                                           SizeCase{1, "", u"0KB"}));

TEST_F(ParserTest, ListingIsConsumedOneLinePerReply) {
    model.ListingText = "1 1024\r\n2 10240\r\n";
    parse("From: a@b");
    EXPECT_EQ(model.RemainingListing(), "2 10240\r\n");
    EXPECT_EQ(parse("From: a@b").SizeText, u"10KB");
}

class Dates : public ParserTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(Dates, ShowTheDateInTheGeneralFormat) {
    EXPECT_EQ(parse(GetParam().headers).ReceivedText, GetParam().expected) << GetParam().headers;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Dates,
    ::testing::Values(TextCase{"Date: Mon, 7 Dec 2026 10:23:45 +0800", u"2026/12/7 10:23:45"},
                      TextCase{"Date: 7 Dec 26 10:23 +0800", u"2026/12/7 10:23:00"},       // two-digit year
                      TextCase{"Subject: x", u"2026/12/10 08:30:15"},                      // no Date: parse time
                      TextCase{"Date: Sun, 7 Dec 2025 09:15:00 +0800", u"2025/12/7 09:15:00"},
                      TextCase{"Date: Sun, 7 Dec 2025 10:26:00 +0800", u"2026/12/10 08:30:15"},  // "26" in the time
                      TextCase{"Date: Tue, 31 Feb 2026 10:00:00 +0800", u"2026/12/10 08:30:15"},
                      TextCase{"Date: whenever", u"2026/12/10 08:30:15"},
                      TextCase{"Date: 2026/3/4 05:06:07", u"2026/12/10 08:30:15"},  // year before the 6th character: replaced, invalid
                      TextCase{"Date: Thu, 01 Jan 2026 00:00:00 GMT", u"2026/1/1 00:00:00"}));

TEST_F(ParserTest, ProgressTextsNameAccountCountAndNumber) {
    parse("From: a@b");
    ASSERT_EQ(reporter.status.size(), 1u);
    EXPECT_EQ(reporter.status[0], u"信箱(me@x.tw)有3封,接收郵件第1封...");
    EXPECT_EQ(reporter.tips[0], u"me@x.tw\r\n\r\n有3封,接收郵件第1封...");
}

TEST_F(ParserTest, LastMessageOfTheAccountSetsPhaseDoneAndActivityIsSet) {
    model.MessageCounts[0] = 2;
    parse("From: a@b");
    EXPECT_FALSE(model.PhaseDone);
    EXPECT_EQ(model.LastActivity, 8 * 3600 + 30 * 60 + 16);  // 30,615.6 s rounds up
    parse("From: a@b");
    EXPECT_TRUE(model.PhaseDone);
}

TEST_F(ParserTest, ClassifiedRowIsMirroredInTheVisibleListWithoutPreview) {
    lists.black = {u"jd@x"};
    flags = u"000100000000";
    model.PreviewLines = true;
    const MessageEntry& e = parse("From: John <jd@x>\r\nSubject: s", "body\r\n");
    EXPECT_TRUE(e.Checked);
    EXPECT_EQ(e.TextColor, RowColor::BlackList);
    EXPECT_EQ(e.PreviewText, u"Subject: s\r\nbody\r\n");
    MessageEntry shown = e;
    shown.PreviewText.clear();
    EXPECT_EQ(model.VisibleList.back(), shown);
}

struct PreviewCase {
    const char* headers;
    const char* body;
    std::u16string expected;
};

class Previews : public ParserTest, public ::testing::WithParamInterface<PreviewCase> {};

TEST_P(Previews, TakeTheLastThreeLines) {
    model.PreviewLines = true;
    EXPECT_EQ(parse(GetParam().headers, GetParam().body).PreviewText, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Previews,
    ::testing::Values(
        PreviewCase{"Subject: =?utf-8?B?QQ==?=\r\nContent-Transfer-Encoding: base64", "QUJD\r\nREVG\r\n5Lit5paH\r\n",
                    u"ABC\r\nDEF\r\n中文\r\n"},  // base64, re-read as the subject's UTF-8
        PreviewCase{"Content-Transfer-Encoding: Quoted-Printable", "first\r\n\xA4\xA4x\r\nabc=\r\n",
                    u"first\r\n\r\nabc\x11\r\n"},  // a Chinese line decodes to empty but keeps its line
        PreviewCase{"Subject: s", "only\r\n", u"Subject: s\r\nonly\r\n"},  // the blank separator adds nothing
        PreviewCase{"Content-Transfer-Encoding: 8bit", "\xA4\xA4\r\n", u"Content-Transfer-Encoding: 8bit\r\n中\r\n"},
        PreviewCase{"Subject: =?gb2312?B?QQ==?=\r\nContent-Transfer-Encoding: base64",
                    "1tDOxA==\r\n", u"\r\n中文\r\n"},
        // Replies come dot-unstuffed from the POP3 connection: a leading dot
        // left in a line is the sender's own and is shown.
        PreviewCase{"Subject: s", ".hidden\r\n..twice\r\nx\r\n", u".hidden\r\n..twice\r\nx\r\n"},
        // The body's own charset wins over that of the subject's words.
        PreviewCase{"Subject: =?big5?B?QQ==?=\r\nContent-Type: text/plain; charset=UTF-8", "a\r\nb\r\n\xE4\xB8\xAD\r\n",
                    u"a\r\nb\r\n中\r\n"},
        PreviewCase{"Content-Transfer-Encoding: quoted-printable\r\nContent-Type: text/plain; charset=\"utf-8\"",
                    "a\r\nb\r\n=e4=b8=ad\r\n", u"a\r\nb\r\n中\r\n"},
        // Japanese and Russian bodies in their own charsets; a charset the
        // program does not know falls back to that of the subject.
        PreviewCase{"Content-Type: text/plain; charset=ISO-2022-JP", "a\r\n\x1B$BF|K\\\x1B(B\r\nb\r\n",
                    u"a\r\n日本\r\nb\r\n"},
        PreviewCase{"Content-Type: text/plain; charset=koi8-r", "a\r\nb\r\n\xF3\xCB\xC9\xC4\xCB\xC1\r\n",
                    u"a\r\nb\r\nСкидка\r\n"},
        PreviewCase{"Subject: =?utf-8?B?QQ==?=\r\nContent-Type: text/plain; charset=x-martian",
                    "a\r\nb\r\n\xE4\xB8\xAD\r\n", u"a\r\nb\r\n中\r\n"}));

TEST_F(ParserTest, NoPreviewWithoutTheSwitch) {
    EXPECT_EQ(parse("Subject: s", "body\r\n").PreviewText, u"");
}

// A reply the fuzzer found slow: a "From-" line that is no sender, a date
// line full of colons and an unfinished encoded word cut by a zero byte.
TEST_F(ParserTest, FuzzerSlowReplyStillTakesItsRow) {
    flags = u"111111111111";
    model.PreviewLines = true;
    model.ListingText = "1 51252\r\n";
    const std::string reply("+OK\r\nFrom-8<Date: Mo:::::jwn?B:0tm: =e=?utfXXXXXXXX\x00" "8\xC5Q?=E4=B8\x1E" "A 5@=<\n.\r\n",
                            73);
    ParseMessageHeader(model, services(), 0, reply);
    ASSERT_EQ(model.AccountLists[0].size(), 1u);
    ASSERT_EQ(model.VisibleList.size(), 1u);
    const MessageEntry& row = model.AccountLists[0][0];
    EXPECT_EQ(row.SenderText, u"");
    EXPECT_TRUE(row.Checked);  // a blank sender
    EXPECT_EQ(row.TextColor, RowColor::BlankSender);
    EXPECT_EQ(row.SizeText, u"50.1KB");
    EXPECT_TRUE(reporter.errors.empty());
}

TEST_F(ParserTest, BadAccountIndexReportsAndAddsNothing) {
    ParseMessageHeader(model, services(), 5, "+OK\r\n\r\n.\r\n");
    EXPECT_EQ(model.VisibleList.size(), 0u);
    EXPECT_EQ(reporter.errors.size(), 1u);
}

}  // namespace
