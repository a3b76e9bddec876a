// The account dialog `Account` ("建立信箱帳號"): creates one mail account or
// changes the one the opener's selected row shows. The presenter keeps the
// texts of the fields and decides everything; the view mirrors what it is
// told (a text set here never comes back as a change) and reports the
// user's typing, the choice list and the two buttons.
//
// The dialog acts on set.ini only when 確定 succeeds: every other way of
// closing it writes nothing and clears EditMode. A save that the store
// refuses leaves the dialog open with everything typed, and says so.
//
// Known providers (settings/provider_presets.h): an address or a user name
// that names one fills the host and the encryption and shows the provider's
// hint under the host; a server the user types shows its hint and fills the
// encryption. What the user typed or chose is never replaced by a fill.
//
// The certificate step: "檢視憑證..." fetches the server's certificate for
// the host and encryption in the boxes (waiting in the event loop, so the
// dialog stays live; the same button stops it), shows it, and when the
// checks fail offers to trust it. A trusted certificate is written as
// "CertSha256" with the account when 確定 saves it.
//
// The login way ("登入方式"): the password, or OAuth2 with a Microsoft
// account, a Google account or another provider whose addresses the user
// types. An OAuth2 way disables the password box (what was typed there stays
// until 確定 saves the account without it), needs an encrypted connection
// (a token is never sent in the clear) and signs in with "登入...": the
// browser sign-in runs through an AccountSignIn given from above, waiting
// in the event loop like the certificate step; the same button cancels it.
// After the tokens are stored the account is tried and the dialog's status
// line says what came of it.
//
// The client secret ("用戶端密碼") belongs to the client ID it was stored or
// typed with: its box is usable only while the client ID box holds an ID of
// the account's own (the build's ID has its own secret), and it empties when
// the client ID changes to another one, so a secret never travels to
// another client; changed back, the ID gets its secret back. The secret is
// never shown in the status line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "settings/accounts.h"
#include "settings/program_state.h"
#include "platform/code_page.h"
#include "platform/tls.h"
#include "settings/modal_dialogs.h"
#include "settings/settings_store.h"

