// SHA-256 (FIPS 180-4), for the PKCE code challenge (RFC 7636, S256).
#pragma once

#include <string>
#include <string_view>

namespace iw::auth {

// The 32-byte digest of `bytes`.
std::string Sha256(std::string_view bytes);

}  // namespace iw::auth
