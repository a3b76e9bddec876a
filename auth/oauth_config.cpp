// Provider presets and the effective OAuth2 configuration of an account.
#include "auth/oauth_config.h"

#ifndef IW_OAUTH_MICROSOFT_CLIENT_ID
#define IW_OAUTH_MICROSOFT_CLIENT_ID ""
#endif
#ifndef IW_OAUTH_GOOGLE_CLIENT_ID
#define IW_OAUTH_GOOGLE_CLIENT_ID ""
#endif
#ifndef IW_OAUTH_GOOGLE_CLIENT_SECRET
#define IW_OAUTH_GOOGLE_CLIENT_SECRET ""
#endif

namespace iw::auth {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string trimmed(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

bool safeTenant(const std::string& t) {
    if (t.empty() || t.size() > 100) return false;
    for (const char c : t)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
              c == '_'))
            return false;
    return true;
}

}  // namespace

bool UsesOAuth(const OAuthSettings& s) { return trimmed(s.auth) == "1"; }

OAuthProvider ParseOAuthProvider(const std::string& value) {
    const std::string v = lower(trimmed(value));
    if (v == "google") return OAuthProvider::Google;
    if (v == "custom") return OAuthProvider::Custom;
    return OAuthProvider::Microsoft;
}

const char* OAuthProviderName(OAuthProvider p) {
    switch (p) {
    case OAuthProvider::Microsoft: return "microsoft";
    case OAuthProvider::Google: return "google";
    case OAuthProvider::Custom: return "custom";
    }
    return "microsoft";
}

std::string BuildDefaultClientId(OAuthProvider p) {
    switch (p) {
    case OAuthProvider::Microsoft: return IW_OAUTH_MICROSOFT_CLIENT_ID;
    case OAuthProvider::Google: return IW_OAUTH_GOOGLE_CLIENT_ID;
    case OAuthProvider::Custom: return {};
    }
    return {};
}

std::string BuildDefaultClientSecret(OAuthProvider p) {
    return p == OAuthProvider::Google ? std::string(IW_OAUTH_GOOGLE_CLIENT_SECRET) : std::string();
}

OAuthConfig ResolveOAuthConfig(const OAuthSettings& s) {
    OAuthConfig c;
    c.provider = ParseOAuthProvider(s.provider);
    switch (c.provider) {
    case OAuthProvider::Microsoft: {
        std::string tenant = trimmed(s.tenant);
        if (!safeTenant(tenant)) tenant = "common";
        const std::string base = "https://login.microsoftonline.com/" + tenant + "/oauth2/v2.0/";
        c.authorizeUrl = base + "authorize";
        c.tokenUrl = base + "token";
        c.deviceUrl = base + "devicecode";
        c.scope = "https://outlook.office.com/POP.AccessAsUser.All offline_access";
        break;
    }
    case OAuthProvider::Google:
        c.authorizeUrl = "https://accounts.google.com/o/oauth2/v2/auth";
        c.tokenUrl = "https://oauth2.googleapis.com/token";
        c.scope = "https://mail.google.com/";
        break;
    case OAuthProvider::Custom: break;
    }
    const auto over = [](std::string& field, const std::string& value) {
        const std::string v = trimmed(value);
        if (!v.empty()) field = v;
    };
    over(c.authorizeUrl, s.authorizeUrl);
    over(c.tokenUrl, s.tokenUrl);
    over(c.deviceUrl, s.deviceUrl);
    over(c.scope, s.scope);
    // A client secret belongs to its client ID: the account's own secret
    // goes with the account's own ID, the build's with the build's.
    c.clientId = trimmed(s.clientId);
    if (c.clientId.empty()) {
        c.clientId = BuildDefaultClientId(c.provider);
        c.clientSecret = BuildDefaultClientSecret(c.provider);
    } else {
        c.clientSecret = trimmed(s.clientSecret);
    }
    return c;
}

std::u16string OAuthConfigProblem(const OAuthConfig& c) {
    if (c.clientId.empty()) return u"未設定OAuth2用戶端識別碼(OAuthClientId)";
    if (c.authorizeUrl.empty() || c.tokenUrl.empty()) return u"未設定OAuth2登入網址";
    return {};
}

}  // namespace iw::auth
