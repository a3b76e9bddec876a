// The windowless filter run of the console front end: its arguments, its
// JSON lines and table, and that only --delete deletes.
#include <gtest/gtest.h>

#include <algorithm>

#include <memory>

#include "filter/filter_window.h"
#include "filter/console_filter.h"
#include "platform/native.h"
#include "tests/support/fake_mail_platform.h"
#include "tests/support/fake_network.h"
#include "tests/support/filter_fakes.h"

namespace iw::test {
namespace {

TEST(FilterArgsTest, Table) {
    struct Case {
        std::vector<std::u16string> args;
        bool ok;
    } cases[] = {
        {{}, true},
        {{u"--profile", u"/p", u"--user", u"u", u"--delete", u"--json"}, true},
        {{u"--profile"}, false},
        {{u"--profile", u""}, false},
        {{u"--user", u"a", u"--user", u"b"}, false},
        {{u"--delete", u"--delete"}, false},
        {{u"--verbose"}, false},
    };
    for (const auto& c : cases) {
        filter::FilterRunOptions o;
        EXPECT_EQ(filter::ParseFilterArgs(c.args, o).empty(), c.ok);
    }
    filter::FilterRunOptions o;
    ASSERT_EQ(filter::ParseFilterArgs({u"--profile", u"/p", u"--delete"}, o), "");
    EXPECT_EQ(*o.profileDir, u"/p");
    EXPECT_TRUE(o.deleteChecked);
    EXPECT_FALSE(o.json);
}

TEST(JsonStringTest, Escapes) {
    EXPECT_EQ(filter::JsonString(u"a\"b\\c\r\n\x01中"), u"\"a\\\"b\\\\c\\r\\n\\u0001中\"");
    EXPECT_EQ(filter::JsonString(u"a\u2028b\u2029c"), u"\"a\\u2028b\\u2029c\"");
}

TEST(TableTextTest, EscapesWhatCouldBreakALineOrReachTheTerminal) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"plain 中文 text", u"plain 中文 text"},
        {u"a\r\n  [x] 9  1KB  fake", u"a\\x0d\\x0a  [x] 9  1KB  fake"},
        {u"\x1b[2Jgone", u"\\x1b[2Jgone"},
        {u"c1\x9b" u"31m", u"c1\\x9b" u"31m"},
        {u"del\x7f", u"del\\x7f"},
        {u"tab\there", u"tab\\x09here"},
        {u"back\\slash", u"back\\\\slash"},
        {u"line\u2028para\u2029", u"line\\u2028para\\u2029"},
        {u"\u202Eevil", u"\\u202eevil"},
        {u"", u""},
    };
    for (const auto& [in, shown] : cases) EXPECT_EQ(filter::TableText(in), shown);
}

struct ConsoleFilterFixture : ::testing::Test, FakeMailPlatform {
    FakeFilterProfile profile;
    ProfileSenderLists senderLists{profile};
    platform::FixedDateFormat dates;
    settings::ProgramState m1;
    ScriptedPop3Server server;
    std::vector<std::u16string> out, progress;

    ConsoleFilterFixture() {
        net.addHost("mail.a", "127.0.0.1");
        net.addServer("127.0.0.1", 26112, server);
        server.user = "alice";
        server.messages = {"From: s <s@x>\r\nSubject: [junk] buy\r\n\r\nb\r\n", "From: f@x\r\nSubject: hi\r\n\r\nb\r\n"};
        profile.addAccount(u"alice@a", u"alice", u"secret", u"mail.a:26112");
        profile.listAdd(filter::SenderList::Black, u"s@x");
        m1.prefs.options = settings::Options::FromStored(u"011111000100");  // the defaults with the black list on
        profile.options[u"Open"] = u"1";
        registry.strings[std::u16string(filter::kMailProgramKey) + u"\\"] = u"mail.exe";
    }
    int run(bool del, bool json) {
        filter::FilterRunOptions o;
        o.deleteChecked = del;
        o.json = json;
        return filter::RunConsoleFilter(plat, profile, m1, senderLists, dates, o,
                                         [&](const std::u16string& l) { out.push_back(l); },
                                         [&](const std::u16string& l) { progress.push_back(l); });
    }
    std::size_t count(const std::string& verb) const {
        std::size_t n = 0;
        for (auto& c : server.commands) n += c.rfind(verb, 0) == 0;
        return n;
    }
};

