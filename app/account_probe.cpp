// One try of an account: connect, log in, STAT, QUIT.
#include "app/account_probe.h"

#include <memory>
#include <optional>

#include "auth/oauth_client.h"
#include "platform/tls_socket.h"
#include "platform/waits.h"
#include "pop3/account_login.h"
#include "pop3/address.h"
#include "pop3/connection.h"
#include "pop3/login.h"
#include "pop3/mailbox.h"

namespace iw::app {

namespace {

constexpr int kTagStat = 1;
constexpr int kTagQuit = 2;

std::string firstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

ProbeResult failed(ProbeOutcome outcome, std::u16string status) {
    ProbeResult r;
    r.outcome = outcome;
    r.status = std::move(status);
    return r;
}

// One connection: the login made ready by `prepared`, then STAT and QUIT.
ProbeResult tryOnce(platform::Platform& p, const pop3::ServerAddress& server, const std::string& ip,
                    platform::MailSecurity security, const std::string& pin, pop3::PreparedLogin& prepared,
                    int limitSeconds) {
    ProbeResult result;
    const std::string caHost = server.host;
    pop3::Connection conn(
        [&] { return platform::CreateMailSocket(p.network.createTcp(), security, caHost, pin); });
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
    conn.connect(ip, server.port, pop3::kTagGreeting);
    step = std::make_unique<pop3::Login>(conn, prepared.request);

    platform::WaitClock wait(p.clock, limitSeconds, platform::LimitRule::Exceeds);
    while (!step->done() && !ended && !wait.limitReached()) wait.pump(p.loop);

    if (step->done() && step->outcome() == pop3::LoginOutcome::TlsFailed) {
        conn.close();
        return failed(ProbeOutcome::TlsFailed, platform::TlsStatusText(step->tlsFailure()));
    }
    if (!step->done() || step->outcome() == pop3::LoginOutcome::Ended) {
        const std::u16string tls =
            platform::MailSocketFailureText(conn.socket(), conn.socket() ? conn.socket()->lastError() : 0);
        conn.close();
        return tls.empty() ? failed(ProbeOutcome::NoConnection, u"未連上郵件主機")
                           : failed(ProbeOutcome::TlsFailed, tls);
    }
    const pop3::LoginVerdict verdict = pop3::JudgeLogin(*step, prepared);
    result.serverLine = step->refusal();
    result.mechanism = step->mechanism();
    const auto refuse = [&](ProbeOutcome outcome, std::u16string status) {
        result.outcome = outcome;
        result.status = std::move(status);
        conn.close();
        return result;
    };
    switch (verdict) {
    case pop3::LoginVerdict::LoggedIn: break;
    // A "+OK" that the exchange does not accept (after an error challenge) is no login.
    case pop3::LoginVerdict::FalseSuccess: return refuse(ProbeOutcome::LoginRefused, u"伺服器回應錯誤,未登入");
    case pop3::LoginVerdict::NoMechanism:
        return refuse(ProbeOutcome::NoMechanism, u"伺服器不提供OAuth2登入(XOAUTH2、OAUTHBEARER)");
    case pop3::LoginVerdict::GreetingRefused: return refuse(ProbeOutcome::NoConnection, u"主機無法連線..");
    case pop3::LoginVerdict::TlsFailed:
        return refuse(ProbeOutcome::TlsFailed, platform::TlsStatusText(step->tlsFailure()));
    case pop3::LoginVerdict::TokenRefused: return refuse(ProbeOutcome::TokenRefused, u"登入已失效,請重新登入帳號");
    case pop3::LoginVerdict::Ended: return refuse(ProbeOutcome::NoConnection, u"未連上郵件主機");
    case pop3::LoginVerdict::UserRefused:
    case pop3::LoginVerdict::Refused: return refuse(ProbeOutcome::LoginRefused, u"伺服器拒絕登入,請稍後再試");
    }

    conn.send({"STAT", pop3::Shape::Line, kTagStat, 0});
    while (!statDone && !ended && !wait.limitReached()) wait.pump(p.loop);
    result.serverLine = statLine;
    if (!statDone || !statOk) return refuse(ProbeOutcome::StatFailed, u"登入後無法讀取信箱(STAT)");
    result.outcome = ProbeOutcome::LoggedIn;
    result.messages = pop3::ParseStat(statLine).count;
    const std::string n = std::to_string(result.messages);
    result.status = u"登入成功,信箱有" + std::u16string(n.begin(), n.end()) + u"封郵件";
    conn.send({"QUIT", pop3::Shape::Line, kTagQuit, 0});
    bool quitDone = false;
    platform::WaitClock quitWait(p.clock, 3, platform::LimitRule::Exceeds);
    conn.setHandlers({[&](const pop3::Reply&) { quitDone = true; }, {}, [&](pop3::End) { quitDone = true; }});
    while (!quitDone && !quitWait.limitReached()) quitWait.pump(p.loop);
    conn.close();
    return result;
}

}  // namespace

ProbeResult ProbeAccount(platform::Platform& p, const std::u16string& profileFolder,
                         const settings::MailAccount& account, int limitSeconds) {
    const pop3::LoginAccount login = pop3::LoginAccountOf(account, p.codePage);
    const std::optional<pop3::ServerAddress> server = pop3::ParseServerAddress(account.Pop3Host, login.security);
    if (!server) return failed(ProbeOutcome::BadAddress, u"郵件伺服主機設定錯誤");
    const std::string pin = p.codePage.fromUtf16(platform::kBig5, account.CertSha256);
    pop3::AccountCredentials credentials(p, profileFolder);
    int refreshes = 0;
    ProbeResult result;
    // A token the server refuses is refreshed once and tried once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        // No remembered capabilities (empty key): a try always asks CAPA.
        pop3::PreparedLogin prepared = credentials.prepare(login, *server, std::string(), attempt > 0);
        if (prepared.refreshed) ++refreshes;
        if (!prepared.ok) {
            result = failed(prepared.notSecured ? ProbeOutcome::NotSecured : ProbeOutcome::TokenRefused,
                            prepared.status);
            result.signInAgain = prepared.signInAgain;
            result.refreshes = refreshes;
            return result;
        }
        p.loop.pump(platform::Milliseconds(0));
        const platform::ResolveResult resolved = p.network.resolve(server->host);
        if (!resolved.found || resolved.address.empty()) {
            result = failed(ProbeOutcome::NoHost, u"無法查詢主機IP位置");
            result.refreshes = refreshes;
            return result;
        }
        result = tryOnce(p, *server, resolved.address, login.security, pin, prepared, limitSeconds);
        result.refreshes = refreshes;
        if (result.outcome != ProbeOutcome::TokenRefused || !prepared.bearer) return result;
    }
    // Refreshed once and refused again: only the user can mend it.
    result.signInAgain = true;
    result.status = auth::SignInAgainText();
    return result;
}

}  // namespace iw::app
