// The windowless POP3 session; see session.h.
#include "pop3/session.h"

#include <functional>

#include "auth/oauth_client.h"
#include "platform/tls_socket.h"
#include "platform/waits.h"
#include "pop3/capabilities.h"
#include "pop3/mailbox.h"
#include "pop3/server_memory.h"

namespace iw::pop3 {

namespace {

// The tags of the run's own commands; the login step tags its own.
enum CountTag : int { kTagStat = 1, kTagQuit };

// The tray's text for an account whose host cannot be found.
constexpr char16_t kLookupFailedText[] = u"無法查詢主機IP位置";

}  // namespace

// One connection and login of the count run, with what its handlers learned.
struct Session::Attempt {
    LoginAccount account;
    std::string serverKey;
    PreparedLogin prepared;
    std::unique_ptr<Login> login;
    bool done = false;      // the account's part of this attempt has ended
    bool sendDone = false;
    bool tokenRefused = false;
    AccountOutcome outcome;
    void set(AccountEnd end, std::u16string status) {
        outcome.end = end;
        outcome.status = std::move(status);
    }
};

Session::Session(platform::Platform& platform, std::u16string profileFolder, SessionOptions options)
    : p_(platform), credentials_(platform, std::move(profileFolder)), options_(options) {}

Session::~Session() = default;

void Session::cancel() {
    cancelled_ = true;
    if (conn_) conn_->close();
}

bool Session::waitFor(const std::function<bool()>& done, double seconds, bool strictlyMore) {
    const platform::WaitOutcome r =
        platform::waitUntil(p_.loop, p_.clock, seconds, [&] { return cancelled_ || done(); },
                            strictlyMore ? platform::LimitRule::Exceeds : platform::LimitRule::AtLeast);
    return r == platform::WaitOutcome::ConditionMet && !cancelled_;
}

void Session::countMessages(const std::vector<settings::MailAccount>& accounts, SessionReport& report) {
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        if (cancelled_) break;
        report.accountStarted(static_cast<int>(i));
        const AccountOutcome outcome = countOne(accounts[i]);
        if (cancelled_) break;
        report.outcome(static_cast<int>(i), outcome);
    }
    // The last account's connection is not left open after an error reply.
    if (conn_) conn_->close();
}

AccountOutcome Session::countOne(const settings::MailAccount& settingsAccount) {
    Attempt a;
    a.account = LoginAccountOf(settingsAccount, p_.codePage);
    const std::u16string& user = a.account.user;
    const auto address = ParseServerAddress(settingsAccount.Pop3Host, a.account.security, options_.defaultPort);
    p_.loop.pump(platform::Milliseconds(0));
    const platform::ResolveResult found = address ? p_.network.resolve(address->host) : platform::ResolveResult{};
    if (!found.found || found.address.empty()) {
        a.set(AccountEnd::NoHost, kLookupFailedText);
        return a.outcome;
    }
    a.serverKey = ServerMemory::key(address->host, address->port, p_.codePage.fromUtf16(platform::kBig5, user));
    // A server's LOGIN-DELAY: the account is skipped until it has passed.
    if (const std::int64_t left = ServerMemory::program().loginDelayLeft(a.serverKey, SecondsNow(p_.clock))) {
        a.set(AccountEnd::LoginDelay, user + LoginDelayText(left));
        return a.outcome;
    }
    const std::string host = address->host;
    const std::string pin = p_.codePage.fromUtf16(platform::kBig5, settingsAccount.CertSha256);
    const platform::MailSecurity security = a.account.security;
    conn_ = std::make_unique<Connection>(
        [this, host, pin, security] { return platform::CreateMailSocket(p_.network.createTcp(), security, host, pin); });
    // A greeting or a reply line of the count needs far less than a header;
    // nothing longer is kept.
    Limits limits;
    limits.line = 4096;
    conn_->setLimits(limits);

    // An OAuth2 account: a token the server refuses is refreshed once and
    // tried once more.
    const bool bearer = auth::UsesOAuth(a.account.oauth);
    for (int attempt = 0; attempt < (bearer ? 2 : 1) && !cancelled_; ++attempt) {
        a.done = false;
        a.sendDone = false;
        a.tokenRefused = false;
        a.login.reset();
        a.prepared = credentials_.prepare(a.account, *address, a.serverKey, attempt > 0);
        if (!a.prepared.ok) {
            a.set(AccountEnd::NoToken, user + a.prepared.status);
            a.outcome.signInAgain = a.prepared.signInAgain;
            break;
        }
        conn_->close();
        runAttempt(a);
        if (cancelled_) break;
        conn_->connect(found.address, address->port, kTagGreeting);
        if (a.login) a.login->start();  // over TLS the login may go out before the greeting
        if (!waitFor([&a] { return a.done; }, 45, true)) a.set(AccountEnd::NoConnection, user + u"未連上伺服器");
        waitFor([this] {
            return !conn_->socket() || conn_->socket()->state() == platform::SocketState::Closed ||
                   conn_->socket()->state() == platform::SocketState::Error;
        }, 3, false);
        if (!a.tokenRefused) break;
    }
    return a.outcome;
}

