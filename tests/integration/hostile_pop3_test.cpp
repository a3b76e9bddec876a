// A hostile POP3 server against the filter session and the deletion run,
// over this build's real sockets: replies out of step, lying listings and
// counts, refused or uncommitted deletions, huge or endless data. Each case
// is checked by message identity: the messages gone from the server after the
// deletion run are exactly those the rules mark by their content, or none at
// all when the server's replies could not be trusted; never another one.
//
// The mailbox: a trusted friend's small note, two messages from a black-listed
// sender, a plain small one and a big one over the size limit. The rules
// mark m2, m4 and m5.
//
// The waits run on a clock 20 times faster than the real one.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "filter/filter_window.h"
#include "platform/native.h"
#include "tests/support/filter_fakes.h"
#include "tests/support/loopback_pop3.h"
#include "tests/support/scaled_clock.h"

namespace iw::test {
namespace {

using filter::FilterWindow;
using Ids = std::set<std::string>;

// Each server takes a port the system hands out: another server on a shared
// machine may hold any fixed one.
std::uint16_t NextPort() { return 0; }

std::string Message(int id, const std::string& from, const std::string& subject, std::size_t padding = 0) {
    return "From: " + from + "\r\nSubject: " + subject + "\r\nMessage-ID: <m" + std::to_string(id) +
           "@test>\r\n\r\nbody\r\n" + std::string(padding, 'x') + "\r\n";
}

const std::vector<std::string> kBox = {
    Message(1, "friend@x", "hello"),      Message(2, "junk@x", "junk one"),
    Message(3, "ok@y", "plain"),          Message(4, "big@y", "big", 60 * 1024),
    Message(5, "junk@x", "junk two"),
};
const Ids kMarked = {"m2@test", "m4@test", "m5@test"};

// The TOP reply the server would give for message n.
std::string TopReply(int n) {
    const std::string& m = kBox[static_cast<std::size_t>(n - 1)];
    return "+OK\r\n" + m.substr(0, m.find("\r\n\r\n") + 2) + "\r\n.\r\n";
}

// The LIST body lines of the mailbox, "n size" each.
std::vector<std::string> ListLines() {
    std::vector<std::string> out;
    for (std::size_t k = 0; k < kBox.size(); ++k) out.push_back(std::to_string(k + 1) + " " + std::to_string(kBox[k].size()));
    return out;
}

std::string ListReply(const std::vector<std::string>& lines) {
    std::string t = "+OK\r\n";
    for (const auto& l : lines) t += l + "\r\n";
    return t + ".\r\n";
}

struct Hostile : ::testing::Test {
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
    std::unique_ptr<FilterWindow> w;

