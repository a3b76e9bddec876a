// The loopback test server on Winsock, blocking: a listening thread that
// accepts and one thread per connection.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/loopback_server.h"

namespace iw::test {
namespace {

// Winsock stays started for as long as any server exists.
struct WinsockUser {
    WinsockUser() {
        WSADATA data;
        ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockUser() {
        if (ok) WSACleanup();
    }
    bool ok = false;
};

class WinStream : public LoopbackStream {
public:
    explicit WinStream(SOCKET s) : s_(s) {}
    ~WinStream() override { close(); }

    std::optional<std::string> readLine() override {
        for (;;) {
            const std::size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl + 1);
                buffer_.erase(0, nl + 1);
                return line;
            }
            if (!fill()) {
                if (buffer_.empty()) return std::nullopt;
                std::string line;
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
            if (s_ == INVALID_SOCKET) return false;
            const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
            int n = ::send(s_, bytes.data(), chunk, 0);
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    void close() override {
        if (s_ != INVALID_SOCKET) {
            ::shutdown(s_, SD_SEND);
            ::closesocket(s_);
        }
        s_ = INVALID_SOCKET;
    }

    void shutdownSend() override {
        if (s_ != INVALID_SOCKET) ::shutdown(s_, SD_SEND);
    }

    void setBufferSizes(int sendBytes, int receiveBytes) override {
        if (s_ == INVALID_SOCKET) return;
        if (sendBytes > 0)
            ::setsockopt(s_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBytes), sizeof sendBytes);
        if (receiveBytes > 0)
            ::setsockopt(s_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBytes), sizeof receiveBytes);
    }

    void setNoDelay() override {
        BOOL one = TRUE;
        if (s_ != INVALID_SOCKET) ::setsockopt(s_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    }

private:
    bool fill() {
        char buf[16384];
        if (s_ == INVALID_SOCKET) return false;
        int n = ::recv(s_, buf, sizeof buf, 0);
        if (n <= 0) return false;
        buffer_.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    SOCKET s_;
    std::string buffer_;
};

}  // namespace

class LoopbackServer::Impl {
public:
    Impl(Handler handler, const LoopbackOptions& o) : handler_(std::move(handler)) {
        if (!winsock_.ok) return;
        listen_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (listen_ == INVALID_SOCKET) return;
        if (o.sendBuffer > 0)
            ::setsockopt(listen_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&o.sendBuffer), sizeof o.sendBuffer);
        if (o.receiveBuffer > 0)
            ::setsockopt(listen_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&o.receiveBuffer),
                         sizeof o.receiveBuffer);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(o.port);
        if (::inet_pton(AF_INET, o.address.c_str(), &addr.sin_addr) != 1 ||
            ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_, 16) != 0) {
            ::closesocket(listen_);
            listen_ = INVALID_SOCKET;
            return;
        }
        int len = sizeof addr;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }

    ~Impl() { stop(); }

    void stop() {
        if (stopping_.exchange(true)) return;
        if (listen_ != INVALID_SOCKET) ::closesocket(listen_);  // wakes the blocked accept()
        listen_ = INVALID_SOCKET;
        if (acceptor_.joinable()) acceptor_.join();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (SOCKET s : open_) ::shutdown(s, SD_BOTH);  // wakes blocked handlers
        }
        for (std::thread& t : workers_)
            if (t.joinable()) t.join();
    }

    bool listening() const { return port_ != 0; }
    std::uint16_t port() const { return port_; }
    int connections() const { return accepted_.load(); }

private:
    void acceptLoop() {
        while (!stopping_) {
            SOCKET s = ::accept(listen_, nullptr, nullptr);
            if (s == INVALID_SOCKET) return;
            if (stopping_) {
                ::closesocket(s);
                return;
            }
            ++accepted_;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                open_.push_back(s);
            }
            workers_.emplace_back([this, s] {
                WinStream stream(s);
                handler_(stream);
                std::lock_guard<std::mutex> lock(mutex_);
                open_.erase(std::remove(open_.begin(), open_.end(), s), open_.end());
                stream.close();
            });
        }
    }

    WinsockUser winsock_;
    Handler handler_;
    SOCKET listen_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::vector<SOCKET> open_;
};

LoopbackServer::LoopbackServer(Handler handler, LoopbackOptions options)
    : impl_(std::make_unique<Impl>(std::move(handler), options)) {}
LoopbackServer::~LoopbackServer() = default;
bool LoopbackServer::listening() const { return impl_->listening(); }
std::uint16_t LoopbackServer::port() const { return impl_->port(); }
int LoopbackServer::connections() const { return impl_->connections(); }
void LoopbackServer::stop() { impl_->stop(); }

}  // namespace iw::test
