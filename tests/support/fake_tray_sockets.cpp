// Fake network for the main window's tests; see fake_tray_sockets.h.
#include "tests/support/fake_tray_sockets.h"

namespace iw::test {

using platform::SocketState;

namespace {

std::string key(const std::string& address, std::uint16_t port) { return address + ":" + std::to_string(port); }

bool isDotted(const std::string& s) {
    int dots = 0;
    for (char c : s) {
        if (c == '.') ++dots;
        else if (c < '0' || c > '9') return false;
    }
    return dots == 3;
}

class FakeTcp : public platform::TcpSocket {
public:
    explicit FakeTcp(FakeTrayNetwork& net) : net_(net), alive_(std::make_shared<bool>(true)) {}
    ~FakeTcp() override { *alive_ = false; }

    void setEvents(platform::TcpSocketEvents events) override { ev_ = std::move(events); }

    void connect(const std::string& ipv4, std::uint16_t port) override {
        close();
        state_ = SocketState::Connecting;
        peer_ = net_.peer(ipv4, port);
        const int gen = gen_;
        post(gen, [this] {
            if (!peer_ || peer_->refuse) {
                state_ = SocketState::Error;
                if (ev_.error) ev_.error(10061, "connection refused");
                return;
            }
            ++peer_->connections;
            state_ = SocketState::Connected;
            if (ev_.connected) ev_.connected();
            if (!peer_->silent) deliver(peer_->greeting);
        });
    }

    void send(std::string_view bytes) override {
        if (state_ != SocketState::Connected) return;
        const int gen = gen_;
        line_ += bytes;
        post(gen, [this] {
            if (ev_.sendComplete) ev_.sendComplete();
        });
        for (std::size_t lf; (lf = line_.find("\r\n")) != std::string::npos;) {
            const std::string line = line_.substr(0, lf);
            line_.erase(0, lf + 2);
            peer_->received.push_back(line);
            if (peer_->silent) continue;
            // CAPA is an unknown command by default, as on an RFC 1939 server.
            deliver(peer_->reply ? peer_->reply(line) : std::string(line == "CAPA" ? "-ERR unknown\r\n" : "+OK\r\n"));
            if (line == "QUIT" && peer_->closeAfterQuit) {
                post(gen, [this] {
                    state_ = SocketState::Closed;
                    if (ev_.closed) ev_.closed();
                });
            }
        }
    }

    std::string receive() override {
        std::string out;
        out.swap(inbox_);
        return out;
    }
    std::size_t bytesAvailable() const override { return inbox_.size(); }
    void close() override {
        ++gen_;  // drops every event still queued for the old connection
        state_ = SocketState::Closed;
        inbox_.clear();
        line_.clear();
    }
    SocketState state() const override { return state_; }
    int lastError() const override { return 0; }

private:
    void post(int gen, std::function<void()> fn) {
        std::weak_ptr<bool> alive = alive_;
        net_.loop().post([this, alive, gen, fn = std::move(fn)] {
            auto a = alive.lock();
            if (!a || !*a || gen != gen_) return;
            fn();
        });
    }

    void deliver(const std::string& bytes) {
        const int gen = gen_;
        auto arrive = [this](std::string piece) {
            inbox_ += piece;
            if (ev_.dataArrival) ev_.dataArrival(inbox_.size());
        };
        if (peer_->splitAt > 0 && peer_->splitAt < bytes.size()) {
            post(gen, [arrive, b = bytes.substr(0, peer_->splitAt)] { arrive(b); });
            post(gen, [arrive, b = bytes.substr(peer_->splitAt)] { arrive(b); });
        } else {
            post(gen, [arrive, bytes] { arrive(bytes); });
        }
    }

    FakeTrayNetwork& net_;
    platform::TcpSocketEvents ev_;
    SocketState state_ = SocketState::Closed;
    TrayPop3Peer* peer_ = nullptr;
    std::string inbox_, line_;
    int gen_ = 0;
    std::shared_ptr<bool> alive_;
};

class FakeUdp : public platform::UdpSocket {
public:
    explicit FakeUdp(FakeTrayNetwork& net) : net_(net), alive_(std::make_shared<bool>(true)) {}
    ~FakeUdp() override {
        *alive_ = false;
        if (net_.lastUdpArrival == &arrival_) net_.lastUdpArrival = nullptr;
    }
    void setDataArrival(std::function<void(const std::string&)> fn) override { arrival_ = std::move(fn); }
    bool sendTo(const std::string& ipv4, std::uint16_t port, std::string_view datagram) override {
        if (net_.udpRefused()) return false;
        net_.recordSent({ipv4, port, std::string(datagram)});
        net_.lastUdpArrival = &arrival_;
        net_.lastUdpAlive = alive_;
        return true;
    }
    void close() override {}

private:
    FakeTrayNetwork& net_;
    std::function<void(const std::string&)> arrival_;
    std::shared_ptr<bool> alive_;
};

}  // namespace

TrayPop3Peer MakeTrayPop3Peer(const std::string& user, const std::string& pass, int count,
                              const std::string& statReply) {
    TrayPop3Peer p;
    p.reply = [user, pass, count, statReply](const std::string& line) -> std::string {
        if (line == "USER " + user) return "+OK\r\n";
        if (line.rfind("USER ", 0) == 0) return "-ERR no such user\r\n";
        if (line == "PASS " + pass) return "+OK logged in\r\n";
        if (line.rfind("PASS ", 0) == 0) return "-ERR wrong password\r\n";
        if (line == "STAT")
            return statReply.empty() ? "+OK " + std::to_string(count) + " " + std::to_string(count * 1000) + "\r\n"
                                     : statReply;
        if (line == "QUIT") return "+OK bye\r\n";
        return "-ERR unknown\r\n";
    };
    return p;
}

FakeTrayNetwork::FakeTrayNetwork(platform::EventLoop& loop) : loop_(loop) {}
FakeTrayNetwork::~FakeTrayNetwork() = default;

TrayPop3Peer& FakeTrayNetwork::addPop3Peer(const std::string& address, std::uint16_t port, TrayPop3Peer peer) {
    auto& slot = peers_[key(address, port)];
    slot = std::make_unique<TrayPop3Peer>(std::move(peer));
    return *slot;
}

TrayPop3Peer* FakeTrayNetwork::peer(const std::string& address, std::uint16_t port) {
    auto it = peers_.find(key(address, port));
    return it == peers_.end() ? nullptr : it->second.get();
}

void FakeTrayNetwork::deliverDatagram(const std::string& bytes) {
    if (!lastUdpArrival) return;
    auto* fn = lastUdpArrival;
    std::weak_ptr<bool> alive = lastUdpAlive;
    loop_.post([fn, alive, bytes] {
        auto a = alive.lock();
        if (a && *a && *fn) (*fn)(bytes);
    });
}

platform::ResolveResult FakeTrayNetwork::resolve(const std::string& host) {
    lookups.push_back(host);
    platform::ResolveResult r;
    if (nonIpv4_.count(host)) {
        r.found = true;
        return r;
    }
    auto it = hosts_.find(host);
    if (it != hosts_.end()) {
        r.found = r.ipv4 = true;
        r.address = it->second;
    } else if (isDotted(host)) {
        r.found = r.ipv4 = true;
        r.address = host;
    }
    return r;
}

std::unique_ptr<platform::TcpSocket> FakeTrayNetwork::createTcp() { return std::make_unique<FakeTcp>(*this); }
std::unique_ptr<platform::UdpSocket> FakeTrayNetwork::createUdp() { return std::make_unique<FakeUdp>(*this); }

}  // namespace iw::test
