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
constexpr char16_t kSecretUnusable[] = u"只能含有英文字母、數字與一般符號";
constexpr char16_t kWriteFailed[] = u"無法寫入設定檔 set.ini,帳號沒有儲存。";

constexpr char16_t kNoSecurity[] = u"請先選擇連線加密(SSL/TLS 或 STARTTLS)";
constexpr char16_t kNoCertificate[] = u"無法取得伺服器憑證:";
constexpr char16_t kTrustedNotSaved[] = u"已信任此憑證,按「確定」儲存帳號後生效";

constexpr char16_t kTokenNeedsTls[] =
    u"以 OAuth2 登入時必須加密連線:請將「連線加密」選為 SSL/TLS 或 STARTTLS(授權不會以明文送出)";
constexpr char16_t kNotSignedIn[] =
    u"此帳號尚未登入:請按「登入...」在瀏覽器中登入。\n若要先儲存、稍後再登入,請再按一次「確定」。";
constexpr char16_t kTokensNotMoved[] =
    u"帳號已儲存,但登入授權無法移到新的信箱地址:請再開啟此帳號,按「登入...」重新登入。";
constexpr char16_t kSignInBusy[] = u"登入尚未完成:請先在瀏覽器中完成登入,或按「取消登入」";
constexpr char16_t kSigningIn[] = u"正在開啟瀏覽器,請在瀏覽器中登入...";
constexpr char16_t kSignedIn[] = u"登入成功,信箱有 ";
constexpr char16_t kSignedInMessages[] = u" 封郵件";
constexpr char16_t kMailboxFailed[] = u"已登入並儲存授權,但無法收信:";
constexpr char16_t kSignInCancelled[] = u"已取消登入";
constexpr char16_t kSignInTimedOut[] = u"登入逾時:瀏覽器沒有完成登入,請再按「登入...」";
constexpr char16_t kSignInFailed[] = u"登入失敗:";


// The stored names of the OAuth2 providers, by login way (none for the password).
const char16_t* ProviderName(LoginWay way) {
    switch (way) {
        case LoginWay::Microsoft: return u"microsoft";
        case LoginWay::Google: return u"google";
        case LoginWay::Custom: return u"custom";
        case LoginWay::Password: break;
    }
    return u"";
}

// The login way of stored keys: "Auth" 1 with the provider (an unknown one
// is Microsoft, as the sign-in reads it), else the password.
LoginWay StoredWay(const std::u16string& auth, std::u16string provider) {
    if (TrimBlanks(auth) != u"1") return LoginWay::Password;
    provider = FoldName(TrimBlanks(provider));
    if (provider == u"google") return LoginWay::Google;
    if (provider == u"custom") return LoginWay::Custom;
    return LoginWay::Microsoft;
}

// Blank text (spaces and tabs only) is what the settings file keeps of it: nothing.
bool blank(const std::u16string& s) { return TrimBlanks(s).empty(); }

bool hasAt(const std::u16string& s) { return s.find(u'@') != std::u16string::npos; }

// A status text with the client secret sent masked, should a provider's
// answer repeat it. A secret of a few characters could only be found by
// chance in the words around it, and masking it would spoil them.
std::u16string WithoutSecret(std::u16string text, const std::u16string& secret) {
    if (secret.size() < 4) return text;
    for (std::size_t at = 0; (at = text.find(secret, at)) != std::u16string::npos; at += 3)
        text.replace(at, secret.size(), u"***");
    return text;
}

}  // namespace

std::u16string LoginWayGuide(LoginWay way) {
    switch (way) {
        case LoginWay::Microsoft: return u"按「登入...」以 Microsoft 帳號登入;網址留空即用預設值";
        case LoginWay::Google: return u"按「登入...」以 Google 帳號登入;網址留空即用預設值";
        case LoginWay::Custom: return u"填入授權網址與權杖網址,再按「登入...」";
        case LoginWay::Password: break;
    }
    return {};
}

AccountDialog::AccountDialog(SettingsStore& store, const platform::CodePage& codePage, settings::ProgramState& module1,
                             AccountRowsOpener& opener, AccountDialogView& view)
    : store_(store), cp_(codePage), m_(module1), opener_(opener), view_(view) {}

