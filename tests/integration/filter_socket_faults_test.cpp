// The filter window's POP3 session over this build's real sockets and event
// loop against a scripted POP3 server of our own on loopback: refusals,
// silence, drops in the middle of the TOP stream and of the deletions,
// replies cut anywhere (also inside the terminator), several replies in one
// block and a LIST status line without its line end. Each case checks the
// account's status and tip texts, the rows, and what the server deleted.
//
// The waits of 45, 30, 35 and 8 seconds run on a clock that goes 20 times
// faster than the real one, so a silent server costs about two seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "filter/filter_window.h"
#include "platform/native.h"
#include "tests/support/filter_fakes.h"
#include "tests/support/local_servers.h"
#include "tests/support/loopback_pop3.h"
#include "tests/support/scaled_clock.h"

namespace iw::test {
namespace {

using filter::Control;
using filter::FilterWindow;
using filter::MouseButton;

// Each server takes a port the system hands out: another server on a shared
// machine (another run of these tests, say) may hold any fixed one.
std::uint16_t NextPort() { return 0; }

std::string Message(int id, const std::string& from, const std::string& subject, std::size_t padding = 0) {
    return "From: " + from + "\r\nSubject: " + subject + "\r\nMessage-ID: <m" + std::to_string(id) +
           "@test>\r\n\r\nline one\r\n.dotted line\r\nline three\r\n" + std::string(padding, 'x') + "\r\n";
}

std::u16string U(const std::string& s) { return std::u16string(s.begin(), s.end()); }

struct SocketFaults : ::testing::Test {
    std::unique_ptr<platform::EventLoop> loop = platform::createEventLoop();
    std::unique_ptr<platform::SystemClock> realClock = platform::createSystemClock();
    ScaledClock clock{*realClock, 20};
    std::unique_ptr<platform::Network> net = platform::createNetwork(*loop);
    std::unique_ptr<platform::CodePage> cp = platform::createCodePage();
    StubRegistry registry;
    StubDesktop desktop;
    StubShell shell;
    StubFileStore files;
    platform::Platform plat{*loop, clock, *net, *cp, registry, desktop, shell, files};
    FakeFilterProfile profile;
    ProfileSenderLists senderLists{profile};
    platform::FixedDateFormat dates;
    settings::ProgramState m1;
    RecordingMainLink link;
    RecordingFilterView view;
    LoopbackPop3Server a{NextPort(), "alice", "secret"};
    LoopbackPop3Server b{NextPort(), "bob", "secret"};
    std::unique_ptr<FilterWindow> w;

    SocketFaults() { m1.prefs.options = settings::Options::FromStored(u"011111000100"); }  // the defaults with the black list on

    void SetUp() override {
        ASSERT_TRUE(a.listening());
        ASSERT_TRUE(b.listening());
    }
    void TearDown() override {
        if (w && !w->closed()) w->LogOutWithoutDeleting();
        w.reset();
    }

