// The account dialog's browser sign-in; see account_signin.h.
#include "app/account_signin.h"

#include "app/account_probe.h"
#include "auth/loopback_signin.h"
#include "auth/oauth_config.h"
#include "auth/token_store.h"
#include "platform/waits.h"
#include "pop3/account_login.h"

namespace iw::app {

namespace {

constexpr char16_t kWaitingForBrowser[] = u"已開啟瀏覽器:請在瀏覽器中登入並允許存取,完成後回到這裡";
constexpr char16_t kNoBrowser[] = u"無法開啟瀏覽器:請自行在瀏覽器開啟下列網址登入:";
constexpr char16_t kTrying[] = u"已取得授權,正在試收信...";

}  // namespace

BrowserAccountSignIn::BrowserAccountSignIn(platform::Platform& p, std::u16string profileFolder, OpenAddress open,
                                           int limitSeconds)
    : p_(p), folder_(std::move(profileFolder)), open_(std::move(open)), limitSeconds_(limitSeconds) {}

BrowserAccountSignIn::~BrowserAccountSignIn() = default;

platform::SecretStore& BrowserAccountSignIn::secrets() {
    if (!secrets_) secrets_ = platform::createSecretStore();
    return *secrets_;
}

bool BrowserAccountSignIn::hasTokens(const std::u16string& address) {
    auth::TokenStore tokens(secrets(), folder_, p_.files.separator());
    platform::SecretProblem why = platform::SecretProblem::None;
    return tokens.load(address, why).has_value();
}

bool BrowserAccountSignIn::moveTokens(const std::u16string& from, const std::u16string& to) {
    auth::TokenStore tokens(secrets(), folder_, p_.files.separator());
    return tokens.move(from, to);
}

bool ForgetAccountTokens(platform::Platform& p, const std::u16string& profileFolder, const std::u16string& address) {
    const std::unique_ptr<platform::SecretStore> secrets = platform::createSecretStore();
    if (!secrets) return false;
    auth::TokenStore tokens(*secrets, profileFolder, p.files.separator());
    return tokens.forget(address);
}

settings::SignInReport BrowserAccountSignIn::signIn(const settings::MailAccount& account,
                                                    const std::function<bool()>& stop,
                                                    const std::function<void(const std::u16string&)>& progress) {
    using settings::SignInOutcome;
    settings::SignInReport out;
    const auth::OAuthSettings oauth = pop3::OAuthSettingsOf(account, p_.codePage);
    const auth::OAuthConfig config = auth::ResolveOAuthConfig(oauth);
    if (std::u16string problem = auth::OAuthConfigProblem(config); !problem.empty()) {
        out.status = std::move(problem);
        return out;
    }
    const platform::MailSecurity security = platform::ParseMailSecurity(account.Security);
    if (security == platform::MailSecurity::Plain) {  // a token never travels in the clear
        out.status = pop3::NotSecuredText();
        return out;
    }

    auth::TokenStore tokens(secrets(), folder_, p_.files.separator());
    auth::LoopbackSignInOptions options;
    options.limitSeconds = limitSeconds_;
    options.loginHint = p_.codePage.fromUtf16(platform::kUtf8, account.User);
    auth::LoopbackSignIn flow(p_, config, tokens, account.Address, options);
    bool finished = false;
    auth::SignInReport report;
    flow.start(
        [&](const std::string& url) {
            const std::u16string address = p_.codePage.toUtf16(platform::kUtf8, url);
            if (open_ && open_(address)) progress(kWaitingForBrowser);
            else progress(kNoBrowser + address);
        },
        [&](const auth::SignInReport& r) {
            report = r;
            finished = true;
        });
    // The flow ends by itself at its time limit; a stop cancels it, and the
    // cancel is reported from a later pump.
    bool cancelled = false;
    while (!finished) {
        if (!cancelled && stop()) {
            cancelled = true;
            flow.cancel();
        }
        p_.loop.pump(platform::Milliseconds(100));
    }
    // The browser's page on its way still gets out (within the connection's
    // own time limit) before the sign-in goes.
    while (flow.busy() && !stop()) p_.loop.pump(platform::Milliseconds(100));

    switch (report.outcome) {
        case auth::SignInOutcome::SignedIn: break;
        case auth::SignInOutcome::Cancelled: out.outcome = SignInOutcome::Cancelled; return out;
        case auth::SignInOutcome::TimedOut: out.outcome = SignInOutcome::TimedOut; return out;
        default:
            out.outcome = SignInOutcome::Failed;
            out.status = report.status;
            return out;
    }
    if (stop()) {  // signed in, but nobody waits for the try any more
        out.outcome = SignInOutcome::MailboxFailed;
        return out;
    }

    // The try, with the tokens just stored (none passes through here).
    progress(kTrying);
    const ProbeResult tried = ProbeAccount(p_, folder_, account);
    if (tried.outcome == ProbeOutcome::LoggedIn) {
        out.outcome = SignInOutcome::SignedIn;
        out.messages = tried.messages;
    } else {
        out.outcome = SignInOutcome::MailboxFailed;
        out.status = tried.status;
    }
    return out;
}

}  // namespace iw::app
