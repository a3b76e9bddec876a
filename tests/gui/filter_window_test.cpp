// The filter window on screen under Wine: the real window over the presenter,
// opened through the main window's opener, runs a session against a scripted
// POP3 server on loopback; the rows, check marks and colours are read back
// through the list-view messages and from the screen's pixels, and pictures
// of the filter window and the tip window go to build/screenshots/.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "settings/program_state.h"
#include "platform/native.h"
#include "settings/accounts.h"
#include "settings/settings_store.h"
#include "tests/support/filter_fakes.h"
#include "tests/support/loopback_server.h"
#include "tests/support/win32/dialog_driver.h"
#include "tests/support/win32/gui_probe.h"
#include "tests/support/win32/layout_check.h"
#include "tests/support/win32/screen_capture.h"
#include "win32/app/modal_dialogs_win32.h"
#include "win32/app/filter_window_host.h"
#include "win32/app/filter_window_view.h"
#include "win32/platform/handles.h"

namespace iw::win32app {
namespace {

using settings::IniFile;

using test::Capture;
using test::CountNear;
using test::Grab;
using test::ItemText;
using test::MenuProbe;
using test::SaveBmp;
using test::ScreenshotDir;
using test::SelectRow;
using test::SendListNotify;
using test::ShotSuffix;
using test::WindowText;

constexpr char16_t kUser[] = u"tester";

std::string QEncode(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "=%02X", c);
        out += buf;
    }
    return out;
}

// The scripted mailbox: four messages, the TOP replies held back until
// `release` is set so that a test can look at the window mid-session.
struct Mailbox {
    std::vector<std::string> headers;
    std::vector<int> sizes;
    std::atomic<bool> release{true};
    std::mutex mutex;
    std::vector<int> deleted;

    void serve(test::LoopbackStream& s) {
        s.write("+OK ready\r\n");
        while (auto line = s.readLine()) {
            std::string cmd = line->substr(0, line->find_first_of(" \r\n"));
            for (auto& c : cmd) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            if (cmd == "USER" || cmd == "PASS") {
                s.write("+OK\r\n");
            } else if (cmd == "STAT") {
                int total = 0;
                for (int z : sizes) total += z;
                s.write("+OK " + std::to_string(sizes.size()) + " " + std::to_string(total) + "\r\n");
            } else if (cmd == "LIST") {
                std::string r = "+OK\r\n";
                for (std::size_t i = 0; i < sizes.size(); ++i)
                    r += std::to_string(i + 1) + " " + std::to_string(sizes[i]) + "\r\n";
                s.write(r + ".\r\n");
            } else if (cmd == "TOP") {
                while (!release) Sleep(20);
                const int n = std::atoi(line->c_str() + 4);
                const std::string h = n >= 1 && n <= static_cast<int>(headers.size()) ? headers[static_cast<std::size_t>(n - 1)] : "";
                s.write("+OK\r\n" + h + "\r\n\r\nbody line\r\n.\r\n");
            } else if (cmd == "DELE") {
                std::lock_guard<std::mutex> lock(mutex);
                deleted.push_back(std::atoi(line->c_str() + 5));
                s.write("+OK\r\n");
            } else if (cmd == "NOOP") {
                s.write("+OK\r\n");
            } else if (cmd == "QUIT") {
                s.write("+OK bye\r\n");
                s.close();
                return;
            } else {
                s.write("-ERR\r\n");
            }
        }
    }
};



class FilterWindowOnScreen : public ::testing::Test {
protected:
    platform::NativePlatform native;
    platform::Platform& p = native.get();
    std::wstring folder;
    std::unique_ptr<settings::SettingsStore> store;
    settings::ProgramState state;
    test::RecordingMainLink mainLink;
    Mailbox mailbox;
    std::unique_ptr<test::LoopbackServer> server;
    std::unique_ptr<app::FilterWindowOpener> opener;

