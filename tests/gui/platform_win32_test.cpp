// The Win32 platform against the real system under Wine: the event loop,
// the registry, the desktop with real windows of the browser classes, the
// ANSI code page, the running-copy check (a helper started twice), file
// replacement and sockets against loopback peers in this process.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/native.h"
#include "win32/platform/handles.h"
#include "win32/platform/win32_event_loop.h"
#include "win32/platform/win32_shell.h"

using namespace iw;
using namespace std::chrono_literals;
using platform::Milliseconds;

namespace {

// Pumps until `done` holds or `limit` passes; returns whether it held. The
// limit only stops a hung test: a loaded machine may take many seconds.
template <typename F>
bool pumpUntil(platform::EventLoop& loop, F done, Milliseconds limit = 60000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return done();
        loop.pump(50ms);
    }
    return true;
}

// ---------------------------------------------------------------- loop

class LoopTest : public ::testing::Test {
protected:
    std::unique_ptr<platform::EventLoop> loop = platform::createEventLoop();
};

TEST_F(LoopTest, OneShotFiresOncePeriodicRepeatsUntilStopped) {
    int once = 0, periodic = 0;
    loop->startTimer(20ms, false, [&] { ++once; });
    platform::TimerId p = 0;
    p = loop->startTimer(20ms, true, [&] {
        if (++periodic == 3) loop->stopTimer(p);  // a timer may stop itself
    });
    ASSERT_TRUE(pumpUntil(*loop, [&] { return periodic == 3; }));
    const auto end = std::chrono::steady_clock::now() + 150ms;
    while (std::chrono::steady_clock::now() < end) loop->pump(30ms);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(periodic, 3);
}

TEST_F(LoopTest, StoppedTimerNeverFires) {
    bool fired = false;
    auto id = loop->startTimer(10ms, false, [&] { fired = true; });
    loop->stopTimer(id);
    loop->stopTimer(id);      // twice: ignored
    loop->stopTimer(999999);  // unknown: ignored
    const auto end = std::chrono::steady_clock::now() + 100ms;
    while (std::chrono::steady_clock::now() < end) loop->pump(20ms);
    EXPECT_FALSE(fired);
}

