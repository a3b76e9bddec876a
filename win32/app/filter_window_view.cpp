// The filter window and the progress tip window on screen; see
// filter_window_view.h. Measures come from the presenter in twips and are
// converted at the window's own DPI (the window is per-monitor DPI aware and
// is laid out again when it moves to a screen of another DPI).
#include "win32/app/filter_window_view.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>

#include "filter/classify.h"
#include "win32/app/dpi_support.h"

namespace iw::win32app {

namespace {

using filter::Control;
using filter::MenuEntry;
using filter::PopupMenu;

constexpr int kMinClientW = 8085, kMinClientH = 5880;
// The reason tooltip wraps at this width (about 400 pixels at 96 DPI).
constexpr int kReasonTipWidthTwips = 6000;
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = 0;

// Menu command identifiers, one per MenuEntry in its order.
constexpr int kFirstMenuId = 40001;
int menuId(MenuEntry e) { return kFirstMenuId + static_cast<int>(e); }

int controlId(Control c) {
    switch (c) {
        case Control::Command1: return kIdCommand1;
        case Control::Command2: return kIdCommand2;
        case Control::Command3: return kIdCommand3;
        case Control::Check1: return kIdCheck1;
        case Control::Check2: return kIdCheck2;
        case Control::Check3: return kIdCheck3;
        case Control::Check4: return kIdCheck4;
        case Control::Combo1: return kIdCombo1;
        case Control::Text1: return kIdText1;
        case Control::Label2: return kIdLabel2;
    }
    return 0;
}

// The row colour the presenter asks for, as 0xRRGGBB; nullopt for the
// list's own colour.
std::optional<std::uint32_t> rowRgb(filter::RowColor c) { return filter::rowColorRgb(c); }

COLORREF toColorRef(std::uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

void report(const char* where) {
    char text[160];
    std::snprintf(text, sizeof text, "Inkwarden: an exception was stopped in the filter window (%s)\n", where);
    OutputDebugStringA(text);
}

void registerClasses() {
    static bool done = false;
    if (done) return;
    done = true;
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = kFilterWindowClass;
    RegisterClassExW(&wc);
    wc.lpszClassName = kTipWindowClass;
    wc.hIcon = nullptr;
    RegisterClassExW(&wc);
}

// Window procedures are set after creation (the views pass `this` through
// CreateWindowExW's parameter); both classes start with DefWindowProcW.
template <typename T>
T* fromWindow(HWND h) {
    return reinterpret_cast<T*>(GetWindowLongPtrW(h, GWLP_USERDATA));
}

// One account-list icon drawn in code: an envelope, plain (1, an account
// of the session), greyed with a red cross (2, removed) or with a green
// plus (3, added).
void drawAccountIcon(HDC dc, int size, int kind) {
    RECT all{0, 0, size, size};
    HBRUSH bg = CreateSolidBrush(RGB(255, 0, 255));
    FillRect(dc, &all, bg);
    DeleteObject(bg);
    const int m = std::max(1, size / 8);
    const COLORREF body = kind == 2 ? RGB(190, 190, 190) : RGB(255, 244, 200);
    const COLORREF edge = kind == 2 ? RGB(110, 110, 110) : RGB(40, 80, 160);
    HPEN pen = CreatePen(PS_SOLID, std::max(1, size / 16), edge);
    HBRUSH fill = CreateSolidBrush(body);
    HGDIOBJ op = SelectObject(dc, pen), ob = SelectObject(dc, fill);
    const int top = size / 4, bottom = size - size / 5;
    Rectangle(dc, m, top, size - m, bottom);
    MoveToEx(dc, m, top, nullptr);
    LineTo(dc, size / 2, (top + bottom) / 2);
    LineTo(dc, size - m - 1, top);
    SelectObject(dc, op);
    SelectObject(dc, ob);
    DeleteObject(pen);
    DeleteObject(fill);
    if (kind == 1) return;
    const COLORREF mark = kind == 2 ? RGB(220, 0, 0) : RGB(0, 150, 0);
    HPEN markPen = CreatePen(PS_SOLID, std::max(2, size / 8), mark);
    op = SelectObject(dc, markPen);
    const int c = size - size / 4, r = size / 5;
    if (kind == 2) {
        MoveToEx(dc, c - r, c - r, nullptr);
        LineTo(dc, c + r, c + r);
        MoveToEx(dc, c + r, c - r, nullptr);
        LineTo(dc, c - r, c + r);
    } else {
        MoveToEx(dc, c - r, c, nullptr);
        LineTo(dc, c + r + 1, c);
        MoveToEx(dc, c, c - r, nullptr);
        LineTo(dc, c, c + r + 1);
    }
    SelectObject(dc, op);
    DeleteObject(markPen);
}

}  // namespace

FilterWindowWin32View::FilterWindowWin32View(platform::EventLoop& loop) : loop_(loop) {
    registerClasses();
    PerMonitorDpi context;
    HINSTANCE inst = GetModuleHandleW(nullptr);
    // The design client area, converted once the window knows its DPI below.
    window_.reset(CreateWindowExW(kWindowExStyle, kFilterWindowClass, L"郵件過濾", kWindowStyle, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 560, 440, nullptr, nullptr, inst, nullptr));
    if (!window_) return;
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window_.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FilterWindowWin32View::windowProc));
    dpi_ = GetDpiForWindow(window_.get());
    if (dpi_ == 0) dpi_ = 96;
    createFont();
    createImageList();
    createMenus();
    createControls();
    applyDefaultSize();
}