    void SetUp() override {
        folder = test::NewTempFolder(L"iw-filterwin-");
        ASSERT_FALSE(folder.empty());
        const std::u16string app(folder.begin(), folder.end());
        store = std::make_unique<settings::SettingsStore>(p.files, p.codePage, app);
        state.identity.AppPath = app;
        state.identity.UserSection = kUser;
        // Black list (4), size limit (5) and blank sender (6) on.
        state.prefs.options = settings::Options::FromStored(u"011111000000");

        const std::string big5 = p.codePage.fromUtf16(platform::kBig5, u"會議通知");
        const std::string utf8 = "\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C";  // 你好，世界
        mailbox.headers = {
            "From: friend@example.com\r\nSubject: =?big5?Q?" + QEncode(big5) + "?=\r\nDate: Mon, 7 Dec 2026 10:00:00 +0800",
            "From: Spammer <spam@junk.example>\r\nSubject: =?utf-8?Q?" + QEncode(utf8) + "?=\r\nDate: Mon, 7 Dec 2026 11:00:00 +0800",
            "From: colleague@example.com\r\nSubject: plain text\r\nDate: Mon, 7 Dec 2026 12:00:00 +0800",
            "From: big@example.com\r\nSubject: large attachment\r\nDate: Mon, 7 Dec 2026 13:00:00 +0800",
        };
        mailbox.sizes = {1200, 900, 800, 80000};
        server = std::make_unique<test::LoopbackServer>([this](test::LoopbackStream& s) { mailbox.serve(s); },
                                                        test::LoopbackOptions{"127.0.0.1", 0, 0, 0});
        ASSERT_TRUE(server->listening());

        const std::u16string address = u"me@example.com";
        const std::string port = std::to_string(server->port());
        settings::WriteSetting(*store, IniFile::Set, settings::RosterSection(kUser), address, u"1");
        settings::WriteSetting(*store, IniFile::Set, address, u"Account", u"me");
        settings::WriteSetting(*store, IniFile::Set, address, u"PassWord", settings::ScramblePassword(p.codePage, u"secret"));
        settings::WriteSetting(*store, IniFile::Set, address, u"PoP3", u"127.0.0.1:" + std::u16string(port.begin(), port.end()));
        settings::WriteSetting(*store, IniFile::Set, settings::BlackListSection(kUser), u"spam@junk.example", u"0");
        settings::WriteSetting(*store, IniFile::Set, kUser, u"Size", u"50");
        opener = createFilterWindowOpener(FilterWindowDeps{p, state, *store, mainLink});
    }

    void TearDown() override {
        mailbox.release = true;
        opener.reset();
        server.reset();
        DeleteFileW((folder + L"set.ini").c_str());
        RemoveDirectoryW(folder.c_str());
    }

    HWND filterWindow() const { return FindWindowW(kFilterWindowClass, nullptr); }
    HWND item(int id) const { return GetDlgItem(filterWindow(), id); }

    template <typename F>
    bool pumpUntil(F done, int ms = 60000) {  // only stops a hung test
        const DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > static_cast<DWORD>(ms)) return false;
            p.loop.pump(platform::Milliseconds(20));
        }
        return true;
    }
    bool sessionEnded() { return filterWindow() && IsWindowEnabled(item(kIdCommand1)); }
    void settle(int ms) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < static_cast<DWORD>(ms)) p.loop.pump(platform::Milliseconds(20));
    }
    RECT screenRect(HWND h) {
        RECT r;
        GetWindowRect(h, &r);
        return r;
    }
};

TEST_F(FilterWindowOnScreen, SessionShowsTheRowsWithTheirMarksAndColours) {
    mailbox.release = false;
    opener->showFilterWindow();
    HWND win = filterWindow();
    ASSERT_NE(win, nullptr);
    EXPECT_EQ(WindowText(win), L"郵件過濾");
    EXPECT_FALSE(IsWindowEnabled(item(kIdCommand1)));

    // Mid-session (the server holds its TOP replies back): the tip window
    // shows the progress over the filter window. The session pumps the loop
    // itself, so the look is taken from a timer that runs inside its waits.
    // (A close at this point ends the session without deleting; the
    // presenter's tests cover that.)
    HWND tip = nullptr;
    std::wstring tipText;
    const auto timer = p.loop.startTimer(platform::Milliseconds(100), true, [&] {
        if (tip) return;
        HWND t = FindWindowW(kTipWindowClass, nullptr);
        HWND label = t ? FindWindowExW(t, nullptr, L"STATIC", nullptr) : nullptr;
        if (!label || !IsWindowVisible(t) || WindowText(label).find(L"me@example.com") == std::wstring::npos) return;
        tip = t;
        tipText = WindowText(label);
        RedrawWindow(t, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(300);
        SaveBmp(Grab(screenRect(t)), ScreenshotDir() + L"\\mailtip" + ShotSuffix() + L".bmp");
        EXPECT_FALSE(IsWindowEnabled(item(kIdCommand1)));
        mailbox.release = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    p.loop.stopTimer(timer);
    ASSERT_NE(tip, nullptr) << "the tip window never showed the account";
    EXPECT_NE(tipText.find(L"me@example.com"), std::wstring::npos);
    EXPECT_FALSE(IsWindowVisible(tip) && IsWindow(tip));

    HWND lv1 = item(kIdListView1);
    ASSERT_EQ(SendMessageW(lv1, LVM_GETITEMCOUNT, 0, 0), 1);
    EXPECT_EQ(ItemText(lv1, 0, 0), L"me");
    EXPECT_EQ(ItemText(lv1, 0, 1), L"me@example.com");

    HWND lv2 = item(kIdListView2);
    ASSERT_EQ(SendMessageW(lv2, LVM_GETITEMCOUNT, 0, 0), 4);
    struct Expect {
        const wchar_t* sender;
        const wchar_t* subject;
        bool checked;
    } rows[] = {
        {L"friend@example.com", L"會議通知", false},
        {L"Spammer <spam@junk.example>", L"你好，世界", true},
        {L"colleague@example.com", L"plain text", false},
        {L"big@example.com", L"large attachment", true},
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ItemText(lv2, i, 0), rows[i].sender);
        EXPECT_EQ(ItemText(lv2, i, 1), rows[i].subject);
        EXPECT_EQ(ListView_GetCheckState(lv2, i) != 0, rows[i].checked);
    }
    EXPECT_NE(ItemText(lv2, 3, 2), L"");

    // The colours as drawn: red for the black-listed row, the size rule's
    // blue for the oversized one, neither in the plain rows.
    RedrawWindow(win, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    settle(700);
    const RECT lvScreen = screenRect(lv2);
    const Capture shot = Grab(screenRect(win));
    SaveBmp(shot, ScreenshotDir() + L"\\filter_window" + ShotSuffix() + L".bmp");
    const Capture list = Grab(lvScreen);
    auto rowRect = [&](int i) {
        RECT r{};
        r.left = LVIR_LABEL;
        SendMessageW(lv2, LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r));
        POINT a{r.left, r.top}, b{r.right, r.bottom};
        MapWindowPoints(lv2, nullptr, &a, 1);
        MapWindowPoints(lv2, nullptr, &b, 1);
        RECT out{a.x - lvScreen.left, a.y - lvScreen.top, b.x - lvScreen.left + 600, b.y - lvScreen.top};
        return out;
    };
    const std::uint32_t red = 0xFF0000, blue = 0x2900DF;
    EXPECT_GT(CountNear(list, rowRect(1), red), 5);
    EXPECT_EQ(CountNear(list, rowRect(1), blue), 0);
    EXPECT_GT(CountNear(list, rowRect(3), blue), 5);
    EXPECT_EQ(CountNear(list, rowRect(0), red), 0);
    EXPECT_EQ(CountNear(list, rowRect(2), blue), 0);

    // After the session, a check mark the user changes reaches the account's list.
    ListView_SetCheckState(lv2, 0, TRUE);
    settle(100);
    EXPECT_TRUE(ListView_GetCheckState(lv2, 0));

    // The user's close now runs the deletion run: the checked rows go.
    PostMessageW(win, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return filterWindow() == nullptr; }));
    std::lock_guard<std::mutex> lock(mailbox.mutex);
    EXPECT_EQ(mailbox.deleted, (std::vector<int>{1, 2, 4}));
}

