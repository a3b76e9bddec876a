// The server address parser; see address.h.
#include "pop3/address.h"

namespace iw::pop3 {

namespace {

std::optional<std::uint16_t> Port(std::u16string_view p) {
    if (p.empty() || p.size() > 5) return std::nullopt;
    std::uint32_t v = 0;
    for (char16_t c : p) {
        if (c < u'0' || c > u'9') return std::nullopt;
        v = v * 10 + (c - u'0');
    }
    if (v < 1 || v > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(v);
}

bool HostChar(char16_t c) { return c > u' ' && c < 0x7F && c != u'/' && c != u'\\' && c != u'@'; }

}  // namespace

std::optional<ServerAddress> ParseServerAddress(std::u16string_view value, platform::MailSecurity security,
                                                std::uint16_t plainPort) {
    while (!value.empty() && value.front() == u' ') value.remove_prefix(1);
    while (!value.empty() && value.back() == u' ') value.remove_suffix(1);
    std::u16string_view host = value;
    std::optional<std::uint16_t> port;
    if (!value.empty() && value.front() == u'[') {
        const std::size_t close = value.find(u']');
        if (close == std::u16string_view::npos) return std::nullopt;
        host = value.substr(1, close - 1);
        const std::u16string_view rest = value.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != u':' || !(port = Port(rest.substr(1)))) return std::nullopt;
        }
        if (host.find(u':') == std::u16string_view::npos) return std::nullopt;  // brackets hold IPv6 only
    } else {
        const std::size_t first = value.find(u':');
        if (first != std::u16string_view::npos && value.find(u':', first + 1) == std::u16string_view::npos) {
            host = value.substr(0, first);
            if (!(port = Port(value.substr(first + 1)))) return std::nullopt;
        }
        // Two colons or more without brackets: an IPv6 literal, no port.
    }
    if (host.empty() || host.size() > 255) return std::nullopt;
    ServerAddress out;
    for (char16_t c : host) {
        if (!HostChar(c) || c == u'[' || c == u']') return std::nullopt;
        out.host.push_back(static_cast<char>(c));
    }
    out.portGiven = port.has_value();
    out.port = port ? *port
                    : (security == platform::MailSecurity::Tls ? platform::DefaultPop3Port(security) : plainPort);
    return out;
}

}  // namespace iw::pop3
