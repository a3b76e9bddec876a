// Tries an account once, as the account dialog does after a sign-in and as
// `inkwarden-cli login` does after storing a token: connect (TLS as the
// account says), greeting, CAPA, the login (a bearer token by XOAUTH2 or
// OAUTHBEARER), STAT, QUIT. STAT must answer "+OK" before
// the login counts: a server has been seen to say "+OK" to a token of
// another user and refuse the mailbox after.
//
// A bearer token is never sent over a connection without TLS: with
// MailSecurity::Plain the probe makes no connection at all.
#pragma once

#include <cstdint>
#include <string>

#include "auth/oauth_client.h"
#include "auth/oauth_config.h"
#include "auth/token_store.h"
#include "platform/platform.h"
#include "platform/tls.h"
#include "settings/accounts.h"

namespace iw::app {

struct ProbeRequest {
    std::u16string pop3Host;  // the PoP3 setting: "host" or "host:port"
    platform::MailSecurity security = platform::MailSecurity::Tls;
    std::string pin;          // CertSha256
    std::string user;         // the login name as sent
    std::string accessToken;  // OAuth2: the bearer token
    int limitSeconds = 45;    // for the whole dialogue
};

enum class ProbeOutcome {
    LoggedIn,      // STAT answered "+OK"
    NotSecured,    // an OAuth2 account without TLS: nothing was sent
    BadAddress,    // the PoP3 setting names no host
    NoHost,        // the host name does not resolve
    NoConnection,  // refused, closed or timed out before the login ended
    TlsFailed,     // certificate or handshake; `status` says which
    TokenRefused,  // the server judged the token and refused it: refresh and try again
    LoginRefused,  // refused for another reason ([SYS/TEMP], [IN-USE], ...)
    NoMechanism,   // the server offers neither XOAUTH2 nor OAUTHBEARER
    StatFailed,    // the login was accepted but STAT was not
};

struct ProbeResult {
    ProbeOutcome outcome = ProbeOutcome::NoConnection;
    long messages = -1;        // STAT's count when logged in
    std::string mechanism;     // "XOAUTH2", "OAUTHBEARER", "" for USER/PASS
    std::u16string status;     // the program's text for the user (never a token)
    std::string serverLine;    // the server's last status line, for the console
};

ProbeResult ProbeAccount(platform::Platform& p, const ProbeRequest& request);

// Tries an OAuth2 account with its stored tokens, as the mail check uses
// them: the stored access token while it is good (else a refresh first); a
// token the server refuses is refreshed once and tried once more; a refresh
// token that is refused, expired or revoked gives the status that asks the
// user to sign in again (`signInAgain`). Never opens a browser.
struct StoredTokenProbe {
    ProbeResult result;
    bool signInAgain = false;
    int refreshes = 0;  // token requests made
};
StoredTokenProbe ProbeWithStoredTokens(platform::Platform& p, auth::OAuthClient& client, auth::TokenStore& store,
                                       const std::u16string& address, const ProbeRequest& request, std::int64_t now);

// The OAuth2 keys of an account, as UTF-8.
auth::OAuthSettings OAuthSettingsOf(const settings::MailAccount& a, const platform::CodePage& cp);

// The status text of an OAuth2 account whose security setting is plain.
std::u16string NotSecuredText();

}  // namespace iw::app