FilterWindowWin32View::~FilterWindowWin32View() {
    *alive_ = false;
    presenter_ = nullptr;
    tip_.reset();
    reasonTip_.reset();
    if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
    window_.reset();
    if (images_) ImageList_Destroy(images_);
}

void FilterWindowWin32View::createFont() { font_ = createMessageFont(dpi_); }

void FilterWindowWin32View::createImageList() {
    if (images_) ImageList_Destroy(images_);
    const int size = MulDiv(16, static_cast<int>(dpi_), 96);
    images_ = ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, 3, 0);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    for (int kind = 1; kind <= 3; ++kind) {
        HBITMAP bmp = CreateCompatibleBitmap(screen, size, size);
        HGDIOBJ old = SelectObject(dc, bmp);
        drawAccountIcon(dc, size, kind);
        SelectObject(dc, old);
        ImageList_AddMasked(images_, bmp, RGB(255, 0, 255));
        DeleteObject(bmp);
    }
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    if (HWND lv = control(kIdListView1)) SendMessageW(lv, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images_));
}

void FilterWindowWin32View::createMenus() {
    struct Item {
        MenuEntry e;
        const wchar_t* text;
    };
    // mail "帳號設定 ": re-check, separator, add, remove, change.
    HMENU mail = CreatePopupMenu();
    AppendMenuW(mail, MF_STRING | MF_GRAYED, menuId(MenuEntry::Recheck), L"重新檢查信箱");
    AppendMenuW(mail, MF_SEPARATOR, 0, nullptr);
    for (const Item& i : {Item{MenuEntry::MailAdd, L"新增帳號"}, Item{MenuEntry::MailDel, L"刪除帳號"},
                          Item{MenuEntry::MailModify, L"修改帳號"}})
        AppendMenuW(mail, MF_STRING, menuId(i.e), i.text);
    HMENU black = CreatePopupMenu();
    for (const Item& i : {Item{MenuEntry::BlackAll, L"自動黑名單"}, Item{MenuEntry::BlackAdd, L"黑名單"},
                          Item{MenuEntry::AddDomain, L"網域過濾"}, Item{MenuEntry::TrustAdd, L"信任名單"}})
        AppendMenuW(black, MF_STRING, menuId(i.e), i.text);
    // Each pop-up hangs under a captioned holder menu, never shown as a bar.
    menuMail_.reset(CreateMenu());
    AppendMenuW(menuMail_.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(mail), L"帳號設定 ");
    menuBlack_.reset(CreateMenu());
    AppendMenuW(menuBlack_.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(black), L"黑名單設定");
}

HMENU FilterWindowWin32View::popupMenu(PopupMenu m) const {
    return GetSubMenu(m == PopupMenu::Mail ? menuMail_.get() : menuBlack_.get(), 0);
}

HWND FilterWindowWin32View::createChild(const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD exStyle) {
    HWND h = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, window_.get(),
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return h;
}

