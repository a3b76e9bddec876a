// Password scrambling, accounts and sender-list membership.
#include <gtest/gtest.h>

#include <memory>

#include "platform/native.h"
#include "settings/accounts.h"
#include "tests/support/fake_files.h"

namespace iw::settings {
namespace {

class AccountsTest : public ::testing::Test {
protected:
    std::unique_ptr<platform::CodePage> cp = platform::createCodePage();
    test::FakeFiles files;
    SettingsStore store{files, *cp, u"C:\\P\\"};
};

// A printable password of `n` characters without "%" and "z".
std::u16string longPassword(std::size_t n) {
    std::u16string p;
    for (std::size_t i = 0; p.size() < n; ++i) {
        const char16_t c = static_cast<char16_t>(32 + i % 95);
        if (c != u'%' && c != u'z') p.push_back(c);
    }
    return p;
}

TEST_F(AccountsTest, ScrambleTable) {
    struct Case {
        std::u16string plain, scrambled, back;
    } cases[] = {
        {u"abc", u"eiiA", u"abc"},
        {u"", u"=", u""},
        {u"~", u"|C", u"~"},       // 126^5=123, +1 = 124; sum 126
        {u"~~", u"|}?", u"~~"},     // position 2: 125; sum 252
        {u"%", u"!D", u"z"},       // 32+1; sum 37
        {u"z", u"!?", u"z"},       // 127+1-95; sum 122
        {u"P@ss w0rd!", u"", u"P@ss w0rd!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.plain.begin(), c.plain.end()));
        const std::u16string s = ScramblePassword(*cp, c.plain);
        if (!c.scrambled.empty()) {
            EXPECT_EQ(s, c.scrambled);
        }
        EXPECT_EQ(s.size(), c.plain.size() + 1);
        for (char16_t ch : s) EXPECT_TRUE(ch >= 32 && ch <= 126);
        EXPECT_EQ(UnscramblePassword(*cp, s), c.back);
    }
}

TEST_F(AccountsTest, WrapAroundAndPercentVersusZ) {
    // Position 27: 'a' gives (97^5)+27 = 127 > 126, so 127-95 = 32 (" ").
    const std::u16string s = ScramblePassword(*cp, std::u16string(27, u'a'));
    EXPECT_EQ(s[26], u' ');
    EXPECT_EQ(s[25], u'~');  // position 26: 126, no wrap
    // "%" and "z" share one scrambled form at every position.
    for (std::size_t pos : {1u, 50u, 94u, 95u, 96u, 130u, 300u}) {
        SCOPED_TRACE(pos);
        const std::u16string pad(pos - 1, u'a');
        const std::u16string pct = ScramblePassword(*cp, pad + u"%"), zed = ScramblePassword(*cp, pad + u"z");
        EXPECT_EQ(pct.substr(0, pos), zed.substr(0, pos));
        const char16_t back = UnscramblePassword(*cp, pct)[pos - 1];
        EXPECT_EQ(back, pos <= 94 ? u'z' : u'%');
    }
    EXPECT_EQ(ScramblePassword(*cp, u"%")[0], u'!');  // 32+1
    EXPECT_EQ(ScramblePassword(*cp, u"z")[0], u'!');  // 127+1-95
}

TEST_F(AccountsTest, LongPasswordsSurviveStorage) {
    for (std::size_t n : {94u, 95u, 126u, 127u, 128u, 200u, 1000u}) {
        SCOPED_TRACE(n);
        const std::u16string plain = longPassword(n);
        const std::u16string scrambled = ScramblePassword(*cp, plain);
        for (char16_t ch : scrambled) ASSERT_TRUE(ch >= 32 && ch <= 126);
        ASSERT_TRUE(WriteSetting(store, IniFile::Set, u"me@x.tw", u"PassWord", scrambled));
        EXPECT_EQ(UnscramblePassword(*cp, ReadMailAccount(store, u"me@x.tw").Password), plain);
    }
}

TEST_F(AccountsTest, CharactersOutsidePrintableAscii) {
    EXPECT_TRUE(PasswordIsScramblable(u"abc ~!"));
    EXPECT_FALSE(PasswordIsScramblable(u"密碼"));
    EXPECT_FALSE(PasswordIsScramblable(u"a\tb"));
    // They scramble as "?" and come back as "?", never as broken text.
    EXPECT_EQ(UnscramblePassword(*cp, ScramblePassword(*cp, u"a密b\u00e9")), u"a?b?");
    EXPECT_EQ(UnscramblePassword(*cp, u""), u"");
    EXPECT_EQ(UnscramblePassword(*cp, u"="), u"");
    EXPECT_EQ(UnscramblePassword(*cp, u"中文A"), u"??");  // hand-edited stored text
}

TEST_F(AccountsTest, AccountAndMembership) {
    files.put(u"C:\\P\\set.ini",
              "[U-Mail]\r\nme@x.tw=0\r\n"
              "[me@x.tw]\r\nAccount=me\r\nPassWord=eiiA\r\nPoP3=pop.x.tw:1110\r\n"
              "[U-BlackList]\r\nSPAM@BAD.COM=0\r\nred@bad.com=1\r\n"
              "[U-TrustList]\r\nfriend@ok.com=0\r\nodd@ok.com=5\r\n"
              "[U-Domain]\r\nbad.com=0\r\n");
    const MailAccount a = ReadMailAccount(store, ReadRoster(store, u"U").at(0));
    EXPECT_EQ(a.Address, u"me@x.tw");
    EXPECT_EQ(a.User, u"me");
    EXPECT_EQ(UnscramblePassword(*cp, a.Password), u"abc");
    EXPECT_EQ(a.Pop3Host, u"pop.x.tw:1110");
    const MailAccount none = ReadMailAccount(store, u"nobody@x.tw");
    EXPECT_EQ(none.User + none.Password + none.Pop3Host, u"");

    EXPECT_TRUE(IsBlackListed(store, u"U", u"spam@bad.com"));  // stored in capitals
    EXPECT_TRUE(IsBlackListed(store, u"U", u"red@bad.com"));
    EXPECT_FALSE(IsBlackListed(store, u"U", u"friend@ok.com"));
    EXPECT_TRUE(IsTrusted(store, u"U", u"Friend@OK.com"));
    EXPECT_FALSE(IsTrusted(store, u"U", u"odd@ok.com"));
    EXPECT_FALSE(IsTrusted(store, u"U", u"stranger@ok.com"));
    EXPECT_TRUE(IsDomainListed(store, u"U", u"BAD.com"));
    EXPECT_FALSE(IsDomainListed(store, u"U", u"ok.com"));
    EXPECT_FALSE(IsTrusted(store, u"Other", u"friend@ok.com"));

    // Removing the black-list key leaves the domain entry.
    ASSERT_TRUE(DeleteSettingKey(store, IniFile::Set, BlackListSection(u"U"), u"red@bad.com"));
    EXPECT_FALSE(IsBlackListed(store, u"U", u"red@bad.com"));
    EXPECT_TRUE(IsDomainListed(store, u"U", u"bad.com"));
}

}  // namespace
}  // namespace iw::settings
