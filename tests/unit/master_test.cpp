// The main window's presenter on the fake loop and clock: the tray menu and
// its commands, the connection monitor, the background check's dialogue and
// status texts, the threshold, and the time correction.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/sntp.h"
#include "settings/time_servers.h"
#include "app/tray_texts.h"
#include "pop3/capabilities.h"
#include "pop3/server_memory.h"
#include "tests/support/tray_rig.h"

namespace iw::app {
namespace {

using namespace std::chrono_literals;
using test::TrayPop3Peer;

std::string narrow(const std::u16string& s) {
    std::string r;
    for (char16_t c : s) r += c < 0x80 ? static_cast<char>(c) : '?';
    return r;
}

class MasterTest : public ::testing::Test {
protected:
    test::TrayRig rig;
    std::unique_ptr<MasterPresenter> master;
    std::vector<bool> toolbarSwitches;

    void load(MasterConfig config = {}) {
        MasterHooks hooks;
        hooks.toolbarButtonSwitched = [this](bool on) { toolbarSwitches.push_back(on); };
        master = std::make_unique<MasterPresenter>(rig.platform, rig.store, rig.state, rig.view, &rig.opener,
                                                   hooks, config);
        master->load();
    }
    void runFor(platform::Milliseconds d) {
        rig.loop.runUntil([] { return false; }, d);
    }
    // One account on 127.0.0.1:<port> answering as `peer`.
    TrayPop3Peer& account(const std::u16string& user, std::uint16_t port, TrayPop3Peer peer) {
        const std::u16string address = user + u"@example.com";
        rig.addAccount(address, user, u"pw", u"127.0.0.1:" + rig.codePage->toUtf16(950, std::to_string(port)));
        return rig.network.addPop3Peer("127.0.0.1", port, std::move(peer));
    }
    TrayPop3Peer& goodAccount(const std::u16string& user, std::uint16_t port, int count) {
        return account(user, port, test::MakeTrayPop3Peer(narrow(user), "pw", count));
    }
    bool enabled(MenuCommand c) { return master->findItem(c)->enabled; }
};

// ---------------------------------------------------------------------------
// Load, menu model and commands.

TEST_F(MasterTest, LoadBuildsIconAndMenu) {
    rig.set(u"tester", u"Max", u"-1");
    rig.set(u"tester", u"Set", u"0");
    rig.set(u"ShowIE", u"Value", u"1");
    load();
    EXPECT_TRUE(rig.view.iconShown);
    EXPECT_EQ(rig.view.tip, u"Inkwarden即時監視中..");
    EXPECT_EQ(rig.view.picture, TrayPicture::Program);

    const auto& m = rig.view.menu;
    ASSERT_EQ(m.size(), 10u);
    EXPECT_TRUE(m[0].ownerDrawn);
    EXPECT_EQ(m[1].caption, u"偏好設定");
    EXPECT_TRUE(m[1].isDefault);
    EXPECT_TRUE(m[1].columnBreak);
    const std::u16string captions[] = {u"", u"偏好設定", u"郵件預覽...", u"立即檢查郵件", u"暫停檢查郵件",
                                       u"", u"視窗管理", u"", u"關於....", u"結束"};
    for (std::size_t i = 0; i < m.size(); ++i) EXPECT_EQ(m[i].caption, captions[i]) << i;
    EXPECT_EQ(m[5].command, MenuCommand::Separator);
    EXPECT_EQ(m[7].command, MenuCommand::Separator);
    for (MenuCommand c : {MenuCommand::Preview, MenuCommand::Imm, MenuCommand::Pause})
        EXPECT_FALSE(rig.view.item(c)->enabled);
    EXPECT_TRUE(rig.view.item(MenuCommand::Pause)->checkable);
    ASSERT_EQ(m[6].submenu.size(), 5u);
    const std::u16string sub[] = {u"關閉 IE 視窗", u"最小化視窗", u"攔截廣告視窗", u"最大化IE 視窗", u"整合至 IE 視窗"};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(m[6].submenu[i].caption, sub[i]);
    EXPECT_TRUE(rig.view.item(MenuCommand::Max)->checked);
    EXPECT_FALSE(rig.view.item(MenuCommand::Pop)->checked);
    EXPECT_TRUE(rig.view.item(MenuCommand::Ie)->checked);
    EXPECT_EQ(MasterPresenter::sideBarHeight(18), 144);
}

TEST_F(MasterTest, PreferencesPickListEntries) {
    struct Case {
        const char16_t *check, *value;
        int interval, threshold;
    } cases[] = {
        {nullptr, nullptr, 3, 1}, {u"0", u"0", 3, 1}, {u"2", u"2", 10, 5},
        {u"9", u"5", 480, 30},    {u"10", u"6", 3, 1}, {u"-1", u"abc", 3, 1},
    };
    for (const Case& c : cases) {
        test::TrayRig r;
        if (c.check) r.set(u"tester", u"Check", c.check);
        if (c.value) r.set(u"tester", u"Value", c.value);
        r.set(u"tester", u"AD-PoP", u"60");
        ReadMasterPreferences(r.store, r.state);
        EXPECT_EQ(r.state.prefs.CheckIntervalMinutes, c.interval);
        EXPECT_EQ(r.state.prefs.OpenThreshold, c.threshold);
        EXPECT_DOUBLE_EQ(r.state.prefs.PopupRatio, 0.6);
    }
}

TEST_F(MasterTest, StoredMarksToggleAndWrite) {
    load();
    struct Case {
        MenuCommand command;
        std::u16string section, key;
    } cases[] = {{MenuCommand::Pop, u"tester", u"Set"},
                 {MenuCommand::Max, u"tester", u"Max"},
                 {MenuCommand::Ie, u"ShowIE", u"Value"}};
    for (const Case& c : cases) {
        master->menuCommand(c.command);
        EXPECT_TRUE(rig.view.item(c.command)->checked);
        EXPECT_EQ(rig.store.read(settings::IniFile::Set, c.section, c.key, u""), u"-1");
        master->menuCommand(c.command);
        EXPECT_FALSE(rig.view.item(c.command)->checked);
        EXPECT_EQ(rig.store.read(settings::IniFile::Set, c.section, c.key, u""), u"0");
    }
    EXPECT_EQ(toolbarSwitches, (std::vector<bool>{true, false}));
}

TEST_F(MasterTest, CommandsReachTheirTargets) {
    load();
    master->menuCommand(MenuCommand::Mail);
    master->menuCommand(MenuCommand::About);
    master->menuCommand(MenuCommand::Small);
    EXPECT_EQ(rig.view.calls, (std::vector<std::string>{"addTrayIcon", "showSettingsDialog", "showAbout",
                                                        "minimizeAllWindows"}));
    // Disabled entries do nothing.
    master->menuCommand(MenuCommand::Preview);
    master->menuCommand(MenuCommand::Imm);
    EXPECT_EQ(rig.opener.shown, 0);
    EXPECT_FALSE(master->timer2Enabled());
    master->setMenuEnabled(MenuCommand::Preview, true);
    master->setMenuEnabled(MenuCommand::Imm, true);
    master->menuCommand(MenuCommand::Preview);
    master->menuCommand(MenuCommand::Imm);
    EXPECT_EQ(rig.opener.shown, 1);
    EXPECT_TRUE(master->timer2Enabled());
}

TEST_F(MasterTest, PauseTogglesAndIsNotStored) {
    load();
    master->setMenuEnabled(MenuCommand::Pause, true);
    master->menuCommand(MenuCommand::Pause);
    EXPECT_TRUE(master->paused());
    EXPECT_TRUE(rig.view.item(MenuCommand::Pause)->checked);
    master->menuCommand(MenuCommand::Pause);
    EXPECT_FALSE(master->paused());
    EXPECT_FALSE(rig.view.item(MenuCommand::Pause)->checked);
}

TEST_F(MasterTest, LeftClickHidesAndShowsBrowserFramesAndExitRestoresThem) {
    const auto frame = rig.desktop.add(u"IEFrame", u"");
    const auto folder = rig.desktop.add(u"CabinetWClass", u"");
    load();
    master->TrayCallback(kMouseLeftDown);
    EXPECT_TRUE(rig.state.run.BrowserWindowsHidden);
    EXPECT_FALSE(rig.desktop.isVisible(frame));
    EXPECT_TRUE(rig.desktop.isVisible(folder));
    master->TrayCallback(kMouseLeftDown);
    EXPECT_TRUE(rig.desktop.isVisible(frame));
    master->TrayCallback(0x202);  // left button up: nothing
    master->TrayCallback(kMouseRightUp);
    EXPECT_EQ(rig.view.calls.back(), "popUpMenu");

    master->TrayCallback(kMouseLeftDown);
    master->menuCommand(MenuCommand::Exit);
    EXPECT_FALSE(rig.view.iconShown);
    EXPECT_FALSE(rig.state.run.BrowserWindowsHidden);
    EXPECT_TRUE(rig.desktop.isVisible(frame));
    EXPECT_EQ(rig.view.calls.back(), "unloadAllWindows");
    EXPECT_EQ(rig.loop.activeTimers(), 0u);
}

// ---------------------------------------------------------------------------
// Connection monitor.

TEST_F(MasterTest, ConnectionComingUpChecksOneSecondAfterFirstTick) {
    TrayPop3Peer& peer = goodAccount(u"amy", 27110, 2);
    rig.shell.connected = true;
    rig.state.prefs.options = settings::Options::FromStored(u"010011000100");
    load();
    runFor(1000ms);  // first tick
    EXPECT_TRUE(rig.state.run.Online);
    EXPECT_EQ(master->onlineSeconds(), 1);
    EXPECT_TRUE(master->timer2Enabled());
    for (MenuCommand c : {MenuCommand::Preview, MenuCommand::Imm, MenuCommand::Pause}) EXPECT_TRUE(enabled(c));
    EXPECT_EQ(peer.connections, 0);
    runFor(1000ms);
    EXPECT_EQ(peer.connections, 1);
    EXPECT_EQ(rig.state.run.NewMailCount, 2);
    EXPECT_FALSE(rig.state.run.CheckBusy);
    runFor(1000ms);
    EXPECT_EQ(rig.view.picture, TrayPicture::NewMail);
    EXPECT_EQ(rig.view.tip, u"已連線0分03秒\r\n您有2封新郵件");
}

TEST_F(MasterTest, PeriodicCheckEveryInterval) {
    TrayPop3Peer& peer = goodAccount(u"amy", 27110, 0);
    rig.shell.connected = true;
    rig.set(u"tester", u"Check", u"0");  // 3 minutes
    load();
    runFor(2500ms);
    EXPECT_EQ(peer.connections, 1);
    runFor(177000ms);  // online second 179
    EXPECT_EQ(peer.connections, 1);
    runFor(2000ms);  // second 180 enables the check, 181 runs it
    EXPECT_EQ(peer.connections, 2);
    runFor(180000ms);
    EXPECT_EQ(peer.connections, 3);
    EXPECT_EQ(rig.view.picture, TrayPicture::Connected);
}

TEST_F(MasterTest, NoPeriodicCheckWhenPausedBusyOrSwitchedOff) {
    struct Case {
        const char* name;
        bool pause, busy;
        const char16_t* options;
    } cases[] = {{"paused", true, false, u"010011000100"},
                 {"busy", false, true, u"010011000100"},
                 {"option 2 off", false, false, u"000011000100"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pop3::ServerMemory::program().clear();  // each case is another server behind the same address
        test::TrayRig r;
        r.addAccount(u"a@x", u"amy", u"pw", u"127.0.0.1:27111");
        TrayPop3Peer& peer = r.network.addPop3Peer("127.0.0.1", 27111, test::MakeTrayPop3Peer("amy", "pw", 1));
        r.shell.connected = true;
        r.state.prefs.options = settings::Options::FromStored(c.options);
        MasterPresenter m(r.platform, r.store, r.state, r.view, &r.opener);
        m.load();
        r.loop.runUntil([] { return false; }, 2500ms);
        EXPECT_EQ(peer.connections, 1);  // the check when the connection came up
        if (c.pause) m.menuCommand(MenuCommand::Pause);
        if (c.busy) r.state.run.CheckBusy = true;
        r.loop.runUntil([] { return false; }, 400000ms);
        EXPECT_EQ(peer.connections, 1);
        if (c.pause) {
            EXPECT_EQ(r.view.picture, TrayPicture::Paused);
            EXPECT_EQ(r.view.tip.find(u"您有"), std::u16string::npos);
            // "立即檢查郵件" still checks.
            m.menuCommand(MenuCommand::Imm);
            r.loop.runUntil([] { return false; }, 1500ms);
            EXPECT_EQ(peer.connections, 2);
        }
    }
}

TEST_F(MasterTest, ConnectionGoingAway) {
    goodAccount(u"amy", 27110, 1);
    const auto frame = rig.desktop.add(u"IEFrame", u"");
    rig.shell.connected = true;
    load();
    runFor(3000ms);
    master->TrayCallback(kMouseLeftDown);
    EXPECT_FALSE(rig.desktop.isVisible(frame));
    rig.shell.connected = false;
    runFor(1000ms);
    EXPECT_FALSE(rig.state.run.Online);
    EXPECT_EQ(rig.view.picture, TrayPicture::Program);
    EXPECT_EQ(rig.view.tip, u"Inkwarden即時監視中..");
    for (MenuCommand c : {MenuCommand::Preview, MenuCommand::Imm, MenuCommand::Pause}) EXPECT_FALSE(enabled(c));
    EXPECT_FALSE(rig.state.run.BrowserWindowsHidden);
    EXPECT_TRUE(rig.desktop.isVisible(frame));
    // Coming back starts the count again from 1 and checks again.
    rig.shell.connected = true;
    runFor(1000ms);
    EXPECT_EQ(master->onlineSeconds(), 1);
    EXPECT_TRUE(master->timer2Enabled());
}

TEST_F(MasterTest, TipShowsStatusLine) {
    rig.shell.connected = true;
    load();
    runFor(1000ms);
    rig.state.run.StatusText = u"amy密碼錯誤..";
    rig.state.run.NewMailCount = 4;
    runFor(64000ms);
    EXPECT_EQ(rig.view.tip, u"已連線01分05秒\r\namy密碼錯誤..\r\n您有4封新郵件");
}

// ---------------------------------------------------------------------------
// The background dialogue.

TEST_F(MasterTest, DialogueOutcomes) {
    struct Case {
        const char* name;
        std::function<TrayPop3Peer()> peer;
        std::u16string status;
        int count;
        std::vector<std::string> lines;
    } cases[] = {
        {"good", [] { return test::MakeTrayPop3Peer("amy", "pw", 7); }, u"", 7,
         {"CAPA", "USER amy", "PASS pw", "STAT", "QUIT"}},
        {"split replies",
         [] {
             auto p = test::MakeTrayPop3Peer("amy", "pw", 7);
             p.splitAt = 2;
             return p;
         },
         u"", 7, {"CAPA", "USER amy", "PASS pw", "STAT", "QUIT"}},
        {"greeting refused",
         [] {
             auto p = test::MakeTrayPop3Peer("amy", "pw", 7);
             p.greeting = "-ERR busy\r\n";
             return p;
         },
         u"amy主機無法連線..", 0, {}},
        {"user refused", [] { return test::MakeTrayPop3Peer("bob", "pw", 7); }, u"amy使用者錯誤..", 0, {"CAPA", "USER amy"}},
        {"password refused", [] { return test::MakeTrayPop3Peer("amy", "other", 7); }, u"amy密碼錯誤..", 0,
         {"CAPA", "USER amy", "PASS pw"}},
        {"stat without size", [] { return test::MakeTrayPop3Peer("amy", "pw", 0, "+OK 5\r\n"); },
         u"amy郵件數目無法讀取..", 0, {"CAPA", "USER amy", "PASS pw", "STAT", "QUIT"}},
        {"stat without space", [] { return test::MakeTrayPop3Peer("amy", "pw", 0, "+OK\r\n"); },
         u"amy郵件數目無法讀取..", 0, {"CAPA", "USER amy", "PASS pw", "STAT", "QUIT"}},
        {"stat refused", [] { return test::MakeTrayPop3Peer("amy", "pw", 0, "-ERR later\r\n"); },
         u"amy郵件數目無法讀取..", 0, {"CAPA", "USER amy", "PASS pw", "STAT", "QUIT"}},
        // A response code says what to do instead of the bare refusal.
        {"password refused with [AUTH]",
         [] {
             auto p = test::MakeTrayPop3Peer("amy", "pw", 7);
             p.reply = [](const std::string& line) -> std::string {
                 if (line.rfind("PASS", 0) == 0) return "-ERR [AUTH] Invalid credentials\r\n";
                 return line == "CAPA" ? "+OK\r\nRESP-CODES\r\nUSER\r\n.\r\n" : "+OK\r\n";
             };
             return p;
         },
         u"amy" + pop3::ResponseCodeText(pop3::ResponseCode::Auth), 0, {"CAPA", "USER amy", "PASS pw"}},
        {"mailbox in use",
         [] {
             auto p = test::MakeTrayPop3Peer("amy", "pw", 7);
             p.reply = [](const std::string& line) -> std::string {
                 if (line == "CAPA") return "-ERR unknown\r\n";
                 return line.rfind("PASS", 0) == 0 ? "-ERR [IN-USE] Mailbox locked\r\n" : "+OK\r\n";
             };
             return p;
         },
         u"amy" + pop3::ResponseCodeText(pop3::ResponseCode::InUse), 0, {"CAPA", "USER amy", "PASS pw"}},
        {"connection refused",
         [] {
             TrayPop3Peer p;
             p.refuse = true;
             return p;
         },
         u"amy未連上伺服器", 0, {}},
        // A greeting longer than any real one is never judged as a reply.
        {"greeting beyond the line limit",
         [] {
             auto p = test::MakeTrayPop3Peer("amy", "pw", 7);
             p.greeting = "+OK " + std::string(10000, 'x') + "\r\n";
             return p;
         },
         u"amy伺服器回應錯誤..", 0, {}},
        // A line nobody asked for is not taken as the answer to USER.
        {"a reply before its command",
         [] {
             auto p = test::MakeTrayPop3Peer("amy", "pw", 7);
             p.greeting = "+OK ready\r\n+OK early\r\n";
             return p;
         },
         u"amy伺服器回應錯誤..", 0, {"CAPA"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pop3::ServerMemory::program().clear();  // each case is another server behind the same address
        test::TrayRig r;
        r.addAccount(u"a@x", u"amy", u"pw", u"127.0.0.1:27112");
        TrayPop3Peer& peer = r.network.addPop3Peer("127.0.0.1", 27112, c.peer());
        r.state.run.StatusText = u"old";
        r.state.prefs.options = settings::Options::FromStored(u"010011000100");  // no filter window at any count
        MasterPresenter m(r.platform, r.store, r.state, r.view, &r.opener);
        m.load();
        const auto start = r.clock.nowMs();
        m.RunBackgroundCheck();
        EXPECT_EQ(narrow(r.state.run.StatusText), narrow(c.status));
        EXPECT_EQ(r.state.run.StatusText, c.status);
        EXPECT_EQ(r.state.run.NewMailCount, c.count);
        EXPECT_EQ(peer.received, c.lines);
        EXPECT_FALSE(r.state.run.CheckBusy);
        EXPECT_TRUE(m.findItem(MenuCommand::Imm)->enabled);
        EXPECT_TRUE(m.findItem(MenuCommand::Preview)->enabled);
        EXPECT_LT(r.clock.nowMs() - start, 15000);
    }
}

// A server that answers QUIT and closes before the send-complete event of
// the QUIT is delivered: the event never comes (the connection has ended),
// and the check ends at once instead of waiting out the 10 s for it.
TEST_F(MasterTest, QuitAnsweredBeforeItsSendCompleteEndsTheCheckAtOnce) {
    for (bool answerFirst : {false, true}) {
        SCOPED_TRACE(answerFirst);
        test::TrayRig r;
        r.addAccount(u"a@x", u"amy", u"pw", u"127.0.0.1:27112");
        TrayPop3Peer p = test::MakeTrayPop3Peer("amy", "pw", 4);
        p.answersBeforeSendComplete = answerFirst;
        TrayPop3Peer& peer = r.network.addPop3Peer("127.0.0.1", 27112, p);
        r.state.prefs.options = settings::Options::FromStored(u"010011000100");
        MasterPresenter m(r.platform, r.store, r.state, r.view, &r.opener);
        m.load();
        const auto start = r.clock.monotonicMs();
        m.RunBackgroundCheck();
        EXPECT_EQ(r.state.run.NewMailCount, 4);
        EXPECT_EQ(r.state.run.StatusText, u"");
        ASSERT_FALSE(peer.received.empty());
        EXPECT_EQ(peer.received.back(), "QUIT");
        EXPECT_FALSE(r.state.run.CheckBusy);
        // Virtual time: every reply comes at once, so no wait runs out.
        EXPECT_LT(r.clock.monotonicMs() - start, 1000);
    }
}

// A server that lists LOGIN-DELAY is never logged in to more often than it
// allows: the check skips the account until the delay has passed and says
// so, on the program's clock, and the other accounts are checked as usual.
TEST_F(MasterTest, LoginDelaySkipsTheAccountUntilItHasPassed) {
    goodAccount(u"bob", 27116, 3);
    TrayPop3Peer& delayed = goodAccount(u"amy", 27115, 2);
    auto inner = delayed.reply;
    delayed.reply = [inner](const std::string& line) {
        return line == "CAPA" ? std::string("+OK\r\nUSER\r\nLOGIN-DELAY 600\r\n.\r\n") : inner(line);
    };
    rig.state.prefs.options = settings::Options::FromStored(u"010011000100");  // no filter window at any count
    load();
    master->RunBackgroundCheck();
    EXPECT_EQ(rig.state.run.NewMailCount, 5);
    EXPECT_EQ(delayed.connections, 1);
    struct Step {
        int afterSeconds;  // since the first check's login
        bool loggedIn;
    } steps[] = {{60, false}, {590, false}, {610, true}};
    int connections = 1;
    const auto start = rig.clock.monotonicMs();
    for (const Step& step : steps) {
        // The delay runs on the steady clock: the local clock set back a day
        // (as a clock correction or the user may) neither holds the account
        // longer nor lets it in sooner.
        rig.clock.stepLocal(platform::Milliseconds(-86400 * 1000LL));
        rig.clock.setMonotonicMs(start + step.afterSeconds * 1000LL);
        master->RunBackgroundCheck();
        if (step.loggedIn) ++connections;
        EXPECT_EQ(delayed.connections, connections) << step.afterSeconds;
        EXPECT_EQ(rig.state.run.NewMailCount, step.loggedIn ? 5 : 3) << step.afterSeconds;
        if (!step.loggedIn) {
            EXPECT_NE(rig.state.run.StatusText.find(u"amy郵件主機限制登入間隔"), std::u16string::npos) << step.afterSeconds;
        }
    }
}

TEST_F(MasterTest, SilentServerTimesOutAndNextAccountIsTried) {
    TrayPop3Peer silent;
    silent.silent = true;
    account(u"amy", 27113, silent);
    goodAccount(u"bob", 27114, 3);
    load();
    const auto start = rig.clock.nowMs();
    std::u16string statusAfterFirst;
    master->RunBackgroundCheck();
    const auto took = rig.clock.nowMs() - start;
    EXPECT_GE(took, 45000);
    EXPECT_LE(took, 52000);
    EXPECT_EQ(rig.network.peer("127.0.0.1", 27114)->connections, 1);
    EXPECT_EQ(rig.state.run.NewMailCount, 3);
    // The second account's good STAT clears the first one's status text.
    EXPECT_EQ(rig.state.run.StatusText, u"");
}

// Closing the program while the check waits for a silent server ends the
// wait at once: no account after it is contacted, and the check ends.
TEST_F(MasterTest, UnloadDuringTheCheckEndsItAtOnce) {
    TrayPop3Peer silent;
    silent.silent = true;
    account(u"amy", 27113, silent);
    goodAccount(u"bob", 27114, 3);
    load();
    rig.loop.startTimer(platform::Milliseconds(5000), false, [this] { master->unload(); });
    const auto start = rig.clock.nowMs();
    master->RunBackgroundCheck();
    EXPECT_LT(rig.clock.nowMs() - start, 10000);
    EXPECT_EQ(rig.network.peer("127.0.0.1", 27114)->connections, 0);
    EXPECT_EQ(rig.state.run.NewMailCount, 0);
    EXPECT_FALSE(rig.state.run.CheckBusy);
    // A later check (none should come; the program is closing) contacts nobody either.
    master->RunBackgroundCheck();
    EXPECT_EQ(rig.network.peer("127.0.0.1", 27114)->connections, 0);
}

TEST_F(MasterTest, LastFailureStaysInStatus) {
    goodAccount(u"bob", 27114, 3);
    TrayPop3Peer silent;
    silent.silent = true;
    account(u"amy", 27113, silent);
    load();
    master->RunBackgroundCheck();
    EXPECT_EQ(rig.state.run.StatusText, u"amy未連上伺服器");
    EXPECT_EQ(rig.state.run.NewMailCount, 3);
}

TEST_F(MasterTest, HostLookupFailureSkipsAccount) {
    rig.addAccount(u"a@x", u"amy", u"pw", u"no-such-host");
    goodAccount(u"bob", 27114, 3);
    load();
    master->RunBackgroundCheck();
    EXPECT_EQ(rig.state.run.NewMailCount, 3);
    EXPECT_EQ(rig.network.lookups.front(), "no-such-host");
    rig.network.setNonIpv4Host("v6only");
    rig.store.deleteSection(settings::IniFile::Set, u"tester-Mail");
    rig.addAccount(u"c@x", u"cat", u"pw", u"v6only");
    master->RunBackgroundCheck();
    EXPECT_EQ(rig.state.run.StatusText, u"無法查詢主機IP位置");
}

TEST_F(MasterTest, NoAccountsEndsAtOnceLeavingMenus) {
    load();
    master->RunBackgroundCheck();
    EXPECT_FALSE(rig.state.run.CheckBusy);
    EXPECT_FALSE(enabled(MenuCommand::Imm));
    EXPECT_FALSE(enabled(MenuCommand::Preview));
    EXPECT_EQ(rig.view.tips.size(), 0u);
}

TEST_F(MasterTest, BusyDuringCheckAndTipKeepsTicking) {
    TrayPop3Peer silent;
    silent.silent = true;
    account(u"amy", 27113, silent);
    rig.shell.connected = true;
    // Sample the state on every tick, which runs inside the check's waits.
    std::vector<bool> busy, immEnabled;
    MasterHooks hooks;
    hooks.browserWatcherTick = [&] {
        busy.push_back(rig.state.run.CheckBusy);
        immEnabled.push_back(master->findItem(MenuCommand::Imm)->enabled);
    };
    master = std::make_unique<MasterPresenter>(rig.platform, rig.store, rig.state, rig.view, &rig.opener, hooks);
    master->load();
    runFor(60000ms);
    ASSERT_GE(busy.size(), 40u);
    EXPECT_FALSE(busy[1]);  // second 2: Timer2 has not fired yet at this tick
    EXPECT_TRUE(busy[10]);
    EXPECT_FALSE(immEnabled[10]);
    EXPECT_FALSE(busy.back());
    EXPECT_NE(std::find(rig.view.tips.begin(), rig.view.tips.end(), u"已連線0分30秒"), rig.view.tips.end());
    EXPECT_EQ(rig.view.tip, u"已連線01分00秒\r\namy未連上伺服器");
}

TEST_F(MasterTest, ThresholdOpensFilterWindowQuietly) {
    struct Case {
        const char* name;
        const char16_t* value;  // threshold position
        const char16_t* autoMin;
        const char16_t* options;
        bool opens;
        bool minimized;
    } cases[] = {
        {"threshold 5 reached", u"2", u"0", settings::kDefaultOptionText, true, false},
        {"minimised", u"2", u"1", settings::kDefaultOptionText, true, true},
        {"threshold 10 not reached", u"3", u"0", settings::kDefaultOptionText, false, false},
        {"option 3 off", u"2", u"0", u"010011000100", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pop3::ServerMemory::program().clear();  // each case is another server behind the same address
        test::TrayRig r;
        r.addAccount(u"a@x", u"amy", u"pw", u"127.0.0.1:27115");
        r.addAccount(u"b@x", u"bob", u"pw", u"127.0.0.1:27116");
        r.network.addPop3Peer("127.0.0.1", 27115, test::MakeTrayPop3Peer("amy", "pw", 2));
        r.network.addPop3Peer("127.0.0.1", 27116, test::MakeTrayPop3Peer("bob", "pw", 3));
        r.set(u"tester", u"Value", c.value);
        r.set(u"tester", u"AutoMin", c.autoMin);
        r.state.prefs.options = settings::Options::FromStored(c.options);
        r.shell.connected = true;
        MasterPresenter m(r.platform, r.store, r.state, r.view, &r.opener);
        m.load();
        r.loop.runUntil([] { return false; }, 3000ms);
        EXPECT_EQ(r.state.run.NewMailCount, 5);
        EXPECT_TRUE(r.view.tip.ends_with(u"\r\n您有5封新郵件"));
        EXPECT_EQ(r.opener.quiet, c.opens ? 1 : 0);
        EXPECT_EQ(r.state.run.AutoOpened, c.opens);
        EXPECT_EQ(r.state.run.CheckBusy, c.opens);
        EXPECT_EQ(m.findItem(MenuCommand::Imm)->enabled, !c.opens);
        EXPECT_TRUE(m.findItem(MenuCommand::Preview)->enabled);
        EXPECT_EQ(r.store.read(settings::IniFile::Set, u"tester", u"Open-mail", u""), c.opens ? u"Check-Quit" : u"");
        if (c.opens) {
            EXPECT_EQ(r.opener.lastMinimized, c.minimized);
        }
    }
}

// ---------------------------------------------------------------------------
// Time correction.

class CorrectClockTest : public MasterTest {
protected:
    static std::string reply(std::uint32_t transmit, std::size_t size = 48) {
        std::string d(size, '\0');
        d[0] = '\x1C';
        for (int i = 0; i < 4 && 40 + i < static_cast<int>(size); ++i)
            d[static_cast<std::size_t>(40 + i)] = static_cast<char>(transmit >> (24 - 8 * i));
        return d;
    }
    // Sends the request, lets `delay` pass, delivers `datagram`.
    void exchange(const std::string& datagram, platform::Milliseconds delay) {
        master->CorrectClock();
        runFor(delay);
        rig.network.deliverDatagram(datagram);
        rig.loop.pump(0ms);
    }
    static constexpr std::uint32_t kOneDayAfter1990 = 2840140800u + 86400;
};

TEST_F(CorrectClockTest, RequestGoesToChosenServer) {
    rig.network.setHost(settings::kTimeServers[0], "10.0.0.1");
    rig.network.setHost(settings::kTimeServers[2], "10.0.0.3");
    rig.set(u"tester", u"TimeServer", u"7");
    load();
    master->CorrectClock();
    ASSERT_EQ(rig.network.sent().size(), 1u);
    EXPECT_EQ(rig.network.sent()[0].address, "10.0.0.1");
    EXPECT_EQ(rig.network.sent()[0].port, 123);
    EXPECT_EQ(rig.network.sent()[0].bytes, SntpRequest());
    rig.set(u"tester", u"TimeServer", u"2");
    master->CorrectClock();
    EXPECT_EQ(rig.network.sent()[1].address, "10.0.0.3");
}

TEST_F(CorrectClockTest, LookupFailureSetsStatus) {
    load();
    master->CorrectClock();
    EXPECT_TRUE(rig.network.sent().empty());
    EXPECT_EQ(rig.state.run.StatusText, u"無法查詢主機IP位置");
}

TEST_F(CorrectClockTest, RepliesSetTheClock) {
    struct Case {
        const char* name;
        std::string datagram;
        platform::Milliseconds delay;
        bool sets;
        int second;
    } cases[] = {
        {"negligible travel", reply(kOneDayAfter1990), 0ms, true, 0},
        {"3 seconds adds 2", reply(kOneDayAfter1990), 3000ms, true, 2},
        {"5 seconds adds 2", reply(kOneDayAfter1990), 5000ms, true, 2},
        {"47 bytes", reply(kOneDayAfter1990, 47), 0ms, false, 0},
        {"68 bytes", reply(kOneDayAfter1990, 68), 0ms, false, 0},
        {"all zero", std::string(48, '\0'), 0ms, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pop3::ServerMemory::program().clear();  // each case is another server behind the same address
        test::TrayRig r;
        r.network.setHost(settings::kTimeServers[0], "10.0.0.1");
        r.clock.setUtcOffsetMinutes(480);
        MasterPresenter m(r.platform, r.store, r.state, r.view, &r.opener);
        m.load();
        m.CorrectClock();
        r.loop.runUntil([] { return false; }, c.delay);
        r.network.deliverDatagram(c.datagram);
        r.loop.pump(0ms);
        if (c.sets) {
            ASSERT_EQ(r.clock.setRequests().size(), 1u);
            EXPECT_EQ(r.clock.setRequests()[0], (platform::LocalDateTime{1990, 1, 2, 8, 0, c.second, 0}));
            EXPECT_EQ(r.state.run.StatusText, u"網路校時成功!");
        } else {
            EXPECT_TRUE(r.clock.setRequests().empty());
            EXPECT_EQ(r.state.run.StatusText, u"");
        }
    }
}

TEST_F(CorrectClockTest, NoCorrectionIn2036) {
    rig.clock.set({2036, 3, 1, 12, 0, 0, 0});
    rig.network.setHost(settings::kTimeServers[0], "10.0.0.1");
    load();
    exchange(reply(kOneDayAfter1990), 0ms);
    EXPECT_TRUE(rig.clock.setRequests().empty());
    EXPECT_EQ(rig.state.run.StatusText, u"");
}

TEST_F(CorrectClockTest, RefusedSetShowsNoSuccess) {
    rig.clock.refuseSetTime(true);
    rig.network.setHost(settings::kTimeServers[0], "10.0.0.1");
    load();
    exchange(reply(kOneDayAfter1990), 0ms);
    EXPECT_EQ(rig.clock.setRequests().size(), 1u);
    EXPECT_EQ(rig.state.run.StatusText, u"");
}

TEST_F(CorrectClockTest, ReplyAcrossMidnight) {
    rig.clock.setTime(23, 59, 59);
    rig.network.setHost(settings::kTimeServers[0], "10.0.0.1");
    load();
    exchange(reply(kOneDayAfter1990), 3000ms);
    ASSERT_EQ(rig.clock.setRequests().size(), 1u);
    EXPECT_EQ(rig.clock.setRequests()[0].second, 2);
}

TEST_F(CorrectClockTest, OptionEightCorrectsWhenConnectionComesUp) {
    rig.network.setHost(settings::kTimeServers[0], "10.0.0.1");
    rig.shell.connected = true;
    rig.state.prefs.options = settings::Options::FromStored(u"011011010100");
    load();
    runFor(1000ms);
    EXPECT_EQ(rig.network.sent().size(), 1u);
    test::TrayRig off;
    off.network.setHost(settings::kTimeServers[0], "10.0.0.1");
    off.shell.connected = true;
    MasterPresenter m(off.platform, off.store, off.state, off.view, &off.opener);
    m.load();
    off.loop.runUntil([] { return false; }, 1000ms);
    EXPECT_TRUE(off.network.sent().empty());
}


// With TLS chosen, a server that cannot give it ends the account with a
// status that says so, and no command of the login ever travels in plain
// text. (The port when none is given follows the setting.)
TEST(MasterSecurity, NoPlainLoginOnceTlsIsChosen) {
    struct Case {
        const char* name;
        const char16_t* security;
        std::function<TrayPop3Peer()> peer;
        const char16_t* status;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"STLS refused", u"2", [] { return test::MakeTrayPop3Peer("amy", "pw", 7); },
         u"amy伺服器不接受STARTTLS加密,未登入", {"STLS"}},
        {"greeting refused before STLS", u"2",
         [] {
             auto p = test::MakeTrayPop3Peer("amy", "pw", 7);
             p.greeting = "-ERR busy\r\n";
             return p;
         },
         u"amy伺服器不接受STARTTLS加密,未登入", {}},
        {"plain text where TLS was due", u"1", [] { return test::MakeTrayPop3Peer("amy", "pw", 7); },
         u"amy加密連線失敗,未登入", {}},
        {"plain account as before", u"0", [] { return test::MakeTrayPop3Peer("amy", "pw", 7); }, u"",
         {"USER amy", "PASS pw", "STAT", "QUIT"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pop3::ServerMemory::program().clear();  // each case is another server behind the same address
        test::TrayRig r;
        r.addAccount(u"a@x", u"amy", u"pw", u"127.0.0.1:27112");
        r.set(u"a@x", u"Security", c.security);
        TrayPop3Peer& peer = r.network.addPop3Peer("127.0.0.1", 27112, c.peer());
        r.state.prefs.options = settings::Options::FromStored(u"010011000100");
        MasterPresenter m(r.platform, r.store, r.state, r.view, &r.opener);
        m.load();
        const auto start = r.clock.nowMs();
        m.RunBackgroundCheck();
        EXPECT_EQ(r.state.run.StatusText, c.status);
        // Whatever bytes a TLS hello made of "lines", none is a command.
        std::vector<std::string> commands;
        for (const std::string& l : peer.received)
            if (l == "STLS" || l.rfind("USER", 0) == 0 || l.rfind("PASS", 0) == 0 || l == "STAT" || l == "QUIT")
                commands.push_back(l);
        EXPECT_EQ(commands, c.lines);
        EXPECT_LT(r.clock.nowMs() - start, 15000);
    }
}

}  // namespace
}  // namespace iw::app
