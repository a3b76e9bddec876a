// The settings store: the private-profile rules, the cache, failing writes,
// foreign lines surviving a round trip, list reads, file encodings.
#include <gtest/gtest.h>

#include <memory>

#include "platform/native.h"
#include "settings/accounts.h"
#include "settings/settings_store.h"
#include "tests/support/fake_files.h"
#include "tests/support/fake_time.h"

namespace iw::settings {
namespace {

const std::u16string kApp = u"C:\\Prog\\";
const std::u16string kSetIni = u"C:\\Prog\\set.ini";

class StoreTest : public ::testing::Test {
protected:
    std::unique_ptr<platform::CodePage> cp = platform::createCodePage();
    test::FakeFiles files;
    SettingsStore store{files, *cp, kApp};

    void put(const std::string& bytes) { files.put(kSetIni, bytes); }
    std::string content() { return files.content(kSetIni).value_or("<missing>"); }
};

// Rules 2 and 3: each case starts from `before`, applies one operation and
// expects the file to read `after` byte for byte.
struct EditCase {
    const char* name;
    std::string before;
    enum Op { Write, DeleteKey, DeleteSection } op;
    std::u16string section, key, value;
    std::string after;
};

TEST_F(StoreTest, EditsFollowThePrivateProfileRules) {
    const EditCase cases[] = {
        {"replace in place keeps the file's spelling", "[U]\r\nOption=1\r\nCheck=2\r\n", EditCase::Write, u"u",
         u"OPTION", u"0", "[U]\r\nOption=0\r\nCheck=2\r\n"},
        {"new key at the end of its section", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n", EditCase::Write, u"A", u"z", u"3",
         "[A]\r\nx=1\r\nz=3\r\n[B]\r\ny=2\r\n"},
        {"new key goes before the blank line that ends the section", "[A]\r\nx=1\r\n\r\n[B]\r\n", EditCase::Write,
         u"A", u"z", u"3", "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\n"},
        {"new section at the end of the file", "[A]\r\nx=1\r\n", EditCase::Write, u"B", u"k", u"v",
         "[A]\r\nx=1\r\n[B]\r\nk=v\r\n"},
        {"file without a last line end", "[A]\r\nx=1", EditCase::Write, u"A", u"y", u"2", "[A]\r\nx=1\r\ny=2\r\n"},
        {"new file", "", EditCase::Write, u"S", u"k", u"中", "[S]\r\nk=\xA4\xA4\r\n"},
        {"key deletion, any letter case", "[A]\r\nKey=1\r\nother=2\r\n", EditCase::DeleteKey, u"a", u"KEY", u"",
         "[A]\r\nother=2\r\n"},
        {"key deletion removes every duplicate", "[A]\r\nk=1\r\nj=0\r\nK=2\r\n", EditCase::DeleteKey, u"A", u"k",
         u"", "[A]\r\nj=0\r\n"},
        {"section deletion", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n[C]\r\nz=3\r\n", EditCase::DeleteSection, u"b", u"", u"",
         "[A]\r\nx=1\r\n[C]\r\nz=3\r\n"},
        {"a long value is stored whole", "", EditCase::Write, u"S", u"k", std::u16string(300, u'x'),
         "[S]\r\nk=" + std::string(300, 'x') + "\r\n"},
    };
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.before.empty()) files.remove(kSetIni);
        else put(c.before);
        bool ok = false;
        switch (c.op) {
        case EditCase::Write: ok = store.write(IniFile::Set, c.section, c.key, c.value); break;
        case EditCase::DeleteKey: ok = store.deleteKey(IniFile::Set, c.section, c.key); break;
        case EditCase::DeleteSection: ok = store.deleteSection(IniFile::Set, c.section); break;
        }
        EXPECT_TRUE(ok);
        EXPECT_EQ(content(), c.after);
    }
}

