// SASL over POP3 (RFC 5034): the AUTH exchange for PLAIN (RFC 4616), XOAUTH2
// and OAUTHBEARER (RFC 7628), as a state machine that knows no socket. The
// login step sends command(), then hands every line the server sends during
// the exchange (without CR LF) to onLine() and sends what it says.
//
// Always the two-step form: the credentials go in the line after the
// server's "+" (with or without a blank after it), never as an initial
// response on the AUTH line, which RFC 5034 limits to 255 octets and which
// a bearer token of several kilobytes would break.
//
// An error challenge ("+ " and Base64 of a JSON error after the credentials
// were sent) is answered as the mechanism asks (an empty line for XOAUTH2,
// "AQ==" for OAUTHBEARER); the server's "-ERR" that follows ends the
// exchange as a failure that says the token was refused, so the caller may
// refresh the token once and try once more.
//
// A secret (password or token) is used only to build the response line and
// is never part of a status text or a result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace iw::auth {

enum class SaslMechanism { Plain, XOAuth2, OAuthBearer };

// The mechanism's name on the AUTH line.
std::string_view SaslName(SaslMechanism m);

// A mechanism that sends a bearer token: never on a connection without TLS.
inline bool SendsBearerToken(SaslMechanism m) { return m != SaslMechanism::Plain; }

// The longest AUTH command line RFC 5034 allows, CR LF included.
constexpr std::size_t kMaxAuthLine = 255;

struct SaslCredentials {
    std::string user;    // login name, as bytes sent to the server
    std::string secret;  // the password (PLAIN) or the access token (XOAUTH2, OAUTHBEARER)
    std::string host;    // the server's host name (OAUTHBEARER's host= field)
    std::uint16_t port = 0;
};

// How an exchange ended.
enum class SaslOutcome {
    Pending,       // still under way
    Succeeded,     // "+OK" after the credentials
    NotOffered,    // "-ERR" to the AUTH line: the server does not take the mechanism
    Rejected,      // "-ERR" after the credentials (wrong password, refused token)
    Aborted,       // cancelled by the client ("*" sent, the server's "-ERR" came)
    ProtocolError, // a line that has no place in the exchange (a second challenge, a bad "+", text)
};

class SaslExchange {
public:
    SaslExchange(SaslMechanism mechanism, SaslCredentials credentials);

    SaslMechanism mechanism() const { return mechanism_; }
    // "AUTH XOAUTH2" and so on, without CR LF.
    std::string command() const;

    struct Step {
        bool send = false;  // send `line` (CR LF is the caller's)
        std::string line;
    };
    // One whole line from the server, without CR LF. Returns what to send, if
    // anything; outcome() tells whether the exchange has ended.
    Step onLine(std::string_view line);

    // Cancels an exchange under way: returns "*" to send. The server's
    // "-ERR" then ends it as Aborted.
    Step cancel();

    SaslOutcome outcome() const { return outcome_; }
    // The server's final line ("+OK ..." or "-ERR ..."), for the status text.
    const std::string& finalLine() const { return final_; }
    // The server sent an error challenge: it judged the token and refused it.
    bool errorChallengeSeen() const { return challengeSeen_; }
    // The "status" of the error challenge ("401", "invalid_token", ...), or "".
    const std::string& challengeStatus() const { return challengeStatus_; }
    // The credentials were refused as credentials (an error challenge, or a
    // "-ERR" with no response code or [AUTH]); not for [SYS/TEMP],
    // [IN-USE], [LOGIN-DELAY] and the like, which say nothing of the token.
    bool credentialsRefused() const;

private:
    enum class Phase { AwaitingGo, CredentialsSent, ChallengeAnswered, Cancelling, Done };
    std::string response() const;
    void end(SaslOutcome o, std::string_view line);

    SaslMechanism mechanism_;
    SaslCredentials credentials_;
    Phase phase_ = Phase::AwaitingGo;
    SaslOutcome outcome_ = SaslOutcome::Pending;
    std::string final_;
    bool challengeSeen_ = false;
    std::string challengeStatus_;
};

}  // namespace iw::auth
