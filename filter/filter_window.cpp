// The filter window presenter: loading, layout, options, account switching,
// check-mark mirroring and the list actions of the two pop-up menus. The
// session, deletion run and re-check are in filter_session.cpp.
#include "filter/filter_window.h"

#include "platform/waits.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace iw::filter {

namespace {

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

bool HasNoContent(const std::u16string& t) { return t.empty() || t == u" "; }

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool ContainsNoCase(const std::u16string& hay, const std::u16string& needle) {
    if (needle.empty()) return true;
    if (needle.size() > hay.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= hay.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() && Lower(hay[i + k]) == Lower(needle[k])) ++k;
        if (k == needle.size()) return true;
    }
    return false;
}

// The shortest text of a single-precision number, at most 7 significant digits.
std::u16string SingleText(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(static_cast<float>(v)));
    return Ascii(buf);
}

}  // namespace

bool ExtractSenderAddress(const std::u16string& text, std::u16string& out) {
    out.clear();
    std::u16string t = text;
    const auto a = t.find(u'<');
    if (a != std::u16string::npos) {
        const auto b = t.rfind(u'>');
        if (b == std::u16string::npos || b < a + 1) return false;
        t = t.substr(a + 1, b - a - 1);
    }
    const auto first = t.find_first_not_of(u' ');
    if (first == std::u16string::npos) return true;
    const auto last = t.find_last_not_of(u' ');
    out = t.substr(first, last - first + 1);
    return true;
}

FilterWindow::FilterWindow(platform::Platform& platform, FilterProfile& profile, settings::ProgramState& module1,
                           MainWindowLink& mainWindow, FilterWindowView& view, SenderLists& senderLists,
                           const platform::DateFormat& dateFormat)
    : p_(platform), profile_(profile), m1_(module1), main_(mainWindow), view_(view), senderLists_(senderLists), dateFormat_(dateFormat),
      session_(platform), alive_(std::make_shared<bool>(true)) {}

FilterWindow::~FilterWindow() {
    *alive_ = false;
    stopTimer();
    session_.cancel();
}

bool FilterWindow::enabled(Control c) const { return enabled_[static_cast<int>(c)]; }
bool FilterWindow::checked(Control c) const {
    const int k = static_cast<int>(c) - static_cast<int>(Control::Check1);
    return k >= 0 && k < 4 && checked_[k];
}
bool FilterWindow::menuEnabled(MenuEntry e) const { return menuEnabled_[static_cast<int>(e)]; }
bool FilterWindow::menuChecked(MenuEntry e) const { return menuChecked_[static_cast<int>(e)]; }

void FilterWindow::setEnabledState(Control c, bool on) {
    enabled_[static_cast<int>(c)] = on;
    view_.setEnabled(c, on);
}
void FilterWindow::setMenuEnabledState(MenuEntry e, bool on) {
    menuEnabled_[static_cast<int>(e)] = on;
    view_.setMenuEnabled(e, on);
}
void FilterWindow::setMenuCheckedState(MenuEntry e, bool on) {
    menuChecked_[static_cast<int>(e)] = on;
    view_.setMenuChecked(e, on);
}
void FilterWindow::setCheckState(Control c, bool on) {
    const int k = static_cast<int>(c) - static_cast<int>(Control::Check1);
    if (k >= 0 && k < 4) checked_[k] = on;
}

void FilterWindow::showLabel2(bool visible) {
    label2Visible_ = visible;
    view_.setVisible(Control::Label2, visible);
}
void FilterWindow::setLabel2(const std::u16string& text) {
    label2Text_ = text;
    view_.setText(Control::Label2, text);
}
void FilterWindow::stopTimer() {
    if (timer_ != 0) p_.loop.stopTimer(timer_);
    timer_ = 0;
}
void FilterWindow::startTimer() {
    stopTimer();
    std::weak_ptr<bool> alive = alive_;
    timer_ = p_.loop.startTimer(platform::Milliseconds(1000), true, [this, alive] {
        auto a = alive.lock();
        if (!a || !*a) return;
        try {
            countdownTick();
        } catch (...) {
            // A timer tick never lets an exception into the loop.
        }
    });
}
void FilterWindow::startCountdown() {
    startTimer();
    showLabel2(true);
    setLabel2(u"30 秒後自動執行刪除");
    CountdownTicks_ = 0;
}
void FilterWindow::stopCountdown() {
    stopTimer();
    showLabel2(false);
}

