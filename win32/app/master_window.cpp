// The Win32 view of `master`; see master_window.h.
#include "win32/app/master_window.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "app/icon_art.h"
#include "app/browser_part.h"
#include "win32/app/filter_window_host.h"
#include "win32/app/mailset_window.h"
#include "win32/app/modal_dialogs_win32.h"

namespace iw::win32app {

using app::MenuCommand;
using app::MenuItem;
using app::TrayPicture;

namespace {

constexpr wchar_t kClassName[] = L"master";
constexpr UINT kShowSettingsNotice = WM_APP + 0x100;

// The side-bar picture's own size; it is stretched to the menu's height.
constexpr int kSideBarWidth = 21;
constexpr int kSideBarHeight = 146;

std::uint32_t discColour(TrayPicture p) {
    switch (p) {
    case TrayPicture::NewMail: return app::kNewMailDisc;
    case TrayPicture::Connected: return app::kConnectedDisc;
    case TrayPicture::Paused: return app::kPausedDisc;
    default: return app::kProgramDisc;
    }
}

}  // namespace

// The program's icon art (an envelope on a disc of the picture's colour) in
// a 32-bit DIB with its own alpha; the mask is all zeros (alpha decides).
HICON DrawTrayIcon(TrayPicture picture, int size) {
    size = std::clamp(size, 16, 48);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = -size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP colour = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!colour || !bits) return nullptr;
    auto freeColour = win32::onScopeExit([&] { DeleteObject(colour); });
    // 0xAARRGGBB is the DIB's own layout (blue in the lowest byte).
    const std::vector<std::uint32_t> px = app::DrawIconArt({discColour(picture), false}, size);
    std::memcpy(bits, px.data(), px.size() * sizeof(std::uint32_t));
    GdiFlush();

    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    auto freeMask = win32::onScopeExit([&] { DeleteObject(mask); });
    ICONINFO ii{};
    ii.fIcon = TRUE;
    ii.hbmColor = colour;
    ii.hbmMask = mask;
    return CreateIconIndirect(&ii);
}

MasterWindow::MasterWindow(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state)
    : p_(platform), store_(store), state_(state) {}

MasterWindow::~MasterWindow() {
    presenter_.reset();
    opener_.reset();
    if (iconShown_) notify(NIM_DELETE);
}

bool MasterWindow::load() {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = windowProc;
    wc.hInstance = inst;
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);  // a second load in one process finds it registered
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    hwnd_.reset(CreateWindowExW(0, kClassName, L"Inkwarden", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, inst,
                                this));
    if (!hwnd_) return false;
    opener_ = createFilterWindowOpener(FilterWindowDeps{p_, state_, store_, *this});
    browser_ = std::make_unique<app::BrowserPart>(p_, store_, state_);
    presenter_ = std::make_unique<app::MasterPresenter>(p_, store_, state_, *this, opener_.get(),
                                                        browser_->hooks([this] { return presenter_.get(); }));
    presenter_->load();
    return true;
}

// ---------------------------------------------------------------------------
// Tray icon.

bool MasterWindow::notify(DWORD action) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof(nid);
    nid.hWnd = hwnd_.get();
    nid.uID = app::kTrayIconId;
    if (action != NIM_DELETE) {
        nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        nid.uCallbackMessage = app::kTrayCallbackMessage;
        // The small-icon size at this window's DPI: 16 at 100%, 24 at 150%, ...
        const int size = GetSystemMetricsForDpi(SM_CXSMICON, dpi());
        icon_.reset(DrawTrayIcon(picture_, size > 0 ? size : 16));
        nid.hIcon = icon_.get();
        const std::size_t n = std::min<std::size_t>(tip_.size(), std::size(nid.szTip) - 1);
        std::memcpy(nid.szTip, tip_.data(), n * sizeof(wchar_t));
    }
    return Shell_NotifyIconW(action, &nid) != FALSE;
}

void MasterWindow::addTrayIcon(TrayPicture picture, const std::u16string& tip) {
    picture_ = picture;
    tip_ = tip;
    iconShown_ = true;
    notify(NIM_ADD);
}

void MasterWindow::modifyTrayIcon(TrayPicture picture, const std::u16string& tip) {
    picture_ = picture;
    tip_ = tip;
    // After a restart of the taskbar the icon may be gone: add it again.
    if (iconShown_ && !notify(NIM_MODIFY)) notify(NIM_ADD);
}