TEST_F(ConsoleFilterFixture, JsonLinesWithoutDeleteQuitsAndDeletesNothing) {
    EXPECT_EQ(run(false, true), 0);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], u"{\"type\":\"account\",\"index\":0,\"section\":\"alice@a\",\"user\":\"alice\",\"status\":\"" +
                          std::u16string(u"信箱(alice@a)有2封新郵件,共有0.1KB...") + u"\"}");
    EXPECT_NE(out[1].find(u"\"number\":1,\"sender\":\"s <s@x>\""), std::u16string::npos);
    EXPECT_NE(out[1].find(u"\"checked\":true,\"color\":\"#FF0000\",\"reason\":\"黑名單:s@x\"}"), std::u16string::npos);
    EXPECT_NE(out[2].find(u"\"checked\":false,\"color\":null,\"reason\":\"未符合任何過濾規則\"}"), std::u16string::npos);
    EXPECT_EQ(out[3], u"{\"type\":\"summary\",\"remaining\":2}");
    EXPECT_EQ(count("DELE"), 0u);
    EXPECT_EQ(count("QUIT"), 1u);
    EXPECT_TRUE(server.removed.empty());
    EXPECT_TRUE(shell.started.empty());
    EXPECT_FALSE(progress.empty());
    EXPECT_EQ(progress[0], u"status: 查詢主機IP位置中...");
}

TEST_F(ConsoleFilterFixture, DeleteRemovesCheckedOnlyAndNeverStartsMailProgram) {
    EXPECT_EQ(run(true, false), 0);
    EXPECT_EQ(server.removed, (std::vector<std::size_t>{0}));
    EXPECT_EQ(out.back(), u"remaining: 1");
    EXPECT_EQ(out[1], u"  [x] 1  0KB  s <s@x>  [junk] buy  原因:黑名單:s@x");
    EXPECT_TRUE(shell.started.empty());
    EXPECT_TRUE(profile.writes.empty());  // the console changes no option
}

// The connection cut in the middle of the TOP replies: no DELE goes out,
// `remaining` counts the rows fetched (as the README defines it, not the
// server's total), and a line names the account that was cut.
TEST_F(ConsoleFilterFixture, ACutAccountIsNamedAndRemainingCountsWhatWasFetched) {
    server.messages = {"From: s <s@x>\r\nSubject: a\r\n\r\nb\r\n", "From: f@x\r\nSubject: b\r\n\r\nb\r\n",
                       "From: s <s@x>\r\nSubject: c\r\n\r\nb\r\n", "From: f@x\r\nSubject: d\r\n\r\nb\r\n"};
    server.behaviour.dropAfterTops = 2;
    for (bool json : {true, false}) {
        out.clear();
        EXPECT_EQ(run(true, json), 0);
        EXPECT_EQ(count("DELE"), 0u);
        EXPECT_TRUE(server.removed.empty());
        if (json) {
            EXPECT_EQ(out.back(), u"{\"type\":\"summary\",\"remaining\":2}");
            EXPECT_NE(std::find(out.begin(), out.end(),
                                u"{\"type\":\"cut\",\"index\":0,\"section\":\"alice@a\",\"fetched\":2,\"listed\":4}"),
                      out.end());
        } else {
            EXPECT_EQ(out.back(), u"remaining: 2");
            EXPECT_NE(std::find(out.begin(), out.end(), u"[alice@a] cut: 2 of 4 fetched"), out.end());
        }
    }
}

// A DELE the server refuses: the message stays, `remaining` counts it, and
// the account's line says the deletion failed.
TEST_F(ConsoleFilterFixture, ARefusedDeletionIsCountedAndSaid) {
    server.behaviour.deleErr = true;
    EXPECT_EQ(run(true, true), 0);
    EXPECT_TRUE(server.removed.empty());
    EXPECT_EQ(out.back(), u"{\"type\":\"summary\",\"remaining\":2}");
    EXPECT_EQ(out[out.size() - 2], u"{\"type\":\"deletion\",\"index\":0,\"section\":\"alice@a\",\"deleted\":0,"
                                   u"\"status\":\"alice@a刪除郵件失敗,郵件仍在主機上\"}");
}

// A decoded subject holding a line break and an escape sequence stays on its
// own row of the table and reaches the terminal as plain characters.
TEST_F(ConsoleFilterFixture, TableRowOfAHostileSubjectStaysOneLine) {
    server.messages = {"From: f@x\r\nSubject: =?utf-8?B?b2sNCiAgW3hdIDIgIDFLQiAgYkB4ICBmYWtlG1sySg==?=\r\n\r\nb\r\n"};
    EXPECT_EQ(run(false, false), 0);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1], u"  [ ] 1  0.1KB  f@x  ok\\x0d\\x0a  [x] 2  1KB  b@x  fake\\x1b[2J  原因:未符合任何過濾規則");
    for (const std::u16string& line : out) {
        EXPECT_EQ(line.find(u'\n'), std::u16string::npos);
        EXPECT_EQ(line.find(u'\x1b'), std::u16string::npos);
    }
}

}  // namespace
}  // namespace iw::test