// Every row says why it is or is not marked, in a tooltip that follows the
// mouse from row to row and tells a mark the user changed afterwards.
// An OAuth2 account that was never signed in: the window says so in the
// status bar and the account's row, and nothing reaches the server.
TEST_F(FilterWindowOnScreen, AnOAuth2AccountWithoutASignInSaysSo) {
    const std::u16string address = u"me@example.com";
    settings::WriteSetting(*store, IniFile::Set, address, u"Auth", u"1");
    settings::WriteSetting(*store, IniFile::Set, address, u"OAuthProvider", u"custom");
    settings::WriteSetting(*store, IniFile::Set, address, u"Security", u"1");
    opener->showFilterWindow();
    HWND win = filterWindow();
    ASSERT_NE(win, nullptr);
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    wchar_t text[256] = L"";
    SendMessageW(item(kIdStatusBar1), SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::wstring(text), L"me@example.com尚未登入帳號,請在帳號設定中按「登入」");
    EXPECT_EQ(SendMessageW(item(kIdListView2), LVM_GETITEMCOUNT, 0, 0), 0);
    settle(300);
    RedrawWindow(win, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    settle(500);  // the loop handles the paints of the status bar too
    SaveBmp(Grab(screenRect(win)), ScreenshotDir() + L"\\filter_window_oauth" + ShotSuffix() + L".bmp");
}

TEST_F(FilterWindowOnScreen, RowsSayWhyInTheirTooltip) {
    opener->showFilterWindow();
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    HWND win = filterWindow();
    HWND lv2 = item(kIdListView2);
    ASSERT_EQ(SendMessageW(lv2, LVM_GETITEMCOUNT, 0, 0), 4);
    // The tooltip window the filter window owns.
    auto findTip = [&]() -> HWND {
        for (HWND h = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr); h;
             h = FindWindowExW(nullptr, h, TOOLTIPS_CLASSW, nullptr))
            if (GetWindow(h, GW_OWNER) == win) return h;
        return nullptr;
    };
    HWND tip = findTip();
    ASSERT_NE(tip, nullptr);
    auto tipText = [&]() -> std::wstring {
        wchar_t buf[512] = L"";
        TTTOOLINFOW ti{};
        ti.cbSize = sizeof ti;
        ti.hwnd = win;
        ti.uId = reinterpret_cast<UINT_PTR>(lv2);
        ti.lpszText = buf;
        SendMessageW(tip, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&ti));
        return buf;
    };
    // The mouse over a row's subject, as the user would move it there.
    auto hover = [&](int row) {
        RECT r{};
        r.top = 1;
        r.left = LVIR_BOUNDS;
        SendMessageW(lv2, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        POINT screen = at;
        ClientToScreen(lv2, &screen);
        SetCursorPos(screen.x, screen.y);
        PostMessageW(lv2, WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
        settle(100);
    };
    struct Case {
        int row;
        const wchar_t* reason;
    } cases[] = {
        {1, L"黑名單:spam@junk.example"},
        {3, L"信件大小 78.1KB 超過上限 50KB"},
        {0, L"未符合任何過濾規則"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        hover(c.row);
        EXPECT_EQ(tipText(), c.reason);
    }
    // The tooltip shows after the usual delay, next to the mouse.
    hover(1);
    const bool shown = pumpUntil([&] { return IsWindowVisible(tip) != 0; }, 5000);
    EXPECT_TRUE(shown) << "the tooltip never showed";
    RedrawWindow(win, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    settle(300);
    RECT shot = screenRect(win), tipRect = screenRect(tip);
    UnionRect(&shot, &shot, &tipRect);
    SaveBmp(Grab(shot), ScreenshotDir() + L"\\filter_reason_tooltip" + ShotSuffix() + L".bmp");
    if (shown) {
        const std::wstring face = [&] {
            LOGFONTW lf{};
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(tip, WM_GETFONT, 0, 0)), sizeof lf, &lf);
            return std::wstring(lf.lfFaceName);
        }();
        EXPECT_EQ(face, [&] {
            LOGFONTW lf{};
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(lv2, WM_GETFONT, 0, 0)), sizeof lf, &lf);
            return std::wstring(lf.lfFaceName);
        }());  // the list's font, which has the Chinese glyphs
    }
    // A mark the user changes is said first.
    ListView_SetCheckState(lv2, 0, TRUE);
    settle(100);
    hover(2);
    hover(0);
    EXPECT_EQ(tipText(), L"目前已勾選;自動判斷:未符合任何過濾規則");
    ListView_SetCheckState(lv2, 1, FALSE);
    settle(100);
    hover(1);
    EXPECT_EQ(tipText(), L"目前未勾選;自動判斷:黑名單:spam@junk.example");

    PostMessageW(win, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return filterWindow() == nullptr; }));
}