namespace iw::settings {

// The fields in tab order (the choice list of the connection security after
// the address), then the two buttons; then the login way's controls (on
// screen between the security and the buttons): its choice list, the OAuth2
// provider's addresses, scope, client ID and that client ID's secret, and
// the sign-in button.
enum class AccountField {
    User,
    Password,
    Host,
    Address,
    Security,
    Ok,
    Cancel,
    Login,
    AuthorizeUrl,
    TokenUrl,
    Scope,
    ClientId,
    ClientSecret,
    SignIn,
};

// The labels of the fields as the dialog shows them; an empty field's
// message is its label followed by "不能空白".
inline constexpr char16_t kAccountCaption[] = u"建立信箱帳號";
inline constexpr char16_t kAccountUserLabel[] = u"使用者帳號:";
inline constexpr char16_t kAccountPasswordLabel[] = u"信箱密碼:";
inline constexpr char16_t kAccountHostLabel[] = u"郵件伺服主機(POP3):";
inline constexpr char16_t kAccountAddressLabel[] = u"電子信箱地址:";
inline constexpr char16_t kAccountSecurityLabel[] = u"連線加密:";
inline constexpr char16_t kAccountHostHint[] = u"例如: pop.example.com";
inline constexpr char16_t kViewCertificateCaption[] = u"檢視憑證...";
inline constexpr char16_t kStopCertificateCaption[] = u"停止檢查";
inline constexpr char16_t kSecurityKey[] = u"Security";
// The choices of "連線加密", by their stored value 0, 1, 2.
inline constexpr const char16_t* kSecurityChoices[] = {u"無", u"SSL/TLS", u"STARTTLS"};

// The login ways, by their position in the choice list.
enum class LoginWay { Password, Microsoft, Google, Custom };
inline constexpr const char16_t* kLoginChoices[] = {u"密碼", u"Microsoft 帳號", u"Google 帳號", u"其他 OAuth2"};
inline constexpr char16_t kAccountLoginLabel[] = u"登入方式:";
inline constexpr char16_t kAccountAuthorizeUrlLabel[] = u"授權網址:";
inline constexpr char16_t kAccountTokenUrlLabel[] = u"權杖網址:";
inline constexpr char16_t kAccountScopeLabel[] = u"授權範圍:";
inline constexpr char16_t kAccountClientIdLabel[] = u"用戶端 ID:";
inline constexpr char16_t kAccountClientSecretLabel[] = u"用戶端密碼(選填):";
inline constexpr char16_t kSignInCaption[] = u"登入...";
inline constexpr char16_t kCancelSignInCaption[] = u"取消登入";
// What the sign-in's status line says of a login way before a sign-in.
std::u16string LoginWayGuide(LoginWay way);

class AccountDialogView {
public:
    virtual ~AccountDialogView() = default;
    virtual void setText(AccountField field, const std::u16string& text) = 0;
    virtual void setSecurity(int position) = 0;
    virtual void setEnabled(AccountField field, bool enabled) = 0;
    virtual void focus(AccountField field) = 0;
    // A modal message box with an OK button over the dialog.
    virtual void messageBox(const std::u16string& text, const std::u16string& title) = 0;
    // Closes the dialog; no notification follows.
    virtual void close() = 0;
    // The line under the host box: a provider's hint or the example host.
    virtual void setHint(const std::u16string&) {}
    // The certificate button: usable or not, and its caption.
    virtual void setCertificateButton(bool /*enabled*/, const std::u16string& /*caption*/) {}
    // Shows a fetched certificate modally over the dialog; with
    // `offerTrust`, the user may trust it. True when the user trusted it.
    virtual bool showCertificate(const std::u16string& /*description*/, bool /*offerTrust*/) { return false; }
    // The login way's choice list (a LoginWay's position).
    virtual void setLoginWay(int /*position*/) {}
    // The sign-in button: usable or not, and its caption.
    virtual void setSignInButton(bool /*enabled*/, const std::u16string& /*caption*/) {}
    // The status line of the sign-in: what is happening or what came of it.
    virtual void setSignInStatus(const std::u16string& /*text*/) {}
};

// What the certificate step shows of a fetched certificate.
struct CertificateLook {
    bool reached = false;        // a certificate came (whatever the checks said)
    std::u16string problem;      // when none came: why
    bool refused = false;        // a connection would refuse it now (pin included)
    std::u16string description;  // subject, issuer, dates, SHA-256 and the checks' result
    std::string sha256;          // its fingerprint, hex
};

// Fetches a server's certificate (the program's certificate probe). It waits
// in the event loop and returns early once `stop` says so.
using CertificateProber = std::function<CertificateLook(const std::string& host, std::uint16_t port,
                                                        platform::MailSecurity security, const std::string& pin,
                                                        const std::function<bool()>& stop)>;

// How a browser sign-in ended.
enum class SignInOutcome {
    SignedIn,       // tokens stored, and the account logged in and answered STAT
    MailboxFailed,  // tokens stored, but the try of the account failed (`status` says how)
    Cancelled,      // stopped by the user or the dialog closing; nothing stored
    TimedOut,       // no answer from the browser within the time limit; nothing stored
    Failed,         // refused by the provider or not reachable (`status` says how); nothing stored
};

struct SignInReport {
    SignInOutcome outcome = SignInOutcome::Failed;
    long messages = -1;     // the mailbox's count when signed in
    std::u16string status;  // the program's words for a failure (never a token)
};

// The browser sign-in of an account, implemented above settings/ (it opens
// the browser, listens for the redirect, exchanges the code, stores the
// tokens under the account's address and tries the account).
class AccountSignIn {
public:
    virtual ~AccountSignIn() = default;
    // Signs `account` in (its keys as the dialog would save them). Waits in
    // the event loop, reports each step through `progress`, and returns
    // early once `stop` says so.
    virtual SignInReport signIn(const MailAccount& account, const std::function<bool()>& stop,
                                const std::function<void(const std::u16string&)>& progress) = 0;
    // Tokens are stored for this address.
    virtual bool hasTokens(const std::u16string& address) = 0;
    // The account was saved under another address: its tokens follow it.
    // False when they could not be moved (they stay under `from`).
    virtual bool moveTokens(const std::u16string& /*from*/, const std::u16string& /*to*/) { return true; }
};

class AccountDialog {
public:
    // Everything given must outlive the dialog.
    AccountDialog(SettingsStore& store, const platform::CodePage& codePage, settings::ProgramState& module1,
                  AccountRowsOpener& opener, AccountDialogView& view);

