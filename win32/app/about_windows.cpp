// The splash window `About` and the About box `frmAbout`: the product name,
// its version and, in the About box, a mailto: link to the support address.
#include "win32/app/master_window.h"

#include <shellapi.h>

namespace iw::win32app {

namespace {

constexpr wchar_t kSplashClass[] = L"About";
constexpr wchar_t kAboutClass[] = L"frmAbout";
constexpr wchar_t kSupportLink[] = L"support@inkwarden.example";
// The subject "問題交流", percent-encoded as UTF-8 for the mail program.
constexpr wchar_t kMailto[] = L"mailto:support@inkwarden.example?subject=%E5%95%8F%E9%A1%8C%E4%BA%A4%E6%B5%81";
constexpr int kLinkId = 101;

int dpiOf(HWND hwnd) {
    const UINT d = GetDpiForWindow(hwnd);
    return d ? static_cast<int>(d) : 96;
}

int scale(int px, int dpi) { return MulDiv(px, dpi, 96); }

HFONT uiFont(int px, int weight, bool underline = false) {
    return CreateFontW(-px, 0, 0, 0, weight, FALSE, underline, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Microsoft JhengHei");
}

void paintText(HWND hwnd, bool about) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    const int dpi = dpiOf(hwnd);
    RECT rc;
    GetClientRect(hwnd, &rc);
    HBRUSH bg = CreateSolidBrush(RGB(40, 90, 200));
    RECT band{0, 0, rc.right, scale(8, dpi)};
    FillRect(dc, &band, bg);
    DeleteObject(bg);
    SetBkMode(dc, TRANSPARENT);
    HFONT big = uiFont(scale(26, dpi), FW_BOLD);
    HGDIOBJ old = SelectObject(dc, big);
    RECT title{0, scale(about ? 16 : 28, dpi), rc.right, scale(about ? 52 : 70, dpi)};
    DrawTextW(dc, win32::wide(kProductName), -1, &title, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
    HFONT small = uiFont(scale(15, dpi), FW_NORMAL);
    SelectObject(dc, small);
    RECT version{0, title.bottom + scale(4, dpi), rc.right, title.bottom + scale(26, dpi)};
    DrawTextW(dc, win32::wide(kVersionText), -1, &version, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
    if (!about) {
        RECT line{0, version.bottom + scale(8, dpi), rc.right, version.bottom + scale(30, dpi)};
        DrawTextW(dc, L"POP3 郵件監視與過濾", -1, &line, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
    }
    SelectObject(dc, old);
    DeleteObject(small);
    DeleteObject(big);
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK splashProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) {
        paintText(hwnd, false);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK aboutProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE: {
        const int dpi = dpiOf(hwnd);
        RECT rc;
        GetClientRect(hwnd, &rc);
        HWND link = CreateWindowExW(0, L"STATIC", kSupportLink, WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOTIFY, 0,
                                    scale(84, dpi), rc.right, scale(22, dpi), hwnd,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLinkId)), nullptr, nullptr);
        HFONT f = uiFont(scale(14, dpi), FW_NORMAL, true);
        SetPropW(hwnd, L"font", f);
        SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
        CreateWindowExW(0, L"BUTTON", L"確定", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                        (rc.right - scale(80, dpi)) / 2, scale(116, dpi), scale(80, dpi), scale(26, dpi), hwnd,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), nullptr, nullptr);
        return 0;
    }
    case WM_PAINT: paintText(hwnd, true); return 0;
    case WM_CTLCOLORSTATIC:
        SetTextColor(reinterpret_cast<HDC>(wp), RGB(0, 0, 238));
        SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_SETCURSOR:
        if (GetDlgCtrlID(reinterpret_cast<HWND>(wp)) == kLinkId) {
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_COMMAND:
        if (LOWORD(wp) == kLinkId && HIWORD(wp) == STN_CLICKED)
            ShellExecuteW(hwnd, L"open", kMailto, nullptr, nullptr, SW_SHOWNORMAL);
        else if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)
            DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        if (HANDLE f = RemovePropW(hwnd, L"font")) DeleteObject(f);
        return 0;
    default: break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

HWND createCentred(const wchar_t* cls, WNDPROC proc, const wchar_t* title, DWORD style, int w, int h, HWND owner) {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = cls;
    RegisterClassExW(&wc);
    const UINT dpi = GetDpiForSystem();
    RECT r{0, 0, scale(w, static_cast<int>(dpi)), scale(h, static_cast<int>(dpi))};
    AdjustWindowRectExForDpi(&r, style, FALSE, 0, dpi);
    const int ww = r.right - r.left, hh = r.bottom - r.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - ww) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - hh) / 2;
    HWND hwnd = CreateWindowExW(owner ? 0 : WS_EX_TOOLWINDOW | WS_EX_TOPMOST, cls, title, style, x, y, ww, hh, owner,
                                nullptr, inst, nullptr);
    if (hwnd) {
        ShowWindow(hwnd, SW_SHOWNORMAL);
        UpdateWindow(hwnd);
    }
    return hwnd;
}

}  // namespace

win32::UniqueWindow ShowSplash() {
    return win32::UniqueWindow(
        createCentred(kSplashClass, splashProc, L"Inkwarden", WS_POPUP | WS_BORDER, 320, 150, nullptr));
}

win32::UniqueWindow ShowAboutBox(HWND owner) {
    return win32::UniqueWindow(createCentred(kAboutClass, aboutProc, L"關於 Inkwarden",
                                             WS_CAPTION | WS_SYSMENU | WS_POPUP, 320, 156, owner));
}

}  // namespace iw::win32app
