// Sockets over Winsock's WSAAsyncSelect: each connection gets a message
// number of its own on the event loop's hidden window, so events of a closed
// connection (still queued as messages) find no handler and are dropped.
// Every event checks the error first; WSAEWOULDBLOCK means "later"; a recv
// of zero bytes is the peer's normal close. send() queues and drains on
// FD_WRITE while FD_READ keeps reading, so pipelined commands never deadlock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/native.h"
#include "win32/platform/handles.h"
#include "win32/platform/win32_event_loop.h"

namespace iw::win32 {
namespace {

using platform::SocketState;

// Winsock is started once for the process and stopped at its end.
struct WinsockGuard {
    bool ok = false;
    WinsockGuard() {
        WSADATA data;
        ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockGuard() {
        if (ok) WSACleanup();
    }
};

bool ensureWinsock() {
    static WinsockGuard guard;
    return guard.ok;
}

std::string describe(int code) {
    switch (code) {
    case WSAECONNREFUSED: return "Connection refused";
    case WSAETIMEDOUT: return "Connection timed out";
    case WSAECONNRESET: return "Connection reset by peer";
    case WSAECONNABORTED: return "Connection aborted";
    case WSAEHOSTUNREACH: return "Host unreachable";
    case WSAENETUNREACH: return "Network unreachable";
    case WSAENETDOWN: return "Network is down";
    case WSAEINVAL: return "Invalid address or argument";
    case WSAEADDRNOTAVAIL: return "Address not available";
    case WSANOTINITIALISED: return "Windows Sockets not started";
    default: {
        char text[48];
        std::snprintf(text, sizeof text, "Socket error %d", code);
        return text;
    }
    }
}

bool parseIpv4(const std::string& text, std::uint16_t port, sockaddr_in& out) {
    out = {};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    return inet_pton(AF_INET, text.c_str(), &out.sin_addr) == 1;
}

// An IPv4 or IPv6 address in text form; `length` is the size of the one filled.
bool parseAddress(const std::string& text, std::uint16_t port, sockaddr_storage& out, int& length) {
    out = {};
    auto* a4 = reinterpret_cast<sockaddr_in*>(&out);
    if (parseIpv4(text, port, *a4)) {
        length = sizeof(sockaddr_in);
        return true;
    }
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&out);
    out = {};
    a6->sin6_family = AF_INET6;
    a6->sin6_port = htons(port);
    length = sizeof(sockaddr_in6);
    return inet_pton(AF_INET6, text.c_str(), &a6->sin6_addr) == 1;
}

constexpr std::size_t kReadChunk = 64 * 1024;
// One FD_READ reads at most this much; Winsock posts another FD_READ when
// more waits, so writing gets its turn between big reads.
constexpr std::size_t kReadPerEvent = 1024 * 1024;

class TcpSocketImpl final : public platform::TcpSocket {
public:
    explicit TcpSocketImpl(Win32EventLoop& loop) : loop_(loop) {}
    ~TcpSocketImpl() override { release(); }

    void setEvents(platform::TcpSocketEvents events) override { events_ = std::move(events); }

    void connect(const std::string& address, std::uint16_t port) override {
        close();
        sockaddr_storage addr;
        int length = 0;
        if (!parseAddress(address, port, addr, length)) return failLater(WSAEINVAL);
        if (!ensureWinsock()) return failLater(WSANOTINITIALISED);
        socket_.reset(::socket(addr.ss_family, SOCK_STREAM, IPPROTO_TCP));
        if (!socket_) return failLater(WSAGetLastError());
        message_ = loop_.allocateMessage();
        const std::uint64_t gen = generation_;
        loop_.setMessageHandler(message_, [this, gen](WPARAM w, LPARAM l) -> LRESULT {
            if (gen == generation_) onSocketMessage(static_cast<SOCKET>(w), l);
            return 0;
        });
        if (WSAAsyncSelect(socket_.get(), loop_.window(), message_, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0)
            return failLater(WSAGetLastError());
        state_ = SocketState::Connecting;
        if (::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&addr), length) != 0) {
            const int e = WSAGetLastError();
            if (e != WSAEWOULDBLOCK) return failLater(e);
        }
        // Success or "in progress": FD_CONNECT reports the outcome.
    }

