// The login step of a POP3 session: the greeting, STLS where the account
// asks for it, CAPA, and the login itself, by USER and PASS or by a SASL
// mechanism (AUTH). It runs over a Connection
// the owner made and owns; the owner hands it every reply whose tag is a
// login tag (IsLoginTag) and reads the outcome once done() holds.
//
// STLS (RFC 2595): an account that asks for it sends STLS right after the
// greeting, before anything else (what CAPA says before TLS could not be
// trusted and is thrown away anyway). On "+OK" the connection starts TLS on
// the open stream; bytes the server sent behind its "+OK" are an injection
// and end the connection. A refusal ends the login as TlsFailed: nothing but
// "STLS" is ever sent in plain on such an account. After the handshake the
// login goes on as over TLS from the first byte, with a fresh CAPA unless
// capabilities remembered from an earlier protected session can be used.
//
// The turns it costs: the greeting; STLS where asked; CAPA, unless the capabilities the
// account's server listed last time are remembered and the greeting has not
// changed; then USER and PASS in one write where the server lists
// PIPELINING, one after the other otherwise. Nothing after PASS (or the
// last AUTH line) is ever sent in the same write: some servers drop
// commands that arrive with the end of the login.
//
// Over TLS from the first byte, the greeting's wait and the login can share
// one turn: when the capabilities remembered for the account list
// PIPELINING and USER and the login is by password, start() queues USER and
// PASS as soon as the connection is made. The socket holds them until the
// handshake and the certificate checks have passed, so they reach only the
// server the certificate proves. Replies are still matched in order:
// greeting, USER, PASS. A greeting that is not "+OK" ends the login and the
// connection (nothing more is sent); a greeting that differs from the
// remembered one (beyond its APOP timestamp) means the capabilities may
// have changed, so CAPA is asked after PASS was answered and the login ends
// only with its answer. Nothing is ever sent with PASS.
//
// A server that lists UTF8 (RFC 6856) is asked for it before the login, so
// it serves headers with raw 8-bit bytes as they are rather than a notice of
// its own. Once it accepted, the user name and password go out in UTF-8
// (RFC 6856 section 2); before, or after a refusal, in the bytes the owner
// gave. Where the two differ the login waits for UTF8's answer first; where
// they are the same (ASCII credentials) UTF8 travels with USER and PASS.
//
// SASL mechanisms plug in through SaslMechanism: the owner lists the
// mechanisms it can offer, best first; the login uses the first one the
// server lists in CAPA's SASL line (and that the connection's protection
// allows), and USER/PASS otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/tls.h"
#include "pop3/capabilities.h"
#include "pop3/connection.h"

namespace iw::pop3 {

// One SASL mechanism (RFC 5034 "AUTH name [initial-response]"). The login
// step sends AUTH, hands every "+ challenge" line to answer() and sends the
// line it returns; a final "+OK" logs in, "-ERR" (with its response code) is
// the refusal. Challenge and answers are base64 text as on the wire.
class SaslMechanism {
public:
    virtual ~SaslMechanism() = default;
    // The name as CAPA's SASL line lists it, upper case: "PLAIN", "XOAUTH2".
    virtual std::string name() const = 0;
    // A mechanism that sends a secret in the clear (PLAIN, a bearer token)
    // is only ever used over TLS.
    virtual bool needsTls() const = 0;
    // The initial response sent on the AUTH line itself (RFC 4954 style;
    // "=" for an empty one), or nothing to wait for the server's first "+".
    virtual std::optional<std::string> initialResponse() = 0;
    // The line answering one "+ challenge" (the challenge without "+ "), or
    // nothing to cancel the exchange (the login step sends "*").
    virtual std::optional<std::string> answer(std::string_view challenge) = 0;
    // The status text when the server refuses this mechanism's credentials;
    // empty for the login step's own text.
    virtual std::u16string refusedText(const Reply& refusal) const { return {}; }
};

// What the login step needs to know of the account.
struct LoginRequest {
    std::string user;      // as sent on the wire (the code page's bytes)
    std::string password;  // unscrambled, as sent on the wire
    // The same two in UTF-8, sent instead once the server accepted UTF8;
    // nothing: `user` and `password` are sent then too.
    std::optional<std::string> userUtf8;
    std::optional<std::string> passwordUtf8;
    // The account asks for STLS: nothing is sent before TLS is started.
    bool startTls = false;
    // Mechanisms the owner offers, best first; empty for USER/PASS only.
    std::vector<std::shared_ptr<SaslMechanism>> mechanisms;
    // The connection is protected by TLS (from the first byte, or after
    // STLS when `startTls` is set).
    bool secured = false;
    // An OAuth2 account: it logs in by one of `mechanisms` or not at all,
    // never by USER/PASS (it has no password to send).
    bool saslOnly = false;
    // The capabilities remembered from the last session of this account
    // and the greeting that came with them; CAPA is skipped when the
    // greeting is the same.
    std::optional<Capabilities> remembered;
    std::string rememberedGreeting;
};

enum class LoginOutcome {
    Running,
    LoggedIn,
    GreetingRefused,  // the greeting was "-ERR"
    UserRefused,      // USER answered "-ERR"
    PassRefused,      // PASS answered "-ERR"
    AuthRefused,      // the SASL exchange ended with "-ERR" or was cancelled
    NoMechanism,      // a SASL-only login, and the server offers none of its mechanisms
    TlsFailed,        // STLS refused, or bytes injected behind its "+OK"; see tlsFailure()
    Ended,            // the connection ended (closed, out of step, too large)
};

// The tags the login step gives its commands; the owner's own tags must
// stay below kFirstLoginTag.
constexpr int kFirstLoginTag = 1000;
enum LoginTag : int {
    kTagGreeting = kFirstLoginTag,
    kTagCapa,
    kTagUser,
    kTagPass,
    kTagAuth,
    kTagUtf8,
    kTagStls,
    kTagLast,
};
inline bool IsLoginTag(int tag) { return tag >= kFirstLoginTag && tag < kTagLast; }

class Login {
public:
    // Starts the login over `connection`, which must have been connected
    // with `kTagGreeting` as its greeting tag and not yet have answered.
    Login(Connection& connection, LoginRequest request);