TEST_F(StoreTest, ReadsFollowThePrivateProfileRules) {
    put("top=0\r\n"
        "[Prefs]\r\n"
        "  Option = 0101  \r\n"
        "Menu=-1\r\n"
        "Mixed=12abc\r\n"
        "Word=abc\r\n"
        "Empty=\r\n"
        "Dup=first\r\n"
        "dup=second\r\n"
        "Huge=99999999999\r\n"
        "Low=-99999999999\r\n"
        "Long=" + std::string(200, 'y') + "\r\n"
        "[\xA4\xA4\xA4\xE5]\r\n"
        "\xA6W=\xAD\xC8\r\n");
    struct Case {
        std::u16string section, key;
        std::optional<std::u16string> text;
        std::int32_t number;  // with default 7
    } cases[] = {
        {u"prefs", u"OPTION", u"0101", 101},
        {u"PREFS", u"menu", u"-1", -1},
        {u"Prefs", u"Mixed", u"12abc", 12},
        {u"Prefs", u"Word", u"abc", 0},
        {u"Prefs", u"Empty", u"", 7},  // an empty value reads the default, as on Windows
        {u"Prefs", u"DUP", u"first", 0},
        {u"Prefs", u"Huge", u"99999999999", 2147483647},
        {u"Prefs", u"Low", u"-99999999999", -2147483647 - 1},
        {u"Prefs", u"Long", std::u16string(200, u'y'), 0},
        {u"Prefs", u"missing", std::nullopt, 7},
        {u"nosuch", u"Option", std::nullopt, 7},
        {u"", u"top", std::nullopt, 7},  // lines before the first section are no keys
        {u"中文", u"名", u"值", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key.begin(), c.key.end()));
        EXPECT_EQ(store.find(IniFile::Set, c.section, c.key), c.text);
        EXPECT_EQ(store.read(IniFile::Set, c.section, c.key, u"dflt"), c.text.value_or(u"dflt"));
        EXPECT_EQ(store.readNumber(IniFile::Set, c.section, c.key, 7), c.number);
    }
    EXPECT_EQ(store.listKeys(IniFile::Set, u"prefs"),
              (std::vector<std::u16string>{u"Option", u"Menu", u"Mixed", u"Word", u"Empty", u"Dup", u"Huge", u"Low",
                                           u"Long"}));
}

TEST_F(StoreTest, KeyListKeepsFileOrderThroughEdits) {
    for (const char16_t* k : {u"c", u"a", u"b"}) ASSERT_TRUE(store.write(IniFile::Set, u"S", k, u"0"));
    ASSERT_TRUE(store.write(IniFile::Set, u"S", u"A", u"1"));  // replaced in place: stays second
    ASSERT_TRUE(store.deleteKey(IniFile::Set, u"S", u"c"));
    ASSERT_TRUE(store.write(IniFile::Set, u"S", u"c", u"0"));  // back at the end
    EXPECT_EQ(store.listKeys(IniFile::Set, u"s"), (std::vector<std::u16string>{u"a", u"b", u"c"}));
    EXPECT_EQ(content(), "[S]\r\na=1\r\nb=0\r\nc=0\r\n");
}

TEST_F(StoreTest, RefusesWritesThatWouldBreakTheFile) {
    put("[S]\r\nk=1\r\n");
    const struct {
        std::u16string section, key, value;
    } bad[] = {
        {u"S", u"k", u"a\r\n[Evil]"}, {u"S", u"a=b", u"1"}, {u"S", u"[x", u"1"}, {u"S", u";c", u"1"},
        {u"S]", u"k", u"1"},          {u"S", u"  ", u"1"},   {u"", u"k", u"1"},   {u"S", u"k\n", u"1"},
    };
    for (const auto& c : bad) EXPECT_FALSE(store.write(IniFile::Set, c.section, c.key, c.value));
    EXPECT_EQ(content(), "[S]\r\nk=1\r\n");
}

TEST_F(StoreTest, NullValueDeletesTheKey) {
    put("[S]\r\nk=1\r\nj=2\r\n");
    EXPECT_TRUE(store.write(IniFile::Set, u"S", u"K", std::nullopt));
    EXPECT_EQ(content(), "[S]\r\nj=2\r\n");
}

