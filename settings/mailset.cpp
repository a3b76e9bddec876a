// The settings dialog's presenter; see mailset.h.
#include "settings/mailset.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "settings/time_servers.h"
#include "settings/accounts.h"
#include "settings/registry_values.h"

namespace iw::settings {

namespace {

constexpr char16_t kWebSection[] = u"IeUrl";
constexpr char16_t kRed[] = u"1";  // a black-list value whose domain filter is on

std::u16string ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string decimal(long long n) { return ascii(std::to_string(n)); }

// The leading decimal number of a text, as a number field reads it ("12abc"
// is 12, "abc" is 0, " 7" is 7).
long long leadingNumber(const std::u16string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    bool minus = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) minus = text[i++] == u'-';
    long long n = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        n = n * 10 + (text[i] - u'0');
        if (n > 1'000'000'000LL) break;  // far beyond any size the field can take
    }
    return minus ? -n : n;
}

// Ascending text order, small and capital ASCII letters alike.
bool foldedLess(const std::u16string& a, const std::u16string& b) {
    auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char16_t x, char16_t y) { return fold(x) < fold(y); });
}

int clampChoice(std::int32_t v, std::size_t count) {
    return v >= 0 && static_cast<std::size_t>(v) < count ? v : 0;
}

// Option box k's companion control, when it has one besides box 9.
std::optional<MailsetControl> companionOf(int k) {
    switch (k) {
    case 1: return MailsetControl::Combo1;
    case 2: return MailsetControl::Combo2;
    case 7: return MailsetControl::Combo3;
    default: return std::nullopt;
    }
}

}  // namespace

const std::vector<std::u16string>& CheckIntervalChoices() {
    static const std::vector<std::u16string> v = {u"3", u"5", u"10", u"15", u"30",
                                                  u"60", u"90", u"120", u"240", u"480"};
    return v;
}

const std::vector<std::u16string>& OpenThresholdChoices() {
    static const std::vector<std::u16string> v = {u"1", u"3", u"5", u"10", u"20", u"30"};
    return v;
}

std::u16string ShortestDecimal(double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return ascii(std::string(buf, r.ptr));
}

std::u16string PopupFrameCaption(int width, int height, int percent) {
    const double w = static_cast<double>(width) * percent / 100.0;
    const double h = static_cast<double>(height) * percent / 100.0;
    return u"廣告視窗小於( " + ShortestDecimal(w) + u" X " + ShortestDecimal(h) + u" )";
}

// ---------------------------------------------------------------------------
// The openers the small dialogs change this dialog's lists through.

class MailsetPresenter::AccountOpener final : public AccountRowsOpener {
public:
    explicit AccountOpener(MailsetPresenter& p) : p_(p) {}
    int selectedRow() const override { return p_.selectedRow(MailsetList::Accounts); }
    std::u16string rowAddress(int row) const override {
        const auto& rows = p_.rows(MailsetList::Accounts);
        return row >= 0 && static_cast<std::size_t>(row) < rows.size() ? rows[static_cast<std::size_t>(row)].second
                                                                        : std::u16string();
    }
    void setRowAddress(int row, const std::u16string& address) override {
        const auto& rows = p_.rows(MailsetList::Accounts);
        if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return;
        MailsetRow r = rows[static_cast<std::size_t>(row)];
        r.second = address;
        p_.updateRow(MailsetList::Accounts, row, r);
    }
    void addRow(const std::u16string& user, const std::u16string& address) override {
        p_.addRow(MailsetList::Accounts, MailsetRow{user, address});
    }

private:
    MailsetPresenter& p_;
};

class MailsetPresenter::EntryOpener final : public EntryRowsOpener {
public:
    EntryOpener(MailsetPresenter& p, MailsetList list) : p_(p), list_(list) {}
    int rowCount() const override { return static_cast<int>(p_.rows(list_).size()); }
    int selectedRow() const override { return p_.selectedRow(list_); }
    std::u16string rowText(int row) const override {
        const auto& rows = p_.rows(list_);
        return row >= 0 && static_cast<std::size_t>(row) < rows.size() ? rows[static_cast<std::size_t>(row)].text
                                                                        : std::u16string();
    }
    void setRowText(int row, const std::u16string& text) override {
        const auto& rows = p_.rows(list_);
        if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return;
        MailsetRow r = rows[static_cast<std::size_t>(row)];
        r.text = text;  // check mark and colour stay
        p_.updateRow(list_, row, r);
    }
    void addRow(const std::u16string& text) override { p_.addRow(list_, MailsetRow{text}); }

private:
    MailsetPresenter& p_;
    MailsetList list_;
};

