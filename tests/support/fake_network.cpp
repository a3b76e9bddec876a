// Fake sockets and scripted POP3 servers on the fake loop; see fake_network.h.
#include "tests/support/fake_network.h"

#include <algorithm>

namespace iw::test {

struct ScriptedPop3Server::Session {
    ScriptedPop3Server* server = nullptr;
    std::function<void(std::string, int)> deliver;
    std::function<void()> drop;
    std::string input;
    int extraDelay = 0;
    bool authed = false;
    bool gotUser = false;
    bool closed = false;
    int tops = 0;
    int deles = 0;
    std::vector<bool> marked;
    std::string held;  // TOP replies held back for one block
    std::size_t heldCount = 0;

    void out(const std::string& s) {
        if (closed) return;
        const auto& b = server->behaviour;
        if (b.chunk == 0) {
            deliver(s, extraDelay);
            return;
        }
        for (std::size_t i = 0; i < s.size(); i += b.chunk) deliver(s.substr(i, b.chunk), extraDelay);
    }
    void hangUp() {
        if (closed) return;
        closed = true;
        drop();
    }

    std::string body(std::size_t k, int lines) const {
        const std::string& m = server->messages[k];
        auto sep = m.find("\r\n\r\n");
        std::string head = sep == std::string::npos ? m : m.substr(0, sep + 2);
        std::string text = head + "\r\n";
        if (sep != std::string::npos && lines > 0) {
            std::size_t pos = sep + 4;
            for (int l = 0; l < lines && pos < m.size(); ++l) {
                auto e = m.find("\r\n", pos);
                if (e == std::string::npos) e = m.size();
                std::string line = m.substr(pos, e - pos);
                if (!line.empty() && line[0] == '.') line = "." + line;
                text += line + "\r\n";
                pos = e + 2;
            }
        }
        return text;
    }

