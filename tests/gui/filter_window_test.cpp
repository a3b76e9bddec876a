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
#include <mutex>
#include <string>
#include <vector>

#include "app/module1.h"
#include "platform/native.h"
#include "settings/accounts.h"
#include "settings/settings_store.h"
#include "tests/support/filter_fakes.h"
#include "tests/support/loopback_server.h"
#include "win32/app/filter_window_host.h"
#include "win32/app/filter_window_view.h"
#include "win32/platform/handles.h"

namespace iw::win32app {
namespace {

using settings::IniFile;

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

std::wstring ScreenshotDir() {
    wchar_t root[MAX_PATH] = L"";
    std::wstring dir;
    if (GetEnvironmentVariableW(L"IW_ROOT", root, MAX_PATH) > 0) dir = std::wstring(L"Z:") + root + L"/build/screenshots";
    else dir = L"screenshots";
    for (auto& c : dir)
        if (c == L'/') c = L'\\';
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

// The screen's pixels inside `r` (screen coordinates), top row first.
struct Capture {
    int w = 0, h = 0;
    std::vector<std::uint32_t> px;  // 0x00RRGGBB
    std::uint32_t at(int x, int y) const { return px[static_cast<std::size_t>(y) * w + x]; }
};

Capture Grab(const RECT& r) {
    Capture c;
    c.w = r.right - r.left;
    c.h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = c.w;
    bi.bmiHeader.biHeight = -c.h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bmp);
    BitBlt(dc, 0, 0, c.w, c.h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const std::uint32_t*>(bits);
    c.px.assign(p, p + static_cast<std::size_t>(c.w) * c.h);
    for (auto& v : c.px) v &= 0xFFFFFF;
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return c;
}

void SaveBmp(const Capture& c, const std::wstring& path) {
    BITMAPFILEHEADER fh{};
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof ih;
    ih.biWidth = c.w;
    ih.biHeight = -c.h;
    ih.biPlanes = 1;
    ih.biBitCount = 32;
    const DWORD bytes = static_cast<DWORD>(c.px.size() * 4);
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + bytes;
    std::ofstream f(path.c_str(), std::ios::binary);
    f.write(reinterpret_cast<const char*>(&fh), sizeof fh);
    f.write(reinterpret_cast<const char*>(&ih), sizeof ih);
    f.write(reinterpret_cast<const char*>(c.px.data()), bytes);
}

// Pixels within a small distance of `rgb` inside a rectangle of the capture.
int CountNear(const Capture& c, const RECT& r, std::uint32_t rgb) {
    int n = 0;
    for (int y = std::max(0L, r.top); y < std::min<long>(c.h, r.bottom); ++y)
        for (int x = std::max(0L, r.left); x < std::min<long>(c.w, r.right); ++x) {
            const std::uint32_t v = c.at(x, y);
            const int dr = static_cast<int>((v >> 16) & 0xFF) - static_cast<int>((rgb >> 16) & 0xFF);
            const int dg = static_cast<int>((v >> 8) & 0xFF) - static_cast<int>((rgb >> 8) & 0xFF);
            const int db = static_cast<int>(v & 0xFF) - static_cast<int>(rgb & 0xFF);
            if (dr * dr + dg * dg + db * db <= 40 * 40) ++n;
        }
    return n;
}

std::wstring ItemText(HWND lv, int row, int column) {
    wchar_t buf[512] = L"";
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buf;
    item.cchTextMax = 512;
    SendMessageW(lv, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buf;
}

std::wstring WindowText(HWND h) {
    wchar_t buf[512] = L"";
    GetWindowTextW(h, buf, 512);
    return buf;
}


class FilterWindowOnScreen : public ::testing::Test {
protected:
    platform::NativePlatform native;
    platform::Platform& p = native.get();
    std::wstring folder;
    std::unique_ptr<settings::SettingsStore> store;
    app::Module1State state;
    test::RecordingMainLink mainLink;
    Mailbox mailbox;
    std::unique_ptr<test::LoopbackServer> server;
    std::unique_ptr<app::FilterWindowOpener> opener;

    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, tmp), 0u);
        static int n = 0;
        folder = std::wstring(tmp) + L"iw-filterwin-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(++n) + L"-" + std::to_wstring(GetTickCount()) + L"\\";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        const std::u16string app(folder.begin(), folder.end());
        store = std::make_unique<settings::SettingsStore>(p.files, p.codePage, app);
        state.AppPath = app;
        state.UserSection = kUser;
        // Black list (4), size limit (5) and blank sender (6) on.
        state.OptionFlags = u"011111000000";

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
    bool pumpUntil(F done, int ms = 20000) {
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
    // shows the progress over the filter window, and the user's close is
    // refused. The session pumps the loop itself, so the look is taken from
    // a timer that runs inside its waits.
    HWND tip = nullptr;
    std::wstring tipText;
    bool refusedClose = false;
    const auto timer = p.loop.startTimer(platform::Milliseconds(100), true, [&] {
        if (tip) return;
        HWND t = FindWindowW(kTipWindowClass, nullptr);
        HWND label = t ? FindWindowExW(t, nullptr, L"STATIC", nullptr) : nullptr;
        if (!label || !IsWindowVisible(t) || WindowText(label).find(L"me@example.com") == std::wstring::npos) return;
        tip = t;
        tipText = WindowText(label);
        RedrawWindow(t, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(300);
        SaveBmp(Grab(screenRect(t)), ScreenshotDir() + L"\\mailtip.bmp");
        SendMessageW(win, WM_CLOSE, 0, 0);
        refusedClose = IsWindow(win) && IsWindowVisible(win) && !IsWindowEnabled(item(kIdCommand1));
        mailbox.release = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return sessionEnded(); }));
    p.loop.stopTimer(timer);
    ASSERT_NE(tip, nullptr) << "the tip window never showed the account";
    EXPECT_TRUE(refusedClose);
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
    SaveBmp(shot, ScreenshotDir() + L"\\filter_window.bmp");
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

}  // namespace
}  // namespace iw::win32app