TEST_F(FilterWindowOnScreen, CountdownLabelAndMinimumSize) {
    settings::WriteSetting(*store, IniFile::Set, kUser, u"AutoMail", u"1");
    opener->showFilterWindow();
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    HWND label2 = item(kIdLabel2);
    EXPECT_TRUE(IsWindowVisible(label2));
    const std::wstring text = WindowText(label2);
    EXPECT_TRUE(text == L"30 秒後自動執行刪除" || text.find(L"秒後自動執行刪除") != std::wstring::npos) << text;
    RECT lr;
    GetClientRect(label2, &lr);
    EXPECT_GT(lr.right, 40);  // sized to its text
    // It counts down once a second, and stays sized to its text.
    EXPECT_TRUE(pumpUntil([&] { return WindowText(label2) == L"29 秒後自動執行刪除"; })) << WindowText(label2);
    {
        HDC dc = GetDC(label2);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label2, WM_GETFONT, 0, 0)));
        SIZE ext{};
        const std::wstring now = WindowText(label2);
        GetTextExtentPoint32W(dc, now.c_str(), static_cast<int>(now.size()), &ext);
        SelectObject(dc, old);
        ReleaseDC(label2, dc);
        GetClientRect(label2, &lr);
        EXPECT_GE(lr.right, ext.cx);
    }

    // A click on the account list stops the countdown.
    HWND lv1 = item(kIdListView1);
    NMITEMACTIVATE click{};
    click.hdr.hwndFrom = lv1;
    click.hdr.idFrom = kIdListView1;
    click.hdr.code = NM_CLICK;
    click.iItem = 0;
    SendMessageW(filterWindow(), WM_NOTIFY, kIdListView1, reinterpret_cast<LPARAM>(&click));
    EXPECT_FALSE(IsWindowVisible(label2));

    // Resizing below the minimum snaps back: the client never reads smaller
    // than 8085 x 5880 twips.
    HWND win = filterWindow();
    SetWindowPos(win, nullptr, 0, 0, 200, 150, SWP_NOMOVE | SWP_NOZORDER);
    settle(200);
    RECT rc;
    GetClientRect(win, &rc);
    const UINT dpi = GetDpiForWindow(win);
    EXPECT_GE(rc.right * 1440 / static_cast<int>(dpi), 8085);
    EXPECT_GE(rc.bottom * 1440 / static_cast<int>(dpi), 5880);

    // A larger window: the lists grow and Command1 keeps its distance from the right edge.
    SetWindowPos(win, nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    settle(200);
    GetClientRect(win, &rc);
    RECT b;
    GetWindowRect(item(kIdCommand1), &b);
    MapWindowPoints(nullptr, win, reinterpret_cast<POINT*>(&b), 2);
    EXPECT_NEAR(rc.right - b.right, MulDiv(810, static_cast<int>(dpi), 1440), 2);
    RECT l2;
    GetWindowRect(item(kIdListView2), &l2);
    EXPECT_NEAR(l2.bottom - l2.top, MulDiv(rc.bottom * 1440 / static_cast<int>(dpi) - 2160, static_cast<int>(dpi), 1440), 2);

    // Closing ends the run; nothing is checked, nothing deleted.
    PostMessageW(win, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return filterWindow() == nullptr; }));
}


