// The browser sign-in over a loopback redirect, in both builds on the real
// loop and sockets: the test plays the browser (a client socket that sends
// the redirect) and the token endpoint (a listener of its own that answers
// the code exchange), all on one event loop, as the program runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "auth/http_client.h"
#include "auth/loopback_signin.h"
#include "auth/oauth_client.h"
#include "platform/native.h"
#include "platform/secret_store.h"

namespace iw::auth {
namespace {

using platform::Milliseconds;
using std::chrono::steady_clock;

// ---- The request parser ----

TEST(RedirectRequestParse, JudgesEachRequest) {
    const std::string ok = "st4te-Of_22-characters";
    struct Case {
        const char* name;
        std::string bytes;
        RedirectKind kind;
        std::string code = {};
        std::string error = {};
    };
    const std::string tail = " HTTP/1.1\r\nHost: localhost:5000\r\nUser-Agent: x\r\n\r\n";
    const std::vector<Case> cases = {
        {"good", "GET /?code=abc.123&state=" + ok + tail, RedirectKind::Code, "abc.123"},
        {"good, state first and encoded code", "GET /?state=" + ok + "&code=a%2Fb%3D" + tail, RedirectKind::Code, "a/b="},
        {"bare LF line ends", "GET /?code=c&state=" + ok + " HTTP/1.0\n\n", RedirectKind::Code, "c"},
        {"wrong state", "GET /?code=abc&state=st4te-Of_22-characterz" + tail, RedirectKind::WrongState},
        {"shorter state", "GET /?code=abc&state=st4te" + tail, RedirectKind::WrongState},
        {"no state", "GET /?code=abc" + tail, RedirectKind::WrongState},
        {"empty state", "GET /?code=abc&state=" + tail, RedirectKind::WrongState},
        {"error with our state", "GET /?error=access_denied&error_description=The+user+said+no&state=" + ok + tail,
         RedirectKind::ProviderError, "", "access_denied"},
        {"error with a foreign state", "GET /?error=access_denied&state=x" + tail, RedirectKind::WrongState},
        {"error code cleaned", "GET /?error=bad%0D%0Athing&state=" + ok + tail, RedirectKind::ProviderError, "",
         "bad??thing"},
        {"favicon", "GET /favicon.ico" + tail, RedirectKind::OtherRequest},
        {"the root without a redirect", "GET /" + tail, RedirectKind::OtherRequest},
        {"another path with a code", "GET /x?code=abc&state=" + ok + tail, RedirectKind::OtherRequest},
        {"POST", "POST /?code=abc&state=" + ok + tail, RedirectKind::OtherRequest},
        {"code with a line end", "GET /?code=a%0D%0AQUIT&state=" + ok + tail, RedirectKind::Malformed},
        {"empty code", "GET /?code=&state=" + ok + tail, RedirectKind::Malformed},
        {"not HTTP", "HELLO\r\n\r\n", RedirectKind::Malformed},
        {"absolute target", "GET http://evil/?code=a&state=" + ok + tail, RedirectKind::Malformed},
        {"header not finished", "GET /?code=abc&state=" + ok + " HTTP/1.1\r\nHost: x\r\n", RedirectKind::Incomplete},
        {"nothing yet", "", RedirectKind::Incomplete},
        {"oversized, no end", "GET /?code=" + std::string(kMaxRequestBytes + 1, 'a'), RedirectKind::TooLarge},
        {"oversized header", "GET /?code=a&state=" + ok + " HTTP/1.1\r\nX: " + std::string(kMaxRequestBytes, 'a') +
                                 "\r\n\r\n",
         RedirectKind::TooLarge},
    };
    for (const Case& c : cases) {
        const RedirectRequest r = ParseRedirectRequest(c.bytes, ok);
        EXPECT_EQ(r.kind, c.kind) << c.name;
        EXPECT_EQ(r.code, c.code) << c.name;
        EXPECT_EQ(r.error, c.error) << c.name;
    }
    // A sign-in without a state of its own accepts no redirect at all.
    EXPECT_EQ(ParseRedirectRequest("GET /?code=abc&state=" + tail, "").kind, RedirectKind::WrongState);
    // The provider's description comes back as printable text.
    EXPECT_EQ(ParseRedirectRequest("GET /?error=access_denied&error_description=No%01way&state=" + ok + tail, ok)
                  .errorDescription,
              "No?way");
}

TEST(RedirectRequestParse, RequestSplitAnywhereIsJudgedOnlyWhenWhole) {
    const std::string state = "S";
    const std::string whole = "GET /?code=abc&state=S HTTP/1.1\r\nHost: localhost\r\n\r\n";
    for (std::size_t cut = 0; cut < whole.size(); ++cut)
        EXPECT_EQ(ParseRedirectRequest(whole.substr(0, cut), state).kind, RedirectKind::Incomplete) << cut;
    EXPECT_EQ(ParseRedirectRequest(whole, state).kind, RedirectKind::Code);
}

TEST(RedirectRequestParse, RefusalTextsSayWhatHappenedWithoutEchoingMarkup) {
    EXPECT_NE(RefusedSignInText("access_denied").find(u"未同意"), std::u16string::npos);
    EXPECT_NE(RefusedSignInText("invalid_grant").find(u"再登入"), std::u16string::npos);
    EXPECT_EQ(RefusedSignInText("weird<b>"), u"登入遭拒(weird<b>)");
    EXPECT_EQ(RefusedSignInText("a b\r\n").find(u'\n'), std::u16string::npos);
}

// ---- The sign-in on the real loop ----

// The token endpoint: answers each POST with `status` and `body`, or never
// when `silent`; records each form it received.
struct TokenEndpoint {
    std::unique_ptr<platform::TcpListener> listener;
    struct Conn {
        std::unique_ptr<platform::TcpSocket> socket;
        std::string in;
        bool answered = false;
    };
    std::vector<std::unique_ptr<Conn>> conns;
    int status = 200;
    std::string body;
    bool silent = false;
    std::vector<std::string> forms;
    std::function<void()> onForm;

