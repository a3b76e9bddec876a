// Opens top-level windows of the browser's classes for the window-command
// tests, and reports what happens to them on stdout (UTF-8, one line each,
// written at once):
//
//   browser_windows.exe [!][*]Class=Title[@WxH[m]][>text]... ...
//
// Each argument opens one visible window of that class with that title;
// "#32770" opens a dialog (the system's dialog class). A leading "!" makes
// the window refuse WM_CLOSE; "*" makes it the foreground window once all
// are open. "@WxH" gives its size in pixels (320 x 200 otherwise), and a
// following "m" opens it minimised. Each ">text" adds an "Edit" child
// holding that text (an address box). Windows opened later lie above the
// earlier ones. Output:
//   ready <count>            all windows are open
//   close <title>            a WM_CLOSE arrived
//   refused <title>          ... and was refused
//   maximize <title>         a WM_SYSCOMMAND SC_MAXIMIZE arrived (and is carried out)
//   destroyed <title>        the window is gone
//   exit                     every window is gone; the program ends (code 0)
#include <windows.h>
#include <shellapi.h>

#include <map>
#include <string>
#include <vector>

namespace {

struct WindowDesc {
    std::wstring cls;
    std::wstring title;
    bool refuse = false;
    bool foreground = false;
    bool minimized = false;
    int width = 320, height = 200;
    std::vector<std::wstring> edits;
};

std::map<HWND, WindowDesc> g_windows;
int g_open = 0;

void say(const std::wstring& line) {
    std::wstring l = line + L"\n";
    int n = WideCharToMultiByte(CP_UTF8, 0, l.c_str(), static_cast<int>(l.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, l.c_str(), static_cast<int>(l.size()), bytes.data(), n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Returns true when the message was handled here.
bool onMessage(HWND h, UINT msg, WPARAM wp) {
    auto it = g_windows.find(h);
    if (it == g_windows.end()) return false;
    if (msg == WM_CLOSE) {
        say(L"close " + it->second.title);
        if (it->second.refuse) {
            say(L"refused " + it->second.title);
        } else {
            DestroyWindow(h);
        }
        return true;
    }
    if (msg == WM_SYSCOMMAND && (wp & 0xFFF0) == SC_MAXIMIZE) {
        say(L"maximize " + it->second.title);
        return false;  // the default handling maximises it
    }
    if (msg == WM_DESTROY) {
        say(L"destroyed " + it->second.title);
        g_windows.erase(it);
        if (--g_open == 0) PostQuitMessage(0);
        return true;
    }
    return false;
}

LRESULT CALLBACK FrameProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (onMessage(h, msg, w)) return 0;
    return DefWindowProcW(h, msg, w, l);
}

INT_PTR CALLBACK DialogProc(HWND h, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_INITDIALOG) return TRUE;
    return onMessage(h, msg, wp) ? TRUE : FALSE;
}

HWND openDialog(const std::wstring& title) {
    // An empty dialog template: no menu, the default class, no title (set
    // afterwards), no controls.
    struct alignas(4) Template {
        DLGTEMPLATE t;
        WORD menu, cls, title;
    } tpl{};
    tpl.t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    tpl.t.cx = 160;
    tpl.t.cy = 60;
    HWND h = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), &tpl.t, nullptr, DialogProc, 0);
    if (h) SetWindowTextW(h, title.c_str());
    return h;
}

HWND openFrame(const WindowDesc& d) {
    const std::wstring& cls = d.cls;
    static std::vector<std::wstring> registered;
    bool known = false;
    for (const auto& r : registered) known = known || r == cls;
    if (!known) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = FrameProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = cls.c_str();
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        if (!RegisterClassW(&wc)) return nullptr;
        registered.push_back(cls);
    }
    HWND h = CreateWindowExW(0, cls.c_str(), d.title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, d.width,
                             d.height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!h) return nullptr;
    int y = 4;
    for (const std::wstring& text : d.edits) {
        CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", text.c_str(), WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 4, y,
                        d.width - 24 > 40 ? d.width - 24 : 40, 22, h, nullptr, GetModuleHandleW(nullptr), nullptr);
        y += 26;
    }
    if (d.minimized) ShowWindow(h, SW_SHOWMINNOACTIVE);
    return h;
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 2;
    std::vector<WindowDesc> descs;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        WindowDesc s;
        while (!a.empty() && (a[0] == L'!' || a[0] == L'*')) {
            (a[0] == L'!' ? s.refuse : s.foreground) = true;
            a.erase(0, 1);
        }
        const auto eq = a.find(L'=');
        if (eq == std::wstring::npos) return 2;
        s.cls = a.substr(0, eq);
        std::wstring rest = a.substr(eq + 1);
        for (auto gt = rest.rfind(L'>'); gt != std::wstring::npos; gt = rest.rfind(L'>')) {
            s.edits.insert(s.edits.begin(), rest.substr(gt + 1));
            rest.erase(gt);
        }
        const auto at = rest.rfind(L'@');
        if (at != std::wstring::npos) {
            std::wstring size = rest.substr(at + 1);
            rest.erase(at);
            if (!size.empty() && size.back() == L'm') {
                s.minimized = true;
                size.pop_back();
            }
            const auto x = size.find(L'x');
            if (x == std::wstring::npos) return 2;
            s.width = _wtoi(size.substr(0, x).c_str());
            s.height = _wtoi(size.substr(x + 1).c_str());
        }
        s.title = rest;
        descs.push_back(s);
    }
    LocalFree(argv);
    if (descs.empty()) return 2;

    HWND foreground = nullptr;
    for (const WindowDesc& s : descs) {
        HWND h = s.cls == L"#32770" ? openDialog(s.title) : openFrame(s);
        if (!h) {
            say(L"failed " + s.title);
            return 3;
        }
        g_windows[h] = s;
        ++g_open;
        if (s.foreground) foreground = h;
    }
    if (foreground) SetForegroundWindow(foreground);
    say(L"ready " + std::to_wstring(g_open));

    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    say(L"exit");
    return 0;
}