// --- the pop-up menus, the middle button, the first size, DPI, log-off -----


std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

using test::ClientRectOf;
using test::ExpectCleanLayout;

int FontHeight(HWND h) {
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
}

TEST_F(FilterWindowOnScreen, OpensWideEnoughForEveryColumn) {
    struct Case {
        const char16_t* stored;  // ColumnWidth, or null for none
    } cases[] = {{nullptr}, {u"3000,4000,1440,2600"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? "stored widths" : "design widths");
        if (c.stored) settings::WriteSetting(*store, IniFile::Set, kUser, u"ColumnWidth", c.stored);
        opener = createFilterWindowOpener(FilterWindowDeps{p, state, *store, mainLink});
        opener->showFilterWindow();
        HWND win = filterWindow();
        ASSERT_NE(win, nullptr);
        HWND lv2 = item(kIdListView2);
        RECT lc;
        GetClientRect(lv2, &lc);
        int columns = 0;
        for (int k = 0; k < 5; ++k) columns += static_cast<int>(SendMessageW(lv2, LVM_GETCOLUMNWIDTH, k, 0));
        // Room for a vertical scroll bar too, once the rows fill the list;
        // or, when that is wider than the screen, as wide as the screen.
        MONITORINFO mi{};
        mi.cbSize = sizeof mi;
        GetMonitorInfoW(MonitorFromWindow(win, MONITOR_DEFAULTTOPRIMARY), &mi);
        const RECT outer = screenRect(win);
        if (outer.right - outer.left < mi.rcWork.right - mi.rcWork.left) {
            EXPECT_LE(columns + GetSystemMetricsForDpi(SM_CXVSCROLL, GetDpiForWindow(win)), lc.right);
        } else {
            EXPECT_EQ(outer.right - outer.left, mi.rcWork.right - mi.rcWork.left);
        }
        ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
        ExpectCleanLayout(win);
        PostMessageW(win, WM_CLOSE, 0, 0);
        ASSERT_TRUE(pumpUntil([&] { return filterWindow() == nullptr; }));
    }
}

TEST_F(FilterWindowOnScreen, MessageMenuShowsMarksAndItsCommandsWriteTheLists) {
    opener->showFilterWindow();
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    HWND win = filterWindow();
    HWND lv2 = item(kIdListView2);
    MenuProbe menu;

    // Row 1 comes from the black-listed spammer: "黑名單" is marked.
    SelectRow(lv2, 1);
    menu.run(win, [&] { SendListNotify(win, lv2, kIdListView2, NM_RCLICK, 1); });
    ASSERT_TRUE(menu.opened);
    ASSERT_EQ(menu.items.size(), 4u);
    const wchar_t* texts[] = {L"自動黑名單", L"黑名單", L"網域過濾", L"信任名單"};
    const bool marks[] = {false, true, false, false};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(menu.items[static_cast<std::size_t>(i)].text, texts[i]);
        EXPECT_EQ((menu.items[static_cast<std::size_t>(i)].state & MFS_CHECKED) != 0, marks[i]);
        EXPECT_FALSE(menu.items[static_cast<std::size_t>(i)].state & MFS_DISABLED);
    }

    // "信任名單" for that sender: the key is written and the row unchecked.
    const std::wstring ini = folder + L"set.ini";
    menu.run(win, [&] { SendListNotify(win, lv2, kIdListView2, NM_RCLICK, 1); }, L"信任名單");
    settle(150);
    EXPECT_NE(ReadFileBytes(ini).find("[tester-TrustList]\r\nspam@junk.example=0"), std::string::npos);
    EXPECT_FALSE(ListView_GetCheckState(lv2, 1));
    // Opened again, the menu shows both marks (trusted and black-listed).
    menu.run(win, [&] { SendListNotify(win, lv2, kIdListView2, NM_RCLICK, 1); });
    ASSERT_NE(menu.find(L"信任名單"), nullptr);
    EXPECT_TRUE(menu.find(L"信任名單")->state & MFS_CHECKED);
    EXPECT_TRUE(menu.find(L"黑名單")->state & MFS_CHECKED);

    // "網域過濾" on the oversized row's sender: the domain is listed and every
    // row whose sender holds it is checked.
    SelectRow(lv2, 0);
    menu.run(win, [&] { SendListNotify(win, lv2, kIdListView2, NM_RCLICK, 0); }, L"網域過濾");
    settle(150);
    EXPECT_NE(ReadFileBytes(ini).find("[tester-Domain]\r\nexample.com=0"), std::string::npos);
    for (int row : {0, 2, 3}) EXPECT_TRUE(ListView_GetCheckState(lv2, row)) << row;

    // "自動黑名單": every checked row's sender goes on the black list.
    menu.run(win, [&] { SendListNotify(win, lv2, kIdListView2, NM_RCLICK, 0); }, L"自動黑名單");
    settle(150);
    const std::string text = ReadFileBytes(ini);
    for (const char* key : {"friend@example.com=0", "colleague@example.com=0", "big@example.com=0"})
        EXPECT_NE(text.find(key), std::string::npos) << key;

    // The left button opens no menu.
    menu.run(win, [&] { SendListNotify(win, lv2, kIdListView2, NM_CLICK, 0); });
    EXPECT_FALSE(menu.opened);

    // The account's list got the same marks: closing deletes rows 1, 3, 4.
    PostMessageW(win, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return filterWindow() == nullptr; }));
    std::lock_guard<std::mutex> lock(mailbox.mutex);
    EXPECT_EQ(mailbox.deleted, (std::vector<int>{1, 3, 4}));
}