// ---------------------------------------------------------------------------

MailsetPresenter::MailsetPresenter(platform::Platform& platform, SettingsStore& store, settings::ProgramState& state,
                                   MailsetView& view, ModalDialogs& dialogs, MailsetHooks hooks)
    : p_(platform), store_(store), s_(state), view_(view), dialogs_(dialogs), hooks_(std::move(hooks)) {
    optionEnabled_.fill(true);
    enabled_.fill(true);
}

MailsetPresenter::~MailsetPresenter() = default;

std::u16string MailsetPresenter::blackSection() const { return BlackListSection(s_.identity.UserSection); }
std::u16string MailsetPresenter::trustSection() const { return TrustListSection(s_.identity.UserSection); }

const std::vector<MailsetRow>& MailsetPresenter::rows(MailsetList l) const { return list(l).rows; }

bool MailsetPresenter::rowSelected(MailsetList l, int row) const {
    const ListModel& m = list(l);
    return row >= 0 && static_cast<std::size_t>(row) < m.selected.size() && m.selected[static_cast<std::size_t>(row)];
}

int MailsetPresenter::selectedRow(MailsetList l) const {
    const ListModel& m = list(l);
    if (rowSelected(l, m.current)) return m.current;
    for (std::size_t i = 0; i < m.selected.size(); ++i)
        if (m.selected[i]) return static_cast<int>(i);
    return -1;
}

void MailsetPresenter::setRows(MailsetList l, std::vector<MailsetRow> rows) {
    ListModel& m = list(l);
    m.rows = std::move(rows);
    m.selected.assign(m.rows.size(), false);
    m.current = -1;
    view_.setRows(l, m.rows);
}

void MailsetPresenter::addRow(MailsetList l, MailsetRow row) {
    ListModel& m = list(l);
    m.rows.push_back(row);
    m.selected.push_back(false);
    view_.addRow(l, row);
}

void MailsetPresenter::updateRow(MailsetList l, int row, MailsetRow value) {
    ListModel& m = list(l);
    m.rows[static_cast<std::size_t>(row)] = value;
    view_.updateRow(l, row, value);
}

void MailsetPresenter::removeRow(MailsetList l, int row) {
    ListModel& m = list(l);
    m.rows.erase(m.rows.begin() + row);
    m.selected.erase(m.selected.begin() + row);
    if (m.current == row) m.current = -1;
    else if (m.current > row) --m.current;
    view_.removeRow(l, row);
}

void MailsetPresenter::RowSelected(MailsetList l, int row, bool selected) {
    ListModel& m = list(l);
    if (row < 0 || static_cast<std::size_t>(row) >= m.selected.size()) return;
    m.selected[static_cast<std::size_t>(row)] = selected;
    if (selected) m.current = row;
}

void MailsetPresenter::setEnabled(MailsetControl c, bool on) {
    enabled_[static_cast<std::size_t>(c)] = on;
    view_.setEnabled(c, on);
}

void MailsetPresenter::setOptionEnabled(int k, bool on) {
    optionEnabled_[static_cast<std::size_t>(k)] = on;
    view_.setOptionEnabled(k, on);
}

void MailsetPresenter::setOption(int k, bool checked) {
    options_.set(k, checked);
    view_.setOption(k, checked);
    applyCompanion(k);
}

// Every companion is enabled exactly while its box is checked.
void MailsetPresenter::applyCompanion(int k) {
    const bool on = options_.get(k);
    if (auto c = companionOf(k)) setEnabled(*c, on);
    if (k == 4) {
        setEnabled(MailsetControl::Text1, on);
        setEnabled(MailsetControl::VScroll1, on);
    }
    if (k == 8) setOptionEnabled(9, on);
}