    void command(const std::string& line) {
        ScriptedPop3Server& s = *server;
        const auto& b = s.behaviour;
        s.commands.push_back(line);
        if (b.silent) return;
        const std::string verb = line.substr(0, line.find(' '));
        const std::string arg = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
        if (verb == "CAPA") {
            out(b.capa.empty() ? "-ERR unknown command\r\n" : b.capa);
        } else if (verb == "USER") {
            gotUser = arg == s.user;
            out(b.lowercaseUserOk ? "+ok\r\n" : "+OK\r\n");
        } else if (verb == "PASS") {
            authed = gotUser && arg == s.password;
            out(authed ? "+OK logged in\r\n" : "-ERR authentication failed\r\n");
        } else if (!authed) {
            out("-ERR not logged in\r\n");
        } else if (verb == "STAT") {
            if (!b.statReply.empty()) {
                out(b.statReply);
                return;
            }
            std::size_t n = 0, size = 0;
            for (std::size_t k = 0; k < s.messages.size(); ++k)
                if (!marked[k]) ++n, size += s.messages[k].size();
            out("+OK " + std::to_string(n) + " " + std::to_string(size) + "\r\n");
        } else if (verb == "LIST") {
            if (b.endlessListBytes) {
                out("+OK\r\n");
                const std::string line = "1 100\r\n";
                std::string block;
                while (block.size() < 1 << 20) block += line;
                for (std::size_t sent = 0; sent < b.endlessListBytes && !closed; sent += block.size()) out(block);
                return;
            }
            std::string t;
            for (std::size_t k = 0; k < s.messages.size(); ++k)
                if (!marked[k]) t += std::to_string(k + 1) + " " + std::to_string(s.messages[k].size()) + "\r\n";
            t += ".\r\n";
            if (b.listStatusApart) {
                out("+OK scan listing follows");
                out("\r\n" + t);
            } else {
                out("+OK scan listing follows\r\n" + t);
            }
        } else if (verb == "TOP") {
            if (b.silentAfterTops >= 0 && tops >= b.silentAfterTops) return;
            const std::size_t sp = arg.find(' ');
            const std::size_t k = std::stoul(arg.substr(0, sp)) - 1;
            const int lines = sp == std::string::npos ? 0 : std::stoi(arg.substr(sp + 1));
            std::string reply;
            if (b.endlessTopBytes && tops == 0) {
                reply = "+OK\r\n";
                std::string block(1 << 20, 'x');
                ++tops;
                out(reply);
                for (std::size_t sent = 0; sent < b.endlessTopBytes && !closed; sent += block.size()) out(block);
                return;
            }
            if (k >= s.messages.size() || marked[k])
                reply = "-ERR no such message\r\n";
            else
                reply = "+OK\r\n" + body(k, lines) + ".\r\n";
            ++tops;
            extraDelay = b.topGapMs * tops;
            if (b.batchTops) {
                held += reply;
                if (++heldCount == b.batchTops) {
                    out(held);
                    held.clear();
                    heldCount = 0;
                }
            } else {
                out(reply);
            }
            extraDelay = 0;
            if (b.dropAfterTops >= 0 && tops >= b.dropAfterTops) hangUp();
        } else if (verb == "DELE") {
            const std::size_t k = std::stoul(arg) - 1;
            if (b.deleErr || k >= s.messages.size() || marked[k]) {
                out("-ERR no such message\r\n");
            } else {
                marked[k] = true;
                out("+OK marked\r\n");
            }
            ++deles;
            if (b.dropAfterDeles >= 0 && deles >= b.dropAfterDeles) {
                // A drop before QUIT: the marks are forgotten, as a real server does.
                std::fill(marked.begin(), marked.end(), false);
                hangUp();
            }
        } else if (verb == "NOOP") {
            if (b.silentAfterTops >= 0 && tops >= b.silentAfterTops) return;
            // Replies go out in order: TOP replies still held (or still
            // delayed) go first.
            extraDelay = b.topGapMs * tops;
            out(held + (b.noopErr ? "-ERR unknown command\r\n" : "+OK\r\n"));
            if (!b.strayAfterNoop.empty()) {
                extraDelay += b.strayAfterNoopMs;
                out(b.strayAfterNoop);
            }
            extraDelay = 0;
            held.clear();
            heldCount = 0;
        } else if (verb == "QUIT") {
            for (std::size_t k = 0; k < marked.size(); ++k)
                if (marked[k]) s.removed.push_back(k);
            // Removed messages leave the mailbox; the rest keep their order.
            std::vector<std::string> kept;
            for (std::size_t k = 0; k < s.messages.size(); ++k)
                if (!marked[k]) kept.push_back(s.messages[k]);
            s.messages = kept;
            std::fill(marked.begin(), marked.end(), false);
            marked.resize(s.messages.size());
            out("+OK bye\r\n");
            hangUp();
        } else {
            out("-ERR unknown command\r\n");
        }
    }

    void receive(const std::string& bytes) {
        if (server->behaviour.firstLinePerPacket) {
            // Whatever follows the first line of this packet is lost.
            const auto eol = bytes.find("\r\n");
            if (eol == std::string::npos) return;
            input += bytes.substr(0, eol + 2);
        } else {
            input += bytes;
        }
        for (;;) {
            const auto eol = input.find("\r\n");
            if (eol == std::string::npos || closed) return;
            const std::string line = input.substr(0, eol);
            input.erase(0, eol + 2);
            command(line);
        }
    }
};

std::shared_ptr<ScriptedPop3Server::Session> ScriptedPop3Server::open(std::function<void(std::string, int)> deliver,
                                                                       std::function<void()> drop) {
    auto s = std::make_shared<Session>();
    s->server = this;
    s->deliver = std::move(deliver);
    s->drop = std::move(drop);
    s->marked.assign(messages.size(), false);
    ++connections;
    if (!behaviour.silent) s->out(behaviour.greeting);
    return s;
}

class FakeTcpSocket : public platform::TcpSocket {
public:
    explicit FakeTcpSocket(FakeNetwork& net) : net_(net), alive_(std::make_shared<bool>(true)) {}
    ~FakeTcpSocket() override {
        *alive_ = false;
        if (session_) session_->closed = true;
    }