TEST_F(FilterWindowOnScreen, AccountMenuAndTheMiddleButton) {
    settings::WriteSetting(*store, IniFile::Set, kUser, u"AutoMail", u"1");
    opener->showFilterWindow();
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    HWND win = filterWindow();
    HWND lv1 = item(kIdListView1);
    HWND lv2 = item(kIdListView2);
    HWND label2 = item(kIdLabel2);
    ASSERT_TRUE(IsWindowVisible(label2));  // the countdown runs
    MenuProbe menu;

    // The middle button stops the countdown and opens nothing; the list stays.
    SelectRow(lv1, 0);
    menu.run(win, [&] {
        SendMessageW(lv1, WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(20, 8));
        SendMessageW(lv1, WM_MBUTTONUP, 0, MAKELPARAM(20, 8));
    });
    EXPECT_FALSE(menu.opened);
    EXPECT_FALSE(IsWindowVisible(label2));
    EXPECT_EQ(SendMessageW(lv2, LVM_GETITEMCOUNT, 0, 0), 4);

    // The right button: the account menu, every entry usable for an account
    // of the session.
    menu.run(win, [&] { SendListNotify(win, lv1, kIdListView1, NM_RCLICK, 0); });
    ASSERT_TRUE(menu.opened);
    ASSERT_EQ(menu.items.size(), 5u);
    const wchar_t* texts[] = {L"重新檢查信箱", L"", L"新增帳號", L"刪除帳號", L"修改帳號"};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(menu.items[static_cast<std::size_t>(i)].text, texts[i]);
        if (i != 1) { EXPECT_FALSE(menu.items[static_cast<std::size_t>(i)].state & MFS_DISABLED); }
    }
    EXPECT_TRUE(menu.items[1].type & MFT_SEPARATOR);

    // "重新檢查信箱" logs in again and fetches the rows anew.
    const int before = server->connections();
    menu.run(win, [&] { SendListNotify(win, lv1, kIdListView1, NM_RCLICK, 0); }, L"重新檢查信箱");
    ASSERT_TRUE(pumpUntil([&] { return server->connections() > before && sessionEnded() &&
                                       SendMessageW(lv2, LVM_GETITEMCOUNT, 0, 0) == 4; }));

    PostMessageW(win, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return filterWindow() == nullptr; }));
}

