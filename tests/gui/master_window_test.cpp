// The real main window under Wine, driven by messages from the test: the
// tray callback pops the owner-drawn menu (read back while it is open, a
// screenshot saved, then dismissed), a menu command toggles a stored mark in
// set.ini, "TaskbarCreated" brings the icon back, and the exit command
// removes the icon. Also the tray pictures at every size the shell asks for.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/native.h"
#include "settings/accounts.h"
#include "tests/support/loopback_server.h"
#include "settings/settings_store.h"
#include "win32/app/master_window.h"

namespace iw::win32app {
namespace {

using app::MenuCommand;

struct ReadItem {
    std::wstring text;
    UINT type = 0, state = 0, id = 0;
    HMENU sub = nullptr;
};

ReadItem readItem(HMENU m, UINT pos) {
    ReadItem r;
    wchar_t buf[128] = {};
    MENUITEMINFOW mi{};
    mi.cbSize = sizeof(mi);
    mi.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
    mi.dwTypeData = buf;
    mi.cch = 127;
    if (!GetMenuItemInfoW(m, pos, TRUE, &mi)) return r;
    r.text = buf;
    r.type = mi.fType;
    r.state = mi.fState;
    r.id = mi.wID;
    r.sub = mi.hSubMenu;
    return r;
}

// The screen as a 24-bit BMP file, for looking at afterwards.
void saveScreen(const std::wstring& path) {
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD stride = ((w * 3 + 3) / 4) * 4, size = stride * h;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
    fh.bfSize = fh.bfOffBits + size;
    std::ofstream out(path.c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&fh), sizeof(fh));
    out.write(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof(bi.bmiHeader));
    out.write(static_cast<const char*>(bits), size);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
}

std::wstring screenshotFolder() {
    const char* root = std::getenv("IW_ROOT");
    if (!root || !*root) return L"";
    std::wstring w = L"Z:";
    for (const char* c = root; *c; ++c) w += (*c == '/') ? L'\\' : static_cast<wchar_t>(*c);
    w += L"\\build\\screenshots\\";
    CreateDirectoryW(w.c_str(), nullptr);
    return w;
}

// What the open menu looked like, captured from inside its modal loop.
struct OpenMenu {
    HMENU menu = nullptr;
    std::vector<ReadItem> items;
    std::vector<ReadItem> windowItems;
    bool seen = false;
};
OpenMenu* g_open = nullptr;
HMENU g_tracked = nullptr;

void CALLBACK readOpenMenu(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (!g_open) return;
    g_open->seen = true;
    const int n = GetMenuItemCount(g_tracked);
    for (int i = 0; i < n; ++i) g_open->items.push_back(readItem(g_tracked, static_cast<UINT>(i)));
    if (n > 6 && g_open->items[6].sub) {
        HMENU sub = g_open->items[6].sub;
        for (int i = 0; i < GetMenuItemCount(sub); ++i) g_open->windowItems.push_back(readItem(sub, i));
    }
    const std::wstring folder = screenshotFolder();
    wchar_t suffix[32] = L"";
    GetEnvironmentVariableW(L"IW_SHOT_SUFFIX", suffix, 32);
    if (!folder.empty()) saveScreen(folder + L"tray_menu" + suffix + L".bmp");
    EndMenu();
}

class MasterWindowTest : public ::testing::Test {
protected:
    platform::NativePlatform native;
    platform::Platform& p = native.get();
    std::wstring folder;
    std::unique_ptr<settings::SettingsStore> store;
    settings::ProgramState state;
    std::unique_ptr<MasterWindow> master;

    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, tmp), 0u);
        static int n = 0;
        folder = std::wstring(tmp) + L"iw-master-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(++n) + L"\\";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        // The "Set" mark stored on, "Max" stored off.
        std::ofstream(ini().c_str(), std::ios::binary) << "[tester]\r\nSet=-1\r\nMax=0\r\n";
        state.identity.AppPath = std::u16string(folder.begin(), folder.end());
        state.identity.UserSection = u"tester";
        store = std::make_unique<settings::SettingsStore>(p.files, p.codePage, state.identity.AppPath);
        master = std::make_unique<MasterWindow>(p, *store, state);
        ASSERT_TRUE(master->load());
    }
    void TearDown() override {
        master.reset();
        DeleteFileW(ini().c_str());
        RemoveDirectoryW(folder.c_str());
    }
    std::wstring ini() const { return folder + L"set.ini"; }
    std::string iniText() const {
        std::ifstream in(ini().c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void pumpFor(int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) p.loop.pump(platform::Milliseconds(20));
    }
    bool iconExists() {
        NOTIFYICONDATAW nid{};
        nid.cbSize = sizeof(nid);
        nid.hWnd = master->window();
        nid.uID = app::kTrayIconId;
        nid.uFlags = NIF_TIP;
        return Shell_NotifyIconW(NIM_MODIFY, &nid) != FALSE;
    }
    ReadItem subItem(MenuCommand c) {
        HMENU sub = GetSubMenu(master->menu(), 6);
        for (int i = 0; sub && i < GetMenuItemCount(sub); ++i) {
            ReadItem r = readItem(sub, static_cast<UINT>(i));
            if (r.id == menuId(c)) return r;
        }
        return {};
    }
};

