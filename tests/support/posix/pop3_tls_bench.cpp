// The bare pipelined POP3 client of the engine benchmarks over TLS: OpenSSL
// on a non-blocking socket in one poll() loop, writing every TOP while it
// reads the replies, so neither side stalls on a full buffer; see
// tests/support/pop3_bench.h.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>

#include "tests/support/pop3_bench.h"

namespace iw::test {

namespace {

using Clock = std::chrono::steady_clock;

class TlsPipe {
public:
    ~TlsPipe() {
        if (ssl_) SSL_free(ssl_);
        if (ctx_) SSL_CTX_free(ctx_);
        if (fd_ >= 0) ::close(fd_);
    }

    std::string open(std::uint16_t port, const std::string& caFile) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return "cannot connect";
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ctx_ = SSL_CTX_new(TLS_client_method());
        SSL_CTX_load_verify_locations(ctx_, caFile.c_str(), nullptr);
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
        ssl_ = SSL_new(ctx_);
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), "127.0.0.1");
        SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_set_fd(ssl_, fd_);
        if (SSL_connect(ssl_) != 1) return "TLS handshake failed";
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        return {};
    }

    // Writes `out` while reading, until `done(in)` holds; false on an error or end.
    template <typename Done>
    bool exchange(std::string out, Done done) {
        std::size_t sent = 0;
        char buf[65536];
        for (;;) {
            while (sent < out.size()) {
                const int n = SSL_write(ssl_, out.data() + sent, static_cast<int>(out.size() - sent));
                if (n > 0) {
                    sent += static_cast<std::size_t>(n);
                    continue;
                }
                const int e = SSL_get_error(ssl_, n);
                if (e != SSL_ERROR_WANT_WRITE && e != SSL_ERROR_WANT_READ) return false;
                break;
            }
            for (;;) {
                const int n = SSL_read(ssl_, buf, sizeof buf);
                if (n > 0) {
                    in.append(buf, static_cast<std::size_t>(n));
                    continue;
                }
                const int e = SSL_get_error(ssl_, n);
                if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) return false;
                break;
            }
            if (sent == out.size() && done()) return true;
            pollfd p{fd_, static_cast<short>(POLLIN | (sent < out.size() ? POLLOUT : 0)), 0};
            if (::poll(&p, 1, 30000) <= 0) return false;
        }
    }

    std::string in;

private:
    int fd_ = -1;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
};

}  // namespace

RawPop3Result RunRawPop3TlsClient(std::uint16_t port, const std::string& user, const std::string& password, int count,
                                  int topLines, const std::string& caFile) {
    RawPop3Result r;
    const auto t0 = Clock::now();
    TlsPipe pipe;
    r.error = pipe.open(port, caFile);
    if (!r.error.empty()) return r;
    // One status line each for the greeting, USER, PASS, STAT; then LIST.
    auto lines = [&pipe](std::size_t n) {
        std::size_t seen = 0;
        for (std::size_t at = 0; (at = pipe.in.find("\r\n", at)) != std::string::npos; at += 2) ++seen;
        return seen >= n;
    };
    if (!pipe.exchange("USER " + user + "\r\nPASS " + password + "\r\nSTAT\r\n", [&] { return lines(4); }) ||
        pipe.in.find("-ERR") != std::string::npos) {
        r.error = "login or STAT failed";
        return r;
    }
    pipe.in.clear();
    if (!pipe.exchange("LIST\r\n", [&] { return pipe.in.find("\r\n.\r\n") != std::string::npos; })) {
        r.error = "LIST failed";
        return r;
    }
    pipe.in.clear();
    std::string all;
    for (int n = 1; n <= count; ++n) all += "TOP " + std::to_string(n) + " " + std::to_string(topLines) + "\r\n";
    // Counts reply ends as they come; the text before the last one is dropped.
    std::size_t scanned = 0;
    const bool ok = pipe.exchange(all, [&] {
        for (std::size_t at; (at = pipe.in.find("\r\n.\r\n", scanned)) != std::string::npos;) {
            ++r.replies;
            r.bytes += at + 5;
            pipe.in.erase(0, at + 5);
            scanned = 0;
        }
        scanned = pipe.in.size() >= 4 ? pipe.in.size() - 4 : 0;
        return r.replies >= static_cast<std::size_t>(count);
    });
    pipe.exchange("QUIT\r\n", [&] { return pipe.in.find("\r\n") != std::string::npos; });
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!ok || r.replies != static_cast<std::size_t>(count)) r.error = "the connection ended early";
    return r;
}

}  // namespace iw::test
