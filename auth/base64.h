// Standard Base64 (RFC 4648, with "=" padding) for SASL and the URL-safe form
// without padding for PKCE and the OAuth2 state. Strict decoding: a blank, a
// line end or a character outside the alphabet makes the text invalid.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace iw::auth {

std::string EncodeBase64(std::string_view bytes);
// The bytes of `text`, or nullopt when it is not valid padded Base64.
std::optional<std::string> DecodeBase64Strict(std::string_view text);
// URL-safe alphabet ("-" and "_"), no padding (RFC 7636 appendix A).
std::string EncodeBase64Url(std::string_view bytes);

}  // namespace iw::auth
