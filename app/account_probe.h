// Tries an account once, as the account dialog does after a sign-in and as
// `inkwarden-cli login` does after storing a token: connect (TLS as the
// account says), greeting, CAPA, the login, STAT, QUIT. STAT must answer
// "+OK" before the login counts: a server has been seen to say "+OK" to a
// token of another user and refuse the mailbox after.
//
// The login is the mail check's own (pop3::AccountCredentials): an OAuth2
// account uses its stored access token while it is good (else a refresh
// first); a token the server refuses is refreshed once and tried once more;
// a refresh token that is refused, expired or revoked gives the status that
// asks the user to sign in again. Never opens a browser, and never sends or
// requests a token for an account whose connection has no TLS.
#pragma once

#include <string>

#include "platform/platform.h"
#include "settings/accounts.h"

namespace iw::app {

enum class ProbeOutcome {
    LoggedIn,      // STAT answered "+OK"
    NotSecured,    // an OAuth2 account without TLS: nothing was sent
    BadAddress,    // the PoP3 setting names no host
    NoHost,        // the host name does not resolve
    NoConnection,  // refused, closed or timed out before the login ended
    TlsFailed,     // certificate or handshake; `status` says which
    TokenRefused,  // no usable token, or the server refused it after one refresh
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
    bool signInAgain = false;  // only a new sign-in can mend it
    int refreshes = 0;         // token refreshes made (and stored)
};

// `profileFolder` holds the token files (the folder of set.ini, with its
// trailing separator). `limitSeconds` bounds each connection's dialogue.
ProbeResult ProbeAccount(platform::Platform& p, const std::u16string& profileFolder,
                         const settings::MailAccount& account, int limitSeconds = 45);

}  // namespace iw::app
