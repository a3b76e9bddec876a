// The main window's presenter; see master.h.
#include "app/master.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <limits>

#include "app/check_report.h"
#include "app/services.h"
#include "app/clock_correction.h"
#include "app/tray_texts.h"
#include "settings/accounts.h"

namespace iw::app {

using platform::Milliseconds;
using settings::IniFile;

namespace {

constexpr int kIntervalMinutes[] = {3, 5, 10, 15, 30, 60, 90, 120, 240, 480};
constexpr int kThresholds[] = {1, 3, 5, 10, 20, 30};

template <std::size_t N>
int pick(const int (&list)[N], std::int32_t position) {
    // A hand-edited value outside the list takes the first entry.
    return (position >= 0 && static_cast<std::size_t>(position) < N) ? list[position] : list[0];
}

MenuItem entry(MenuCommand c, const char16_t* caption, bool enabled = true, bool checkable = false) {
    MenuItem m;
    m.command = c;
    m.caption = caption;
    m.enabled = enabled;
    m.checkable = checkable;
    return m;
}

MenuItem separator() { return MenuItem{}; }

std::vector<MenuItem> buildMenu() {
    std::vector<MenuItem> menu;
    MenuItem border = entry(MenuCommand::Border, u"");
    border.ownerDrawn = true;
    menu.push_back(border);
    MenuItem mail = entry(MenuCommand::Mail, u"偏好設定");
    mail.isDefault = true;
    mail.columnBreak = true;
    menu.push_back(mail);
    menu.push_back(entry(MenuCommand::Preview, u"郵件預覽...", false));
    menu.push_back(entry(MenuCommand::Imm, u"立即檢查郵件", false));
    menu.push_back(entry(MenuCommand::Pause, u"暫停檢查郵件", false, true));
    menu.push_back(separator());
    MenuItem set = entry(MenuCommand::Set, u"視窗管理");
    set.submenu.push_back(entry(MenuCommand::Close, u"關閉 IE 視窗"));
    set.submenu.push_back(entry(MenuCommand::Small, u"最小化視窗"));
    set.submenu.push_back(entry(MenuCommand::Pop, u"攔截廣告視窗", true, true));
    set.submenu.push_back(entry(MenuCommand::Max, u"最大化IE 視窗", true, true));
    set.submenu.push_back(entry(MenuCommand::Ie, u"整合至 IE 視窗", true, true));
    menu.push_back(set);
    menu.push_back(separator());
    menu.push_back(entry(MenuCommand::About, u"關於...."));
    menu.push_back(entry(MenuCommand::Exit, u"結束"));
    return menu;
}

}  // namespace

// ---------------------------------------------------------------------------
// Helpers used by the check and the CLI.

void ReadMasterPreferences(settings::SettingsStore& store, settings::ProgramState& s) {
    const std::u16string& user = s.identity.UserSection;
    s.prefs.CheckIntervalMinutes = pick(kIntervalMinutes, store.readNumber(IniFile::Set, user, u"Check", 0));
    s.prefs.OpenThreshold = pick(kThresholds, store.readNumber(IniFile::Set, user, u"Value", 0));
    s.prefs.PopupRatio = store.readNumber(IniFile::Set, user, u"AD-PoP", 75) / 100.0;
}

MasterPresenter::MasterPresenter(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state,
                                 MasterView& view, FilterWindowOpener* opener, MasterHooks hooks,
                                 MasterConfig config)
    : p_(platform),
      store_(store),
      s_(state),
      view_(view),
      opener_(opener),
      hooks_(std::move(hooks)),
      config_(std::move(config)),
      menu_(buildMenu()) {}

MasterPresenter::~MasterPresenter() {
    if (timer1_) p_.loop.stopTimer(timer1_);
    if (timer2_) p_.loop.stopTimer(timer2_);
    session_.reset();
    clock_.reset();
}

// ---------------------------------------------------------------------------
// Menu model.

MenuItem* MasterPresenter::item(MenuCommand command) {
    return const_cast<MenuItem*>(static_cast<const MasterPresenter*>(this)->findItem(command));
}

const MenuItem* MasterPresenter::findItem(MenuCommand command) const {
    for (const MenuItem& m : menu_) {
        if (m.command == command && command != MenuCommand::Separator) return &m;
        for (const MenuItem& sub : m.submenu)
            if (sub.command == command) return &sub;
    }
    return nullptr;
}

void MasterPresenter::setMenuEnabled(MenuCommand command, bool enabled) {
    MenuItem* m = item(command);
    if (!m || m->enabled == enabled) return;
    m->enabled = enabled;
    menuChanged();
}

void MasterPresenter::setChecked(MenuCommand command, bool checked) {
    if (MenuItem* m = item(command)) m->checked = checked;
}

void MasterPresenter::menuChanged() {
    if (loaded_) view_.updateMenu(menu_);
}

// ---------------------------------------------------------------------------
// Load and unload.

void MasterPresenter::load() {
    if (loaded_) return;
    loaded_ = true;
    tip_ = kIdleTip;
    picture_ = TrayPicture::Program;
    view_.addTrayIcon(picture_, FitTip(p_.codePage, tip_));

    ReadMasterPreferences(store_, s_);
    setChecked(MenuCommand::Max, store_.readNumber(IniFile::Set, s_.identity.UserSection, u"Max", 0) != 0);
    setChecked(MenuCommand::Pop, store_.readNumber(IniFile::Set, s_.identity.UserSection, u"Set", 0) != 0);
    setChecked(MenuCommand::Ie, store_.readNumber(IniFile::Set, u"ShowIE", u"Value", 0) != 0);
    paused_ = false;
    view_.updateMenu(menu_);

    timer1_ = p_.loop.startTimer(Milliseconds(1000), true, [this] { monitorTick(); });
}

void MasterPresenter::unload() {
    if (!loaded_) return;
    if (timer1_) p_.loop.stopTimer(timer1_);
    timer1_ = 0;
    disableTimer2();
    view_.removeTrayIcon();
    if (s_.run.BrowserWindowsHidden) {
        s_.run.BrowserWindowsHidden = false;
        showHideBrowserWindows();
    }
    loaded_ = false;
    stopping_ = true;  // ends any wait still running
    if (session_) session_->cancel();
    view_.unloadAllWindows();
}

// ---------------------------------------------------------------------------
// Tray icon and menu commands.

void MasterPresenter::TrayCallback(unsigned mouseMessage) {
    if (!loaded_) return;
    if (mouseMessage == kMouseLeftDown) {
        s_.run.BrowserWindowsHidden = !s_.run.BrowserWindowsHidden;
        showHideBrowserWindows();
    } else if (mouseMessage == kMouseRightUp) {
        view_.popUpMenu(menu_);
    }
}

void MasterPresenter::toggleStoredMark(MenuCommand command, const std::u16string& section, const std::u16string& key) {
    MenuItem* m = item(command);
    m->checked = !m->checked;
    store_.write(IniFile::Set, section, key, std::u16string(m->checked ? u"-1" : u"0"));
    menuChanged();
}

void MasterPresenter::menuCommand(MenuCommand command) {
    const MenuItem* m = findItem(command);
    if (!loaded_ || !m || !m->enabled) return;
    switch (command) {
    case MenuCommand::Mail: view_.showSettingsDialog(); break;
    case MenuCommand::Preview:
        if (opener_) opener_->showFilterWindow();
        break;
    case MenuCommand::Imm: enableTimer2(); break;
    case MenuCommand::Pause:
        item(command)->checked = !m->checked;
        paused_ = item(command)->checked;
        menuChanged();
        break;
    case MenuCommand::Close: closeBrowserWindows(); break;
    case MenuCommand::Small: view_.minimizeAllWindows(); break;
    case MenuCommand::Pop: toggleStoredMark(command, s_.identity.UserSection, u"Set"); break;
    case MenuCommand::Max: toggleStoredMark(command, s_.identity.UserSection, u"Max"); break;
    case MenuCommand::Ie: {
        MenuItem* ie = item(command);
        ie->checked = !ie->checked;
        if (hooks_.toolbarButtonSwitched) hooks_.toolbarButtonSwitched(ie->checked);
        store_.write(IniFile::Set, u"ShowIE", u"Value", std::u16string(ie->checked ? u"-1" : u"0"));
        menuChanged();
        break;
    }
    case MenuCommand::About: view_.showAbout(); break;
    case MenuCommand::Exit: unload(); break;
    default: break;
    }
}

// ---------------------------------------------------------------------------
// Timers and the connection monitor.

void MasterPresenter::enableTimer2() {
    if (timer2_ || !loaded_) return;
    timer2_ = p_.loop.startTimer(Milliseconds(1000), true, [this] { checkTimerFired(); });
}

void MasterPresenter::disableTimer2() {
    if (timer2_) p_.loop.stopTimer(timer2_);
    timer2_ = 0;
}

void MasterPresenter::showTip(TrayPicture picture, const std::u16string& tip) {
    picture_ = picture;
    tip_ = FitTip(p_.codePage, tip);
    view_.modifyTrayIcon(picture_, tip_);
}

void MasterPresenter::monitorTick() {
    if (!loaded_) return;
    try {
        if (hooks_.browserWatcherTick) hooks_.browserWatcherTick();

        if (!s_.run.Online) {
            if (!p_.shell.isConnected()) return;
            p_.loop.pump(Milliseconds(0));
            if (!loaded_) return;
            for (MenuCommand c : {MenuCommand::Imm, MenuCommand::Preview, MenuCommand::Pause}) item(c)->enabled = true;
            menuChanged();
            s_.run.Online = true;
            onlineSeconds_ = 1;
            if (s_.prefs.options.clockCorrection) CorrectClock();
            enableTimer2();
            return;
        }

        if (!p_.shell.isConnected()) {
            showTip(TrayPicture::Program, kIdleTip);
            for (MenuCommand c : {MenuCommand::Imm, MenuCommand::Preview, MenuCommand::Pause}) item(c)->enabled = false;
            menuChanged();
            s_.run.Online = false;
            if (s_.run.BrowserWindowsHidden) {
                s_.run.BrowserWindowsHidden = false;
                showHideBrowserWindows();
            }
            return;
        }

        ++onlineSeconds_;
        const std::int64_t period = static_cast<std::int64_t>(s_.prefs.CheckIntervalMinutes) * 60;
        if (s_.prefs.options.periodicCheck && !paused_ && !s_.run.CheckBusy && period > 0 && onlineSeconds_ % period == 0) enableTimer2();

        const TrayPicture picture =
            paused_ ? TrayPicture::Paused : (s_.run.NewMailCount >= 1 ? TrayPicture::NewMail : TrayPicture::Connected);
        showTip(picture, ConnectedTip(onlineSeconds_, s_.run.StatusText, s_.run.NewMailCount, !paused_));
    } catch (...) {
        // A failure in one tick must not stop the timer or reach the loop.
    }
}

void MasterPresenter::checkTimerFired() {
    disableTimer2();
    // A check is never started inside another one (both would share Winsock1).
    if (checkRunning_ || stopping_) return;
    RunBackgroundCheck();
}

// ---------------------------------------------------------------------------
// The background check.

void MasterPresenter::RunBackgroundCheck() {
    if (checkRunning_) return;
    checkRunning_ = true;
    s_.run.CheckBusy = true;
    try {
        const std::vector<std::u16string> sections = settings::ReadRoster(store_, s_.identity.UserSection);
        if (sections.empty()) {
            s_.run.CheckBusy = false;
            checkRunning_ = false;
            return;
        }
        s_.run.NewMailCount = 0;
        s_.run.StatusText = u"";
        item(MenuCommand::Imm)->enabled = false;
        item(MenuCommand::Preview)->enabled = false;
        menuChanged();

        // A session of its own for each check: one that unload() cancelled
        // stays cancelled.
        session_ = std::make_unique<pop3::Session>(p_, store_.appPath(),
                                                   pop3::SessionOptions{config_.defaultPop3Port});
        if (stopping_) session_->cancel();
        TrayCheckTally tally(s_);
        session_->countMessages(ReadMailAccounts(store_, sections), tally);

        if (!stopping_ && s_.prefs.options.openFilterWindow && s_.run.NewMailCount >= s_.prefs.OpenThreshold && opener_) {
            store_.write(IniFile::Set, s_.identity.UserSection, u"Open-mail", std::u16string(u"Check-Quit"));
            item(MenuCommand::Preview)->enabled = true;
            menuChanged();
            s_.run.AutoOpened = true;
            opener_->showFilterWindowQuietly(store_.readNumber(IniFile::Set, s_.identity.UserSection, u"AutoMin", 0) == 1);
            checkRunning_ = false;
            return;
        }
    } catch (...) {
        // Falls through to the common end below.
    }
    s_.run.CheckBusy = false;
    item(MenuCommand::Imm)->enabled = true;
    item(MenuCommand::Preview)->enabled = true;
    menuChanged();
    checkRunning_ = false;
}

// ---------------------------------------------------------------------------
// Network time correction.

void MasterPresenter::CorrectClock() {
    if (!clock_) {
        clock_ = std::make_unique<ClockCorrection>(p_, store_, s_,
                                                   ClockCorrectionConfig{config_.timePort, config_.timeServerOverride});
    }
    clock_->sendRequest();
}

// ---------------------------------------------------------------------------
// Services.

std::u16string MasterPresenter::lookupHostAddress(const std::string& host) {
    return p_.codePage.toUtf16(platform::kBig5, LookupHostAddress(s_, p_.loop, p_.network, host));
}

void MasterPresenter::showHideBrowserWindows() { ShowHideBrowserWindows(p_.desktop, p_.loop, s_.run.BrowserWindowsHidden); }

void MasterPresenter::closeBrowserWindows() { CloseBrowserWindows(p_.desktop, p_.loop, p_.clock); }

}  // namespace iw::app