TEST_F(LoopTest, PostRunsInTheNextPumpAndRepostsWaitForTheOneAfter) {
    std::vector<int> order;
    loop->post([&] {
        order.push_back(1);
        loop->post([&] { order.push_back(3); });
    });
    loop->post([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());  // nothing runs inside post()
    loop->pump(0ms);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    loop->pump(0ms);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(LoopTest, PostedCallbackThatWaitsForALaterOneDoesNotHang) {
    bool second = false, sawSecond = false;
    loop->post([&] { sawSecond = pumpUntil(*loop, [&] { return second; }); });
    loop->post([&] { second = true; });
    loop->pump(0ms);
    EXPECT_TRUE(sawSecond);
}

TEST_F(LoopTest, IdlePumpWaitsAboutMaxWaitWithoutSpinning) {
    const auto t0 = std::chrono::steady_clock::now();
    loop->pump(100ms);
    const auto ms = std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 80);  // it blocked instead of returning at once
    // A due timer ends the wait early.
    bool fired = false;
    loop->startTimer(30ms, false, [&] { fired = true; });
    const auto t1 = std::chrono::steady_clock::now();
    while (!fired && std::chrono::steady_clock::now() - t1 < 5s) loop->pump(10s);
    EXPECT_TRUE(fired);
    EXPECT_LT(std::chrono::steady_clock::now() - t1, 5s);
}

TEST_F(LoopTest, NestedPumpFromTimerCallbackRunsOtherTimersAndPosts) {
    bool inner = false, posted = false, outerDone = false;
    loop->startTimer(10ms, false, [&] {
        loop->startTimer(30ms, false, [&] { inner = true; });
        loop->post([&] { posted = true; });
        outerDone = pumpUntil(*loop, [&] { return inner && posted; });
    });
    ASSERT_TRUE(pumpUntil(*loop, [&] { return outerDone; }));
}

// A callback posted before a pump reports something that happened before
// the messages pending at that pump, so it runs first.
TEST_F(LoopTest, PostedCallbacksRunBeforeMessagesPendingAtThePump) {
    auto* w = win32::asWin32(*loop);
    ASSERT_NE(w, nullptr);
    const UINT m = w->allocateMessage();
    std::vector<std::string> order;
    w->setMessageHandler(m, [&](WPARAM, LPARAM) -> LRESULT {
        order.push_back("message");
        return 0;
    });
    loop->post([&] { order.push_back("posted"); });
    PostMessageW(w->window(), m, 0, 0);
    ASSERT_TRUE(pumpUntil(*loop, [&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"posted", "message"}));
    w->removeMessageHandler(m);
}

TEST_F(LoopTest, WindowMessageHandlersAndQuit) {
    auto* w = win32::asWin32(*loop);
    ASSERT_NE(w, nullptr);
    ASSERT_NE(w->window(), nullptr);
    const UINT m = w->allocateMessage();
    ASSERT_NE(m, 0u);
    EXPECT_NE(w->allocateMessage(), m);  // a second owner gets another number
    WPARAM got = 0;
    w->setMessageHandler(m, [&](WPARAM wp, LPARAM) -> LRESULT {
        got = wp;
        throw 1;  // stopped at the window procedure
    });
    PostMessageW(w->window(), m, 42, 0);
    ASSERT_TRUE(pumpUntil(*loop, [&] { return got == 42; }));
    w->removeMessageHandler(m);
    PostMessageW(w->window(), m, 7, 0);
    loop->pump(50ms);
    EXPECT_EQ(got, 42u);
    PostQuitMessage(3);
    loop->pump(50ms);
    EXPECT_TRUE(w->quitRequested());
    EXPECT_EQ(w->quitCode(), 3);
}

// ---------------------------------------------------------------- registry

class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override { reg->deleteKey(platform::RegistryRoot::CurrentUser, key); }
    std::unique_ptr<platform::Registry> reg = platform::createRegistry();
    const std::u16string key = u"Software\\InkwardenTest\\" + std::u16string(1, u'A' + GetCurrentProcessId() % 26);
    static constexpr auto cu = platform::RegistryRoot::CurrentUser;
};

TEST_F(RegistryTest, StringsDwordsAndTheDefaultValueRoundTrip) {
    const std::u16string longText(5000, u'字');
    struct Case {
        std::u16string name, value;
    } cases[] = {{u"", u"預設值"}, {u"PassWord", u"abc"}, {u"Empty", u""}, {u"Long", longText}};
    for (const auto& c : cases) {
        ASSERT_EQ(reg->writeString(cu, key, c.name, c.value), platform::RegistryResult::Ok);
        EXPECT_EQ(reg->readString(cu, key, c.name), c.value);
    }
    ASSERT_EQ(reg->writeDword(cu, key, u"", 1), platform::RegistryResult::Ok);
    EXPECT_EQ(reg->readDword(cu, key, u""), 1u);
    EXPECT_EQ(reg->readString(cu, key, u""), std::nullopt);  // now a DWORD, not a string
    EXPECT_EQ(reg->writeDword(cu, key, u"Big", 0xFEDCBA98u), platform::RegistryResult::Ok);
    EXPECT_EQ(reg->readDword(cu, key, u"Big"), 0xFEDCBA98u);
    EXPECT_EQ(reg->readDword(cu, key, u"PassWord"), std::nullopt);  // "abc" is 8 bytes
    EXPECT_EQ(reg->readString(cu, key, u"Missing"), std::nullopt);
    EXPECT_EQ(reg->readDword(cu, key + u"\\Nope", u""), std::nullopt);
}

TEST_F(RegistryTest, StoredLengthCountsTheNul) {
    ASSERT_EQ(reg->writeString(cu, key, u"ShowIE", u"{GUID}"), platform::RegistryResult::Ok);
    win32::UniqueKey k;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, win32::wide(key), 0, KEY_QUERY_VALUE, k.put()), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(k.get(), L"ShowIE", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 7u * 2);
}

