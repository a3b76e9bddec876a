// The settings dialog on screen under Wine: the real window over its
// presenter, opened through its host, driven by messages as a user's clicks
// and keys send them (tab clicks, typing, check boxes, the scroll bar, list
// clicks and right clicks with their menu); set.ini, ie.ini and the registry
// are read back afterwards. Pictures of each page go to build/screenshots/.
// The small modal dialogs are the tests' scripted ones.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "settings/program_state.h"
#include "platform/native.h"
#include "settings/accounts.h"
#include "settings/registry_values.h"
#include "settings/settings_store.h"
#include "tests/support/fake_mailset.h"
#include "tests/support/win32/gui_probe.h"
#include "tests/support/win32/layout_check.h"
#include "win32/app/mailset_window.h"
#include "win32/app/master_window.h"

namespace iw::win32app {
namespace {

using settings::IniFile;
using test::ItemText;
using test::MenuProbe;
using test::WindowText;

constexpr char16_t kUser[] = u"tester";

// Hands the fixture's scripted dialogs to the host, which owns what the
// factory returns.
class ForwardingDialogs final : public settings::ModalDialogs {
public:
    explicit ForwardingDialogs(settings::ModalDialogs& to) : to_(to) {}
    void openAccount(settings::AccountRowsOpener& o, const std::u16string& a) override { to_.openAccount(o, a); }
    void openEntry(int m, const std::optional<std::u16string>& t, settings::EntryRowsOpener& o) override {
        to_.openEntry(m, t, o);
    }
    void openLoginPass() override { to_.openLoginPass(); }
    std::optional<std::u16string> askText(const std::u16string& p, const std::u16string& t, bool m) override {
        return to_.askText(p, t, m);
    }

private:
    settings::ModalDialogs& to_;
};

// Answers the next message box of this thread with OK, keeping its title
// and text.
struct MessageBoxAnswer {
    std::wstring title, text;
    static MessageBoxAnswer*& current() {
        static MessageBoxAnswer* p = nullptr;
        return p;
    }
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
        MessageBoxAnswer* a = current();
        HWND box = test::FindMessageBox();
        if (!a || !box || !a->title.empty()) return;
        a->title = WindowText(box);
        a->text = test::MessageBoxText(box);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    // Runs `f`, answering a message box it shows.
    template <typename F>
    void during(F f) {
        title.clear();
        text.clear();
        current() = this;
        const UINT_PTR t = SetTimer(nullptr, 0, 200, &tick);
        f();
        KillTimer(nullptr, t);
        current() = nullptr;
    }
};

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class MailsetOnScreen : public ::testing::Test {
protected:
    platform::NativePlatform native;
    platform::Platform& p = native.get();
    std::wstring folder;
    std::unique_ptr<settings::SettingsStore> store;
    settings::ProgramState state;
    test::FakeModalDialogs dialogs;
    std::unique_ptr<MasterWindow> master;
    std::unique_ptr<MailsetHost> host;
    int programEnds = 0;
    struct Saved {
        platform::RegistryRoot root;
        std::optional<std::u16string> password;
        std::optional<std::uint32_t> marker;
        std::optional<std::u16string> run;
    };
    std::vector<Saved> saved;

    void SetUp() override {
        folder = test::NewTempFolder(L"iw-mailset-");
        ASSERT_FALSE(folder.empty());
        const std::u16string app(folder.begin(), folder.end());
        store = std::make_unique<settings::SettingsStore>(p.files, p.codePage, app);
        state.identity.AppPath = app;
        state.identity.UserSection = kUser;
        // The prefix's own values (a demo's marker, say) come back after the test.
        for (auto root : {platform::RegistryRoot::LocalMachine, platform::RegistryRoot::CurrentUser}) {
            saved.push_back({root, p.registry.readString(root, settings::kProgramKey, u"PassWord"),
                             p.registry.readDword(root, settings::kProgramKey, u""),
                             p.registry.readString(root, settings::kRunKey, settings::kRunValueName)});
        }
        clearRegistry();
    }

    void TearDown() override {
        host.reset();
        master.reset();
        clearRegistry();
        for (const Saved& v : saved) {
            if (v.password) p.registry.writeString(v.root, settings::kProgramKey, u"PassWord", *v.password);
            if (v.marker) p.registry.writeDword(v.root, settings::kProgramKey, u"", *v.marker);
            if (v.run) p.registry.writeString(v.root, settings::kRunKey, settings::kRunValueName, *v.run);
        }
        DeleteFileW((folder + L"set.ini").c_str());
        DeleteFileW((folder + L"ie.ini").c_str());
        RemoveDirectoryW(folder.c_str());
    }

    void clearRegistry() {
        for (auto root : {platform::RegistryRoot::LocalMachine, platform::RegistryRoot::CurrentUser}) {
            p.registry.deleteValue(root, settings::kProgramKey, u"PassWord");
            p.registry.deleteValue(root, settings::kProgramKey, u"");
            p.registry.deleteValue(root, settings::kRunKey, settings::kRunValueName);
        }
    }

    void write(IniFile f, const std::u16string& section, const std::u16string& key, const std::u16string& value) {
        settings::WriteSetting(*store, f, section, key, value);
    }
    std::u16string read(IniFile f, const std::u16string& section, const std::u16string& key) {
        return store->find(f, section, key).value_or(u"<missing>");
    }

    void open() {
        state.prefs.options = settings::ReadOptions(*store, kUser);
        settings::MailsetHooks hooks;
        hooks.loadMaster = [this] {
            master = std::make_unique<MasterWindow>(p, *store, state);
            master->setSettingsDialog(host.get());
            master->load();
        };
        hooks.endProgram = [this] { ++programEnds; };
        host = std::make_unique<MailsetHost>(
            p, *store, state, [this](HWND) { return std::make_unique<ForwardingDialogs>(dialogs); }, hooks);
        host->show();
        ASSERT_NE(host->view(), nullptr);
        settle(200);
    }

    HWND win() { return host->view() ? host->view()->window() : nullptr; }
    HWND w() { return win(); }
    HWND item(int id) { return GetDlgItem(win(), id); }
    void settle(int ms) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < static_cast<DWORD>(ms)) p.loop.pump(platform::Milliseconds(20));
    }
    // A left click in the middle of `r` (client coordinates of `h`).
    void clickAt(HWND h, const RECT& r) {
        const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        PostMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(h, WM_LBUTTONUP, 0, at);
        settle(100);
    }
    void clickTab(int page) {
        RECT r{};
        SendMessageW(item(kMsTab), TCM_GETITEMRECT, page, reinterpret_cast<LPARAM>(&r));
        clickAt(item(kMsTab), r);
    }
    void click(int id) {
        SendMessageW(item(id), BM_CLICK, 0, 0);
        settle(50);
    }
    // Types `text` into an edit box as keystrokes, replacing what it holds.
    void type(int id, const std::wstring& text) {
        HWND e = item(id);
        SetFocus(e);
        SendMessageW(e, EM_SETSEL, 0, -1);
        SendMessageW(e, WM_CHAR, VK_BACK, 0);
        for (wchar_t c : text) SendMessageW(e, WM_CHAR, c, 0);
        settle(50);
    }
    // Selects only `row` of a list view, as a click on it does.
    void selectOnly(int id, int row) {
        HWND lv = item(id);
        LVITEMW none{};
        none.stateMask = LVIS_SELECTED;
        SendMessageW(lv, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
        test::SelectRow(lv, row);
    }
    bool checked(HWND lv, int row) {
        return ((SendMessageW(lv, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) >> 12) == 2;
    }
    void shot(const wchar_t* name) {
        settle(300);
        RECT r;
        GetWindowRect(win(), &r);
        test::SaveBmp(test::Grab(r), test::ScreenshotDir() + L"\\" + name + test::ShotSuffix() + L".bmp");
    }
};

// Visible controls of the dialog: none overlaps another (the tab control
// and the slider's frame hold others), every caption fits, all lie inside
// the client area.
void ExpectCleanPage(HWND w) { test::ExpectCleanLayout(w, {kMsTab, kMsFrame5}); }

int FontHeight(HWND h) {
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
}

TEST_F(MailsetOnScreen, MovingToAScreenOfAnotherDpiScalesFontAndLayout) {
    open();
    const UINT from = GetDpiForWindow(w());
    const UINT to = from * 3 / 2;
    const int fontBefore = FontHeight(item(kMsCheck1 + 1));
    RECT before;
    GetWindowRect(w(), &before);
    RECT suggested{before.left, before.top, before.left + (before.right - before.left) * 3 / 2,
                   before.top + (before.bottom - before.top) * 3 / 2};
    SendMessageW(w(), WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
    settle(100);
    EXPECT_GT(FontHeight(item(kMsCheck1 + 1)), fontBefore);
    for (int page : {0, 1, 2}) {
        clickTab(page);
        ExpectCleanPage(w());
    }
    // The companion still follows its box's caption.
    RECT box, combo;
    GetWindowRect(item(kMsCheck1 + 1), &box);
    GetWindowRect(item(kMsCombo1), &combo);
    EXPECT_GE(combo.left, box.right);
}

TEST_F(MailsetOnScreen, UserChangesAreSavedAndStartAtLogonWritten) {
    open();
    click(kMsCheck1 + 0);  // start at log-on
    click(kMsCheck1 + 7);  // time correction: its server list comes alive
    EXPECT_TRUE(IsWindowEnabled(item(kMsCombo3)));
    // Choose "10" minutes as the drop-down list reports a choice.
    SendMessageW(item(kMsCombo1), CB_SETCURSEL, 2, 0);
    SendMessageW(w(), WM_COMMAND, MAKEWPARAM(kMsCombo1, CBN_SELCHANGE), reinterpret_cast<LPARAM>(item(kMsCombo1)));
    clickTab(1);
    type(kMsText1, L"300");
    EXPECT_EQ(GetScrollPos(item(kMsVScroll1), SB_CTL), 1748);
    // One step up on the scroll bar.
    SendMessageW(w(), WM_VSCROLL, SB_LINEUP, reinterpret_cast<LPARAM>(item(kMsVScroll1)));
    EXPECT_EQ(WindowText(item(kMsText1)), L"301");
    click(kMsCheck1 + 4);  // size limit off: field and bar disabled
    EXPECT_FALSE(IsWindowEnabled(item(kMsText1)));
    EXPECT_FALSE(IsWindowEnabled(item(kMsVScroll1)));
    clickTab(2);
    SendMessageW(item(kMsSlider1), TBM_SETPOS, TRUE, 40);
    SendMessageW(w(), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 40), reinterpret_cast<LPARAM>(item(kMsSlider1)));
    click(kMsCommand1);
    settle(100);

    EXPECT_EQ(host->view(), nullptr) << "saved and closed";
    EXPECT_EQ(read(IniFile::Set, kUser, u"Option"), u"111001010100");
    EXPECT_EQ(read(IniFile::Set, kUser, u"Check"), u"2");
    EXPECT_EQ(read(IniFile::Set, kUser, u"Size"), u"301");
    EXPECT_EQ(read(IniFile::Set, kUser, u"AD-PoP"), u"40");
    EXPECT_EQ(state.prefs.CheckIntervalMinutes, 10);
    settings::RegistryValues reg(p.registry);
    EXPECT_TRUE(reg.RunAtLogon());
    // Opened again, unchecked and saved: the value goes.
    open();
    EXPECT_EQ(SendMessageW(item(kMsCheck1), BM_GETCHECK, 0, 0), BST_CHECKED);
    click(kMsCheck1 + 0);
    click(kMsCommand1);
    EXPECT_FALSE(reg.RunAtLogon());
}

TEST_F(MailsetOnScreen, EscapeDiscardsEverything) {
    open();
    const std::string before = ReadBytes(folder + L"set.ini");
    click(kMsCheck1 + 3);
    SendMessageW(w(), WM_COMMAND, IDCANCEL, 0);  // Esc, as the dialog manager reports it
    settle(100);
    EXPECT_EQ(host->view(), nullptr);
    EXPECT_EQ(ReadBytes(folder + L"set.ini"), before);
    EXPECT_EQ(programEnds, 0) << "not a first run";
}

TEST_F(MailsetOnScreen, BlackListMenuDomainSwitchAndRemovingSeveralRows) {
    for (auto a : {u"a@one.example", u"b@two.example", u"c@three.example"})
        write(IniFile::Set, settings::BlackListSection(kUser), a, u"0");
    open();
    clickTab(1);
    HWND lv = item(kMsListView2);
    selectOnly(kMsListView2, 1);
    MenuProbe menu;
    menu.run(w(), [&] { test::SendListNotify(w(), lv, kMsListView2, NM_RCLICK, 1); }, L"網域過濾");
    ASSERT_TRUE(menu.opened);
    std::vector<std::wstring> texts;
    for (const auto& it : menu.items) texts.push_back(it.text);
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"新增名單", L"移除名單", L"修改名單", L"網域過濾"}));
    EXPECT_FALSE(menu.find(L"網域過濾")->state & MFS_CHECKED);
    settle(100);
    EXPECT_EQ(read(IniFile::Set, settings::BlackListSection(kUser), u"b@two.example"), u"1");
    EXPECT_EQ(read(IniFile::Set, settings::DomainListSection(kUser), u"two.example"), u"0");
    menu.run(w(), [&] { test::SendListNotify(w(), lv, kMsListView2, NM_RCLICK, 1); });
    EXPECT_TRUE(menu.find(L"網域過濾")->state & MFS_CHECKED);

    // The trust list's menu has no domain switch.
    menu.run(w(), [&] { test::SendListNotify(w(), item(kMsListView3), kMsListView3, NM_RCLICK, -1); });
    EXPECT_EQ(menu.items.size(), 3u);

    // Two rows selected (as with Ctrl+click), removed at once.
    test::SelectRow(lv, 0);
    test::SelectRow(lv, 2);
    menu.run(w(), [&] { test::SendListNotify(w(), lv, kMsListView2, NM_RCLICK, 2); }, L"移除名單");
    settle(100);
    EXPECT_EQ(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0), 0) << "all three were selected";
    EXPECT_TRUE(store->listKeys(IniFile::Set, settings::BlackListSection(kUser)).empty());
    EXPECT_EQ(read(IniFile::Set, settings::DomainListSection(kUser), u"two.example"), u"0") << "domain entry stays";
}

