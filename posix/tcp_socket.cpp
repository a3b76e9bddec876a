// The TCP client socket over a non-blocking BSD socket in the poll() loop.
// send() only appends to a queue; the loop writes the queue out on POLLOUT
// while it keeps reading on POLLIN, so a client that pipelines many commands
// never deadlocks against a peer whose replies fill the other direction.
// Each connection has a generation number; anything queued for an earlier
// connection is dropped when it comes due.
#include "posix/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace iw::posix {
namespace {

using platform::SocketState;

// How much one readiness event reads before the loop serves others.
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kReadPerEvent = 1024 * 1024;

class TcpCore : public std::enable_shared_from_this<TcpCore> {
public:
    explicit TcpCore(PollLoop& loop) : loop_(loop) {}
    ~TcpCore() { drop(); }

    platform::TcpSocketEvents events;
    SocketState state = SocketState::Closed;
    int lastError = 0;
    std::string received;

    void connect(const std::string& address, std::uint16_t port) {
        close();
        // An IPv4 or an IPv6 address in text form.
        sockaddr_storage addr{};
        socklen_t length = 0;
        auto* a4 = reinterpret_cast<sockaddr_in*>(&addr);
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&addr);
        if (::inet_pton(AF_INET, address.c_str(), &a4->sin_addr) == 1) {
            a4->sin_family = AF_INET;
            a4->sin_port = htons(port);
            length = sizeof(sockaddr_in);
        } else if (::inet_pton(AF_INET6, address.c_str(), &a6->sin6_addr) == 1) {
            a6->sin6_family = AF_INET6;
            a6->sin6_port = htons(port);
            length = sizeof(sockaddr_in6);
        } else {
            failLater(EINVAL);
            return;
        }
        fd_ = ::socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            failLater(errno);
            return;
        }
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        state = SocketState::Connecting;
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), length) != 0 && errno != EINPROGRESS) {
            failLater(errno);
            return;
        }
        // Success or not, the result is read on POLLOUT, so it always comes as an event.
        std::weak_ptr<TcpCore> weak = weak_from_this();
        watch_ = loop_.watch(fd_, POLLOUT, [weak](short revents) {
            if (auto self = weak.lock()) self->onReady(revents);
        });
    }

    void send(std::string_view bytes) {
        // The socket control drops sends on a socket that is not connected.
        if (state != SocketState::Connected || bytes.empty()) return;
        if (sentUpTo_ > 0 && sentUpTo_ == queue_.size()) {
            queue_.clear();
            sentUpTo_ = 0;
        }
        queue_.append(bytes);
        pendingComplete_ = true;
        updateWatch();
    }

    std::size_t queued() const { return queue_.size() - sentUpTo_; }

    // Takes over a connected, non-blocking descriptor (one a listener accepted).
    void adopt(int fd) {
        close();
        fd_ = fd;
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        state = SocketState::Connected;
        std::weak_ptr<TcpCore> weak = weak_from_this();
        watch_ = loop_.watch(fd_, POLLIN, [weak](short revents) {
            if (auto self = weak.lock()) self->onReady(revents);
        });
    }

    void close() {
        drop();
        state = SocketState::Closed;
        received.clear();
    }

