// The delaying proxy and the bare POP3 client of the engine benchmarks on
// BSD sockets; see tests/support/pop3_bench.h.
#include "tests/support/pop3_bench.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

namespace iw::test {

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    const sockaddr_in a = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool writeAll(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// One direction of a proxied connection: a reader stamps each chunk with its
// arrival time, a writer sends it on once the delay has passed.
class DelayedPipe {
public:
    DelayedPipe(int from, int to, std::chrono::milliseconds delay) : from_(from), to_(to), delay_(delay) {
        reader_ = std::thread([this] { read(); });
        writer_ = std::thread([this] { write(); });
    }
    ~DelayedPipe() {
        reader_.join();
        writer_.join();
    }

private:
    struct Chunk {
        Clock::time_point due;
        std::string bytes;  // empty: end of stream
    };

    void read() {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(from_, buf, sizeof buf, 0);
            std::lock_guard<std::mutex> lock(m_);
            queue_.push_back({Clock::now() + delay_, n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : ""});
            cv_.notify_one();
            if (n <= 0) return;
        }
    }

    void write() {
        for (;;) {
            Chunk c;
            {
                std::unique_lock<std::mutex> lock(m_);
                cv_.wait(lock, [this] { return !queue_.empty(); });
                c = std::move(queue_.front());
                queue_.pop_front();
            }
            std::this_thread::sleep_until(c.due);
            // Chunks that have come due meanwhile go out in the same write:
            // each still leaves no earlier than its time, in order, and a
            // stream of small chunks costs one write per wake rather than one each.
            bool end = c.bytes.empty();
            if (!end) {
                std::lock_guard<std::mutex> lock(m_);
                const auto now = Clock::now();
                while (!queue_.empty() && queue_.front().due <= now && !queue_.front().bytes.empty()) {
                    c.bytes += queue_.front().bytes;
                    queue_.pop_front();
                }
            }
            if (end || !writeAll(to_, c.bytes.data(), c.bytes.size())) {
                ::shutdown(to_, SHUT_WR);
                ::shutdown(from_, SHUT_RD);  // a reader still blocked ends too
                if (!c.bytes.empty()) drainUntilEnd();
                return;
            }
        }
    }

    // After a failed write the reader may still queue chunks; wait for its end marker.
    void drainUntilEnd() {
        for (;;) {
            std::unique_lock<std::mutex> lock(m_);
            cv_.wait(lock, [this] { return !queue_.empty(); });
            const bool end = queue_.front().bytes.empty();
            queue_.pop_front();
            if (end) return;
        }
    }

    int from_, to_;
    std::chrono::milliseconds delay_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<Chunk> queue_;
    std::thread reader_, writer_;
};

struct Proxied {
    int client, server;
    std::unique_ptr<DelayedPipe> up, down;
    ~Proxied() {
        up.reset();
        down.reset();
        ::close(client);
        ::close(server);
    }
};

}  // namespace

class DelayProxy::Impl {
public:
    Impl(std::uint16_t listenPort, std::uint16_t targetPort, int delayMs) : target_(targetPort), delay_(delayMs) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (listen_ < 0) return;
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        const sockaddr_in a = loopback(listenPort);
        sockaddr_in bound{};
        socklen_t len = sizeof bound;
        if (::bind(listen_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 16) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
            ::close(listen_);
            listen_ = -1;
            return;
        }
        port_ = ntohs(bound.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~Impl() {
        if (listen_ < 0) return;
        stopping_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        acceptor_.join();
        ::close(listen_);
        std::lock_guard<std::mutex> lock(m_);
        for (auto& c : connections_) {
            ::shutdown(c.client, SHUT_RDWR);
            ::shutdown(c.server, SHUT_RDWR);
        }
        connections_.clear();
    }
    bool ok() const { return listen_ >= 0; }
    std::uint16_t port() const { return listen_ >= 0 ? port_ : 0; }

private:
    void acceptLoop() {
        for (;;) {
            const int client = ::accept(listen_, nullptr, nullptr);
            if (client < 0 || stopping_) {
                if (client >= 0) ::close(client);
                return;
            }
            int one = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            const int server = connectTo(target_);
            if (server < 0) {
                ::close(client);
                continue;
            }
            std::lock_guard<std::mutex> lock(m_);
            Proxied& p = connections_.emplace_back();
            p.client = client;
            p.server = server;
            p.up = std::make_unique<DelayedPipe>(client, server, std::chrono::milliseconds(delay_));
            p.down = std::make_unique<DelayedPipe>(server, client, std::chrono::milliseconds(delay_));
        }
    }

    std::uint16_t target_;
    int delay_;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex m_;
    std::list<Proxied> connections_;
};

DelayProxy::DelayProxy(std::uint16_t listenPort, std::uint16_t targetPort, int delayMs)
    : impl_(std::make_unique<Impl>(listenPort, targetPort, delayMs)) {}
DelayProxy::~DelayProxy() = default;
bool DelayProxy::ok() const { return impl_->ok(); }
std::uint16_t DelayProxy::port() const { return impl_->port(); }

namespace {

// Reads a POP3 stream: one-line replies and multi-line replies ending in
// CR LF "." CR LF, without keeping more than the unread tail.
class Pop3Reader {
public:
    explicit Pop3Reader(int fd) : fd_(fd) {}