void FilterWindow::statusBar(const std::u16string& text) {
    status_ = text;
    view_.setStatus(text);
}
void FilterWindow::tipLabel(const std::u16string& text) { view_.setTipLabel(text); }
void FilterWindow::messageBox(const std::u16string& text) { view_.messageBox(text); }
void FilterWindow::tip(const std::u16string& text) {
    if (UseProgressTip_) view_.setTipLabel(text);
}
void FilterWindow::tipSection(int i, const std::u16string& text) {
    tip(accounts_[static_cast<std::size_t>(i)].section + u"\r\n\r\n" + text);
}

void FilterWindow::applyListLayout() {
    const int W = clientWidth_, H = clientHeight_;
    FilterLayout l;
    l.listView1 = {75, 75, W - 150, 900};
    l.text1Visible = model_.PreviewLines;
    l.listView2 = {60, 1300, W - 145, H - (model_.PreviewLines ? 3000 : 2160)};
    l.text1 = {60, l.listView2.height + 1315, l.listView2.width, 840};
    l.command1 = {W - 810 - 960, 990, 960, 300};
    l.check2Top = H - 800;
    l.check1Top = H - 550;
    l.check3Top = H - 800;
    l.check4Top = H - 550;
    l.combo1Top = H - 620;
    l.label1Top = H - 555;
    l.check3Left = W - 3410;
    l.check4Left = W - 3410;
    view_.setVisible(Control::Text1, model_.PreviewLines);
    view_.applyLayout(l);
}

void FilterWindow::load() {
    main_.setTrayMenuEnabled(TrayMenuEntry::Exit, false);
    main_.setTrayMenuEnabled(TrayMenuEntry::CheckNow, false);
    main_.setTrayMenuEnabled(TrayMenuEntry::Preview, false);
    setEnabledState(Control::Command1, false);
    setMenuEnabledState(MenuEntry::Recheck, false);

    // Column widths: exactly four numeric parts, or the design widths.
    const std::u16string widths = profile_.readOption(u"ColumnWidth", u"2440.063,3080.126,1440,1950.236");
    std::vector<double> parts;
    std::size_t pos = 0;
    bool ok = true;
    for (;;) {
        const auto comma = widths.find(u',', pos);
        const std::string part = Narrow(widths.substr(pos, comma == std::u16string::npos ? std::u16string::npos : comma - pos));
        char* end = nullptr;
        const double v = std::strtod(part.c_str(), &end);
        if (part.empty() || end == part.c_str() || *end != '\0' || !std::isfinite(v) || v < 0) ok = false;
        parts.push_back(v);
        if (comma == std::u16string::npos) break;
        pos = comma + 1;
    }
    if (ok && parts.size() == 4) {
        for (int k = 0; k < 4; ++k) columnWidths_[static_cast<std::size_t>(k)] = parts[static_cast<std::size_t>(k)];
        view_.setColumnWidths(columnWidths_);
    }

    // A stored size outside the 16-bit range is clamped into it.
    std::int32_t size = profile_.readOptionNumber(u"Size", 50);
    SizeLimitKB_ = size < -32768 ? -32768 : (size > 32767 ? 32767 : size);

    const char16_t* keys[4] = {u"Open", u"View", u"AutoMail", u"AutoMin"};
    const Control boxes[4] = {Control::Check1, Control::Check2, Control::Check3, Control::Check4};
    for (int k = 0; k < 4; ++k) {
        checked_[k] = profile_.readOptionNumber(keys[k], 0) > 0;
        view_.setChecked(boxes[k], checked_[k]);
    }

    std::int32_t email = profile_.readOptionNumber(u"EMail", 0);
    std::int64_t e = email < 0 ? -static_cast<std::int64_t>(email) : email;
    comboPos_ = e <= 5 ? static_cast<int>(e) : 0;
    view_.setComboItems({u"1", u"3", u"5", u"10", u"20", u"30"}, comboPos_);

    view_.setTopmost(false);
    if (m1_.run.AutoOpened) {
        UseProgressTip_ = false;
        view_.centreOnScreen();
        StartOnActivate_ = false;
        startTimer();
    } else {
        UseProgressTip_ = true;
        StartOnActivate_ = true;
    }
    model_.PreviewLines = checked_[1];
    applyListLayout();
    main_.setTrayMenuEnabled(TrayMenuEntry::Preview, true);
}

