// The account dialog's presenter: the address filled from user and host,
// the empty-field messages, modify mode and the save into set.ini.
#include "settings/account_dialog.h"

#include "settings/accounts.h"
#include "settings/ini_document.h"

namespace iw::settings {

namespace {

constexpr char16_t kEmptySuffix[] = u"不能空白";
constexpr char16_t kAddressUnusable[] = u"不能含有「=」或「]」,也不能以「[」或「;」開頭";
constexpr char16_t kNoLineBreaks[] = u"不能含有換行";
constexpr char16_t kPasswordUnusable[] =
    u"無法照原樣儲存:請只用英文字母、數字、空格與一般符號,不要用 % 、中文字或開頭的 {";
constexpr char16_t kWriteFailed[] = u"無法寫入設定檔 set.ini,帳號沒有儲存。";

// Blank text (spaces and tabs only) is what the settings file keeps of it: nothing.
bool blank(const std::u16string& s) { return TrimBlanks(s).empty(); }

}  // namespace

AccountDialog::AccountDialog(SettingsStore& store, const platform::CodePage& codePage, settings::ProgramState& module1,
                             AccountRowsOpener& opener, AccountDialogView& view)
    : store_(store), cp_(codePage), m_(module1), opener_(opener), view_(view) {}

void AccountDialog::load(const std::u16string& address) {
    editing_ = m_.dialog.EditMode;
    view_.setSecurity(0);
    if (!editing_) return;
    userEnabled_ = false;
    view_.setEnabled(AccountField::User, false);
    oldAddress_ = address;
    oldRow_ = opener_.selectedRow();
    // In this order, as typing would: the address is filled twice on the
    // way and then replaced by the stored one.
    setText(AccountField::Host, ReadSetting(store_, address, u"PoP3", u""));
    setText(AccountField::User, ReadSetting(store_, address, u"Account", u""));
    setText(AccountField::Password, UnscramblePassword(cp_, ReadSetting(store_, address, u"PassWord", u"")));
    setText(AccountField::Address, address);
    const int security = ReadSettingNumber(store_, IniFile::Set, address, kSecurityKey, 0);
    security_ = security >= 0 && security <= 2 ? security : 0;
    view_.setSecurity(security_);
    oldHost_ = host_;
    oldSecurity_ = security_;
    oldPin_ = ReadSetting(store_, address, u"CertSha256", u"");
}

void AccountDialog::setText(AccountField field, const std::u16string& text) {
    view_.setText(field, text);
    switch (field) {
        case AccountField::Host: hostChanged(text); break;
        case AccountField::User: userChanged(text); break;
        case AccountField::Password: passwordChanged(text); break;
        case AccountField::Address: addressChanged(text); break;
        default: break;
    }
}

void AccountDialog::fillAddress() {
    address_ = user_ + u"@" + host_;
    view_.setText(AccountField::Address, address_);
}

void AccountDialog::hostChanged(const std::u16string& host) {
    host_ = host;
    fillAddress();
}

void AccountDialog::userChanged(const std::u16string& user) {
    user_ = user;
    fillAddress();
}

void AccountDialog::passwordChanged(const std::u16string& password) { password_ = password; }
void AccountDialog::addressChanged(const std::u16string& address) { address_ = address; }

void AccountDialog::securityChosen(int position) {
    if (position >= 0 && position <= 2) security_ = position;
}

const std::u16string& AccountDialog::text(AccountField field) const {
    static const std::u16string none;
    switch (field) {
        case AccountField::User: return user_;
        case AccountField::Password: return password_;
        case AccountField::Host: return host_;
        case AccountField::Address: return address_;
        default: return none;
    }
}

bool AccountDialog::refuse(AccountField field, const std::u16string& message) {
    view_.messageBox(message, kAccountCaption);
    view_.focus(field);
    return false;
}

bool AccountDialog::writeAccount(const std::u16string& address) {
    return WriteSetting(store_, IniFile::Set, RosterSection(m_.identity.UserSection), address, u"0") &&
           WriteSetting(store_, IniFile::Set, address, u"Account", user_) &&
           WriteSetting(store_, IniFile::Set, address, u"PassWord", ScramblePassword(cp_, password_)) &&
           WriteSetting(store_, IniFile::Set, address, u"PoP3", host_) &&
           WriteSetting(store_, IniFile::Set, address, kSecurityKey, std::u16string(1, char16_t(u'0' + security_))) &&
           // A trusted certificate belongs to its host and port: it goes
           // with a changed host or encryption, and stays otherwise.
           (!editing_ || oldPin_.empty() || host_ != oldHost_ || security_ != oldSecurity_ ||
            WriteSetting(store_, IniFile::Set, address, u"CertSha256", oldPin_));
}

void AccountDialog::confirm() {
    if (closed_) return;
    // Empty fields, in the order of the dialog's controls.
    const struct {
        AccountField field;
        const std::u16string& text;
        const char16_t* label;
        bool blankIsEmpty;  // what set.ini keeps of blank text is nothing
    } checks[] = {
        {AccountField::Host, host_, kAccountHostLabel, true},
        {AccountField::Address, address_, kAccountAddressLabel, true},
        {AccountField::Password, password_, kAccountPasswordLabel, false},
        {AccountField::User, user_, kAccountUserLabel, true},
    };
    for (const auto& c : checks)
        if (c.text.empty() || (c.blankIsEmpty && blank(c.text)))
            return (void)refuse(c.field, std::u16string(c.label) + kEmptySuffix);
    // What set.ini cannot hold as typed is refused before anything is written.
    if (!IniDocument::validKeyName(address_) || !IniDocument::validSectionName(address_))
        return (void)refuse(AccountField::Address, std::u16string(kAccountAddressLabel) + kAddressUnusable);
    if (!IniDocument::validValue(host_))
        return (void)refuse(AccountField::Host, std::u16string(kAccountHostLabel) + kNoLineBreaks);
    if (!IniDocument::validValue(user_))
        return (void)refuse(AccountField::User, std::u16string(kAccountUserLabel) + kNoLineBreaks);
    // The password must come back from set.ini as typed: the file trims
    // the blanks a scrambled value may start with (a leading "{" scrambles
    // to a space), "%" comes back as "z" and Chinese as "?".
    if (UnscramblePassword(cp_, TrimBlanks(ScramblePassword(cp_, password_))) != password_)
        return (void)refuse(AccountField::Password, std::u16string(kAccountPasswordLabel) + kPasswordUnusable);

    if (editing_) {
        // The account moves to the new address (and to the end of the
        // roster). The new one is written before the old one goes, so a
        // refused write never loses the account; the same address (letter
        // case aside) is deleted first, or the delete would take the new one.
        const bool same = FoldName(oldAddress_) == FoldName(address_);
        auto removeOld = [&] {
            DeleteSettingKey(store_, IniFile::Set, RosterSection(m_.identity.UserSection), oldAddress_);
            DeleteSettingSection(store_, IniFile::Set, oldAddress_);
        };
        if (same) removeOld();
        if (!writeAccount(address_)) return (void)refuse(AccountField::Address, kWriteFailed);
        if (!same) removeOld();
        if (oldRow_ >= 0) opener_.setRowAddress(oldRow_, address_);
    } else {
        if (!writeAccount(address_)) return (void)refuse(AccountField::Address, kWriteFailed);
        opener_.addRow(user_, address_);
    }
    finish();
}

void AccountDialog::cancel() {
    if (closed_) return;
    finish();
}

void AccountDialog::unload() {
    if (closed_) return;
    closed_ = true;
    m_.dialog.EditMode = false;
}

void AccountDialog::finish() {
    closed_ = true;
    m_.dialog.EditMode = false;
    view_.close();
}

}  // namespace iw::settings
