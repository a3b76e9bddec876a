// The loopback test server on BSD sockets: a listening thread that accepts
// and one blocking thread per connection.
#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

namespace iw::test {
namespace {

class PosixStream : public LoopbackStream {
public:
    explicit PosixStream(int fd) : fd_(fd) {}
    ~PosixStream() override { close(); }

    std::optional<std::string> readLine() override {
        std::string line;
        for (;;) {
            const std::size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                line = buffer_.substr(0, nl + 1);
                buffer_.erase(0, nl + 1);
                return line;
            }
            if (!fill()) {
                if (buffer_.empty()) return std::nullopt;
                line.swap(buffer_);
                return line;
            }
        }
    }

    std::string readSome(std::size_t max) override {
        if (buffer_.empty() && !fill()) return {};
        std::string out = buffer_.substr(0, max);
        buffer_.erase(0, out.size());
        return out;
    }

    bool write(std::string_view bytes) override {
        while (!bytes.empty()) {
            if (fd_ < 0) return false;
            ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    void shutdownSend() override {
        if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
    }

    void setBufferSizes(int sendBytes, int receiveBytes) override {
        if (fd_ < 0) return;
        if (sendBytes > 0) ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes);
        if (receiveBytes > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBytes, sizeof receiveBytes);
    }

    void setNoDelay() override {
        int one = 1;
        if (fd_ >= 0) ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }

    int fd() const { return fd_; }

private:
    bool fill() {
        char buf[16384];
        for (;;) {
            if (fd_ < 0) return false;
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            buffer_.append(buf, static_cast<std::size_t>(n));
            return true;
        }
    }

    int fd_;
    std::string buffer_;
};

}  // namespace

class LoopbackServer::Impl {
public:
    Impl(Handler handler, const LoopbackOptions& o) : handler_(std::move(handler)) {
        listen_ = ::socket(o.address.find(':') != std::string::npos ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listen_ < 0) return;
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (o.sendBuffer > 0) ::setsockopt(listen_, SOL_SOCKET, SO_SNDBUF, &o.sendBuffer, sizeof o.sendBuffer);
        if (o.receiveBuffer > 0)
            ::setsockopt(listen_, SOL_SOCKET, SO_RCVBUF, &o.receiveBuffer, sizeof o.receiveBuffer);
        // An IPv6 address (it holds a colon) listens on IPv6.
        sockaddr_storage addr{};
        auto* a4 = reinterpret_cast<sockaddr_in*>(&addr);
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&addr);
        const bool v6 = o.address.find(':') != std::string::npos;
        socklen_t size = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        bool parsed;
        if (v6) {
            a6->sin6_family = AF_INET6;
            a6->sin6_port = htons(o.port);
            parsed = ::inet_pton(AF_INET6, o.address.c_str(), &a6->sin6_addr) == 1;
        } else {
            a4->sin_family = AF_INET;
            a4->sin_port = htons(o.port);
            parsed = ::inet_pton(AF_INET, o.address.c_str(), &a4->sin_addr) == 1;
        }
        if (!parsed || ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), size) != 0 || ::listen(listen_, 16) != 0) {
            ::close(listen_);
            listen_ = -1;
            return;
        }
        socklen_t len = sizeof addr;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(v6 ? a6->sin6_port : a4->sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }

    ~Impl() { stop(); }

    void stop() {
        if (stopping_.exchange(true)) return;
        if (listen_ >= 0) ::shutdown(listen_, SHUT_RDWR);  // wakes the blocked accept()
        if (acceptor_.joinable()) acceptor_.join();
        if (listen_ >= 0) ::close(listen_);
        listen_ = -1;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (int fd : open_) ::shutdown(fd, SHUT_RDWR);  // wakes blocked handlers
        }
        for (std::thread& t : workers_)
            if (t.joinable()) t.join();
    }

    bool listening() const { return listen_ >= 0 || port_ != 0; }
    std::uint16_t port() const { return port_; }
    int connections() const { return accepted_.load(); }

private:
    void acceptLoop() {
        while (!stopping_) {
            int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (stopping_) {
                ::close(fd);
                return;
            }
            ++accepted_;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                open_.push_back(fd);
            }
            workers_.emplace_back([this, fd] {
                {
                    PosixStream stream(fd);
                    handler_(stream);
                    std::lock_guard<std::mutex> lock(mutex_);
                    std::erase(open_, fd);
                }  // the stream closes the descriptor here, after it left the list
            });
        }
    }

    Handler handler_;
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::vector<std::thread> workers_;  // touched by the acceptor, then by stop() after the join
    std::mutex mutex_;
    std::vector<int> open_;
};

LoopbackServer::LoopbackServer(Handler handler, LoopbackOptions options)
    : impl_(std::make_unique<Impl>(std::move(handler), options)) {}
LoopbackServer::~LoopbackServer() = default;
bool LoopbackServer::listening() const { return impl_->listening(); }
std::uint16_t LoopbackServer::port() const { return impl_->port(); }
int LoopbackServer::connections() const { return impl_->connections(); }
void LoopbackServer::stop() { impl_->stop(); }

}  // namespace iw::test