void FilterWindow::activated() {
    if (enabled(Control::Command1)) UseProgressTip_ = true;
    if (!StartOnActivate_) return;
    StartOnActivate_ = false;
    RunFilterSession();
    if (closed_) return;
    if (checked_[3]) {
        view_.restoreNormal();
        view_.setTopmost(true);
        platform::waitUntil(p_.loop, p_.clock, 1, {}, platform::LimitRule::Exceeds);
        view_.setTopmost(false);
    }
}

void FilterWindow::resized(int W, int H, bool minimized) {
    if (minimized) return;
    clientWidth_ = W;
    clientHeight_ = H;
    if (H < 5880 || W < 8085) {
        // The view resizes the window and calls resized again.
        view_.setOuterSize(8205, 6285);
        return;
    }
    applyListLayout();
}

bool FilterWindow::closeRequested() {
    // During the session the user's close ends it at once, deleting nothing:
    // a slow or silent server never holds the window.
    if (sessionRunning_ && !deletionRunning_) {
        abandonSession();
        return false;
    }
    if (!enabled(Control::Command1)) return false;
    runDeletion();
    return false;
}

void FilterWindow::unload() {
    if (unloaded_) return;
    unloaded_ = true;
    closed_ = true;
    stopTimer();
    const std::vector<double> w = view_.columnWidths();
    std::u16string text;
    for (std::size_t k = 0; k < 4; ++k) {
        if (k) text += u",";
        text += SingleText(k < w.size() ? w[k] : columnWidths_[k]);
    }
    profile_.writeOption(u"ColumnWidth", text);
    m1_.run.NewMailCount = 0;
    view_.setTopmost(false);
    session_.cancel();
}

void FilterWindow::openMailProgramClicked(bool on) {
    checked_[0] = on;
    profile_.writeOption(u"Open", on ? u"1" : u"0");
}
void FilterWindow::previewLinesClicked(bool on) {
    checked_[1] = on;
    profile_.writeOption(u"View", on ? u"1" : u"0");
}
void FilterWindow::minimizeClicked(bool on) {
    checked_[3] = on;
    profile_.writeOption(u"AutoMin", on ? u"1" : u"0");
}
void FilterWindow::autoDeleteClicked(bool on) {
    checked_[2] = on;
    profile_.writeOption(u"AutoMail", on ? u"1" : u"0");
    if (!enabled(Control::Command1)) return;
    if (on) {
        startTimer();
    } else {
        stopTimer();
    }
    showLabel2(on);
    setLabel2(u"30 秒後自動執行刪除");
    CountdownTicks_ = 0;
}
void FilterWindow::mailProgramThresholdChosen(int position) {
    if (position < 0 || position > 5) return;
    comboPos_ = position;
    profile_.writeOption(u"EMail", Ascii(std::to_string(position)));
}

void FilterWindow::copyAccountToVisible(int shown) {
    if (shown < 1 || shown > static_cast<int>(accounts_.size())) return;
    for (const MessageEntry& r : list(shown - 1)) {
        MessageEntry v = r;
        v.PreviewText.clear();
        model_.VisibleList.push_back(v);
        view_.addMessageRow(v);
    }
}

void FilterWindow::accountListMouseUp(MouseButton button, int selectedRow) {
    if (!enabled(Control::Command1)) return;
    selectedAccount_ = (selectedRow >= 0 && selectedRow < static_cast<int>(accountRows_.size())) ? selectedRow : -1;
    if (timer_ != 0) stopCountdown();
    if (accountRows_.empty()) {
        setMenuEnabledState(MenuEntry::MailModify, false);
        setMenuEnabledState(MenuEntry::MailDel, false);
        setMenuEnabledState(MenuEntry::Recheck, false);
        view_.showPopupMenu(PopupMenu::Mail);
        return;
    }
    view_.setText(Control::Text1, u"");
    if (button == MouseButton::Right) {
        const bool usable = selectedAccount_ >= 0 && accountRows_[static_cast<std::size_t>(selectedAccount_)].icon == kAccountIconInSession;
        setMenuEnabledState(MenuEntry::MailModify, usable);
        setMenuEnabledState(MenuEntry::MailDel, usable);
        setMenuEnabledState(MenuEntry::Recheck, usable);
        view_.showPopupMenu(PopupMenu::Mail);
        return;
    }
    if (button != MouseButton::Left || selectedAccount_ < 0) return;
    if (accountRows_[static_cast<std::size_t>(selectedAccount_)].icon == kAccountIconAdded) return;
    CopyBusy_ = true;
    model_.ShownList = selectedAccount_ + 1;
    model_.VisibleList.clear();
    view_.clearMessages();
    p_.loop.pump(platform::Milliseconds(0));
    if (closed_) return;
    copyAccountToVisible(model_.ShownList);
    if (model_.ShownList - 1 < static_cast<int>(accounts_.size())) statusBar(accounts_[static_cast<std::size_t>(model_.ShownList - 1)].status);
    CopyBusy_ = false;
}

