// An account's login request, with its password or a stored OAuth2 token.
#include "pop3/account_login.h"

#include <chrono>

#include "auth/oauth_client.h"
#include "auth/token_store.h"
#include "pop3/server_memory.h"

namespace iw::pop3 {

auth::OAuthSettings OAuthSettingsOf(const settings::MailAccount& a, const platform::CodePage& cp) {
    const auto u8 = [&](const std::u16string& v) { return cp.fromUtf16(platform::kUtf8, v); };
    return {u8(a.Auth),           u8(a.OAuthProvider),     u8(a.OAuthTenant),
            u8(a.OAuthClientId),  u8(a.OAuthClientSecret), u8(a.OAuthAuthorizeUrl),
            u8(a.OAuthTokenUrl),  u8(a.OAuthDeviceUrl),    u8(a.OAuthScope)};
}

LoginAccount LoginAccountOf(const settings::MailAccount& a, const platform::CodePage& cp) {
    LoginAccount out;
    out.address = a.Address;
    out.user = a.User;
    out.password = settings::UnscramblePassword(cp, a.Password);
    out.security = platform::ParseMailSecurity(a.Security);
    out.oauth = OAuthSettingsOf(a, cp);
    return out;
}

std::u16string NotSecuredText() { return u"OAuth2登入須使用加密連線(SSL/TLS),未送出權杖"; }

AccountCredentials::AccountCredentials(platform::Platform& platform, std::u16string profileFolder)
    : p_(platform), folder_(std::move(profileFolder)) {}

AccountCredentials::~AccountCredentials() = default;

PreparedLogin AccountCredentials::prepare(const LoginAccount& account, const ServerAddress& server,
                                          const std::string& serverKey, bool forceRefresh) {
    PreparedLogin out;
    // User names and passwords go out in the ANSI code page, 950.
    const std::string user = p_.codePage.fromUtf16(platform::kBig5, account.user);
    out.request.user = user;
    // Once the server accepted UTF8, the login name and the password go out in UTF-8.
    out.request.userUtf8 = p_.codePage.fromUtf16(platform::kUtf8, account.user);
    out.request.secured = account.security != platform::MailSecurity::Plain;
    out.request.startTls = account.security == platform::MailSecurity::StartTls;
    out.bearer = auth::UsesOAuth(account.oauth);
    if (out.bearer) {
        if (!out.request.secured) {
            // Nothing is sent anywhere, not even a token request.
            out.notSecured = true;
            out.status = NotSecuredText();
            return out;
        }
        if (!secrets_) secrets_ = platform::createSecretStore();
        auth::TokenStore tokens(*secrets_, folder_, p_.files.separator());
        auth::OAuthClient client(p_, auth::ResolveOAuthConfig(account.oauth));
        const std::int64_t now =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        const auth::AccessToken token = auth::GetAccessToken(client, tokens, account.address, now, forceRefresh);
        out.refreshed = token.refreshed;
        if (!token.ok) {
            out.signInAgain = token.signInAgain;
            out.status = token.status;
            return out;
        }
        out.mechanisms = BearerMechanisms(user, token.token, server.host, server.port);
        for (const auto& m : out.mechanisms) out.request.mechanisms.push_back(m);
        out.request.saslOnly = true;
    } else {
        out.request.password = p_.codePage.fromUtf16(platform::kBig5, account.password);
        out.request.passwordUtf8 = p_.codePage.fromUtf16(platform::kUtf8, account.password);
    }
    if (const auto* known = ServerMemory::program().find(serverKey); known && known->capsKnown) {
        out.request.remembered = known->caps;
        out.request.rememberedGreeting = known->greeting;
    }
    out.ok = true;
    return out;
}

LoginVerdict JudgeLogin(const Login& login, PreparedLogin& prepared) {
    ExchangeMechanism* used = nullptr;
    for (const auto& m : prepared.mechanisms)
        if (m->name() == login.mechanism()) used = m.get();
    if (used) used->finished(login.refusal());
    switch (login.outcome()) {
    case LoginOutcome::LoggedIn:
        // A "+OK" after the server refused the token is no login.
        if (used && used->exchange().outcome() != auth::SaslOutcome::Succeeded) return LoginVerdict::FalseSuccess;
        return LoginVerdict::LoggedIn;
    case LoginOutcome::TlsFailed: return LoginVerdict::TlsFailed;
    case LoginOutcome::GreetingRefused: return LoginVerdict::GreetingRefused;
    case LoginOutcome::NoMechanism: return LoginVerdict::NoMechanism;
    case LoginOutcome::UserRefused: return LoginVerdict::UserRefused;
    case LoginOutcome::PassRefused:
    case LoginOutcome::AuthRefused:
        return used && used->tokenRefused() ? LoginVerdict::TokenRefused : LoginVerdict::Refused;
    case LoginOutcome::Running:
    case LoginOutcome::Ended: break;
    }
    return LoginVerdict::Ended;
}

}  // namespace iw::pop3
