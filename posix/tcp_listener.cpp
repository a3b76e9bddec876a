// The loopback listener over non-blocking BSD sockets in the poll() loop:
// one socket on 127.0.0.1 and, where the system has IPv6, one on ::1 at the
// same port. Accepted descriptors become ordinary TCP sockets of this folder.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "posix/sockets.h"

namespace iw::posix {
namespace {

class PosixTcpListener final : public platform::TcpListener {
public:
    explicit PosixTcpListener(PollLoop& loop) : loop_(loop) {}
    ~PosixTcpListener() override { close(); }

    void setAcceptReady(std::function<void()> fn) override { ready_ = std::move(fn); }

    bool listenLoopback(std::uint16_t port) override {
        close();
        sockaddr_in a4{};
        a4.sin_family = AF_INET;
        a4.sin_port = htons(port);
        a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (!open(v4_, AF_INET, reinterpret_cast<sockaddr*>(&a4), sizeof a4)) {
            close();
            return false;
        }
        socklen_t len = sizeof a4;
        if (::getsockname(v4_.fd, reinterpret_cast<sockaddr*>(&a4), &len) != 0) {
            lastError_ = errno;
            close();
            return false;
        }
        port_ = ntohs(a4.sin_port);
        // ::1 on the same port, when there is IPv6 and the port is free there too.
        sockaddr_in6 a6{};
        a6.sin6_family = AF_INET6;
        a6.sin6_port = htons(port_);
        a6.sin6_addr = in6addr_loopback;
        const int keep = lastError_;
        if (!open(v6_, AF_INET6, reinterpret_cast<sockaddr*>(&a6), sizeof a6)) lastError_ = keep;
        return true;
    }

    std::uint16_t port() const override { return port_; }

    std::unique_ptr<platform::TcpSocket> accept() override {
        for (Side* side : {&v4_, &v6_}) {
            if (side->fd < 0) continue;
            for (;;) {
                const int fd = ::accept4(side->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd >= 0) return adoptTcpSocket(loop_, fd);
                if (errno == EINTR) continue;
                // A connection reset before it was taken is simply gone; try the next.
                if (errno == ECONNABORTED || errno == EPROTO) continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) lastError_ = errno;
                break;
            }
        }
        return nullptr;
    }

    void close() override {
        for (Side* side : {&v4_, &v6_}) {
            if (side->watch) loop_.unwatch(side->watch);
            if (side->fd >= 0) ::close(side->fd);
            *side = Side{};
        }
        port_ = 0;
    }

    int lastError() const override { return lastError_; }
    std::string lastErrorText() const override { return describe(lastError_); }

private:
    struct Side {
        int fd = -1;
        WatchId watch = 0;
    };

    bool open(Side& side, int family, const sockaddr* addr, socklen_t length) {
        side.fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (side.fd < 0) {
            lastError_ = errno;
            return false;
        }
        if (family == AF_INET6) {
            int one = 1;
            ::setsockopt(side.fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        }
        if (::bind(side.fd, addr, length) != 0 || ::listen(side.fd, 16) != 0) {
            lastError_ = errno;
            ::close(side.fd);
            side.fd = -1;
            return false;
        }
        side.watch = loop_.watch(side.fd, POLLIN, [this](short) {
            if (auto fn = ready_) fn();
        });
        return true;
    }

    PollLoop& loop_;
    std::function<void()> ready_;
    Side v4_, v6_;
    std::uint16_t port_ = 0;
    int lastError_ = 0;
};

}  // namespace

std::unique_ptr<platform::TcpListener> createTcpListener(PollLoop& loop) {
    return std::make_unique<PosixTcpListener>(loop);
}

}  // namespace iw::posix
