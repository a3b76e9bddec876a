// The SASL exchange over POP3 and the choice of login method.
#include "auth/sasl.h"

#include <algorithm>

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

bool LoginCapabilities::offers(SaslMechanism m) const {
    return std::find(sasl.begin(), sasl.end(), std::string(SaslName(m))) != sasl.end();
}

namespace {

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::vector<std::string> words(std::string_view line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t s = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > s) out.emplace_back(line.substr(s, i - s));
    }
    return out;
}

}  // namespace

LoginCapabilities ParseLoginCapabilities(std::string_view reply) {
    LoginCapabilities caps;
    if (!startsWith(reply, "+OK")) return caps;
    caps.capaAnswered = true;
    std::size_t pos = reply.find('\n');
    while (pos != std::string_view::npos && pos + 1 < reply.size()) {
        const std::size_t start = pos + 1;
        pos = reply.find('\n', start);
        std::string_view line = reply.substr(start, pos == std::string_view::npos ? std::string_view::npos : pos - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == ".") break;
        const std::vector<std::string> w = words(line);
        if (w.empty()) continue;
        const std::string name = upper(w[0]);
        if (name == "USER") caps.user = true;
        if (name == "SASL") {
            caps.saslListed = true;
            for (std::size_t k = 1; k < w.size(); ++k) caps.sasl.push_back(upper(w[k]));
        }
    }
    return caps;
}

LoginChoice ChooseLogin(const LoginCapabilities& caps, LoginKind kind) {
    if (kind == LoginKind::Password) {
        if (caps.capaAnswered && !caps.user && caps.offers(SaslMechanism::Plain))
            return {LoginChoice::Sasl, SaslMechanism::Plain};
        return {LoginChoice::UserPass, SaslMechanism::Plain};
    }
    if (caps.offers(SaslMechanism::XOAuth2)) return {LoginChoice::Sasl, SaslMechanism::XOAuth2};
    if (caps.offers(SaslMechanism::OAuthBearer)) return {LoginChoice::Sasl, SaslMechanism::OAuthBearer};
    if (caps.capaAnswered && caps.saslListed) return {LoginChoice::Impossible, SaslMechanism::XOAuth2};
    return {LoginChoice::Sasl, SaslMechanism::XOAuth2};
}

}  // namespace iw::auth