    // To be called right after Connection::connect: over TLS from the first
    // byte, with usable remembered capabilities, sends the login at once
    // (see above); otherwise does nothing and the login starts at the greeting.
    void start();
    // The login was sent before the greeting arrived.
    bool sentEarly() const { return early_; }

    // Called after each login command is written, with its tag (progress texts).
    // Commands sent before the greeting arrived are told once it has come.
    void setSentHandler(std::function<void(int tag)> sent) { sent_ = std::move(sent); }

    // A reply with a login tag. Sends what comes next.
    void onReply(const Reply& reply);
    // The connection ended by itself.
    void onEnded();

    bool done() const { return outcome_ != LoginOutcome::Running; }
    LoginOutcome outcome() const { return outcome_; }
    // The reply that ended the login ("-ERR [AUTH] ..." and so on); empty
    // when it ended otherwise.
    const std::string& refusal() const { return refusal_; }
    // What the server listed (asked now or remembered).
    const Capabilities& capabilities() const { return caps_; }
    // CAPA was asked in this session (false when remembered ones were used).
    bool askedCapa() const { return askedCapa_; }
    const std::string& greeting() const { return greeting_; }
    // The mechanism used, "" for USER/PASS.
    const std::string& mechanism() const { return mechanismName_; }
    // The step of the login reached so far, for progress texts.
    int lastTag() const { return lastTag_; }
    // Why STLS failed (StlsRefused or Handshake) when the outcome is TlsFailed.
    platform::TlsFailure tlsFailure() const { return tlsFailure_; }
    // The server accepted UTF8.
    bool utf8Accepted() const { return utf8Accepted_; }

private:
    void afterSecured();
    void askCapa();
    void authenticate();
    void userPass();
    void finish(LoginOutcome outcome, const Reply* reply);
    void sendLines(const std::vector<Command>& commands);

    Connection& conn_;
    LoginRequest request_;
    Capabilities caps_;
    std::shared_ptr<SaslMechanism> mechanism_;
    std::string mechanismName_;
    std::string greeting_;
    std::string refusal_;
    LoginOutcome outcome_ = LoginOutcome::Running;
    bool askedCapa_ = false;
    bool pipelinedPass_ = false;
    bool utf8Asked_ = false;
    bool utf8Awaited_ = false;  // the login goes on at UTF8's answer
    bool utf8Accepted_ = false;
    bool tlsStarted_ = false;
    bool greetingSeen_ = false;
    bool early_ = false;           // the login went out before the greeting (start())
    bool capaAfterLogin_ = false;  // the greeting changed: CAPA after PASS, then logged in
    std::vector<int> earlyTags_;   // sent before the greeting, told to sent_ once it came
    std::string passReply_;        // PASS's "+OK" line while CAPA is asked after it
    platform::TlsFailure tlsFailure_ = platform::TlsFailure::None;
    std::vector<Command> prefix_;  // written with the next login line
    int lastTag_ = kTagGreeting;
    std::function<void(int)> sent_;
};

// The greeting without its APOP timestamp ("<...>"), which changes at every
// connection: what tells whether the server is still the one remembered.
std::string GreetingIdentity(std::string_view greeting);

}  // namespace iw::pop3
