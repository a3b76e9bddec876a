// An account's server address as the user writes it in the PoP3 setting:
// "host", "host:port", "[IPv6]:port" or "[IPv6]", and a bare IPv6 literal
// ("::1", "fe80::1"). Without a port, the port follows the account's
// protection: 995 for TLS from the first byte, the plain port otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/tls.h"

namespace iw::pop3 {

struct ServerAddress {
    std::string host;        // a name or an address literal, without brackets; ASCII
    std::uint16_t port = 0;
    bool portGiven = false;  // the setting named the port
};

// Nothing when the value names no host (empty, spaces, non-ASCII, an
// unclosed bracket) or a port that is not 1..65535 in decimal.
// `plainPort` is the port of Plain and StartTls without one (110; tests
// point it elsewhere).
std::optional<ServerAddress> ParseServerAddress(std::u16string_view value, platform::MailSecurity security,
                                                std::uint16_t plainPort = 110);

}  // namespace iw::pop3