void AccountDialog::load(const std::u16string& address) {
    editing_ = m_.dialog.EditMode;
    view_.setSecurity(0);
    view_.setLoginWay(0);
    showHint();
    updateCertificateButton();
    updateLoginControls();
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
    // The login way and its keys; the stored way is the user's own choice.
    const MailAccount stored = ReadMailAccount(store_, address);
    way_ = StoredWay(stored.Auth, stored.OAuthProvider);
    wayChosen_ = true;
    view_.setLoginWay(static_cast<int>(way_));
    setText(AccountField::AuthorizeUrl, stored.OAuthAuthorizeUrl);
    setText(AccountField::TokenUrl, stored.OAuthTokenUrl);
    setText(AccountField::Scope, stored.OAuthScope);
    setText(AccountField::ClientId, stored.OAuthClientId);
    tenant_ = stored.OAuthTenant;
    deviceUrl_ = stored.OAuthDeviceUrl;
    // A stored secret belongs to the stored client ID; without one it is
    // nobody's (the build's ID has its own) and is neither shown nor kept.
    clientSecret_ = stored.OAuthClientSecret;
    secretsClientId_ = TrimBlanks(stored.OAuthClientId);
    showSecret();
    loading_ = false;
    showHint();
    updateCertificateButton();
    updateLoginControls();
    showWayGuide();
}