TEST_F(RegistryTest, DeletesValuesAndWholeTrees) {
    ASSERT_EQ(reg->writeString(cu, key, u"A", u"1"), platform::RegistryResult::Ok);
    ASSERT_EQ(reg->writeString(cu, key + u"\\Sub\\Deeper", u"B", u"2"), platform::RegistryResult::Ok);
    EXPECT_EQ(reg->deleteValue(cu, key, u"A"), platform::RegistryResult::Ok);
    EXPECT_EQ(reg->deleteValue(cu, key, u"A"), platform::RegistryResult::NotFound);
    EXPECT_EQ(reg->deleteValue(cu, key + u"\\Missing", u"A"), platform::RegistryResult::NotFound);
    EXPECT_EQ(reg->deleteKey(cu, key), platform::RegistryResult::Ok);
    EXPECT_EQ(reg->readString(cu, key + u"\\Sub\\Deeper", u"B"), std::nullopt);
    win32::UniqueKey k;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, win32::wide(key), 0, KEY_READ, k.put()), ERROR_SUCCESS);
    EXPECT_EQ(reg->deleteKey(cu, key), platform::RegistryResult::NotFound);
    // An empty name would be the whole root: refused, nothing deleted.
    EXPECT_EQ(reg->deleteKey(cu, u""), platform::RegistryResult::Failed);
    EXPECT_EQ(reg->deleteKey(cu, u"\\"), platform::RegistryResult::Failed);
}

TEST_F(RegistryTest, RefusedWriteIsAccessDenied) {
    // A key whose security allows reading (and deleting) only.
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KR;;;WD)(A;;SD;;;WD)", SDDL_REVISION_1,
                                                                     &sd, nullptr));
    auto freeSd = win32::onScopeExit([&] { LocalFree(sd); });
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    const std::u16string locked = key + u"\\Locked";
    ASSERT_EQ(reg->writeString(cu, key, u"x", u"y"), platform::RegistryResult::Ok);
    win32::UniqueKey k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, win32::wide(locked), 0, nullptr, 0, KEY_READ, &sa, k.put(), nullptr),
              ERROR_SUCCESS);
    k.reset();
    const auto r = reg->writeString(cu, locked, u"v", u"1");
    if (r == platform::RegistryResult::Ok) GTEST_SKIP() << "this system does not enforce key security";
    EXPECT_EQ(r, platform::RegistryResult::AccessDenied);
}

// ---------------------------------------------------------------- desktop

LRESULT CALLBACK plainProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

class DesktopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const wchar_t* cls : {L"IEFrame", L"CabinetWClass"}) {
            WNDCLASSW wc{};
            wc.lpfnWndProc = plainProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = cls;
            RegisterClassW(&wc);
        }
    }
    HWND open(const wchar_t* cls, const wchar_t* title, int x = 10, int y = 20, int w = 300, int h = 200) {
        HWND win = CreateWindowExW(0, cls, title, WS_OVERLAPPEDWINDOW, x, y, w, h, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        EXPECT_NE(win, nullptr);
        ShowWindow(win, SW_SHOWNORMAL);
        windows.emplace_back(win);
        return win;
    }
    static platform::WindowHandle h(HWND w) { return reinterpret_cast<platform::WindowHandle>(w); }

    std::unique_ptr<platform::EventLoop> loop = platform::createEventLoop();
    std::unique_ptr<platform::Desktop> desk = platform::createDesktop();
    std::vector<win32::UniqueWindow> windows;
};

