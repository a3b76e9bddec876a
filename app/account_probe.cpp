// One try of an account: connect, log in, STAT, QUIT.
#include "app/account_probe.h"

#include <memory>

#include "platform/waits.h"
#include "platform/tls_socket.h"
#include "pop3/account_login.h"
#include "pop3/address.h"
#include "pop3/connection.h"
#include "pop3/login.h"
#include "pop3/mailbox.h"
#include "pop3/sasl_mechanisms.h"

namespace iw::app {

auth::OAuthSettings OAuthSettingsOf(const settings::MailAccount& a, const platform::CodePage& cp) {
    return pop3::OAuthSettingsOf(a, cp);
}

std::u16string NotSecuredText() { return pop3::NotSecuredText(); }

namespace {

constexpr int kTagStat = 1;
constexpr int kTagQuit = 2;

std::string firstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

}  // namespace

ProbeResult ProbeAccount(platform::Platform& p, const ProbeRequest& r) {
    ProbeResult result;
    if (r.accessToken.empty()) {
        result.outcome = ProbeOutcome::TokenRefused;
        result.status = u"尚未登入帳號";
        return result;
    }
    if (r.security == platform::MailSecurity::Plain) {
        result.outcome = ProbeOutcome::NotSecured;
        result.status = NotSecuredText();
        return result;
    }
    const std::optional<pop3::ServerAddress> address = pop3::ParseServerAddress(r.pop3Host, r.security);
    if (!address) {
        result.outcome = ProbeOutcome::BadAddress;
        result.status = u"郵件伺服主機設定錯誤";
        return result;
    }
    p.loop.pump(platform::Milliseconds(0));
    const platform::ResolveResult resolved = p.network.resolve(address->host);
    if (!resolved.found || resolved.address.empty()) {
        result.outcome = ProbeOutcome::NoHost;
        result.status = u"無法查詢主機IP位置";
        return result;
    }

    const std::string caHost = address->host;
    pop3::Connection conn([&] {
        return platform::CreateMailSocket(p.network.createTcp(), r.security, caHost, r.pin);
    });
    std::vector<std::shared_ptr<pop3::ExchangeMechanism>> mechanisms;
    pop3::LoginRequest login;
    login.user = r.user;
    login.secured = r.security != platform::MailSecurity::Plain;
    login.startTls = r.security == platform::MailSecurity::StartTls;
    mechanisms = pop3::BearerMechanisms(r.user, r.accessToken, address->host, address->port);
    login.saslOnly = true;
    for (const auto& m : mechanisms) login.mechanisms.push_back(m);

    std::unique_ptr<pop3::Login> step;
    bool ended = false, statDone = false, statOk = false;
    std::string statLine;
    conn.setHandlers({[&](const pop3::Reply& reply) {
                          if (pop3::IsLoginTag(reply.tag)) {
                              step->onReply(reply);
                              return;
                          }
                          if (reply.tag == kTagStat) {
                              statDone = true;
                              statOk = reply.ok;
                              statLine = firstLine(reply.text);
                          }
                      },
                      {},
                      [&](pop3::End) {
                          ended = true;
                          if (step) step->onEnded();
                      }});
    conn.connect(resolved.address, address->port, pop3::kTagGreeting);
    step = std::make_unique<pop3::Login>(conn, std::move(login));

    platform::WaitClock wait(p.clock, r.limitSeconds, platform::LimitRule::Exceeds);
    while (!step->done() && !ended && !wait.limitReached()) wait.pump(p.loop);

    const auto tlsText = [&]() -> std::u16string {
        return platform::MailSocketFailureText(conn.socket(), conn.socket() ? conn.socket()->lastError() : 0);
    };
    if (step->done() && step->outcome() == pop3::LoginOutcome::TlsFailed) {
        result.outcome = ProbeOutcome::TlsFailed;
        result.status = platform::TlsStatusText(step->tlsFailure());
        conn.close();
        return result;
    }
    if (!step->done() || step->outcome() == pop3::LoginOutcome::Ended) {
        const std::u16string tls = tlsText();
        result.outcome = tls.empty() ? ProbeOutcome::NoConnection : ProbeOutcome::TlsFailed;
        result.status = tls.empty() ? std::u16string(u"未連上郵件主機") : tls;
        conn.close();
        return result;
    }
    result.serverLine = step->refusal();
    result.mechanism = step->mechanism();
    pop3::ExchangeMechanism* used = nullptr;
    for (const auto& m : mechanisms)
        if (m->name() == step->mechanism()) used = m.get();
    if (used) used->finished(step->refusal());

    switch (step->outcome()) {
    case pop3::LoginOutcome::LoggedIn:
        // A "+OK" that the exchange does not accept (after an error challenge) is no login.
        if (used && used->exchange().outcome() != auth::SaslOutcome::Succeeded) {
            result.outcome = ProbeOutcome::LoginRefused;
            result.status = u"伺服器回應錯誤,未登入";
            conn.close();
            return result;
        }
        break;
    case pop3::LoginOutcome::NoMechanism:
        result.outcome = ProbeOutcome::NoMechanism;
        result.status = u"伺服器不提供OAuth2登入(XOAUTH2、OAUTHBEARER)";
        conn.close();
        return result;
    case pop3::LoginOutcome::GreetingRefused:
        result.outcome = ProbeOutcome::NoConnection;
        result.status = u"主機無法連線..";
        conn.close();
        return result;
    default:
        if (used && used->tokenRefused()) {
            result.outcome = ProbeOutcome::TokenRefused;
            result.status = u"登入已失效,請重新登入帳號";
        } else {
            result.outcome = ProbeOutcome::LoginRefused;
            result.status = u"伺服器拒絕登入,請稍後再試";
        }
        conn.close();
        return result;
    }

    conn.send({"STAT", pop3::Shape::Line, kTagStat, 0});
    while (!statDone && !ended && !wait.limitReached()) wait.pump(p.loop);
    result.serverLine = statLine;
    if (!statDone || !statOk) {
        result.outcome = ProbeOutcome::StatFailed;
        result.status = u"登入後無法讀取信箱(STAT)";
        conn.close();
        return result;
    }
    result.outcome = ProbeOutcome::LoggedIn;
    result.messages = pop3::ParseStat(statLine).count;
    result.status = u"登入成功,信箱有" + [&] {
        const std::string n = std::to_string(result.messages);
        return std::u16string(n.begin(), n.end());
    }() + u"封郵件";
    conn.send({"QUIT", pop3::Shape::Line, kTagQuit, 0});
    bool quitDone = false;
    platform::WaitClock quitWait(p.clock, 3, platform::LimitRule::Exceeds);
    conn.setHandlers({[&](const pop3::Reply&) { quitDone = true; }, {}, [&](pop3::End) { quitDone = true; }});
    while (!quitDone && !quitWait.limitReached()) quitWait.pump(p.loop);
    conn.close();
    return result;
}

StoredTokenProbe ProbeWithStoredTokens(platform::Platform& p, auth::OAuthClient& client, auth::TokenStore& store,
                                       const std::u16string& address, const ProbeRequest& request, std::int64_t now) {
    StoredTokenProbe out;
    if (request.security == platform::MailSecurity::Plain) {
        // Nothing is sent anywhere, not even a refresh.
        out.result.outcome = ProbeOutcome::NotSecured;
        out.result.status = NotSecuredText();
        return out;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        platform::SecretProblem why = platform::SecretProblem::None;
        const std::optional<auth::StoredTokens> before = store.load(address, why);
        const auth::AccessToken token = auth::GetAccessToken(client, store, address, now, attempt > 0);
        const std::optional<auth::StoredTokens> after = store.load(address, why);
        if (before && after && before->refreshToken != after->refreshToken) ++out.refreshes;
        if (!token.ok) {
            out.signInAgain = token.signInAgain;
            out.result.outcome = ProbeOutcome::TokenRefused;
            out.result.status = token.status;
            return out;
        }
        ProbeRequest r = request;
        r.accessToken = token.token;
        out.result = ProbeAccount(p, r);
        if (out.result.outcome != ProbeOutcome::TokenRefused) return out;
    }
    // Refreshed once and refused again: only the user can mend it.
    out.signInAgain = true;
    out.result.status = auth::SignInAgainText();
    return out;
}

}  // namespace iw::app
