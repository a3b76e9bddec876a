// A small HTTP/1.1 client for the authorization server: one POST of a form,
// one JSON reply, over the platform's sockets and event loop (the caller's
// loop keeps running while it waits). HTTPS checks the certificate like the
// mail connections do; plain http is taken only for a loopback address
// (127.0.0.0/8, ::1, localhost), as RFC 8252 allows for redirects, so tests
// can run an authorization server of their own.
//
// Bounded: the reply's header at most 16 KiB, its body at most 64 KiB, the
// whole exchange at most `limitSeconds`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace iw::auth {

struct HttpUrl {
    bool https = true;
    std::string host;        // name or address literal, no brackets
    std::uint16_t port = 443;
    std::string target;      // path and query, "/" at least
};

// Nothing for a URL that is not http(s)://host[:port][/path], or that is http
// to a host other than a loopback address.
std::optional<HttpUrl> ParseHttpUrl(std::string_view url);
bool IsLoopbackHost(std::string_view host);

enum class HttpError { None, BadUrl, NoHost, Connect, Tls, Timeout, TooLarge, BadReply };

struct HttpResult {
    HttpError error = HttpError::None;
    int status = 0;         // the HTTP status when error is None
    std::string body;
    std::u16string tlsText;  // the TLS failure's status text (error Tls)
};

class HttpClient {
public:
    explicit HttpClient(platform::Platform& p) : p_(p) {}
    // POSTs `form` (application/x-www-form-urlencoded) and waits for the reply.
    HttpResult postForm(const std::string& url, const std::string& form, int limitSeconds = 30);
    // Stops a request under way at its next event (a cancel button).
    void cancel() { cancelled_ = true; }

private:
    platform::Platform& p_;
    bool cancelled_ = false;
};

// "a=b&c=d" with both sides percent-encoded (RFC 3986 unreserved kept).
std::string FormEncode(std::initializer_list<std::pair<std::string, std::string>> fields);
std::string PercentEncode(std::string_view text);
// The decoded value of `name` in a query or form text, or nothing.
std::optional<std::string> FormValue(std::string_view query, std::string_view name);

// The English text of an HttpError for the console.
const char* HttpErrorName(HttpError e);

}  // namespace iw::auth