TEST_F(DesktopTest, EnumeratesInZOrderAndFindsByClassAndExactTitle) {
    HWND frame = open(L"IEFrame", L"Page");
    HWND folder = open(L"CabinetWClass", L"資料夾");
    HWND dialog1 = open(L"#32770", L"其他");
    HWND dialog2 = open(L"#32770", L"連線到");
    SetWindowPos(frame, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    const auto all = desk->topLevelWindows();
    auto pos = [&](HWND w) { return std::find(all.begin(), all.end(), h(w)) - all.begin(); };
    for (HWND w : {frame, folder, dialog1, dialog2}) EXPECT_LT(pos(w), static_cast<long>(all.size()));
    EXPECT_LT(pos(frame), pos(folder));     // raised last: topmost
    EXPECT_LT(pos(dialog2), pos(dialog1));  // created later: above

    EXPECT_EQ(desk->findTopLevel(u"IEFrame"), h(frame));
    EXPECT_EQ(desk->findTopLevel(u"CabinetWClass"), h(folder));
    EXPECT_EQ(desk->findTopLevel(u"#32770", u"連線到"), h(dialog2));
    EXPECT_EQ(desk->findTopLevel(u"#32770", u"其他"), h(dialog1));
    EXPECT_EQ(desk->findTopLevel(u"IEFrame", u"page"), 0u);  // titles match exactly
    EXPECT_EQ(desk->findTopLevel(u"#32770", u"在離線模式下找不到 Web 網頁"), 0u);
    EXPECT_EQ(desk->findTopLevel(u"NoSuchClassAnywhere"), 0u);
    EXPECT_EQ(desk->className(h(folder)), u"CabinetWClass");
    EXPECT_EQ(desk->className(h(dialog1)), u"#32770");
}

TEST_F(DesktopTest, TextRectChildrenAndScreen) {
    const std::wstring longTitle(3000, L'網');
    HWND frame = open(L"IEFrame", longTitle.c_str(), 30, 40, 400, 250);
    EXPECT_EQ(desk->windowText(h(frame)), std::u16string(3000, u'網'));
    EXPECT_EQ(desk->rect(h(frame)), (platform::WindowRect{30, 40, 430, 290}));
    HWND edit = CreateWindowExW(0, L"Edit", L"http://example.test/", WS_CHILD | WS_VISIBLE, 0, 0, 200, 20, frame,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND inner = CreateWindowExW(0, L"Static", L"x", WS_CHILD | WS_VISIBLE, 0, 30, 50, 20, edit, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    const auto kids = desk->childWindows(h(frame));
    EXPECT_NE(std::find(kids.begin(), kids.end(), h(edit)), kids.end());
    EXPECT_NE(std::find(kids.begin(), kids.end(), h(inner)), kids.end());  // indirect children too
    EXPECT_EQ(desk->windowText(h(edit)), u"http://example.test/");
    EXPECT_EQ(desk->className(h(edit)), u"Edit");
    const auto screen = desk->screen();
    EXPECT_GT(screen.width(), 0);
    EXPECT_GT(screen.height(), 0);
    EXPECT_EQ(desk->windowText(0), u"");
    EXPECT_FALSE(desk->exists(0));
}

TEST_F(DesktopTest, ShowCommandsAndPostedCloseTakeEffectLater) {
    HWND frame = open(L"IEFrame", L"A");
    const auto w = h(frame);
    struct Step {
        platform::ShowCommand cmd;
        bool visible, minimized, maximized;
    } steps[] = {
        {platform::ShowCommand::Hide, false, false, false},
        {platform::ShowCommand::ShowNormal, true, false, false},
        {platform::ShowCommand::Maximize, true, false, true},
        {platform::ShowCommand::Restore, true, false, false},
        {platform::ShowCommand::Minimize, true, true, false},
        {platform::ShowCommand::ShowNormal, true, false, false},
    };
    for (const auto& s : steps) {
        desk->showAsync(w, s.cmd);
        EXPECT_TRUE(pumpUntil(*loop, [&] {
            return desk->isVisible(w) == s.visible && desk->isMinimized(w) == s.minimized &&
                   desk->isMaximized(w) == s.maximized;
        })) << "show command " << static_cast<int>(s.cmd);
    }
    desk->postSystemCommand(w, platform::SystemCommand::Maximize);
    EXPECT_TRUE(pumpUntil(*loop, [&] { return desk->isMaximized(w); }));
    desk->postClose(w);
    EXPECT_TRUE(desk->exists(w));  // posted, not sent
    EXPECT_TRUE(pumpUntil(*loop, [&] { return !desk->exists(w); }));
    windows.back().release();  // already destroyed by its WM_CLOSE
}

// ---------------------------------------------------------------- code page, shell

TEST(Win32System, AnsiCodePageIsBig5) { EXPECT_EQ(GetACP(), 950u); }

TEST(Win32System, LoneAndBrokenBytesOfBig5AndGbkBecomeQuestionMarks) {
    auto cp = platform::createCodePage();
    struct Case {
        int page;
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {950, "\xA4\xA4\xA4\xE5", u"中文"},
        {950, "a\x80" "b\xFF", u"a?b?"},
        {950, "\xA4\x0A", u"?\n"},  // bad trail byte read again
        {950, "x\xA4", u"x?"},      // lead byte cut off at the end
        {936, "\xD6\xD0\xCE\xC4", u"中文"},
        {936, "\xFF" "a", u"?a"},
        {65001, "\xE4\xB8\xAD\xFF", u"中\xFFFD"},
    };
    for (const auto& c : cases) EXPECT_EQ(cp->toUtf16(c.page, c.bytes), c.text) << c.page << " " << c.bytes;
    EXPECT_EQ(cp->fromUtf16(950, u"中é"), "\xA4\xA4?");  // no best-fit "e"
}

TEST(Win32System, ProgramFolderKeepsADriveRootsBackslash) {
    struct Case {
        std::u16string path, folder;
    } cases[] = {{u"C:\\Inkwarden.exe", u"C:\\"},
                 {u"C:\\Program Files\\Inkwarden\\Inkwarden.exe", u"C:\\Program Files\\Inkwarden"},
                 {u"\\\\server\\share\\Inkwarden.exe", u"\\\\server\\share"}};
    for (const auto& c : cases) EXPECT_EQ(win32::folderOfPath(c.path), c.folder);
    const auto folder = platform::createShell()->programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), u'\\');
    EXPECT_EQ(win32::instanceMutexName(u"C:\\A\\Inkwarden.exe"), win32::instanceMutexName(u"c:\\a\\INKWARDEN.EXE"));
    EXPECT_NE(win32::instanceMutexName(u"C:\\A\\Inkwarden.exe"), win32::instanceMutexName(u"C:\\B\\Inkwarden.exe"));
}

TEST(Win32System, UserNameGuidAndConnection) {
    auto shell = platform::createShell();
    EXPECT_FALSE(shell->userName().empty());
    const auto g1 = shell->newGuid(), g2 = shell->newGuid();
    ASSERT_EQ(g1.size(), 38u);
    EXPECT_EQ(g1.front(), u'{');
    EXPECT_EQ(g1.back(), u'}');
    EXPECT_EQ(g1[9], u'-');
    EXPECT_NE(g1, g2);
    (void)shell->isConnected();  // yes or no; only that it answers
}

// Starts the helper next to this test; returns its process.
win32::UniqueKernel startProbe(const std::wstring& args) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    path = path.substr(0, path.find_last_of(L'\\') + 1) + L"instance_probe.exe";
    std::wstring cmd = L"\"" + path + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return {};
    CloseHandle(pi.hThread);
    return win32::UniqueKernel(pi.hProcess);
}