    // Takes over a socket a listener accepted: connected, its events on a
    // message number of its own.
    void adopt(SOCKET accepted) {
        close();
        socket_.reset(accepted);
        message_ = loop_.allocateMessage();
        const std::uint64_t gen = generation_;
        loop_.setMessageHandler(message_, [this, gen](WPARAM w, LPARAM l) -> LRESULT {
            if (gen == generation_) onSocketMessage(static_cast<SOCKET>(w), l);
            return 0;
        });
        // Winsock posts FD_READ at once for data that arrived before this call.
        if (WSAAsyncSelect(socket_.get(), loop_.window(), message_, FD_READ | FD_WRITE | FD_CLOSE) != 0)
            return failLater(WSAGetLastError());
        BOOL one = TRUE;
        setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        state_ = SocketState::Connected;
    }

    void send(std::string_view bytes) override {
        if (bytes.empty()) return;
        if (state_ != SocketState::Connected && state_ != SocketState::Connecting) return;
        out_.append(bytes.data(), bytes.size());
        if (state_ != SocketState::Connected) return;
        const int e = drain();
        if (e != 0) return failLater(e);
        if (queueEmpty()) postSendComplete();
    }

    std::string receive() override { return std::exchange(in_, std::string()); }
    std::size_t bytesAvailable() const override { return in_.size(); }

    void close() override {
        release();
        ++generation_;
        state_ = SocketState::Closed;
        in_.clear();
        out_.clear();
        outPos_ = 0;
    }

    SocketState state() const override { return state_; }
    int lastError() const override { return lastError_; }

private:
    bool queueEmpty() const { return outPos_ >= out_.size(); }

    // Hands queued bytes to the system until it would block; 0 or an error.
    int drain() {
        while (!queueEmpty()) {
            const std::size_t left = out_.size() - outPos_;
            const int chunk = static_cast<int>(left < (1u << 20) ? left : (1u << 20));
            const int n = ::send(socket_.get(), out_.data() + outPos_, chunk, 0);
            if (n == SOCKET_ERROR) {
                const int e = WSAGetLastError();
                return e == WSAEWOULDBLOCK ? 0 : e;
            }
            outPos_ += static_cast<std::size_t>(n);
        }
        out_.clear();
        outPos_ = 0;
        return 0;
    }

    // The send-complete event, delivered from the next pump when the
    // connection is still the same and nothing new waits to be sent.
    void postSendComplete() {
        loop_.post([weak = std::weak_ptr<char>(life_), this, gen = generation_] {
            if (weak.expired() || gen != generation_ || !queueEmpty()) return;
            if (auto fn = events_.sendComplete) fn();
        });
    }

    // A failure found inside a method call: the state changes now, the
    // event comes from the next pump.
    void failLater(int code) {
        release();
        state_ = SocketState::Error;
        lastError_ = code;
        const std::uint64_t gen = ++generation_;
        loop_.post([weak = std::weak_ptr<char>(life_), this, gen, code] {
            if (weak.expired() || gen != generation_) return;
            if (auto fn = events_.error) fn(code, describe(code));
        });
    }

    // A failure found while handling an event: reported at once.
    void fail(int code) {
        release();
        ++generation_;
        state_ = SocketState::Error;
        lastError_ = code;
        if (auto fn = events_.error) fn(code, describe(code));
    }

    void peerClosed() {
        release();
        ++generation_;
        state_ = SocketState::Closed;
        out_.clear();
        outPos_ = 0;
        if (auto fn = events_.closed) fn();
    }

    void release() {
        if (message_) loop_.removeMessageHandler(message_);
        message_ = 0;
        socket_.reset();
    }

