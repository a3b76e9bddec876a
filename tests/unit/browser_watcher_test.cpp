// The browser window watcher on the fake desktop: the pop-up size rule, the
// address reader and its ie.ini records, the blocked and per-page values,
// blank pages, the maximise rule, and the watcher on the main window's real
// one-second ticks.
#include <gtest/gtest.h>

#include "app/browser_part.h"
#include "browser/watcher.h"
#include "tests/support/tray_rig.h"

namespace iw::browser {
namespace {

using namespace std::chrono_literals;
using platform::WindowHandle;
using platform::WindowRect;
using settings::IniFile;
using test::CloseRule;
using test::FakeWindowSpec;

std::string narrow(const std::u16string& s) {
    std::string r;
    for (char16_t c : s) r += c < 0x80 ? static_cast<char>(c) : '?';
    return r;
}

class WatcherTest : public ::testing::Test {
protected:
    test::TrayRig rig;
    BrowserWatcher watcher{rig.desktop, rig.store, *rig.codePage, rig.state};

    WatcherTest() {
        rig.desktop.setScreen({0, 0, 1024, 768});
        rig.state.prefs.PopupRatio = 0.75;
        filterOn(true);
    }
    void filterOn(bool on, bool blankPages = true) {
        rig.state.prefs.options = settings::Options::FromStored(std::u16string(u"01101100") + (on ? u"1" : u"0") + (blankPages ? u"1" : u"0") + u"00");
    }
    WindowHandle frame(int w, int h, bool minimized = false, const std::u16string& cls = kFrameClass) {
        FakeWindowSpec s;
        s.className = cls;
        s.rect = {10, 10, 10 + w, 10 + h};
        s.minimized = minimized;
        s.close = CloseRule::afterRequests(1);
        return rig.desktop.add(s);
    }
    WindowHandle child(WindowHandle parent, const std::u16string& cls, const std::u16string& text, bool hung = false) {
        FakeWindowSpec s;
        s.className = cls;
        s.title = text;
        s.hung = hung;
        return rig.desktop.addChild(parent, s);
    }
    // A big frame (never a pop-up) showing `address` in its address box.
    WindowHandle page(const std::u16string& address) {
        const WindowHandle f = frame(1000, 740);
        child(f, u"ReBarWindow32", u"");
        child(f, kAddressBoxClass, address);
        return f;
    }
    std::optional<std::u16string> url(const std::u16string& key) { return rig.store.find(IniFile::Ie, kUrlSection, key); }
    void setUrl(const std::u16string& key, const std::u16string& value) {
        rig.store.write(IniFile::Ie, kUrlSection, key, value);
    }
    bool closeRequested(WindowHandle w) { return rig.desktop.closeRequestsTo(w) > 0; }
};

// ---------------------------------------------------------------------------
// Keys.

TEST(AddressText, WhatCountsAsAnAddress) {
    const struct {
        const char16_t* text;
        bool address;
    } cases[] = {
        {u"http://example.com/", true},   {u"HTTPS://example.com/", true}, {u"Ftp://files.example/", true},
        {u"ftp.example.com", true},       {u"C:\\pages\\a.htm", true},    {u"index.html", true},
        {u"a.HTM", false},                {u"index.htm#top", false},      {u"about:blank", false},
        {u"search words", false},         {u"", false},                   {u"ht", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsAddressText(c.text), c.address) << narrow(c.text);
}

TEST(AddressText, BlankPage) {
    for (const char16_t* t : {u"about:blank", u"About:Blank", u"  about:blank "})
        EXPECT_TRUE(IsBlankPageText(t)) << narrow(t);
    for (const char16_t* t : {u"", u" ", u"about:blank2", u"about:", u"http://about:blank/"})
        EXPECT_FALSE(IsBlankPageText(t)) << narrow(t);
}

TEST(AddressKeys, SiteAndPage) {
    const struct {
        const char16_t* address;
        const char16_t* site;
        const char16_t* page;
    } cases[] = {
        {u"http://news.example.tw/news/a.htm?id=3", u"http://news.example.tw/", u"http://news.example.tw/news/a.htm"},
        {u"http://news.example.tw", u"http://news.example.tw/", u"http://news.example.tw/"},
        {u"http://news.example.tw?id=3", u"http://news.example.tw/", u"http://news.example.tw/"},
        {u"http://a/b/c?x=1?y=2", u"http://a/", u"http://a/b/c"},
        // The "/" of "https://" is no host end: each secure site has its own key.
        {u"https://bank.example/login", u"https://bank.example/", u"https://bank.example/login"},
        {u"https://x", u"https://x/", u"https://x/"},
        {u"ftp://f.example/pub/", u"ftp://f.example/", u"ftp://f.example/pub/"},
        // A local path is used whole.
        {u"C:\\pages\\a.htm?x=1", u"C:\\pages\\a.htm", u"C:\\pages\\a.htm"},
        // No scheme: the host end is looked for from the eighth character.
        {u"www.example.com/a.htm", u"www.example.com/", u"www.example.com/a.htm"},
        {u"a/b/c/d/e/f.htm", u"a/b/c/d/", u"a/b/c/d/e/f.htm"},
    };
    for (const auto& c : cases) {
        const AddressKeys k = KeysOf(c.address);
        EXPECT_EQ(k.site, c.site) << narrow(c.address);
        EXPECT_EQ(k.page, c.page) << narrow(c.address);
    }
}

TEST(AddressKeys, OnlyKeysThatReadBackAreStored) {
    auto cp = platform::createCodePage();
    for (const char16_t* k : {u"http://example.com/", u"http://例子.台灣/", u"C:\\網頁\\a.htm"})
        EXPECT_TRUE(StorableKey(*cp, k)) << narrow(k);
    for (const char16_t* k : {u"", u"http://a=b/", u"http://пример/", u"http://x/\r\n[user]", u" http://x/",
                              u"[IeUrl]", u";x.htm", u"http://😀/"})
        EXPECT_FALSE(StorableKey(*cp, k)) << narrow(k);
    EXPECT_FALSE(StorableKey(*cp, u"http://x/" + std::u16string(3000, u'a')));
}

// ---------------------------------------------------------------------------
// The pop-up size rule: 0.75 of 1024 x 768 is 768 x 576, both strictly.

TEST_F(WatcherTest, PopupSizeRule) {
    filterOn(false);
    const struct {
        const char* name;
        int w, h;
        bool minimized;
        bool pop;
        bool closes;
    } cases[] = {
        {"700 x 500 is a pop-up", 700, 500, false, true, true},
        {"800 x 500 is not (800 is not below 768)", 800, 500, false, true, false},
        {"700 x 600 is not (600 is not below 576)", 700, 600, false, true, false},
        {"767 x 575 is", 767, 575, false, true, true},
        {"768 x 575 is not", 768, 575, false, true, false},
        {"a minimised small frame stays", 300, 200, true, true, false},
        {"blocking off", 300, 200, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const WindowHandle f = frame(c.w, c.h, c.minimized);
        watcher.WatchBrowserWindows(c.pop, false);
        EXPECT_EQ(closeRequested(f), c.closes);
        rig.desktop.destroy(f);
        rig.desktop.clearActions();
    }
}

TEST_F(WatcherTest, OneFramePerTickTheTopmostFirst) {
    const WindowHandle folder = frame(200, 100, false, kFolderClass);
    const WindowHandle first = frame(300, 200);
    const WindowHandle second = frame(300, 200);
    watcher.WatchBrowserWindows(true, false);
    EXPECT_EQ(rig.desktop.closeRequests(), std::vector<WindowHandle>{first});
    watcher.WatchBrowserWindows(true, false);
    EXPECT_EQ(rig.desktop.closeRequests(), (std::vector<WindowHandle>{first, second}));
    EXPECT_FALSE(closeRequested(folder));  // only browser frames are pop-ups
}

TEST_F(WatcherTest, RatioOutsideZeroToOneIsTheDefault) {
    // A hand-edited AD-PoP of 500 would otherwise make every frame a pop-up.
    rig.state.prefs.PopupRatio = 5.0;
    const WindowHandle big = frame(1000, 700);
    watcher.WatchBrowserWindows(true, false);
    EXPECT_FALSE(closeRequested(big));
    rig.desktop.destroy(big);
    const WindowHandle small = frame(700, 500);
    watcher.WatchBrowserWindows(true, false);
    EXPECT_TRUE(closeRequested(small));
}

// ---------------------------------------------------------------------------
// The address reader and ie.ini.

TEST_F(WatcherTest, FirstSightRecordsTheSiteAndKeepsTheFrame) {
    const WindowHandle f = page(u"http://news.example.tw/news/a.htm?id=3");
    watcher.WatchBrowserWindows(true, false);
    EXPECT_EQ(url(u"http://news.example.tw/"), u"0");
    EXPECT_EQ(watcher.CurrentUrlKey(), u"http://news.example.tw/");
    EXPECT_FALSE(url(u"http://news.example.tw/news/a.htm"));
    EXPECT_FALSE(closeRequested(f));
    // Seen again: read, not written again.
    const int writes = rig.files.writeCount();
    watcher.WatchBrowserWindows(true, false);
    EXPECT_EQ(rig.files.writeCount(), writes);
}

TEST_F(WatcherTest, BlockedSiteClosesOnlyWithTheFilterOn) {
    setUrl(u"http://news.example.tw/", u"1");
    for (bool on : {false, true}) {
        SCOPED_TRACE(on ? "filter on" : "filter off");
        filterOn(on);
        const WindowHandle f = page(u"http://news.example.tw/news/a.htm?id=3");
        const int reads = rig.desktop.controlTextReads();
        watcher.WatchBrowserWindows(false, false);
        EXPECT_EQ(closeRequested(f), on);
        // With the filter off the address is not even read.
        EXPECT_EQ(rig.desktop.controlTextReads() > reads, on);
        rig.desktop.destroy(f);
    }
}

TEST_F(WatcherTest, PerPageSiteRecordsAndJudgesThePage) {
    setUrl(u"http://news.example.tw/", u"3");
    const WindowHandle a = page(u"http://news.example.tw/news/a.htm?id=3");
    watcher.WatchBrowserWindows(false, false);
    EXPECT_EQ(url(u"http://news.example.tw/news/a.htm"), u"0");
    EXPECT_EQ(watcher.CurrentUrlKey(), u"http://news.example.tw/news/a.htm");
    EXPECT_FALSE(closeRequested(a));

    setUrl(u"http://news.example.tw/news/a.htm", u"1");
    watcher.WatchBrowserWindows(false, false);
    EXPECT_TRUE(closeRequested(a));
    rig.desktop.destroy(a);

    // Another page of the same site is judged by its own key.
    const WindowHandle b = page(u"http://news.example.tw/news/b.htm?id=3");
    watcher.WatchBrowserWindows(false, false);
    EXPECT_FALSE(closeRequested(b));
    EXPECT_EQ(url(u"http://news.example.tw/news/b.htm"), u"0");
    EXPECT_EQ(url(u"http://news.example.tw/"), u"3");
}

TEST_F(WatcherTest, AddressEndingAtTheHostGetsASlash) {
    page(u"http://example.tw");
    watcher.WatchBrowserWindows(false, false);
    EXPECT_EQ(url(u"http://example.tw/"), u"0");
    EXPECT_EQ(rig.store.listKeys(IniFile::Ie, kUrlSection), std::vector<std::u16string>{u"http://example.tw/"});
}

TEST_F(WatcherTest, LastAddressBoxDecidesAndOnlyItIsRecorded) {
    const WindowHandle f = frame(1000, 740);
    child(f, kAddressBoxClass, u"http://first.example/");
    child(f, u"Static", u"http://label.example/");
    const WindowHandle bar = child(f, u"ReBarWindow32", u"");
    rig.desktop.addChild(bar, FakeWindowSpec{kAddressBoxClass, u"http://second.example/x.htm"});
    child(f, kAddressBoxClass, u"search words");
    watcher.WatchBrowserWindows(false, false);
    EXPECT_EQ(watcher.CurrentUrlKey(), u"http://second.example/");
    EXPECT_EQ(rig.store.listKeys(IniFile::Ie, kUrlSection), std::vector<std::u16string>{u"http://second.example/"});
}

TEST_F(WatcherTest, FrameWithoutAnAddressIsJudgedBySizeOnly) {
    const struct {
        const char* name;
        std::u16string text;
        bool hung;
    } cases[] = {{"no address box", u"", false}, {"empty box", u"", false}, {"hung browser", u"http://x/", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const WindowHandle f = frame(300, 200);
        if (std::string(c.name) != "no address box") child(f, kAddressBoxClass, c.text, c.hung);
        watcher.WatchBrowserWindows(true, false);
        EXPECT_EQ(watcher.CurrentUrlKey(), u"");
        EXPECT_TRUE(closeRequested(f));
        rig.desktop.destroy(f);
    }
    EXPECT_TRUE(rig.store.listKeys(IniFile::Ie, kUrlSection).empty());
}

TEST_F(WatcherTest, HungAddressBoxIsAskedOnce) {
    const WindowHandle f = frame(1000, 740);
    for (int i = 0; i < 20; ++i) child(f, kAddressBoxClass, u"http://x/", true);
    const int before = rig.desktop.controlTextReads();
    watcher.WatchBrowserWindows(true, false);
    EXPECT_EQ(rig.desktop.controlTextReads() - before, 1);
}

TEST_F(WatcherTest, KeysThatCannotBeStoredAreJudgedButNeverAppended) {
    setUrl(u"http://a/", u"0");
    for (const char16_t* address : {u"http://a=b/x.htm", u"http://пример.рф/", u"http://a/\u0440?x"}) {
        SCOPED_TRACE(narrow(address));
        const WindowHandle f = page(address);
        for (int tick = 0; tick < 3; ++tick) watcher.WatchBrowserWindows(false, false);
        EXPECT_EQ(rig.store.listKeys(IniFile::Ie, kUrlSection), std::vector<std::u16string>{u"http://a/"});
        EXPECT_FALSE(closeRequested(f));
        rig.desktop.destroy(f);
    }
}

TEST_F(WatcherTest, BlankPage) {
    const struct {
        const char* name;
        bool filter, blankOption, pop;
        bool closes;
    } cases[] = {
        {"all on", true, true, true, true},
        {"pop-up blocking off", true, true, false, false},
        {"option 10 off", true, false, true, false},
        {"web-address filter off", false, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        filterOn(c.filter, c.blankOption);
        const WindowHandle f = page(u"About:Blank");
        watcher.WatchBrowserWindows(c.pop, false);
        EXPECT_EQ(closeRequested(f), c.closes);
        rig.desktop.destroy(f);
    }
    // A blank page is no site: nothing is recorded.
    EXPECT_TRUE(rig.store.listKeys(IniFile::Ie, kUrlSection).empty());
}

// ---------------------------------------------------------------------------
// The maximise rule.

TEST_F(WatcherTest, MaximisesTheForegroundBrowserWindow) {
    const struct {
        const char* name;
        const char16_t* cls;
        int w, h;
        bool minimized, maximized;
        bool maximises;
    } cases[] = {
        {"folder window of normal size", kFolderClass, 800, 600, false, false, true},
        {"browser frame", kFrameClass, 900, 500, false, false, true},
        {"mail reader", kMailReaderClass, 500, 700, false, false, true},
        {"mail message", kMailNoteClass, 780, 300, false, false, true},
        {"small pop-up", kFolderClass, 700, 500, false, false, false},
        {"minimised", kFolderClass, 800, 600, true, false, false},
        {"already maximised", kFolderClass, 1024, 768, false, true, false},
        {"another program", u"Notepad", 800, 600, false, false, false},
    };
    filterOn(false);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeWindowSpec s;
        s.className = c.cls;
        s.rect = {0, 0, c.w, c.h};
        s.minimized = c.minimized;
        s.maximized = c.maximized;
        const WindowHandle w = rig.desktop.add(s);
        rig.desktop.setForeground(w);
        rig.desktop.clearActions();
        watcher.WatchBrowserWindows(false, true);
        const std::vector<test::DesktopAction> want =
            c.maximises ? std::vector<test::DesktopAction>{{test::DesktopAction::Kind::SystemCommand, w,
                                                            platform::SystemCommand::Maximize}}
                        : std::vector<test::DesktopAction>{};
        EXPECT_EQ(rig.desktop.actions(), want);
        rig.desktop.destroy(w);
    }
}

TEST_F(WatcherTest, MaximiseRuleNeedsItsMarkAndTheFirstWindowOfItsClass) {
    filterOn(false);
    const WindowHandle top = frame(900, 700, false, kFolderClass);
    const WindowHandle below = frame(900, 700, false, kFolderClass);
    rig.desktop.setForeground(top);
    rig.desktop.clearActions();
    watcher.WatchBrowserWindows(false, false);
    EXPECT_TRUE(rig.desktop.actions().empty());
    // The foreground window is not the first of its class: no target.
    rig.desktop.setForeground(below);
    rig.desktop.clearActions();
    watcher.WatchBrowserWindows(false, true);
    EXPECT_TRUE(rig.desktop.actions().empty());
}

TEST_F(WatcherTest, FrameClosedThisTickIsNotMaximised) {
    setUrl(u"http://blocked.example/", u"1");
    const WindowHandle f = page(u"http://blocked.example/");
    rig.desktop.setForeground(f);
    rig.desktop.setCloseRule(f, CloseRule::never());
    rig.desktop.clearActions();
    watcher.WatchBrowserWindows(true, true);
    EXPECT_EQ(rig.desktop.actions(), (std::vector<test::DesktopAction>{{test::DesktopAction::Kind::Close, f}}));
}

// ---------------------------------------------------------------------------
// On the main window's ticks.

class WatcherOnTicksTest : public ::testing::Test {
protected:
    test::TrayRig rig;
    app::BrowserPart part{rig.platform, rig.store, rig.state};
    std::unique_ptr<app::MasterPresenter> master;

    void load() {
        rig.desktop.setScreen({0, 0, 1024, 768});
        master = std::make_unique<app::MasterPresenter>(rig.platform, rig.store, rig.state, rig.view, &rig.opener,
                                                        part.hooks([this] { return master.get(); }));
        master->load();
    }
    void runFor(platform::Milliseconds d) { rig.loop.runUntil([] { return false; }, d); }
};

TEST_F(WatcherOnTicksTest, EverySecondOnlineOrNotFollowingTheMenuMarks) {
    rig.set(u"tester", u"Set", u"-1");  // 攔截廣告視窗 on
    load();
    for (bool online : {false, true}) {
        SCOPED_TRACE(online ? "online" : "offline");
        rig.shell.connected = online;
        FakeWindowSpec s{kFrameClass, u"ad", {0, 0, 300, 200}};
        s.close = CloseRule::afterRequests(1);
        const WindowHandle ad = rig.desktop.add(s);
        runFor(1100ms);
        EXPECT_FALSE(rig.desktop.exists(ad));
    }
    // Marks follow the menu: with "攔截廣告視窗" switched off, pop-ups stay.
    master->menuCommand(app::MenuCommand::Pop);
    const WindowHandle ad = rig.desktop.add(FakeWindowSpec{kFrameClass, u"ad", {0, 0, 300, 200}});
    FakeWindowSpec folder{kFolderClass, u"文件", {0, 0, 900, 700}};
    const WindowHandle f = rig.desktop.add(folder);
    rig.desktop.setForeground(f);
    master->menuCommand(app::MenuCommand::Max);
    runFor(1100ms);
    EXPECT_TRUE(rig.desktop.exists(ad));
    EXPECT_TRUE(rig.desktop.isMaximized(f));
}

}  // namespace
}  // namespace iw::browser