DWORD exitCodeOf(const win32::UniqueKernel& p) {
    if (WaitForSingleObject(p.get(), 20000) != WAIT_OBJECT_0) return 99;
    DWORD code = 98;
    GetExitCodeProcess(p.get(), &code);
    return code;
}

TEST(Win32System, SecondCopyOfTheSameExecutableSeesTheFirst) {
    const std::wstring tag = std::to_wstring(GetCurrentProcessId());
    win32::UniqueKernel claimed(CreateEventW(nullptr, TRUE, FALSE, (L"iw-claimed-" + tag).c_str()));
    win32::UniqueKernel release(CreateEventW(nullptr, TRUE, FALSE, (L"iw-release-" + tag).c_str()));
    auto first = startProbe(L"iw-claimed-" + tag + L" iw-release-" + tag);
    ASSERT_TRUE(first);
    ASSERT_EQ(WaitForSingleObject(claimed.get(), 20000), WAIT_OBJECT_0);
    auto second = startProbe(L"");
    EXPECT_EQ(exitCodeOf(second), 1u);
    SetEvent(release.get());
    EXPECT_EQ(exitCodeOf(first), 0u);
    auto third = startProbe(L"");  // the first has ended: no copy runs
    EXPECT_EQ(exitCodeOf(third), 0u);
}

// ---------------------------------------------------------------- files

class FileStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        dir = win32::fromWide(tmp) + u"iwfs" + std::u16string(1, u'a' + GetCurrentProcessId() % 26);
        CreateDirectoryW(win32::wide(dir), nullptr);
        path = dir + u"\\set.ini";
    }
    void TearDown() override {
        SetFileAttributesW(win32::wide(path), FILE_ATTRIBUTE_NORMAL);
        for (const auto& f : names()) DeleteFileW(win32::wide(dir + u"\\" + f));
        RemoveDirectoryW(win32::wide(dir));
    }
    std::vector<std::u16string> names() const {
        std::vector<std::u16string> out;
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW(win32::wide(dir + u"\\*"), &fd);
        if (h == INVALID_HANDLE_VALUE) return out;
        do {
            const auto n = win32::fromWide(fd.cFileName);
            if (n != u"." && n != u"..") out.push_back(n);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
        return out;
    }
    std::unique_ptr<platform::FileStore> files = platform::createFileStore();
    std::u16string dir, path;
};

TEST_F(FileStoreTest, ReplacesWholeFilesAndLeavesNoTemporaryBehind) {
    EXPECT_EQ(files->stamp(path), std::nullopt);
    EXPECT_EQ(files->readAll(path), std::nullopt);
    const std::string first = "[a]\r\nk=\xA4\xA4\r\n", second(200000, 'x');
    ASSERT_TRUE(files->replaceAll(path, first));
    EXPECT_EQ(files->readAll(path), first);
    const auto s1 = files->stamp(path);
    ASSERT_TRUE(s1);
    EXPECT_EQ(s1->size, first.size());
    ASSERT_TRUE(files->replaceAll(path, second));
    EXPECT_EQ(files->readAll(path), second);
    EXPECT_NE(files->stamp(path), s1);
    ASSERT_TRUE(files->replaceAll(path, ""));
    EXPECT_EQ(files->readAll(path), "");
    EXPECT_EQ(names(), std::vector<std::u16string>{u"set.ini"});
    EXPECT_EQ(files->separator(), u'\\');
    EXPECT_EQ(files->stamp(dir), std::nullopt);  // a folder is not a file
}

TEST_F(FileStoreTest, RefusedReplaceKeepsTheOldFile) {
    ASSERT_TRUE(files->replaceAll(path, "old"));
    SetFileAttributesW(win32::wide(path), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(files->replaceAll(path, "new"));
    EXPECT_EQ(files->readAll(path), "old");
    EXPECT_EQ(names(), std::vector<std::u16string>{u"set.ini"});
    EXPECT_FALSE(files->replaceAll(dir + u"\\missing\\set.ini", "x"));
}

// ---------------------------------------------------------------- sockets

// Binds `s` to a port of the system's choosing on 127.0.0.1 (never a fixed
// one: other programs on a shared machine hold ports too); returns it, or 0.
std::uint16_t bindFreePort(SOCKET s) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 0;
    int len = sizeof a;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
    return ntohs(a.sin_port);
}

// A blocking loopback peer on its own thread, on a free port: accepts one
// connection and runs `serve` on it.
class Peer {
public:
    template <typename F>
    explicit Peer(F serve) {
        listener_.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        port_ = bindFreePort(listener_.get());
        ok_ = port_ != 0 && listen(listener_.get(), 1) == 0;
        if (ok_)
            thread_ = std::thread([this, serve] {
                win32::UniqueSocket c(accept(listener_.get(), nullptr, nullptr));
                if (c) serve(c.get());
            });
    }
    ~Peer() {
        if (thread_.joinable()) thread_.join();
    }
    bool ok() const { return ok_; }
    std::uint16_t port() const { return port_; }

private:
    win32::UniqueSocket listener_;
    std::thread thread_;
    std::uint16_t port_ = 0;
    bool ok_ = false;
};

class SocketTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
    }
    std::unique_ptr<platform::EventLoop> loop = platform::createEventLoop();
    std::unique_ptr<platform::Network> net = platform::createNetwork(*loop);
};

