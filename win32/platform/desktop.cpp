// Other programs' windows through the window manager: enumeration in
// z-order, finding by class and exact title, reading class, text, rectangle
// and state, and posted (never sent) close, system and show commands.
#include <optional>
#include <vector>

#include "platform/native.h"
#include "win32/platform/handles.h"

namespace iw::win32 {
namespace {

using platform::WindowHandle;

HWND hwnd(WindowHandle w) { return reinterpret_cast<HWND>(w); }
WindowHandle handle(HWND h) { return reinterpret_cast<WindowHandle>(h); }

BOOL CALLBACK collect(HWND h, LPARAM list) {
    reinterpret_cast<std::vector<WindowHandle>*>(list)->push_back(handle(h));
    return TRUE;
}

bool ownProcess(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid == GetCurrentProcessId();
}

bool isTopLevel(HWND h) { return GetAncestor(h, GA_PARENT) == GetDesktopWindow(); }

// The text of a control of another process is only reachable by asking the
// control itself. Each ask is bounded: a program the system already counts as
// hung answers at once with a failure, a busy one gets this long. An address
// box holds at most a few thousand characters; a control that claims more is
// read only up to the cap, so a lying length cannot make us allocate much.
constexpr UINT kControlTimeoutMs = 250;
constexpr DWORD_PTR kControlTextCap = 32768;

std::optional<std::u16string> askControlText(HWND h) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kControlTimeoutMs, &length))
        return std::nullopt;
    if (length > kControlTextCap) length = kControlTextCap;
    std::vector<wchar_t> buf(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                             kControlTimeoutMs, &got))
        return std::nullopt;
    buf.back() = L'\0';
    return fromWide(buf.data(), got < buf.size() ? got : wcslen(buf.data()));
}

class DesktopImpl final : public platform::Desktop {
public:
    std::vector<WindowHandle> topLevelWindows() const override {
        std::vector<WindowHandle> list;
        EnumWindows(&collect, reinterpret_cast<LPARAM>(&list));
        return list;
    }

    WindowHandle findTopLevel(const std::u16string& className,
                              const std::optional<std::u16string>& title) const override {
        // FindWindowExW compares titles without regard to case; the title
        // must match exactly, so each window of the class is checked here.
        HWND after = nullptr;
        for (int guard = 0; guard < 100000; ++guard) {
            HWND h = FindWindowExW(nullptr, after, wide(className), nullptr);
            if (!h) return 0;
            if (!title || windowText(handle(h)) == *title) return handle(h);
            after = h;
        }
        return 0;
    }

    std::vector<WindowHandle> childWindows(WindowHandle parent) const override {
        std::vector<WindowHandle> list;
        if (parent && IsWindow(hwnd(parent))) EnumChildWindows(hwnd(parent), &collect, reinterpret_cast<LPARAM>(&list));
        return list;
    }

    bool exists(WindowHandle w) const override { return w && IsWindow(hwnd(w)); }

    std::u16string className(WindowHandle w) const override {
        wchar_t buf[257];
        const int n = w ? GetClassNameW(hwnd(w), buf, 256) : 0;
        return n > 0 ? fromWide(buf, static_cast<std::size_t>(n)) : std::u16string();
    }

    std::u16string windowText(WindowHandle w) const override {
        if (!exists(w)) return {};
        HWND h = hwnd(w);
        if (!ownProcess(h) && !isTopLevel(h)) return askControlText(h).value_or(std::u16string());
        // The length may grow between the calls; read until the text fits.
        int size = GetWindowTextLengthW(h) + 1;
        for (int tries = 0; tries < 8; ++tries) {
            std::vector<wchar_t> buf(static_cast<std::size_t>(size) + 1);
            const int n = GetWindowTextW(h, buf.data(), size + 1);
            if (n < size) return fromWide(buf.data(), static_cast<std::size_t>(n > 0 ? n : 0));
            size *= 2;
        }
        return {};
    }

    std::optional<std::u16string> controlText(WindowHandle w) const override {
        if (!exists(w)) return std::nullopt;
        return askControlText(hwnd(w));
    }

    platform::WindowRect rect(WindowHandle w) const override {
        RECT r{};
        if (!w || !GetWindowRect(hwnd(w), &r)) return {};
        return {r.left, r.top, r.right, r.bottom};
    }

    bool isVisible(WindowHandle w) const override { return w && IsWindowVisible(hwnd(w)); }
    bool isMinimized(WindowHandle w) const override { return w && IsIconic(hwnd(w)); }
    bool isMaximized(WindowHandle w) const override { return w && IsZoomed(hwnd(w)); }

    void postClose(WindowHandle w) override {
        if (w) PostMessageW(hwnd(w), WM_CLOSE, 0, 0);
    }

    void postSystemCommand(WindowHandle w, platform::SystemCommand c) override {
        if (!w) return;
        WPARAM cmd = SC_CLOSE;
        switch (c) {
        case platform::SystemCommand::Close: cmd = SC_CLOSE; break;
        case platform::SystemCommand::Maximize: cmd = SC_MAXIMIZE; break;
        case platform::SystemCommand::Minimize: cmd = SC_MINIMIZE; break;
        case platform::SystemCommand::Restore: cmd = SC_RESTORE; break;
        }
        PostMessageW(hwnd(w), WM_SYSCOMMAND, cmd, 0);
    }

    void showAsync(WindowHandle w, platform::ShowCommand c) override {
        if (!w) return;
        int cmd = SW_SHOWNORMAL;
        switch (c) {
        case platform::ShowCommand::Hide: cmd = SW_HIDE; break;
        case platform::ShowCommand::ShowNormal: cmd = SW_SHOWNORMAL; break;
        case platform::ShowCommand::Maximize: cmd = SW_SHOWMAXIMIZED; break;
        case platform::ShowCommand::Minimize: cmd = SW_SHOWMINIMIZED; break;
        case platform::ShowCommand::Restore: cmd = SW_RESTORE; break;
        }
        ShowWindowAsync(hwnd(w), cmd);
    }

    WindowHandle foreground() const override { return handle(GetForegroundWindow()); }
    void setForeground(WindowHandle w) override {
        if (w) SetForegroundWindow(hwnd(w));
    }

    platform::WindowRect screen() const override {
        return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
};

}  // namespace
}  // namespace iw::win32

namespace iw::platform {
std::unique_ptr<Desktop> createDesktop() { return std::make_unique<win32::DesktopImpl>(); }
}  // namespace iw::platform