void FilterWindow::messageChecked(int row, bool on) {
    const bool inList = row >= 0 && row < static_cast<int>(model_.VisibleList.size());
    if (inList) model_.VisibleList[static_cast<std::size_t>(row)].Checked = on;
    if (!enabled(Control::Command1)) return;
    if (timer_ != 0) stopCountdown();
    if (CopyBusy_) {
        const int sel = (selectedMessage_ >= 0 && selectedMessage_ < static_cast<int>(model_.VisibleList.size())) ? selectedMessage_ : row;
        if (sel >= 0 && sel < static_cast<int>(model_.VisibleList.size())) {
            model_.VisibleList[static_cast<std::size_t>(sel)].Checked = false;
            view_.setMessageChecked(sel, false);
        }
        statusBar(u"資料載入中,請稍等...");
        return;
    }
    if (!inList) return;
    if (on && shownHeld()) {
        // The rows of an account out of step can never be marked.
        model_.VisibleList[static_cast<std::size_t>(row)].Checked = false;
        view_.setMessageChecked(row, false);
        return;
    }
    if (model_.ShownList >= 1 && model_.ShownList <= static_cast<int>(accounts_.size())) {
        auto& rows = list(model_.ShownList - 1);
        if (row < static_cast<int>(rows.size())) rows[static_cast<std::size_t>(row)].Checked = on;
    }
}

void FilterWindow::messageClicked(int row) {
    if (!enabled(Control::Command1)) return;
    selectedMessage_ = row;
    if (model_.PreviewLines && selectedAccount_ >= 0 && selectedAccount_ < static_cast<int>(accounts_.size())) {
        const auto& list = model_.AccountLists[static_cast<std::size_t>(selectedAccount_)];
        if (row >= 0 && row < static_cast<int>(list.size()))
            view_.setText(Control::Text1, list[static_cast<std::size_t>(row)].PreviewText);
    }
    if (timer_ != 0) stopCountdown();
}

bool FilterWindow::selectedSender(std::u16string& text, std::u16string& address) const {
    if (selectedMessage_ < 0 || selectedMessage_ >= static_cast<int>(model_.VisibleList.size())) return false;
    text = model_.VisibleList[static_cast<std::size_t>(selectedMessage_)].SenderText;
    // A sender text with "<" and no later ">" has no address of its own; the
    // text after the "<" stands for it, so the actions still work.
    if (!ExtractSenderAddress(text, address)) ExtractSenderAddress(text.substr(text.find(u'<') + 1), address);
    return true;
}

void FilterWindow::messageListMouseUp(MouseButton button, int selectedRow) {
    if (button != MouseButton::Right || !enabled(Control::Command1) || model_.VisibleList.empty()) return;
    if (selectedRow >= 0 && selectedRow < static_cast<int>(model_.VisibleList.size())) selectedMessage_ = selectedRow;
    std::u16string text, address;
    if (!selectedSender(text, address)) return;
    setMenuCheckedState(MenuEntry::TrustAdd, profile_.listNumber(SenderList::Trust, address, 1) == 0);
    setMenuCheckedState(MenuEntry::BlackAdd, profile_.listNumber(SenderList::Black, address, 2) != 2);
    const auto at = address.find(u'@');
    if (at != std::u16string::npos)
        setMenuCheckedState(MenuEntry::AddDomain, profile_.listNumber(SenderList::Domain, address.substr(at + 1), 2) == 0);
    view_.showPopupMenu(PopupMenu::BlackSet);
}

bool FilterWindow::shownHeld() const {
    return model_.ShownList >= 1 && model_.ShownList <= static_cast<int>(accounts_.size()) &&
           accounts_[static_cast<std::size_t>(model_.ShownList - 1)].held;
}