TEST_F(MailsetOnScreen, AccountButtonsAndTheEntryDialogThroughTheOpeners) {
    write(IniFile::Set, settings::RosterSection(kUser), u"old@example.com", u"0");
    write(IniFile::Set, u"old@example.com", u"Account", u"old");
    open();
    dialogs.onAccount = [](settings::AccountRowsOpener& o, const std::u16string&) { o.addRow(u"new", u"new@x.tw"); };
    click(kMsCommand3);
    EXPECT_EQ(ItemText(item(kMsListView1), 1, 1), L"new@x.tw");
    click(kMsCommand4);  // nothing selected
    EXPECT_EQ(SendMessageW(item(kMsListView1), LVM_GETITEMCOUNT, 0, 0), 2);
    selectOnly(kMsListView1, 0);
    click(kMsCommand4);
    EXPECT_EQ(ItemText(item(kMsListView1), 0, 0), L"new");
    EXPECT_EQ(read(IniFile::Set, settings::RosterSection(kUser), u"old@example.com"), u"<missing>");

    clickTab(1);
    dialogs.onEntry = [](int, const std::optional<std::u16string>&, settings::EntryRowsOpener& o) {
        o.addRow(u"t@trust.example");
    };
    MenuProbe menu;
    menu.run(w(), [&] { test::SendListNotify(w(), item(kMsListView3), kMsListView3, NM_RCLICK, -1); }, L"新增名單");
    settle(100);
    ASSERT_EQ(dialogs.entryCalls.size(), 1u);
    EXPECT_EQ(dialogs.entryCalls[0].first, 2);
    EXPECT_EQ(ItemText(item(kMsListView3), 0, 0), L"t@trust.example");

    click(kMsCommand6);
    EXPECT_EQ(dialogs.loginPassCalls, 1);
}