TEST_F(StoreTest, OddLinesSurviveARoundTripByteForByte) {
    // Comments, blank and blank-looking lines, a line without "=", odd
    // spacing, LF-only line ends, a lone CR, bytes that are no Big5, a
    // duplicate section and lines before the first section.
    const std::string head =
        "; written by hand\r\n"
        "stray line\n"
        "\r\n"
        "[Prefs]  \r\n"
        "   \t \r\n"
        "Option =  011011000100 ; not a comment\n"
        "no equals sign here\r\n"
        "bad\x80\xFF bytes=\xA4\r\n";
    const std::string tail =
        "x=1\rstill x\r\n"
        "\r\n"
        "[prefs]\r\n"
        "Check=9\r\n"
        "[Other]\r\n"
        "a=b";
    put(head + "Check=1\r\n" + tail);
    ASSERT_TRUE(store.write(IniFile::Set, u"PREFS", u"check", u"5"));
    EXPECT_EQ(content(), head + "Check=5\r\n" + tail);
    EXPECT_EQ(store.read(IniFile::Set, u"Prefs", u"Option", u""), u"011011000100 ; not a comment");
}

TEST_F(StoreTest, CacheSeesAnotherWritersChange) {
    put("[S]\r\nk=1\r\n");
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"1");
    const int reads = files.readCount();
    for (int i = 0; i < 50; ++i) store.read(IniFile::Set, u"S", u"k", u"");
    EXPECT_EQ(files.readCount(), reads) << "an unchanged file is parsed once";

    put("[S]\r\nk=2\r\n");  // same size, new write time
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"2");
    put("[S]\r\nk=333\r\n");  // new size
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"333");
    files.remove(kSetIni);
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u"gone"), u"gone");
}

TEST_F(StoreTest, OwnWritesUpdateTheCacheAndStartFromTheCurrentFile) {
    put("[S]\r\nk=1\r\n");
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"1");
    put("[S]\r\nk=1\r\nother=9\r\n");  // another writer adds a key
    ASSERT_TRUE(store.write(IniFile::Set, u"S", u"k", u"2"));
    EXPECT_EQ(content(), "[S]\r\nk=2\r\nother=9\r\n");
    const int reads = files.readCount();
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"2");
    EXPECT_EQ(files.readCount(), reads) << "the store's own write needs no parse";
}

TEST_F(StoreTest, FailingWriteReturnsFalseAndKeepsTheOldContent) {
    put("[S]\r\nk=1\r\n");
    files.setFailWrites(true);
    EXPECT_FALSE(store.write(IniFile::Set, u"S", u"k", u"2"));
    EXPECT_FALSE(store.write(IniFile::Set, u"S", u"new", u"2"));
    EXPECT_FALSE(store.deleteKey(IniFile::Set, u"S", u"k"));
    EXPECT_FALSE(store.deleteSection(IniFile::Set, u"S"));
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"1");
    EXPECT_EQ(store.find(IniFile::Set, u"S", u"new"), std::nullopt);
    EXPECT_EQ(content(), "[S]\r\nk=1\r\n");
    files.setFailWrites(false);
    EXPECT_TRUE(store.write(IniFile::Set, u"S", u"j", u"3"));
    EXPECT_EQ(content(), "[S]\r\nk=1\r\nj=3\r\n");
}

TEST_F(StoreTest, UnreadableFileIsNeverOverwritten) {
    put("[S]\r\nk=1\r\n");
    files.setFailReads(true);
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u"d"), u"d");
    EXPECT_FALSE(store.write(IniFile::Set, u"S", u"j", u"2"));
    files.setFailReads(false);
    EXPECT_EQ(content(), "[S]\r\nk=1\r\n");
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u"d"), u"1");
}

TEST_F(StoreTest, CacheOffParsesEveryRead) {
    put("[S]\r\nk=1\r\n");
    store.setCacheEnabled(false);
    const int reads = files.readCount();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"1");
    EXPECT_EQ(files.readCount(), reads + 3);
    files.putKeepingStamp(kSetIni, "[S]\r\nk=2\r\n");
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"2");
}