void FilterWindowWin32View::createControls() {
    ++suppress_;
    HWND lv1 = createChild(WC_LISTVIEWW, L"", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP,
                           kIdListView1, WS_EX_CLIENTEDGE);
    SendMessageW(lv1, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    // The list view reports left and right clicks as notifications but not
    // the middle button: its release is caught here.
    SetWindowSubclass(lv1, &FilterWindowWin32View::accountListProc, 1, reinterpret_cast<DWORD_PTR>(this));
    SendMessageW(lv1, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images_));
    const struct {
        const wchar_t* text;
        int twips;
    } accountColumns[] = {{L"使用者帳號", 2440}, {L"電子郵件地址", 3090}};
    for (int k = 0; k < 2; ++k) {
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.pszText = const_cast<wchar_t*>(accountColumns[k].text);
        col.cx = px(accountColumns[k].twips);
        SendMessageW(lv1, LVM_INSERTCOLUMNW, k, reinterpret_cast<LPARAM>(&col));
    }
    createChild(L"BUTTON", L"選擇全部", BS_PUSHBUTTON | WS_TABSTOP, kIdCommand2);
    createChild(L"BUTTON", L"取消選取", BS_PUSHBUTTON | WS_TABSTOP, kIdCommand3);
    HWND label2 = createChild(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kIdLabel2);
    ShowWindow(label2, SW_HIDE);
    HWND c1 = createChild(L"BUTTON", L"執行過濾", BS_PUSHBUTTON | WS_TABSTOP, kIdCommand1);
    EnableWindow(c1, FALSE);

    HWND lv2 = createChild(WC_LISTVIEWW, L"", LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP,
                           kIdListView2, WS_EX_CLIENTEDGE);
    SendMessageW(lv2, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                 LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    const struct {
        const wchar_t* text;
        int fmt;
    } messageColumns[] = {{L"   寄信者", LVCFMT_LEFT}, {L"主旨", LVCFMT_LEFT}, {L"信件大小", LVCFMT_RIGHT},
                          {L"收信日期", LVCFMT_LEFT}, {L"", LVCFMT_LEFT}};
    for (int k = 0; k < 5; ++k) {
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.fmt = messageColumns[k].fmt;
        col.pszText = const_cast<wchar_t*>(messageColumns[k].text);
        col.cx = px(static_cast<int>(widthsTwips_[static_cast<std::size_t>(k)] + 0.5));
        SendMessageW(lv2, LVM_INSERTCOLUMNW, k, reinterpret_cast<LPARAM>(&col));
    }
    SetWindowSubclass(lv2, &FilterWindowWin32View::messageListProc, 2, reinterpret_cast<DWORD_PTR>(this));
    createReasonTip();
    HWND text1 = createChild(L"EDIT", L"", ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | WS_VSCROLL, kIdText1,
                             WS_EX_CLIENTEDGE);
    ShowWindow(text1, SW_HIDE);
    createChild(L"BUTTON", L"預覽郵件前三行", BS_AUTOCHECKBOX | WS_TABSTOP, kIdCheck2);
    createChild(L"BUTTON", L"自動開啟預設信件閱讀程式,當郵件", BS_AUTOCHECKBOX | WS_TABSTOP, kIdCheck1);
    createChild(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kIdCombo1);
    createChild(L"STATIC", L"封.", SS_LEFT | SS_NOPREFIX, kIdLabel1);
    createChild(L"BUTTON", L"自動執行刪除郵件作業", BS_AUTOCHECKBOX | WS_TABSTOP, kIdCheck3);
    createChild(L"BUTTON", L"執行時,最小化至工作列", BS_AUTOCHECKBOX | WS_TABSTOP, kIdCheck4);
    createChild(STATUSCLASSNAMEW, L"", SBARS_SIZEGRIP, kIdStatusBar1);
    --suppress_;
}

SIZE FilterWindowWin32View::minimumOuterSize() const {
    // The smallest pixel client that still reads as 8085 x 5880 twips.
    const int cw = (kMinClientW * static_cast<int>(dpi_) + 1439) / 1440, ch = (kMinClientH * static_cast<int>(dpi_) + 1439) / 1440;
    // The frame as the window has it now (the system may draw it at another
    // size than the DPI's nominal one); the nominal frame before it exists.
    RECT outer, client;
    if (window_ && GetWindowRect(window_.get(), &outer) && GetClientRect(window_.get(), &client) && client.right > 0 &&
        !IsIconic(window_.get()))
        return SIZE{cw + (outer.right - outer.left) - client.right, ch + (outer.bottom - outer.top) - client.bottom};
    RECT r{0, 0, cw, ch};
    AdjustWindowRectExForDpi(&r, kWindowStyle, FALSE, kWindowExStyle, dpi_);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

SIZE FilterWindowWin32View::defaultOuterSize() const {
    // Wide enough that the message list shows every column whole, with its
    // frame and a vertical scroll bar (so no horizontal one takes a row's
    // height); the design height. Never wider than the work area of the
    // window's screen, never below the minimum.
    int columns = 0;
    for (double w : widthsTwips_) columns += px(static_cast<int>(w + 0.5));
    const int list = columns + 2 * GetSystemMetricsForDpi(SM_CXEDGE, dpi_) + GetSystemMetricsForDpi(SM_CXVSCROLL, dpi_) + 2;
    // The list is 145 twips narrower than the client area.
    RECT r{0, 0, list + px(145) + 1, (kMinClientH * static_cast<int>(dpi_) + 1439) / 1440};
    AdjustWindowRectExForDpi(&r, kWindowStyle, FALSE, kWindowExStyle, dpi_);
    SIZE size{r.right - r.left, r.bottom - r.top};
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    if (window_ && GetMonitorInfoW(MonitorFromWindow(window_.get(), MONITOR_DEFAULTTOPRIMARY), &mi))
        size.cx = std::min<LONG>(size.cx, mi.rcWork.right - mi.rcWork.left);
    const SIZE least = minimumOuterSize();
    return SIZE{std::max(size.cx, least.cx), std::max(size.cy, least.cy)};
}

void FilterWindowWin32View::applyDefaultSize() {
    if (!window_ || shown_) return;
    const SIZE outer = defaultOuterSize();
    SetWindowPos(window_.get(), nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FilterWindowWin32View::attach(filter::FilterWindow* presenter) {
    presenter_ = presenter;
    if (!presenter_ || !window_) return;
    RECT rc;
    GetClientRect(window_.get(), &rc);
    forward([&](filter::FilterWindow& p) { p.resized(twipsOf(rc.right), twipsOf(rc.bottom), IsIconic(window_.get()) != 0); });
}

void FilterWindowWin32View::show(int command) {
    if (!window_ || closing_) return;
    shown_ = true;
    ShowWindow(window_.get(), command);
}

void FilterWindowWin32View::unloadForExit() {
    if (!window_ || closing_) return;
    // From here on nothing reaches the presenter and no message box shows;
    // the window is not destroyed, because the presenter may be inside a
    // wait further down the stack: its owner destroys both once the stack
    // has unwound (at the program's end).
    closing_ = true;
    closePosted_ = true;
    if (presenter_) {
        try {
            presenter_->unload();
        } catch (...) {
            report("unload at the end of the session");
        }
    }
    presenter_ = nullptr;
    closeTip();
    ShowWindow(window_.get(), SW_HIDE);
}

void FilterWindowWin32View::forward(const std::function<void(filter::FilterWindow&)>& fn) {
    if (!presenter_ || suppress_ > 0 || closing_) return;
    ++depth_;
    try {
        fn(*presenter_);
    } catch (...) {
        report("a handler");
    }
    --depth_;
    finishCloseWhenIdle();
}

void FilterWindowWin32View::finishCloseWhenIdle() {
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

// --- applying the presenter's changes ---------------------------------------

void FilterWindowWin32View::setEnabled(Control c, bool enabled) {
    ++suppress_;
    EnableWindow(control(controlId(c)), enabled ? TRUE : FALSE);
    --suppress_;
}

void FilterWindowWin32View::setVisible(Control c, bool visible) {
    ++suppress_;
    ShowWindow(control(controlId(c)), visible ? SW_SHOWNA : SW_HIDE);
    --suppress_;
}

void FilterWindowWin32View::setChecked(Control c, bool checked) {
    ++suppress_;
    SendMessageW(control(controlId(c)), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    --suppress_;
}

void FilterWindowWin32View::setText(Control c, const std::u16string& text) {
    ++suppress_;
    SetWindowTextW(control(controlId(c)), win32::wide(text));
    if (c == Control::Label2) placeLabel2();
    --suppress_;
}

void FilterWindowWin32View::setComboItems(const std::vector<std::u16string>& items, int selected) {
    ++suppress_;
    HWND combo = control(kIdCombo1);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const auto& item : items) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(win32::wide(item)));
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    --suppress_;
}

void FilterWindowWin32View::setStatus(const std::u16string& text) {
    SendMessageW(control(kIdStatusBar1), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(win32::wide(text)));
}

void FilterWindowWin32View::addAccountRow(const std::u16string& user, const std::u16string& address, int icon) {
    ++suppress_;
    HWND lv = control(kIdListView1);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t*>(win32::wide(user));
    item.iImage = std::clamp(icon, 1, 3) - 1;
    const int at = static_cast<int>(SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMW sub{};
    sub.iSubItem = 1;
    sub.pszText = const_cast<wchar_t*>(win32::wide(address));
    SendMessageW(lv, LVM_SETITEMTEXTW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&sub));
    --suppress_;
}

void FilterWindowWin32View::setAccountIcon(int row, int icon) {
    ++suppress_;
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iImage = std::clamp(icon, 1, 3) - 1;
    SendMessageW(control(kIdListView1), LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    --suppress_;
}

void FilterWindowWin32View::setAccountAddress(int row, const std::u16string& address) {
    ++suppress_;
    LVITEMW sub{};
    sub.iSubItem = 1;
    sub.pszText = const_cast<wchar_t*>(win32::wide(address));
    SendMessageW(control(kIdListView1), LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&sub));
    --suppress_;
}

void FilterWindowWin32View::selectAccountRow(int row) {
    ++suppress_;
    HWND lv = control(kIdListView1);
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(lv, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
    SendMessageW(lv, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    --suppress_;
}

void FilterWindowWin32View::clearMessages() {
    ++suppress_;
    SendMessageW(control(kIdListView2), LVM_DELETEALLITEMS, 0, 0);
    colours_.clear();
    reasons_.clear();
    hoverRow_ = -1;
    --suppress_;
}

void FilterWindowWin32View::addMessageRow(const filter::MessageEntry& row) {
    ++suppress_;
    HWND lv = control(kIdListView2);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<wchar_t*>(win32::wide(row.SenderText));
    const int at = static_cast<int>(SendMessageW(lv, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (at >= 0) {
        const std::u16string* columns[] = {&row.Subject, &row.SizeText, &row.ReceivedText};
        for (int k = 0; k < 3; ++k) {
            LVITEMW sub{};
            sub.iSubItem = k + 1;
            sub.pszText = const_cast<wchar_t*>(win32::wide(*columns[k]));
            SendMessageW(lv, LVM_SETITEMTEXTW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&sub));
        }
        if (static_cast<std::size_t>(at) >= colours_.size()) colours_.resize(static_cast<std::size_t>(at) + 1);
        const auto rgb = rowRgb(row.TextColor);
        colours_[static_cast<std::size_t>(at)] = rgb ? std::optional<COLORREF>(toColorRef(*rgb)) : std::nullopt;
        if (static_cast<std::size_t>(at) >= reasons_.size()) reasons_.resize(static_cast<std::size_t>(at) + 1);
        reasons_[static_cast<std::size_t>(at)] = RowReason{row.TextColor, row.Reason};
        ListView_SetCheckState(lv, at, row.Checked ? TRUE : FALSE);
    }
    --suppress_;
}

void FilterWindowWin32View::setMessageChecked(int row, bool checked) {
    ++suppress_;
    ListView_SetCheckState(control(kIdListView2), row, checked ? TRUE : FALSE);
    --suppress_;
}

void FilterWindowWin32View::setColumnWidths(const std::vector<double>& twips) {
    ++suppress_;
    HWND lv = control(kIdListView2);
    for (std::size_t k = 0; k < twips.size() && k < widthsTwips_.size(); ++k) {
        widthsTwips_[k] = twips[k];
        SendMessageW(lv, LVM_SETCOLUMNWIDTH, k, px(static_cast<int>(twips[k] + 0.5)));
    }
    // The stored widths, read at load before the window shows, decide its
    // first width.
    applyDefaultSize();
    --suppress_;
}

std::vector<double> FilterWindowWin32View::columnWidths() const {
    std::vector<double> out;
    HWND lv = control(kIdListView2);
    for (int k = 0; k < 5; ++k) {
        const int w = lv ? static_cast<int>(SendMessageW(lv, LVM_GETCOLUMNWIDTH, k, 0)) : 0;
        out.push_back(lv ? static_cast<double>(w) * 1440.0 / dpi_ : widthsTwips_[static_cast<std::size_t>(k)]);
    }
    return out;
}

void FilterWindowWin32View::setMenuEnabled(MenuEntry e, bool enabled) {
    HMENU m = (e == MenuEntry::Recheck || e == MenuEntry::MailAdd || e == MenuEntry::MailDel || e == MenuEntry::MailModify)
                  ? popupMenu(PopupMenu::Mail)
                  : popupMenu(PopupMenu::BlackSet);
    EnableMenuItem(m, static_cast<UINT>(menuId(e)), MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void FilterWindowWin32View::setMenuChecked(MenuEntry e, bool checked) {
    CheckMenuItem(popupMenu(PopupMenu::BlackSet), static_cast<UINT>(menuId(e)),
                  MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void FilterWindowWin32View::showPopupMenu(PopupMenu m) {
    POINT pt;
    GetCursorPos(&pt);
    SetForegroundWindow(window_.get());
    // The choice comes back as WM_COMMAND once this handler has returned.
    TrackPopupMenuEx(popupMenu(m), TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, window_.get(), nullptr);
    PostMessageW(window_.get(), WM_NULL, 0, 0);
}

void FilterWindowWin32View::messageBox(const std::u16string& text) {
    // An unloaded window shows nothing (a box would hold up the end of the
    // Windows session).
    if (closing_) return;
    MessageBoxW(window_.get(), win32::wide(text), kProgramTitle, MB_OK);
}

// --- the progress tip window ------------------------------------------------

void FilterWindowWin32View::ensureTip() {
    if (tip_) return;
    PerMonitorDpi context;
    HINSTANCE inst = GetModuleHandleW(nullptr);
    const int w = px(4200), h = px(1400);
    tip_.reset(CreateWindowExW(WS_EX_TOOLWINDOW, kTipWindowClass, L"", WS_POPUP | WS_BORDER, 0, 0, w, h,
                               window_.get(), nullptr, inst, nullptr));
    if (!tip_) return;
    tipFrame_ = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, px(90), px(30), w - px(180),
                                h - px(120), tip_.get(), nullptr, inst, nullptr);
    tipLabel_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, px(240), px(240),
                                w - px(480), h - px(420), tip_.get(), nullptr, inst, nullptr);
    SendMessageW(tipFrame_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    SendMessageW(tipLabel_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
}

void FilterWindowWin32View::showTip() {
    ensureTip();
    if (!tip_) return;
    // Its top-left corner at point (158, 87) of the filter window's client area.
    POINT pt{MulDiv(158, static_cast<int>(dpi_), 96), MulDiv(87, static_cast<int>(dpi_), 96)};
    ClientToScreen(window_.get(), &pt);
    SetWindowPos(tip_.get(), HWND_TOPMOST, pt.x, pt.y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    ShowWindow(tip_.get(), SW_SHOWNOACTIVATE);
    UpdateWindow(tip_.get());
}

void FilterWindowWin32View::closeTip() {
    if (!tip_) return;
    SetWindowPos(tip_.get(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    tip_.reset();
    tipFrame_ = tipLabel_ = nullptr;
}

void FilterWindowWin32View::setTipLabel(const std::u16string& text) {
    ensureTip();
    if (tipLabel_) SetWindowTextW(tipLabel_, win32::wide(text));
}

// --- layout -----------------------------------------------------------------

void FilterWindowWin32View::placeLabel2() {
    HWND label = control(kIdLabel2);
    wchar_t text[256];
    const int n = GetWindowTextW(label, text, 256);
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, font_.get());
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, text, n, &size);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    SetWindowPos(label, nullptr, px(3720), px(1020), size.cx + 2, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void FilterWindowWin32View::applyLayout(const filter::FilterLayout& layout) {
    layout_ = layout;
    haveLayout_ = true;
    placeAll();
}

void FilterWindowWin32View::placeAll() {
    if (!haveLayout_) return;
    ++suppress_;
    const filter::FilterLayout& l = layout_;
    // Text heights for the boxes and labels whose design heights are shorter
    // than the font: never cut a line of text.
    TEXTMETRICW tm{};
    HDC dc = GetDC(window_.get());
    HGDIOBJ old = SelectObject(dc, font_.get());
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(window_.get(), dc);
    const int line = tm.tmHeight + 2;
    auto place = [&](int id, int left, int top, int width, int height, int minHeight = 0) {
        SetWindowPos(control(id), nullptr, px(left), px(top), px(width), std::max(px(height), minHeight),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    };
    place(kIdListView1, l.listView1.left, l.listView1.top, l.listView1.width, l.listView1.height);
    place(kIdCommand2, 810, 990, 960, 300, line + 4);
    place(kIdCommand3, 2160, 990, 960, 300, line + 4);
    placeLabel2();
    place(kIdCommand1, l.command1.left, l.command1.top, l.command1.width, l.command1.height, line + 4);
    place(kIdListView2, l.listView2.left, l.listView2.top, l.listView2.width, l.listView2.height);
    if (l.text1Visible) place(kIdText1, l.text1.left, l.text1.top, l.text1.width, l.text1.height);
    place(kIdCheck2, 210, l.check2Top, 1560, 195, line);
    place(kIdCheck1, 210, l.check1Top, 3045, 255, line);
    // A drop-down list's height includes its opened list.
    SetWindowPos(control(kIdCombo1), nullptr, px(3255), px(l.combo1Top), px(630), px(630) + line * 7,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    place(kIdLabel1, 3915, l.label1Top, 240, 195, line);
    place(kIdCheck3, l.check3Left, l.check3Top, 2160, 195, line);
    place(kIdCheck4, l.check4Left, l.check4Top, 2370, 255, line);
    SendMessageW(control(kIdStatusBar1), WM_SIZE, 0, 0);
    // The rows above the status bar: the combo box and the text-high boxes
    // may reach into a status bar that is taller than its design height (at
    // some font sizes by a pixel or two). Lift the two rows together by what
    // they overlap, never into the message list or preview box above.
    RECT bar;
    GetWindowRect(control(kIdStatusBar1), &bar);
    MapWindowPoints(nullptr, window_.get(), reinterpret_cast<POINT*>(&bar), 2);
    const int rows[] = {kIdCheck1, kIdCheck2, kIdCheck3, kIdCheck4, kIdCombo1, kIdLabel1};
    auto rectOf = [&](int id) {
        RECT r;
        GetWindowRect(control(id), &r);
        MapWindowPoints(nullptr, window_.get(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    int lift = 0, room = 1 << 20;
    RECT above = rectOf(l.text1Visible ? kIdText1 : kIdListView2);
    for (int id : rows) {
        const RECT r = rectOf(id);
        lift = std::max(lift, static_cast<int>(r.bottom - bar.top));
        room = std::min(room, static_cast<int>(r.top - above.bottom));
    }
    lift = std::min(lift, std::max(room, 0));
    if (lift > 0)
        for (int id : rows) {
            const RECT r = rectOf(id);
            SetWindowPos(control(id), nullptr, r.left, r.top - lift, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    --suppress_;
    InvalidateRect(window_.get(), nullptr, TRUE);
}

void FilterWindowWin32View::setOuterSize(int widthTwips, int heightTwips) {
    if (inOuterSize_ || !window_) return;
    inOuterSize_ = true;
    // Never smaller than what holds the minimum client area with this
    // window's frame, whatever the frame's thickness.
    const SIZE least = minimumOuterSize();
    const int w = std::max(px(widthTwips), static_cast<int>(least.cx));
    const int h = std::max(px(heightTwips), static_cast<int>(least.cy));
    SetWindowPos(window_.get(), nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    inOuterSize_ = false;
}

void FilterWindowWin32View::minimize() { ShowWindow(window_.get(), SW_SHOWMINNOACTIVE); }
void FilterWindowWin32View::restoreNormal() {
    if (IsIconic(window_.get())) ShowWindow(window_.get(), SW_RESTORE);
}
void FilterWindowWin32View::setTopmost(bool topmost) {
    SetWindowPos(window_.get(), topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}
void FilterWindowWin32View::centreOnScreen() {
    RECT wr;
    GetWindowRect(window_.get(), &wr);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(window_.get(), MONITOR_DEFAULTTOPRIMARY), &mi);
    const RECT& s = mi.rcMonitor;
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    SetWindowPos(window_.get(), nullptr, s.left + (s.right - s.left - w) / 2, s.top + (s.bottom - s.top - h) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FilterWindowWin32View::closeWindow() {
    if (closing_) return;
    closing_ = true;
    closeTip();
    // The window stays (hidden) until the presenter's handlers have returned,
    // so that unload still reads the column widths from the list.
    ShowWindow(window_.get(), SW_HIDE);
    finishCloseWhenIdle();
}

void FilterWindowWin32View::onDpiChanged(UINT dpi, const RECT* suggested) {
    widthsTwips_ = columnWidths();
    dpi_ = dpi == 0 ? 96 : dpi;
    createFont();
    for (HWND child = GetWindow(window_.get(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    if (tipFrame_) SendMessageW(tipFrame_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    if (tipLabel_) SendMessageW(tipLabel_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    if (reasonTip_) {
        SendMessageW(reasonTip_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        SendMessageW(reasonTip_.get(), TTM_SETMAXTIPWIDTH, 0, px(kReasonTipWidthTwips));
    }
    createImageList();
    setColumnWidths(widthsTwips_);
    HWND lv1 = control(kIdListView1);
    SendMessageW(lv1, LVM_SETCOLUMNWIDTH, 0, px(2440));
    SendMessageW(lv1, LVM_SETCOLUMNWIDTH, 1, px(3090));
    if (suggested)
        SetWindowPos(window_.get(), nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    placeAll();
}

// --- notifications ----------------------------------------------------------

int FilterWindowWin32View::selectedRow(HWND list) const {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::optional<COLORREF> FilterWindowWin32View::rowColour(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= colours_.size()) return std::nullopt;
    return colours_[static_cast<std::size_t>(row)];
}

LRESULT FilterWindowWin32View::onNotify(NMHDR* h) {
    if (h->idFrom == kIdListView2 && h->code == NM_CUSTOMDRAW) {
        auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(h);
        if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
        if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            if (auto c = rowColour(static_cast<int>(cd->nmcd.dwItemSpec))) cd->clrText = *c;
            return CDRF_DODEFAULT;
        }
        return CDRF_DODEFAULT;
    }
    if (suppress_ > 0) return 0;
    if (h->idFrom == kIdListView1) {
        if (h->code == NM_CLICK || h->code == NM_RCLICK) {
            const auto button = h->code == NM_CLICK ? filter::MouseButton::Left : filter::MouseButton::Right;
            const int row = selectedRow(h->hwndFrom);
            forward([&](filter::FilterWindow& p) { p.accountListMouseUp(button, row); });
        }
        return 0;
    }
    if (h->idFrom == kIdListView2) {
        if (h->code == LVN_ITEMCHANGED) {
            auto* nm = reinterpret_cast<NMLISTVIEW*>(h);
            if ((nm->uChanged & LVIF_STATE) && nm->iItem >= 0 &&
                ((nm->uNewState ^ nm->uOldState) & LVIS_STATEIMAGEMASK) && (nm->uOldState & LVIS_STATEIMAGEMASK)) {
                const bool on = ((nm->uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
                const int row = nm->iItem;
                forward([&](filter::FilterWindow& p) { p.messageChecked(row, on); });
            }
        } else if (h->code == NM_CLICK) {
            const int row = reinterpret_cast<NMITEMACTIVATE*>(h)->iItem;
            if (row >= 0) forward([&](filter::FilterWindow& p) { p.messageClicked(row); });
        } else if (h->code == NM_RCLICK) {
            const int row = selectedRow(h->hwndFrom);
            forward([&](filter::FilterWindow& p) { p.messageListMouseUp(filter::MouseButton::Right, row); });
        }
    }
    return 0;
}

void FilterWindowWin32View::onCommand(int id, int code) {
    if (suppress_ > 0) return;
    if (id >= kFirstMenuId && id < kFirstMenuId + 8) {
        const auto e = static_cast<MenuEntry>(id - kFirstMenuId);
        forward([e](filter::FilterWindow& p) {
            switch (e) {
                case MenuEntry::Recheck: p.mnu_recheck_Click(); break;
                case MenuEntry::MailAdd: p.mail_add_Click(); break;
                case MenuEntry::MailDel: p.mail_del_Click(); break;
                case MenuEntry::MailModify: p.mail_modify_Click(); break;
                case MenuEntry::BlackAll: p.black_all_Click(); break;
                case MenuEntry::BlackAdd: p.black_add_Click(); break;
                case MenuEntry::AddDomain: p.add_domain_Click(); break;
                case MenuEntry::TrustAdd: p.trust_add_Click(); break;
            }
        });
        return;
    }
    HWND ctl = control(id);
    const bool on = SendMessageW(ctl, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (code == BN_CLICKED) {
        switch (id) {
            case kIdCommand1: forward([](filter::FilterWindow& p) { p.runDeletion(); }); break;
            case kIdCommand2: forward([](filter::FilterWindow& p) { p.checkAll(); }); break;
            case kIdCommand3: forward([](filter::FilterWindow& p) { p.uncheckAll(); }); break;
            case kIdCheck1: forward([on](filter::FilterWindow& p) { p.openMailProgramClicked(on); }); break;
            case kIdCheck2: forward([on](filter::FilterWindow& p) { p.previewLinesClicked(on); }); break;
            case kIdCheck3: forward([on](filter::FilterWindow& p) { p.autoDeleteClicked(on); }); break;
            case kIdCheck4: forward([on](filter::FilterWindow& p) { p.minimizeClicked(on); }); break;
            default: break;
        }
    } else if (id == kIdCombo1 && code == CBN_SELCHANGE) {
        const int pos = static_cast<int>(SendMessageW(ctl, CB_GETCURSEL, 0, 0));
        forward([pos](filter::FilterWindow& p) { p.mailProgramThresholdChosen(pos); });
    }
}

LRESULT FilterWindowWin32View::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND hwnd = window_.get();
    switch (message) {
        case WM_GETMINMAXINFO: {
            auto* mm = reinterpret_cast<MINMAXINFO*>(lParam);
            const SIZE least = minimumOuterSize();
            mm->ptMinTrackSize.x = least.cx;
            mm->ptMinTrackSize.y = least.cy;
            return 0;
        }
        case WM_SIZE: {
            const int w = LOWORD(lParam), h = HIWORD(lParam);
            const bool minimized = wParam == SIZE_MINIMIZED;
            if (!minimized) SendMessageW(control(kIdStatusBar1), WM_SIZE, 0, 0);
            if (presenter_ && !closing_) {
                try {
                    presenter_->resized(twipsOf(w), twipsOf(h), minimized);
                } catch (...) {
                    report("resized");
                }
            }
            return 0;
        }
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE && presenter_ && !closing_) {
                // The session that the first activation starts runs from the
                // loop, not inside the activation message.
                std::weak_ptr<bool> alive = alive_;
                loop_.post([this, alive] {
                    auto a = alive.lock();
                    if (a && *a) forward([](filter::FilterWindow& p) { p.activated(); });
                });
            }
            break;
        case WM_DPICHANGED:
            onDpiChanged(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_NOTIFY:
            return onNotify(reinterpret_cast<NMHDR*>(lParam));
        case WM_COMMAND:
            onCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_CTLCOLORSTATIC:
            break;
        case WM_QUERYENDSESSION:
            return TRUE;  // never holds up the end of the session, not even mid-session
        case WM_ENDSESSION:
            // The session really ends: unload now, the process may be ended
            // as soon as this returns. No deletion run, nothing waited for.
            if (wParam) unloadForExit();
            return 0;
        case WM_CLOSE: {
            // The user's close: refused during the session, otherwise the
            // deletion run, which closes the window itself.
            if (closing_) return 0;
            bool mayClose = false;
            forward([&](filter::FilterWindow& p) { mayClose = p.closeRequested(); });
            if (mayClose && !closing_) {
                forward([](filter::FilterWindow& p) { p.unload(); });
                closeWindow();
            }
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK FilterWindowWin32View::accountListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                                        UINT_PTR, DWORD_PTR data) {
    try {
        if (message == WM_MBUTTONUP) {
            auto* self = reinterpret_cast<FilterWindowWin32View*>(data);
            if (self && self->suppress_ == 0) {
                const int row = self->selectedRow(hwnd);
                self->forward([row](filter::FilterWindow& p) { p.accountListMouseUp(filter::MouseButton::Middle, row); });
            }
        } else if (message == WM_NCDESTROY) {
            RemoveWindowSubclass(hwnd, &FilterWindowWin32View::accountListProc, 1);
        }
    } catch (...) {
        report("the account list");
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

// The message list's tooltip: one tool over the whole list whose text is
// the reason of the row under the mouse, changed as the mouse moves.
void FilterWindowWin32View::createReasonTip() {
    HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_.get(), nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    if (!tip) return;
    reasonTip_.reset(tip);
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND;
    ti.hwnd = window_.get();
    ti.uId = reinterpret_cast<UINT_PTR>(control(kIdListView2));
    ti.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    SendMessageW(tip, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, px(kReasonTipWidthTwips));
    // Long enough to read a reason with two rules in it.
    SendMessageW(tip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 20000);
}

std::u16string FilterWindowWin32View::rowReason(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= reasons_.size()) return {};
    filter::MessageEntry e;
    e.TextColor = reasons_[static_cast<std::size_t>(row)].colour;
    e.Reason = reasons_[static_cast<std::size_t>(row)].reason;
    e.Checked = ListView_GetCheckState(control(kIdListView2), row) != 0;
    return filter::MarkReasonText(e);
}

void FilterWindowWin32View::hoverReason(POINT client) {
    if (!reasonTip_) return;
    LVHITTESTINFO hit{};
    hit.pt = client;
    const int row = static_cast<int>(SendMessageW(control(kIdListView2), LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    const std::u16string text = rowReason(row);
    if (row == hoverRow_ && text == hoverText_) return;
    // Another row: the old tip goes, the new text shows after the usual delay.
    if (row != hoverRow_) SendMessageW(reasonTip_.get(), TTM_POP, 0, 0);
    hoverRow_ = row;
    hoverText_ = text;
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.hwnd = window_.get();
    ti.uId = reinterpret_cast<UINT_PTR>(control(kIdListView2));
    ti.lpszText = const_cast<wchar_t*>(win32::wide(hoverText_));
    SendMessageW(reasonTip_.get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

LRESULT CALLBACK FilterWindowWin32View::messageListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                                        UINT_PTR, DWORD_PTR data) {
    try {
        auto* self = reinterpret_cast<FilterWindowWin32View*>(data);
        if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST && self && self->reasonTip_) {
            if (message == WM_MOUSEMOVE) self->hoverReason(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            MSG msg{hwnd, message, wParam, lParam, 0, {0, 0}};
            SendMessageW(self->reasonTip_.get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
        } else if (message == WM_NCDESTROY) {
            RemoveWindowSubclass(hwnd, &FilterWindowWin32View::messageListProc, 2);
        }
    } catch (...) {
        report("the message list");
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK FilterWindowWin32View::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = fromWindow<FilterWindowWin32View>(hwnd);
    if (!self || self->window_.get() != hwnd) return DefWindowProcW(hwnd, message, wParam, lParam);
    try {
        return self->handle(message, wParam, lParam);
    } catch (...) {
        report("the window procedure");
        return 0;
    }
}

}  // namespace iw::win32app
