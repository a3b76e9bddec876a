// The OAuth2 client of a desktop program (RFC 6749 with PKCE, RFC 7636, and
// the device grant, RFC 8628): the authorize address, the code exchange, the
// refresh, the device code, and how a usable access token is found for an
// account. Requests go through HttpClient, so they are bounded in size and
// time and the caller's event loop keeps running.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "auth/http_client.h"
#include "auth/oauth_config.h"
#include "auth/token_store.h"

namespace iw::auth {

struct Pkce {
    std::string verifier;   // 43 characters of the URL-safe alphabet (32 random bytes)
    std::string challenge;  // BASE64URL(SHA256(verifier))
};
// A fresh verifier and its S256 challenge; nothing when the random source fails.
std::optional<Pkce> MakePkce();
std::string PkceChallenge(std::string_view verifier);
// A fresh state value (URL-safe, 22 characters); "" when the random source fails.
std::string MakeState();

// The address the browser opens.
std::string AuthorizeUrl(const OAuthConfig& c, const std::string& redirectUri, const std::string& state,
                         const std::string& challenge, const std::string& loginHint);

// A token endpoint's answer.
struct TokenReply {
    bool ok = false;
    std::string accessToken;
    std::string refreshToken;  // empty when the server did not rotate it
    long expiresIn = 0;        // seconds; 0 when not given
    std::string error;         // "invalid_grant", "authorization_pending", ... (OAuth2's own codes)
    HttpError transport = HttpError::None;
    int httpStatus = 0;
    std::u16string tlsText;
    // The refresh token (or code) is refused for good: the user must sign in again.
    bool signInAgain() const { return error == "invalid_grant" || error == "invalid_client" || error == "unauthorized_client"; }
};
TokenReply ParseTokenReply(int httpStatus, const std::string& body);

struct DeviceCode {
    bool ok = false;
    std::string deviceCode;
    std::string userCode;
    std::string verificationUri;
    long interval = 5;
    long expiresIn = 900;
    std::string error;
    HttpError transport = HttpError::None;
};

class OAuthClient {
public:
    OAuthClient(platform::Platform& p, OAuthConfig config) : http_(p), config_(std::move(config)) {}
    TokenReply exchangeCode(const std::string& code, const std::string& verifier, const std::string& redirectUri);
    TokenReply refresh(const std::string& refreshToken);
    DeviceCode startDevice();
    TokenReply pollDevice(const std::string& deviceCode);
    void cancel() { http_.cancel(); }
    const OAuthConfig& config() const { return config_; }

private:
    TokenReply post(const std::string& url, const std::string& form);
    HttpClient http_;
    OAuthConfig config_;
};

// The tokens to keep after a successful reply: a rotated refresh token
// replaces the old one, a reply without one keeps the old one.
StoredTokens TokensAfter(const TokenReply& reply, const std::string& oldRefresh, std::int64_t now);

// An access token for an account, as the mail check needs it.
struct AccessToken {
    bool ok = false;
    std::string token;
    bool signInAgain = false;  // no tokens stored, or the refresh token was refused
    bool refreshed = false;    // a refresh was made and its tokens stored
    std::u16string status;     // the program's text when not ok (never holds a token)
};

// The stored access token while it has more than a minute left and
// `forceRefresh` is false; otherwise a refresh, whose tokens are stored
// (the rotated refresh token first of all) before the new access token is
// handed out. A refresh that fails in transport keeps the stored tokens.
AccessToken GetAccessToken(OAuthClient& client, TokenStore& store, const std::u16string& address, std::int64_t now,
                           bool forceRefresh);

// The status text that asks the user to sign in again.
std::u16string SignInAgainText();

}  // namespace iw::auth