// With a stamp interval, reads may trust the cache for a second, but a
// write through the store shows at once, an outside change shows once the
// second has passed (or the clock ran backwards), and a write in between
// keeps the outside change.
TEST_F(StoreTest, StampIntervalStillSeesEveryChange) {
    test::FakeClock clock;
    clock.setTime(23, 59, 58);
    store.setStampInterval(clock, 1.0);
    put("[S]\r\nk=1\r\n");
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"1");

    ASSERT_TRUE(store.write(IniFile::Set, u"S", u"k", u"2"));
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"2");

    put("[S]\r\nk=3\r\n");
    ASSERT_TRUE(store.write(IniFile::Set, u"S", u"j", u"x"));  // within the second
    EXPECT_EQ(content(), "[S]\r\nk=3\r\nj=x\r\n");

    put("[S]\r\nk=4\r\n");
    clock.advance(platform::Milliseconds(1000));
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"4");

    put("[S]\r\nk=5\r\n");
    clock.advance(platform::Milliseconds(1500));  // past midnight: the clock reads less than before
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"5");

    put("[S]\r\nk=6\r\n");
    clock.setTime(10, 0, 0);  // set backwards by the time sync
    EXPECT_EQ(store.read(IniFile::Set, u"S", u"k", u""), u"6");
}