    // Load: with EditMode set, the user box is disabled and the fields are
    // filled from the section `address` (host, user, password, address, in
    // that order, each through the change handlers as typing would).
    void load(const std::u16string& address);

    // The user's typing (and the choice list).
    void hostChanged(const std::u16string& host);
    void userChanged(const std::u16string& user);
    void passwordChanged(const std::u16string& password);
    void addressChanged(const std::u16string& address);
    void securityChosen(int position);
    void loginChosen(int position);
    void oauthFieldChanged(AccountField field, const std::u16string& text);

    void confirm();  // 確定
    void cancel();  // 取消
    // Any other close (the close box, Esc, the owner going away).
    void unload();

    // The certificate step; without a prober the button stays disabled.
    void setCertificateProber(CertificateProber prober);
    void viewCertificate();

    // The sign-in; without one the button stays disabled and 確定 does not
    // ask for a sign-in. `sign` must outlive the dialog.
    void setSignIn(AccountSignIn* sign);
    void signIn();

    // State, for the view and tests.
    const std::u16string& text(AccountField field) const;
    int security() const { return security_; }
    bool enabled(AccountField field) const;
    bool closed() const { return closed_; }
    const std::u16string& hint() const { return hint_; }
    bool certificateBusy() const { return probing_; }
    LoginWay loginWay() const { return way_; }
    bool signInBusy() const { return signing_; }
    const std::u16string& signInStatus() const { return signStatus_; }
    // The account as 確定 would save it (OAuth2 keys included).
    MailAccount accountToSave() const;
    // The fingerprint a save writes as "CertSha256" ("" for none).
    std::u16string pinToSave() const;

private:
    void setText(AccountField field, const std::u16string& text);
    void fillAddress();
    bool refuse(AccountField field, const std::u16string& message);
    bool writeAccount(const std::u16string& address);
    void finish();
    void autoFill();
    void showHint();
    void updateCertificateButton();
    void updateLoginControls();
    void showSignInStatus(const std::u16string& text);
    void showWayGuide();
    bool checkOAuth();
    bool secretUsable() const;
    void showSecret();

    SettingsStore& store_;
    const platform::CodePage& cp_;
    settings::ProgramState& m_;
    AccountRowsOpener& opener_;
    AccountDialogView& view_;

    std::u16string host_, user_, password_, address_;
    int security_ = 0;
    bool userEnabled_ = true;
    bool closed_ = false;
    // Modify mode: the account the dialog was filled from and its row.
    bool editing_ = false;
    std::u16string oldAddress_;
    int oldRow_ = -1;
    // The certificate the user chose to trust for the old host, kept while
    // the host and the encryption stay as they were.
    std::u16string oldHost_, oldPin_;
    int oldSecurity_ = 0;

    // Provider fills: the host text the last fill put in the host box ("" once
    // the user typed their own), the encryption before any fill, whether the
    // user chose the encryption, whether the address was typed in its own box.
    std::u16string presetHost_;
    int securityBase_ = 0;
    bool securityChosen_ = false;
    bool addressTyped_ = false;
    bool loading_ = false;
    std::u16string hint_;

    // The certificate step, and a certificate trusted in this dialog for the
    // host and encryption it was fetched with.
    CertificateProber prober_;
    bool probing_ = false;
    bool stopProbe_ = false;
    std::u16string trustedPin_, trustedHost_;
    int trustedSecurity_ = 0;

    // The login way and the OAuth2 keys. Tenant and device address have no
    // box: an edited account keeps what set.ini holds.
    LoginWay way_ = LoginWay::Password;
    bool wayChosen_ = false;
    std::u16string authorizeUrl_, tokenUrl_, scope_, clientId_, tenant_, deviceUrl_;
    // The client secret, the client ID it belongs to (trimmed), and what its
    // box shows: the secret while the client ID box names that ID, else "".
    std::u16string clientSecret_, secretsClientId_, secretShown_;
    AccountSignIn* sign_ = nullptr;
    bool signing_ = false;
    bool stopSign_ = false;
    std::u16string signStatus_;
    // 確定 of an OAuth2 account without tokens says so once; the next 確定 saves.
    bool warnedNotSignedIn_ = false;
};

}  // namespace iw::settings