    // A fresh window over accounts alice@a and bob@b, and its session.
    void runSession(const std::u16string& aliceHost = u"") {
        if (w && !w->closed()) w->LogOutWithoutDeleting();
        w.reset();
        view = RecordingFilterView();
        profile.rosterList.clear();
        profile.addAccount(u"alice@a", u"alice", u"secret", aliceHost.empty() ? a.hostValue() : aliceHost);
        profile.addAccount(u"bob@b", u"bob", u"secret", b.hostValue());
        w = std::make_unique<FilterWindow>(plat, profile, m1, link, view, senderLists, dates);
        w->load();
        w->activated();
    }
    bool sawTip(const std::u16string& t) const {
        return std::find(view.tips.begin(), view.tips.end(), t) != view.tips.end();
    }
    std::vector<std::u16string> subjects(int account) const {
        std::vector<std::u16string> out;
        for (const auto& r : w->accountList(account)) out.push_back(r.Subject);
        return out;
    }
    // bob's one message came through whatever alice's server did.
    void expectBobFetched() {
        ASSERT_EQ(w->accountList(1).size(), 1u);
        EXPECT_EQ(w->accountList(1)[0].Subject, u"bob's");
        EXPECT_EQ(w->account(1).status.rfind(u"信箱(bob@b)有1封新郵件,共有", 0), 0u) << "bob: " << w->account(1).status.size();
        EXPECT_TRUE(w->enabled(Control::Command1));
        EXPECT_TRUE(w->menuEnabled(filter::MenuEntry::Recheck));
    }
};

TEST_F(SocketFaults, FailureRowsBecomeStatusTexts) {
    const std::u16string notConnected = u"alice@a未連上郵件主機(" + a.hostValue() + u")";
    const std::u16string dataError = u"alice@a接收郵件資料錯誤";
    const std::u16string timedOut = u"alice@a接收郵件資料逾時";
    const std::u16string refusedLogin = u"使用者名稱或密碼錯誤!";
    struct Case {
        const char* name;
        LoopbackPop3Script script;
        std::string password;      // alice's password on the server
        std::u16string status;
        std::u16string tip;        // "" when the row leaves the tip as it was
        std::size_t rows;
        const char* lastVerb;      // the last command the server saw ("" for none)
        bool stillConnected;
    };
    auto script = [](auto set) {
        LoopbackPop3Script s;
        set(s);
        return s;
    };
    const Case cases[] = {
        {"-ERR greeting", script([](auto& s) { s.greeting = "-ERR too busy\r\n"; }), "secret", notConnected,
         u"alice@a\r\n\r\n未連上郵件主機...", 0, "", false},
        {"lower-case +ok greeting", script([](auto& s) { s.greeting = "+ok ready\r\n"; }), "secret", notConnected,
         u"alice@a\r\n\r\n未連上郵件主機...", 0, "", false},
        {"silent server", script([](auto& s) { s.noGreeting = true; }), "secret", notConnected,
         u"alice@a\r\n\r\n未連上郵件主機...", 0, "", false},
        // The server lists PIPELINING: PASS went out with USER.
        {"lower-case +ok to USER", script([](auto& s) { s.lowercaseUserOk = true; }), "secret", refusedLogin,
         u"alice@a\r\n\r\n使用者名稱或密碼錯誤!", 0, "PASS", true},
        {"wrong password", script([](auto&) {}), "other", refusedLogin, u"alice@a\r\n\r\n使用者名稱或密碼錯誤!", 0,
         "PASS", true},
        // LIST goes out with STAT, so it is the last command the server saw.
        {"STAT rejected", script([](auto& s) { s.statReply = "-ERR mailbox locked\r\n"; }), "secret", dataError, u"", 0,
         "LIST", true},
        {"no reply to STAT", script([](auto& s) { s.silentFrom = "STAT"; }), "secret", dataError, u"", 0, "LIST", false},
        {"LIST never completes", script([](auto& s) { s.listStatusOnly = true; }), "secret", dataError, u"", 0, "LIST",
         false},
        {"no reply to any TOP", script([](auto& s) { s.silentFrom = "TOP"; }), "secret", timedOut,
         u"alice@a\r\n\r\n接收郵件資料逾時", 0, "NOOP", false},
        // Every TOP went out; the server answers the first, then hangs up in
        // the middle of the second reply: the row parsed so far stays, and
        // the hang-up ends the account at once.
        {"drop inside the TOP stream", script([](auto& s) {
             s.holdTops = 3;
             s.dropAfterTops = 1;
             s.dropPartialBytes = 20;
         }),
         "secret", dataError, u"alice@a\r\n\r\n接收郵件資料錯誤", 1, "TOP", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPop3Server server(NextPort(), "alice", c.password);
        ASSERT_TRUE(server.listening());
        server.setMessages({Message(1, "a@x", "one"), Message(2, "b@x", "two"), Message(3, "c@x", "three")});
        server.setScript(c.script);
        b.setMessages({Message(9, "z@y", "bob's")});
        runSession(server.hostValue());
        const std::u16string status =
            c.status == notConnected ? u"alice@a未連上郵件主機(" + server.hostValue() + u")" : c.status;
        EXPECT_EQ(w->account(0).status, status);
        if (!c.tip.empty()) { EXPECT_TRUE(sawTip(c.tip)); }
        EXPECT_EQ(w->accountList(0).size(), c.rows);
        if (c.rows == 1) { EXPECT_EQ(w->accountList(0)[0].Subject, u"one"); }
        const auto seen = server.commands();
        EXPECT_EQ(seen.empty() ? std::string() : seen.back().substr(0, seen.back().find(' ')), c.lastVerb);
        if (c.stillConnected) {
            EXPECT_EQ(w->socket(0)->state(), platform::SocketState::Connected);
        } else {
            EXPECT_NE(w->socket(0)->state(), platform::SocketState::Connected);
        }
        expectBobFetched();
        // The deletion run deletes nothing on alice's server: nothing was checked.
        w->checkAll();  // checks bob's row, the list shown last
        w->runDeletion();
        EXPECT_TRUE(server.removed().empty());
        EXPECT_EQ(b.removed(), (std::vector<std::string>{"m9@test"}));
        b.clearLog();
    }
}

TEST_F(SocketFaults, RefusedConnectionIsANotConnectedStatus) {
    // Bound and never listening: refused, and no other program can take it.
    auto refusing = HoldRefusingPort();
    ASSERT_TRUE(refusing);
    const std::u16string host = u"127.0.0.1:" + U(std::to_string(refusing->port()));
    b.setMessages({Message(9, "z@y", "bob's")});
    runSession(host);
    EXPECT_EQ(w->account(0).status, u"alice@a未連上郵件主機(" + host + u")");
    EXPECT_TRUE(sawTip(u"alice@a\r\n\r\n未連上郵件主機..."));
    expectBobFetched();
}

TEST_F(SocketFaults, DropWhileTheTopCommandsGoOut) {
    // Far more TOP commands than the connection holds (2.6 MB of them
    // against a 4 KiB receive buffer): the server answers the first and
    // hangs up while the client is still sending.
    LoopbackPop3Server server(NextPort(), "alice", "secret", 4096);
    ASSERT_TRUE(server.listening());
    std::vector<std::string> box;
    for (int k = 1; k <= 200000; ++k) box.push_back("Subject: s" + std::to_string(k) + "\r\n\r\n");
    server.setMessages(box);
    LoopbackPop3Script s;
    s.dropAfterTops = 1;
    server.setScript(s);
    b.setMessages({Message(9, "z@y", "bob's")});
    runSession(server.hostValue());
    EXPECT_EQ(w->account(0).status, u"alice@a接收郵件資料錯誤");
    EXPECT_TRUE(sawTip(u"alice@a\r\n\r\n接收郵件資料錯誤"));
    ASSERT_EQ(w->accountList(0).size(), 1u);
    EXPECT_EQ(w->accountList(0)[0].Subject, u"s1");
    expectBobFetched();
}

TEST_F(SocketFaults, RepliesCutAnywhereAreParsedWholeAndDeleteByNumber) {
    struct Case {
        const char* name;
        LoopbackPop3Script script;
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, auto set) {
        LoopbackPop3Script s;
        set(s);
        cases.push_back({name, s});
    };
    add("whole replies", [](auto&) {});
    add("one byte at a time", [](auto& s) { s.chunk = 1; });
    add("three TOP replies in one block", [](auto& s) { s.holdTops = 3; });
    add("LIST status line without its line end first", [](auto& s) { s.listStatusApart = true; });
    // Cuts inside the second TOP reply: in its "+OK", and at every byte of
    // the terminating CR LF "." CR LF, one at a time and all at once.
    for (int at : {1, 2, 3, -1, -2, -3, -4}) {
        add("TOP reply cut", [at](auto& s) {
            s.splitVerb = "TOP";
            s.splitTop = 2;
            s.splitAt = {at};
        });
    }
    add("TOP reply cut before every terminator byte", [](auto& s) {
        s.splitVerb = "TOP";
        s.splitTop = 2;
        s.splitAt = {-5, -4, -3, -2, -1};
    });
    for (int at : {2, -1, -2, -3}) {
        add("LIST reply cut", [at](auto& s) {
            s.splitVerb = "LIST";
            s.splitAt = {at};
        });
    }
    add("greeting cut", [](auto& s) {
        s.splitVerb = "GREETING";
        s.splitAt = {2, -1};
    });
    add("STAT reply cut", [](auto& s) {
        s.splitVerb = "STAT";
        s.splitAt = {1, 6, -1};
    });
    add("USER reply cut", [](auto& s) {
        s.splitVerb = "USER";
        s.splitAt = {3};
    });

    clock.setFactor(4);  // nothing here should time out, however slowly the pieces come
    profile.listAdd(filter::SenderList::Black, u"junk@x");
    filter::MessageList baseline;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE(std::string(cases[k].name) + " #" + std::to_string(k));
        const std::vector<std::string> box = {Message(1, "Friend <f@x>", "first"), Message(2, "Junk <junk@x>", "second"),
                                              Message(3, "other@x", "third", 5000)};
        a.setMessages(box);
        a.setScript(cases[k].script);
        a.clearLog();
        b.setMessages({Message(9, "z@y", "bob's")});
        runSession();
        EXPECT_EQ(subjects(0), (std::vector<std::u16string>{u"first", u"second", u"third"}));
        EXPECT_EQ(w->account(0).status.rfind(u"信箱(alice@a)有3封新郵件,共有", 0), 0u);
        if (w->accountList(0).size() != 3u) {
            ADD_FAILURE() << "rows: " << w->accountList(0).size();
            continue;
        }
        // Every row as in the first case, whole replies: sender, subject,
        // the size from listing line n, the marks.
        if (k == 0) baseline = w->accountList(0);
        for (std::size_t r = 0; r < 3; ++r) {
            const auto& got = w->accountList(0)[r];
            EXPECT_EQ(got.SenderText, baseline[r].SenderText);
            EXPECT_EQ(got.SizeText, baseline[r].SizeText);
            EXPECT_EQ(got.Checked, baseline[r].Checked);
            EXPECT_EQ(got.TextColor, baseline[r].TextColor);
        }
        EXPECT_EQ(w->accountList(0)[0].SenderText, u"Friend <f@x>");
        EXPECT_NE(w->accountList(0)[0].SizeText, w->accountList(0)[2].SizeText);  // about 0.1 and 5 KB
        EXPECT_FALSE(w->accountList(0)[0].Checked);
        EXPECT_TRUE(w->accountList(0)[1].Checked);  // black-listed
        expectBobFetched();
        w->runDeletion();
        EXPECT_EQ(a.commands("DELE"), (std::vector<std::string>{"DELE 2"}));
        EXPECT_EQ(a.removed(), (std::vector<std::string>{"m2@test"}));
        EXPECT_EQ(a.remaining(), (std::vector<std::string>{"m1@test", "m3@test"}));
    }
}

TEST_F(SocketFaults, RefusedTopInTheMiddleKeepsTheNumbering) {
    // The server answers TOP 2 with -ERR (the message went away meanwhile).
    // Its row stays empty and unchecked; message 3, the junk, is still row 3
    // and the DELE names 3, not 2.
    ASSERT_TRUE(m1.prefs.options.blankSenderIsJunk);  // blank senders count as junk
    profile.listAdd(filter::SenderList::Black, u"junk@x");
    a.setMessages({Message(1, "f@x", "first"), Message(2, "g@x", "second"), Message(3, "junk@x", "third")});
    LoopbackPop3Script s;
    s.errTop = 2;
    a.setScript(s);
    b.setMessages({Message(9, "z@y", "bob's")});
    runSession();
    EXPECT_EQ(w->account(0).status.rfind(u"信箱(alice@a)有3封新郵件,共有", 0), 0u);
    EXPECT_EQ(subjects(0), (std::vector<std::u16string>{u"first", u"", u"third"}));
    ASSERT_EQ(w->accountList(0).size(), 3u);
    EXPECT_FALSE(w->accountList(0)[1].Checked);
    EXPECT_EQ(w->accountList(0)[1].TextColor, filter::RowColor::Default);
    // It says so, rather than the blank sender's rule it did not get.
    EXPECT_EQ(filter::MarkReasonText(w->accountList(0)[1]), u"伺服器沒有送出信件標頭,不判斷");
    EXPECT_TRUE(w->accountList(0)[2].Checked);
    EXPECT_EQ(filter::MarkReasonText(w->accountList(0)[2]), u"黑名單:junk@x");
    expectBobFetched();
    w->runDeletion();
    EXPECT_EQ(a.commands("DELE"), (std::vector<std::string>{"DELE 3"}));
    EXPECT_EQ(a.remaining(), (std::vector<std::string>{"m1@test", "m2@test"}));
}

TEST_F(SocketFaults, DropInTheMiddleOfTheDeletions) {
    profile.listAdd(filter::SenderList::Black, u"junk@x");
    a.setMessages({Message(1, "junk@x", "j1"), Message(2, "junk@x", "j2"), Message(3, "junk@x", "j3"),
                   Message(4, "junk@x", "j4")});
    LoopbackPop3Script s;
    s.dropAtDele = 2;  // DELE 2 is not answered: the server hangs up
    a.setScript(s);
    b.setMessages({Message(8, "junk@x", "bj"), Message(9, "ok@y", "bob's")});
    runSession();
    ASSERT_EQ(w->accountList(0).size(), 4u);
    ASSERT_EQ(w->accountList(1).size(), 2u);
    w->runDeletion();
    // The rest of alice's checked rows are skipped; a drop before QUIT
    // deletes nothing. bob's run goes on.
    EXPECT_EQ(a.commands("DELE"), (std::vector<std::string>{"DELE 1", "DELE 2"}));
    EXPECT_TRUE(a.commands("QUIT").empty());
    EXPECT_TRUE(a.removed().empty());
    EXPECT_EQ(a.remaining().size(), 4u);
    EXPECT_EQ(b.commands("DELE"), (std::vector<std::string>{"DELE 1"}));
    EXPECT_EQ(b.removed(), (std::vector<std::string>{"m8@test"}));
    // Six fetched, one deletion confirmed: alice's four are still there, and
    // the tray tip says her deletion failed.
    EXPECT_EQ(w->remainingAfterRun(), 5);
    EXPECT_EQ(m1.run.StatusText, u"alice@a刪除郵件失敗,郵件仍在主機上");
    EXPECT_TRUE(w->closed());
    EXPECT_FALSE(m1.run.CheckBusy);
}

}  // namespace
}  // namespace iw::test