void FilterWindow::remarkSame(const std::function<bool(const MessageEntry&)>& match, bool mark) {
    if (mark && shownHeld()) return;
    for (std::size_t i = 0; i < model_.VisibleList.size(); ++i) {
        if (!match(model_.VisibleList[i])) continue;
        model_.VisibleList[i].Checked = mark;
        view_.setMessageChecked(static_cast<int>(i), mark);
        if (model_.ShownList >= 1 && model_.ShownList <= static_cast<int>(accounts_.size())) {
            auto& rows = list(model_.ShownList - 1);
            if (i < rows.size()) rows[i].Checked = mark;
        }
    }
}

void FilterWindow::black_add_Click() {
    std::u16string text, address;
    if (!selectedSender(text, address)) return;
    if (HasNoContent(text)) {
        view_.messageBox(u"請設定寄信者空白\r\n視為垃圾郵件!");
        return;
    }
    const bool mark = !menuChecked(MenuEntry::BlackAdd);
    setMenuCheckedState(MenuEntry::BlackAdd, mark);
    if (!address.empty()) {
        if (mark)
            profile_.listAdd(SenderList::Black, address);
        else
            profile_.listRemove(SenderList::Black, address);
    }
    remarkSame([&](const MessageEntry& r) { return r.SenderText == text; }, mark);
}

void FilterWindow::trust_add_Click() {
    std::u16string text, address;
    if (!selectedSender(text, address) || HasNoContent(text)) return;
    const bool mark = !menuChecked(MenuEntry::TrustAdd);
    setMenuCheckedState(MenuEntry::TrustAdd, mark);
    if (!address.empty()) {
        if (mark)
            profile_.listAdd(SenderList::Trust, address);
        else
            profile_.listRemove(SenderList::Trust, address);
    }
    remarkSame([&](const MessageEntry& r) { return r.SenderText == text; }, !mark);
}

void FilterWindow::add_domain_Click() {
    std::u16string text, address;
    if (!selectedSender(text, address)) return;
    const auto at = address.find(u'@');
    if (at == std::u16string::npos) return;
    const std::u16string domain = address.substr(at + 1);
    if (HasNoContent(domain)) return;
    const bool mark = !menuChecked(MenuEntry::AddDomain);
    setMenuCheckedState(MenuEntry::AddDomain, mark);
    if (mark)
        profile_.listAdd(SenderList::Domain, domain);
    else
        profile_.listRemove(SenderList::Domain, domain);
    remarkSame([&](const MessageEntry& r) { return ContainsNoCase(r.SenderText, domain); }, mark);
}

void FilterWindow::black_all_Click() {
    for (const MessageEntry& r : model_.VisibleList) {
        if (!r.Checked) continue;
        std::u16string address;
        if (!ExtractSenderAddress(r.SenderText, address)) continue;
        if (address.empty() || profile_.listNumber(SenderList::Trust, address, 1) == 0) continue;
        profile_.listAdd(SenderList::Black, address);
    }
}

void FilterWindow::mnu_recheck_Click() {
    if (selectedAccount_ < 0 || selectedAccount_ >= static_cast<int>(accountRows_.size())) return;
    if (accountRows_[static_cast<std::size_t>(selectedAccount_)].icon != kAccountIconInSession) return;
    if (selectedAccount_ >= static_cast<int>(accounts_.size())) return;
    setMenuEnabledState(MenuEntry::Recheck, false);
    RecheckAccount(selectedAccount_);
}

void FilterWindow::mail_add_Click() {
    if (hooks_.add) hooks_.add();
}

void FilterWindow::mail_modify_Click() {
    if (selectedAccount_ >= 0 && hooks_.modify) hooks_.modify(selectedAccount_);
}

void FilterWindow::mail_del_Click() {
    if (selectedAccount_ < 0 || selectedAccount_ >= static_cast<int>(accountRows_.size())) return;
    AccountRow& row = accountRows_[static_cast<std::size_t>(selectedAccount_)];
    if (row.icon != kAccountIconInSession || !hooks_.remove) return;
    if (!hooks_.remove(row.address)) return;
    row.icon = kAccountIconRemoved;
    view_.setAccountIcon(selectedAccount_, kAccountIconRemoved);
}

void FilterWindow::AccountModified(int row, const std::u16string& address) {
    if (row < 0 || row >= static_cast<int>(accountRows_.size())) return;
    accountRows_[static_cast<std::size_t>(row)].address = address;
    view_.setAccountAddress(row, address);
}

void FilterWindow::AccountAdded(const std::u16string& user, const std::u16string& address) {
    accountRows_.push_back({user, address, kAccountIconAdded});
    view_.addAccountRow(user, address, kAccountIconAdded);
}

}  // namespace iw::filter