TEST_F(MasterWindowTest, RightButtonUpOpensTheOwnerDrawnMenuWithItsMarks) {
    SetCursorPos(500, 400);
    OpenMenu open;
    g_open = &open;
    g_tracked = master->menu();
    // The menu is rebuilt when it pops up: read whichever one is tracked.
    SetTimer(nullptr, 0, 600, readOpenMenu);
    struct Hook {
        static LRESULT CALLBACK proc(int code, WPARAM wp, LPARAM lp) {
            auto* cw = reinterpret_cast<CWPSTRUCT*>(lp);
            if (code >= 0 && cw->message == WM_INITMENUPOPUP) g_tracked = reinterpret_cast<HMENU>(cw->wParam);
            return CallNextHookEx(nullptr, code, wp, lp);
        }
    };
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, Hook::proc, nullptr, GetCurrentThreadId());
    SendMessageW(master->window(), app::kTrayCallbackMessage, app::kTrayIconId, WM_RBUTTONUP);
    UnhookWindowsHookEx(hook);
    g_open = nullptr;

    ASSERT_TRUE(open.seen) << "the menu did not open (or did not run its modal loop)";
    ASSERT_EQ(open.items.size(), 10u);
    EXPECT_TRUE(open.items[0].type & MFT_OWNERDRAW);
    EXPECT_EQ(open.items[1].text, L"偏好設定");
    EXPECT_TRUE(open.items[1].state & MFS_DEFAULT);
    EXPECT_TRUE(open.items[1].type & MFT_MENUBARBREAK);
    struct Row {
        UINT pos;
        const wchar_t* text;
        bool disabled;
    };
    const Row rows[] = {{2, L"郵件預覽...", true}, {3, L"立即檢查郵件", true}, {4, L"暫停檢查郵件", true},
                        {6, L"視窗管理", false},    {8, L"關於....", false},    {9, L"結束", false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.pos);
        EXPECT_EQ(open.items[r.pos].text, r.text);
        EXPECT_EQ((open.items[r.pos].state & MFS_DISABLED) != 0, r.disabled);
    }
    EXPECT_TRUE(open.items[5].type & MFT_SEPARATOR);
    EXPECT_TRUE(open.items[7].type & MFT_SEPARATOR);
    ASSERT_EQ(open.windowItems.size(), 5u);
    EXPECT_EQ(open.windowItems[2].text, L"攔截廣告視窗");
    EXPECT_TRUE(open.windowItems[2].state & MFS_CHECKED);  // Set=-1 in set.ini
    EXPECT_EQ(open.windowItems[3].text, L"最大化IE 視窗");
    EXPECT_FALSE(open.windowItems[3].state & MFS_CHECKED);
    // The menu is gone again and nothing was chosen.
    pumpFor(200);
    EXPECT_TRUE(master->presenter().loaded());
}

