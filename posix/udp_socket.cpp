// The UDP socket for the time query: a non-blocking datagram socket in the
// poll() loop, bound to an ephemeral port by its first send.
#include "posix/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>

namespace iw::posix {
namespace {

class UdpCore : public std::enable_shared_from_this<UdpCore> {
public:
    explicit UdpCore(PollLoop& loop) : loop_(loop) {}
    ~UdpCore() { close(); }

    std::function<void(const std::string&)> onData;

    bool sendTo(const std::string& ipv4, std::uint16_t port, std::string_view datagram) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        if (::inet_pton(AF_INET, ipv4.c_str(), &addr.sin_addr) != 1) return false;
        if (fd_ < 0) {
            fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd_ < 0) return false;
            std::weak_ptr<UdpCore> weak = weak_from_this();
            watch_ = loop_.watch(fd_, POLLIN, [weak](short) {
                if (auto self = weak.lock()) self->readAll();
            });
        }
        ssize_t n = ::sendto(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                             reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        return n == static_cast<ssize_t>(datagram.size());
    }

    void close() {
        if (watch_) loop_.unwatch(watch_);
        watch_ = 0;
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    void readAll() {
        auto keep = shared_from_this();
        const int fd = fd_;
        // Bounded, so a flood of datagrams cannot hold the loop.
        for (int i = 0; i < 64 && fd_ == fd && fd >= 0; ++i) {
            char buf[65536];
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            // Errors such as a refused port (ICMP) only mean no reply arrives.
            if (n < 0) return;
            if (auto f = onData) f(std::string(buf, static_cast<std::size_t>(n)));
        }
    }

    PollLoop& loop_;
    int fd_ = -1;
    WatchId watch_ = 0;
};

class PosixUdpSocket : public platform::UdpSocket {
public:
    explicit PosixUdpSocket(PollLoop& loop) : core_(std::make_shared<UdpCore>(loop)) {}
    ~PosixUdpSocket() override { core_->close(); }
    void setDataArrival(std::function<void(const std::string&)> fn) override { core_->onData = std::move(fn); }
    bool sendTo(const std::string& ipv4, std::uint16_t port, std::string_view datagram) override {
        return core_->sendTo(ipv4, port, datagram);
    }
    void close() override { core_->close(); }

private:
    std::shared_ptr<UdpCore> core_;
};

}  // namespace

std::unique_ptr<platform::UdpSocket> createUdpSocket(PollLoop& loop) {
    return std::make_unique<PosixUdpSocket>(loop);
}

}  // namespace iw::posix