    // Answers the requests kept unanswered while `silent`.
    void release() {
        silent = false;
        for (auto& c : conns)
            if (c->answered) reply(c.get());
    }
    void reply(Conn* c) {
        c->socket->send("HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }

    void start(platform::Network& net) {
        listener = net.createListener();
        listener->setAcceptReady([this] {
            while (auto s = listener->accept()) {
                auto c = std::make_unique<Conn>();
                c->socket = std::move(s);
                Conn* raw = c.get();
                platform::TcpSocketEvents e;
                e.dataArrival = [this, raw](std::size_t) { onData(raw); };
                raw->socket->setEvents(std::move(e));
                conns.push_back(std::move(c));
            }
        });
        ASSERT_TRUE(listener->listenLoopback());
    }
    void onData(Conn* c) {
        c->in += c->socket->receive();
        const std::size_t end = c->in.find("\r\n\r\n");
        if (end == std::string::npos || c->answered) return;
        const std::size_t lengthAt = c->in.find("Content-Length: ");
        const std::size_t length = lengthAt < end ? std::stoul(c->in.substr(lengthAt + 16)) : 0;
        if (c->in.size() < end + 4 + length) return;
        c->answered = true;
        forms.push_back(c->in.substr(end + 4, length));
        if (onForm) onForm();
        if (!silent) reply(c);
    }
};

// A browser connection: sends what the test says and collects the page.
struct Browser {
    std::unique_ptr<platform::TcpSocket> socket;
    bool connected = false, ended = false;
    std::string page;
    int status() const { return page.size() > 12 && page.rfind("HTTP/1.1 ", 0) == 0 ? std::stoi(page.substr(9, 3)) : 0; }
};

class LoopbackSignInTest : public ::testing::Test {
protected:
    platform::NativePlatform native;
    platform::Platform& p = native.get();
    std::filesystem::path dir;
    std::unique_ptr<platform::SecretStore> secrets = platform::createSecretStore();
    std::unique_ptr<TokenStore> tokens;
    TokenEndpoint endpoint;
    std::unique_ptr<LoopbackSignIn> signIn;
    std::optional<SignInReport> finished;
    int finishedCalls = 0;
    std::string opened;

    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("iw-signin-" + std::to_string(steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(dir);
        tokens = std::make_unique<TokenStore>(*secrets, dir.u16string(),
                                              static_cast<char16_t>(std::filesystem::path::preferred_separator));
        endpoint.start(p.network);
        endpoint.body = R"({"access_token":"at-secret","refresh_token":"rt-secret","expires_in":3600,"token_type":"Bearer"})";
    }
    void TearDown() override {
        signIn.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    OAuthConfig config() const {
        OAuthConfig c;
        c.provider = OAuthProvider::Custom;
        c.clientId = "test-client";
        c.authorizeUrl = "https://auth.example/authorize";
        c.tokenUrl = "http://127.0.0.1:" + std::to_string(endpoint.listener->port()) + "/token";
        c.scope = "mail offline_access";
        return c;
    }

    void begin(LoopbackSignInOptions options = {}) {
        signIn = std::make_unique<LoopbackSignIn>(p, config(), *tokens, u"me@example.com", options);
        ASSERT_TRUE(signIn->start([this](const std::string& url) { opened = url; },
                                  [this](const SignInReport& r) {
                                      finished = r;
                                      ++finishedCalls;
                                  }));
        ASSERT_NE(signIn->port(), 0);
    }

    std::string query(const std::string& name) const {
        return FormValue(opened.substr(opened.find('?') + 1), name).value_or("");
    }

    bool pumpUntil(const std::function<bool()>& done, Milliseconds guard = Milliseconds(20000)) {
        const auto end = steady_clock::now() + guard;
        while (!done() && steady_clock::now() < end) p.loop.pump(Milliseconds(50));
        return done();
    }

    std::unique_ptr<Browser> connect(const std::string& address = "127.0.0.1") {
        auto b = std::make_unique<Browser>();
        b->socket = p.network.createTcp();
        Browser* raw = b.get();
        platform::TcpSocketEvents e;
        e.connected = [raw] { raw->connected = true; };
        e.dataArrival = [raw](std::size_t) { raw->page += raw->socket->receive(); };
        e.closed = [raw] { raw->ended = true; };
        e.error = [raw](int, const std::string&) { raw->ended = true; };
        b->socket->setEvents(std::move(e));
        b->socket->connect(address, signIn->port());
        pumpUntil([raw] { return raw->connected || raw->ended; });
        return b;
    }
    // One whole request on a new connection; returns the browser after the page came.
    std::unique_ptr<Browser> get(const std::string& target) {
        auto b = connect();
        EXPECT_TRUE(b->connected);
        b->socket->send("GET " + target + " HTTP/1.1\r\nHost: localhost:" + std::to_string(signIn->port()) + "\r\n\r\n");
        Browser* raw = b.get();
        EXPECT_TRUE(pumpUntil([raw] { return raw->ended; })) << target;
        return b;
    }
    std::string redirect(const std::string& state, const std::string& code = "the-code") {
        return "/?code=" + code + "&state=" + state + "&session_state=x";
    }
    std::string pageText(const Browser& b) const {
        return b.page.substr(b.page.find("\r\n\r\n") == std::string::npos ? 0 : b.page.find("\r\n\r\n"));
    }
    bool hasTokens() const {
        platform::SecretProblem why = platform::SecretProblem::None;
        return tokens->load(u"me@example.com", why).has_value();
    }
};

TEST_F(LoopbackSignInTest, SignsInWithPkceAndStoresTheTokens) {
    begin();
    // The authorize address: the loopback redirect on the listener's port, PKCE S256, a fresh state.
    EXPECT_EQ(query("redirect_uri"), "http://localhost:" + std::to_string(signIn->port()) + "/");
    EXPECT_EQ(signIn->redirectUri(), query("redirect_uri"));
    EXPECT_EQ(query("code_challenge_method"), "S256");
    EXPECT_EQ(query("response_type"), "code");
    EXPECT_EQ(query("client_id"), "test-client");
    EXPECT_EQ(query("state").size(), 22u);
    EXPECT_EQ(signIn->authorizeUrl(), opened);

    // A second browser connection (browsers open spare ones) stays open meanwhile.
    auto spare = connect();
    ASSERT_TRUE(spare->connected);
    auto idle = connect();
    ASSERT_TRUE(idle->connected);
    // While the code is being exchanged, the same redirect comes again on the
    // spare connection; the token endpoint answers once the spare has its page.
    endpoint.silent = true;
    endpoint.onForm = [&] {
        spare->socket->send("GET " + redirect(query("state")) + " HTTP/1.1\r\n\r\n");
    };
    Browser* rawSpare = spare.get();
    spare->socket->setEvents([&] {
        platform::TcpSocketEvents e;
        e.dataArrival = [&, rawSpare](std::size_t) {
            rawSpare->page += rawSpare->socket->receive();
            if (rawSpare->page.find("\r\n\r\n") != std::string::npos) endpoint.release();
        };
        e.closed = [rawSpare] { rawSpare->ended = true; };
        e.error = [rawSpare](int, const std::string&) { rawSpare->ended = true; };
        return e;
    }());
    // The browser's favicon request is not the redirect.
    auto icon = get("/favicon.ico");
    EXPECT_EQ(icon->status(), 404);
    EXPECT_TRUE(signIn->running());

    auto b = get(redirect(query("state")));
    EXPECT_EQ(b->status(), 200);
    EXPECT_NE(b->page.find("charset=utf-8"), std::string::npos);
    EXPECT_NE(pageText(*b).find(reinterpret_cast<const char*>(u8"登入完成")), std::string::npos) << b->page;
    ASSERT_TRUE(pumpUntil([&] { return finished.has_value(); }));
    EXPECT_EQ(finished->outcome, SignInOutcome::SignedIn);
    EXPECT_FALSE(finished->noRefreshToken);
    EXPECT_EQ(finishedCalls, 1);
    EXPECT_FALSE(signIn->running());

    // The exchange carried the code, the verifier of the challenge and the same redirect address.
    ASSERT_EQ(endpoint.forms.size(), 1u);
    const std::string& form = endpoint.forms[0];
    EXPECT_EQ(FormValue(form, "grant_type"), "authorization_code");
    EXPECT_EQ(FormValue(form, "code"), "the-code");
    EXPECT_EQ(FormValue(form, "redirect_uri"), query("redirect_uri"));
    EXPECT_EQ(PkceChallenge(FormValue(form, "code_verifier").value_or("")), query("code_challenge"));

    platform::SecretProblem why = platform::SecretProblem::None;
    const auto stored = tokens->load(u"me@example.com", why);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->refreshToken, "rt-secret");
    EXPECT_EQ(stored->accessToken, "at-secret");
    EXPECT_GT(stored->accessExpiresAt, 0);
    const std::u16string status = finished->status;
    EXPECT_EQ(status.find(u"secret"), std::u16string::npos);
    EXPECT_EQ(b->page.find("secret"), std::string::npos);

    // Exactly one redirect: the same redirect again was refused, with no second exchange.
    EXPECT_TRUE(pumpUntil([rawSpare] { return rawSpare->ended; }));
    EXPECT_EQ(spare->status(), 409);
    // A connection that never sent anything is closed when the sign-in ends.
    Browser* rawIdle = idle.get();
    EXPECT_TRUE(pumpUntil([rawIdle] { return rawIdle->ended; }));
    EXPECT_TRUE(idle->page.empty());
    // And the listener is closed: a new connection is refused.
    const std::uint16_t port = signIn->port();
    auto late = p.network.createTcp();
    bool failed = false, connected = false;
    platform::TcpSocketEvents e;
    e.error = [&](int, const std::string&) { failed = true; };
    e.connected = [&] { connected = true; };
    late->setEvents(std::move(e));
    late->connect("127.0.0.1", port);
    ASSERT_TRUE(pumpUntil([&] { return failed || connected; }));
    EXPECT_TRUE(failed);
    EXPECT_EQ(endpoint.forms.size(), 1u);
    EXPECT_EQ(finishedCalls, 1);
}

TEST_F(LoopbackSignInTest, GoogleAsksForOfflineAccessAndSendsItsClientSecret) {
    OAuthSettings google;
    google.provider = "google";
    google.clientId = "desktop-client";
    google.clientSecret = "installed-app-secret";  // the account's own client's
    OAuthConfig c = ResolveOAuthConfig(google);
    EXPECT_EQ(c.authorizeUrl.rfind("https://accounts.google.com/", 0), 0u);
    c.tokenUrl = config().tokenUrl;  // the test's own token endpoint
    signIn = std::make_unique<LoopbackSignIn>(p, c, *tokens, u"me@gmail.com");
    ASSERT_TRUE(signIn->start([this](const std::string& url) { opened = url; },
                              [this](const SignInReport& r) { finished = r; }));
    // A refresh token comes back only with offline access and a fresh consent.
    EXPECT_EQ(query("access_type"), "offline");
    EXPECT_EQ(query("prompt"), "consent");
    EXPECT_EQ(query("scope"), "https://mail.google.com/");
    // The secret goes to the token endpoint only, never into the browser's address.
    EXPECT_EQ(opened.find("installed-app-secret"), std::string::npos);
    auto b = get(redirect(query("state")));
    ASSERT_TRUE(pumpUntil([&] { return finished.has_value(); }));
    EXPECT_EQ(finished->outcome, SignInOutcome::SignedIn);
    ASSERT_EQ(endpoint.forms.size(), 1u);
    EXPECT_EQ(FormValue(endpoint.forms[0], "client_secret"), "installed-app-secret");
    EXPECT_EQ(FormValue(endpoint.forms[0], "client_id"), "desktop-client");
}

TEST_F(LoopbackSignInTest, WrongStateIsRefusedAndTheRightOneStillAccepted) {
    begin();
    const std::string state = query("state");
    for (const std::string& target : {redirect("not-the-state"), std::string("/?code=the-code"),
                                      redirect(state.substr(0, 21)), std::string("/?error=access_denied&state=x")}) {
        auto b = get(target);
        EXPECT_EQ(b->status(), 400) << target;
        EXPECT_NE(pageText(*b).find("state"), std::string::npos) << target;
        EXPECT_TRUE(signIn->running()) << target;
    }
    EXPECT_TRUE(endpoint.forms.empty());
    auto b = get(redirect(state));
    EXPECT_EQ(b->status(), 200);
    ASSERT_TRUE(pumpUntil([&] { return finished.has_value(); }));
    EXPECT_EQ(finished->outcome, SignInOutcome::SignedIn);
}

TEST_F(LoopbackSignInTest, RequestSplitAcrossPacketsAndOversizedRequests) {
    begin();
    // An oversized request is refused; the sign-in goes on.
    auto big = connect();
    big->socket->send("GET /?code=" + std::string(kMaxRequestBytes + 100, 'a'));
    Browser* rawBig = big.get();
    EXPECT_TRUE(pumpUntil([rawBig] { return rawBig->ended; }));
    EXPECT_EQ(big->status(), 431);
    EXPECT_TRUE(signIn->running());

    // The redirect in three pieces, the loop running between them.
    auto b = connect();
    const std::string whole = "GET " + redirect(query("state")) + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
    const std::vector<std::string> pieces = {whole.substr(0, 9), whole.substr(9, 20), whole.substr(29)};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        b->socket->send(pieces[i]);
        for (int n = 0; n < 4; ++n) p.loop.pump(Milliseconds(20));
        if (i + 1 < pieces.size()) {
            EXPECT_TRUE(b->page.empty()) << "answered before the request was whole";
        }
    }
    Browser* raw = b.get();
    ASSERT_TRUE(pumpUntil([raw] { return raw->ended; }));
    EXPECT_EQ(b->status(), 200);
    ASSERT_TRUE(pumpUntil([&] { return finished.has_value(); }));
    EXPECT_EQ(finished->outcome, SignInOutcome::SignedIn);
}

TEST_F(LoopbackSignInTest, StalledAndSurplusConnectionsAreClosed) {
    LoopbackSignInOptions options;
    options.connectionSeconds = 1;
    begin(options);
    // Eight connections that never finish a request hold every place ...
    std::vector<std::unique_ptr<Browser>> stalled;
    for (int i = 0; i < 8; ++i) {
        stalled.push_back(connect());
        stalled.back()->socket->send("GET /?code=");
    }
    for (int i = 0; i < 5; ++i) p.loop.pump(Milliseconds(20));
    // ... so a ninth is closed at once, without a page,
    auto surplus = connect();
    Browser* rawSurplus = surplus.get();
    ASSERT_TRUE(pumpUntil([rawSurplus] { return rawSurplus->ended; }));
    EXPECT_TRUE(surplus->page.empty());
    // and the stalled ones are closed at their time limit; the sign-in goes on.
    ASSERT_TRUE(pumpUntil([&] {
        return std::all_of(stalled.begin(), stalled.end(), [](const auto& b) { return b->ended; });
    }));
    EXPECT_TRUE(signIn->running());
    auto b = get(redirect(query("state")));
    EXPECT_EQ(b->status(), 200);
    ASSERT_TRUE(pumpUntil([&] { return finished.has_value(); }));
    EXPECT_EQ(finished->outcome, SignInOutcome::SignedIn);
}

TEST_F(LoopbackSignInTest, ProviderErrorEndsAsRefusedWithoutAnExchange) {
    begin();
    auto b = connect();
    b->socket->send("GET /?error=access_denied&error_description=denied&state=" + query("state") + " HTTP/1.1\r\n\r\n");
    // A console program ends as soon as the sign-in is no longer busy: the page must be out by then.
    ASSERT_TRUE(pumpUntil([&] { return !signIn->busy() && finished.has_value(); }));
    signIn.reset();
    Browser* raw = b.get();
    ASSERT_TRUE(pumpUntil([raw] { return raw->ended; }));
    EXPECT_EQ(b->status(), 200);
    EXPECT_NE(pageText(*b).find(reinterpret_cast<const char*>(u8"未同意")), std::string::npos);
    EXPECT_EQ(finished->outcome, SignInOutcome::Refused);
    EXPECT_EQ(finished->providerError, "access_denied");
    EXPECT_EQ(finished->status, RefusedSignInText("access_denied"));
    EXPECT_TRUE(endpoint.forms.empty());
    EXPECT_FALSE(hasTokens());
}

TEST_F(LoopbackSignInTest, TokenEndpointOutcomes) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        bool reachable;
        SignInOutcome outcome;
        std::string providerError;
    };
    const std::vector<Case> cases = {
        {"code refused", 400, R"({"error":"invalid_grant"})", true, SignInOutcome::Refused, "invalid_grant"},
        {"server error page", 500, "<html>oops</html>", true, SignInOutcome::Failed, ""},
        {"token without a line-safe form", 200, R"({"access_token":"a\r\nDELE 1","token_type":"Bearer"})", true,
         SignInOutcome::Failed, ""},
        {"unreachable", 200, "", false, SignInOutcome::Failed, ""},
    };
    for (const Case& c : cases) {
        finished.reset();
        endpoint.forms.clear();
        endpoint.status = c.status;
        endpoint.body = c.body;
        begin();
        if (!c.reachable) endpoint.listener->close();
        auto b = get(redirect(query("state")));
        ASSERT_TRUE(pumpUntil([&] { return finished.has_value(); })) << c.name;
        EXPECT_EQ(finished->outcome, c.outcome) << c.name;
        EXPECT_EQ(finished->providerError, c.providerError) << c.name;
        EXPECT_FALSE(finished->status.empty()) << c.name;
        // The browser is told it did not work.
        EXPECT_EQ(pageText(*b).find(reinterpret_cast<const char*>(u8"登入完成")), std::string::npos) << c.name;
        EXPECT_NE(pageText(*b).find(reinterpret_cast<const char*>(u8"登入未完成")), std::string::npos) << c.name;
        EXPECT_FALSE(hasTokens()) << c.name;
        if (!c.reachable) endpoint.start(p.network);
    }
}

TEST_F(LoopbackSignInTest, TimeLimitAndCancel) {
    LoopbackSignInOptions quick;
    quick.limitSeconds = 1;
    begin(quick);
    const std::uint16_t port = signIn->port();
    ASSERT_TRUE(pumpUntil([&] { return finished.has_value(); }));
    EXPECT_EQ(finished->outcome, SignInOutcome::TimedOut);
    EXPECT_FALSE(signIn->running());
    auto late = p.network.createTcp();
    bool failed = false;
    platform::TcpSocketEvents e;
    e.error = [&](int, const std::string&) { failed = true; };
    e.connected = [&] { ADD_FAILURE() << "the listener is still open after the time limit"; };
    late->setEvents(std::move(e));
    late->connect("127.0.0.1", port);
    EXPECT_TRUE(pumpUntil([&] { return failed; }));

    // Cancel: the outcome is at once, the report comes from the next pump, once.
    finished.reset();
    finishedCalls = 0;
    begin();
    signIn->cancel();
    EXPECT_FALSE(signIn->running());
    EXPECT_EQ(signIn->report().outcome, SignInOutcome::Cancelled);
    EXPECT_FALSE(finished.has_value());
    signIn->cancel();
    ASSERT_TRUE(pumpUntil([&] { return finished.has_value(); }));
    EXPECT_EQ(finished->outcome, SignInOutcome::Cancelled);
    for (int i = 0; i < 3; ++i) p.loop.pump(Milliseconds(10));
    EXPECT_EQ(finishedCalls, 1);
}

TEST_F(LoopbackSignInTest, CancelDuringTheExchangeStoresNothing) {
    endpoint.silent = true;
    endpoint.onForm = [&] { p.loop.post([&] { signIn->cancel(); }); };
    begin();
    auto b = get(redirect(query("state")));
    ASSERT_TRUE(pumpUntil([&] { return finished.has_value(); }));
    EXPECT_EQ(finished->outcome, SignInOutcome::Cancelled);
    EXPECT_EQ(endpoint.forms.size(), 1u);
    EXPECT_NE(pageText(*b).find(reinterpret_cast<const char*>(u8"已取消")), std::string::npos) << b->page;
    EXPECT_FALSE(hasTokens());
}

TEST_F(LoopbackSignInTest, DestroyedInsideItsOwnWaits) {
    // From inside the Finished handler.
    signIn = std::make_unique<LoopbackSignIn>(p, config(), *tokens, u"me@example.com");
    bool called = false;
    ASSERT_TRUE(signIn->start({}, [&](const SignInReport& r) {
        called = true;
        EXPECT_EQ(r.outcome, SignInOutcome::Cancelled);
        signIn.reset();
    }));
    signIn->cancel();
    ASSERT_TRUE(pumpUntil([&] { return called; }));
    EXPECT_FALSE(signIn);

    // From inside the nested wait of the code exchange (a dialog closed meanwhile).
    endpoint.silent = true;
    endpoint.onForm = [&] { p.loop.post([&] { signIn.reset(); }); };
    begin();
    auto b = get(redirect(query("state")));
    EXPECT_FALSE(signIn);
    EXPECT_FALSE(finished.has_value());
    EXPECT_FALSE(hasTokens());
}

TEST_F(LoopbackSignInTest, CannotStartWithAnUnusableConfiguration) {
    struct Case {
        const char* name;
        std::function<void(OAuthConfig&)> spoil;
        std::u16string says;
    };
    const std::vector<Case> cases = {
        {"no client ID", [](OAuthConfig& c) { c.clientId.clear(); }, u"OAuthClientId"},
        // The address goes to the system's open verb: a file or a program must never get there.
        {"authorize address is a file", [](OAuthConfig& c) { c.authorizeUrl = "file:///C:/Windows/system32/calc.exe"; },
         u"網址"},
        {"authorize address is a command", [](OAuthConfig& c) { c.authorizeUrl = "calc.exe"; }, u"網址"},
        {"plain http to another host", [](OAuthConfig& c) { c.authorizeUrl = "http://auth.example/authorize"; },
         u"網址"},
    };
    for (const Case& k : cases) {
        OAuthConfig c = config();
        k.spoil(c);
        finished.reset();
        signIn = std::make_unique<LoopbackSignIn>(p, c, *tokens, u"me@example.com");
        bool opens = false;
        EXPECT_FALSE(signIn->start([&](const std::string&) { opens = true; },
                                   [&](const SignInReport& r) { finished = r; }))
            << k.name;
        EXPECT_FALSE(opens) << k.name;
        EXPECT_FALSE(signIn->running()) << k.name;
        EXPECT_EQ(signIn->port(), 0) << k.name;
        ASSERT_TRUE(pumpUntil([&] { return finished.has_value(); })) << k.name;
        EXPECT_EQ(finished->outcome, SignInOutcome::Failed) << k.name;
        EXPECT_NE(finished->status.find(k.says), std::u16string::npos) << k.name;
    }
}

}  // namespace
}  // namespace iw::auth