TEST_F(MasterWindowTest, MenuCommandTogglesTheStoredMark) {
    struct Case {
        MenuCommand command;
        const char* afterFirst;
        const char* afterSecond;
    };
    const Case cases[] = {{MenuCommand::Pop, "Set=0\r\n", "Set=-1\r\n"}, {MenuCommand::Max, "Max=-1\r\n", "Max=0\r\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.command));
        PostMessageW(master->window(), WM_COMMAND, menuId(c.command), 0);
        pumpFor(150);
        EXPECT_NE(iniText().find(c.afterFirst), std::string::npos) << iniText();
        EXPECT_EQ((subItem(c.command).state & MFS_CHECKED) != 0, std::string(c.afterFirst).find("-1") != std::string::npos);
        PostMessageW(master->window(), WM_COMMAND, menuId(c.command), 0);
        pumpFor(150);
        EXPECT_NE(iniText().find(c.afterSecond), std::string::npos) << iniText();
    }
}

TEST_F(MasterWindowTest, IconComesBackOnTaskbarCreatedAndGoesOnExit) {
    ASSERT_TRUE(iconExists());
    // The taskbar restarted: the shell lost the icon and broadcasts the message.
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof(nid);
    nid.hWnd = master->window();
    nid.uID = app::kTrayIconId;
    Shell_NotifyIconW(NIM_DELETE, &nid);
    ASSERT_FALSE(iconExists());
    SendMessageW(master->window(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(iconExists());

    PostMessageW(master->window(), WM_COMMAND, menuId(MenuCommand::Exit), 0);
    pumpFor(150);
    EXPECT_FALSE(master->presenter().loaded());
    EXPECT_FALSE(master->iconShown());
    EXPECT_FALSE(iconExists());
}

TEST_F(MasterWindowTest, FilterWindowLinkDisablesAndEnablesTrayEntries) {
    master->setTrayMenuEnabled(filter::TrayMenuEntry::Exit, false);
    EXPECT_TRUE(readItem(master->menu(), 9).state & MFS_DISABLED);
    // A disabled entry does nothing when its command arrives anyway.
    PostMessageW(master->window(), WM_COMMAND, menuId(MenuCommand::Exit), 0);
    pumpFor(100);
    EXPECT_TRUE(master->presenter().loaded());
    master->setTrayMenuEnabled(filter::TrayMenuEntry::Exit, true);
    EXPECT_FALSE(readItem(master->menu(), 9).state & MFS_DISABLED);
}

TEST_F(MasterWindowTest, AboutCommandShowsTheAboutBoxOnce) {
    PostMessageW(master->window(), WM_COMMAND, menuId(MenuCommand::About), 0);
    pumpFor(300);
    HWND about = master->aboutWindow();
    ASSERT_TRUE(IsWindow(about));
    EXPECT_TRUE(IsWindowVisible(about));
    wchar_t cls[32] = {};
    GetClassNameW(about, cls, 32);
    EXPECT_STREQ(cls, L"frmAbout");
    const std::wstring folder = screenshotFolder();
    if (!folder.empty()) saveScreen(folder + L"about_box.bmp");
    // A second command brings the same box forward instead of a new one.
    PostMessageW(master->window(), WM_COMMAND, menuId(MenuCommand::About), 0);
    pumpFor(100);
    EXPECT_EQ(master->aboutWindow(), about);
    // Closed by the user, then asked for again: a new box, no stale handle.
    SendMessageW(about, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(IsWindow(about));
    PostMessageW(master->window(), WM_COMMAND, menuId(MenuCommand::About), 0);
    pumpFor(100);
    EXPECT_TRUE(IsWindow(master->aboutWindow()));
}

// A window of the browser frame's class, owned by the test.
struct BrowserFrame {
    HWND hwnd = nullptr;
    BrowserFrame() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"IEFrame";
        RegisterClassW(&wc);
        // An ordinary browser frame: wider than the pop-up limit, so the
        // pop-up blocking this fixture switches on leaves it open.
        const int width = GetSystemMetrics(SM_CXSCREEN) * 9 / 10;
        hwnd = CreateWindowExW(0, L"IEFrame", L"frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, width, 300, nullptr,
                               nullptr, wc.hInstance, nullptr);
    }
    ~BrowserFrame() {
        if (hwnd) DestroyWindow(hwnd);
    }
};

// A message box that shows is closed again and counted, so a test that must
// see none fails instead of hanging.
int g_boxes = 0;
void CALLBACK closeBoxes(HWND, UINT, UINT_PTR, DWORD) {
    if (HWND box = FindWindowW(L"#32770", nullptr)) {
        ++g_boxes;
        SendMessageW(box, WM_COMMAND, IDOK, 0);
    }
}

TEST_F(MasterWindowTest, EndOfTheWindowsSessionUnloadsLikeExitWithoutAnyBox) {
    BrowserFrame frame;
    ASSERT_TRUE(IsWindowVisible(frame.hwnd));
    // The left button hides the browser frames.
    SendMessageW(master->window(), app::kTrayCallbackMessage, app::kTrayIconId, WM_LBUTTONDOWN);
    pumpFor(200);
    ASSERT_FALSE(IsWindowVisible(frame.hwnd));
    const std::string before = iniText();
    g_boxes = 0;
    const UINT_PTR watch = SetTimer(nullptr, 0, 100, closeBoxes);

    // A cancelled log-off changes nothing.
    EXPECT_EQ(SendMessageW(master->window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    SendMessageW(master->window(), WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);
    EXPECT_TRUE(master->presenter().loaded());
    EXPECT_TRUE(iconExists());

    // "偏好設定" chosen just before the session ends: its notice is pending.
    SendMessageW(master->window(), WM_COMMAND, menuId(MenuCommand::Mail), 0);
    EXPECT_EQ(SendMessageW(master->window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    SendMessageW(master->window(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    // All done before the message returned: the process may end right after.
    EXPECT_FALSE(master->presenter().loaded());
    EXPECT_FALSE(iconExists());
    EXPECT_TRUE(master->sessionEnding());
    pumpFor(300);  // the asynchronous show reaches the frame
    KillTimer(nullptr, watch);
    EXPECT_TRUE(IsWindowVisible(frame.hwnd));
    EXPECT_FALSE(state.run.BrowserWindowsHidden);
    EXPECT_EQ(g_boxes, 0);
    EXPECT_EQ(iniText(), before);
}

// Log-off while the filter window, opened from the tray menu, waits for a
// server that never greets: the main window unloads it from inside the
// session's wait, and the wait ends at once instead of after 45 seconds.
TEST_F(MasterWindowTest, EndOfTheWindowsSessionDuringAFilterSession) {
    std::atomic<bool> done{false};
    test::LoopbackServer server([&](test::LoopbackStream&) {
        while (!done) Sleep(20);
    });
    ASSERT_TRUE(server.listening());
    const std::string port = std::to_string(server.port());
    settings::WriteSetting(*store, settings::IniFile::Set, u"tester-Mail", u"me@example.com", u"0");
    settings::WriteSetting(*store, settings::IniFile::Set, u"me@example.com", u"Account", u"me");
    settings::WriteSetting(*store, settings::IniFile::Set, u"me@example.com", u"PoP3",
                           u"127.0.0.1:" + std::u16string(port.begin(), port.end()));
    master->presenter().setMenuEnabled(MenuCommand::Preview, true);
    PostMessageW(master->window(), WM_COMMAND, menuId(MenuCommand::Preview), 0);

    bool ended = false;
    DWORD endedAt = 0;
    HWND filter = nullptr;
    g_boxes = 0;
    const UINT_PTR watch = SetTimer(nullptr, 0, 100, closeBoxes);
    const auto timer = p.loop.startTimer(platform::Milliseconds(100), true, [&] {
        if (ended || server.connections() == 0) return;
        filter = FindWindowW(L"InkwardenMailFilter", nullptr);
        ended = true;
        SendMessageW(master->window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        SendMessageW(master->window(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
        endedAt = GetTickCount();
    });
    const DWORD start = GetTickCount();
    while (!ended && GetTickCount() - start < 20000) p.loop.pump(platform::Milliseconds(20));
    p.loop.stopTimer(timer);
    KillTimer(nullptr, watch);
    done = true;
    ASSERT_TRUE(ended);
    EXPECT_LT(GetTickCount() - endedAt, 3000u);
    ASSERT_NE(filter, nullptr);
    EXPECT_FALSE(IsWindowVisible(filter));
    EXPECT_FALSE(master->presenter().loaded());
    EXPECT_FALSE(iconExists());
    EXPECT_EQ(g_boxes, 0);
}

TEST(TrayIconPicture, DrawnAtEverySizeTheShellAsks) {
    for (int size : {16, 20, 24, 32, 40, 48}) {
        for (auto pic : {app::TrayPicture::Program, app::TrayPicture::NewMail, app::TrayPicture::Connected,
                         app::TrayPicture::Paused}) {
            SCOPED_TRACE(size);
            win32::UniqueIcon icon(DrawTrayIcon(pic, size));
            ASSERT_TRUE(icon);
            ICONINFO ii{};
            ASSERT_TRUE(GetIconInfo(icon.get(), &ii));
            BITMAP bm{};
            GetObjectW(ii.hbmColor, sizeof(bm), &bm);
            EXPECT_EQ(bm.bmWidth, size);
            EXPECT_EQ(bm.bmHeight, size);
            DeleteObject(ii.hbmColor);
            DeleteObject(ii.hbmMask);
        }
    }
}

}  // namespace
}  // namespace iw::win32app