// Wires the connection's handlers to attempt `a` and makes its login step;
// the caller connects.
void Session::runAttempt(Attempt& a) {
    const std::u16string user = a.account.user;
    const auto sendLine = [this, &a](const std::string& line, int tag) {
        a.sendDone = false;
        conn_->send({line, Shape::Line, tag, 0});
        // Up to 10 whole seconds for the send to complete, which never
        // happens once the connection has ended (a server that answers QUIT
        // and closes at once).
        waitFor([this, &a] { return a.sendDone || !conn_ || !conn_->usable(); }, 10, true);
    };
    const auto onReply = [this, &a, user, sendLine](const Reply& r) {
        if (IsLoginTag(r.tag)) {
            if (!a.login) return;
            a.login->onReply(r);
            if (!a.login->done()) return;
            ServerMemory& memory = ServerMemory::program();
            const LoginVerdict verdict = JudgeLogin(*a.login, a.prepared);
            if (verdict == LoginVerdict::LoggedIn) {
                memory.rememberCapabilities(a.serverKey, a.login->capabilities(), a.login->greeting());
                memory.loggedIn(a.serverKey, SecondsNow(p_.clock));
                sendLine("STAT", kTagStat);
                return;
            }
            a.done = true;
            if (verdict == LoginVerdict::FalseSuccess) {
                a.set(AccountEnd::BadReply, user + u"伺服器回應錯誤..");
                return;
            }
            memory.forgetCapabilities(a.serverKey);
            // A response code says what the user can do; without one, the old texts.
            const std::u16string coded = ResponseCodeText(ParseResponseCode(a.login->refusal()));
            if (verdict == LoginVerdict::TlsFailed) {
                // STLS refused or bytes injected behind its "+OK": nothing was sent in plain.
                a.set(AccountEnd::NoConnection, user + platform::TlsStatusText(a.login->tlsFailure()));
            } else if (verdict == LoginVerdict::GreetingRefused) {
                a.set(AccountEnd::Refused, user + u"主機無法連線..");
            } else if (verdict == LoginVerdict::NoMechanism) {
                a.set(AccountEnd::Refused, user + u"伺服器不提供OAuth2登入");
            } else if (verdict == LoginVerdict::TokenRefused) {
                a.tokenRefused = true;
                a.set(AccountEnd::Refused, user + auth::SignInAgainText());
                a.outcome.signInAgain = true;
            } else if (!coded.empty()) {
                a.set(AccountEnd::Refused, user + coded);
            } else if (verdict == LoginVerdict::UserRefused) {
                a.set(AccountEnd::Refused, user + u"使用者錯誤..");
            } else {
                a.set(AccountEnd::Refused, user + u"密碼錯誤..");
            }
            return;
        }
        switch (r.tag) {
        case kTagStat: {
            const StatReply stat = ParseStat(r.text);
            if (r.ok && stat.wellFormed) {
                a.outcome = AccountOutcome{AccountEnd::Counted, stat.count, u"", false};
            } else {
                // Not "+OK count size": nothing is counted, and the user is told.
                a.set(AccountEnd::Unreadable, user + u"郵件數目無法讀取..");
            }
            sendLine("QUIT", kTagQuit);
            a.done = true;
            break;
        }
        case kTagQuit: conn_->close(); break;
        default: break;
        }
    };
    Connection::Handlers h;
    h.reply = [&a, onReply](const Reply& r) {
        try {
            onReply(r);
        } catch (...) {
            a.done = true;
        }
    };
    h.sendComplete = [&a] { a.sendDone = true; };
    // A refused, broken or closed connection ends the account at once, with
    // the text of a server that never answers; a server whose replies are
    // out of step or too long is told apart, and a TLS failure says what
    // failed (the password was never sent).
    h.ended = [this, &a, user](End why) {
        const platform::TcpSocket* sock = conn_->socket();
        const std::u16string tls = platform::MailSocketFailureText(sock, sock ? sock->lastError() : 0);
        if (!a.done) {
            a.done = true;
            if (why == End::Closed && !tls.empty())
                a.set(AccountEnd::NoConnection, user + tls);
            else if (why == End::Closed)
                a.set(AccountEnd::NoConnection, user + u"未連上伺服器");
            else if (why == End::OutOfStep && a.login && a.login->lastTag() == kTagGreeting)
                a.set(AccountEnd::Refused, user + u"主機無法連線..");  // a greeting that is no status line
            else
                a.set(AccountEnd::BadReply, user + u"伺服器回應錯誤..");
        }
        if (a.login && !a.login->done()) {
            a.login->onEnded();
            ServerMemory::program().forgetCapabilities(a.serverKey);
        }
        a.sendDone = true;
    };
    conn_->setHandlers(std::move(h));
    a.login = std::make_unique<Login>(*conn_, a.prepared.request);
}

}  // namespace iw::pop3