    void onSocketMessage(SOCKET s, LPARAM l) {
        if (s != socket_.get()) return;
        const int event = WSAGETSELECTEVENT(l);
        const int error = WSAGETSELECTERROR(l);
        const std::uint64_t gen = generation_;
        switch (event) {
        case FD_CONNECT:
            if (state_ != SocketState::Connecting) return;
            if (error) return fail(error);
            state_ = SocketState::Connected;
            if (auto fn = events_.connected) fn();
            if (gen == generation_ && !queueEmpty()) writeReady();
            return;
        case FD_READ:
            if (error) return fail(error);
            readReady(false);
            return;
        case FD_WRITE:
            if (error) return fail(error);
            writeReady();
            return;
        case FD_CLOSE:
            // Everything the peer sent before closing is read first.
            readReady(true);
            if (gen != generation_) return;
            if (error) return fail(error);
            peerClosed();
            return;
        default:
            return;
        }
    }

    void writeReady() {
        if (state_ != SocketState::Connected || queueEmpty()) return;
        const int e = drain();
        if (e != 0) return fail(e);
        if (queueEmpty())
            if (auto fn = events_.sendComplete) fn();
    }

    void readReady(bool closing) {
        if (state_ != SocketState::Connected) return;
        bool got = false, peerDone = false;
        int error = 0;
        std::size_t total = 0;
        // The read buffer lives on the heap: a 64 KiB array on the stack would
        // be paid again at every level when handlers re-enter the loop while
        // data keeps coming. The handler runs only after the loop, so one
        // buffer per socket is never in use twice.
        if (!readBuf_) readBuf_ = std::make_unique<char[]>(kReadChunk);
        char* const buf = readBuf_.get();
        while (closing || total < kReadPerEvent) {
            const int n = ::recv(socket_.get(), buf, static_cast<int>(kReadChunk), 0);
            if (n > 0) {
                in_.append(buf, static_cast<std::size_t>(n));
                total += static_cast<std::size_t>(n);
                got = true;
                continue;
            }
            if (n == 0) {
                peerDone = true;
            } else {
                const int e = WSAGetLastError();
                if (e != WSAEWOULDBLOCK) error = e;
            }
            break;
        }
        const std::uint64_t gen = generation_;
        if (got)
            if (auto fn = events_.dataArrival) fn(in_.size());
        if (gen != generation_ || closing) return;  // FD_CLOSE finishes the close itself
        if (error) return fail(error);
        if (peerDone) peerClosed();
    }

    Win32EventLoop& loop_;
    platform::TcpSocketEvents events_;
    UniqueSocket socket_;
    UINT message_ = 0;
    SocketState state_ = SocketState::Closed;
    int lastError_ = 0;
    std::string in_, out_;
    std::size_t outPos_ = 0;
    std::unique_ptr<char[]> readBuf_;
    std::uint64_t generation_ = 0;
    std::shared_ptr<char> life_ = std::make_shared<char>();
};

class UdpSocketImpl final : public platform::UdpSocket {
public:
    explicit UdpSocketImpl(Win32EventLoop& loop) : loop_(loop) {}
    ~UdpSocketImpl() override { close(); }

    void setDataArrival(std::function<void(const std::string&)> fn) override { arrival_ = std::move(fn); }

    bool sendTo(const std::string& ipv4, std::uint16_t port, std::string_view datagram) override {
        sockaddr_in to;
        if (!parseIpv4(ipv4, port, to)) return false;
        if (!socket_ && !open()) return false;
        const int n = ::sendto(socket_.get(), datagram.data(), static_cast<int>(datagram.size()), 0,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to);
        return n == static_cast<int>(datagram.size());
    }

