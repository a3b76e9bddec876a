// The portable parts of TLS: the security setting, pins, the decision after
// the certificate checks, error codes and the status texts.
#include "platform/tls.h"

#include <cstdlib>

namespace iw::platform {

MailSecurity ParseMailSecurity(std::u16string_view value) {
    // Spaces around the digit are tolerated, as a hand-edited file may have them.
    while (!value.empty() && value.front() == u' ') value.remove_prefix(1);
    while (!value.empty() && value.back() == u' ') value.remove_suffix(1);
    if (value == u"1") return MailSecurity::Tls;
    if (value == u"2") return MailSecurity::StartTls;
    return MailSecurity::Plain;
}

std::uint16_t DefaultPop3Port(MailSecurity security) { return security == MailSecurity::Tls ? 995 : 110; }

std::string NormalisePin(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == ':' || c == ' ' || c == '\t') continue;
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return {};
        out.push_back(c);
    }
    return out.size() == 64 ? out : std::string();
}

TlsFailure DecideCertificate(TlsFailure chainVerdict, const std::string& sha256, const std::string& pin) {
    if (pin.empty()) return chainVerdict;
    return sha256 == pin ? TlsFailure::None : TlsFailure::PinMismatch;
}

std::string HexLower(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

TlsFailure TlsFailureOfCode(int code) {
    const int n = code - kTlsErrorBase;
    if (n <= 0 || n > static_cast<int>(TlsFailure::Truncated)) return TlsFailure::None;
    return static_cast<TlsFailure>(n);
}

std::u16string TlsStatusText(TlsFailure f, const std::string& pinned, const std::string& received) {
    switch (f) {
    case TlsFailure::None: return u"";
    case TlsFailure::Untrusted: return u"伺服器憑證不受信任,未登入";
    case TlsFailure::NameMismatch: return u"伺服器憑證與主機名稱不符,未登入";
    case TlsFailure::Expired: return u"伺服器憑證已過期,未登入";
    case TlsFailure::PinMismatch: {
        // Hex digits are ASCII, so they widen one to one.
        const std::u16string was(pinned.begin(), pinned.end());
        const std::u16string now(received.begin(), received.end());
        return u"伺服器憑證已變更,未登入(信任的:" + was + u" 收到的:" + now + u")";
    }
    case TlsFailure::StlsRefused: return u"伺服器不接受STARTTLS加密,未登入";
    case TlsFailure::Handshake: return u"加密連線失敗,未登入";
    case TlsFailure::Truncated: return u"加密連線中斷";
    }
    return u"加密連線失敗,未登入";
}

std::string CaFileFromEnvironment() {
    const char* v = std::getenv("INKWARDEN_CA_FILE");
    return v ? std::string(v) : std::string();
}

}  // namespace iw::platform