void MailsetPresenter::setSlider(int position) {
    slider_ = std::clamp(position, 0, 100);
    view_.setSlider(slider_);
    sliderTip_ = decimal(slider_) + u"%";
    view_.setSliderTip(sliderTip_);
    const platform::WindowRect screen = p_.desktop.screen();
    frameCaption_ = PopupFrameCaption(screen.width(), screen.height(), slider_);
    view_.setFrameCaption(frameCaption_);
}

void MailsetPresenter::syncScrollToText() {
    const long long n = leadingNumber(sizeText_);
    scroll_ = static_cast<int>(std::clamp<long long>(kScrollMax - n, kScrollMin, kScrollMax));
    view_.setScrollPosition(scroll_);
}

// ---------------------------------------------------------------------------
// Load.

void MailsetPresenter::load() {
    const std::u16string& user = s_.identity.UserSection;

    // 1. The account list.
    std::vector<MailsetRow> accounts;
    for (const std::u16string& address : ReadRoster(store_, user))
        accounts.push_back(MailsetRow{ReadSetting(store_, address, u"Account", u""), address});
    setRows(MailsetList::Accounts, std::move(accounts));

    // 2. The black list (red rows: domain filter on) and the trust list.
    std::vector<MailsetRow> black;
    for (std::u16string& e : ReadListSection(store_, IniFile::Set, blackSection(), ListEntryRule::BeforeEquals)) {
        MailsetRow r{std::move(e)};
        r.red = ReadSettingNumber(store_, IniFile::Set, blackSection(), r.text, 2) == 1;
        black.push_back(std::move(r));
    }
    std::vector<MailsetRow> trust;
    for (std::u16string& e : ReadListSection(store_, IniFile::Set, trustSection(), ListEntryRule::DropLastTwoChars))
        trust.push_back(MailsetRow{std::move(e)});
    setRows(MailsetList::Trust, std::move(trust));

    // 3. The web-address list, then the black list sorted by its text.
    std::vector<MailsetRow> web;
    for (std::u16string& e : ReadListSection(store_, IniFile::Ie, kWebSection, ListEntryRule::BeforeEquals)) {
        if (e.empty()) continue;
        MailsetRow r{std::move(e)};
        const std::int32_t v = ReadSettingNumber(store_, IniFile::Ie, kWebSection, r.text, 2);
        r.checked = v == 1;
        r.red = v == 3;
        web.push_back(std::move(r));
    }
    setRows(MailsetList::Web, std::move(web));
    std::stable_sort(black.begin(), black.end(),
                     [](const MailsetRow& a, const MailsetRow& b) { return foldedLess(a.text, b.text); });
    setRows(MailsetList::Black, std::move(black));

    // 4. The choice lists.
    view_.setComboItems(MailsetCombo::Combo1, CheckIntervalChoices());
    view_.setComboItems(MailsetCombo::Combo2, OpenThresholdChoices());
    std::vector<std::u16string> servers;
    for (const char* s : settings::kTimeServers) servers.push_back(ascii(s));
    view_.setComboItems(MailsetCombo::Combo3, servers);

    // 5. Their positions; a hand-edited position outside a list picks its first entry.
    combo_[0] = clampChoice(ReadSettingNumber(store_, IniFile::Set, user, u"Check", 0), CheckIntervalChoices().size());
    combo_[1] = clampChoice(ReadSettingNumber(store_, IniFile::Set, user, u"Value", 0), OpenThresholdChoices().size());
    combo_[2] = clampChoice(ReadSettingNumber(store_, IniFile::Set, user, u"TimeServer", 0), servers.size());
    view_.setComboSelection(MailsetCombo::Combo1, combo_[0]);
    view_.setComboSelection(MailsetCombo::Combo2, combo_[1]);
    view_.setComboSelection(MailsetCombo::Combo3, combo_[2]);

    // 6. The slider, its tooltip and the frame caption.
    setSlider(ReadSettingNumber(store_, IniFile::Set, user, u"AD-PoP", 75));

    // 7. The size field.
    sizeText_ = decimal(ReadSettingNumber(store_, IniFile::Set, user, u"Size", 100));
    view_.setSizeText(sizeText_);

    // 8. The option boxes, each with its companions.
    for (int k = 0; k < kOptionCount; ++k) setOption(k, s_.prefs.options.get(k));

    // 9. The lock of the web-address page.
    s_.dialog.SettingsPassword = RegistryValues(p_.registry).ReadRegString(u"PassWord");
    locked_ = !s_.dialog.SettingsPassword.empty();
    unlockVisible_ = locked_;
    view_.setUnlockVisible(unlockVisible_);
    if (locked_) setOptionEnabled(8, false);

    // 10. The scroll bar from the size field.
    syncScrollToText();
}

