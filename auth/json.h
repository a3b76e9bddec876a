// A small, bounded reader for the JSON objects an authorization server sends
// (token, device-code and error replies) and the error challenge of a SASL
// bearer login. It takes one object and keeps its top-level members whose
// values are strings, numbers or booleans, as text; nested objects and arrays
// are checked and skipped. Anything that is not one well-formed object
// (trailing bytes, nesting deeper than 16, more than 256 members) is refused.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace iw::auth {

struct JsonObject {
    // Member name to value: strings unescaped (as UTF-8), numbers as written,
    // booleans as "true" / "false". null members are left out.
    std::map<std::string, std::string> members;

    std::string get(const std::string& name) const {
        const auto it = members.find(name);
        return it == members.end() ? std::string() : it->second;
    }
    bool has(const std::string& name) const { return members.count(name) != 0; }
};

std::optional<JsonObject> ParseJsonObject(std::string_view text);

// A JSON string literal of `text` (quotes included), for tests and the fake servers' peers.
std::string JsonQuote(std::string_view text);

}  // namespace iw::auth
