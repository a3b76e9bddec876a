// The POP3 session of the filter: every account is logged in in turn and
// its headers fetched (STAT and LIST together, then the TOP batch closed by
// a NOOP that proves every reply came in step), and the connections stay
// open so the checked messages can be deleted afterwards (the DELE batch,
// then QUIT, with every confirmation counted) or the accounts logged out
// without deleting anything.
//
// It knows nothing of windows: what happens goes to a FetchReport, which
// the filter window and the console's filter command implement. The
// report's calls come from inside the waits, which pump the event loop.
//
// Safety: a reply counts only for the command that asked for it and only
// for the account in hand; an account whose replies went out of step is
// "held": its rows can no longer be matched to messages, so nothing more
// is sent on it and no DELE ever goes out for it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "pop3/account_login.h"
#include "pop3/connection.h"
#include "pop3/login.h"
#include "pop3/mailbox.h"

namespace iw::pop3 {

// The header phase of one account ends after this many seconds in all, however
// steadily a server trickles its replies, plus this much per message asked for.
inline constexpr int kHeaderPhaseSeconds = 120;
inline constexpr double kHeaderPhaseSecondsPerMessage = 0.05;

// One account of the run, as its settings say.
struct FetchAccount {
    LoginAccount login;     // user, password, security, OAuth2 keys
    std::u16string server;  // the server's address as the user wrote it ("host", "host:port")
    std::string certPin;    // the pinned certificate's SHA-256, if any
};

// The steps of an account's login and fetch, as they begin.
enum class FetchStep {
    Connecting,       // the address was found; connecting
    SendingUser,      // USER (or AUTH) went out
    SendingPassword,  // PASS went out
    Counting,         // logged in: STAT and LIST went out
    Fetching,         // every TOP went out; the replies are awaited
    Deleting,         // the account's DELEs are about to go out
    LoggingOut,       // QUIT is about to go out
};

// What went wrong on an account. `detail` in FetchReport::trouble is the
// text the protocol has for it, where it has one.
enum class FetchTrouble {
    NoHost,          // the address names no host or the host does not resolve
    LoginDelay,      // the server's LOGIN-DELAY has not passed (detail: the wait)
    NoLogin,         // no login could be made, nothing sent (detail: why)
    Tls,             // STLS or the TLS connection failed (detail: what failed)
    NotConnected,    // refused, closed, or the greeting was refused, before the login ended
    ConnectTimedOut, // the login did not end within its wait
    NoMechanism,     // an OAuth2 account whose server offers no token login
    FalseSuccess,    // a "+OK" that is no login
    TokenRefused,    // the server refused the token (detail: sign in again)
    LoginRefused,    // user or password refused (detail: the response code's text, or "")
    ListingFailed,   // STAT or LIST refused, or the listing never came
    OutOfStep,       // the replies no longer match the commands: the account is held
    TooLarge,        // a reply outgrew its limit, or the rows their memory
    ReceiveError,    // the connection ended after the login
    TimedOut,        // header replies still missing when the wait ended: held
};

// Implemented by the filter window and the console. Calls come from inside
// the session's waits, for the account in hand.
class FetchReport {
public:
    virtual ~FetchReport() = default;
    virtual void step(int /*account*/, FetchStep) {}
    // STAT answered "+OK": returns how many messages to fetch at most (0: none).
    virtual std::int32_t counted(int account, std::int32_t count, std::int32_t size) = 0;
    // LIST was read: row r of the account is entries[r], ascending by number.
    virtual void listed(int account, const Listing& listing) = 0;
    // The TOP reply for row `row` (message `number`); `refused`: its "-ERR"
    // line. Returns false when no more rows can be kept: the account ends
    // with TooLarge.
    virtual bool received(int account, int row, std::int32_t number, const std::string& reply, bool refused) = 0;
    // The account's replies went out of step: its rows must not be checked.
    virtual void held(int /*account*/) {}
    virtual void trouble(int account, FetchTrouble trouble, const std::u16string& detail) = 0;
};

// An unexpected failure of the run itself (no socket could be made); the
// caller says so and ends the run.
struct FetchError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class FetchSession {
public:
    explicit FetchSession(platform::Platform& platform);
    ~FetchSession();
    FetchSession(const FetchSession&) = delete;
    FetchSession& operator=(const FetchSession&) = delete;

    // The limits on what a server may send (tests lower them).
    void setLimits(Limits limits) { limits_ = limits; }
    // Off: every DELE waits for the reply of the one before.
    void setPipelinedDeletions(bool on) { pipelineDeletions_ = on; }
    // On: every server is treated as one that does not list PIPELINING.
    void setWindowOnly(bool on) { forceWindow_ = on; }

    // Drops whatever came before and makes a connection, with its first
    // socket, for each account. Token files are read from (and rotated
    // tokens written to) `profileFolder`. Throws FetchError when no socket
    // can be made.
    void begin(const std::u16string& profileFolder, std::vector<FetchAccount> accounts, FetchReport& report);
    int accountCount() const { return static_cast<int>(accounts_.size()); }
    // The account's settings as they are now (before a fetch).
    void setAccount(int account, FetchAccount settings);

    // Finds the host, logs in (a refused token is refreshed once and tried
    // once more), asks STAT and LIST, then TOP for every listed message
    // (`previewLines`: three body lines each) and a NOOP. Returns when the
    // account's part has ended; the connection stays open.
    void fetch(int account, bool previewLines);

