// Fetching, describing and trusting a server's certificate; see
// certificate_probe.h.
#include "app/certificate_probe.h"

#include "platform/waits.h"
#include "platform/tls_socket.h"
#include "pop3/connection.h"
#include "settings/accounts.h"

namespace iw::app {
namespace {

std::u16string Widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

CertificateProbe ProbeCertificate(platform::Platform& p, const std::string& host, std::uint16_t port,
                                  platform::MailSecurity security, const std::string& pin, double limitSeconds,
                                  const std::function<bool()>& stop) {
    CertificateProbe out;
    if (security == platform::MailSecurity::Plain) {
        out.problem = u"此帳號未設定連線加密";
        return out;
    }
    const platform::ResolveResult r = p.network.resolve(host);
    if (!r.found || !r.ipv4 || r.address.empty()) {
        out.problem = u"無法查詢主機IP位置";
        return out;
    }
    std::unique_ptr<platform::TcpSocket> plain = p.network.createTcp();
    if (!plain) {
        out.problem = u"未連上伺服器";
        return out;
    }
    platform::TlsOptions o;
    o.host = host;
    o.pinSha256 = platform::NormalisePin(pin);
    if (o.pinSha256.empty() && !pin.empty()) o.pinSha256 = pin;
    auto made = std::make_unique<platform::TlsSocket>(std::move(plain), security, o);
    platform::TlsSocket& sock = *made;
    bool done = false;
    int errorCode = 0;
    if (security == platform::MailSecurity::StartTls) {
        // The certificate comes only after POP3's own STLS: greeting, "STLS",
        // and on "+OK" TLS on the open connection. Nothing else is sent.
        enum { kGreeting = 1, kStls };
        pop3::Connection conn([&made] { return std::move(made); });
        const auto refused = [&] {
            done = true;
            errorCode = platform::TlsErrorCode(platform::TlsFailure::StlsRefused);
        };
        pop3::Connection::Handlers h;
        h.reply = [&](const pop3::Reply& reply) {
            if (reply.tag == kGreeting && reply.ok) {
                conn.send({"STLS", pop3::Shape::Line, kStls, 0});
            } else if (reply.tag == kStls && reply.ok && conn.startTls()) {
                // The handshake's end is the socket's second `connected`.
            } else if (reply.tag == kStls && reply.ok) {
                done = true;  // bytes behind the "+OK": no certificate of it is trusted
                errorCode = platform::TlsErrorCode(platform::TlsFailure::Handshake);
                conn.close();
            } else {
                refused();
                conn.close();
            }
        };
        h.ended = [&](pop3::End) {
            done = true;
            errorCode = sock.lastError();
        };
        conn.setHandlers(std::move(h));
        conn.connect(r.address, port, kGreeting);
        platform::waitUntil(p.loop, p.clock, limitSeconds,
                            [&] { return done || sock.secured() || (stop && stop()); });
        if (sock.secured()) done = true;
        // The certificate and verdict stay readable after the close.
        out.certificate = sock.certificate();
        out.reached = !out.certificate.der.empty();
        out.checks = sock.chainVerdict();
        const std::u16string tls = platform::MailSocketFailureText(&sock, errorCode);
        conn.close();
        out.verdict = platform::DecideCertificate(out.checks, out.certificate.sha256, o.pinSha256);
        if (!out.reached)
            out.problem = !tls.empty() ? tls : done ? u"未連上伺服器" : stop && stop() ? u"已停止" : u"連線逾時";
        return out;
    }
    platform::TcpSocketEvents ev;
    ev.connected = [&done] { done = true; };
    ev.closed = [&done] { done = true; };
    ev.error = [&done, &errorCode](int code, const std::string&) {
        done = true;
        errorCode = code;
    };
    sock.setEvents(std::move(ev));
    sock.connect(r.address, port);
    platform::waitUntil(p.loop, p.clock, limitSeconds, [&done, &stop] { return done || (stop && stop()); });
    sock.setEvents({});
    sock.close();

    out.certificate = sock.certificate();
    out.reached = !out.certificate.der.empty();
    out.checks = sock.chainVerdict();
    out.verdict = platform::DecideCertificate(out.checks, out.certificate.sha256, o.pinSha256);
    if (!out.reached) {
        const std::u16string tls = platform::MailSocketFailureText(&sock, errorCode);
        out.problem = !tls.empty() ? tls : done ? u"未連上伺服器" : stop && stop() ? u"已停止" : u"連線逾時";
    }
    return out;
}

CertificateProbe ProbeAccountCertificate(platform::Platform& p, settings::SettingsStore& store,
                                         const std::u16string& section, double limitSeconds) {
    const settings::MailAccount a = settings::ReadMailAccount(store, section);
    const platform::MailSecurity security = platform::ParseMailSecurity(a.Security);
    std::string host;
    std::uint16_t port = 0;
    SplitAccountHost(p.codePage.fromUtf16(platform::kBig5, a.Pop3Host), security, host, port);
    return ProbeCertificate(p, host, port, security, p.codePage.fromUtf16(platform::kBig5, a.CertSha256),
                            limitSeconds);
}

std::u16string DescribeCertificate(const CertificateProbe& probe, const platform::CodePage& codePage) {
    if (!probe.reached) return probe.problem;
    const platform::CertificateInfo& c = probe.certificate;
    std::u16string t;
    auto line = [&t, &codePage](const char16_t* label, const std::string& utf8) {
        t += label;
        t += codePage.toUtf16(platform::kUtf8, utf8);
        t += u"\r\n";
    };
    line(u"主旨: ", c.subject);
    line(u"簽發者: ", c.issuer);
    line(u"有效期間: ", c.notBefore + " - " + c.notAfter);
    line(u"SHA-256: ", c.sha256);
    t += u"檢查結果: ";
    if (probe.checks == platform::TlsFailure::None)
        t += u"憑證正常";
    else
        t += platform::TlsStatusText(probe.checks);
    if (probe.verdict == platform::TlsFailure::None && probe.checks != platform::TlsFailure::None)
        t += u"(已信任此憑證)";
    else if (probe.verdict == platform::TlsFailure::PinMismatch)
        t += u"\r\n" + platform::TlsStatusText(probe.verdict, std::string(), c.sha256);
    return t;
}

bool TrustCertificate(settings::SettingsStore& store, const std::u16string& section, const CertificateProbe& probe) {
    if (!probe.reached || probe.certificate.sha256.empty()) return false;
    return store.write(settings::IniFile::Set, section, u"CertSha256", Widen(probe.certificate.sha256));
}

settings::CertificateLook LookAtCertificate(const CertificateProbe& probe, const platform::CodePage& codePage) {
    settings::CertificateLook look;
    look.reached = probe.reached;
    look.problem = probe.problem;
    look.refused = probe.verdict != platform::TlsFailure::None;
    if (probe.reached) look.description = DescribeCertificate(probe, codePage);
    look.sha256 = probe.certificate.sha256;
    return look;
}

}  // namespace iw::app