TEST_F(MailsetOnScreen, LockedWebPageUntilThePasswordIsGiven) {
    settings::RegistryValues(p.registry).WriteRegString(u"PassWord", u"pw");
    write(IniFile::Ie, u"IeUrl", u"http://a.example/", u"0");
    open();
    clickTab(2);
    HWND lv = item(kMsListView4);
    EXPECT_TRUE(IsWindowVisible(item(kMsCommand7)));
    EXPECT_FALSE(IsWindowEnabled(item(kMsCheck1 + 8)));
    shot(L"mailset_web_locked");

    // A tick with the space bar on the focused row: not written, not kept.
    SetFocus(lv);
    test::SelectRow(lv, 0);
    SendMessageW(lv, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(lv, WM_KEYUP, VK_SPACE, 0);
    settle(100);
    EXPECT_EQ(read(IniFile::Ie, u"IeUrl", u"http://a.example/"), u"0");
    EXPECT_FALSE(checked(lv, 0));
    MenuProbe menu;
    menu.run(w(), [&] { test::SendListNotify(w(), lv, kMsListView4, NM_RCLICK, 0); });
    EXPECT_FALSE(menu.opened) << "no menu while locked";

    dialogs.answer = u"PW";
    MessageBoxAnswer box;
    box.during([&] { click(kMsCommand7); });
    EXPECT_EQ(box.title, L"網址過濾");
    EXPECT_EQ(box.text, L"密碼錯誤");
    EXPECT_TRUE(IsWindowVisible(item(kMsCommand7))) << "wrong letter case stays locked";
    dialogs.answer = u"pw";
    click(kMsCommand7);
    EXPECT_FALSE(IsWindowVisible(item(kMsCommand7)));
    EXPECT_TRUE(IsWindowEnabled(item(kMsCheck1 + 8)));
    SetFocus(lv);
    SendMessageW(lv, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(lv, WM_KEYUP, VK_SPACE, 0);
    settle(100);
    EXPECT_TRUE(checked(lv, 0));
    EXPECT_EQ(read(IniFile::Ie, u"IeUrl", u"http://a.example/"), u"1");
    menu.run(w(), [&] { test::SendListNotify(w(), lv, kMsListView4, NM_RCLICK, 0); }, L"個別過濾");
    ASSERT_TRUE(menu.opened);
    EXPECT_NE(menu.find(L"開啟網頁"), nullptr);
    settle(100);
    EXPECT_EQ(read(IniFile::Ie, u"IeUrl", u"http://a.example/"), u"3");
    EXPECT_FALSE(checked(lv, 0));
}

TEST_F(MailsetOnScreen, FirstRunSaveWritesTheMarkerAndBringsUpTheTrayIcon) {
    state.identity.FirstRun = true;
    open();
    EXPECT_EQ(settings::RegistryValues(p.registry).ReadFirstRunNumber(), 0u);
    click(kMsCommand1);
    settle(200);
    EXPECT_EQ(settings::RegistryValues(p.registry).ReadFirstRunNumber(), 1u);
    ASSERT_NE(master, nullptr);
    EXPECT_TRUE(master->iconShown());
    EXPECT_EQ(host->view(), nullptr);
    // "偏好設定" from the tray opens the dialog again, and a second choice
    // brings the same dialog to the front.
    master->presenter().menuCommand(app::MenuCommand::Mail);
    settle(200);
    ASSERT_NE(host->view(), nullptr);
    HWND first = win();
    master->presenter().menuCommand(app::MenuCommand::Mail);
    settle(200);
    EXPECT_EQ(win(), first);
    EXPECT_EQ(FindWindowW(kMailsetClass, nullptr), first);
    // "結束" unloads the dialog with the main window.
    master->presenter().menuCommand(app::MenuCommand::Exit);
    settle(200);
    EXPECT_FALSE(master->iconShown());
    EXPECT_EQ(host->view(), nullptr);
    EXPECT_EQ(programEnds, 0);
}

TEST_F(MailsetOnScreen, FirstRunCloseBoxEndsWithoutMarker) {
    state.identity.FirstRun = true;
    open();
    SendMessageW(w(), WM_CLOSE, 0, 0);
    settle(100);
    EXPECT_EQ(programEnds, 1);
    EXPECT_EQ(host->view(), nullptr);
    EXPECT_EQ(settings::RegistryValues(p.registry).ReadFirstRunNumber(), 0u);
    EXPECT_EQ(master, nullptr);
}

}  // namespace
}  // namespace iw::win32app