    // What the deletions of an account came to: DELEs answered "+OK", sent.
    struct Deletions {
        int confirmed = 0;
        int asked = 0;
    };
    // DELE for the messages of the given rows. Where every TOP reply came
    // back in step the DELEs go back to back and `limitSeconds` is the
    // longest silence allowed between two replies; elsewhere one at a time,
    // each awaited up to `limitSeconds` (`testEach`: stop as soon as the
    // connection is gone). Nothing is sent on a held or unusable account. A
    // DELE left unanswered leaves the account out of step: no QUIT follows.
    Deletions deleteRows(int account, const std::vector<int>& rows, int limitSeconds, bool testEach);
    // What deleting on one account came to. The messages are gone only when
    // the server answered QUIT "+OK" too.
    struct AccountDeletion {
        Deletions dele;
        bool committed = false;
        int deleted() const { return committed ? dele.confirmed : 0; }
    };
    // The deletion run: for every account in turn the DELEs of its rows
    // (`rows[account]`, each awaited as deleteRows says with `testEach`),
    // then QUIT on every account. Reports Deleting and LoggingOut steps.
    std::vector<AccountDeletion> deleteEverywhere(const std::vector<std::vector<int>>& rows, int limitSeconds);
    // QUIT on every account whose connection is usable, deleting nothing.
    void logOutAll(int limitSeconds);

    // QUIT when the connection is usable and not held, awaited up to
    // `limitSeconds`; then the connection is closed. True when QUIT was
    // answered "+OK" (which commits the deletions).
    bool quit(int account, int limitSeconds);
    // Closes the account's connection without a word.
    void close(int account);
    // Waits up to `seconds` for the account's socket to close.
    void waitClosed(int account, int seconds);

    // Ends every wait at once and closes every connection without QUIT (the
    // window is closing); nothing more is reported. Allowed from a report.
    void cancel();
    bool cancelled() const { return cancelled_; }

    bool usable(int account) const;
    bool connected(int account) const;
    bool held(int account) const { return at(account).held; }
    // The messages LIST named, ascending: row r is numbers()[r].
    const std::vector<std::int32_t>& numbers(int account) const { return at(account).numbers; }
    platform::TcpSocket* socket(int account) const;

private:
    struct Account {
        FetchAccount settings;
        std::unique_ptr<Connection> conn;
        std::unique_ptr<Login> login;  // the login step of the connection in hand
        PreparedLogin prepared;
        std::string serverKey;  // the account's key in the memory of servers
        std::vector<std::int32_t> numbers;
        std::int32_t count = 0;  // messages to fetch: what STAT allowed, then what LIST named
        bool held = false;
        // Its TOP replies, sent back to back, all came back in step: the
        // DELEs go back to back too.
        bool pipelines = false;
        // The server listed PIPELINING: batches go in one write; otherwise
        // a window of commands in flight (see fillWindow).
        bool pipelining = false;
        std::deque<Command> window;  // commands waiting for room in the window
    };

    const Account& at(int i) const { return accounts_.at(static_cast<std::size_t>(i)); }
    Account& at(int i) { return accounts_.at(static_cast<std::size_t>(i)); }
    std::unique_ptr<platform::TcpSocket> makeSocket(int i);
    void makeConnection(int i);
    bool connectAccount(int i, const std::string& address, std::uint16_t port, const ServerAddress& server,
                        bool refreshToken);
    void fetchHeaders(int i, bool previewLines);
    void onReply(int i, const Reply& r);
    void onEnded(int i, End why);
    void loginReply(int i, const Reply& r);
    void listingReply(int i, const Reply& r);
    void topReply(int i, const Reply& r);
    void hold(int i);
    void fillWindow(int i);
    void send(int i, const std::string& line, int tag);
    void waitSendComplete();
    bool waitPhase(int limitSeconds);
    void endAccount(int i, FetchTrouble trouble, const std::u16string& detail = {});

    platform::Platform& p_;
    std::u16string profileFolder_;
    std::unique_ptr<AccountCredentials> credentials_;  // made at the first login
    FetchReport* report_ = nullptr;
    std::vector<Account> accounts_;
    Limits limits_;
    bool pipelineDeletions_ = true;
    bool forceWindow_ = false;
    bool cancelled_ = false;

    // The account in hand and what its replies have told so far.
    int dialogue_ = -1;
    bool deleting_ = false;  // a deletion or log-out: the caller tells the outcome
    bool loggedIn_ = false;
    bool listingDone_ = false;
    bool listingFailed_ = false;
    bool ended_ = false;         // the account ended; its trouble was reported
    bool tokenRefused_ = false;  // refresh once, try once more
    bool synced_ = false;        // the NOOP after the TOPs was answered
    bool phaseDone_ = false;
    bool sendDone_ = false;
    std::int32_t replyNumber_ = 0;  // TOP replies handed on for this account
    std::int32_t statCount_ = 0;    // how many STAT allowed: an upper bound for LIST
    int lastActivity_ = 0;          // whole seconds since midnight of the last TOP reply
    int deleOks_ = 0, deleAsked_ = 0, deleReplies_ = 0;
    int lastDeleReply_ = 0;
    bool quitOk_ = false;
};

}  // namespace iw::pop3