    void close() override {
        if (message_) loop_.removeMessageHandler(message_);
        message_ = 0;
        socket_.reset();
    }

private:
    bool open() {
        if (!ensureWinsock()) return false;
        socket_.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        if (!socket_) return false;
        sockaddr_in any{};
        any.sin_family = AF_INET;
        if (::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
            socket_.reset();
            return false;
        }
        message_ = loop_.allocateMessage();
        const SOCKET s = socket_.get();
        loop_.setMessageHandler(message_, [this, s](WPARAM w, LPARAM l) -> LRESULT {
            if (static_cast<SOCKET>(w) == s && socket_.get() == s && WSAGETSELECTEVENT(l) == FD_READ) readAll();
            return 0;
        });
        if (WSAAsyncSelect(s, loop_.window(), message_, FD_READ) != 0) {
            close();
            return false;
        }
        return true;
    }

    void readAll() {
        std::string buf(65536, '\0');
        const SOCKET s = socket_.get();
        for (int i = 0; i < 64 && socket_.get() == s; ++i) {
            const int n = ::recvfrom(s, buf.data(), static_cast<int>(buf.size()), 0, nullptr, nullptr);
            if (n == SOCKET_ERROR) {
                // An ICMP "port unreachable" of an earlier send shows up here
                // as WSAECONNRESET; it is not a datagram, and the next may be.
                if (WSAGetLastError() == WSAECONNRESET) continue;
                return;
            }
            if (auto fn = arrival_) fn(buf.substr(0, static_cast<std::size_t>(n)));
        }
    }

    Win32EventLoop& loop_;
    std::function<void(const std::string&)> arrival_;
    UniqueSocket socket_;
    UINT message_ = 0;
};

// The loopback listener: a socket on 127.0.0.1 and, where there is IPv6, one
// on ::1 at the same port, both with SO_EXCLUSIVEADDRUSE so no other program
// can bind the port beside them and catch the browser's redirect.
class TcpListenerImpl final : public platform::TcpListener {
public:
    explicit TcpListenerImpl(Win32EventLoop& loop) : loop_(loop) {}
    ~TcpListenerImpl() override { close(); }

    void setAcceptReady(std::function<void()> fn) override { ready_ = std::move(fn); }

    bool listenLoopback(std::uint16_t port) override {
        close();
        if (!ensureWinsock()) {
            lastError_ = WSANOTINITIALISED;
            return false;
        }
        sockaddr_in a4{};
        a4.sin_family = AF_INET;
        a4.sin_port = htons(port);
        a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (!open(v4_, AF_INET, reinterpret_cast<const sockaddr*>(&a4), sizeof a4)) {
            close();
            return false;
        }
        int len = sizeof a4;
        if (getsockname(v4_.socket.get(), reinterpret_cast<sockaddr*>(&a4), &len) != 0) {
            lastError_ = WSAGetLastError();
            close();
            return false;
        }
        port_ = ntohs(a4.sin_port);
        sockaddr_in6 a6{};
        a6.sin6_family = AF_INET6;
        a6.sin6_port = htons(port_);
        a6.sin6_addr = in6addr_loopback;
        const int keep = lastError_;
        if (!open(v6_, AF_INET6, reinterpret_cast<const sockaddr*>(&a6), sizeof a6)) lastError_ = keep;
        return true;
    }

    std::uint16_t port() const override { return port_; }

    std::unique_ptr<platform::TcpSocket> accept() override {
        for (Side* side : {&v4_, &v6_}) {
            if (!side->socket) continue;
            for (;;) {
                const SOCKET s = ::accept(side->socket.get(), nullptr, nullptr);
                if (s != INVALID_SOCKET) {
                    auto socket = std::make_unique<TcpSocketImpl>(loop_);
                    socket->adopt(s);
                    return socket;
                }
                const int e = WSAGetLastError();
                if (e == WSAECONNRESET) continue;  // gone before it was taken
                if (e != WSAEWOULDBLOCK) lastError_ = e;
                break;
            }
        }
        return nullptr;
    }

    void close() override {
        for (Side* side : {&v4_, &v6_}) {
            if (side->message) loop_.removeMessageHandler(side->message);
            side->message = 0;
            side->socket.reset();
        }
        port_ = 0;
    }