    Hostile() {
        m1.prefs.options = settings::Options::FromStored(u"011111000100");  // black list, size limit and blank sender on
        profile.listAdd(filter::SenderList::Black, u"junk@x");
        profile.listAdd(filter::SenderList::Trust, u"friend@x");
    }
    void TearDown() override {
        if (w && !w->closed()) w->LogOutWithoutDeleting();
        w.reset();
    }
};

struct Case {
    const char* name;
    std::function<void(LoopbackPop3Script&)> script;
    Ids removed;               // what must be gone afterwards
    bool held;                 // the account went out of step: rows unchecked and not checkable
    std::u16string user;
    std::size_t lineLimit, replyLimit;  // lowered limits (0: the program's own)
    bool quick;                // must end well before any wait runs out
    std::u16string statusHas;  // a part of the account's status afterwards
    Case(const char* n, std::function<void(LoopbackPop3Script&)> s, Ids r, bool h = false, std::u16string u = u"alice",
         std::size_t line = 0, std::size_t reply = 0, bool q = false, std::u16string status = u"")
        : name(n), script(std::move(s)), removed(std::move(r)), held(h), user(std::move(u)), lineLimit(line),
          replyLimit(reply), quick(q), statusHas(std::move(status)) {}
};

std::string Tampered(const std::string& cmd, const std::string& reply, const std::string& which,
                     const std::function<std::string(const std::string&)>& f) {
    return cmd == which ? f(reply) : reply;
}

TEST_F(Hostile, OnlyTheMessagesTheRulesMarkAreEverDeleted) {
    const std::u16string outOfStep = u"郵件主機回應錯亂,已中斷連線,本信箱不刪除郵件";
    const std::u16string tooLarge = u"郵件主機傳送資料過大,已中斷連線";
    const std::u16string deleteFailed = u"刪除郵件失敗,郵件仍在主機上";
    auto tamper = [](std::string which, std::function<std::string(const std::string&)> f) {
        return [which, f](LoopbackPop3Script& s) {
            s.tamper = [which, f](const std::string& cmd, const std::string& reply) { return Tampered(cmd, reply, which, f); };
        };
    };
    const std::vector<Case> cases = {
        {"in step", [](auto&) {}, kMarked},
        {"every reply one byte at a time", [](auto& s) { s.chunk = 1; }, kMarked},
        {"a TOP reply before any TOP was asked for",
         tamper("LIST", [](const std::string& r) { return r + TopReply(2); }), {}, true, u"alice", 0, 0, false, outOfStep},
        {"one reply too many in the middle",
         tamper("TOP 2 0", [](const std::string& r) { return r + TopReply(1); }), {}, true, u"alice", 0, 0, false, outOfStep},
        {"a TOP reply without its status line",
         tamper("TOP 3 0", [](const std::string& r) { return r.substr(r.find("\r\n") + 2); }), {}, true, u"alice", 0, 0,
         false, outOfStep},
        {"a bare dot line, then a line starting with '-'",
         tamper("TOP 2 0", [](const std::string& r) { return "+OK\r\nX-A: 1\r\n.\r\n-- sig\r\n" + r.substr(5); }), {},
         true, u"alice", 0, 0, false, outOfStep},
        {"a bare dot line, then a line starting with '+OK'",
         tamper("TOP 2 0", [](const std::string& r) { return "+OK\r\nX-A: 1\r\n.\r\n+OK said the text\r\n" + r.substr(5); }),
         {}, true, u"alice", 0, 0, false, outOfStep},
        {"a TOP never answered", tamper("TOP 3 0", [](const std::string&) { return std::string(); }), {}, true},
        {"LIST in another order",
         tamper("LIST",
                [](const std::string&) {
                    auto l = ListLines();
                    std::reverse(l.begin(), l.end());
                    return ListReply(l);
                }),
         kMarked},
        {"LIST names a message twice and hides another",
         tamper("LIST",
                [](const std::string&) {
                    auto l = ListLines();
                    l[0] = l[3];
                    return ListReply(l);
                }),
         {}, true, u"alice", 0, 0, false, outOfStep},
        {"LIST hides a message",
         tamper("LIST",
                [](const std::string&) {
                    auto l = ListLines();
                    l.erase(l.begin() + 3);
                    return ListReply(l);
                }),
         {"m2@test", "m5@test"}},
        {"STAT announces 2,147,483,647 messages", [](auto& s) { s.statReply = "+OK 2147483647 1000\r\n"; }, kMarked},
        {"STAT announces fewer than LIST names", [](auto& s) { s.statReply = "+OK 3 1000\r\n"; }, {"m2@test"}},
        {"STAT says -5", [](auto& s) { s.statReply = "+OK -5 0\r\n"; }, {}},
        {"a DELE answered -ERR", [](auto& s) { s.errDele = 4; }, {"m2@test", "m5@test"}, false, u"alice", 0, 0, false,
         deleteFailed},
        {"QUIT answered -ERR", [](auto& s) { s.quitErr = true; }, {}, false, u"alice", 0, 0, false, deleteFailed},
        {"a hang-up between the DELEs and QUIT", [](auto& s) { s.dropAtDele = 3; }, {}, false, u"alice", 0, 0, false,
         deleteFailed},
        {"a user name in Chinese", [](auto&) {}, kMarked, false, u"測試"},
        {"a greeting longer than the limit", [](auto& s) { s.greeting = "+OK " + std::string(5000, 'x') + "\r\n"; }, {},
         false, u"alice", 1024, 0, true, tooLarge},
        {"a greeting of carriage returns without a line feed",
         [](auto& s) { s.greeting = "+OK " + std::string(5000, '\r'); }, {}, false, u"alice", 1024, 0, true, tooLarge},
        {"header replies larger than the limit",
         tamper("TOP 1 0", [](const std::string& r) { return r.substr(0, r.size() - 3) + std::string(300000, 'h') + "\r\n.\r\n"; }),
         {}, false, u"alice", 0, 100000, true, tooLarge},
        {"a LIST reply without its status line",
         tamper("LIST", [](const std::string& r) { return r.substr(r.find("\r\n") + 2); }), {}, true, u"alice", 0, 0,
         true, outOfStep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string user = cp->fromUtf16(platform::kBig5, c.user);
        LoopbackPop3Server server(NextPort(), user, "secret");
        ASSERT_TRUE(server.listening());
        server.setMessages(kBox);
        LoopbackPop3Script script;
        c.script(script);
        server.setScript(script);
        profile.rosterList.clear();
        profile.addAccount(u"alice@a", c.user, u"secret", server.hostValue());
        view = RecordingFilterView();
        w = std::make_unique<FilterWindow>(plat, profile, m1, link, view, senderLists, dates);
        if (c.lineLimit || c.replyLimit) {
            pop3::Limits limits;
            if (c.lineLimit) limits.line = c.lineLimit;
            if (c.replyLimit) limits.multiLine = c.replyLimit;
            w->setLimits(limits);
        }
        w->load();
        // A case that must end at once runs at the real rate, so only a
        // limit (not a slow, loaded machine) can take it past 30 s; the
        // others wait out limits and run 20 times faster.
        clock.setFactor(c.quick ? 1 : 20);
        const double start = clock.monotonicSeconds();
        w->activated();
        const double took = clock.monotonicSeconds() - start;
        if (c.quick) { EXPECT_LT(took, 30.0) << "waited for a limit instead of ending at once"; }
        if (!c.statusHas.empty()) {
            // Deletion texts come later; the others stand after the session.
            if (c.statusHas != deleteFailed) {
                EXPECT_NE(w->account(0).status.find(c.statusHas), std::u16string::npos);
            }
        }
        EXPECT_NE(w->account(0).status, u"使用者名稱或密碼錯誤!");
        if (c.held) {
            EXPECT_TRUE(w->account(0).held);
            for (const auto& row : w->accountList(0)) EXPECT_FALSE(row.Checked);
            // Not checkable either, by hand or by the buttons.
            if (!w->visibleList().empty()) {
                w->messageChecked(0, true);
                w->checkAll();
                for (const auto& row : w->accountList(0)) EXPECT_FALSE(row.Checked);
                for (const auto& row : w->visibleList()) EXPECT_FALSE(row.Checked);
            }
        }
        w->runDeletion();
        const auto removed = server.removed();
        const Ids gone(removed.begin(), removed.end());
        for (const auto& id : gone) EXPECT_TRUE(kMarked.count(id)) << "deleted unmarked " << id;
        EXPECT_EQ(gone, c.removed);
        if (c.held) { EXPECT_TRUE(server.commands("DELE").empty()); }
        // The count left is what is really left, never below zero.
        const std::int32_t fetched = w->account(0).count;
        EXPECT_EQ(w->remainingAfterRun(), std::max<std::int32_t>(0, fetched - static_cast<std::int32_t>(gone.size())));
        EXPECT_GE(w->remainingAfterRun(), 0);
        if (c.statusHas == deleteFailed) { EXPECT_EQ(m1.run.StatusText, u"alice@a" + deleteFailed); }
        m1.run.StatusText.clear();
    }
}

// Row n takes the size LIST gives for the message it stands for, whatever
// order LIST names them in, so a friend's small note never gets the size of
// the big message.
TEST_F(Hostile, ListInAnotherOrderKeepsEachMessagesSize) {
    LoopbackPop3Server server(NextPort(), "alice", "secret");
    ASSERT_TRUE(server.listening());
    server.setMessages(kBox);
    LoopbackPop3Script script;
    script.tamper = [](const std::string& cmd, const std::string& reply) {
        if (cmd != "LIST") return reply;
        auto l = ListLines();
        std::rotate(l.begin(), l.begin() + 2, l.end());
        return ListReply(l);
    };
    server.setScript(script);
    profile.addAccount(u"alice@a", u"alice", u"secret", server.hostValue());
    w = std::make_unique<FilterWindow>(plat, profile, m1, link, view, senderLists, dates);
    w->load();
    w->activated();
    ASSERT_EQ(w->accountList(0).size(), 5u);
    EXPECT_EQ(w->accountList(0)[0].Subject, u"hello");
    EXPECT_EQ(w->accountList(0)[0].SizeText, u"0.1KB");
    EXPECT_FALSE(w->accountList(0)[0].Checked);
    EXPECT_EQ(w->accountList(0)[3].SizeText.substr(0, 3), u"60.");
    EXPECT_TRUE(w->accountList(0)[3].Checked);
    // Logged out before the server goes away, which waits for its connections.
    w->LogOutWithoutDeleting();
    w.reset();
}

}  // namespace
}  // namespace iw::test

namespace iw::test {
namespace {

// The deletion run sends every DELE of an account back to back and awaits
// the replies together; QUIT follows only once each DELE is answered. A
// silent server costs the 8-second wait once, not once per message.
TEST_F(Hostile, DeletionsGoOutTogetherAndCountOnlyWhatTheServerConfirmed) {
    std::vector<std::string> box;
    Ids junk;
    for (int k = 1; k <= 40; ++k) {
        const bool isJunk = k % 3 == 0;
        box.push_back(Message(k, isJunk ? "junk@x" : "ok@y", "s" + std::to_string(k)));
        if (isJunk) junk.insert("m" + std::to_string(k) + "@test");
    }
    struct Case {
        const char* name;
        std::function<void(LoopbackPop3Script&)> script;
        Ids removed;
        double maxSeconds;  // on the program's clock
    };
    const std::vector<Case> cases = {
        {"all answered", [](auto&) {}, junk, 8},
        {"some answered -ERR", [](auto& s) { s.errDele = 9; }, [&] {
             Ids r = junk;
             r.erase("m9@test");
             return r;
         }(), 8},
        {"a hang-up halfway", [](auto& s) { s.dropAtDele = 7; }, {}, 8},
        // A server that answers no DELE before it has read them all: only a
        // client that sent them together gets its deletions done.
        {"replies held until every DELE has come",
         [&](auto& s) {
             auto held = std::make_shared<std::pair<std::size_t, std::string>>();
             const std::size_t all = junk.size();
             s.tamper = [held, all](const std::string& cmd, const std::string& r) {
                 if (cmd.rfind("DELE", 0) != 0) return r;
                 held->second += r;
                 return ++held->first < all ? std::string() : std::exchange(held->second, {});
             };
         },
         junk, 8},
        {"no DELE answered",
         [](auto& s) {
             s.tamper = [](const std::string& cmd, const std::string& r) { return cmd.rfind("DELE", 0) == 0 ? std::string() : r; };
         },
         {}, 8 + 8 + 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPop3Server server(NextPort(), "alice", "secret");
        ASSERT_TRUE(server.listening());
        server.setMessages(box);
        LoopbackPop3Script script;
        c.script(script);
        server.setScript(script);
        profile.rosterList.clear();
        profile.addAccount(u"alice@a", u"alice", u"secret", server.hostValue());
        w = std::make_unique<FilterWindow>(plat, profile, m1, link, view, senderLists, dates);
        w->load();
        w->activated();
        ASSERT_EQ(w->accountList(0).size(), box.size());
        // The cases that need no limit run at the real rate (so a slow,
        // loaded machine cannot take them past it); the one that waits out
        // its limits runs 20 times faster.
        clock.setFactor(c.maxSeconds > 8 ? 20 : 1);
        const double start = clock.monotonicSeconds();
        w->runDeletion();
        EXPECT_LT(clock.monotonicSeconds() - start, c.maxSeconds);
        clock.setFactor(20);
        const auto removed = server.removed();
        EXPECT_EQ(Ids(removed.begin(), removed.end()), c.removed);
        EXPECT_EQ(w->remainingAfterRun(), static_cast<std::int32_t>(box.size() - c.removed.size()));
        if (c.removed != junk) { EXPECT_EQ(m1.run.StatusText, u"alice@a刪除郵件失敗,郵件仍在主機上"); }
        m1.run.StatusText.clear();
        if (std::string(c.name) != "a hang-up halfway") { EXPECT_EQ(server.commands("DELE").size(), junk.size()); }
        if (c.removed.empty()) {
            // No QUIT after a DELE that went unanswered or a hang-up.
            EXPECT_TRUE(server.commands("QUIT").empty());
        }
    }
}

}  // namespace
}  // namespace iw::test
