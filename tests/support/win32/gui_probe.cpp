// Helpers for the tests of real windows; see gui_probe.h.
#include "tests/support/win32/gui_probe.h"

#include <algorithm>
#include <fstream>

namespace iw::test {

std::wstring NewTempFolder(const std::wstring& prefix) {
    wchar_t tmp[MAX_PATH];
    if (GetTempPathW(MAX_PATH, tmp) == 0) return {};
    static int n = 0;
    const std::wstring folder = std::wstring(tmp) + prefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(++n) + L"-" + std::to_wstring(GetTickCount()) + L"\\";
    return CreateDirectoryW(folder.c_str(), nullptr) ? folder : std::wstring();
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

std::vector<MenuRead> ReadMenu(HMENU m) {
    std::vector<MenuRead> out;
    for (int i = 0; m && i < GetMenuItemCount(m); ++i) {
        wchar_t buf[128] = L"";
        MENUITEMINFOW mi{};
        mi.cbSize = sizeof mi;
        mi.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
        mi.dwTypeData = buf;
        mi.cch = 127;
        GetMenuItemInfoW(m, static_cast<UINT>(i), TRUE, &mi);
        out.push_back({buf, mi.wID, mi.fType, mi.fState});
    }
    return out;
}

MenuProbe*& MenuProbe::current() {
    static MenuProbe* p = nullptr;
    return p;
}

HMENU& MenuProbe::tracked() {
    static HMENU m = nullptr;
    return m;
}

LRESULT CALLBACK MenuProbe::hook(int code, WPARAM wp, LPARAM lp) {
    auto* cw = reinterpret_cast<CWPSTRUCT*>(lp);
    if (code >= 0 && cw->message == WM_INITMENUPOPUP) tracked() = reinterpret_cast<HMENU>(cw->wParam);
    return CallNextHookEx(nullptr, code, wp, lp);
}

void CALLBACK MenuProbe::read(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    MenuProbe* p = current();
    if (!p || !tracked()) return;
    p->opened = true;
    p->items = ReadMenu(tracked());
    EndMenu();
    for (const auto& it : p->items)
        if (!p->choose.empty() && it.text == p->choose) PostMessageW(p->owner, WM_COMMAND, it.id, 0);
}

void MenuProbe::run(HWND owner_, const std::function<void()>& open, const std::wstring& pick) {
    owner = owner_;
    choose = pick;
    items.clear();
    opened = false;
    current() = this;
    tracked() = nullptr;
    HHOOK h = SetWindowsHookExW(WH_CALLWNDPROC, &MenuProbe::hook, nullptr, GetCurrentThreadId());
    const UINT_PTR timer = SetTimer(nullptr, 0, 300, &MenuProbe::read);
    open();
    KillTimer(nullptr, timer);
    UnhookWindowsHookEx(h);
    current() = nullptr;
}

const MenuRead* MenuProbe::find(const std::wstring& text) const {
    for (const auto& it : items)
        if (it.text == text) return &it;
    return nullptr;
}

void SendListNotify(HWND parent, HWND list, int id, UINT code, int row) {
    NMITEMACTIVATE nm{};
    nm.hdr.hwndFrom = list;
    nm.hdr.idFrom = static_cast<UINT_PTR>(id);
    nm.hdr.code = code;
    nm.iItem = row;
    SendMessageW(parent, WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&nm));
}

void SelectRow(HWND list, int row) {
    LVITEMW st{};
    st.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    st.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&st));
}

}  // namespace iw::test