void AccountDialog::setText(AccountField field, const std::u16string& text) {
    view_.setText(field, text);
    switch (field) {
        case AccountField::Host: hostChanged(text); break;
        case AccountField::User: userChanged(text); break;
        case AccountField::Password: passwordChanged(text); break;
        case AccountField::Address: addressChanged(text); break;
        case AccountField::AuthorizeUrl:
        case AccountField::TokenUrl:
        case AccountField::Scope:
        case AccountField::ClientId:
        case AccountField::ClientSecret: oauthFieldChanged(field, text); break;
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

void AccountDialog::loginChosen(int position) {
    if (position < 0 || position > static_cast<int>(LoginWay::Custom)) return;
    way_ = static_cast<LoginWay>(position);
    wayChosen_ = true;
    updateLoginControls();
    showWayGuide();
}

void AccountDialog::oauthFieldChanged(AccountField field, const std::u16string& text) {
    switch (field) {
        case AccountField::AuthorizeUrl: authorizeUrl_ = text; break;
        case AccountField::TokenUrl: tokenUrl_ = text; break;
        case AccountField::Scope: scope_ = text; break;
        case AccountField::ClientId:
            clientId_ = text;
            showSecret();
            break;
        case AccountField::ClientSecret:
            // Typed under the client ID in its box, the secret is that ID's.
            if (!secretUsable()) break;
            clientSecret_ = text;
            secretsClientId_ = TrimBlanks(clientId_);
            secretShown_ = text;
            break;
        default: break;
    }
}

bool AccountDialog::secretUsable() const { return way_ != LoginWay::Password && !blank(clientId_); }

// The secret box shows the secret only under the client ID it belongs to
// (blanks around the ID aside, as the sign-in reads it), and is usable only
// with an ID of the account's own.
void AccountDialog::showSecret() {
    const std::u16string want =
        !blank(clientId_) && TrimBlanks(clientId_) == secretsClientId_ ? clientSecret_ : std::u16string();
    if (want != secretShown_) {
        secretShown_ = want;
        view_.setText(AccountField::ClientSecret, secretShown_);
    }
    view_.setEnabled(AccountField::ClientSecret, enabled(AccountField::ClientSecret));
}

bool AccountDialog::enabled(AccountField field) const {
    switch (field) {
        case AccountField::User: return userEnabled_;
        case AccountField::Password: return way_ == LoginWay::Password;
        case AccountField::AuthorizeUrl:
        case AccountField::TokenUrl:
        case AccountField::Scope:
        case AccountField::ClientId: return way_ != LoginWay::Password;
        case AccountField::ClientSecret: return secretUsable();
        case AccountField::SignIn: return sign_ && (signing_ || way_ != LoginWay::Password);
        default: return true;
    }
}

void AccountDialog::showWayGuide() {
    if (!signing_) showSignInStatus(LoginWayGuide(way_));
}

void AccountDialog::updateLoginControls() {
    for (AccountField f : {AccountField::Password, AccountField::AuthorizeUrl, AccountField::TokenUrl,
                           AccountField::Scope, AccountField::ClientId, AccountField::ClientSecret})
        view_.setEnabled(f, enabled(f));
    view_.setSignInButton(enabled(AccountField::SignIn), signing_ ? kCancelSignInCaption : kSignInCaption);
}

void AccountDialog::showSignInStatus(const std::u16string& text) {
    signStatus_ = text;
    view_.setSignInStatus(text);
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
    // The provider's login way, until the user chooses one.
    if (!wayChosen_) {
        const ProviderPreset* provider = HintPreset(addressTyped_ || !hasAt(user_) ? address_ : user_, host_);
        const LoginWay want = provider ? static_cast<LoginWay>(provider->loginWay) : LoginWay::Password;
        if (want != way_) {
            way_ = want;
            view_.setLoginWay(static_cast<int>(way_));
            updateLoginControls();
            showWayGuide();
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
        case AccountField::AuthorizeUrl: return authorizeUrl_;
        case AccountField::TokenUrl: return tokenUrl_;
        case AccountField::Scope: return scope_;
        case AccountField::ClientId: return clientId_;
        case AccountField::ClientSecret: return secretShown_;
        default: return none;
    }
}

bool AccountDialog::refuse(AccountField field, const std::u16string& message) {
    view_.messageBox(message, kAccountCaption);
    view_.focus(field);
    return false;
}

MailAccount AccountDialog::accountToSave() const {
    const bool oauth = way_ != LoginWay::Password;
    MailAccount a;
    a.Address = address_;
    a.User = user_;
    // An OAuth2 account keeps no password: what was typed goes when it is saved.
    a.Password = oauth ? std::u16string() : ScramblePassword(cp_, password_);
    a.Pop3Host = host_;
    a.Security = std::u16string(1, char16_t(u'0' + security_));
    a.CertSha256 = pinToSave();
    a.Auth = oauth ? u"1" : u"0";
    a.OAuthProvider = ProviderName(way_);
    a.OAuthTenant = tenant_;
    a.OAuthClientId = clientId_;
    // Only the secret its box shows: the one of the client ID in its box.
    if (!blank(secretShown_)) a.OAuthClientSecret = secretShown_;
    a.OAuthAuthorizeUrl = authorizeUrl_;
    a.OAuthTokenUrl = tokenUrl_;
    a.OAuthDeviceUrl = deviceUrl_;
    a.OAuthScope = scope_;
    return a;
}

bool AccountDialog::writeAccount(const std::u16string& address) {
    const MailAccount a = accountToSave();
    const bool oauth = way_ != LoginWay::Password;
    // A password account writes "Auth" only over a stored one (a section
    // written over may hold an OAuth2 account's keys).
    const bool writeAuth = oauth || !ReadSetting(store_, address, u"Auth", u"").empty();
    auto optional = [&](const char16_t* key, const std::u16string& value) {
        return value.empty() || WriteSetting(store_, IniFile::Set, address, key, value);
    };
    // A section written over may hold another client ID's secret.
    if (a.OAuthClientSecret.empty()) DeleteSettingKey(store_, IniFile::Set, address, u"OAuthClientSecret");
    return WriteSetting(store_, IniFile::Set, RosterSection(m_.identity.UserSection), address, u"0") &&
           WriteSetting(store_, IniFile::Set, address, u"Account", a.User) &&
           WriteSetting(store_, IniFile::Set, address, u"PassWord", a.Password) &&
           WriteSetting(store_, IniFile::Set, address, u"PoP3", a.Pop3Host) &&
           WriteSetting(store_, IniFile::Set, address, kSecurityKey, a.Security) &&
           optional(u"CertSha256", a.CertSha256) &&
           (!writeAuth || WriteSetting(store_, IniFile::Set, address, u"Auth", a.Auth)) &&
           optional(u"OAuthProvider", a.OAuthProvider) && optional(u"OAuthTenant", a.OAuthTenant) &&
           optional(u"OAuthClientId", a.OAuthClientId) && optional(u"OAuthClientSecret", a.OAuthClientSecret) &&
           optional(u"OAuthAuthorizeUrl", a.OAuthAuthorizeUrl) &&
           optional(u"OAuthTokenUrl", a.OAuthTokenUrl) && optional(u"OAuthDeviceUrl", a.OAuthDeviceUrl) &&
           optional(u"OAuthScope", a.OAuthScope);
}

// What an OAuth2 way needs before a sign-in or a save: an encrypted
// connection, and for another provider its two addresses; every box one line.
bool AccountDialog::checkOAuth() {
    if (security_ == 0) return refuse(AccountField::Security, kTokenNeedsTls);
    const struct {
        AccountField field;
        const std::u16string& text;
        const char16_t* label;
        bool required;
    } boxes[] = {
        {AccountField::AuthorizeUrl, authorizeUrl_, kAccountAuthorizeUrlLabel, way_ == LoginWay::Custom},
        {AccountField::TokenUrl, tokenUrl_, kAccountTokenUrlLabel, way_ == LoginWay::Custom},
        {AccountField::Scope, scope_, kAccountScopeLabel, false},
        {AccountField::ClientId, clientId_, kAccountClientIdLabel, false},
        {AccountField::ClientSecret, secretShown_, kAccountClientSecretLabel, false},
    };
    for (const auto& b : boxes) {
        if (b.required && blank(b.text)) return refuse(b.field, std::u16string(b.label) + kEmptySuffix);
        if (!IniDocument::validValue(b.text)) return refuse(b.field, std::u16string(b.label) + kNoLineBreaks);
    }
    // A client secret is printable ASCII; anything else would not come back
    // from set.ini as typed, and no token endpoint would take it.
    for (char16_t c : secretShown_)
        if (c < 0x20 || c > 0x7E)
            return refuse(AccountField::ClientSecret, std::u16string(kAccountClientSecretLabel) + kSecretUnusable);
    return true;
}

void AccountDialog::setSignIn(AccountSignIn* sign) {
    sign_ = sign;
    updateLoginControls();
}

void AccountDialog::signIn() {
    if (closed_) return;
    if (signing_) {  // the same button cancels a sign-in under way
        stopSign_ = true;
        return;
    }
    if (!sign_ || way_ == LoginWay::Password) return;
    // The tokens are kept under the address, and the try needs user and server.
    const struct {
        AccountField field;
        const std::u16string& text;
        const char16_t* label;
    } needed[] = {
        {AccountField::User, user_, kAccountUserLabel},
        {AccountField::Host, host_, kAccountHostLabel},
        {AccountField::Address, address_, kAccountAddressLabel},
    };
    for (const auto& n : needed)
        if (blank(n.text)) return (void)refuse(n.field, std::u16string(n.label) + kEmptySuffix);
    if (!IniDocument::validKeyName(address_) || !IniDocument::validSectionName(address_))
        return (void)refuse(AccountField::Address, std::u16string(kAccountAddressLabel) + kAddressUnusable);
    if (!IniDocument::validValue(host_))
        return (void)refuse(AccountField::Host, std::u16string(kAccountHostLabel) + kNoLineBreaks);
    if (!IniDocument::validValue(user_))
        return (void)refuse(AccountField::User, std::u16string(kAccountUserLabel) + kNoLineBreaks);
    if (!checkOAuth()) return;
    const MailAccount account = accountToSave();
    const std::u16string secret = TrimBlanks(account.OAuthClientSecret);
    signing_ = true;
    stopSign_ = false;
    updateLoginControls();
    showSignInStatus(kSigningIn);
    // The dialog stays live while this waits: typing, 確定, 取消 and this
    // button all run inside it.
    const SignInReport report = sign_->signIn(
        account, [this] { return stopSign_ || closed_; },
        [this, &secret](const std::u16string& step) {
            if (!closed_) showSignInStatus(WithoutSecret(step, secret));
        });
    signing_ = false;
    if (closed_) return;
    updateLoginControls();
    switch (report.outcome) {
        case SignInOutcome::SignedIn: {
            const std::string n = std::to_string(report.messages < 0 ? 0 : report.messages);
            showSignInStatus(kSignedIn + std::u16string(n.begin(), n.end()) + kSignedInMessages);
            break;
        }
        case SignInOutcome::MailboxFailed: showSignInStatus(kMailboxFailed + WithoutSecret(report.status, secret)); break;
        case SignInOutcome::Cancelled: showSignInStatus(kSignInCancelled); break;
        case SignInOutcome::TimedOut: showSignInStatus(kSignInTimedOut); break;
        case SignInOutcome::Failed: showSignInStatus(kSignInFailed + WithoutSecret(report.status, secret)); break;
    }
}

void AccountDialog::confirm() {
    if (closed_) return;
    if (signing_) return (void)refuse(AccountField::SignIn, kSignInBusy);
    const bool oauth = way_ != LoginWay::Password;
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
        if (!(oauth && c.field == AccountField::Password) && (c.text.empty() || (c.blankIsEmpty && blank(c.text))))
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
    if (!oauth && UnscramblePassword(cp_, TrimBlanks(ScramblePassword(cp_, password_))) != password_)
        return (void)refuse(AccountField::Password, std::u16string(kAccountPasswordLabel) + kPasswordUnusable);
    if (oauth) {
        if (!checkOAuth()) return;
        // Saving without a sign-in is allowed, but only when asked twice.
        // An account moved to another address takes its tokens along.
        const bool signedIn =
            sign_ && (sign_->hasTokens(address_) || (editing_ && sign_->hasTokens(oldAddress_)));
        if (sign_ && !warnedNotSignedIn_ && !signedIn) {
            warnedNotSignedIn_ = true;
            return (void)refuse(AccountField::SignIn, kNotSignedIn);
        }
    }

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
        // The account's OAuth2 tokens are filed under its address; they move
        // with it, or the user would have to sign in again.
        if (sign_ && oldAddress_ != address_ && !sign_->moveTokens(oldAddress_, address_))
            view_.messageBox(kTokensNotMoved, kAccountCaption);
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
