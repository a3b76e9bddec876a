// How one account logs in: with its password, or (an OAuth2 account) with a
// bearer token from the tokens stored in the profile folder. This is the one
// place that turns an account into a LoginRequest and the one place that
// fetches and refreshes tokens for a login; the tray's check, the filter
// window, the re-check, the deletion run and the console all come here.
//
// Token rules: the stored access token while it is good, else a refresh
// first; after the server refused the token itself, one refresh and one more
// try (the caller asks with `forceRefresh`); a refresh token that is
// refused, expired or revoked gives the status asking the user to sign in
// again. A browser is never opened. A token is never sent, and not even
// requested, for an account whose connection has no TLS.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "auth/oauth_config.h"
#include "platform/platform.h"
#include "platform/secret_store.h"
#include "platform/tls.h"
#include "pop3/address.h"
#include "pop3/login.h"
#include "pop3/sasl_mechanisms.h"
#include "settings/accounts.h"

namespace iw::pop3 {

// What the login needs to know of one account.
struct LoginAccount {
    std::u16string address;   // the roster key; names the account's token file
    std::u16string user;      // the login name (key "Account")
    std::u16string password;  // unscrambled; unused for OAuth2
    platform::MailSecurity security = platform::MailSecurity::Plain;
    auth::OAuthSettings oauth;  // the OAuth2 keys, as UTF-8
};

// The OAuth2 keys of an account, as UTF-8.
auth::OAuthSettings OAuthSettingsOf(const settings::MailAccount& a, const platform::CodePage& cp);
// The account as set.ini holds it, its password unscrambled.
LoginAccount LoginAccountOf(const settings::MailAccount& a, const platform::CodePage& cp);

// The status text of an OAuth2 account whose security setting is plain.
std::u16string NotSecuredText();

// A login made ready: the request for pop3::Login, or why there is none.
struct PreparedLogin {
    bool ok = false;
    bool bearer = false;       // an OAuth2 account
    bool notSecured = false;   // OAuth2 without TLS: nothing was sent or requested
    bool signInAgain = false;  // no usable tokens: the user must sign in again
    bool refreshed = false;    // the tokens were refreshed (and stored) for this login
    std::u16string status;     // when not ok: the program's text (never holds a token)
    LoginRequest request;
    // The bearer mechanisms offered (empty for a password account); read
    // back by JudgeLogin once the login has ended.
    std::vector<std::shared_ptr<ExchangeMechanism>> mechanisms;
};

// How a login that has ended turned out, for the status the owner shows.
enum class LoginVerdict {
    LoggedIn,
    FalseSuccess,     // "+OK" after the SASL exchange had failed: no login
    TlsFailed,        // STLS refused, or bytes injected behind its "+OK": nothing sent in plain
    GreetingRefused,
    NoMechanism,      // an OAuth2 account and a server offering none of its mechanisms
    TokenRefused,     // the server judged the token and refused it: refresh once, try once more
    UserRefused,
    Refused,          // PASS or AUTH refused for another reason (see the refusal's response code)
    Ended,            // the connection ended before the login did
};

class AccountCredentials {
public:
    // Token files live in `profileFolder` (with its trailing separator, as
    // the settings store's application path).
    AccountCredentials(platform::Platform& platform, std::u16string profileFolder);
    ~AccountCredentials();
    AccountCredentials(const AccountCredentials&) = delete;
    AccountCredentials& operator=(const AccountCredentials&) = delete;

    // The request for `account` at `server`. The capabilities remembered for
    // `serverKey` (ServerMemory) spare a CAPA. `forceRefresh`: the server
    // refused the token last used.
    PreparedLogin prepare(const LoginAccount& account, const ServerAddress& server, const std::string& serverKey,
                          bool forceRefresh);

private:
    platform::Platform& p_;
    std::u16string folder_;
    std::unique_ptr<platform::SecretStore> secrets_;  // made at the first OAuth2 account
};

// Reads the outcome of a finished login; hands the refusal to the bearer
// mechanism that was used, so it can tell a refused token from another refusal.
LoginVerdict JudgeLogin(const Login& login, PreparedLogin& prepared);

}  // namespace iw::pop3
