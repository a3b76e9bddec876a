// Test helper for the screenshot: a small window with Chinese labels drawn
// in the dialog font, shown for a few seconds (the first argument, default
// 6) and then closed by itself.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

namespace {

LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_TIMER) {
        DestroyWindow(h);
        return 0;
    }
    if (m == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const int seconds = argc >= 2 ? _wtoi(argv[1]) : 6;
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = inst;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"InkwardenTextWindow";
    RegisterClassW(&wc);
    HWND win = CreateWindowExW(0, wc.lpszClassName, L"Inkwarden 郵件", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                               40, 40, 360, 200, nullptr, nullptr, inst, nullptr);
    HFONT font = CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Shell Dlg");
    const wchar_t* labels[] = {L"郵件預覽...", L"結束", L"偏好設定"};
    for (int i = 0; i < 3; ++i) {
        HWND s = CreateWindowExW(0, L"STATIC", labels[i], WS_CHILD | WS_VISIBLE, 20, 20 + 40 * i, 300, 30, win,
                                 nullptr, inst, nullptr);
        SendMessageW(s, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    ShowWindow(win, SW_SHOWNORMAL);
    UpdateWindow(win);
    SetTimer(win, 1, static_cast<UINT>(seconds > 0 ? seconds : 6) * 1000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DeleteObject(font);
    return 0;
}