    int lastError() const override { return lastError_; }
    std::string lastErrorText() const override { return describe(lastError_); }

private:
    struct Side {
        UniqueSocket socket;
        UINT message = 0;
    };

    bool open(Side& side, int family, const sockaddr* addr, int length) {
        side.socket.reset(::socket(family, SOCK_STREAM, IPPROTO_TCP));
        if (!side.socket) {
            lastError_ = WSAGetLastError();
            return false;
        }
        BOOL one = TRUE;
        setsockopt(side.socket.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
        if (family == AF_INET6)
            setsockopt(side.socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&one), sizeof one);
        side.message = loop_.allocateMessage();
        const SOCKET s = side.socket.get();
        loop_.setMessageHandler(side.message, [this, s](WPARAM w, LPARAM l) -> LRESULT {
            if (static_cast<SOCKET>(w) != s || WSAGETSELECTEVENT(l) != FD_ACCEPT) return 0;
            if (auto fn = ready_) fn();
            return 0;
        });
        if (bind(s, addr, length) != 0 || listen(s, 16) != 0 ||
            WSAAsyncSelect(s, loop_.window(), side.message, FD_ACCEPT) != 0) {
            lastError_ = WSAGetLastError();
            loop_.removeMessageHandler(side.message);
            side.message = 0;
            side.socket.reset();
            return false;
        }
        return true;
    }

    Win32EventLoop& loop_;
    std::function<void()> ready_;
    Side v4_, v6_;
    std::uint16_t port_ = 0;
    int lastError_ = 0;
};

class NetworkImpl final : public platform::Network {
public:
    explicit NetworkImpl(Win32EventLoop& loop) : loop_(loop) { ensureWinsock(); }

    std::unique_ptr<platform::TcpSocket> createTcp() override { return std::make_unique<TcpSocketImpl>(loop_); }
    std::unique_ptr<platform::UdpSocket> createUdp() override { return std::make_unique<UdpSocketImpl>(loop_); }
    std::unique_ptr<platform::TcpListener> createListener() override { return std::make_unique<TcpListenerImpl>(loop_); }

    // A host with both kinds of address counts as IPv4 (its first IPv4
    // address is used, as the old IPv4-only lookup did); a host with IPv6
    // addresses only is found, not IPv4, and connects over the first of them.
    platform::ResolveResult resolve(const std::string& host) override {
        platform::ResolveResult r;
        if (host.empty() || !ensureWinsock()) return r;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list) return r;
        auto freeList = onScopeExit([list] { freeaddrinfo(list); });
        r.found = true;
        const addrinfo* v6 = nullptr;
        for (addrinfo* a = list; a; a = a->ai_next) {
            if (a->ai_family == AF_INET6 && a->ai_addr && !v6) v6 = a;
            if (a->ai_family != AF_INET || !a->ai_addr) continue;
            char text[INET_ADDRSTRLEN] = {};
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            if (!inet_ntop(AF_INET, const_cast<in_addr*>(&in->sin_addr), text, sizeof text)) continue;
            r.ipv4 = true;
            r.address = text;
            break;
        }
        if (r.address.empty() && v6) {
            char text[INET6_ADDRSTRLEN] = {};
            const auto* in = reinterpret_cast<const sockaddr_in6*>(v6->ai_addr);
            if (inet_ntop(AF_INET6, const_cast<in6_addr*>(&in->sin6_addr), text, sizeof text)) r.address = text;
        }
        return r;
    }

private:
    Win32EventLoop& loop_;
};

}  // namespace
}  // namespace iw::win32

namespace iw::platform {

std::unique_ptr<Network> createNetwork(EventLoop& loop) {
    win32::Win32EventLoop* w = win32::asWin32(loop);
    if (!w) {
        OutputDebugStringA("Inkwarden: createNetwork needs the loop of createEventLoop()\n");
        std::abort();
    }
    return std::make_unique<win32::NetworkImpl>(*w);
}

}  // namespace iw::platform
