// The hidden main window `master`: the tray icon and its tip, the tray menu
// and its commands, the one-second monitor (Timer1), the background mail
// check (Timer2, RunBackgroundCheck over Winsock1) and, through
// app/clock_correction.h, network time correction. The Win32 view draws the
// icon and the owner-drawn menu and forwards the shell's callbacks;
// everything that decides lives here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/clock_correction.h"
#include "app/filter_window_opener.h"
#include "settings/program_state.h"
#include "pop3/session.h"
#include "platform/platform.h"
#include "settings/settings_store.h"

namespace iw::app {

// The tray icon as the shell knows it.
inline constexpr unsigned kTrayIconId = 1234;
inline constexpr unsigned kTrayCallbackMessage = 0x46F;
inline constexpr unsigned kTrayIconFlags = 7;  // message, icon and tip are valid
// Mouse messages the tray callback carries in lParam.
inline constexpr unsigned kMouseLeftDown = 0x201;
inline constexpr unsigned kMouseRightUp = 0x205;

// Which picture the tray shows.
enum class TrayPicture {
    Program,    // master's own icon: offline
    NewMail,    // Image1: connected, new mail waiting
    Connected,  // Image2: connected, no new mail
    Paused,     // Image3: checking paused
};

enum class MenuCommand {
    Border,   // brmnu: the owner-drawn side bar
    Mail,     // mnu_mail  偏好設定
    Preview,  // mnu_preview
    Imm,      // mnu_imm
    Pause,    // mnu_pause
    Set,      // mnu_set (submenu)
    Close,    // mnu_close
    Small,    // mnu_small
    Pop,      // mnu_pop
    Max,      // mnu_max
    Ie,       // mnu_ie
    About,    // mnu_about
    Exit,     // mnu_exit
    Separator,
};

struct MenuItem {
    MenuCommand command = MenuCommand::Separator;
    std::u16string caption;  // empty for separators and the side bar
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    bool isDefault = false;    // drawn bold
    bool columnBreak = false;  // starts a new column (MF_MENUBARBREAK)
    bool ownerDrawn = false;
    std::vector<MenuItem> submenu;
};

// The view of `master`, implemented by the Win32 window (and a recording
// fake in tests). Calls come from the presenter only; the view never calls
// back into the presenter from inside one of these.
class MasterView {
public:
    virtual ~MasterView() = default;

    // The notification-area icon (identifier kTrayIconId, callback
    // kTrayCallbackMessage). `tip` already fits the 64-byte field.
    virtual void addTrayIcon(TrayPicture picture, const std::u16string& tip) = 0;
    virtual void modifyTrayIcon(TrayPicture picture, const std::u16string& tip) = 0;
    virtual void removeTrayIcon() = 0;

    // The menu's items, states and marks changed; mirror them.
    virtual void updateMenu(const std::vector<MenuItem>& menu) = 0;
    // Makes the main window the foreground window and pops the menu up at
    // the mouse position. Returns once the menu has closed; a chosen
    // command comes back through MasterPresenter::menuCommand.
    virtual void popUpMenu(const std::vector<MenuItem>& menu) = 0;

    virtual void showSettingsDialog() = 0;  // mailset, modeless
    virtual void showAbout() = 0;           // frmAbout, modeless
    // Posts the taskbar ("Shell_TrayWnd") its minimise-all command (419).
    virtual void minimizeAllWindows() = 0;
    // Unloads every loaded window of the program (the process then ends).
    virtual void unloadAllWindows() = 0;
};

// Hooks into the parts of the program that live elsewhere; empty ones do nothing.
struct MasterHooks {
    // The browser watcher, run first on every Timer1 tick.
    std::function<void()> browserWatcherTick;
    // The browser toolbar button, switched on (true) or off; called by the
    // menu command after the mark has been inverted.
    std::function<void(bool on)> toolbarButtonSwitched;
};

// What tests and the CLI may change; the program uses the defaults.
struct MasterConfig {
    std::uint16_t defaultPop3Port = 110;
    std::uint16_t timePort = 123;
    // Replaces the time-server list when not empty (tests point it at a
    // local server).
    std::string timeServerOverride;
};

class MasterPresenter {
public:
    MasterPresenter(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state,
                    MasterView& view, FilterWindowOpener* opener, MasterHooks hooks = {},
                    MasterConfig config = {});
    ~MasterPresenter();
    MasterPresenter(const MasterPresenter&) = delete;
    MasterPresenter& operator=(const MasterPresenter&) = delete;

    // Window events.
    void load();
    void unload();
    // The shell's callback message; `mouseMessage` is its lParam.
    void TrayCallback(unsigned mouseMessage);
    void menuCommand(MenuCommand command);

    void monitorTick();
    void checkTimerFired();

    // One pass over all accounts (normally run by Timer2). Also usable
    // without load() (the console front end): the icon and menu are then
    // left alone, and with no opener the filter window is never opened.
    void RunBackgroundCheck();
    // Sends the time request (normally run when the connection comes up);
    // the reply sets the clock (see clock_correction.h).
    void CorrectClock();

    // For the filter window (it disables and re-enables these entries).
    void setMenuEnabled(MenuCommand command, bool enabled);

    // Read back by tests and the view.
    const std::vector<MenuItem>& menu() const { return menu_; }
    const MenuItem* findItem(MenuCommand command) const;
    bool paused() const { return paused_; }
    std::int64_t onlineSeconds() const { return onlineSeconds_; }
    bool timer2Enabled() const { return timer2_ != 0; }
    bool loaded() const { return loaded_; }
    // The tip the icon shows now, and its picture.
    const std::u16string& tip() const { return tip_; }
    TrayPicture picture() const { return picture_; }

    // Owner-drawn side bar: the size to answer WM_MEASUREITEM with, from the
    // height of one menu item (18 when the system cannot tell).
    static int sideBarWidth() { return 8; }
    static int sideBarHeight(int menuItemHeight) { return menuItemHeight * 7 + 18; }

private:
    MenuItem* item(MenuCommand command);
    void setChecked(MenuCommand command, bool checked);
    void menuChanged();
    void enableTimer2();
    void disableTimer2();
    void showTip(TrayPicture picture, const std::u16string& tip);
    std::u16string lookupHostAddress(const std::string& host);
    void showHideBrowserWindows();
    void closeBrowserWindows();
    void toggleStoredMark(MenuCommand command, const std::u16string& section, const std::u16string& key);

    platform::Platform& p_;
    settings::SettingsStore& store_;
    settings::ProgramState& s_;
    MasterView& view_;
    FilterWindowOpener* opener_;
    MasterHooks hooks_;
    MasterConfig config_;

    std::vector<MenuItem> menu_;
    bool loaded_ = false;
    bool stopping_ = false;  // unloading: every wait ends at once
    bool paused_ = false;
    bool checkRunning_ = false;
    std::int64_t onlineSeconds_ = 0;
    platform::TimerId timer1_ = 0;
    platform::TimerId timer2_ = 0;
    std::u16string tip_;
    TrayPicture picture_ = TrayPicture::Program;

    // The background check's session; cancelled by unload().
    std::unique_ptr<pop3::Session> session_;
    std::unique_ptr<ClockCorrection> clock_;  // from the first correction on
};

// Reads the three values the timers need and the pop-up ratio from
// set.ini into the program-wide state (interval, threshold, ratio).
void ReadMasterPreferences(settings::SettingsStore& store, settings::ProgramState& state);

}  // namespace iw::app
