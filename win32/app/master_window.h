// The Win32 view of the hidden main window `master`: a top-level window that
// is never shown, owning the tray icon (drawn in code at the size the shell
// asks for), the owner-drawn tray menu with its side-bar picture, the About
// box and the filter window opener. The presenter decides; this class only
// mirrors what it is told and forwards the shell's callbacks.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <memory>
#include <vector>

#include "app/master.h"
#include "filter/main_window_link.h"
#include "win32/app/filter_window_host.h"
#include "iw_version.h"
#include "win32/platform/handles.h"

namespace iw::app {
class BrowserPart;
}

namespace iw::win32app {

class MailsetHost;

// Menu command identifiers: this base plus the MenuCommand's value.
inline constexpr UINT kMenuIdBase = 100;
inline UINT menuId(app::MenuCommand c) { return kMenuIdBase + static_cast<UINT>(c); }

// The tray picture drawn in code at `size` pixels square (16 to 48).
HICON DrawTrayIcon(app::TrayPicture picture, int size);

class MasterWindow final : public app::MasterView, public filter::MainWindowLink {
public:
    MasterWindow(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state);
    ~MasterWindow() override;
    MasterWindow(const MasterWindow&) = delete;
    MasterWindow& operator=(const MasterWindow&) = delete;

    // Creates the window, the filter window opener and runs load.
    bool load();
    app::MasterPresenter& presenter() { return *presenter_; }
    HWND window() const { return hwnd_.get(); }
    // The tray menu as last built from the presenter's items (tests read it).
    HMENU menu() const { return menu_.get(); }
    bool iconShown() const { return iconShown_; }
    HWND aboutWindow() const { return about_.get(); }
    // WM_ENDSESSION told that the Windows session ends.
    bool sessionEnding() const { return sessionEnding_; }
    // The settings dialog that "偏好設定" opens (or brings to the front) and
    // the exit command unloads; it must outlive this window.
    void setSettingsDialog(MailsetHost* host) { settings_ = host; }

    // MasterView
    void addTrayIcon(app::TrayPicture picture, const std::u16string& tip) override;
    void modifyTrayIcon(app::TrayPicture picture, const std::u16string& tip) override;
    void removeTrayIcon() override;
    void updateMenu(const std::vector<app::MenuItem>& menu) override;
    void popUpMenu(const std::vector<app::MenuItem>& menu) override;
    void showSettingsDialog() override;
    void showAbout() override;
    void minimizeAllWindows() override;
    void unloadAllWindows() override;

    // filter::MainWindowLink
    void setTrayMenuEnabled(filter::TrayMenuEntry entry, bool enabled) override;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    int dpi() const;
    bool notify(DWORD action);
    void buildMenu(const std::vector<app::MenuItem>& items);
    int menuItemHeight() const;
    void drawSideBar(const DRAWITEMSTRUCT& d);

    platform::Platform& p_;
    settings::SettingsStore& store_;
    settings::ProgramState& state_;
    win32::UniqueWindow hwnd_;
    win32::UniqueMenu menu_;
    win32::UniqueIcon icon_;
    win32::UniqueWindow about_;
    std::unique_ptr<FilterWindowHost> opener_;
    std::unique_ptr<app::BrowserPart> browser_;  // the watcher and toolbar button hooks
    std::unique_ptr<app::MasterPresenter> presenter_;
    MailsetHost* settings_ = nullptr;
    UINT taskbarCreated_ = 0;
    bool iconShown_ = false;
    bool sessionEnding_ = false;
    app::TrayPicture picture_ = app::TrayPicture::Program;
    std::u16string tip_;
};

// The splash window `About`: product name and version, shown without
// waiting; destroying the returned window unloads it.
win32::UniqueWindow ShowSplash();
// The About box `frmAbout`, modeless, with a mailto: link.
win32::UniqueWindow ShowAboutBox(HWND owner);

inline constexpr char16_t kProductName[] = u"Inkwarden";
inline constexpr char16_t kVersionText[] = u"版本 " IW_VERSION_TEXT;

}  // namespace iw::win32app