private:
    void drop() {
        if (watch_) loop_.unwatch(watch_);
        watch_ = 0;
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        queue_.clear();
        sentUpTo_ = 0;
        pendingComplete_ = false;
        ++generation_;
    }

    void updateWatch() {
        if (!watch_) return;
        short ev = POLLIN;
        if (queued() > 0) ev |= POLLOUT;
        loop_.setEvents(watch_, ev);
    }

    // Errors found inside a call are reported from the loop, never from the call.
    void failLater(int code) {
        drop();
        state = SocketState::Error;
        lastError = code;
        std::weak_ptr<TcpCore> weak = weak_from_this();
        const std::uint64_t gen = generation_;
        loop_.post([weak, gen, code] {
            auto self = weak.lock();
            if (!self || self->generation_ != gen) return;  // closed or reconnected since
            if (auto f = self->events.error) f(code, describe(code));
        });
    }

    void fail(int code) {
        drop();
        state = SocketState::Error;
        lastError = code;
        if (auto f = events.error) f(code, describe(code));
    }

    void onReady(short revents) {
        // Handlers may close, reconnect or destroy the socket: keep the core
        // alive and stop as soon as this connection is no longer current.
        auto keep = shared_from_this();
        const std::uint64_t gen = generation_;
        if (state == SocketState::Connecting) {
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            if (err == 0 && (revents & (POLLERR | POLLHUP)) && !(revents & POLLOUT)) err = ECONNREFUSED;
            if (err != 0) {
                fail(err);
                return;
            }
            state = SocketState::Connected;
            updateWatch();
            if (auto f = events.connected) f();
            return;
        }
        if (state != SocketState::Connected) return;
        if (revents & POLLOUT) {
            if (!writeQueue()) return;
            if (gen != generation_) return;
        }
        if (revents & (POLLIN | POLLHUP | POLLERR)) readAvailable(gen);
    }

    // Returns false when the connection broke.
    bool writeQueue() {
        while (queued() > 0) {
            ssize_t n = ::send(fd_, queue_.data() + sentUpTo_, queued(), MSG_NOSIGNAL);
            if (n > 0) {
                sentUpTo_ += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            fail(n < 0 ? errno : EPIPE);
            return false;
        }
        if (queued() == 0) {
            queue_.clear();
            sentUpTo_ = 0;
        }
        updateWatch();
        if (queued() == 0 && pendingComplete_) {
            pendingComplete_ = false;
            if (auto f = events.sendComplete) f();
        }
        return true;
    }

    void readAvailable(std::uint64_t gen) {
        std::size_t got = 0;
        bool eof = false;
        int err = 0;
        // On the heap rather than the stack, which every re-entered pump
        // would pay again; the handler runs after this loop, so one buffer
        // per socket is never in use twice.
        if (!readBuf_) readBuf_ = std::make_unique<char[]>(kReadChunk);
        char* const buf = readBuf_.get();
        while (got < kReadPerEvent) {
            ssize_t n = ::recv(fd_, buf, kReadChunk, 0);
            if (n > 0) {
                received.append(buf, static_cast<std::size_t>(n));
                got += static_cast<std::size_t>(n);
                continue;
            }
            if (n == 0) {
                eof = true;
            } else if (errno == EINTR) {
                continue;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
                err = errno;
            }
            break;
        }
        if (got > 0) {
            if (auto f = events.dataArrival) f(received.size());
            if (gen != generation_) return;
        }
        if (err != 0) {
            fail(err);
        } else if (eof) {
            // Orderly close after all data: what was not taken stays readable.
            drop();
            state = SocketState::Closed;
            if (auto f = events.closed) f();
        }
    }

    PollLoop& loop_;
    int fd_ = -1;
    WatchId watch_ = 0;
    std::uint64_t generation_ = 0;
    std::string queue_;
    std::size_t sentUpTo_ = 0;
    std::unique_ptr<char[]> readBuf_;
    bool pendingComplete_ = false;
};

class PosixTcpSocket : public platform::TcpSocket {
public:
    explicit PosixTcpSocket(PollLoop& loop) : core_(std::make_shared<TcpCore>(loop)) {}
    void adopt(int fd) { core_->adopt(fd); }
    ~PosixTcpSocket() override { core_->close(); }

    void setEvents(platform::TcpSocketEvents events) override { core_->events = std::move(events); }
    void connect(const std::string& ipv4, std::uint16_t port) override { core_->connect(ipv4, port); }
    void send(std::string_view bytes) override { core_->send(bytes); }
    std::string receive() override {
        std::string out;
        out.swap(core_->received);
        return out;
    }
    std::size_t bytesAvailable() const override { return core_->received.size(); }
    void close() override { core_->close(); }
    platform::SocketState state() const override { return core_->state; }
    int lastError() const override { return core_->lastError; }

private:
    std::shared_ptr<TcpCore> core_;
};

}  // namespace

std::string describe(int code) { return std::strerror(code); }

std::unique_ptr<platform::TcpSocket> createTcpSocket(PollLoop& loop) {
    return std::make_unique<PosixTcpSocket>(loop);
}

std::unique_ptr<platform::TcpSocket> adoptTcpSocket(PollLoop& loop, int fd) {
    auto s = std::make_unique<PosixTcpSocket>(loop);
    s->adopt(fd);
    return s;
}

}  // namespace iw::posix