    void setEvents(platform::TcpSocketEvents events) override { events_ = std::move(events); }

    void connect(const std::string& ipv4, std::uint16_t port) override {
        close();
        state_ = platform::SocketState::Connecting;
        const std::uint64_t gen = gen_;
        ScriptedPop3Server* server = net_.server(ipv4, port);
        later(gen, 0, [this, server, gen] {
            if (!server) {
                state_ = platform::SocketState::Error;
                if (events_.error) events_.error(10061, "connection refused");
                return;
            }
            state_ = platform::SocketState::Connected;
            if (events_.connected) events_.connected();
            session_ = server->open(
                [this, gen](std::string bytes, int extraMs) {
                    later(gen, delay() + extraMs, [this, bytes] {
                        rx_ += bytes;
                        if (events_.dataArrival) events_.dataArrival(rx_.size());
                    });
                },
                [this, gen] {
                    later(gen, delay(), [this] {
                        state_ = platform::SocketState::Closed;
                        if (session_) session_->closed = true;
                        if (events_.closed) events_.closed();
                    });
                });
        });
        address_ = ipv4;
        port_ = port;
    }

    void send(std::string_view bytes) override {
        if (state_ != platform::SocketState::Connected) return;
        const std::uint64_t gen = gen_;
        later(gen, 0, [this] {
            if (events_.sendComplete) events_.sendComplete();
        });
        if (session_ && !session_->closed) session_->receive(std::string(bytes));
    }

    std::string receive() override {
        std::string out;
        out.swap(rx_);
        return out;
    }
    std::size_t bytesAvailable() const override { return rx_.size(); }

    void close() override {
        ++gen_;
        if (session_) session_->closed = true;
        session_.reset();
        rx_.clear();
        state_ = platform::SocketState::Closed;
    }
    platform::SocketState state() const override { return state_; }
    int lastError() const override { return 0; }

private:
    int delay() const {
        ScriptedPop3Server* s = net_.server(address_, port_);
        return s ? s->behaviour.replyDelayMs : 0;
    }
    // Runs `fn` from the loop, unless the connection it belongs to has ended.
    void later(std::uint64_t gen, int delayMs, std::function<void()> fn) {
        std::weak_ptr<bool> alive = alive_;
        auto guarded = [this, alive, gen, fn = std::move(fn)] {
            auto a = alive.lock();
            if (!a || !*a || gen != gen_) return;
            fn();
        };
        if (delayMs > 0)
            net_.loop().startTimer(platform::Milliseconds(delayMs), false, guarded);
        else
            net_.loop().post(guarded);
    }

    FakeNetwork& net_;
    std::shared_ptr<bool> alive_;
    platform::TcpSocketEvents events_;
    platform::SocketState state_ = platform::SocketState::Closed;
    std::shared_ptr<ScriptedPop3Server::Session> session_;
    std::string rx_;
    std::uint64_t gen_ = 0;
    std::string address_;
    std::uint16_t port_ = 0;
};

platform::ResolveResult FakeNetwork::resolve(const std::string& host) {
    lookups.push_back(host);
    platform::ResolveResult r;
    auto it = hosts_.find(host);
    if (it == hosts_.end()) return r;
    r.found = true;
    r.ipv4 = true;
    r.address = it->second;
    return r;
}

std::unique_ptr<platform::TcpSocket> FakeNetwork::createTcp() { return std::make_unique<FakeTcpSocket>(*this); }

ScriptedPop3Server* FakeNetwork::server(const std::string& address, std::uint16_t port) {
    auto it = servers_.find(address + ":" + std::to_string(port));
    return it == servers_.end() ? nullptr : it->second;
}

}  // namespace iw::test