TEST_F(SocketTest, TcpRoundTripAndPeerClose) {
    Peer peer([](SOCKET c) {
        char buf[256];
        int n = recv(c, buf, sizeof buf, 0);
        if (n > 0) {
            std::string reply = "+OK " + std::string(buf, n);
            send(c, reply.data(), static_cast<int>(reply.size()), 0);
        }
        shutdown(c, SD_SEND);
    });
    ASSERT_TRUE(peer.ok());
    auto s = net->createTcp();
    std::vector<std::string> events;
    std::string got;
    s->setEvents({[&] { events.push_back("connected"); },
                  [&](std::size_t n) {
                      events.push_back("data");
                      EXPECT_EQ(n, s->bytesAvailable());
                      got += s->receive();
                  },
                  [&] { events.push_back("sent"); }, [&] { events.push_back("closed"); },
                  [&](int, const std::string& d) { events.push_back("error " + d); }});
    s->connect("127.0.0.1", peer.port());
    EXPECT_EQ(s->state(), platform::SocketState::Connecting);
    s->send("STAT\r\n");  // queued while connecting
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(pumpUntil(*loop, [&] { return s->state() == platform::SocketState::Closed; }));
    EXPECT_EQ(got, "+OK STAT\r\n");
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front(), "connected");
    EXPECT_EQ(events.back(), "closed");
    EXPECT_NE(std::find(events.begin(), events.end(), "sent"), events.end());
}

// A server that answers QUIT and closes at once, its answer and close already
// queued when the loop next runs: the send-complete event of the QUIT still
// comes, before the answer, so a wait for it ends.
TEST_F(SocketTest, SendCompleteOfQuitComesBeforeAFastAnswerAndClose) {
    std::atomic<bool> closed{false};
    Peer peer([&closed](SOCKET c) {
        send(c, "+OK ready\r\n", 11, 0);
        char buf[64];
        if (recv(c, buf, sizeof buf, 0) > 0) send(c, "+OK bye\r\n", 9, 0);
        shutdown(c, SD_SEND);
        closed = true;
    });
    ASSERT_TRUE(peer.ok());
    auto s = net->createTcp();
    std::vector<std::string> events;
    s->setEvents({[&] { events.push_back("connected"); },
                  [&](std::size_t) {
                      const std::string d = s->receive();
                      events.push_back(d.rfind("+OK bye", 0) == 0 ? "bye" : "data");
                  },
                  [&] { events.push_back("sent"); }, [&] { events.push_back("closed"); },
                  [&](int, const std::string& d) { events.push_back("error " + d); }});
    s->connect("127.0.0.1", peer.port());
    ASSERT_TRUE(pumpUntil(*loop, [&] { return events.size() >= 2; }));  // connected, greeting
    s->send("QUIT\r\n");
    // Let the answer and the close be queued before the loop runs again.
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!closed && std::chrono::steady_clock::now() < end) Sleep(10);
    Sleep(200);
    ASSERT_TRUE(pumpUntil(*loop, [&] { return s->state() == platform::SocketState::Closed; }));
    EXPECT_EQ(events, (std::vector<std::string>{"connected", "data", "sent", "bye", "closed"}));
}

TEST_F(SocketTest, PipelinedTenMegabytesAgainstAnEchoingPeerDoesNotDeadlock) {
    // The peer echoes as it reads and so stops reading while its replies
    // wait: a client that only wrote before reading would stall.
    Peer peer([](SOCKET c) {
        std::vector<char> buf(64 * 1024);
        for (;;) {
            int n = recv(c, buf.data(), static_cast<int>(buf.size()), 0);
            if (n <= 0) break;
            for (int off = 0; off < n;) {
                int w = send(c, buf.data() + off, n - off, 0);
                if (w <= 0) return;
                off += w;
            }
        }
    });
    ASSERT_TRUE(peer.ok());
    std::string commands;
    for (int i = 0; commands.size() < 10 * 1024 * 1024; ++i) commands += "TOP " + std::to_string(i) + " 0\r\n";
    auto s = net->createTcp();
    std::size_t received = 0;
    bool mismatch = false, sent = false;
    s->setEvents({[] {},
                  [&](std::size_t) {
                      const std::string d = s->receive();
                      if (commands.compare(received, d.size(), d) != 0) mismatch = true;
                      received += d.size();
                  },
                  [&] { sent = true; }, [] {}, [](int, const std::string&) {}});
    s->connect("127.0.0.1", peer.port());
    ASSERT_TRUE(pumpUntil(*loop, [&] { return s->state() == platform::SocketState::Connected; }));
    s->send(commands);
    EXPECT_FALSE(sent);  // never inside send()
    ASSERT_TRUE(pumpUntil(*loop, [&] { return received == commands.size() || mismatch; }, 120000ms))
        << received << " of " << commands.size();
    EXPECT_FALSE(mismatch);
    EXPECT_TRUE(sent);
    s->close();
}