// ---------------------------------------------------------------------------
// Option boxes and their companions.

void MailsetPresenter::optionClicked(int k, bool checked) {
    if (closed_ || k < 0 || k >= kOptionCount || !optionEnabled(k)) return;
    options_.set(k, checked);
    applyCompanion(k);
}

void MailsetPresenter::choiceSelected(MailsetCombo c, int index) {
    const std::size_t i = static_cast<std::size_t>(c);
    const std::size_t count = c == MailsetCombo::Combo1   ? CheckIntervalChoices().size()
                              : c == MailsetCombo::Combo2 ? OpenThresholdChoices().size()
                                                          : settings::kTimeServers.size();
    if (closed_ || index < 0 || static_cast<std::size_t>(index) >= count) return;
    combo_[i] = index;
}

void MailsetPresenter::sizeTextChanged(const std::u16string& text) {
    if (closed_) return;
    sizeText_ = text;  // stored as typed
    syncScrollToText();
}

void MailsetPresenter::sizeScrolled(int position) {
    if (closed_) return;
    scroll_ = std::clamp(position, kScrollMin, kScrollMax);
    sizeText_ = decimal(kScrollMax - scroll_);
    view_.setSizeText(sizeText_);
}

void MailsetPresenter::popupSizeChanged(int position) {
    if (!closed_) setSlider(position);
}

// ---------------------------------------------------------------------------
// Save, discard, password.

void MailsetPresenter::save() {
    if (closed_) return;
    const std::u16string& user = s_.identity.UserSection;
    s_.prefs.CheckIntervalMinutes = static_cast<int>(leadingNumber(CheckIntervalChoices()[static_cast<std::size_t>(combo_[0])]));
    s_.prefs.OpenThreshold = static_cast<int>(leadingNumber(OpenThresholdChoices()[static_cast<std::size_t>(combo_[1])]));
    s_.prefs.options = options_;
    s_.prefs.PopupRatio = slider_ / 100.0;

    WriteSetting(store_, IniFile::Set, user, u"Check", decimal(combo_[0]));
    WriteSetting(store_, IniFile::Set, user, u"Value", decimal(combo_[1]));
    WriteSetting(store_, IniFile::Set, user, u"TimeServer", decimal(combo_[2]));
    WriteSetting(store_, IniFile::Set, user, u"Option", options_.toStored());
    WriteSetting(store_, IniFile::Set, user, u"Size", sizeText_);
    WriteSetting(store_, IniFile::Set, user, u"AD-PoP", decimal(slider_));

    RegistryValues reg(p_.registry);
    reg.SetRunAtLogon(options_.startAtLogon, s_.identity.AppPath + u"Inkwarden.exe");

    if (s_.identity.FirstRun) {
        reg.WriteFirstRunDone();
        s_.identity.FirstRun = false;  // a later save from the tray menu loads nothing
        if (hooks_.loadMaster) hooks_.loadMaster();
    }
    close();
}

void MailsetPresenter::discard() {
    if (closed_) return;
    const bool ends = s_.identity.FirstRun;
    close();
    if (ends && hooks_.endProgram) hooks_.endProgram();
}

void MailsetPresenter::closeRequested() { discard(); }

void MailsetPresenter::openSettingsPassword() {
    if (!closed_) dialogs_.openLoginPass();
}

void MailsetPresenter::close() {
    closed_ = true;
    view_.closeWindow();
}

// ---------------------------------------------------------------------------
// The account page.

void MailsetPresenter::addAccount() {
    if (closed_) return;
    s_.dialog.EditMode = false;
    AccountOpener opener(*this);
    dialogs_.openAccount(opener, u"");
}

void MailsetPresenter::modifyAccount() {
    if (closed_) return;
    const int row = selectedRow(MailsetList::Accounts);
    if (row < 0) return;
    s_.dialog.EditMode = true;
    AccountOpener opener(*this);
    dialogs_.openAccount(opener, rows(MailsetList::Accounts)[static_cast<std::size_t>(row)].second);
}