    // The next one-line reply; empty when the connection ended.
    std::string line() {
        for (;;) {
            const std::size_t e = buf_.find("\r\n", pos_);
            if (e != std::string::npos) {
                std::string l = buf_.substr(pos_, e + 2 - pos_);
                pos_ = e + 2;
                return l;
            }
            if (!fill()) return {};
        }
    }

    // Skips one multi-line reply (status line through the terminator);
    // returns its size, or 0 when the connection ended first.
    std::size_t multiLine() {
        std::size_t scan = pos_;
        for (;;) {
            const std::size_t e = buf_.find("\r\n.\r\n", scan);
            if (e != std::string::npos) {
                const std::size_t size = e + 5 - pos_;
                pos_ = e + 5;
                return size;
            }
            // Text already searched is not searched again.
            scan = buf_.size() >= 4 ? buf_.size() - 4 : 0;
            if (scan < pos_) scan = pos_;
            const std::size_t dropped = pos_;
            if (!fill()) return 0;
            if (pos_ == 0) scan -= dropped;  // fill() dropped the bytes before pos_
        }
    }

private:
    bool fill() {
        if (pos_ > 65536 && pos_ * 2 > buf_.size()) {
            buf_.erase(0, pos_);
            pos_ = 0;
        }
        char b[65536];
        const ssize_t n = ::recv(fd_, b, sizeof b, 0);
        if (n <= 0) return false;
        buf_.append(b, static_cast<std::size_t>(n));
        return true;
    }

    int fd_;
    std::string buf_;
    std::size_t pos_ = 0;
};

}  // namespace

RawPop3Result RunRawPop3Client(std::uint16_t port, const std::string& user, const std::string& password, int count,
                               int topLines, bool pipelined) {
    RawPop3Result r;
    const auto t0 = Clock::now();
    const int fd = connectTo(port);
    if (fd < 0) {
        r.error = "cannot connect";
        return r;
    }
    Pop3Reader in(fd);
    auto command = [&](const std::string& c) { return writeAll(fd, c.data(), c.size()); };
    auto okLine = [&] { return in.line().rfind("+OK", 0) == 0; };
    if (!okLine() || !command("USER " + user + "\r\n") || !okLine() || !command("PASS " + password + "\r\n") ||
        !okLine() || !command("STAT\r\n") || !okLine() || !command("LIST\r\n") || in.multiLine() == 0) {
        r.error = "login, STAT or LIST failed";
        ::close(fd);
        return r;
    }
    auto top = [topLines](int n) { return "TOP " + std::to_string(n) + " " + std::to_string(topLines) + "\r\n"; };
    if (pipelined) {
        // The commands go from their own thread so that neither side can
        // stall on a full buffer while the other waits.
        std::thread sender([&] {
            std::string all;
            for (int n = 1; n <= count; ++n) all += top(n);
            command(all);
        });
        for (int n = 1; n <= count; ++n) {
            const std::size_t b = in.multiLine();
            if (b == 0) break;
            r.bytes += b;
            ++r.replies;
        }
        sender.join();
    } else {
        for (int n = 1; n <= count; ++n) {
            if (!command(top(n))) break;
            const std::size_t b = in.multiLine();
            if (b == 0) break;
            r.bytes += b;
            ++r.replies;
        }
    }
    command("QUIT\r\n");
    in.line();
    ::close(fd);
    r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (r.replies != static_cast<std::size_t>(count)) r.error = "the connection ended early";
    return r;
}

}  // namespace iw::test