void MasterWindow::removeTrayIcon() {
    if (iconShown_) notify(NIM_DELETE);
    iconShown_ = false;
}

// ---------------------------------------------------------------------------
// Menu.

void MasterWindow::buildMenu(const std::vector<MenuItem>& items) {
    win32::UniqueMenu m(CreatePopupMenu());
    UINT pos = 0;
    for (const MenuItem& it : items) {
        MENUITEMINFOW mi{};
        mi.cbSize = sizeof(mi);
        mi.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE;
        mi.wID = menuId(it.command);
        if (it.command == MenuCommand::Separator) {
            mi.fType = MFT_SEPARATOR;
        } else if (it.ownerDrawn) {
            mi.fType = MFT_OWNERDRAW;
        } else {
            mi.fType = MFT_STRING;
            mi.fMask |= MIIM_STRING;
            mi.dwTypeData = const_cast<wchar_t*>(win32::wide(it.caption));
        }
        if (it.columnBreak) mi.fType |= MFT_MENUBARBREAK;
        if (!it.enabled) mi.fState |= MFS_DISABLED;
        if (it.checked) mi.fState |= MFS_CHECKED;
        if (it.isDefault) mi.fState |= MFS_DEFAULT;
        HMENU sub = nullptr;
        if (!it.submenu.empty()) {
            sub = CreatePopupMenu();
            UINT sp = 0;
            for (const MenuItem& s : it.submenu) {
                UINT flags = MF_STRING | (s.enabled ? MF_ENABLED : MF_GRAYED) | (s.checked ? MF_CHECKED : 0);
                InsertMenuW(sub, sp++, MF_BYPOSITION | flags, menuId(s.command), win32::wide(s.caption));
            }
            mi.fMask |= MIIM_SUBMENU;
            mi.hSubMenu = sub;
        }
        InsertMenuItemW(m.get(), pos++, TRUE, &mi);
    }
    menu_ = std::move(m);
}

void MasterWindow::updateMenu(const std::vector<MenuItem>& menu) { buildMenu(menu); }

void MasterWindow::popUpMenu(const std::vector<MenuItem>& menu) {
    buildMenu(menu);
    POINT pt{};
    GetCursorPos(&pt);
    // Without this the menu does not close when the user clicks elsewhere.
    SetForegroundWindow(hwnd_.get());
    const UINT cmd = static_cast<UINT>(
        TrackPopupMenu(menu_.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd_.get(), nullptr));
    PostMessageW(hwnd_.get(), WM_NULL, 0, 0);
    // The command reaches the presenter after this call has returned.
    if (cmd) PostMessageW(hwnd_.get(), WM_COMMAND, MAKEWPARAM(cmd, 0), 0);
}

int MasterWindow::dpi() const {
    const UINT d = hwnd_ ? GetDpiForWindow(hwnd_.get()) : 0;
    return d ? static_cast<int>(d) : 96;
}

int MasterWindow::menuItemHeight() const {
    const int h = GetSystemMetricsForDpi(SM_CYMENU, static_cast<UINT>(dpi()));
    return h > 0 ? h : 18;
}

// The side bar: a dark-blue strip fading to light, with the product name
// written upwards, drawn at its own size and stretched to the item.
void MasterWindow::drawSideBar(const DRAWITEMSTRUCT& d) {
    HDC mem = CreateCompatibleDC(d.hDC);
    HBITMAP bmp = CreateCompatibleBitmap(d.hDC, kSideBarWidth, kSideBarHeight);
    HGDIOBJ oldBmp = SelectObject(mem, bmp);
    for (int y = 0; y < kSideBarHeight; ++y) {
        const int k = 255 * y / kSideBarHeight;
        HBRUSH b = CreateSolidBrush(RGB(20 + k / 3, 40 + k / 3, 120 + k / 2));
        RECT row{0, y, kSideBarWidth, y + 1};
        FillRect(mem, &row, b);
        DeleteObject(b);
    }
    HFONT font = CreateFontW(-13, 0, 900, 900, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    HGDIOBJ oldFont = SelectObject(mem, font);
    SetBkMode(mem, TRANSPARENT);
    SetTextColor(mem, RGB(255, 255, 255));
    TextOutW(mem, 3, kSideBarHeight - 6, win32::wide(kProductName), static_cast<int>(std::size(kProductName) - 1));
    SelectObject(mem, oldFont);
    DeleteObject(font);
    StretchBlt(d.hDC, d.rcItem.left, 0, kSideBarWidth - 1, d.rcItem.bottom, mem, 0, 0, kSideBarWidth,
               kSideBarHeight, SRCCOPY);
    SelectObject(mem, oldBmp);
    DeleteObject(bmp);
    DeleteDC(mem);
}

// ---------------------------------------------------------------------------
// Other windows.

void MasterWindow::showSettingsDialog() { PostMessageW(hwnd_.get(), kShowSettingsNotice, 0, 0); }

void MasterWindow::showAbout() {
    if (about_ && IsWindow(about_.get())) {
        SetForegroundWindow(about_.get());
        return;
    }
    about_.release();  // a window the user closed is already destroyed
    about_ = ShowAboutBox(hwnd_.get());
}

void MasterWindow::minimizeAllWindows() {
    if (HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr)) PostMessageW(tray, WM_COMMAND, 419, 0);
}

