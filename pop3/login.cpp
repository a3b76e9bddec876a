// The login step: greeting, STLS, CAPA, USER/PASS or SASL; see login.h.
#include "pop3/login.h"

namespace iw::pop3 {

namespace {

std::string FirstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

// A user name or password that would end the command line early could
// smuggle a command of its own onto the wire: it is never sent.
bool SafeOnWire(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

}  // namespace

std::string GreetingIdentity(std::string_view greeting) {
    std::string out;
    std::size_t i = 0;
    while (i < greeting.size()) {
        const std::size_t lt = greeting.find('<', i);
        if (lt == std::string_view::npos) break;
        const std::size_t gt = greeting.find('>', lt);
        if (gt == std::string_view::npos) break;
        out.append(greeting.substr(i, lt - i));
        i = gt + 1;
    }
    out.append(greeting.substr(std::min(i, greeting.size())));
    return out;
}

Login::Login(Connection& connection, LoginRequest request) : conn_(connection), request_(std::move(request)) {}

void Login::sendLines(const std::vector<Command>& lines) {
    std::vector<Command> commands = std::move(prefix_);
    prefix_.clear();
    commands.insert(commands.end(), lines.begin(), lines.end());
    conn_.sendAll(commands);
    for (const Command& c : commands) {
        if (!greetingSeen_) {
            // Queued before the greeting (start()): told once the greeting came.
            earlyTags_.push_back(c.tag);
            continue;
        }
        lastTag_ = c.tag;
        if (sent_) sent_(c.tag);
    }
}

void Login::finish(LoginOutcome outcome, const Reply* reply) {
    if (outcome_ != LoginOutcome::Running) return;
    outcome_ = outcome;
    if (reply) refusal_ = FirstLine(reply->text);
}

void Login::onEnded() { finish(LoginOutcome::Ended, nullptr); }

void Login::start() {
    if (done() || greetingSeen_ || early_) return;
    const LoginRequest& r = request_;
    // Only over TLS from the first byte (the certificate proves the server
    // before anything travels), only for a password login, and only with
    // capabilities remembered from a protected session of this account.
    if (!r.secured || r.startTls || r.saslOnly || !r.remembered) return;
    const Capabilities& known = *r.remembered;
    if (!known.pipelining || !known.user || known.stls) return;
    for (const std::shared_ptr<SaslMechanism>& m : r.mechanisms)
        if (m && known.offersSasl(m->name())) return;  // the login might take that mechanism
    // Credentials whose UTF-8 differs must wait for UTF8's answer.
    if (known.utf8 && ((r.userUtf8 && *r.userUtf8 != r.user) || (r.passwordUtf8 && *r.passwordUtf8 != r.password)))
        return;
    caps_ = known;
    early_ = true;
    authenticate();
}

void Login::onReply(const Reply& r) {
    if (done()) return;
    switch (r.tag) {
    case kTagGreeting: {
        greeting_ = FirstLine(r.text);
        greetingSeen_ = true;
        if (!r.ok) {
            // The login already went out: nothing more is read or sent.
            if (early_) conn_.close();
            // An account that asked for STLS reports it as STLS not given,
            // as it always has; the others as a server that does not let us in.
            if (request_.startTls) {
                tlsFailure_ = platform::TlsFailure::StlsRefused;
                conn_.close();
                finish(LoginOutcome::TlsFailed, &r);
                return;
            }
            finish(LoginOutcome::GreetingRefused, &r);
            return;
        }
        if (early_) {
            for (const int tag : earlyTags_) {
                lastTag_ = tag;
                if (sent_) sent_(tag);
            }
            earlyTags_.clear();
            // Another greeting may be another server behind the same name:
            // what it offers is asked once the login is answered.
            capaAfterLogin_ = GreetingIdentity(greeting_) != GreetingIdentity(request_.rememberedGreeting);
            return;
        }
        if (request_.startTls) {
            sendLines({{"STLS", Shape::Line, kTagStls, 0}});
            return;
        }
        afterSecured();
        return;
    }
    case kTagStls:
        if (!r.ok) {
            tlsFailure_ = platform::TlsFailure::StlsRefused;
            conn_.close();  // the account asked for TLS: nothing more goes out in plain
            finish(LoginOutcome::TlsFailed, &r);
            return;
        }
        if (!conn_.startTls()) {
            // Bytes behind the "+OK": whatever they say, the connection ends.
            tlsFailure_ = platform::TlsFailure::Handshake;
            conn_.close();
            finish(LoginOutcome::TlsFailed, nullptr);
            return;
        }
        tlsStarted_ = true;
        // CAPA (or the login) goes out now and travels once the handshake
        // and the certificate checks have passed.
        afterSecured();
        return;
    case kTagCapa:
        // "-ERR" or an unknown command: an RFC 1939 server, USER/PASS one at a time.
        caps_ = ParseCapabilities(r.ok, r.text);
        if (capaAfterLogin_) {
            // Asked after the login: the login is done.
            capaAfterLogin_ = false;
            outcome_ = LoginOutcome::LoggedIn;
            refusal_ = passReply_;
            return;
        }
        authenticate();
        return;
    case kTagUser:
        if (!r.ok) {
            finish(LoginOutcome::UserRefused, &r);
            return;
        }
        if (!pipelinedPass_) sendLines({{"PASS " + request_.password, Shape::Line, kTagPass, 0}});
        return;
    case kTagPass:
        if (r.ok && capaAfterLogin_) {
            passReply_ = FirstLine(r.text);
            askCapa();
            return;
        }
        finish(r.ok ? LoginOutcome::LoggedIn : LoginOutcome::PassRefused, &r);
        return;
    case kTagUtf8:
        utf8Accepted_ = r.ok;
        // Refused or not, the login goes on (unless it is already on its way).
        if (utf8Awaited_) {
            utf8Awaited_ = false;
            authenticate();
        }
        return;
    case kTagAuth:
        if (r.challenge && mechanism_) {
            const std::string line = FirstLine(r.text);
            std::string_view challenge = line;
            challenge.remove_prefix(std::min<std::size_t>(challenge.size(), 2));
            const std::optional<std::string> answer = mechanism_->answer(challenge);
            sendLines({{answer && SafeOnWire(*answer) ? *answer : std::string("*"), Shape::Sasl, kTagAuth, 0}});
            return;
        }
        finish(r.ok ? LoginOutcome::LoggedIn : LoginOutcome::AuthRefused, &r);
        return;
    default: return;
    }
}

// After the greeting, or after STLS: the capabilities, asked or remembered.
void Login::afterSecured() {
    // Remembered capabilities that list STLS were read before TLS (a server
    // never lists it after): on an STLS connection they are not used.
    const bool usable = request_.remembered && !(tlsStarted_ && request_.remembered->stls);
    if (usable && GreetingIdentity(greeting_) == GreetingIdentity(request_.rememberedGreeting)) {
        caps_ = *request_.remembered;
        authenticate();
        return;
    }
    askCapa();
}

void Login::askCapa() {
    askedCapa_ = true;
    sendLines({{"CAPA", Shape::MultiLine, kTagCapa, 0}});
}

void Login::authenticate() {
    if (caps_.utf8 && !utf8Asked_) {
        utf8Asked_ = true;
        const Command utf8{"UTF8", Shape::Line, kTagUtf8, 0};
        // Credentials whose UTF-8 differs from the bytes given wait for the
        // answer: which of the two to send depends on it.
        const bool differ = (request_.userUtf8 && *request_.userUtf8 != request_.user) ||
                            (request_.passwordUtf8 && *request_.passwordUtf8 != request_.password);
        if (!caps_.pipelining || differ) {
            utf8Awaited_ = true;
            sendLines({utf8});  // the login goes on at its reply
            return;
        }
        prefix_.push_back(utf8);  // goes in the same write as the login's first line
    }
    for (const std::shared_ptr<SaslMechanism>& m : request_.mechanisms) {
        if (!m || !caps_.offersSasl(m->name())) continue;
        // PLAIN only where the server does not take USER: USER/PASS is what
        // every server that lists both has always been given.
        if (m->name() == "PLAIN" && caps_.user) continue;
        if (m->needsTls() && !(request_.secured && (!request_.startTls || tlsStarted_))) continue;
        const std::optional<std::string> initial = m->initialResponse();
        const std::string name = m->name();
        if (!SafeOnWire(name) || (initial && !SafeOnWire(*initial))) continue;
        mechanism_ = m;
        mechanismName_ = name;
        sendLines({{"AUTH " + name + (initial ? " " + *initial : std::string()), Shape::Sasl, kTagAuth, 0}});
        return;
    }
    if (request_.saslOnly) {
        finish(LoginOutcome::NoMechanism, nullptr);
        return;
    }
    userPass();
}

// The one place in the program that sends USER.
void Login::userPass() {
    // UTF-8 once the server accepted UTF8 (and only then: a server that did
    // not would read them in its own way); the owner's bytes otherwise.
    if (utf8Accepted_) {
        if (request_.userUtf8) request_.user = *request_.userUtf8;
        if (request_.passwordUtf8) request_.password = *request_.passwordUtf8;
    }
    if (!SafeOnWire(request_.user) || !SafeOnWire(request_.password)) {
        finish(LoginOutcome::UserRefused, nullptr);
        return;
    }
    const Command user{"USER " + request_.user, Shape::Line, kTagUser, 0};
    if (caps_.pipelining) {
        // Both in one write, and nothing after PASS: the login ends there.
        pipelinedPass_ = true;
        sendLines({user, {"PASS " + request_.password, Shape::Line, kTagPass, 0}});
    } else {
        sendLines({user});
    }
}

}  // namespace iw::pop3