TEST_F(StoreTest, ReadListSectionRules) {
    put("[U-BlackList]\r\n"
        "a@x.com=0\r\n"
        "B@Y.COM=1\r\n"
        "no equals\r\n"
        "=odd\r\n"
        "[U-TrustList]\r\n"
        "t@x.com=0\r\n"
        "x=\r\n"
        "=\r\n"
        "\r\n"
        "after@blank.com=0\r\n"
        "[u-blacklist]\r\n"
        "other=0\r\n"
        "[IeUrl]\r\n"
        "http://a.com/=1\r\n"
        "http://b.com/x?=3\r\n");
    files.put(u"C:\\Prog\\ie.ini", "[IeUrl]\r\nhttp://c.com/=0\r\n");
    struct Case {
        IniFile file;
        std::u16string section;
        ListEntryRule rule;
        std::vector<std::u16string> entries;
    } cases[] = {
        {IniFile::Set, u"U-BlackList", ListEntryRule::BeforeEquals, {u"a@x.com", u"B@Y.COM", u""}},
        {IniFile::Set, u"U-TrustList", ListEntryRule::DropLastTwoChars, {u"t@x.com", u""}},
        {IniFile::Set, u"u-blacklist", ListEntryRule::BeforeEquals, {u"other"}},  // letter case counts
        {IniFile::Set, u"U-blacklist", ListEntryRule::BeforeEquals, {}},
        {IniFile::Set, u"IeUrl", ListEntryRule::BeforeEquals, {u"http://a.com/", u"http://b.com/x?"}},
        {IniFile::Ie, u"IeUrl", ListEntryRule::BeforeEquals, {u"http://c.com/"}},
        {IniFile::Set, u"Missing", ListEntryRule::BeforeEquals, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(store.readListSection(c.file, c.section, c.rule), c.entries);
    files.remove(u"C:\\Prog\\ie.ini");
    EXPECT_TRUE(store.readListSection(IniFile::Ie, u"IeUrl", ListEntryRule::BeforeEquals).empty());
}

TEST_F(StoreTest, ByteOrderMarkFilesAreReadAndWrittenInTheirEncoding) {
    struct Case {
        const char* name;
        std::string before, after;
    } cases[] = {
        {"UTF-8", "\xEF\xBB\xBF[S]\r\nk=\xE4\xB8\xAD\r\n", "\xEF\xBB\xBF[S]\r\nk=\xE4\xB8\xAD\r\nn=\xE6\x96\x87\r\n"},
        {"UTF-16 LE", std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\x2D\x4E\r\0\n\0", 22),
         std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\x2D\x4E\r\0\n\0n\0=\0\x87\x65\r\0\n\0", 32)},
        {"UTF-16 BE", std::string("\xFE\xFF\0[\0S\0]\0\r\0\n\0k\0=\x4E\x2D\0\r\0\n", 22),
         std::string("\xFE\xFF\0[\0S\0]\0\r\0\n\0k\0=\x4E\x2D\0\r\0\n\0n\0=\x65\x87\0\r\0\n", 32)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        put(c.before);
        EXPECT_EQ(store.read(IniFile::Set, u"s", u"K", u""), u"中");
        ASSERT_TRUE(store.write(IniFile::Set, u"S", u"n", u"文"));
        EXPECT_EQ(content(), c.after);
    }
}

TEST_F(StoreTest, TwoUsersShareOneFile) {
    for (const char16_t* user : {u"Alice", u"Bob"}) {
        const std::u16string u = user;
        ASSERT_TRUE(WriteSetting(store, IniFile::Set, u, u"Option", u == u"Alice" ? u"111111111111" : u"000000000000"));
        ASSERT_TRUE(WriteSetting(store, IniFile::Set, RosterSection(u), u + u"@mail.tw", u"0"));
        ASSERT_TRUE(WriteSetting(store, IniFile::Set, RosterSection(u), u"shared@mail.tw", u"0"));
        ASSERT_TRUE(WriteSetting(store, IniFile::Set, BlackListSection(u), u"spam@" + u + u".tw", u"0"));
    }
    ASSERT_TRUE(WriteSetting(store, IniFile::Set, u"shared@mail.tw", u"Account", u"both"));
    EXPECT_EQ(ReadSetting(store, u"alice", u"option", u""), u"111111111111");
    EXPECT_EQ(ReadSetting(store, u"BOB", u"Option", u""), u"000000000000");
    EXPECT_EQ(ReadRoster(store, u"Alice"), (std::vector<std::u16string>{u"Alice@mail.tw", u"shared@mail.tw"}));
    EXPECT_EQ(ReadRoster(store, u"Bob"), (std::vector<std::u16string>{u"Bob@mail.tw", u"shared@mail.tw"}));
    EXPECT_TRUE(IsBlackListed(store, u"Alice", u"spam@alice.tw"));
    EXPECT_FALSE(IsBlackListed(store, u"Alice", u"spam@bob.tw"));
    EXPECT_EQ(ReadMailAccount(store, u"shared@mail.tw").User, u"both");
    ASSERT_TRUE(DeleteSettingSection(store, IniFile::Set, RosterSection(u"Alice")));
    EXPECT_TRUE(ReadRoster(store, u"Alice").empty());
    EXPECT_EQ(ReadRoster(store, u"Bob").size(), 2u);
}

TEST_F(StoreTest, MissingFileYieldsDefaults) {
    EXPECT_EQ(ReadSetting(store, u"U", u"Option", u"011011000100"), u"011011000100");
    EXPECT_EQ(ReadSettingNumber(store, IniFile::Set, u"U", u"AD-PoP", 75), 75);
    EXPECT_TRUE(ReadRoster(store, u"U").empty());
    EXPECT_TRUE(ListSectionKeys(store, u"U").empty());
    EXPECT_FALSE(files.content(kSetIni).has_value()) << "reads create nothing";
    EXPECT_TRUE(DeleteSettingKey(store, IniFile::Set, u"U", u"k"));
    EXPECT_FALSE(files.content(kSetIni).has_value()) << "deleting nothing writes nothing";
}

TEST_F(StoreTest, LongRosterIsReadWhole) {
    std::string text = "[U-Mail]\r\n";
    std::vector<std::u16string> expected;
    for (int i = 0; i < 100; ++i) {
        const std::string a = "account" + std::to_string(i) + "@some-long-domain.example.com";
        text += a + "=0\r\n";
        expected.emplace_back(a.begin(), a.end());
    }
    put(text);
    EXPECT_EQ(ReadRoster(store, u"U"), expected);
}

}  // namespace
}  // namespace iw::settings
