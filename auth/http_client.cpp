// The bounded HTTP client for token requests.
#include "auth/http_client.h"

#include <charconv>

#include "platform/waits.h"
#include "platform/tls_socket.h"

namespace iw::auth {

namespace {

constexpr std::size_t kMaxHeader = 16 * 1024;
constexpr std::size_t kMaxBody = 64 * 1024;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool parsePort(std::string_view s, std::uint16_t& port) {
    unsigned v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size() || v == 0 || v > 65535) return false;
    port = static_cast<std::uint16_t>(v);
    return true;
}

}  // namespace

bool IsLoopbackHost(std::string_view host) {
    const std::string h = lower(host);
    return h == "localhost" || h == "::1" || h.rfind("127.", 0) == 0;
}

std::optional<HttpUrl> ParseHttpUrl(std::string_view url) {
    HttpUrl u;
    const std::string scheme = lower(url.substr(0, url.find("://")));
    if (url.find("://") == std::string_view::npos) return std::nullopt;
    if (scheme == "https") {
        u.https = true;
        u.port = 443;
    } else if (scheme == "http") {
        u.https = false;
        u.port = 80;
    } else {
        return std::nullopt;
    }
    std::string_view rest = url.substr(url.find("://") + 3);
    const std::size_t slash = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, slash);
    std::string_view target = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
    if (authority.find('@') != std::string_view::npos || authority.empty()) return std::nullopt;
    if (authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        u.host.assign(authority.substr(1, close - 1));
        std::string_view after = authority.substr(close + 1);
        if (!after.empty() && (after.front() != ':' || !parsePort(after.substr(1), u.port))) return std::nullopt;
    } else {
        const std::size_t colon = authority.rfind(':');
        u.host.assign(authority.substr(0, colon));
        if (colon != std::string_view::npos && !parsePort(authority.substr(colon + 1), u.port)) return std::nullopt;
    }
    if (u.host.empty()) return std::nullopt;
    for (const char c : u.host)
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F) return std::nullopt;
    const std::size_t hash = target.find('#');
    u.target.assign(target.substr(0, hash));
    if (u.target.empty() || u.target.front() != '/') u.target.insert(0, "/");
    for (const char c : u.target)
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F) return std::nullopt;
    if (!u.https && !IsLoopbackHost(u.host)) return std::nullopt;
    return u;
}

std::string PercentEncode(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' || u == '.' ||
            u == '_' || u == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

std::string FormEncode(std::initializer_list<std::pair<std::string, std::string>> fields) {
    std::string out;
    for (const auto& [k, v] : fields) {
        if (!out.empty()) out += '&';
        out += PercentEncode(k) + "=" + PercentEncode(v);
    }
    return out;
}

std::optional<std::string> FormValue(std::string_view query, std::string_view name) {
    const auto hexval = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    const auto decode = [&](std::string_view s) -> std::optional<std::string> {
        std::string out;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '+') {
                out += ' ';
            } else if (s[i] == '%') {
                if (i + 2 >= s.size()) return std::nullopt;
                const int a = hexval(s[i + 1]), b = hexval(s[i + 2]);
                if (a < 0 || b < 0) return std::nullopt;
                out += static_cast<char>(a * 16 + b);
                i += 2;
            } else {
                out += s[i];
            }
        }
        return out;
    };
    std::size_t pos = 0;
    while (pos <= query.size()) {
        const std::size_t amp = query.find('&', pos);
        const std::string_view pair = query.substr(pos, amp == std::string_view::npos ? std::string_view::npos : amp - pos);
        const std::size_t eq = pair.find('=');
        const auto key = decode(pair.substr(0, eq));
        if (key && *key == name) return eq == std::string_view::npos ? std::string() : decode(pair.substr(eq + 1));
        if (amp == std::string_view::npos) break;
        pos = amp + 1;
    }
    return std::nullopt;
}

const char* HttpErrorName(HttpError e) {
    switch (e) {
    case HttpError::None: return "none";
    case HttpError::BadUrl: return "bad address";
    case HttpError::NoHost: return "host not found";
    case HttpError::Connect: return "no connection";
    case HttpError::Tls: return "TLS failed";
    case HttpError::Timeout: return "no answer in time";
    case HttpError::TooLarge: return "reply too large";
    case HttpError::BadReply: return "not an HTTP reply";
    }
    return "?";
}

namespace {

// Parses what has arrived; true once the reply is complete (or broken).
struct ReplyReader {
    std::string raw;
    bool headerDone = false;
    std::size_t bodyStart = 0;
    int status = 0;
    long long contentLength = -1;
    bool chunked = false;
    HttpError error = HttpError::None;
    std::string body;

    bool parseHeader() {
        const std::size_t end = raw.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (raw.size() > kMaxHeader) error = HttpError::TooLarge;
            return error != HttpError::None;
        }
        if (end > kMaxHeader) {
            error = HttpError::TooLarge;
            return true;
        }
        headerDone = true;
        bodyStart = end + 4;
        const std::string_view head(raw.data(), end);
        const std::size_t eol = head.find("\r\n");
        const std::string_view statusLine = head.substr(0, eol);
        if (statusLine.substr(0, 7) != "HTTP/1." || statusLine.size() < 12 || statusLine[8] != ' ') {
            error = HttpError::BadReply;
            return true;
        }
        const auto r = std::from_chars(statusLine.data() + 9, statusLine.data() + 12, status);
        if (r.ec != std::errc() || status < 100 || status > 599) {
            error = HttpError::BadReply;
            return true;
        }
        std::size_t pos = eol == std::string_view::npos ? head.size() : eol + 2;
        while (pos < head.size()) {
            std::size_t next = head.find("\r\n", pos);
            if (next == std::string_view::npos) next = head.size();
            const std::string_view line = head.substr(pos, next - pos);
            pos = next + 2;
            const std::size_t colon = line.find(':');
            if (colon == std::string_view::npos) continue;
            const std::string name = lower(line.substr(0, colon));
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
            if (name == "content-length") {
                long long n = -1;
                const auto rr = std::from_chars(value.data(), value.data() + value.size(), n);
                if (rr.ec != std::errc() || n < 0) {
                    error = HttpError::BadReply;
                    return true;
                }
                contentLength = n;
            } else if (name == "transfer-encoding" && lower(value).find("chunked") != std::string::npos) {
                chunked = true;
            }
        }
        if (contentLength > static_cast<long long>(kMaxBody)) {
            error = HttpError::TooLarge;
            return true;
        }
        return false;
    }

