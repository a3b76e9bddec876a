// Where and how an account signs in with OAuth2: the provider's endpoints,
// scope and client ID, from the account's settings and the build's default
// client IDs.
//
// Settings of the account's section: `Auth` ("1" OAuth2, anything else the
// password), `OAuthProvider` (microsoft, google or custom), `OAuthTenant`
// (Microsoft; default "common"), `OAuthClientId` (empty: the build's
// default for the provider), and for custom providers and tests
// `OAuthAuthorizeUrl`, `OAuthTokenUrl`, `OAuthDeviceUrl`, `OAuthScope`,
// which also override a named provider's values when set.
// `OAuthClientSecret` is the "client secret" of the account's own client ID
// (Google's desktop clients have one and its token endpoint wants it). An
// installed program cannot keep it secret, but it is still sent only to
// the token endpoint, never put in an address, a status or a log.
#pragma once

#include <string>

namespace iw::auth {

enum class OAuthProvider { Microsoft, Google, Custom };

// The account's keys as stored (UTF-8), before defaults are applied.
struct OAuthSettings {
    std::string auth;          // "Auth"
    std::string provider;      // "OAuthProvider"
    std::string tenant;        // "OAuthTenant"
    std::string clientId;      // "OAuthClientId"
    std::string clientSecret;  // "OAuthClientSecret": goes with the account's own client ID only
    std::string authorizeUrl;  // "OAuthAuthorizeUrl"
    std::string tokenUrl;      // "OAuthTokenUrl"
    std::string deviceUrl;     // "OAuthDeviceUrl"
    std::string scope;         // "OAuthScope"
};

struct OAuthConfig {
    OAuthProvider provider = OAuthProvider::Microsoft;
    std::string clientId;
    std::string clientSecret;  // only Google's installed-app clients have one, and it is no secret
    std::string authorizeUrl;
    std::string tokenUrl;
    std::string deviceUrl;     // empty: the provider has no device-code flow for mail
    std::string scope;
};

// The account logs in with OAuth2 (`Auth` is "1").
bool UsesOAuth(const OAuthSettings& s);

OAuthProvider ParseOAuthProvider(const std::string& value);
const char* OAuthProviderName(OAuthProvider p);

// The build's default client IDs (CMake cache variables IW_OAUTH_MICROSOFT_CLIENT_ID,
// IW_OAUTH_GOOGLE_CLIENT_ID, IW_OAUTH_GOOGLE_CLIENT_SECRET; empty in the source).
std::string BuildDefaultClientId(OAuthProvider p);
std::string BuildDefaultClientSecret(OAuthProvider p);

// The effective configuration. A tenant is kept to letters, digits, ".",
// "-" and "_" (it becomes part of a path); another one falls back to "common".
OAuthConfig ResolveOAuthConfig(const OAuthSettings& s);

// What is missing before a sign-in can start, in the program's words ("" when nothing).
std::u16string OAuthConfigProblem(const OAuthConfig& c);

}  // namespace iw::auth
