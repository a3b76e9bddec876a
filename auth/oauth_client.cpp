// PKCE, the authorize address, token requests and the access-token rule.
#include "auth/oauth_client.h"

#include "auth/base64.h"
#include "auth/json.h"
#include "auth/sha256.h"
#include "platform/secret_store.h"

namespace iw::auth {

namespace {

std::string randomUrlText(std::size_t bytes) {
    std::string raw(bytes, '\0');
    if (!platform::SecureRandomBytes(reinterpret_cast<unsigned char*>(raw.data()), raw.size())) return {};
    return EncodeBase64Url(raw);
}

}  // namespace

std::string PkceChallenge(std::string_view verifier) { return EncodeBase64Url(Sha256(verifier)); }

std::optional<Pkce> MakePkce() {
    Pkce p;
    p.verifier = randomUrlText(32);
    if (p.verifier.empty()) return std::nullopt;
    p.challenge = PkceChallenge(p.verifier);
    return p;
}

std::string MakeState() { return randomUrlText(16); }

std::string AuthorizeUrl(const OAuthConfig& c, const std::string& redirectUri, const std::string& state,
                         const std::string& challenge, const std::string& loginHint) {
    std::string url = c.authorizeUrl;
    url += url.find('?') == std::string::npos ? '?' : '&';
    url += "client_id=" + PercentEncode(c.clientId) + "&response_type=code&redirect_uri=" + PercentEncode(redirectUri) +
           "&scope=" + PercentEncode(c.scope) + "&state=" + PercentEncode(state) +
           "&code_challenge=" + PercentEncode(challenge) + "&code_challenge_method=S256";
    if (!loginHint.empty()) url += "&login_hint=" + PercentEncode(loginHint);
    if (c.provider == OAuthProvider::Google) url += "&access_type=offline&prompt=consent";
    return url;
}

TokenReply ParseTokenReply(int status, const std::string& body) {
    TokenReply r;
    r.httpStatus = status;
    const std::optional<JsonObject> o = ParseJsonObject(body);
    if (!o) {
        r.transport = HttpError::BadReply;
        return r;
    }
    r.error = o->get("error").substr(0, 64);
    if (status == 200 && r.error.empty()) {
        r.accessToken = o->get("access_token");
        r.refreshToken = o->get("refresh_token");
        const std::string tokenType = o->get("token_type");
        long e = 0;
        for (const char c : o->get("expires_in")) {
            if (c < '0' || c > '9' || e > 100000000) break;
            e = e * 10 + (c - '0');
        }
        r.expiresIn = e;
        // A token with a line end or a NUL could smuggle a command onto the mail connection.
        const bool clean = r.accessToken.find_first_of(std::string_view("\r\n\0\x01", 4)) == std::string::npos &&
                           r.refreshToken.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
        r.ok = !r.accessToken.empty() && clean && r.accessToken.size() <= 16384 &&
               (tokenType.empty() || tokenType == "Bearer" || tokenType == "bearer");
        if (!r.ok && r.error.empty()) r.error = "invalid_reply";
    } else if (r.error.empty()) {
        r.error = "http_" + std::to_string(status);
    }
    return r;
}

TokenReply OAuthClient::post(const std::string& url, const std::string& form) {
    const HttpResult h = http_.postForm(url, form);
    if (h.error != HttpError::None) {
        TokenReply r;
        r.transport = h.error;
        r.tlsText = h.tlsText;
        return r;
    }
    return ParseTokenReply(h.status, h.body);
}

TokenReply OAuthClient::exchangeCode(const std::string& code, const std::string& verifier,
                                     const std::string& redirectUri) {
    std::string form = FormEncode({{"grant_type", "authorization_code"},
                                   {"code", code},
                                   {"redirect_uri", redirectUri},
                                   {"client_id", config_.clientId},
                                   {"code_verifier", verifier}});
    if (!config_.clientSecret.empty()) form += "&client_secret=" + PercentEncode(config_.clientSecret);
    return post(config_.tokenUrl, form);
}

TokenReply OAuthClient::refresh(const std::string& refreshToken) {
    std::string form = FormEncode({{"grant_type", "refresh_token"},
                                   {"refresh_token", refreshToken},
                                   {"client_id", config_.clientId},
                                   {"scope", config_.scope}});
    if (!config_.clientSecret.empty()) form += "&client_secret=" + PercentEncode(config_.clientSecret);
    return post(config_.tokenUrl, form);
}

DeviceCode OAuthClient::startDevice() {
    DeviceCode d;
    if (config_.deviceUrl.empty()) {
        d.error = "no_device_flow";
        return d;
    }
    const HttpResult h = http_.postForm(config_.deviceUrl, FormEncode({{"client_id", config_.clientId},
                                                                       {"scope", config_.scope}}));
    if (h.error != HttpError::None) {
        d.transport = h.error;
        return d;
    }
    const std::optional<JsonObject> o = ParseJsonObject(h.body);
    if (!o) {
        d.transport = HttpError::BadReply;
        return d;
    }
    d.error = o->get("error").substr(0, 64);
    d.deviceCode = o->get("device_code");
    d.userCode = o->get("user_code").substr(0, 64);
    d.verificationUri = o->get("verification_uri");
    if (d.verificationUri.empty()) d.verificationUri = o->get("verification_url");  // Google's older name
    const auto num = [](const std::string& s, long fallback, long lo, long hi) {
        long v = 0;
        if (s.empty()) return fallback;
        for (const char c : s) {
            if (c < '0' || c > '9' || v > hi) return fallback;
            v = v * 10 + (c - '0');
        }
        return v < lo ? lo : (v > hi ? hi : v);
    };
    d.interval = num(o->get("interval"), 5, 1, 60);
    d.expiresIn = num(o->get("expires_in"), 900, 10, 3600);
    // Only an https address (or a loopback one) is shown to the user to open.
    d.ok = h.status == 200 && d.error.empty() && !d.deviceCode.empty() && !d.userCode.empty() &&
           ParseHttpUrl(d.verificationUri).has_value();
    if (!d.ok && d.error.empty()) d.error = "invalid_reply";
    return d;
}

TokenReply OAuthClient::pollDevice(const std::string& deviceCode) {
    std::string form = FormEncode({{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
                                   {"device_code", deviceCode},
                                   {"client_id", config_.clientId}});
    if (!config_.clientSecret.empty()) form += "&client_secret=" + PercentEncode(config_.clientSecret);
    return post(config_.tokenUrl, form);
}

StoredTokens TokensAfter(const TokenReply& reply, const std::string& oldRefresh, std::int64_t now) {
    StoredTokens t;
    t.refreshToken = reply.refreshToken.empty() ? oldRefresh : reply.refreshToken;
    t.accessToken = reply.accessToken;
    t.accessExpiresAt = reply.expiresIn > 0 ? now + reply.expiresIn : 0;
    return t;
}

std::u16string SignInAgainText() { return u"登入已失效,請重新登入帳號"; }

AccessToken GetAccessToken(OAuthClient& client, TokenStore& store, const std::u16string& address, std::int64_t now,
                           bool forceRefresh) {
    AccessToken a;
    platform::SecretProblem why = platform::SecretProblem::None;
    const std::optional<StoredTokens> stored = store.load(address, why);
    if (!stored) {
        a.signInAgain = true;
        a.status = TokenProblemText(why);
        return a;
    }
    if (!forceRefresh && !stored->accessToken.empty() && stored->accessExpiresAt > now + 60) {
        a.ok = true;
        a.token = stored->accessToken;
        return a;
    }
    if (stored->refreshToken.empty()) {
        a.signInAgain = true;
        a.status = SignInAgainText();
        return a;
    }
    const TokenReply r = client.refresh(stored->refreshToken);
    if (!r.ok) {
        if (r.transport == HttpError::None && r.signInAgain()) {
            a.signInAgain = true;
            a.status = SignInAgainText();
        } else if (!r.tlsText.empty()) {
            a.status = u"登入伺服器:" + r.tlsText;
        } else {
            a.status = u"無法連上登入伺服器,稍後再試";
        }
        return a;
    }
    // The old refresh token is spent now: the new one must be on disk before anything else happens.
    if (!store.save(address, TokensAfter(r, stored->refreshToken, now))) {
        a.status = u"無法儲存登入權杖";
        return a;
    }
    a.ok = true;
    a.refreshed = true;
    a.token = r.accessToken;
    return a;
}

}  // namespace iw::auth