void MasterWindow::unloadAllWindows() {
    // A small settings dialog still open ends as a cancel; its call returns
    // once the handler that opened it is back in control.
    cancelOpenModalDialogs();
    if (about_ && !IsWindow(about_.get())) about_.release();
    about_.reset();
    if (settings_) settings_->unloadNow();
    // The filter window goes at once but is destroyed with this window, once
    // no wait of its presenter can be on the stack.
    if (opener_) opener_->unloadNow();
}

void MasterWindow::setTrayMenuEnabled(filter::TrayMenuEntry entry, bool enabled) {
    if (!presenter_) return;
    MenuCommand c = MenuCommand::Exit;
    if (entry == filter::TrayMenuEntry::CheckNow) c = MenuCommand::Imm;
    if (entry == filter::TrayMenuEntry::Preview) c = MenuCommand::Preview;
    presenter_->setMenuEnabled(c, enabled);
}

// ---------------------------------------------------------------------------
// Window procedure.

LRESULT CALLBACK MasterWindow::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<MasterWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || !self->presenter_) return DefWindowProcW(hwnd, msg, wp, lp);
    try {
        return self->handle(hwnd, msg, wp, lp);
    } catch (const std::exception&) {
        return 0;  // the presenter's own guards report; nothing may leave here
    } catch (...) {
        return 0;
    }
}

LRESULT MasterWindow::handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (taskbarCreated_ && msg == taskbarCreated_) {
        if (iconShown_) notify(NIM_ADD);
        return 0;
    }
    switch (msg) {
    case app::kTrayCallbackMessage:
        presenter_->TrayCallback(static_cast<unsigned>(lp));
        return 0;
    case WM_MEASUREITEM: {
        auto* m = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
        if (m->CtlType == ODT_MENU) {
            m->itemWidth = static_cast<UINT>(app::MasterPresenter::sideBarWidth());
            m->itemHeight = static_cast<UINT>(app::MasterPresenter::sideBarHeight(menuItemHeight()));
            return TRUE;
        }
        break;
    }
    case WM_DRAWITEM: {
        auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
        if (d->CtlType == ODT_MENU) {
            drawSideBar(*d);
            return TRUE;
        }
        break;
    }
    case WM_COMMAND:
        if (HIWORD(wp) == 0 && LOWORD(wp) >= kMenuIdBase &&
            LOWORD(wp) < kMenuIdBase + static_cast<UINT>(MenuCommand::Separator))
            presenter_->menuCommand(static_cast<MenuCommand>(LOWORD(wp) - kMenuIdBase));
        return 0;
    case kShowSettingsNotice:
        // Asked for before an exit or the end of the session: nothing shows.
        if (presenter_->loaded() && !sessionEnding_ && settings_) settings_->show();
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;  // log-off is never held up, not even by a running filter session
    case WM_ENDSESSION:
        // The session really ends (wParam TRUE): unload as the exit command
        // does (hidden browser windows shown again, the icon removed, the
        // filter window unloaded) before returning, since the process may be
        // ended right after. A cancelled log-off (FALSE) changes nothing.
        if (wp) {
            sessionEnding_ = true;
            EndMenu();
            presenter_->unload();
        }
        return 0;
    case WM_CLOSE:
        return 0;  // only the menu's exit command unloads the main window
    default: break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace iw::win32app
