// Layout checks of the GUI tests; see layout_check.h.
#include "tests/support/win32/layout_check.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace iw::test {

namespace {

std::wstring textOf(HWND h) {
    wchar_t buf[512] = L"";
    GetWindowTextW(h, buf, 512);
    return buf;
}

std::wstring classOf(HWND h) {
    wchar_t buf[64] = L"";
    GetClassNameW(h, buf, 64);
    std::wstring s = buf;
    for (auto& c : s) c = static_cast<wchar_t>(towlower(c));
    return s;
}

bool isCheckBox(HWND h) {
    const LONG_PTR type = GetWindowLongPtrW(h, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
           type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

}  // namespace

RECT ClientRectOf(HWND parent, HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void ExpectCleanLayout(HWND win, const std::vector<int>& containers) {
    auto holds = [&](HWND outer, const RECT& o, const RECT& inner) {
        bool container = false;
        for (int id : containers) container = container || GetDlgCtrlID(outer) == id;
        return container && inner.left >= o.left && inner.top >= o.top && inner.right <= o.right &&
               inner.bottom <= o.bottom;
    };
    RECT client;
    GetClientRect(win, &client);
    std::vector<std::pair<HWND, RECT>> shown;
    for (HWND c = GetWindow(win, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (IsWindowVisible(c)) shown.push_back({c, ClientRectOf(win, c)});
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const RECT& a = shown[i].second;
        const int id = GetDlgCtrlID(shown[i].first);
        EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= client.right && a.bottom <= client.bottom)
            << "control " << id << " leaves the client area";
        for (std::size_t k = i + 1; k < shown.size(); ++k) {
            RECT both;
            const RECT& b = shown[k].second;
            if (holds(shown[i].first, a, b) || holds(shown[k].first, b, a)) continue;
            EXPECT_FALSE(IntersectRect(&both, &a, &b))
                << "control " << id << " (" << a.left << "," << a.top << "," << a.right << "," << a.bottom
                << ") overlaps control " << GetDlgCtrlID(shown[k].first) << " (" << b.left << "," << b.top << ","
                << b.right << "," << b.bottom << ")";
        }
    }
    const UINT dpi = GetDpiForWindow(win) ? GetDpiForWindow(win) : 96;
    for (const auto& [h, rect] : shown) {
        const std::wstring kind = classOf(h);
        if (kind != L"button" && kind != L"static") continue;
        const std::wstring text = textOf(h);
        HDC dc = GetDC(h);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)));
        SIZE ext{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &ext);
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        SelectObject(dc, old);
        ReleaseDC(h, dc);
        RECT r;
        GetClientRect(h, &r);
        const int need = ext.cx + (kind == L"button" && isCheckBox(h) ? GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi) + 4 : 0);
        EXPECT_LE(need, r.right) << "caption cut: control " << GetDlgCtrlID(h);
        EXPECT_LE(tm.tmHeight, r.bottom) << "caption cut in height: control " << GetDlgCtrlID(h);
    }
}

}  // namespace iw::test
