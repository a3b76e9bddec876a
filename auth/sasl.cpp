// The SASL exchange over POP3 and the choice of login method.
#include "auth/sasl.h"

#include "auth/base64.h"
#include "auth/json.h"

namespace iw::auth {

std::string_view SaslName(SaslMechanism m) {
    switch (m) {
    case SaslMechanism::Plain: return "PLAIN";
    case SaslMechanism::XOAuth2: return "XOAUTH2";
    case SaslMechanism::OAuthBearer: return "OAUTHBEARER";
    }
    return "PLAIN";
}

SaslExchange::SaslExchange(SaslMechanism mechanism, SaslCredentials credentials)
    : mechanism_(mechanism), credentials_(std::move(credentials)) {}

std::string SaslExchange::command() const { return "AUTH " + std::string(SaslName(mechanism_)); }

std::string SaslExchange::response() const {
    const SaslCredentials& c = credentials_;
    std::string raw;
    switch (mechanism_) {
    case SaslMechanism::Plain:
        // authzid (empty), authcid, password.
        raw = std::string(1, '\0') + c.user + std::string(1, '\0') + c.secret;
        break;
    case SaslMechanism::XOAuth2:
        raw = "user=" + c.user + "\x01" + "auth=Bearer " + c.secret + "\x01\x01";
        break;
    case SaslMechanism::OAuthBearer:
        // The GS2 header names the user; a "," or "=" in it is escaped (RFC 5801).
        {
            std::string user;
            for (const char ch : c.user) {
                if (ch == ',') user += "=2C";
                else if (ch == '=') user += "=3D";
                else user += ch;
            }
            raw = "n,a=" + user + ",\x01host=" + c.host + "\x01port=" + std::to_string(c.port) +
                  "\x01" + "auth=Bearer " + c.secret + "\x01\x01";
        }
        break;
    }
    return EncodeBase64(raw);
}

void SaslExchange::end(SaslOutcome o, std::string_view line) {
    outcome_ = o;
    final_.assign(line.substr(0, 512));
    phase_ = Phase::Done;
}

namespace {

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// A continuation line: "+" alone or "+ " and Base64 (possibly empty).
bool continuation(std::string_view line, std::string_view& payload) {
    if (line == "+") {
        payload = {};
        return true;
    }
    if (startsWith(line, "+ ")) {
        payload = line.substr(2);
        while (!payload.empty() && payload.back() == ' ') payload.remove_suffix(1);
        return true;
    }
    return false;
}

}  // namespace

SaslExchange::Step SaslExchange::onLine(std::string_view line) {
    if (phase_ == Phase::Done) return {};
    // "+OK" and "-ERR" are checked before the continuation, since "+OK" also begins with "+".
    const bool ok = startsWith(line, "+OK");
    const bool err = startsWith(line, "-ERR");
    std::string_view payload;
    switch (phase_) {
    case Phase::AwaitingGo:
        if (err) {
            end(SaslOutcome::NotOffered, line);
            return {};
        }
        if (!ok && continuation(line, payload) && payload.empty()) {
            phase_ = Phase::CredentialsSent;
            return {true, response()};
        }
        end(SaslOutcome::ProtocolError, line);
        return {};
    case Phase::CredentialsSent:
        if (ok) {
            end(SaslOutcome::Succeeded, line);
            return {};
        }
        if (err) {
            end(SaslOutcome::Rejected, line);
            return {};
        }
        if (mechanism_ != SaslMechanism::Plain && continuation(line, payload) && !payload.empty()) {
            // The error challenge: its JSON says why; the answer lets the server end with -ERR.
            const auto json = DecodeBase64Strict(payload);
            if (!json) {
                end(SaslOutcome::ProtocolError, line);
                return {};
            }
            challengeSeen_ = true;
            if (const auto o = ParseJsonObject(*json)) challengeStatus_ = o->get("status").substr(0, 64);
            phase_ = Phase::ChallengeAnswered;
            return {true, mechanism_ == SaslMechanism::OAuthBearer ? "AQ==" : ""};
        }
        end(SaslOutcome::ProtocolError, line);
        return {};
    case Phase::ChallengeAnswered:
        if (err) {
            end(SaslOutcome::Rejected, line);
            return {};
        }
        // A "+OK" after the server said the token was refused cannot be trusted.
        end(SaslOutcome::ProtocolError, line);
        return {};
    case Phase::Cancelling:
        if (err) {
            end(SaslOutcome::Aborted, line);
            return {};
        }
        if (ok) {
            // The server let the login through before it saw "*": it is logged in,
            // but the client asked to stop, so the caller ends the connection.
            end(SaslOutcome::Aborted, line);
            return {};
        }
        if (continuation(line, payload)) return {};  // a challenge crossing the "*": wait for -ERR
        end(SaslOutcome::ProtocolError, line);
        return {};
    case Phase::Done: break;
    }
    return {};
}

SaslExchange::Step SaslExchange::cancel() {
    if (phase_ == Phase::Done || phase_ == Phase::Cancelling) return {};
    phase_ = Phase::Cancelling;
    return {true, "*"};
}

bool SaslExchange::credentialsRefused() const {
    if (outcome_ != SaslOutcome::Rejected) return false;
    if (challengeSeen_) return true;
    // "-ERR [CODE] text": only [AUTH] (or no code) speaks of the credentials.
    std::string_view rest = std::string_view(final_).substr(4);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.empty() || rest.front() != '[') return true;
    return startsWith(rest, "[AUTH]");
}

}  // namespace iw::auth
