// The browser sign-in over a loopback redirect; see loopback_signin.h.
#include "auth/loopback_signin.h"

#include <algorithm>
#include <chrono>

namespace iw::auth {

namespace {

// At most this many browser connections are served at once; more are closed
// as soon as they are accepted (a browser opens two or three).
constexpr std::size_t kMaxConnections = 8;
constexpr std::size_t kMaxCodeLength = 4096;

// Printable ASCII without spaces, cut to `limit`; anything else becomes "?".
std::string printableWord(std::string_view s, std::size_t limit) {
    std::string out;
    for (const char c : s.substr(0, limit)) out += (c > 0x20 && c < 0x7F) ? c : '?';
    return out;
}

std::string printableText(std::string_view s, std::size_t limit) {
    std::string out;
    for (const char c : s.substr(0, limit)) out += (c >= 0x20 && c < 0x7F) ? c : '?';
    return out;
}

// Compares without stopping at the first difference, so the time taken says
// nothing about how much of a guessed state was right.
bool sameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::u16string ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

std::u16string htmlEscaped(const std::u16string& s) {
    std::u16string out;
    for (const char16_t c : s) {
        switch (c) {
        case u'<': out += u"&lt;"; break;
        case u'>': out += u"&gt;"; break;
        case u'&': out += u"&amp;"; break;
        case u'"': out += u"&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

const char* reasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 409: return "Conflict";
    case 431: return "Request Header Fields Too Large";
    default: return "Error";
    }
}

}  // namespace

RedirectRequest ParseRedirectRequest(std::string_view bytes, std::string_view expectedState) {
    RedirectRequest r;
    std::size_t end = bytes.find("\r\n\r\n");
    const std::size_t endLf = bytes.find("\n\n");
    if (endLf != std::string_view::npos && (end == std::string_view::npos || endLf < end)) end = endLf;
    if (end == std::string_view::npos) {
        r.kind = bytes.size() > kMaxRequestBytes ? RedirectKind::TooLarge : RedirectKind::Incomplete;
        return r;
    }
    if (end > kMaxRequestBytes) {
        r.kind = RedirectKind::TooLarge;
        return r;
    }
    std::string_view line = bytes.substr(0, bytes.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t sp1 = line.find(' ');
    const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp1 == std::string_view::npos || sp2 == std::string_view::npos || sp1 == 0 || sp2 == sp1 + 1 ||
        line.find(' ', sp2 + 1) != std::string_view::npos || line.substr(sp2 + 1).rfind("HTTP/1.", 0) != 0) {
        r.kind = RedirectKind::Malformed;
        return r;
    }
    const std::string_view method = line.substr(0, sp1);
    std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    if (target.front() != '/') {
        r.kind = RedirectKind::Malformed;
        return r;
    }
    const std::size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    std::string_view query = question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    query = query.substr(0, query.find('#'));
    const std::optional<std::string> code = FormValue(query, "code");
    const std::optional<std::string> error = FormValue(query, "error");
    if (method != "GET" || path != "/" || (!code && !error)) {
        r.kind = RedirectKind::OtherRequest;
        return r;
    }
    const std::optional<std::string> state = FormValue(query, "state");
    if (expectedState.empty() || !state || !sameSecret(*state, expectedState)) {
        r.kind = RedirectKind::WrongState;
        return r;
    }
    if (error) {
        r.kind = RedirectKind::ProviderError;
        r.error = printableWord(error->empty() ? std::string_view("unknown_error") : std::string_view(*error), 64);
        if (const auto d = FormValue(query, "error_description")) r.errorDescription = printableText(*d, 200);
        return r;
    }
    const bool codeClean = !code->empty() && code->size() <= kMaxCodeLength &&
                           std::all_of(code->begin(), code->end(), [](char c) { return c > 0x20 && c < 0x7F; });
    if (!codeClean) {
        r.kind = RedirectKind::Malformed;
        return r;
    }
    r.kind = RedirectKind::Code;
    r.code = *code;
    return r;
}

std::u16string RefusedSignInText(std::string_view error) {
    if (error == "access_denied") return u"登入遭拒:未同意程式存取信箱";
    if (error == "invalid_grant") return u"登入遭拒:授權碼無效或已過期,請再登入一次";
    if (error == "invalid_client" || error == "unauthorized_client")
        return u"登入遭拒:登入伺服器不接受此用戶端識別碼(OAuthClientId)";
    if (error == "invalid_scope") return u"登入遭拒:登入伺服器不接受要求的權限範圍(OAuthScope)";
    if (error == "consent_required" || error == "interaction_required" || error == "login_required")
        return u"登入遭拒:需要在瀏覽器中完成登入與同意,請再登入一次";
    return u"登入遭拒(" + ascii(printableWord(error, 64)) + u")";
}

// One browser connection: the bytes of its request so far and its own time limit.
struct LoopbackSignIn::Connection {
    std::unique_ptr<platform::TcpSocket> socket;
    std::string request;
    platform::TimerId timer = 0;
    bool answered = false;  // a reply is on its way; the socket closes when it has been sent
    bool holding = false;   // the accepted redirect: answered once the code has been exchanged
    bool dead = false;      // closed; removed at the next sweep
};

LoopbackSignIn::LoopbackSignIn(platform::Platform& p, OAuthConfig config, TokenStore& tokens, std::u16string address,
                               LoopbackSignInOptions options)
    : p_(p),
      config_(std::move(config)),
      tokens_(tokens),
      address_(std::move(address)),
      options_(std::move(options)),
      client_(std::make_shared<OAuthClient>(p, config_)) {}

LoopbackSignIn::~LoopbackSignIn() {
    alive_.reset();
    if (client_) client_->cancel();
    if (limitTimer_) p_.loop.stopTimer(limitTimer_);
    stopListening();
    for (auto& c : connections_) {
        if (c->timer) p_.loop.stopTimer(c->timer);
        c->socket->close();
    }
}

bool LoopbackSignIn::start(OpenBrowser open, Finished finished) {
    if (started_) return false;
    started_ = true;
    finished_ = std::move(finished);
    if (const std::u16string problem = OAuthConfigProblem(config_); !problem.empty()) {
        finish(SignInOutcome::Failed, problem);
        return false;
    }
    // The address goes to the system's "open" verb: only a web address, never
    // a file or a program a settings file might name.
    if (!ParseHttpUrl(config_.authorizeUrl) || !ParseHttpUrl(config_.tokenUrl)) {
        finish(SignInOutcome::Failed, u"OAuth2登入網址無效(須為https網址)");
        return false;
    }
    const std::optional<Pkce> pkce = MakePkce();
    state_ = MakeState();
    if (!pkce || state_.empty()) {
        finish(SignInOutcome::Failed, u"無法開始登入:無法產生安全的亂數");
        return false;
    }
    verifier_ = pkce->verifier;
    listener_ = p_.network.createListener();
    if (!listener_ || !listener_->listenLoopback(0)) {
        finish(SignInOutcome::Failed, u"無法開始登入:無法在本機開啟等候瀏覽器的連接埠");
        return false;
    }
    port_ = listener_->port();
    listener_->setAcceptReady([this] { onAcceptReady(); });
    redirectUri_ = "http://localhost:" + std::to_string(port_) + "/";
    authorizeUrl_ = AuthorizeUrl(config_, redirectUri_, state_, pkce->challenge, options_.loginHint);
    const int limit = std::max(1, options_.limitSeconds);
    limitTimer_ = p_.loop.startTimer(platform::Milliseconds(static_cast<std::int64_t>(limit) * 1000), false, [this] {
        limitTimer_ = 0;
        finish(SignInOutcome::TimedOut, u"等候瀏覽器登入逾時,請再登入一次");
    });
    if (open) open(authorizeUrl_);
    return true;
}

bool LoopbackSignIn::busy() const {
    if (running()) return true;
    return std::any_of(connections_.begin(), connections_.end(),
                       [](const std::unique_ptr<Connection>& c) { return c->answered && !c->dead; });
}

void LoopbackSignIn::cancel() {
    if (!started_ || report_.outcome != SignInOutcome::Running) return;
    if (client_) client_->cancel();
    finish(SignInOutcome::Cancelled, u"已取消登入");
}

void LoopbackSignIn::stopListening() {
    if (listener_) listener_->close();
}

void LoopbackSignIn::onAcceptReady() {
    while (listener_) {
        std::unique_ptr<platform::TcpSocket> socket = listener_->accept();
        if (!socket) return;
        sweep();
        if (report_.outcome != SignInOutcome::Running || connections_.size() >= kMaxConnections) {
            socket->close();
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->socket = std::move(socket);
        Connection* raw = c.get();
        platform::TcpSocketEvents events;
        events.dataArrival = [this, raw](std::size_t) { onData(raw); };
        events.sendComplete = [this, raw] {
            if (raw->answered) dropConnection(raw);
        };
        events.closed = [this, raw] {
            if (!raw->holding) dropConnection(raw);
        };
        events.error = [this, raw](int, const std::string&) { dropConnection(raw); };
        raw->socket->setEvents(std::move(events));
        const int seconds = std::max(1, options_.connectionSeconds);
        raw->timer = p_.loop.startTimer(platform::Milliseconds(static_cast<std::int64_t>(seconds) * 1000), false,
                                        [this, raw] {
                                            raw->timer = 0;
                                            if (!raw->holding) dropConnection(raw);
                                        });
        connections_.push_back(std::move(c));
    }
}

void LoopbackSignIn::dropConnection(Connection* c) {
    if (c->dead) return;
    c->dead = true;
    if (c->timer) p_.loop.stopTimer(c->timer);
    c->timer = 0;
    // Closing is safe inside the socket's own event; destroying it is not,
    // so the object goes at the next sweep.
    c->socket->close();
}

void LoopbackSignIn::sweep() {
    // The redirect held for its answer stays even when the browser went away:
    // the exchange still refers to it.
    std::erase_if(connections_, [](const std::unique_ptr<Connection>& c) { return c->dead && !c->holding; });
}

void LoopbackSignIn::answer(Connection* c, int status, const std::u16string& title, const std::u16string& text) {
    c->holding = false;
    if (c->dead || c->answered) return;
    if (c->socket->state() != platform::SocketState::Connected) {
        dropConnection(c);
        return;
    }
    c->answered = true;
    const std::u16string page = u"<!DOCTYPE html>\n<html lang=\"zh-Hant\"><head><meta charset=\"utf-8\"><title>" +
                                htmlEscaped(title) + u"</title></head>\n<body style=\"font-family:sans-serif;margin:3em\"><h1>" +
                                htmlEscaped(title) + u"</h1><p>" + htmlEscaped(text) + u"</p></body></html>\n";
    const std::string body = p_.codePage.fromUtf16(platform::kUtf8, page);
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) +
                       "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nCache-Control: no-store\r\nReferrer-Policy: no-referrer\r\nConnection: close\r\n\r\n";
    c->socket->send(head + body);
    // The browser has the connection's time limit again to take the page.
    if (c->timer) p_.loop.stopTimer(c->timer);
    const int seconds = std::max(1, options_.connectionSeconds);
    c->timer = p_.loop.startTimer(platform::Milliseconds(static_cast<std::int64_t>(seconds) * 1000), false, [this, c] {
        c->timer = 0;
        dropConnection(c);
    });
}

void LoopbackSignIn::onData(Connection* c) {
    if (c->dead) return;
    c->request += c->socket->receive();
    if (c->answered || c->holding) {
        c->request.clear();  // one request per connection; anything after it is ignored
        return;
    }
    const RedirectRequest r = ParseRedirectRequest(c->request, state_);
    switch (r.kind) {
    case RedirectKind::Incomplete: return;
    case RedirectKind::TooLarge:
        answer(c, 431, u"要求過大", u"瀏覽器送來的要求過大,已拒絕。");
        return;
    case RedirectKind::Malformed:
        answer(c, 400, u"要求無效", u"這不是有效的登入回應。");
        return;
    case RedirectKind::OtherRequest:
        answer(c, 404, u"找不到", u"此處只等候登入回應。");
        return;
    case RedirectKind::WrongState:
    case RedirectKind::ProviderError:
    case RedirectKind::Code: break;
    }
    if (redirectTaken_ || report_.outcome != SignInOutcome::Running) {
        answer(c, 409, u"登入已處理", u"這次登入已經處理過了,可以關閉此視窗並回到程式。");
        return;
    }
    if (r.kind == RedirectKind::WrongState) {
        answer(c, 400, u"登入未完成",
               u"這個登入回應不屬於程式正在等候的登入(state不符),已拒絕。請回到程式,必要時重新登入。");
        return;
    }
    redirectTaken_ = true;
    if (limitTimer_) p_.loop.stopTimer(limitTimer_);
    limitTimer_ = 0;
    stopListening();
    if (r.kind == RedirectKind::ProviderError) {
        const std::u16string status = RefusedSignInText(r.error);
        answer(c, 200, u"登入未完成", status + u"。請回到程式再登入一次。");
        finish(SignInOutcome::Refused, status, r.error);
        return;
    }
    // The browser waits for the page until the code has been exchanged, so
    // the page says what really happened.
    c->holding = true;
    if (c->timer) p_.loop.stopTimer(c->timer);
    c->timer = 0;
    std::weak_ptr<bool> alive = alive_;
    p_.loop.post([this, alive, c, code = r.code] {
        if (alive.expired()) return;
        exchange(c, code);
    });
}

void LoopbackSignIn::exchange(Connection* c, std::string code) {
    if (report_.outcome != SignInOutcome::Running) {
        // Cancelled or ended between the redirect and now.
        answer(c, 200, u"登入未完成", report_.status + u"。");
        return;
    }
    // The exchange is a nested wait; the sign-in may be cancelled or even
    // destroyed inside it, so everything it needs is held here.
    std::weak_ptr<bool> alive = alive_;
    const std::shared_ptr<OAuthClient> client = client_;
    const std::string verifier = verifier_, redirectUri = redirectUri_;
    const TokenReply reply = client->exchangeCode(code, verifier, redirectUri);
    if (alive.expired()) return;
    if (report_.outcome != SignInOutcome::Running) {
        answer(c, 200, u"登入未完成", report_.status + u"。");
        return;
    }
    if (reply.ok) {
        if (!tokens_.save(address_, TokensAfter(reply, {}, unixNow()))) {
            const std::u16string status = u"無法儲存登入權杖";
            answer(c, 200, u"登入未完成", status + u"。請回到程式查看。");
            finish(SignInOutcome::Failed, status);
            return;
        }
        report_.noRefreshToken = reply.refreshToken.empty();
        answer(c, 200, u"登入完成", u"登入完成,可以關閉此視窗並回到程式。");
        finish(SignInOutcome::SignedIn, u"登入完成,權杖已儲存");
        return;
    }
    if (reply.transport == HttpError::None && !reply.error.empty() && reply.error.rfind("http_", 0) != 0 &&
        reply.error != "invalid_reply") {
        const std::u16string status = RefusedSignInText(reply.error);
        answer(c, 200, u"登入未完成", status + u"。請回到程式再登入一次。");
        finish(SignInOutcome::Refused, status, printableWord(reply.error, 64));
        return;
    }
    std::u16string status;
    if (!reply.tlsText.empty())
        status = u"登入伺服器:" + reply.tlsText;
    else if (reply.transport == HttpError::None)
        status = u"登入伺服器的回覆無效(" + ascii(printableWord(reply.error, 64)) + u")";
    else if (reply.transport == HttpError::BadReply || reply.transport == HttpError::TooLarge)
        status = u"登入伺服器的回覆無效";
    else if (reply.transport == HttpError::Timeout)
        status = u"登入伺服器沒有回應,稍後再試";
    else
        status = u"無法連上登入伺服器,稍後再試";
    answer(c, 200, u"登入未完成", status + u"。請回到程式再試一次。");
    finish(SignInOutcome::Failed, status);
}

void LoopbackSignIn::finish(SignInOutcome outcome, std::u16string status, std::string providerError) {
    if (report_.outcome != SignInOutcome::Running) return;
    report_.outcome = outcome;
    report_.status = std::move(status);
    report_.providerError = std::move(providerError);
    if (limitTimer_) p_.loop.stopTimer(limitTimer_);
    limitTimer_ = 0;
    stopListening();
    // Connections still waiting for a request are closed; a page on its way
    // and the redirect held for its answer stay.
    for (auto& c : connections_)
        if (!c->answered && !c->holding) dropConnection(c.get());
    std::weak_ptr<bool> alive = alive_;
    p_.loop.post([this, alive] {
        if (alive.expired()) return;
        sweep();
        // The handler may destroy the sign-in: it gets a copy of the report.
        const SignInReport report = report_;
        if (Finished fn = std::move(finished_)) fn(report);
    });
}

}  // namespace iw::auth
