// The filter window presenter on the fake loop, clock and network: the
// session's states and failures, the deletion run and countdown, the
// re-check, account switching and the list actions.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "filter/filter_window.h"
#include "pop3/server_memory.h"
#include "platform/native.h"
#include "tests/support/fake_mail_platform.h"
#include "tests/support/fake_network.h"
#include "tests/support/filter_fakes.h"

namespace iw::test {
namespace {

using filter::Control;
using filter::FilterWindow;
using filter::MouseButton;

std::string Message(int id, const std::string& from, const std::string& subject, const std::string& body = "line1\r\nline2\r\nline3\r\nline4\r\n") {
    return "From: " + from + "\r\nSubject: " + subject + "\r\nMessage-ID: <m" + std::to_string(id) +
           "@test>\r\n\r\n" + body;
}

struct FilterFixture : ::testing::Test, FakeMailPlatform {
    FakeFilterProfile profile;
    ProfileSenderLists senderLists{profile};
    platform::FixedDateFormat dates;
    settings::ProgramState m1;
    RecordingMainLink link;
    RecordingFilterView view;
    ScriptedPop3Server a, b;
    std::unique_ptr<FilterWindow> w;

    FilterFixture() {
        net.addHost("mail.a", "127.0.0.1");
        net.addHost("mail.b", "127.0.0.2");
        net.addServer("127.0.0.1", 26110, a);
        net.addServer("127.0.0.2", 26111, b);
        a.user = "alice";
        b.user = "bob";
        m1.prefs.options = settings::Options::FromStored(u"011111000100");  // the defaults with the black list on
    }
    // Black-lists the senders the tests call junk.
    void junk(std::initializer_list<const char16_t*> senders) {
        for (auto s : senders) profile.listAdd(filter::SenderList::Black, s);
    }
    void addA() { profile.addAccount(u"alice@a", u"alice", u"secret", u"mail.a:26110"); }
    void addB() { profile.addAccount(u"bob@b", u"bob", u"secret", u"mail.b:26111"); }
    void open() {
        w = std::make_unique<FilterWindow>(plat, profile, m1, link, view, senderLists, dates);
        w->load();
    }
    void runSession() {
        if (!w) open();
        w->activated();
    }
    std::vector<std::string> sent(const ScriptedPop3Server& s, const std::string& verb) {
        std::vector<std::string> out;
        for (auto& c : s.commands)
            if (c.rfind(verb, 0) == 0) out.push_back(c);
        return out;
    }
    bool sawStatus(const std::u16string& t) {
        return std::find(view.statuses.begin(), view.statuses.end(), t) != view.statuses.end();
    }
};

TEST_F(FilterFixture, SessionFetchesEveryAccountAndLeavesConnectionsOpen) {
    addA();
    addB();
    junk({u"x@spam.com"});
    a.messages = {Message(1, "x <x@spam.com>", "[junk] buy"), Message(2, "Friend <f@ok.org>", "hello")};
    b.messages = {Message(3, "y@b", "hi")};
    runSession();
    ASSERT_EQ(w->accountCount(), 2);
    EXPECT_EQ(w->accountList(0).size(), 2u);
    EXPECT_EQ(w->accountList(1).size(), 1u);
    EXPECT_EQ(w->account(0).status.rfind(u"信箱(alice@a)有2封新郵件,共有", 0), 0u);
    EXPECT_EQ(sent(a, "TOP"), (std::vector<std::string>{"TOP 1 0", "TOP 2 0"}));
    EXPECT_TRUE(sent(a, "QUIT").empty());
    EXPECT_EQ(w->socket(0)->state(), platform::SocketState::Connected);
    EXPECT_TRUE(w->enabled(Control::Command1));
    EXPECT_TRUE(w->menuEnabled(filter::MenuEntry::Recheck));
    EXPECT_EQ(w->shownList(), 2);
    ASSERT_EQ(w->visibleList().size(), 1u);  // the last account's rows
    EXPECT_TRUE(m1.run.CheckBusy);
    EXPECT_EQ(view.tipShown, 1);
    EXPECT_EQ(view.tipClosed, 1);
    EXPECT_FALSE(w->timerEnabled());
}

// Each account's rows take their sizes from that account's own LIST, also
// when the account before it had a longer listing.
TEST_F(FilterFixture, EachAccountReadsSizesFromItsOwnListing) {
    addA();
    addB();
    auto sized = [](int id, std::size_t bytes) {
        std::string m = Message(id, "u@x", "s");
        m.resize(bytes - 2, 'x');
        return m + "\r\n";
    };
    a.messages = {sized(1, 1024), sized(2, 2048), sized(3, 3072)};
    b.messages = {sized(4, 5120), sized(5, 1536)};
    runSession();
    ASSERT_EQ(w->accountList(0).size(), 3u);
    ASSERT_EQ(w->accountList(1).size(), 2u);
    EXPECT_EQ(w->accountList(0)[2].SizeText, u"3KB");
    EXPECT_EQ(w->accountList(1)[0].SizeText, u"5KB");
    EXPECT_EQ(w->accountList(1)[1].SizeText, u"1.5KB");
}

TEST_F(FilterFixture, StatTextsAndBatchDownload) {
    struct Case {
        std::string stat;
        bool batch;
        std::u16string status;
        int tops;
    } cases[] = {
        {"+OK 2 1536\r\n", false, u"信箱(alice@a)有2封新郵件,共有1.5KB...", 2},
        {"+OK 1 1024\r\n", false, u"信箱(alice@a)有1封新郵件,共有1KB...", 1},
        {"+OK 1 2304\r\n", false, u"信箱(alice@a)有1封新郵件,共有2.2KB...", 1},
        {"+OK 500 1024\r\n", true, u"信箱(alice@a)有500封新郵件,共有1KB...", 500},
        {"+OK 501 1024\r\n", true, u"信箱(alice@a)有501封新郵件,共有1KB...先下載前250封", 250},
        {"+OK 501 1024\r\n", false, u"信箱(alice@a)有501封新郵件,共有1KB...", 501},
        {"+OK 0 0\r\n", false, u"信箱(alice@a)沒有新郵件... ", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stat);
        ScriptedPop3Server s;
        s.user = "alice";
        s.behaviour.statReply = c.stat;
        for (int k = 0; k < 501; ++k) s.messages.push_back(Message(k, "a@b", "s"));
        net.addServer("127.0.0.1", 26110, s);
        profile = FakeFilterProfile();
        addA();
        m1.prefs.options = settings::Options::FromStored(c.batch ? u"011011000110" : u"011011000100");
        view = RecordingFilterView();
        w.reset();
        runSession();
        EXPECT_TRUE(sawStatus(c.status));
        EXPECT_EQ(static_cast<int>(sent(s, "TOP").size()), c.tops);
        EXPECT_EQ(sent(s, "LIST").size(), 1u);  // LIST goes with STAT, whatever the count
        if (c.tops == 0) { EXPECT_EQ(w->account(0).status, c.status); }
    }
}

TEST_F(FilterFixture, FailureTable) {
    struct Case {
        const char* name;
        std::function<void(ScriptedPop3Server&, FakeFilterProfile&)> setup;
        std::u16string status;
        std::u16string tip;
    } cases[] = {
        {"unknown host", [](ScriptedPop3Server&, FakeFilterProfile& p) { p.sections[u"alice@a"][u"PoP3"] = u"nowhere"; },
         u"無法查詢主機IP位置", u"無法查詢主機IP位置"},
        {"refused", [](ScriptedPop3Server&, FakeFilterProfile& p) { p.sections[u"alice@a"][u"PoP3"] = u"mail.a:26999"; },
         u"alice@a未連上郵件主機(mail.a:26999)", u"alice@a\r\n\r\n未連上郵件主機..."},
        {"-ERR greeting", [](ScriptedPop3Server& s, FakeFilterProfile&) { s.behaviour.greeting = "-ERR busy\r\n"; },
         u"alice@a未連上郵件主機(mail.a:26110)", u"alice@a\r\n\r\n未連上郵件主機..."},
        {"silent", [](ScriptedPop3Server& s, FakeFilterProfile&) { s.behaviour.silent = true; },
         u"alice@a未連上郵件主機(mail.a:26110)", u"alice@a\r\n\r\n未連上郵件主機..."},
        {"lower-case +ok", [](ScriptedPop3Server& s, FakeFilterProfile&) { s.behaviour.lowercaseUserOk = true; },
         u"使用者名稱或密碼錯誤!", u"alice@a\r\n\r\n使用者名稱或密碼錯誤!"},
        {"wrong password", [](ScriptedPop3Server& s, FakeFilterProfile&) { s.password = "other"; },
         u"使用者名稱或密碼錯誤!", u"alice@a\r\n\r\n使用者名稱或密碼錯誤!"},
        {"STAT rejected", [](ScriptedPop3Server& s, FakeFilterProfile&) { s.behaviour.statReply = "-ERR no\r\n"; },
         u"alice@a接收郵件資料錯誤", u""},
        {"drop in TOP stream", [](ScriptedPop3Server& s, FakeFilterProfile&) { s.behaviour.dropAfterTops = 1; },
         u"alice@a接收郵件資料錯誤", u"alice@a\r\n\r\n接收郵件資料錯誤"},
        {"headers stop", [](ScriptedPop3Server& s, FakeFilterProfile&) { s.behaviour.silentAfterTops = 1; },
         u"alice@a接收郵件資料逾時", u"alice@a\r\n\r\n接收郵件資料逾時"},
        // Once TLS is chosen, no login travels in plain text.
        {"STLS refused", [](ScriptedPop3Server&, FakeFilterProfile& p) { p.sections[u"alice@a"][u"Security"] = u"2"; },
         u"alice@a伺服器不接受STARTTLS加密,未登入", u"alice@a\r\n\r\n伺服器不接受STARTTLS加密,未登入"},
        {"plain server where TLS was due",
         [](ScriptedPop3Server&, FakeFilterProfile& p) { p.sections[u"alice@a"][u"Security"] = u"1"; },
         u"alice@a加密連線失敗,未登入", u"alice@a\r\n\r\n加密連線失敗,未登入"},
        // An OAuth2 account: no token without TLS, and none at all before the sign-in.
        {"OAuth2 without TLS",
         [](ScriptedPop3Server&, FakeFilterProfile& p) { p.sections[u"alice@a"][u"Auth"] = u"1"; },
         u"alice@aOAuth2登入須使用加密連線(SSL/TLS),未送出權杖",
         u"alice@a\r\n\r\nOAuth2登入須使用加密連線(SSL/TLS),未送出權杖"},
        {"OAuth2 never signed in",
         [](ScriptedPop3Server&, FakeFilterProfile& p) {
             p.sections[u"alice@a"][u"Auth"] = u"1";
             p.sections[u"alice@a"][u"Security"] = u"1";
         },
         u"alice@a尚未登入帳號,請在帳號設定中按「登入」", u"alice@a\r\n\r\n尚未登入帳號,請在帳號設定中按「登入」"},
    };
    // No token file is ever found here.
    m1.identity.AppPath = u"/nonexistent-inkwarden-profile/";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPop3Server s;
        s.user = "alice";
        for (int k = 0; k < 3; ++k) s.messages.push_back(Message(k, "a@b", "s"));
        net.addServer("127.0.0.1", 26110, s);
        profile = FakeFilterProfile();
        addA();
        addB();
        b.messages = {Message(9, "z@b", "later")};
        b.commands.clear();
        c.setup(s, profile);
        view = RecordingFilterView();
        w.reset();
        runSession();
        EXPECT_EQ(w->account(0).status, c.status);
        if (!c.tip.empty()) { EXPECT_NE(std::find(view.tips.begin(), view.tips.end(), c.tip), view.tips.end()); }
        // The next account still runs and its list survives.
        EXPECT_EQ(w->accountList(1).size(), 1u);
        EXPECT_TRUE(w->enabled(Control::Command1));
        const std::string name = c.name;
        if (name.rfind("OAuth2", 0) == 0) { EXPECT_TRUE(s.commands.empty()); }  // nothing sent, not even CAPA
        if (name == "-ERR greeting" || name == "STLS refused" || name == "plain server where TLS was due") {
            EXPECT_TRUE(sent(s, "USER").empty());
            EXPECT_TRUE(sent(s, "PASS").empty());
        }
    }
}

TEST_F(FilterFixture, HeaderTimeoutCountsFromLastParsedHeader) {
    addA();
    for (int k = 0; k < 3; ++k) a.messages.push_back(Message(k, "a@b", "s"));
    a.behaviour.topGapMs = 30000;  // headers 30 s apart: 90 s in all, never 35 s without one
    runSession();
    EXPECT_EQ(w->accountList(0).size(), 3u);
    EXPECT_NE(w->account(0).status.find(u"有3封"), std::u16string::npos);
    // With 40 s between headers the wait runs out after the first.
    ScriptedPop3Server s;
    s.user = "alice";
    for (int k = 0; k < 3; ++k) s.messages.push_back(Message(k, "a@b", "s"));
    s.behaviour.topGapMs = 40000;
    net.addServer("127.0.0.1", 26110, s);
    w.reset();
    runSession();
    EXPECT_EQ(w->accountList(0).size(), 0u);
    EXPECT_EQ(w->account(0).status, u"alice@a接收郵件資料逾時");
}

TEST_F(FilterFixture, WaitsEndAcrossMidnight) {
    clock.setTime(23, 59, 40);
    clock.setMonotonicMs(86'380'000);  // the wait clock wraps at the same moment
    addA();
    a.behaviour.silent = true;
    runSession();
    EXPECT_EQ(w->account(0).status, u"alice@a未連上郵件主機(mail.a:26110)");
    EXPECT_LT(clock.secondsSinceMidnight(), 60.0);
}

// The local clock stepped during the header wait (by the time correction,
// the user or daylight saving), again every 10 s: headers 30 s apart still
// all arrive, and with 40 s between them the wait still runs out, after 35 s
// of steady time.
TEST_F(FilterFixture, HeaderWaitIgnoresStepsOfTheLocalClock) {
    const struct {
        const char* name;
        std::function<void(FakeClock&)> step;
    } steps[] = {
        {"back a minute", [](FakeClock& c) { c.stepLocal(-std::chrono::minutes(1)); }},
        {"forward an hour", [](FakeClock& c) { c.stepLocal(std::chrono::hours(1)); }},
        {"to just before midnight", [](FakeClock& c) { c.setTime(23, 59, 55); }},
    };
    addA();
    for (const auto& st : steps) {
        for (int gapMs : {30000, 40000}) {
            SCOPED_TRACE(std::string(st.name) + " " + std::to_string(gapMs));
            ScriptedPop3Server s;
            s.user = "alice";
            for (int k = 0; k < 3; ++k) s.messages.push_back(Message(k, "a@b", "s"));
            s.behaviour.topGapMs = gapMs;
            net.addServer("127.0.0.1", 26110, s);
            w.reset();
            view = RecordingFilterView();
            const platform::TimerId stepper = loop.startTimer(std::chrono::seconds(10), true, [&] { st.step(clock); });
            const std::int64_t start = clock.monotonicMs();
            runSession();
            loop.stopTimer(stepper);
            if (gapMs == 30000) {
                EXPECT_EQ(w->accountList(0).size(), 3u);
                EXPECT_NE(w->account(0).status.find(u"有3封"), std::u16string::npos);
            } else {
                EXPECT_EQ(w->accountList(0).size(), 0u);
                EXPECT_EQ(w->account(0).status, u"alice@a接收郵件資料逾時");
                // The 35 s of the wait, neither fewer nor a day.
                EXPECT_GE(clock.monotonicMs() - start, 35'000);
                EXPECT_LT(clock.monotonicMs() - start, 90'000);
            }
            w.reset();  // before its server goes
        }
    }
}

// The countdown before an automatic deletion run gives the user every second
// it promises, whatever the local clock does meanwhile.
TEST_F(FilterFixture, CountdownIgnoresStepsOfTheLocalClock) {
    profile.options[u"AutoMail"] = u"1";
    addA();
    junk({u"s@x"});
    a.messages = {Message(1, "s@x", "[junk] a"), Message(2, "f@x", "b")};
    runSession();
    ASSERT_TRUE(w->timerEnabled());
    const std::int64_t start = clock.monotonicMs();
    int steps = 0;
    loop.startTimer(std::chrono::milliseconds(2500), true, [&] {
        // Back a minute, forward an hour, across midnight, in turn.
        switch (steps++ % 3) {
            case 0: clock.stepLocal(-std::chrono::minutes(1)); break;
            case 1: clock.stepLocal(std::chrono::hours(1)); break;
            default: clock.setTime(23, 59, 59); break;
        }
    });
    loop.runUntil([&] { return w->closed(); }, std::chrono::minutes(5));
    ASSERT_TRUE(w->closed());
    const std::int64_t took = clock.monotonicMs() - start;
    EXPECT_GE(took, 30'000);
    EXPECT_LE(took, 33'000);
    EXPECT_EQ(sent(a, "DELE"), (std::vector<std::string>{"DELE 1"}));
}

TEST_F(FilterFixture, RepliesSplitAtEveryByteOrBatchedAreParsedWhole) {
    for (std::size_t chunk : {1u, 2u, 3u, 7u}) {
        for (std::size_t batch : {0u, 3u}) {
            SCOPED_TRACE(chunk * 10 + batch);
            ScriptedPop3Server s;
            s.user = "alice";
            for (int k = 0; k < 3; ++k) s.messages.push_back(Message(k, "u" + std::to_string(k) + "@b", "subj" + std::to_string(k)));
            s.behaviour.chunk = chunk;
            s.behaviour.batchTops = batch;
            s.behaviour.listStatusApart = true;
            net.addServer("127.0.0.1", 26110, s);
            profile = FakeFilterProfile();
            addA();
            view = RecordingFilterView();
            w.reset();
            runSession();
            ASSERT_EQ(w->accountList(0).size(), 3u);
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(w->accountList(0)[k].Subject, u"subj" + std::u16string(1, u'0' + k));
            }
            EXPECT_NE(w->accountList(0)[0].SizeText, u"0");  // the listing survived the split status line
        }
    }
}

TEST_F(FilterFixture, PreviewLinesAskForThreeBodyLines) {
    profile.options[u"View"] = u"1";
    addA();
    for (int k = 0; k < 7; ++k) a.messages.push_back(Message(k, "a@b", "s"));
    runSession();
    EXPECT_EQ(sent(a, "TOP").back(), "TOP 7 3");
    EXPECT_TRUE(view.layouts.back().text1Visible);
    w->accountListMouseUp(MouseButton::Left, 0);
    w->messageClicked(0);
    EXPECT_EQ(view.texts[Control::Text1], u"line1\r\nline2\r\nline3\r\n");
}

TEST_F(FilterFixture, EmptyRosterEnablesControlsAndStartsCountdown) {
    profile.options[u"AutoMail"] = u"1";
    runSession();
    EXPECT_EQ(w->accountCount(), 0);
    EXPECT_TRUE(w->enabled(Control::Command1));
    EXPECT_TRUE(w->timerEnabled());
    EXPECT_TRUE(w->label2Visible());
    EXPECT_TRUE(net.lookups.empty());
}

TEST_F(FilterFixture, CountdownSequenceAndRun) {
    profile.options[u"AutoMail"] = u"1";
    addA();
    junk({u"s@x"});
    a.messages = {Message(1, "s@x", "[junk] a"), Message(2, "f@x", "b")};
    runSession();
    ASSERT_TRUE(w->timerEnabled());
    view.label2Texts.clear();
    for (int t = 0; t < 31; ++t) loop.runUntil([] { return false; }, platform::Milliseconds(1000));
    ASSERT_EQ(view.label2Texts.size(), 31u);
    EXPECT_EQ(view.label2Texts[0], u"30 秒後自動執行刪除");
    EXPECT_EQ(view.label2Texts[1], u"29 秒後自動執行刪除");
    EXPECT_EQ(view.label2Texts[30], u"0 秒後自動執行刪除");
    EXPECT_FALSE(w->closed());
    loop.runUntil([&] { return w->closed(); }, platform::Milliseconds(1000));
    EXPECT_TRUE(w->closed());
    EXPECT_EQ(sent(a, "DELE"), (std::vector<std::string>{"DELE 1"}));
    EXPECT_EQ(a.removed, (std::vector<std::size_t>{0}));
}

TEST_F(FilterFixture, CountdownStopEvents) {
    profile.options[u"AutoMail"] = u"1";
    addA();
    a.messages = {Message(1, "s@x", "a"), Message(2, "f@x", "b")};
    struct Case {
        const char* name;
        std::function<void(FilterWindow&)> act;
    } cases[] = {
        {"check change", [](FilterWindow& f) { f.messageChecked(0, true); }},
        {"row click", [](FilterWindow& f) { f.messageClicked(0); }},
        {"account list click", [](FilterWindow& f) { f.accountListMouseUp(MouseButton::Middle, 0); }},
        {"Check3 off", [](FilterWindow& f) { f.autoDeleteClicked(false); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        a.messages = {Message(1, "s@x", "a"), Message(2, "f@x", "b")};
        w.reset();
        view = RecordingFilterView();
        profile.options[u"AutoMail"] = u"1";
        runSession();
        ASSERT_TRUE(w->timerEnabled());
        c.act(*w);
        EXPECT_FALSE(w->timerEnabled());
        EXPECT_FALSE(w->label2Visible());
        loop.runUntil([] { return false; }, platform::Milliseconds(40000));
        EXPECT_FALSE(w->closed());
    }
    // Turning Check3 on again starts afresh from 30.
    w->autoDeleteClicked(true);
    EXPECT_TRUE(w->timerEnabled());
    EXPECT_EQ(w->label2Text(), u"30 秒後自動執行刪除");
    EXPECT_EQ(profile.options[u"AutoMail"], u"1");
}

TEST_F(FilterFixture, DeletionRunDeletesCheckedRowsByMessageNumberAndQuits) {
    addA();
    addB();
    for (int k = 1; k <= 6; ++k) a.messages.push_back(Message(k, k == 4 ? "x <y" : "u@x", "s"));
    b.messages = {Message(10, "v@x", "t")};
    m1.run.Online = true;
    runSession();
    // Message 4 fails to parse ("<" without ">") but keeps its row, so row n
    // stays message n. Check the rows of messages 2 and 5.
    ASSERT_EQ(w->accountList(0).size(), 6u);
    EXPECT_EQ(view.messageBoxes.size(), 1u);
    w->accountListMouseUp(MouseButton::Left, 0);
    w->messageChecked(1, true);
    w->messageChecked(4, true);
    m1.run.NewMailCount = 99;
    w->runDeletion();
    EXPECT_EQ(sent(a, "DELE"), (std::vector<std::string>{"DELE 2", "DELE 5"}));
    EXPECT_EQ(a.removed, (std::vector<std::size_t>{1, 4}));
    EXPECT_EQ(sent(b, "DELE").size(), 0u);
    EXPECT_EQ(sent(b, "QUIT").size(), 1u);
    EXPECT_TRUE(w->closed());
    EXPECT_EQ(view.closedWindow, 1);
    EXPECT_FALSE(m1.run.CheckBusy);
    EXPECT_TRUE(link.enabled[filter::TrayMenuEntry::Exit]);
    EXPECT_TRUE(link.enabled[filter::TrayMenuEntry::CheckNow]);
    EXPECT_EQ(m1.run.NewMailCount, 0);  // reset by the unload
    EXPECT_TRUE(sawStatus(u"切斷信箱(alice@a)的連線中...."));
}

TEST_F(FilterFixture, DeletionRunSkipsAfterDropAndCountsRemaining) {
    addA();
    addB();
    junk({u"u@x", u"v@x"});
    for (int k = 1; k <= 4; ++k) a.messages.push_back(Message(k, "u@x", "[junk]"));
    b.messages = {Message(10, "v@x", "[junk]"), Message(11, "w@x", "ok")};
    a.behaviour.dropAfterDeles = 1;
    runSession();
    w->runDeletion();
    EXPECT_EQ(sent(a, "DELE").size(), 1u);  // the rest skipped after the drop
    EXPECT_TRUE(a.removed.empty());          // a drop before QUIT deletes nothing
    EXPECT_EQ(sent(b, "DELE"), (std::vector<std::string>{"DELE 1"}));
    EXPECT_EQ(b.removed, (std::vector<std::size_t>{0}));
}

// A server that speaks out of turn while the window waits for the user: the
// account is held at once, its line says so, and the deletion run sends it
// no DELE and claims nothing for it.
TEST_F(FilterFixture, ALineNobodyAskedForWhileTheWindowWaitsHoldsTheAccount) {
    addA();
    addB();
    junk({u"u@x"});
    a.messages = {Message(1, "u@x", "[junk]"), Message(2, "ok@x", "hi")};
    b.messages = {Message(3, "u@x", "[junk]")};
    a.behaviour.strayAfterNoop = "+OK DELE 2\r\n";
    a.behaviour.strayAfterNoopMs = 5000;
    runSession();
    ASSERT_EQ(w->accountList(0).size(), 2u);
    EXPECT_TRUE(w->accountList(0)[0].Checked);
    loop.runUntil([] { return false; }, platform::Milliseconds(10000));
    EXPECT_TRUE(w->account(0).held);
    EXPECT_EQ(w->account(0).status, u"alice@a郵件主機回應錯亂,已中斷連線,本信箱不刪除郵件");
    for (const auto& row : w->accountList(0)) EXPECT_FALSE(row.Checked);
    w->runDeletion();
    EXPECT_TRUE(sent(a, "DELE").empty());
    EXPECT_TRUE(a.removed.empty());
    EXPECT_FALSE(w->account(0).deleteFailed);
    EXPECT_EQ(b.removed, (std::vector<std::size_t>{0}));  // the other account is untouched by it
    EXPECT_EQ(w->remainingAfterRun(), 2);
}

// A server without PIPELINING that reads only the first command line of each
// packet and loses the rest. The session keeps a window of commands in
// flight, each in a write of its own, so nothing is lost: every row is the
// message it names, the NOOP proves it, and exactly the junk is deleted. The
// same server listing PIPELINING (wrongly) loses the batched TOPs: the
// account is held and nothing is deleted.
TEST_F(FilterFixture, AServerWithoutPipeliningThatReadsOneLinePerPacketStaysInStep) {
    addA();
    junk({u"u@x"});
    ScriptedPop3Server servers[2];
    for (bool listsPipelining : {false, true}) {
        ScriptedPop3Server& s = servers[listsPipelining ? 1 : 0];
        pop3::ServerMemory::program().clear();  // another server behind the same address
        s.user = "alice";
        net.addServer("127.0.0.1", 26110, s);
        s.behaviour.firstLinePerPacket = true;
        s.behaviour.capa = listsPipelining ? "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n" : "+OK\r\nUSER\r\nTOP\r\n.\r\n";
        for (int k = 1; k <= 40; ++k) s.messages.push_back(Message(k, k % 3 == 0 ? "u@x" : "ok@x", "s"));
        w.reset();
        runSession();
        w->runDeletion();
        EXPECT_TRUE(w->closed());
        if (!listsPipelining) {
            ASSERT_EQ(w->accountList(0).size(), 40u);
            // USER and PASS went one at a time: the server heard both.
            EXPECT_EQ(sent(s, "PASS").size(), 1u);
            std::vector<std::size_t> junkRows;
            for (std::size_t k = 2; k < 40; k += 3) junkRows.push_back(k);
            EXPECT_EQ(s.removed, junkRows);
        } else {
            // USER and PASS in one packet: PASS is lost and the login never ends; nothing deleted.
            EXPECT_TRUE(sent(s, "DELE").empty());
            EXPECT_TRUE(s.removed.empty());
        }
    }
}

// A server that refuses the NOOP after the last TOP gives no proof that its
// replies were in step: the session still ends, the rows stay unchecked and
// no DELE goes out on that account, while the other account deletes.
TEST_F(FilterFixture, RefusedNoopEndsTheSessionWithoutDeletingOnThatAccount) {
    addA();
    addB();
    junk({u"u@x", u"v@x"});
    for (int k = 1; k <= 3; ++k) a.messages.push_back(Message(k, "u@x", "[junk]"));
    b.messages = {Message(10, "v@x", "[junk]")};
    a.behaviour.noopErr = true;
    runSession();
    ASSERT_EQ(w->accountList(0).size(), 3u);
    for (const auto& row : w->accountList(0)) EXPECT_FALSE(row.Checked);
    w->runDeletion();
    EXPECT_TRUE(w->closed());
    EXPECT_TRUE(sent(a, "DELE").empty());
    EXPECT_TRUE(a.removed.empty());
    EXPECT_EQ(b.removed, (std::vector<std::size_t>{0}));
}

TEST_F(FilterFixture, MailProgramStartsWhenEnoughRemain) {
    struct Case {
        int combo;
        std::u16string value;
        bool started;
        std::u16string command;
    } cases[] = {
        {0, u"\"C:\\Program Files\\Mail\\mail.exe\" /mailto:%1", true, u"\"C:\\Program Files\\Mail\\mail.exe\""},
        {1, u"\"C:\\mail.exe\" %1", false, u""},  // 3 needed, 2 remain
        {0, u"abcdef", true, u"abcd"},
        {0, std::u16string(130, u'a') + u".exe", false, u""},
    };
    for (const auto& c : cases) {
        ScriptedPop3Server s;
        s.user = "alice";
        s.messages = {Message(1, "a@b", "x"), Message(2, "a@b", "y")};
        net.addServer("127.0.0.1", 26110, s);
        profile = FakeFilterProfile();
        addA();
        profile.options[u"Open"] = u"1";
        profile.options[u"EMail"] = c.combo == 0 ? u"0" : u"1";
        registry.strings[std::u16string(filter::kMailProgramKey) + u"\\"] = c.value;
        shell.started.clear();
        w.reset();
        runSession();
        w->runDeletion();
        EXPECT_EQ(!shell.started.empty(), c.started);
        if (c.started) { EXPECT_EQ(shell.started[0], c.command); }
    }
}

// The user's close while the session fetches ends it at once and deletes
// nothing (a slow server never holds the window); after the session the
// close is the deletion run.
TEST_F(FilterFixture, CloseDuringSessionEndsItAtOnceAndAfterItRunsTheDeletion) {
    addA();
    a.messages = {Message(1, "a@b", "x")};
    a.behaviour.replyDelayMs = 1000;
    open();
    m1.run.CheckBusy = true;
    const double before = clock.secondsSinceMidnight();
    loop.post([&] { w->closeRequested(); });
    w->activated();
    EXPECT_TRUE(w->closed());
    EXPECT_LT(clock.secondsSinceMidnight() - before, 1.5);
    EXPECT_TRUE(sent(a, "DELE").empty());
    EXPECT_TRUE(a.removed.empty());
    EXPECT_FALSE(m1.run.CheckBusy);
    EXPECT_EQ(view.closedWindow, 1);

    a.behaviour.replyDelayMs = 0;
    w.reset();
    view = RecordingFilterView();
    open();
    w->activated();
    EXPECT_FALSE(w->closed());
    w->closeRequested();
    EXPECT_TRUE(w->closed());
    EXPECT_EQ(sent(a, "QUIT").size(), 1u);
}

// The system ends the session (log-off) while a long procedure waits: the
// window unloads at once, the wait ends without running out, no QUIT is sent
// (so the server deletes nothing), no mail program starts and a re-check
// does not connect again.
TEST_F(FilterFixture, UnloadInsideALongProcedureEndsItQuietly) {
    struct Case {
        const char* name;
        std::function<void(FilterWindow&)> run;
    } cases[] = {
        {"deletion run", [](FilterWindow& f) { f.runDeletion(); }},
        {"re-check", [](FilterWindow& f) { f.mnu_recheck_Click(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPop3Server s;
        s.user = "alice";
        s.messages = {Message(1, "a@b", "x"), Message(2, "a@b", "y")};
        net.addServer("127.0.0.1", 26110, s);
        profile = FakeFilterProfile();
        addA();
        profile.options[u"Open"] = u"1";
        registry.strings[std::u16string(filter::kMailProgramKey) + u"\\"] = u"mail.exe %1";
        shell.started.clear();
        view = RecordingFilterView();
        w.reset();
        runSession();
        ASSERT_EQ(w->accountList(0).size(), 2u);
        w->accountListMouseUp(MouseButton::Left, 0);
        w->messageChecked(0, true);
        s.behaviour.replyDelayMs = 5000;  // the DELE reply is slow in coming
        loop.startTimer(platform::Milliseconds(100), false, [&] { w->unload(); });
        const double before = clock.secondsSinceMidnight();
        c.run(*w);
        EXPECT_TRUE(w->closed());
        EXPECT_LT(clock.secondsSinceMidnight() - before, 1.0);
        EXPECT_EQ(sent(s, "DELE").size(), 1u);
        EXPECT_TRUE(sent(s, "QUIT").empty());
        EXPECT_TRUE(s.removed.empty());
        EXPECT_EQ(s.connections, 1);
        EXPECT_TRUE(shell.started.empty());
        EXPECT_EQ(view.closedWindow, 0);
    }
}

TEST_F(FilterFixture, CheckMirroringOnlyAfterSessionAndNotWhileCopying) {
    addA();
    addB();
    a.messages = {Message(1, "a@b", "x"), Message(2, "a@b", "y")};
    b.messages = {Message(3, "c@d", "z")};
    open();
    bool duringChecked = false;
    b.behaviour.replyDelayMs = 500;
    loop.post([&] {
        // Still in the session: the check stays in the visible list.
        if (!w->visibleList().empty()) w->messageChecked(0, true);
        duringChecked = true;
    });
    w->activated();
    EXPECT_TRUE(duringChecked);
    EXPECT_FALSE(w->accountList(0)[0].Checked);
    // After it: switching shows account 0; a check reaches its list.
    w->accountListMouseUp(MouseButton::Left, 0);
    EXPECT_EQ(w->shownList(), 1);
    ASSERT_EQ(view.rows.size(), 2u);
    w->messageChecked(1, true);
    EXPECT_TRUE(w->accountList(0)[1].Checked);
    // While the copy yields, a check is refused with a status text.
    loop.post([&] { w->messageChecked(0, true); });
    w->accountListMouseUp(MouseButton::Left, 1);
    EXPECT_TRUE(sawStatus(u"資料載入中,請稍等..."));
    EXPECT_FALSE(w->accountList(1)[0].Checked);
}

TEST_F(FilterFixture, AccountMenuReachesTheDialogHooksAndShowsWhatTheyDid) {
    addA();
    a.messages = {Message(1, "f@ok.org", "hello")};
    runSession();
    std::vector<int> modified;
    std::vector<std::u16string> removed;
    bool removeWorks = false;
    int added = 0;
    w->setAccountDialogHooks(filter::AccountDialogHooks{
        [&] { ++added; },
        [&](int row) { modified.push_back(row); },
        [&](const std::u16string& address) {
            removed.push_back(address);
            return removeWorks;
        },
    });
    w->accountListMouseUp(MouseButton::Right, -1);
    w->mail_modify_Click();  // no row selected: nothing
    EXPECT_TRUE(modified.empty());
    w->accountListMouseUp(MouseButton::Right, 0);
    w->mail_add_Click();
    w->mail_modify_Click();
    EXPECT_EQ(added, 1);
    EXPECT_EQ(modified, (std::vector<int>{0}));

    // The dialog moved the account and added one.
    w->AccountModified(0, u"alice@new");
    w->AccountAdded(u"carol", u"carol@c");
    ASSERT_EQ(w->accountRows().size(), 2u);
    EXPECT_EQ(w->accountRows()[0].address, u"alice@new");
    EXPECT_EQ(view.accountAddresses, (std::vector<std::u16string>{u"alice@new", u"carol@c"}));
    EXPECT_EQ(w->accountRows()[1].icon, 3);
    EXPECT_EQ(view.accountRows[1].second, 3);

    // A removal the store refused keeps the row as it was; one that worked marks it.
    w->mail_del_Click();
    EXPECT_EQ(w->accountRows()[0].icon, 1);
    removeWorks = true;
    w->mail_del_Click();
    EXPECT_EQ(removed, (std::vector<std::u16string>{u"alice@new", u"alice@new"}));
    EXPECT_EQ(w->accountRows()[0].icon, 2);
    EXPECT_EQ(view.accountRows[0].second, 2);
    w->mail_del_Click();  // already removed
    EXPECT_EQ(removed.size(), 2u);
}

TEST_F(FilterFixture, SelectAllAndNone) {
    addA();
    a.messages = {Message(1, "a@b", "x"), Message(2, "a@b", "y")};
    runSession();
    w->checkAll();
    EXPECT_TRUE(w->accountList(0)[0].Checked && w->accountList(0)[1].Checked);
    EXPECT_TRUE(view.rows[1].Checked);
    w->uncheckAll();
    EXPECT_FALSE(w->accountList(0)[0].Checked || w->accountList(0)[1].Checked);
}

TEST_F(FilterFixture, LateDataOnAnotherSocketIsNotParsedIntoTheNextAccount) {
    addA();
    addB();
    // a's header comes 40 s after its TOP, when its 35 s wait is over and b
    // is in the middle of its login (b answers 3 s after each command).
    a.messages = {Message(1, "late@a", "late")};
    a.behaviour.topGapMs = 40000;
    b.messages = {Message(2, "b@b", "own")};
    b.behaviour.replyDelayMs = 3000;
    runSession();
    EXPECT_EQ(w->account(0).status, u"alice@a接收郵件資料逾時");
    EXPECT_TRUE(w->accountList(0).empty());
    ASSERT_EQ(w->accountList(1).size(), 1u);
    EXPECT_EQ(w->accountList(1)[0].Subject, u"own");
    // Nothing meant for b was sent on a's socket.
    EXPECT_TRUE(sent(a, "PASS").size() == 1u && sent(a, "STAT").size() == 1u);
    // The deletion run's waits still end on their own replies.
    w->messageChecked(0, true);
    const auto before = clock.nowMs();
    w->runDeletion();
    EXPECT_EQ(b.removed, (std::vector<std::size_t>{0}));
    EXPECT_LT(clock.nowMs() - before, 8000 + 8000);
}

TEST_F(FilterFixture, EndlessReplyEndsTheAccountOnly) {
    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which);
        ScriptedPop3Server s;
        s.user = "alice";
        s.messages = {Message(1, "a@b", "x")};
        if (which == 0)
            s.behaviour.endlessListBytes = 5u << 20;
        else
            s.behaviour.endlessTopBytes = 5u << 20;
        net.addServer("127.0.0.1", 26110, s);
        profile = FakeFilterProfile();
        addA();
        addB();
        b.messages = {Message(2, "b@b", "own")};
        w.reset();
        open();
        pop3::Limits limits;
        limits.multiLine = limits.listing = 2u << 20;
        w->setLimits(limits);
        w->activated();
        EXPECT_EQ(w->account(0).status, u"alice@a郵件主機傳送資料過大,已中斷連線");
        EXPECT_EQ(w->accountList(1).size(), 1u);
    }
}

TEST_F(FilterFixture, MessageNumbersPast16Bits) {
    addA();
    a.behaviour.statReply = "+OK 40000 400000\r\n";
    a.behaviour.silentAfterTops = 0;
    for (int k = 0; k < 40000; ++k) a.messages.push_back("Subject: s\r\n\r\n");
    runSession();
    EXPECT_EQ(sent(a, "TOP").size(), 40000u);
    EXPECT_EQ(sent(a, "TOP").back(), "TOP 40000 0");
}

TEST_F(FilterFixture, RecheckDeletesThenFetchesAnew) {
    profile.options[u"AutoMail"] = u"1";
    addA();
    for (int k = 1; k <= 4; ++k) a.messages.push_back(Message(k, "u@x", "s" + std::to_string(k)));
    runSession();
    ASSERT_TRUE(w->timerEnabled());
    w->accountListMouseUp(MouseButton::Right, 0);
    w->messageChecked(0, true);
    w->messageChecked(2, true);
    w->mnu_recheck_Click();
    EXPECT_EQ(sent(a, "DELE"), (std::vector<std::string>{"DELE 1", "DELE 3"}));
    EXPECT_EQ(a.connections, 2);
    ASSERT_EQ(w->accountList(0).size(), 2u);
    EXPECT_EQ(w->accountList(0)[0].Subject, u"s2");
    EXPECT_FALSE(w->timerEnabled());
    EXPECT_TRUE(w->enabled(Control::Command1));
    EXPECT_TRUE(w->menuEnabled(filter::MenuEntry::Recheck));
    // A host that no longer resolves.
    profile.sections[u"alice@a"][u"PoP3"] = u"gone";
    w->mnu_recheck_Click();
    EXPECT_EQ(w->account(0).status, u"無法查詢主機gone");
    EXPECT_TRUE(w->accountList(0).empty());
}

TEST_F(FilterFixture, ListActionsRemarkSameSender) {
    addA();
    m1.prefs.options = settings::Options::FromStored(u"011111000101");
    junk({u"ann@ab.com"});
    a.messages = {Message(1, "John <jd@x.com>", "a"), Message(2, "jd@x.com", "b"), Message(3, "John <jd@x.com>", "c"),
                  Message(4, "Ann <ann@ab.com>", "[junk] d")};
    runSession();
    w->messageListMouseUp(MouseButton::Right, 0);
    EXPECT_FALSE(w->menuChecked(filter::MenuEntry::BlackAdd));
    w->black_add_Click();
    EXPECT_TRUE(profile.listed(filter::SenderList::Black, u"jd@x.com"));
    EXPECT_TRUE(w->accountList(0)[0].Checked && w->accountList(0)[2].Checked);
    EXPECT_FALSE(w->accountList(0)[1].Checked);  // another text, same address
    // Trusting unchecks, trusting again checks.
    w->trust_add_Click();
    EXPECT_TRUE(profile.listed(filter::SenderList::Trust, u"jd@x.com"));
    EXPECT_FALSE(w->accountList(0)[0].Checked);
    w->trust_add_Click();
    EXPECT_FALSE(profile.listed(filter::SenderList::Trust, u"jd@x.com"));
    EXPECT_TRUE(w->accountList(0)[2].Checked);
    // Domain "x.com" re-marks every sender text holding it.
    w->messageListMouseUp(MouseButton::Right, 1);
    w->add_domain_Click();
    EXPECT_TRUE(profile.listed(filter::SenderList::Domain, u"x.com"));
    EXPECT_TRUE(w->accountList(0)[1].Checked);
    // black_all skips trusted senders.
    profile.listAdd(filter::SenderList::Trust, u"ann@ab.com");
    profile.lists[filter::SenderList::Black].clear();
    w->black_all_Click();
    EXPECT_TRUE(profile.listed(filter::SenderList::Black, u"jd@x.com"));
    EXPECT_FALSE(profile.listed(filter::SenderList::Black, u"ann@ab.com"));
    // Both marks show for a sender on both lists.
    profile.listAdd(filter::SenderList::Black, u"ann@ab.com");
    w->messageListMouseUp(MouseButton::Right, 3);
    EXPECT_TRUE(w->menuChecked(filter::MenuEntry::BlackAdd));
    EXPECT_TRUE(w->menuChecked(filter::MenuEntry::TrustAdd));
    // No menu for the left button.
    const auto menus = view.menusShown.size();
    w->messageListMouseUp(MouseButton::Left, 0);
    EXPECT_EQ(view.menusShown.size(), menus);
}

TEST_F(FilterFixture, BlankSenderBlackListShowsMessage) {
    addA();
    a.messages = {"Subject: none\r\n\r\nbody\r\n"};
    runSession();
    w->messageListMouseUp(MouseButton::Right, 0);
    w->black_add_Click();
    ASSERT_EQ(view.messageBoxes.size(), 1u);
    EXPECT_EQ(view.messageBoxes[0], u"請設定寄信者空白\r\n視為垃圾郵件!");
    EXPECT_TRUE(profile.lists[filter::SenderList::Black].empty());
}

TEST_F(FilterFixture, LoadOptionsLayoutAndUnload) {
    profile.options[u"ColumnWidth"] = u"100,200,300";
    profile.options[u"EMail"] = u"-3";
    profile.options[u"Size"] = u"99999";
    open();
    EXPECT_EQ(view.widths[0], 2440);
    EXPECT_EQ(w->comboPosition(), 3);
    EXPECT_EQ(w->sizeLimitKB(), 32767);
    EXPECT_FALSE(link.enabled[filter::TrayMenuEntry::Exit]);
    EXPECT_TRUE(link.enabled[filter::TrayMenuEntry::Preview]);
    w->resized(8000, 5000, false);
    EXPECT_EQ(view.outerSizes.back(), (std::pair<int, int>{8205, 6285}));
    w->resized(10000, 7000, false);
    EXPECT_EQ(view.layouts.back().listView2, (filter::TwipRect{60, 1300, 9855, 4840}));
    EXPECT_EQ(view.layouts.back().command1.left, 10000 - 810 - 960);
    view.widths = {2440.063, 3080.126, 1440, 1950.236, 1440};
    w->unload();
    EXPECT_EQ(profile.options[u"ColumnWidth"], u"2440.063,3080.126,1440,1950.236");
    profile.options[u"ColumnWidth"] = u"100,200,300,400";
    w = std::make_unique<FilterWindow>(plat, profile, m1, link, view, senderLists, dates);
    w->load();
    EXPECT_EQ(view.widths[3], 400);
}

TEST_F(FilterFixture, AutoOpenedWindowStartsOnFirstTick) {
    m1.run.AutoOpened = true;
    addA();
    a.messages = {Message(1, "a@b", "x")};
    open();
    EXPECT_EQ(view.centred, 1);
    EXPECT_FALSE(w->useProgressTip());
    w->activated();  // no session from an activation
    EXPECT_EQ(a.connections, 0);
    loop.runUntil([&] { return w->enabled(Control::Command1); }, platform::Milliseconds(5000));
    EXPECT_EQ(a.connections, 1);
    EXPECT_FALSE(m1.run.AutoOpened);
    EXPECT_EQ(view.tipShown, 0);  // the parser sets the tip's label, but the tip stays hidden
}

// A network whose sockets cannot be created: the run-time failure of the
// session ends it at the account in hand with a message box.
class NoSocketNetwork : public FakeNetwork {
public:
    using FakeNetwork::FakeNetwork;
    std::unique_ptr<platform::TcpSocket> createTcp() override { return nullptr; }
};

TEST_F(FilterFixture, RunTimeFailureEndsTheSessionWithAMessageBox) {
    NoSocketNetwork broken{loop, clock};
    platform::Platform p{loop, clock, broken, *cp, registry, desktop, shell, files};
    profile.options[u"AutoMail"] = u"1";
    addA();
    addB();
    w = std::make_unique<FilterWindow>(p, profile, m1, link, view, senderLists, dates);
    w->load();
    w->activated();
    ASSERT_EQ(view.messageBoxes.size(), 1u);
    EXPECT_EQ(view.messageBoxes[0].find(u"Check\r\n"), 1u);  // the error number, then the tag
    EXPECT_EQ(w->account(0).status, u"接收帳號(alice@a)失敗!..");
    EXPECT_TRUE(sawStatus(u"接收帳號(alice@a)失敗!.."));
    EXPECT_EQ(w->shownList(), 1);
    EXPECT_EQ(view.tipClosed, 1);
    EXPECT_TRUE(w->enabled(Control::Command1));
    EXPECT_TRUE(w->menuEnabled(filter::MenuEntry::Recheck));
    EXPECT_FALSE(w->timerEnabled());  // no countdown after a failed session
    EXPECT_TRUE(a.commands.empty() && b.commands.empty());
}

}  // namespace
}  // namespace iw::test