void MailsetPresenter::removeAccount() {
    if (closed_) return;
    const int row = selectedRow(MailsetList::Accounts);
    if (row < 0) return;
    const std::u16string address = rows(MailsetList::Accounts)[static_cast<std::size_t>(row)].second;
    const std::u16string roster = RosterSection(s_.identity.UserSection);
    DeleteSettingKey(store_, IniFile::Set, roster, address);
    DeleteSettingSection(store_, IniFile::Set, address);
    // Removed means gone from the roster; a file that cannot be written
    // keeps the account, and its row says so by staying.
    if (store_.find(IniFile::Set, roster, address)) {
        view_.showMessage(u"無法寫入設定檔 set.ini,帳號沒有刪除。", u"信箱設定");
        return;
    }
    removeRow(MailsetList::Accounts, row);
    // What belongs to the account goes with it.
    if (hooks_.accountRemoved) hooks_.accountRemoved(address);
}

// ---------------------------------------------------------------------------
// The lock.

void MailsetPresenter::unlockWebAddressPage() {
    if (closed_ || !locked_) return;
    const std::optional<std::u16string> answer = dialogs_.askText(u"請輸入管制密碼", u"網址過濾", true);
    if (answer.value_or(u"") != s_.dialog.SettingsPassword) {
        view_.showMessage(u"密碼錯誤", u"網址過濾");
        return;
    }
    locked_ = false;
    setOptionEnabled(8, true);
    unlockVisible_ = false;
    view_.setUnlockVisible(false);
}

// ---------------------------------------------------------------------------
// The lists and their menu.

void MailsetPresenter::blackListMouseDown(MouseButton button) {
    if (closed_) return;
    s_.dialog.ListMode = 1;
    if (button != MouseButton::Right) return;
    ListMenuState m;
    const int row = selectedRow(MailsetList::Black);
    if (!rows(MailsetList::Black).empty()) {
        m.doFilterVisible = true;
        m.doFilterChecked =
            row >= 0 && ReadSettingNumber(store_, IniFile::Set, blackSection(),
                                          rows(MailsetList::Black)[static_cast<std::size_t>(row)].text, 2) == 1;
    }
    lastMenu_ = m;
    view_.popUpListMenu(m);
}

void MailsetPresenter::trustListMouseDown(MouseButton button) {
    if (closed_) return;
    s_.dialog.ListMode = 2;
    if (button != MouseButton::Right) return;
    lastMenu_ = ListMenuState{};
    view_.popUpListMenu(*lastMenu_);
}

void MailsetPresenter::webListMouseUp(MouseButton button) {
    if (closed_ || locked_) return;
    s_.dialog.ListMode = 3;
    if (button != MouseButton::Right) return;
    ListMenuState m;
    const int row = selectedRow(MailsetList::Web);
    if (!rows(MailsetList::Web).empty()) {
        m.openUrlVisible = m.popAdvVisible = true;
        m.popAdvChecked = row >= 0 && ReadSettingNumber(store_, IniFile::Ie, kWebSection,
                                                        rows(MailsetList::Web)[static_cast<std::size_t>(row)].text,
                                                        2) == 3;
    }
    lastMenu_ = m;
    view_.popUpListMenu(m);
}

void MailsetPresenter::webEntryChecked(int row, bool checked) {
    if (closed_ || row < 0 || static_cast<std::size_t>(row) >= rows(MailsetList::Web).size()) return;
    MailsetRow r = rows(MailsetList::Web)[static_cast<std::size_t>(row)];
    if (locked_) {
        // Nothing is written; the box shows the stored state again.
        view_.updateRow(MailsetList::Web, row, r);
        return;
    }
    r.checked = checked;
    list(MailsetList::Web).rows[static_cast<std::size_t>(row)] = r;
    WriteSetting(store_, IniFile::Ie, kWebSection, r.text, checked ? u"1" : u"0");
}

MailsetList MailsetPresenter::listOfMode() const {
    switch (s_.dialog.ListMode) {
    case 2: return MailsetList::Trust;
    case 3: return MailsetList::Web;
    default: return MailsetList::Black;
    }
}

