// A POP3 session over the accounts of the roster, without windows: for
// each account the address, the LOGIN-DELAY the server asked for, the
// connection (plain or TLS as the account says), the login (password or
// OAuth2 token, see account_login.h), the mailbox command and the log-out.
// It knows nothing of windows: what happens goes to a SessionReport, which
// the tray's check and the console commands implement.
//
// The count run (countMessages) logs in, asks STAT and logs out with QUIT:
// it never deletes anything. Its status texts are the tray tip's.
//
// Waits pump the event loop, so handlers of the program re-enter while a
// run is going on; cancel() (the program is closing) ends every wait at
// once and drops the connection without a word.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "pop3/account_login.h"
#include "pop3/connection.h"

namespace iw::pop3 {

// How one account's part of a run ended.
enum class AccountEnd {
    Counted,      // STAT answered "+OK count size": `messages` holds the count
    NoHost,       // the address names no host, or the host does not resolve
    LoginDelay,   // the server's LOGIN-DELAY has not passed: not contacted
    NoToken,      // OAuth2: no token could be had (or the account has no TLS)
    NoConnection, // refused, closed or silent before the login ended
    Refused,      // the greeting or the login was refused
    BadReply,     // out of step, too long, or a "+OK" that is no login
    Unreadable,   // STAT was refused or not "+OK count size"
};

struct AccountOutcome {
    AccountEnd end = AccountEnd::NoConnection;
    std::int32_t messages = 0;
    // The tray tip's text for the account ("" when counted); it names the
    // user first where the tip always did.
    std::u16string status;
    // The status asks the user to sign in again (an OAuth2 account).
    bool signInAgain = false;
};

// Implemented by whoever runs a session: the tray's check, the console.
// Calls come from inside the run, one account at a time and in roster
// order; a report may not start another run.
class SessionReport {
public:
    virtual ~SessionReport() = default;
    // Account `account` (its index in the run's list) is being contacted.
    virtual void accountStarted(int /*account*/) {}
    // How the account's part ended; called once per account.
    virtual void outcome(int account, const AccountOutcome& outcome) = 0;
};

struct SessionOptions {
    // The port of an address without one, for plain and STLS accounts.
    std::uint16_t defaultPort = 110;
};

class Session {
public:
    // Token files are read from (and rotated tokens written to) `profileFolder`.
    Session(platform::Platform& platform, std::u16string profileFolder, SessionOptions options = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // For each account in turn: log in, STAT, QUIT.
    void countMessages(const std::vector<settings::MailAccount>& accounts, SessionReport& report);

    // Ends every wait at once and closes the connection without QUIT;
    // the run reports nothing more. Allowed from inside a pump of the run.
    void cancel();
    bool cancelled() const { return cancelled_; }

private:
    struct Attempt;
    AccountOutcome countOne(const settings::MailAccount& account);
    void runAttempt(Attempt& a);
    bool waitFor(const std::function<bool()>& done, double seconds, bool strictlyMore);

    platform::Platform& p_;
    AccountCredentials credentials_;
    SessionOptions options_;
    std::unique_ptr<Connection> conn_;
    bool cancelled_ = false;
};

}  // namespace iw::pop3