// The account menu's dialog: "新增帳號" adds a row with icon 3, "修改帳號"
// moves the selected account to the address typed, "刪除帳號" marks the row
// with icon 2; set.ini follows each of them.
TEST_F(FilterWindowOnScreen, AccountMenuOpensTheAccountDialog) {
    opener->showFilterWindow();
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    HWND win = filterWindow();
    HWND lv1 = item(kIdListView1);
    MenuProbe menu;
    auto iconOf = [&](int row) {
        LVITEMW it{};
        it.mask = LVIF_IMAGE;
        it.iItem = row;
        SendMessageW(lv1, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
        return it.iImage + 1;
    };
    auto step = [](std::function<void()> f) -> test::DialogScript::Step {
        return [f] {
            f();
            return true;
        };
    };
    HWND dlg = nullptr;
    auto dialogShown = [&] {
        dlg = test::FindDialog(L"建立信箱帳號");
        return dlg != nullptr;
    };
    auto dialogGone = [&] { return test::FindDialog(L"建立信箱帳號") == nullptr; };

    {
        test::DialogScript script(p.loop, {dialogShown, step([&] { EXPECT_FALSE(IsWindowEnabled(win)); }),
                                           step([] { test::TypeText(L"new"); }), step([] { test::PressKey(VK_TAB); }),
                                           step([] { test::TypeText(L"pw"); }), step([] { test::PressKey(VK_TAB); }),
                                           step([] { test::TypeText(L"pop.new.tw"); }),
                                           step([] { test::PressKey(VK_RETURN); })});
        SelectRow(lv1, 0);
        menu.run(win, [&] { SendListNotify(win, lv1, kIdListView1, NM_RCLICK, 0); }, L"新增帳號");
        ASSERT_TRUE(pumpUntil([&] { return script.finished() && dialogGone(); }));
    }
    EXPECT_TRUE(IsWindowEnabled(win));
    ASSERT_EQ(SendMessageW(lv1, LVM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(ItemText(lv1, 1, 0), L"new");
    EXPECT_EQ(ItemText(lv1, 1, 1), L"new@pop.new.tw");
    EXPECT_EQ(iconOf(1), 3);
    EXPECT_EQ(settings::ReadMailAccount(*store, u"new@pop.new.tw").Pop3Host, u"pop.new.tw");

    std::wstring userShown;
    bool userEnabled = true;
    {
        test::DialogScript script(p.loop, {dialogShown, step([&] {
                                               userShown = WindowText(GetDlgItem(dlg, kIdAccountUser));
                                               userEnabled = IsWindowEnabled(GetDlgItem(dlg, kIdAccountUser));
                                           }),
                                           step([] { test::PressKey(VK_TAB); }), step([] { test::PressKey(VK_TAB); }),
                                           step([] { test::TypeText(L"me2@example.com"); }),
                                           step([] { test::PressKey(VK_RETURN); })});
        SelectRow(lv1, 0);
        menu.run(win, [&] { SendListNotify(win, lv1, kIdListView1, NM_RCLICK, 0); }, L"修改帳號");
        ASSERT_TRUE(pumpUntil([&] { return script.finished() && dialogGone(); }));
    }
    EXPECT_EQ(userShown, L"me");
    EXPECT_FALSE(userEnabled);
    EXPECT_FALSE(state.dialog.EditMode);
    EXPECT_EQ(ItemText(lv1, 0, 0), L"me");
    EXPECT_EQ(ItemText(lv1, 0, 1), L"me2@example.com");
    EXPECT_EQ(settings::ReadRoster(*store, kUser), (std::vector<std::u16string>{u"new@pop.new.tw", u"me2@example.com"}));
    EXPECT_EQ(settings::ReadMailAccount(*store, u"me2@example.com").User, u"me");
    EXPECT_TRUE(store->listKeys(IniFile::Set, u"me@example.com").empty());

    SelectRow(lv1, 0);
    menu.run(win, [&] { SendListNotify(win, lv1, kIdListView1, NM_RCLICK, 0); }, L"刪除帳號");
    ASSERT_TRUE(pumpUntil([&] { return iconOf(0) == 2; }));
    EXPECT_EQ(SendMessageW(lv1, LVM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(settings::ReadRoster(*store, kUser), (std::vector<std::u16string>{u"new@pop.new.tw"}));
    EXPECT_TRUE(store->listKeys(IniFile::Set, u"me2@example.com").empty());

    PostMessageW(win, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return filterWindow() == nullptr; }));
}

TEST_F(FilterWindowOnScreen, MiddleButtonOnAnEmptyAccountListOpensTheAccountMenu) {
    settings::DeleteSettingKey(*store, IniFile::Set, settings::RosterSection(kUser), u"me@example.com");
    opener->showFilterWindow();
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    HWND win = filterWindow();
    HWND lv1 = item(kIdListView1);
    ASSERT_EQ(SendMessageW(lv1, LVM_GETITEMCOUNT, 0, 0), 0);
    MenuProbe menu;
    menu.run(win, [&] { SendMessageW(lv1, WM_MBUTTONUP, 0, MAKELPARAM(20, 8)); });
    ASSERT_TRUE(menu.opened);
    ASSERT_EQ(menu.items.size(), 5u);
    // Only "新增帳號" is usable.
    for (std::size_t i : {0u, 3u, 4u}) EXPECT_TRUE(menu.items[i].state & MFS_DISABLED) << i;
    EXPECT_FALSE(menu.items[2].state & MFS_DISABLED);
    PostMessageW(win, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return filterWindow() == nullptr; }));
}

TEST_F(FilterWindowOnScreen, DpiChangeScalesTheLayoutAndRecreatesTheFont) {
    opener->showFilterWindow();
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    HWND win = filterWindow();
    const UINT start = GetDpiForWindow(win);
    ExpectCleanLayout(win);
    // Taller than the first size, so that the scaled rectangle stays above
    // the minimum at the smaller DPI too.
    const RECT first = screenRect(win);
    SetWindowPos(win, nullptr, 0, 0, first.right - first.left, first.bottom - first.top + MulDiv(120, static_cast<int>(start), 96),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    settle(100);
    for (UINT to : {start == 96u ? 144u : 96u, start}) {
        SCOPED_TRACE(to);
        RECT wr;
        GetWindowRect(win, &wr);
        RECT client;
        GetClientRect(win, &client);
        const UINT from = start == to ? (start == 96u ? 144u : 96u) : start;
        const int fontBefore = FontHeight(item(kIdCommand1));
        const HFONT oldFont = reinterpret_cast<HFONT>(SendMessageW(item(kIdCommand1), WM_GETFONT, 0, 0));
        const int colBefore = static_cast<int>(SendMessageW(item(kIdListView2), LVM_GETCOLUMNWIDTH, 1, 0));
        // The rectangle the system suggests: the same window scaled.
        RECT suggested{wr.left, wr.top, wr.left + MulDiv(wr.right - wr.left, static_cast<int>(to), static_cast<int>(from)),
                       wr.top + MulDiv(wr.bottom - wr.top, static_cast<int>(to), static_cast<int>(from))};
        SendMessageW(win, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
        settle(200);
        RECT now;
        GetWindowRect(win, &now);
        EXPECT_EQ(now.right - now.left, suggested.right - suggested.left);
        EXPECT_EQ(now.bottom - now.top, suggested.bottom - suggested.top);
        // A new font at the new size, the columns scaled, Command1 the same
        // 810 twips from the right edge.
        EXPECT_NE(reinterpret_cast<HFONT>(SendMessageW(item(kIdCommand1), WM_GETFONT, 0, 0)), oldFont);
        EXPECT_NEAR(FontHeight(item(kIdCommand1)), MulDiv(fontBefore, static_cast<int>(to), static_cast<int>(from)), 1);
        EXPECT_NEAR(SendMessageW(item(kIdListView2), LVM_GETCOLUMNWIDTH, 1, 0),
                    MulDiv(colBefore, static_cast<int>(to), static_cast<int>(from)), 2);
        GetClientRect(win, &client);
        const RECT b = ClientRectOf(win, item(kIdCommand1));
        EXPECT_NEAR(client.right - b.right, MulDiv(810, static_cast<int>(to), 1440), 2);
        // Parts the system draws at the screen's real DPI (check box squares,
        // the status bar's own height) do not shrink when the test announces
        // a smaller one, so the full check runs at the real DPI or above.
        if (to >= start) ExpectCleanLayout(win);
        if (to != start) {
            RedrawWindow(win, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            settle(500);
            SaveBmp(Grab(screenRect(win)), ScreenshotDir() + L"\\filter_window_dpi" + std::to_wstring(to) + ShotSuffix() + L".bmp");
        }
    }
    PostMessageW(win, WM_CLOSE, 0, 0);
    ASSERT_TRUE(pumpUntil([&] { return filterWindow() == nullptr; }));
}

// Log-off in the middle of a session: the window says yes at once, unloads
// when told the session ends, shows no message box, deletes nothing, and the
// session's waits end instead of running out.
TEST_F(FilterWindowOnScreen, EndOfTheWindowsSessionMidSessionUnloadsAtOnce) {
    mailbox.release = false;
    opener->showFilterWindow();
    HWND win = filterWindow();
    ASSERT_NE(win, nullptr);
    LRESULT query = 0;
    bool sent = false;
    DWORD endedAt = 0;
    const auto timer = p.loop.startTimer(platform::Milliseconds(100), true, [&] {
        if (sent || !FindWindowW(kTipWindowClass, nullptr)) return;
        sent = true;
        query = SendMessageW(win, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        SendMessageW(win, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        endedAt = GetTickCount();
    });
    ASSERT_TRUE(pumpUntil([&] { return sent; }));
    // Back out of the session's waits: well before any of them runs out.
    p.loop.stopTimer(timer);
    EXPECT_LT(GetTickCount() - endedAt, 3000u);
    mailbox.release = true;
    EXPECT_EQ(query, TRUE);
    EXPECT_FALSE(IsWindowVisible(win));
    EXPECT_EQ(FindWindowW(L"#32770", nullptr), nullptr);  // no message box
    HWND tip = FindWindowW(kTipWindowClass, nullptr);
    EXPECT_TRUE(tip == nullptr || !IsWindowVisible(tip));
    // The unload saved the column widths; nothing else of the settings changed.
    const std::string ini = ReadFileBytes(folder + L"set.ini");
    EXPECT_NE(ini.find("ColumnWidth="), std::string::npos);
    EXPECT_NE(ini.find("spam@junk.example=0"), std::string::npos);
    // No new window opens once the program is unloading.
    static_cast<FilterWindowHost*>(opener.get())->unloadNow();
    opener->showFilterWindow();
    settle(100);
    EXPECT_FALSE(IsWindowVisible(win));
    std::lock_guard<std::mutex> lock(mailbox.mutex);
    EXPECT_TRUE(mailbox.deleted.empty());
}

}  // namespace
}  // namespace iw::win32app
