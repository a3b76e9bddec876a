// The browser sign-in of a desktop program (RFC 8252): PKCE (S256), a fresh
// state, a listener on 127.0.0.1 at a free port with
// redirect_uri = http://localhost:<port>/, the authorize address handed to
// the caller's "open the browser" function, then exactly one redirect with
// the right state is taken, the browser gets a short page in the program's
// language, the listener closes, the code is exchanged and the tokens are
// stored with TokenStore.
//
// Everything runs on the caller's event loop: no thread and no blocking
// wait, so the tray and the timers go on. The code exchange is a nested
// wait inside a pump (as every network wait of the program is).
//
// Untrusted input: each browser connection may send at most one request of
// at most kMaxRequestBytes within a time limit of its own; requests for
// other paths (a favicon) get 404; a redirect with a wrong or missing state
// gets a page saying so and the sign-in goes on waiting; after the one
// accepted redirect every further request is refused. No token ever reaches
// a status text or a page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "auth/oauth_client.h"
#include "auth/oauth_config.h"
#include "auth/token_store.h"
#include "platform/platform.h"

namespace iw::auth {

// ---- The browser's request, parsed (a pure function, for tests) ----

constexpr std::size_t kMaxRequestBytes = 8 * 1024;

enum class RedirectKind {
    Incomplete,     // the request's header has not fully arrived yet
    TooLarge,       // more than kMaxRequestBytes before the header's end
    Malformed,      // not an HTTP request line ("GET <target> HTTP/1.x")
    OtherRequest,   // another path or method (favicon, a HEAD, "/" without code or error): 404
    WrongState,     // a redirect whose state is missing or not ours: refused, the sign-in waits on
    Code,           // a redirect with our state and an authorization code
    ProviderError,  // a redirect with our state and error=... (the user or the provider said no)
};

struct RedirectRequest {
    RedirectKind kind = RedirectKind::Incomplete;
    std::string code;              // Code: the authorization code
    std::string error;             // ProviderError: the OAuth2 error code, printable ASCII, at most 64 characters
    std::string errorDescription;  // ProviderError: the provider's text, printable ASCII, at most 200 characters
};

// Judges the bytes a browser sent so far against the expected state.
RedirectRequest ParseRedirectRequest(std::string_view bytes, std::string_view expectedState);

// ---- The sign-in ----

enum class SignInOutcome {
    Running,    // waiting for the browser, or exchanging the code
    SignedIn,   // the tokens are stored
    Cancelled,  // cancel() was called
    TimedOut,   // no usable redirect within the time limit
    Refused,    // the provider or the user said no (an error redirect, or the code was refused)
    Failed,     // could not start, could not reach the token endpoint, or could not store the tokens
};

struct SignInReport {
    SignInOutcome outcome = SignInOutcome::Running;
    std::u16string status;        // the program's text for the outcome; never holds a token
    std::string providerError;    // the OAuth2 error code when there was one ("access_denied", "invalid_grant")
    bool noRefreshToken = false;  // SignedIn, but the server gave no refresh token (the scope lacks offline access)
};

struct LoopbackSignInOptions {
    int limitSeconds = 300;      // from start() until a usable redirect arrives
    int connectionSeconds = 10;  // for one browser connection to send its whole request
    std::string loginHint;       // sent as login_hint when not empty (the account's user name)
};

class LoopbackSignIn {
public:
    // Gets the authorize address, from inside start(). It may open the system
    // browser, print the address, or both; it must not destroy the sign-in.
    using OpenBrowser = std::function<void(const std::string& authorizeUrl)>;
    // Gets the final report, once, from inside a pump (never from inside
    // start() or cancel()). It may destroy the sign-in.
    using Finished = std::function<void(const SignInReport&)>;

    // `address` names the account whose tokens are stored; `tokens` must
    // outlive the sign-in.
    LoopbackSignIn(platform::Platform& p, OAuthConfig config, TokenStore& tokens, std::u16string address,
                   LoopbackSignInOptions options = {});
    // Ends a sign-in under way quietly (no Finished call). Safe at any time,
    // also from inside a nested wait of the code exchange.
    ~LoopbackSignIn();
    LoopbackSignIn(const LoopbackSignIn&) = delete;
    LoopbackSignIn& operator=(const LoopbackSignIn&) = delete;

    // Opens the listener, makes the PKCE pair and the state, and calls
    // `open` with the authorize address. False when it cannot start (no
    // listener, no random source, an incomplete configuration); the report
    // then holds Failed and its status, and `finished` is still called from
    // the next pump. Call once.
    bool start(OpenBrowser open, Finished finished);

    // Ends the sign-in as Cancelled (the listener closes at once, an exchange
    // under way stops at its next event). Ignored once finished.
    void cancel();

    bool running() const { return report_.outcome == SignInOutcome::Running && started_; }
    // Running, or a page for the browser is still on its way (for at most
    // the connection time limit). A caller that ends the program right
    // after the sign-in pumps while busy(), so the browser gets its page.
    bool busy() const;
    const SignInReport& report() const { return report_; }
    std::uint16_t port() const { return port_; }
    const std::string& authorizeUrl() const { return authorizeUrl_; }
    const std::string& redirectUri() const { return redirectUri_; }

private:
    struct Connection;
    void onAcceptReady();
    void onData(Connection* c);
    void dropConnection(Connection* c);
    void answer(Connection* c, int status, const std::u16string& title, const std::u16string& text);
    void exchange(Connection* c, std::string code);
    void sweep();
    void finish(SignInOutcome outcome, std::u16string status, std::string providerError = {});
    void stopListening();

    platform::Platform& p_;
    OAuthConfig config_;
    TokenStore& tokens_;
    std::u16string address_;
    LoopbackSignInOptions options_;
    std::unique_ptr<platform::TcpListener> listener_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::string state_, verifier_, authorizeUrl_, redirectUri_;
    std::uint16_t port_ = 0;
    platform::TimerId limitTimer_ = 0;
    bool started_ = false;
    bool redirectTaken_ = false;
    Finished finished_;
    SignInReport report_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::shared_ptr<OAuthClient> client_;  // shared: a nested exchange keeps it alive past a destruction
};

// The program's text for an OAuth2 error code of a refused sign-in.
std::u16string RefusedSignInText(std::string_view error);

}  // namespace iw::auth
