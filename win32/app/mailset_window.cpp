// The settings dialog on screen and its host; see mailset_window.h. The
// layout is written in 96-DPI pixels and scaled to the window's own DPI; a
// check box is as wide as its caption, and its companion follows it.
#include "win32/app/mailset_window.h"

#include <algorithm>
#include <cstdio>

#include <uxtheme.h>

#include "win32/app/dpi_support.h"
#include "win32/app/master_window.h"
#include "win32/app/modal_dialogs_win32.h"
#include "win32/platform/win32_event_loop.h"

namespace iw::win32app {

namespace {

using settings::ListMenuItem;
using settings::MailsetCombo;
using settings::MailsetControl;
using settings::MailsetList;
using settings::MailsetRow;
using settings::MouseButton;

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;
constexpr int kClientW = 572, kClientH = 452;  // design size at 96 DPI

constexpr const wchar_t* kCheckCaptions[12] = {
    L"開機自動執行程式", L"自動檢查新郵件,每隔", L"自動開啟郵件過濾程式,當郵件超過", L"啟用黑名單過濾郵件",
    L"不下載郵件超過",   L"寄信者空白視為垃圾郵件", L"信任名單不受大小限制",         L"啟用時間校正(主機)",
    L"啟用網站過濾.",    L"空白網址關閉.",          L"郵件超過百封,分次下載郵件",     L"啟用網域過濾郵件",
};
// The page each option box is on.
constexpr int kCheckPage[12] = {0, 0, 0, 1, 1, 1, 1, 0, 2, 2, 0, 1};

void report(const char* where) {
    char text[160];
    std::snprintf(text, sizeof text, "Inkwarden: an exception was stopped in the settings dialog (%s)\n", where);
    OutputDebugStringA(text);
}

const wchar_t* wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
std::u16string u16(const wchar_t* s) { return std::u16string(reinterpret_cast<const char16_t*>(s)); }

std::u16string windowText(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
    GetWindowTextW(h, w.data(), n + 1);
    w.resize(static_cast<std::size_t>(n));
    return std::u16string(w.begin(), w.end());
}

// The page a control is on; -1 for the tab control and the buttons below.
int pageOf(int id) {
    if (id >= kMsCheck1 && id < kMsCheck1 + 12) return kCheckPage[id - kMsCheck1];
    switch (id) {
    case kMsListView1: case kMsCommand3: case kMsCommand4: case kMsCommand5: case kMsCombo1: case kMsCombo2:
    case kMsCombo3: case kMsLabelMinutes: case kMsLabelMessages:
        return 0;
    case kMsListView2: case kMsListView3: case kMsText1: case kMsVScroll1: case kMsLabelKb:
        return 1;
    case kMsFrame5: case kMsSlider1: case kMsLabel0: case kMsLabel100: case kMsCommand7: case kMsListView4:
        return 2;
    default:
        return -1;
    }
}

int controlId(MailsetControl c) {
    switch (c) {
    case MailsetControl::Combo1: return kMsCombo1;
    case MailsetControl::Combo2: return kMsCombo2;
    case MailsetControl::Combo3: return kMsCombo3;
    case MailsetControl::Text1: return kMsText1;
    case MailsetControl::VScroll1: return kMsVScroll1;
    }
    return 0;
}

int comboId(MailsetCombo c) {
    return c == MailsetCombo::Combo1 ? kMsCombo1 : c == MailsetCombo::Combo2 ? kMsCombo2 : kMsCombo3;
}

void registerClass() {
    static bool done = false;
    if (done) return;
    done = true;
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES |
                                             ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = kMailsetClass;
    RegisterClassExW(&wc);
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and layout.

MailsetWindow::MailsetWindow(platform::EventLoop& loop) : loop_(loop) {
    registerClass();
    PerMonitorDpi context;
    window_.reset(CreateWindowExW(kExStyle, kMailsetClass, L"信箱設定", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                  kClientW, kClientH, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
    if (!window_) return;
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window_.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MailsetWindow::windowProc));
    dpi_ = GetDpiForWindow(window_.get());
    if (dpi_ == 0) dpi_ = 96;
    createFont();
    createControls();
    RECT r{0, 0, px(kClientW), px(kClientH)};
    AdjustWindowRectExForDpi(&r, kStyle, FALSE, kExStyle, dpi_);
    SetWindowPos(window_.get(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
    // Centred on its screen.
    RECT wr;
    GetWindowRect(window_.get(), &wr);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(window_.get(), MONITOR_DEFAULTTOPRIMARY), &mi);
    const RECT& s = mi.rcWork;
    SetWindowPos(window_.get(), nullptr, s.left + std::max(0L, (s.right - s.left - (wr.right - wr.left)) / 2),
                 s.top + std::max(0L, (s.bottom - s.top - (wr.bottom - wr.top)) / 2), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    placeAll();
    showPage(0);
    const int icon = GetSystemMetricsForDpi(SM_CXSMICON, dpi_);
    icon_.reset(DrawTrayIcon(app::TrayPicture::Program, icon > 0 ? icon : 16));
    if (icon_) SendMessageW(window_.get(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_.get()));
    const int big = GetSystemMetricsForDpi(SM_CXICON, dpi_);
    bigIcon_.reset(DrawTrayIcon(app::TrayPicture::Program, big > 0 ? big : 32));
    if (bigIcon_) SendMessageW(window_.get(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
}

MailsetWindow::~MailsetWindow() {
    *alive_ = false;
    presenter_ = nullptr;
    if (auto* w = win32::asWin32(loop_); w && window_) w->removeDialog(window_.get());
    if (tooltip_) DestroyWindow(tooltip_);
    if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
    window_.reset();
}

void MailsetWindow::createFont() { font_ = createMessageFont(dpi_); }

HWND MailsetWindow::createChild(const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD exStyle) {
    HWND h = CreateWindowExW(exStyle, cls, text, WS_CHILD | style, 0, 0, 10, 10, window_.get(),
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return h;
}

int MailsetWindow::textWidth(const wchar_t* text) const {
    HDC dc = GetDC(window_.get());
    HGDIOBJ old = SelectObject(dc, font_.get());
    SIZE sz{};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &sz);
    SelectObject(dc, old);
    ReleaseDC(window_.get(), dc);
    return sz.cx;
}

void MailsetWindow::createControls() {
    ++suppress_;
    // Created in tab order: the tab control first, then each page, then the
    // buttons below the pages. The tab control is moved to the bottom of the
    // drawing order afterwards so the page controls paint over it.
    HWND tab = createChild(WC_TABCONTROLW, L"", WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS, kMsTab);
    const wchar_t* tabs[] = {L"選項", L"過濾規則", L"廣告網址"};
    for (int i = 0; i < 3; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(tabs[i]);
        SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }

    auto listView = [&](int id, DWORD extra, std::initializer_list<const wchar_t*> columns) {
        HWND lv = createChild(WC_LISTVIEWW, L"", LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_TABSTOP | extra,
                              id, WS_EX_CLIENTEDGE);
        DWORD ex = LVS_EX_FULLROWSELECT;
        if (id == kMsListView4) ex |= LVS_EX_CHECKBOXES;
        SendMessageW(lv, LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
        int k = 0;
        for (const wchar_t* c : columns) {
            LVCOLUMNW col{};
            col.mask = LVCF_TEXT | LVCF_WIDTH;
            col.pszText = const_cast<wchar_t*>(c);
            col.cx = 100;
            SendMessageW(lv, LVM_INSERTCOLUMNW, k++, reinterpret_cast<LPARAM>(&col));
        }
        return lv;
    };
    auto check = [&](int k) { createChild(L"BUTTON", kCheckCaptions[k], BS_AUTOCHECKBOX | WS_TABSTOP, kMsCheck1 + k); };
    auto combo = [&](int id) { createChild(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, id); };
    auto label = [&](int id, const wchar_t* text) { createChild(L"STATIC", text, SS_LEFT | SS_NOPREFIX, id); };

    // Page "選項".
    listView(kMsListView1, LVS_SINGLESEL, {L"使用者帳號", L"電子郵件地址"});
    createChild(L"BUTTON", L"新增帳號", BS_PUSHBUTTON | WS_TABSTOP, kMsCommand3);
    createChild(L"BUTTON", L"修改帳號", BS_PUSHBUTTON | WS_TABSTOP, kMsCommand5);
    createChild(L"BUTTON", L"移除帳號", BS_PUSHBUTTON | WS_TABSTOP, kMsCommand4);
    check(0);
    check(1);
    combo(kMsCombo1);
    label(kMsLabelMinutes, L"分鐘.");
    check(2);
    combo(kMsCombo2);
    label(kMsLabelMessages, L"封(含).");
    check(7);
    combo(kMsCombo3);
    check(10);

    // Page "過濾規則".
    check(3);
    check(4);
    createChild(L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, kMsText1, WS_EX_CLIENTEDGE);
    HWND bar = createChild(L"SCROLLBAR", L"", SBS_VERT, kMsVScroll1);
    SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, settings::kScrollMin, settings::kScrollMax, 0,
                  settings::kScrollMin, 0};
    SetScrollInfo(bar, SB_CTL, &si, FALSE);
    label(kMsLabelKb, L"KB");
    check(5);
    check(6);
    check(11);
    listView(kMsListView2, 0, {L"黑名單郵件地址"});
    listView(kMsListView3, 0, {L"信任名單郵件地址"});

    // Page "廣告網址".
    HWND frame = createChild(L"BUTTON", L"", BS_GROUPBOX, kMsFrame5);
    SetWindowSubclass(frame, &MailsetWindow::frameProc, 1, reinterpret_cast<DWORD_PTR>(this));
    label(kMsLabel0, L"0%");
    HWND slider = createChild(TRACKBAR_CLASSW, L"", TBS_HORZ | TBS_AUTOTICKS | WS_TABSTOP, kMsSlider1);
    SendMessageW(slider, TBM_SETRANGE, FALSE, MAKELPARAM(0, 100));
    SendMessageW(slider, TBM_SETTICFREQ, 10, 0);
    SendMessageW(slider, TBM_SETPAGESIZE, 0, 10);
    // Drawn on the colour WM_CTLCOLORSTATIC gives, like the labels beside it.
    SetWindowTheme(slider, L"", L"");
    label(kMsLabel100, L"100%");
    check(8);
    check(9);
    createChild(L"BUTTON", L"設定", BS_PUSHBUTTON | WS_TABSTOP, kMsCommand7);
    listView(kMsListView4, 0, {L"網站網址列表"});

    // Below the pages.
    createChild(L"BUTTON", L"儲存", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, kMsCommand1);
    createChild(L"BUTTON", L"放棄", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, kMsCommand2);
    createChild(L"BUTTON", L"管制密碼", BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, kMsCommand6);
    SetWindowPos(tab, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    // The slider's tooltip: the position followed by "%".
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_.get(), nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    if (tooltip_) {
        TOOLINFOW ti{};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = window_.get();
        ti.uId = reinterpret_cast<UINT_PTR>(slider);
        ti.lpszText = const_cast<wchar_t*>(L"");
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
        SendMessageW(tooltip_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    }
    --suppress_;
}

void MailsetWindow::placeAll() {
    HWND w = window_.get();
    auto put = [&](int id, int x, int y, int cx, int cy) {
        SetWindowPos(GetDlgItem(w, id), nullptr, px(x), px(y), px(cx), px(cy), SWP_NOZORDER | SWP_NOACTIVATE);
    };
    // A check box as wide as its caption; returns the x (design pixels)
    // just after it.
    auto checkAt = [&](int k, int x, int y) {
        const int width = MulDiv(textWidth(kCheckCaptions[k]), 96, static_cast<int>(dpi_)) + 26;
        put(kMsCheck1 + k, x, y, width, 22);
        return x + width + 4;
    };

    put(kMsTab, 8, 8, kClientW - 16, kClientH - 60);
    // The page area inside the tab control.
    RECT page{0, 0, px(kClientW - 16), px(kClientH - 60)};
    SendMessageW(GetDlgItem(w, kMsTab), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&page));
    const int top = MulDiv(page.top, 96, static_cast<int>(dpi_)) + 8 + 8;
    const int left = 24, right = kClientW - 24, width = right - left;

    // Page "選項": the account list with its buttons at its right, then the
    // option boxes with their choices.
    const int buttonW = 92;
    put(kMsListView1, left, top, width - buttonW - 10, 150);
    put(kMsCommand3, right - buttonW, top, buttonW, 28);
    put(kMsCommand5, right - buttonW, top + 34, buttonW, 28);
    put(kMsCommand4, right - buttonW, top + 68, buttonW, 28);
    int y = top + 164;
    checkAt(0, left, y);
    y += 30;
    int x = checkAt(1, left, y);
    put(kMsCombo1, x, y - 1, 70, 240);
    put(kMsLabelMinutes, x + 76, y + 3, 60, 20);
    y += 30;
    x = checkAt(2, left, y);
    put(kMsCombo2, x, y - 1, 70, 200);
    put(kMsLabelMessages, x + 76, y + 3, 70, 20);
    y += 30;
    x = checkAt(7, left, y);
    put(kMsCombo3, x, y - 1, 220, 160);
    y += 30;
    checkAt(10, left, y);

    // Page "過濾規則": the option boxes, then the two lists side by side.
    y = top;
    checkAt(3, left, y);
    y += 28;
    x = checkAt(4, left, y);
    put(kMsText1, x, y - 1, 64, 24);
    put(kMsVScroll1, x + 64, y - 1, 18, 24);
    put(kMsLabelKb, x + 88, y + 3, 30, 20);
    y += 28;
    checkAt(5, left, y);
    y += 28;
    checkAt(6, left, y);
    y += 28;
    checkAt(11, left, y);
    y += 34;
    const int listH = kClientH - 60 + 8 - 12 - y;
    const int half = (width - 12) / 2;
    put(kMsListView2, left, y, half, listH);
    put(kMsListView3, left + half + 12, y, width - half - 12, listH);

    // Page "廣告網址": the frame with the slider, the two boxes with the
    // unlock button, and the list.
    y = top;
    put(kMsFrame5, left, y, width, 74);
    put(kMsLabel0, left + 12, y + 34, 40, 20);
    put(kMsSlider1, left + 52, y + 26, width - 52 - 60, 36);
    put(kMsLabel100, right - 54, y + 34, 48, 20);
    y += 86;
    x = checkAt(8, left, y);
    checkAt(9, std::max(x + 16, left + 200), y);
    put(kMsCommand7, right - buttonW, y - 3, buttonW, 28);
    y += 34;
    put(kMsListView4, left, y, width, kClientH - 60 + 8 - 12 - y);

    // Each list's last column takes the rest of its width.
    SendMessageW(GetDlgItem(w, kMsListView1), LVM_SETCOLUMNWIDTH, 0, px(150));
    SendMessageW(GetDlgItem(w, kMsListView1), LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE_USEHEADER);
    for (int id : {kMsListView2, kMsListView3, kMsListView4})
        SendMessageW(GetDlgItem(w, id), LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE_USEHEADER);

    // The buttons below the pages, at the right.
    const int by = kClientH - 42, bw = 92;
    put(kMsCommand1, kClientW - 8 - 3 * bw - 16, by, bw, 30);
    put(kMsCommand2, kClientW - 8 - 2 * bw - 8, by, bw, 30);
    put(kMsCommand6, kClientW - 8 - bw, by, bw, 30);
}

void MailsetWindow::paintBackground(HDC dc) {
    RECT client;
    GetClientRect(window_.get(), &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    HWND tab = control(kMsTab);
    if (!tab || !GetWindowTheme(tab)) return;
    RECT body;
    GetWindowRect(tab, &body);
    MapWindowPoints(nullptr, window_.get(), reinterpret_cast<POINT*>(&body), 2);
    SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&body));
    FillRect(dc, &body, GetSysColorBrush(COLOR_WINDOW));
}

void MailsetWindow::showPage(int page) {
    page_ = std::clamp(page, 0, 2);
    HWND w = window_.get();
    ++suppress_;
    SendMessageW(GetDlgItem(w, kMsTab), TCM_SETCURSEL, page_, 0);
    for (HWND child = GetWindow(w, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        const int p = pageOf(id);
        if (p < 0) continue;
        const bool show = p == page_ && (id != kMsCommand7 || unlockVisible_);
        ShowWindow(child, show ? SW_SHOWNA : SW_HIDE);
    }
    // The tab control repaints its whole body, not only where the hidden
    // controls stood, so no trace of the other page is left.
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    --suppress_;
}

void MailsetWindow::onDpiChanged(UINT dpi, const RECT* suggested) {
    dpi_ = dpi == 0 ? 96 : dpi;
    createFont();
    for (HWND child = GetWindow(window_.get(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
    if (tooltip_) SendMessageW(tooltip_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    if (suggested)
        SetWindowPos(window_.get(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    placeAll();
    InvalidateRect(window_.get(), nullptr, TRUE);
}

// ---------------------------------------------------------------------------
// Applying the presenter's changes.

HWND MailsetWindow::listOf(MailsetList list) const {
    switch (list) {
    case MailsetList::Accounts: return control(kMsListView1);
    case MailsetList::Black: return control(kMsListView2);
    case MailsetList::Trust: return control(kMsListView3);
    case MailsetList::Web: return control(kMsListView4);
    }
    return nullptr;
}

void MailsetWindow::writeRow(HWND lv, int row, const MailsetRow& value, bool insert) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(wide(value.text));
    if (insert) {
        row = static_cast<int>(SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    } else {
        SendMessageW(lv, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    }
    if (lv == control(kMsListView1)) {
        LVITEMW sub{};
        sub.iSubItem = 1;
        sub.pszText = const_cast<wchar_t*>(wide(value.second));
        SendMessageW(lv, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
    }
    if (lv == control(kMsListView4)) {
        LVITEMW st{};
        st.stateMask = LVIS_STATEIMAGEMASK;
        st.state = INDEXTOSTATEIMAGEMASK(value.checked ? 2 : 1);
        SendMessageW(lv, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&st));
    }
    std::vector<bool>* red = lv == control(kMsListView2) ? &blackRed_ : lv == control(kMsListView4) ? &webRed_ : nullptr;
    if (red) {
        if (insert) red->insert(red->begin() + std::min<std::size_t>(static_cast<std::size_t>(row), red->size()), value.red);
        else if (static_cast<std::size_t>(row) < red->size()) (*red)[static_cast<std::size_t>(row)] = value.red;
        SendMessageW(lv, LVM_REDRAWITEMS, row, row);
    }
}

void MailsetWindow::setRows(MailsetList list, const std::vector<MailsetRow>& rows) {
    ++suppress_;
    HWND lv = listOf(list);
    SendMessageW(lv, LVM_DELETEALLITEMS, 0, 0);
    if (list == MailsetList::Black) blackRed_.clear();
    if (list == MailsetList::Web) webRed_.clear();
    int i = 0;
    for (const MailsetRow& r : rows) writeRow(lv, i++, r, true);
    --suppress_;
}

void MailsetWindow::addRow(MailsetList list, const MailsetRow& row) {
    ++suppress_;
    HWND lv = listOf(list);
    writeRow(lv, static_cast<int>(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0)), row, true);
    --suppress_;
}

void MailsetWindow::updateRow(MailsetList list, int row, const MailsetRow& value) {
    ++suppress_;
    writeRow(listOf(list), row, value, false);
    --suppress_;
}

void MailsetWindow::removeRow(MailsetList list, int row) {
    ++suppress_;
    SendMessageW(listOf(list), LVM_DELETEITEM, row, 0);
    std::vector<bool>* red = list == MailsetList::Black ? &blackRed_ : list == MailsetList::Web ? &webRed_ : nullptr;
    if (red && static_cast<std::size_t>(row) < red->size()) red->erase(red->begin() + row);
    --suppress_;
}

void MailsetWindow::setComboItems(MailsetCombo combo, const std::vector<std::u16string>& items) {
    ++suppress_;
    HWND c = control(comboId(combo));
    SendMessageW(c, CB_RESETCONTENT, 0, 0);
    for (const auto& s : items) SendMessageW(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(s)));
    --suppress_;
}

void MailsetWindow::setComboSelection(MailsetCombo combo, int index) {
    ++suppress_;
    SendMessageW(control(comboId(combo)), CB_SETCURSEL, index, 0);
    --suppress_;
}

void MailsetWindow::setEnabled(MailsetControl c, bool enabled) {
    ++suppress_;
    EnableWindow(control(controlId(c)), enabled ? TRUE : FALSE);
    if (c == MailsetControl::Combo1) EnableWindow(control(kMsLabelMinutes), enabled ? TRUE : FALSE);
    if (c == MailsetControl::Combo2) EnableWindow(control(kMsLabelMessages), enabled ? TRUE : FALSE);
    if (c == MailsetControl::Text1) EnableWindow(control(kMsLabelKb), enabled ? TRUE : FALSE);
    --suppress_;
}

void MailsetWindow::setOption(int k, bool checked) {
    ++suppress_;
    SendMessageW(control(kMsCheck1 + k), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    --suppress_;
}

void MailsetWindow::setOptionEnabled(int k, bool enabled) {
    ++suppress_;
    EnableWindow(control(kMsCheck1 + k), enabled ? TRUE : FALSE);
    --suppress_;
}

void MailsetWindow::setSizeText(const std::u16string& text) {
    ++suppress_;
    SetWindowTextW(control(kMsText1), wide(text));
    --suppress_;
}

void MailsetWindow::setScrollPosition(int position) {
    ++suppress_;
    SetScrollPos(control(kMsVScroll1), SB_CTL, position, TRUE);
    --suppress_;
}

void MailsetWindow::setSlider(int position) {
    ++suppress_;
    SendMessageW(control(kMsSlider1), TBM_SETPOS, TRUE, position);
    --suppress_;
}

void MailsetWindow::setSliderTip(const std::u16string& tip) {
    sliderTip_ = tip;
    if (!tooltip_) return;
    TOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.hwnd = window_.get();
    ti.uId = reinterpret_cast<UINT_PTR>(control(kMsSlider1));
    ti.lpszText = const_cast<wchar_t*>(wide(sliderTip_));
    SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void MailsetWindow::setFrameCaption(const std::u16string& caption) {
    SetWindowTextW(control(kMsFrame5), wide(caption));
}

void MailsetWindow::setUnlockVisible(bool visible) {
    unlockVisible_ = visible;
    HWND b = control(kMsCommand7);
    if (!visible && GetFocus() == b) SetFocus(control(kMsCheck1 + 8));
    ShowWindow(b, visible && page_ == 2 ? SW_SHOWNA : SW_HIDE);
}

void MailsetWindow::popUpListMenu(const settings::ListMenuState& m) {
    win32::UniqueMenu menu(CreatePopupMenu());
    lastMenuItems_.clear();
    auto add = [&](ListMenuItem item, const wchar_t* text, bool visible, bool checked) {
        if (!visible) return;
        const int id = kMsMenuBase + static_cast<int>(item);
        AppendMenuW(menu.get(), MF_STRING | (checked ? MF_CHECKED : 0), static_cast<UINT_PTR>(id), text);
        lastMenuItems_.emplace_back(id, u16(text) + (checked ? u"*" : u""));
    };
    add(ListMenuItem::MailAdd, L"新增名單", true, false);
    add(ListMenuItem::MailRemove, L"移除名單", true, false);
    add(ListMenuItem::MailModify, L"修改名單", true, false);
    add(ListMenuItem::DoFilter, L"網域過濾", m.doFilterVisible, m.doFilterChecked);
    add(ListMenuItem::OpenUrl, L"開啟網頁", m.openUrlVisible, false);
    add(ListMenuItem::PopAdv, L"個別過濾", m.popAdvVisible, m.popAdvChecked);
    int cmd = std::exchange(scriptedMenuChoice_, 0);
    if (cmd == 0) {
        POINT pt{};
        GetCursorPos(&pt);
        cmd = static_cast<int>(TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, pt.x, pt.y, 0,
                                              window_.get(), nullptr));
    }
    // The choice reaches the presenter after this call has returned.
    if (cmd) PostMessageW(window_.get(), WM_COMMAND, MAKEWPARAM(cmd, 0), 0);
}

void MailsetWindow::showMessage(const std::u16string& text, const std::u16string& title) {
    MessageBoxW(window_.get(), wide(text), wide(title), MB_OK);
}

void MailsetWindow::closeWindow() {
    if (closing_) return;
    closing_ = true;
    if (tooltip_) SendMessageW(tooltip_, TTM_POP, 0, 0);
    ShowWindow(window_.get(), SW_HIDE);
    finishCloseWhenIdle();
}

void MailsetWindow::finishCloseWhenIdle() {
    if (!closing_ || depth_ > 0 || closePosted_) return;
    closePosted_ = true;
    std::weak_ptr<bool> alive = alive_;
    loop_.post([this, alive] {
        auto a = alive.lock();
        if (!a || !*a) return;
        presenter_ = nullptr;
        if (onClosed) {
            auto done = std::move(onClosed);
            done();  // may destroy this view
        }
    });
}

template <typename F>
void MailsetWindow::forward(F&& f) {
    if (!presenter_ || closing_) return;
    ++depth_;
    try {
        f(*presenter_);
    } catch (...) {
        report("a handler");
    }
    --depth_;
    finishCloseWhenIdle();
}

// ---------------------------------------------------------------------------
// Notifications.

void MailsetWindow::onScroll(HWND bar, int code) {
    if (bar == control(kMsSlider1)) {
        const int pos = static_cast<int>(SendMessageW(bar, TBM_GETPOS, 0, 0));
        forward([pos](settings::MailsetPresenter& p) {
            if (p.slider() != pos) p.popupSizeChanged(pos);
        });
        return;
    }
    if (bar != control(kMsVScroll1)) return;
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    GetScrollInfo(bar, SB_CTL, &si);
    int pos = si.nPos;
    switch (code) {
    case SB_LINEUP: pos -= 1; break;
    case SB_LINEDOWN: pos += 1; break;
    case SB_PAGEUP: pos -= 10; break;
    case SB_PAGEDOWN: pos += 10; break;
    case SB_TOP: pos = settings::kScrollMin; break;
    case SB_BOTTOM: pos = settings::kScrollMax; break;
    case SB_THUMBTRACK: case SB_THUMBPOSITION: pos = si.nTrackPos; break;
    default: return;
    }
    pos = std::clamp(pos, settings::kScrollMin, settings::kScrollMax);
    if (pos == si.nPos) return;
    SetScrollPos(bar, SB_CTL, pos, TRUE);
    forward([pos](settings::MailsetPresenter& p) { p.sizeScrolled(pos); });
}

LRESULT MailsetWindow::onNotify(NMHDR* h) {
    if ((h->idFrom == kMsListView2 || h->idFrom == kMsListView4) && h->code == NM_CUSTOMDRAW) {
        auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(h);
        if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
        if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            const auto& red = h->idFrom == kMsListView2 ? blackRed_ : webRed_;
            const std::size_t row = cd->nmcd.dwItemSpec;
            cd->clrText = row < red.size() && red[row] ? RGB(255, 0, 0) : RGB(0, 0, 0);
        }
        return CDRF_DODEFAULT;
    }
    if (h->idFrom == kMsTab && h->code == TCN_SELCHANGE) {
        showPage(static_cast<int>(SendMessageW(h->hwndFrom, TCM_GETCURSEL, 0, 0)));
        return 0;
    }
    if (suppress_ > 0) return 0;
    MailsetList list;
    switch (h->idFrom) {
    case kMsListView1: list = MailsetList::Accounts; break;
    case kMsListView2: list = MailsetList::Black; break;
    case kMsListView3: list = MailsetList::Trust; break;
    case kMsListView4: list = MailsetList::Web; break;
    default: return 0;
    }
    if (h->code == LVN_ITEMCHANGED) {
        auto* nm = reinterpret_cast<NMLISTVIEW*>(h);
        if (!(nm->uChanged & LVIF_STATE)) return 0;
        if ((nm->uNewState ^ nm->uOldState) & LVIS_SELECTED) {
            const bool on = (nm->uNewState & LVIS_SELECTED) != 0;
            const int count = static_cast<int>(SendMessageW(h->hwndFrom, LVM_GETITEMCOUNT, 0, 0));
            const int first = nm->iItem < 0 ? 0 : nm->iItem, last = nm->iItem < 0 ? count - 1 : nm->iItem;
            forward([&](settings::MailsetPresenter& p) {
                for (int r = first; r <= last; ++r) p.RowSelected(list, r, on);
            });
        }
        if (list == MailsetList::Web && nm->iItem >= 0 && ((nm->uNewState ^ nm->uOldState) & LVIS_STATEIMAGEMASK) &&
            (nm->uOldState & LVIS_STATEIMAGEMASK)) {
            const bool on = ((nm->uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
            const int row = nm->iItem;
            forward([&](settings::MailsetPresenter& p) { p.webEntryChecked(row, on); });
        }
        return 0;
    }
    if (h->code == NM_CLICK || h->code == NM_RCLICK) {
        const MouseButton b = h->code == NM_CLICK ? MouseButton::Left : MouseButton::Right;
        forward([&](settings::MailsetPresenter& p) {
            if (list == MailsetList::Black) p.blackListMouseDown(b);
            if (list == MailsetList::Trust) p.trustListMouseDown(b);
            if (list == MailsetList::Web) p.webListMouseUp(b);
        });
    }
    return 0;
}

void MailsetWindow::onCommand(int id, int code) {
    if (id >= kMsMenuBase && id <= kMsMenuBase + static_cast<int>(ListMenuItem::PopAdv)) {
        const auto item = static_cast<ListMenuItem>(id - kMsMenuBase);
        forward([item](settings::MailsetPresenter& p) { p.menuChosen(item); });
        return;
    }
    if (suppress_ > 0) return;
    // Enter and Esc, as the dialog manager reports them.
    if (id == IDOK) id = kMsCommand1, code = BN_CLICKED;
    if (id == IDCANCEL) id = kMsCommand2, code = BN_CLICKED;
    HWND ctl = control(id);
    if (id >= kMsCheck1 && id < kMsCheck1 + 12 && code == BN_CLICKED) {
        const int k = id - kMsCheck1;
        const bool on = SendMessageW(ctl, BM_GETCHECK, 0, 0) == BST_CHECKED;
        forward([k, on](settings::MailsetPresenter& p) { p.optionClicked(k, on); });
        return;
    }
    if ((id == kMsCombo1 || id == kMsCombo2 || id == kMsCombo3) && code == CBN_SELCHANGE) {
        const int i = static_cast<int>(SendMessageW(ctl, CB_GETCURSEL, 0, 0));
        const MailsetCombo c = id == kMsCombo1 ? MailsetCombo::Combo1 : id == kMsCombo2 ? MailsetCombo::Combo2
                                                                                        : MailsetCombo::Combo3;
        forward([c, i](settings::MailsetPresenter& p) { p.choiceSelected(c, i); });
        return;
    }
    if (id == kMsText1 && code == EN_CHANGE) {
        const std::u16string text = windowText(ctl);
        forward([&](settings::MailsetPresenter& p) { p.sizeTextChanged(text); });
        return;
    }
    if (code != BN_CLICKED) return;
    switch (id) {
    case kMsCommand1: forward([](settings::MailsetPresenter& p) { p.save(); }); break;
    case kMsCommand2: forward([](settings::MailsetPresenter& p) { p.discard(); }); break;
    case kMsCommand3: forward([](settings::MailsetPresenter& p) { p.addAccount(); }); break;
    case kMsCommand4: forward([](settings::MailsetPresenter& p) { p.removeAccount(); }); break;
    case kMsCommand5: forward([](settings::MailsetPresenter& p) { p.modifyAccount(); }); break;
    case kMsCommand6: forward([](settings::MailsetPresenter& p) { p.openSettingsPassword(); }); break;
    case kMsCommand7: forward([](settings::MailsetPresenter& p) { p.unlockWebAddressPage(); }); break;
    default: break;
    }
}

LRESULT MailsetWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_NOTIFY:
        return onNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_VSCROLL:
    case WM_HSCROLL:
        if (lParam && suppress_ == 0) onScroll(reinterpret_cast<HWND>(lParam), LOWORD(wParam));
        return 0;
    case WM_CONTEXTMENU: {
        // The menu key or Shift+F10 on a list: as a right click there.
        HWND from = reinterpret_cast<HWND>(wParam);
        if (lParam != -1 || suppress_ > 0) break;
        if (from == control(kMsListView2)) forward([](settings::MailsetPresenter& p) { p.blackListMouseDown(MouseButton::Right); });
        if (from == control(kMsListView3)) forward([](settings::MailsetPresenter& p) { p.trustListMouseDown(MouseButton::Right); });
        if (from == control(kMsListView4)) forward([](settings::MailsetPresenter& p) { p.webListMouseUp(MouseButton::Right); });
        return 0;
    }
    case WM_ERASEBKGND:
    case WM_PRINTCLIENT:
        // Also what a themed control gets when it asks for the background
        // behind it: the page area in the tab control's body colour.
        paintBackground(reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        // Controls on a page stand on the tab control's body: a themed tab
        // control draws it in the window colour, a classic one in the
        // dialog colour the window already uses.
        HWND from = reinterpret_cast<HWND>(lParam);
        const int id = GetDlgCtrlID(from);
        if (pageOf(id) < 0 || id == kMsText1 || !GetWindowTheme(control(kMsTab))) break;
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        if (!IsWindowEnabled(from)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
        return reinterpret_cast<LRESULT>(pageBrush());
    }
    case WM_DPICHANGED:
        onDpiChanged(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_CLOSE:
        if (!closing_) forward([](settings::MailsetPresenter& p) { p.closeRequested(); });
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_.get(), message, wParam, lParam);
}

// A group box paints its frame and caption only; what lies inside would
// keep the pixels of the page shown before. Its inside is filled first.
LRESULT CALLBACK MailsetWindow::frameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR data) {
    if (message == WM_PAINT || message == WM_PRINTCLIENT) {
        auto* self = reinterpret_cast<MailsetWindow*>(data);
        HDC dc = message == WM_PAINT ? GetDC(hwnd) : reinterpret_cast<HDC>(wParam);
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(dc, &r, self->pageBrush());
        if (message == WM_PAINT) ReleaseDC(hwnd, dc);
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, &MailsetWindow::frameProc, 1);
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

HBRUSH MailsetWindow::pageBrush() const {
    return GetSysColorBrush(GetWindowTheme(control(kMsTab)) ? COLOR_WINDOW : COLOR_BTNFACE);
}

LRESULT CALLBACK MailsetWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MailsetWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || self->window_.get() != hwnd) return DefWindowProcW(hwnd, message, wParam, lParam);
    try {
        return self->handle(message, wParam, lParam);
    } catch (...) {
        report("the window procedure");
        return 0;
    }
}

// ---------------------------------------------------------------------------
// The host.

struct MailsetHost::Loaded {
    Loaded(platform::Platform& p, settings::SettingsStore& store, settings::ProgramState& state,
           const ModalDialogsFactory& factory, settings::MailsetHooks hooks)
        : view(p.loop),
          dialogs(factory ? factory(view.window()) : nullptr),
          presenter(p, store, state, view, *dialogs, std::move(hooks)) {}
    ~Loaded() { view.attach(nullptr); }
    MailsetWindow view;
    std::unique_ptr<settings::ModalDialogs> dialogs;
    settings::MailsetPresenter presenter;
};

MailsetHost::MailsetHost(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state,
                         ModalDialogsFactory dialogs, settings::MailsetHooks hooks)
    : p_(platform), store_(store), state_(state), dialogs_(std::move(dialogs)), hooks_(std::move(hooks)) {}

MailsetHost::~MailsetHost() {
    *alive_ = false;
    loaded_.reset();
}

void MailsetHost::show() {
    if (unloaded_) return;
    if (loaded_ && !loaded_->view.closing()) {
        HWND w = loaded_->view.window();
        ShowWindow(w, IsIconic(w) ? SW_RESTORE : SW_SHOW);
        SetForegroundWindow(w);
        return;
    }
    // A dialog that has closed but is not destroyed yet goes now: this runs
    // from another window's message, never inside one of its handlers.
    loaded_.reset();
    if (!dialogs_) return;
    loaded_ = std::make_unique<Loaded>(p_, store_, state_, dialogs_, hooks_);
    if (!loaded_->view.window() || !loaded_->dialogs) {
        loaded_.reset();
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    loaded_->view.onClosed = [this, alive] {
        auto a = alive.lock();
        if (a && *a) loaded_.reset();
    };
    loaded_->presenter.load();
    loaded_->view.attach(&loaded_->presenter);
    if (auto* w = win32::asWin32(p_.loop)) w->addDialog(loaded_->view.window());
    ShowWindow(loaded_->view.window(), SW_SHOWNORMAL);
    SetForegroundWindow(loaded_->view.window());
    SetFocus(loaded_->view.control(kMsTab));
}

bool MailsetHost::isOpen() const { return loaded_ && !loaded_->view.closing(); }

void MailsetHost::unloadNow() {
    unloaded_ = true;
    if (loaded_) {
        // A small dialog open over this one is cancelled first; its call
        // returns once this handler has.
        cancelOpenModalDialogs();
        loaded_->view.attach(nullptr);
        loaded_->view.closeWindow();
    }
}

MailsetWindow* MailsetHost::view() { return loaded_ ? &loaded_->view : nullptr; }
settings::MailsetPresenter* MailsetHost::presenter() { return loaded_ ? &loaded_->presenter : nullptr; }

}  // namespace iw::win32app