    // Complete once the body is all there; `closed` says the server has ended the connection.
    bool complete(bool closed) {
        if (error != HttpError::None) return true;
        if (!headerDone && parseHeader()) return true;
        if (!headerDone) {
            if (closed) error = HttpError::BadReply;
            return closed;
        }
        const std::string_view rest = std::string_view(raw).substr(bodyStart);
        if (chunked) {
            std::string out;
            std::size_t pos = 0;
            for (;;) {
                const std::size_t eol = rest.find("\r\n", pos);
                if (eol == std::string_view::npos) break;
                std::size_t size = 0;
                const std::string_view sizeText = rest.substr(pos, eol - pos);
                const auto r = std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size, 16);
                if (r.ec != std::errc() || size > kMaxBody) {
                    error = r.ec != std::errc() ? HttpError::BadReply : HttpError::TooLarge;
                    return true;
                }
                if (size == 0) {
                    body = std::move(out);
                    return true;
                }
                if (rest.size() < eol + 2 + size + 2) break;
                out.append(rest.substr(eol + 2, size));
                if (out.size() > kMaxBody) {
                    error = HttpError::TooLarge;
                    return true;
                }
                pos = eol + 2 + size + 2;
            }
            if (rest.size() > kMaxBody * 2) error = HttpError::TooLarge;
            if (closed && error == HttpError::None) error = HttpError::BadReply;
            return closed || error != HttpError::None;
        }
        if (contentLength >= 0) {
            if (rest.size() >= static_cast<std::size_t>(contentLength)) {
                body.assign(rest.substr(0, static_cast<std::size_t>(contentLength)));
                return true;
            }
            if (closed) error = HttpError::BadReply;
            return closed;
        }
        if (rest.size() > kMaxBody) {
            error = HttpError::TooLarge;
            return true;
        }
        if (closed) body.assign(rest);
        return closed;
    }
};

}  // namespace

HttpResult HttpClient::postForm(const std::string& url, const std::string& form, int limitSeconds) {
    HttpResult result;
    cancelled_ = false;
    const std::optional<HttpUrl> u = ParseHttpUrl(url);
    if (!u) {
        result.error = HttpError::BadUrl;
        return result;
    }
    p_.loop.pump(platform::Milliseconds(0));
    const platform::ResolveResult resolved = p_.network.resolve(u->host);
    if (!resolved.found || resolved.address.empty()) {
        result.error = HttpError::NoHost;
        return result;
    }
    std::unique_ptr<platform::TcpSocket> sock =
        platform::CreateMailSocket(p_.network.createTcp(),
                                   u->https ? platform::MailSecurity::Tls : platform::MailSecurity::Plain, u->host, "");
    const bool defaultPort = u->port == (u->https ? 443 : 80);
    const bool v6 = u->host.find(':') != std::string::npos;
    const std::string hostHeader =
        (v6 ? "[" + u->host + "]" : u->host) + (defaultPort ? std::string() : ":" + std::to_string(u->port));
    const std::string request = "POST " + u->target + " HTTP/1.1\r\nHost: " + hostHeader +
                                "\r\nContent-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n"
                                "User-Agent: Inkwarden\r\nConnection: close\r\nContent-Length: " +
                                std::to_string(form.size()) + "\r\n\r\n" + form;
    ReplyReader reader;
    bool done = false, failed = false, closed = false;
    int errorCode = 0;
    platform::TcpSocket* s = sock.get();
    s->setEvents({[&] { s->send(request); },
                  [&](std::size_t) {
                      reader.raw += s->receive();
                      if (reader.raw.size() > kMaxHeader + 2 * kMaxBody + 4096) reader.error = HttpError::TooLarge;
                      if (reader.complete(false)) done = true;
                  },
                  {},
                  [&] {
                      closed = true;
                      reader.raw += s->receive();
                      reader.complete(true);
                      done = true;
                  },
                  [&](int code, const std::string&) {
                      failed = true;
                      errorCode = code;
                  }});
    s->connect(resolved.address, u->port);
    platform::WaitClock wait(p_.clock, limitSeconds, platform::LimitRule::Exceeds);
    while (!done && !failed && !cancelled_ && !wait.limitReached()) wait.pump(p_.loop);
    s->setEvents({});
    s->close();
    if (done) {
        result.error = reader.error;
        result.status = reader.status;
        result.body = std::move(reader.body);
        if (result.error != HttpError::None) result.body.clear();
        (void)closed;
        return result;
    }
    if (failed) {
        const std::u16string tls = platform::MailSocketFailureText(s, errorCode);
        result.error = tls.empty() ? HttpError::Connect : HttpError::Tls;
        result.tlsText = tls;
        return result;
    }
    result.error = HttpError::Timeout;
    return result;
}

}  // namespace iw::auth