TEST_F(SocketTest, RefusedConnectionAndBadAddressAreErrors) {
    auto s = net->createTcp();
    int code = 0;
    s->setEvents({{}, {}, {}, {}, [&](int c, const std::string&) { code = c; }});
    // A port bound and not listening refuses connections for as long as it
    // is held, so no other program can take it meanwhile.
    win32::UniqueSocket closed(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const std::uint16_t closedPort = bindFreePort(closed.get());
    ASSERT_NE(closedPort, 0);
    s->connect("127.0.0.1", closedPort);
    ASSERT_TRUE(pumpUntil(*loop, [&] { return code != 0; }));
    EXPECT_EQ(code, WSAECONNREFUSED);
    EXPECT_EQ(s->state(), platform::SocketState::Error);
    EXPECT_EQ(s->lastError(), WSAECONNREFUSED);
    code = 0;
    s->connect("not-an-address", 110);
    EXPECT_EQ(code, 0);  // reported from the next pump, not inside connect()
    ASSERT_TRUE(pumpUntil(*loop, [&] { return code != 0; }));
    EXPECT_EQ(s->state(), platform::SocketState::Error);
}

TEST_F(SocketTest, EventsOfAClosedConnectionAreDropped) {
    Peer peer([](SOCKET c) {
        send(c, "+OK hello\r\n", 11, 0);
        Sleep(300);
    });
    ASSERT_TRUE(peer.ok());
    auto s = net->createTcp();
    int events = 0;
    s->setEvents({[&] { ++events; }, [&](std::size_t) { ++events; }, [&] { ++events; }, [&] { ++events; },
                  [&](int, const std::string&) { ++events; }});
    s->connect("127.0.0.1", peer.port());
    s->send("USER x\r\n");
    Sleep(150);  // let the connect, the greeting and the send complete
    s->close();
    const auto end = std::chrono::steady_clock::now() + 500ms;
    while (std::chrono::steady_clock::now() < end) loop->pump(50ms);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(s->state(), platform::SocketState::Closed);
    EXPECT_EQ(s->bytesAvailable(), 0u);
}

TEST_F(SocketTest, UdpRequestAndReply) {
    win32::UniqueSocket server(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    const std::uint16_t udpPort = bindFreePort(server.get());
    ASSERT_NE(udpPort, 0);
    std::thread echo([&] {
        char buf[512];
        sockaddr_in from{};
        int len = sizeof from;
        int n = recvfrom(server.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n > 0) sendto(server.get(), buf, n, 0, reinterpret_cast<sockaddr*>(&from), len);
    });
    auto u = net->createUdp();
    std::string got;
    u->setDataArrival([&](const std::string& d) { got = d; });
    EXPECT_FALSE(u->sendTo("bad address", udpPort, "x"));
    const std::string request(48, '\x1b');
    ASSERT_TRUE(u->sendTo("127.0.0.1", udpPort, request));
    EXPECT_TRUE(pumpUntil(*loop, [&] { return !got.empty(); }));
    echo.join();
    EXPECT_EQ(got, request);
    u->close();
}

TEST_F(SocketTest, ResolverGivesDottedIpv4) {
    auto r = net->resolve("127.0.0.5");
    EXPECT_TRUE(r.found);
    EXPECT_TRUE(r.ipv4);
    EXPECT_EQ(r.address, "127.0.0.5");
    r = net->resolve("localhost");
    EXPECT_TRUE(r.found && r.ipv4);
    EXPECT_EQ(r.address.rfind("127.", 0), 0u);
    r = net->resolve("no-such-host.invalid");
    EXPECT_FALSE(r.found);
    EXPECT_FALSE(net->resolve("").found);
}

}  // namespace
