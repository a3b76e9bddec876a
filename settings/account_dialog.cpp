// The account dialog's presenter: the address filled from user and host,
// the empty-field messages, modify mode and the save into set.ini.
#include "settings/account_dialog.h"

#include "settings/accounts.h"
#include "settings/ini_document.h"
#include "settings/provider_presets.h"

namespace iw::settings {

namespace {

constexpr char16_t kEmptySuffix[] = u"不能空白";
constexpr char16_t kAddressUnusable[] = u"不能含有「=」或「]」,也不能以「[」或「;」開頭";
constexpr char16_t kNoLineBreaks[] = u"不能含有換行";
constexpr char16_t kPasswordUnusable[] =
    u"無法照原樣儲存:請只用英文字母、數字、空格與一般符號,不要用 % 、中文字或開頭的 {";
constexpr char16_t kWriteFailed[] = u"無法寫入設定檔 set.ini,帳號沒有儲存。";

constexpr char16_t kNoSecurity[] = u"請先選擇連線加密(SSL/TLS 或 STARTTLS)";
constexpr char16_t kNoCertificate[] = u"無法取得伺服器憑證:";
constexpr char16_t kTrustedNotSaved[] = u"已信任此憑證,按「確定」儲存帳號後生效";

// Blank text (spaces and tabs only) is what the settings file keeps of it: nothing.
bool blank(const std::u16string& s) { return TrimBlanks(s).empty(); }

bool hasAt(const std::u16string& s) { return s.find(u'@') != std::u16string::npos; }

}  // namespace

AccountDialog::AccountDialog(SettingsStore& store, const platform::CodePage& codePage, settings::ProgramState& module1,
                             AccountRowsOpener& opener, AccountDialogView& view)
    : store_(store), cp_(codePage), m_(module1), opener_(opener), view_(view) {}

void AccountDialog::load(const std::u16string& address) {
    editing_ = m_.dialog.EditMode;
    view_.setSecurity(0);
    showHint();
    updateCertificateButton();
    if (!editing_) return;
    loading_ = true;
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
    // The stored encryption is the user's own choice; the stored address too.
    securityBase_ = security_;
    securityChosen_ = true;
    addressTyped_ = true;
    loading_ = false;
    showHint();
    updateCertificateButton();
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
    if (loading_) return;
    // A host of the user's own (anything but what the last fill put there)
    // is never replaced.
    if (host_ != presetHost_) presetHost_.clear();
    addressTyped_ = false;
    autoFill();
}

void AccountDialog::userChanged(const std::u16string& user) {
    user_ = user;
    fillAddress();
    if (loading_) return;
    addressTyped_ = false;
    autoFill();
}

void AccountDialog::passwordChanged(const std::u16string& password) { password_ = password; }

void AccountDialog::addressChanged(const std::u16string& address) {
    address_ = address;
    if (loading_) return;
    addressTyped_ = true;
    autoFill();
}

void AccountDialog::securityChosen(int position) {
    if (position < 0 || position > 2) return;
    security_ = position;
    securityChosen_ = true;
    updateCertificateButton();
}

// Brings the host box, the encryption and the hint in line with the
// provider the boxes name, leaving alone whatever the user typed or chose.
// The provider comes from the address when the user typed it, else from a
// user name that is itself an address ("me@gmail.com").
void AccountDialog::autoFill() {
    const std::u16string source = addressTyped_ ? address_ : hasAt(user_) ? user_ : std::u16string();
    const ProviderPreset* preset = FindPresetByAddress(source);
    if (host_.empty() || host_ == presetHost_) {
        const std::u16string want = preset ? PresetHostText(*preset, source) : std::u16string();
        if (want != host_) {
            host_ = want;
            presetHost_ = want;
            view_.setText(AccountField::Host, host_);
            // The address follows the host as it does for typing, but a user
            // name that is the address already stays the address, and an
            // address the user typed stays as typed.
            if (!addressTyped_) {
                if (preset && source == user_) {
                    address_ = user_;
                    view_.setText(AccountField::Address, address_);
                } else {
                    fillAddress();
                }
            }
        }
    }
    if (!securityChosen_) {
        const ProviderPreset* server = FindPresetByHost(host_);
        const int want = server && server->security >= 0 ? server->security : securityBase_;
        if (want != security_) {
            security_ = want;
            view_.setSecurity(security_);
        }
    }
    showHint();
    updateCertificateButton();
}

void AccountDialog::showHint() {
    const std::u16string& address = addressTyped_ || !hasAt(user_) ? address_ : user_;
    const ProviderPreset* preset = HintPreset(address, host_);
    std::u16string hint = preset ? std::u16string(preset->hint) : std::u16string(kAccountHostHint);
    if (!trustedPin_.empty() && host_ == trustedHost_ && security_ == trustedSecurity_) hint = kTrustedNotSaved;
    if (hint == hint_) return;
    hint_ = hint;
    view_.setHint(hint_);
}

void AccountDialog::updateCertificateButton() {
    view_.setCertificateButton(prober_ && (probing_ || security_ != 0),
                               probing_ ? kStopCertificateCaption : kViewCertificateCaption);
}

void AccountDialog::setCertificateProber(CertificateProber prober) {
    prober_ = std::move(prober);
    updateCertificateButton();
}

std::u16string AccountDialog::pinToSave() const {
    if (!trustedPin_.empty() && host_ == trustedHost_ && security_ == trustedSecurity_) return trustedPin_;
    // A trusted certificate belongs to its host and port: it goes with a
    // changed host or encryption, and stays otherwise.
    if (editing_ && host_ == oldHost_ && security_ == oldSecurity_) return oldPin_;
    return {};
}

void AccountDialog::viewCertificate() {
    if (closed_) return;
    if (probing_) {  // the same button stops a fetch under way
        stopProbe_ = true;
        return;
    }
    if (!prober_) return;
    if (security_ == 0) return (void)refuse(AccountField::Security, kNoSecurity);
    if (blank(host_)) return (void)refuse(AccountField::Host, std::u16string(kAccountHostLabel) + kEmptySuffix);
    const auto security = static_cast<platform::MailSecurity>(security_);
    std::string host;
    std::uint16_t port = 0;
    SplitAccountHost(cp_.fromUtf16(platform::kBig5, TrimBlanks(host_)), security, host, port);
    const std::u16string fetchedHost = host_;
    const std::u16string pin = pinToSave();
    probing_ = true;
    stopProbe_ = false;
    updateCertificateButton();
    // The dialog stays live while this waits: typing, 確定, 取消 and this
    // button all run inside it.
    const CertificateLook probe =
        prober_(host, port, security, cp_.fromUtf16(platform::kBig5, pin), [this] { return stopProbe_ || closed_; });
    probing_ = false;
    if (closed_) return;
    updateCertificateButton();
    if (stopProbe_) return;
    if (!probe.reached) return (void)view_.messageBox(kNoCertificate + probe.problem, kAccountCaption);
    // Trust is offered while the certificate would be refused: the checks
    // fail and it is not the trusted one, or another one is trusted.
    const bool offer = probe.refused;
    if (!view_.showCertificate(probe.description, offer) || !offer || closed_) return;
    // Kept for the host and encryption it came from; 確定 writes it.
    const std::string& sha = probe.sha256;
    trustedPin_.assign(sha.begin(), sha.end());
    trustedHost_ = fetchedHost;
    trustedSecurity_ = security_;
    showHint();
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
           (pinToSave().empty() || WriteSetting(store_, IniFile::Set, address, u"CertSha256", pinToSave()));
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