void MailsetPresenter::menuChosen(ListMenuItem item) {
    switch (item) {
    case ListMenuItem::MailAdd: mail_add_Click(); break;
    case ListMenuItem::MailRemove: mail_remove_Click(); break;
    case ListMenuItem::MailModify: mail_modify_Click(); break;
    case ListMenuItem::DoFilter: do_filter_Click(); break;
    case ListMenuItem::OpenUrl: open_url_Click(); break;
    case ListMenuItem::PopAdv: pop_adv_Click(); break;
    }
}

void MailsetPresenter::mail_add_Click() {
    if (closed_ || s_.dialog.ListMode < 1 || s_.dialog.ListMode > 3) return;
    s_.dialog.EditMode = false;
    EntryOpener opener(*this, listOfMode());
    dialogs_.openEntry(s_.dialog.ListMode, std::nullopt, opener);
}

void MailsetPresenter::mail_modify_Click() {
    if (closed_ || s_.dialog.ListMode < 1 || s_.dialog.ListMode > 3) return;
    const MailsetList l = listOfMode();
    const int row = selectedRow(l);
    if (row < 0) return;
    s_.dialog.EditMode = true;
    EntryOpener opener(*this, l);
    dialogs_.openEntry(s_.dialog.ListMode, rows(l)[static_cast<std::size_t>(row)].text, opener);
}

void MailsetPresenter::mail_remove_Click() {
    if (closed_ || s_.dialog.ListMode < 1 || s_.dialog.ListMode > 3) return;
    const MailsetList l = listOfMode();
    const IniFile file = l == MailsetList::Web ? IniFile::Ie : IniFile::Set;
    const std::u16string section = l == MailsetList::Black   ? blackSection()
                                   : l == MailsetList::Trust ? trustSection()
                                                             : std::u16string(kWebSection);
    for (int row = 0; row < static_cast<int>(rows(l).size());) {
        if (!rowSelected(l, row)) {
            ++row;
            continue;
        }
        DeleteSettingKey(store_, file, section, rows(l)[static_cast<std::size_t>(row)].text);
        removeRow(l, row);
    }
}

void MailsetPresenter::do_filter_Click() {
    if (closed_ || !lastMenu_ || !lastMenu_->doFilterVisible) return;
    const int row = selectedRow(MailsetList::Black);
    if (row < 0) return;
    MailsetRow r = rows(MailsetList::Black)[static_cast<std::size_t>(row)];
    const std::size_t at = r.text.find(u'@');
    if (at == std::u16string::npos) return;
    const std::u16string domain = r.text.substr(at + 1);
    if (domain.empty() || domain == u" ") return;
    lastMenu_->doFilterChecked = !lastMenu_->doFilterChecked;
    const std::u16string domains = DomainListSection(s_.identity.UserSection);
    if (lastMenu_->doFilterChecked) {
        WriteSetting(store_, IniFile::Set, blackSection(), r.text, kRed);
        WriteSetting(store_, IniFile::Set, domains, domain, u"0");
        r.red = true;
    } else {
        WriteSetting(store_, IniFile::Set, blackSection(), r.text, u"0");
        DeleteSettingKey(store_, IniFile::Set, domains, domain);
        r.red = false;
    }
    updateRow(MailsetList::Black, row, r);
}

void MailsetPresenter::open_url_Click() {
    if (closed_ || locked_) return;
    const int row = selectedRow(MailsetList::Web);
    if (row < 0) return;
    p_.shell.openDocument(rows(MailsetList::Web)[static_cast<std::size_t>(row)].text);
}

void MailsetPresenter::pop_adv_Click() {
    if (closed_ || locked_ || !lastMenu_ || !lastMenu_->popAdvVisible) return;
    const int row = selectedRow(MailsetList::Web);
    if (row < 0) return;
    lastMenu_->popAdvChecked = !lastMenu_->popAdvChecked;
    MailsetRow r = rows(MailsetList::Web)[static_cast<std::size_t>(row)];
    if (lastMenu_->popAdvChecked) {
        WriteSetting(store_, IniFile::Ie, kWebSection, r.text, u"3");
        r.red = true;
        r.checked = false;
    } else {
        WriteSetting(store_, IniFile::Ie, kWebSection, r.text, u"1");
        r.red = false;
        r.checked = true;
    }
    updateRow(MailsetList::Web, row, r);
}

}  // namespace iw::settings
