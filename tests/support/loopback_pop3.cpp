// The scripted POP3 server on a loopback socket; see loopback_pop3.h.
#include "tests/support/loopback_pop3.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace iw::test {

struct LoopbackPop3Server::State {
    mutable std::mutex mutex;
    std::string user, password;
    std::vector<std::string> messages;
    LoopbackPop3Script script;
    std::vector<std::string> commands;
    std::vector<std::chrono::steady_clock::time_point> times;
    std::vector<std::string> removed;
};

namespace {

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return s;
}

// The TOP reply body of a message: its header, the blank line and up to
// `lines` body lines, dot-stuffed, then the terminating line.
std::string TopText(const std::string& m, int lines) {
    const auto sep = m.find("\r\n\r\n");
    std::string text = (sep == std::string::npos ? m : m.substr(0, sep + 2)) + "\r\n";
    if (sep != std::string::npos) {
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
    return "+OK\r\n" + text + ".\r\n";
}

}  // namespace

LoopbackPop3Server::LoopbackPop3Server(std::uint16_t port, std::string user, std::string password, int receiveBuffer)
    : state_(std::make_shared<State>()) {
    state_->user = std::move(user);
    state_->password = std::move(password);
    LoopbackOptions o;
    o.port = port;
    o.receiveBuffer = receiveBuffer;
    server_ = std::make_unique<LoopbackServer>([this](LoopbackStream& s) { serve(s); }, o);
}

LoopbackPop3Server::~LoopbackPop3Server() { server_.reset(); }

bool LoopbackPop3Server::listening() const { return server_->listening(); }
std::uint16_t LoopbackPop3Server::port() const { return server_->port(); }

std::u16string LoopbackPop3Server::hostValue() const {
    const std::string t = "127.0.0.1:" + std::to_string(port());
    return std::u16string(t.begin(), t.end());
}

void LoopbackPop3Server::setMessages(std::vector<std::string> messages) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->messages = std::move(messages);
}

void LoopbackPop3Server::setScript(LoopbackPop3Script script) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->script = std::move(script);
}

std::vector<std::string> LoopbackPop3Server::commands() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->commands;
}

std::vector<std::chrono::steady_clock::time_point> LoopbackPop3Server::commandTimes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->times;
}

std::vector<std::string> LoopbackPop3Server::commands(const std::string& verb) const {
    std::vector<std::string> out;
    for (const std::string& c : commands())
        if (c.rfind(verb, 0) == 0) out.push_back(c);
    return out;
}

std::vector<std::string> LoopbackPop3Server::removed() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->removed;
}

std::vector<std::string> LoopbackPop3Server::remaining() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<std::string> out;
    for (const std::string& m : state_->messages) out.push_back(MessageId(m));
    return out;
}

int LoopbackPop3Server::connections() const { return server_->connections(); }

void LoopbackPop3Server::clearLog() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->commands.clear();
    state_->times.clear();
    state_->removed.clear();
}

std::string LoopbackPop3Server::MessageId(const std::string& m) {
    const auto at = Upper(m).find("\r\nMESSAGE-ID:");
    if (at == std::string::npos) return "";
    const auto lt = m.find('<', at);
    const auto gt = m.find('>', lt == std::string::npos ? at : lt);
    if (lt == std::string::npos || gt == std::string::npos) return "";
    return m.substr(lt + 1, gt - lt - 1);
}

void LoopbackPop3Server::serve(LoopbackStream& s) {
    std::vector<std::string> box;
    LoopbackPop3Script sc;
    std::string user, password;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        box = state_->messages;  // message numbers count in this snapshot
        sc = state_->script;
        user = state_->user;
        password = state_->password;
    }
    s.setNoDelay();
    bool splitDone = false;
    std::string current = "GREETING";  // the command being answered
    // Writes one reply as the script says; false when the client is gone.
    auto reply = [&](const std::string& original, bool split) {
        const std::string text = sc.tamper ? sc.tamper(current, original) : original;
        if (text.empty()) return true;
        if (split && !splitDone && !sc.splitAt.empty()) {
            splitDone = true;
            std::vector<std::size_t> cuts;
            for (int at : sc.splitAt) {
                const long long c = at < 0 ? static_cast<long long>(text.size()) + at : at;
                if (c > 0 && c < static_cast<long long>(text.size())) cuts.push_back(static_cast<std::size_t>(c));
            }
            std::sort(cuts.begin(), cuts.end());
            std::size_t from = 0;
            for (std::size_t c : cuts) {
                if (!s.write(std::string_view(text).substr(from, c - from))) return false;
                Pause(sc.pauseMs);
                from = c;
            }
            return s.write(std::string_view(text).substr(from));
        }
        if (sc.chunk == 0) return s.write(text);
        for (std::size_t i = 0; i < text.size(); i += sc.chunk) {
            if (!s.write(std::string_view(text).substr(i, sc.chunk))) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return true;
    };

    if (!sc.noGreeting && !reply(sc.greeting, sc.splitVerb == "GREETING")) return;
    bool gotUser = false, authed = false, silent = sc.noGreeting;
    std::vector<bool> marked(box.size(), false);
    std::vector<std::string> held;
    int topsAnswered = 0, deles = 0;
    while (auto line = s.readLine()) {
        std::string cmd = *line;
        while (!cmd.empty() && (cmd.back() == '\n' || cmd.back() == '\r')) cmd.pop_back();
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->commands.push_back(cmd);
            state_->times.push_back(std::chrono::steady_clock::now());
        }
        current = cmd;
        const auto sp = cmd.find(' ');
        const std::string verb = Upper(cmd.substr(0, sp));
        const std::string arg = sp == std::string::npos ? "" : cmd.substr(sp + 1);
        if (!sc.silentFrom.empty() && verb == sc.silentFrom) silent = true;
        if (silent) continue;
        const bool split = verb == sc.splitVerb;
        bool ok = true;
        if (verb == "USER") {
            gotUser = arg == user;
            ok = reply(sc.lowercaseUserOk ? "+ok\r\n" : "+OK\r\n", split);
        } else if (verb == "PASS") {
            authed = gotUser && arg == password;
            ok = reply(authed ? "+OK logged in\r\n" : "-ERR authentication failed\r\n", split);
        } else if (verb == "QUIT" && sc.quitErr) {
            reply("-ERR cannot commit\r\n", false);
            s.close();
            return;
        } else if (verb == "QUIT") {
            std::lock_guard<std::mutex> lock(state_->mutex);
            std::vector<std::string> kept;
            for (const std::string& m : state_->messages) {
                const auto at = std::find(box.begin(), box.end(), m);
                if (at != box.end() && marked[static_cast<std::size_t>(at - box.begin())])
                    state_->removed.push_back(MessageId(m));
                else
                    kept.push_back(m);
            }
            state_->messages = kept;
            reply("+OK bye\r\n", false);
            s.close();
            return;
        } else if (verb == "CAPA") {
            // As the servers the program meets list it (Dovecot among them).
            ok = reply("+OK\r\nTOP\r\nUSER\r\nPIPELINING\r\nUIDL\r\n.\r\n", false);
        } else if (!authed) {
            ok = reply("-ERR not logged in\r\n", split);
        } else if (verb == "STAT") {
            std::size_t n = 0, size = 0;
            for (std::size_t k = 0; k < box.size(); ++k)
                if (!marked[k]) ++n, size += box[k].size();
            ok = reply(sc.statReply.empty() ? "+OK " + std::to_string(n) + " " + std::to_string(size) + "\r\n"
                                            : sc.statReply,
                       split);
        } else if (verb == "LIST") {
            const std::string status = "+OK scan listing follows";
            std::string rest = "\r\n";
            for (std::size_t k = 0; k < box.size(); ++k)
                if (!marked[k]) rest += std::to_string(k + 1) + " " + std::to_string(box[k].size()) + "\r\n";
            rest += ".\r\n";
            if (sc.listStatusOnly) {
                ok = s.write(status + "\r\n");
                silent = true;
            } else if (sc.listStatusApart) {
                ok = s.write(status);
                Pause(sc.pauseMs);
                ok = ok && s.write(rest);
            } else {
                ok = reply(status + rest, split);
            }
        } else if (verb == "TOP") {
            const auto sp2 = arg.find(' ');
            const long n = std::strtol(arg.c_str(), nullptr, 10);
            const int lines = sp2 == std::string::npos ? 0 : std::atoi(arg.c_str() + sp2 + 1);
            const bool exists = n >= 1 && n <= static_cast<long>(box.size()) && !marked[static_cast<std::size_t>(n - 1)] &&
                                n != sc.errTop;
            held.push_back(exists ? TopText(box[static_cast<std::size_t>(n - 1)], lines) : "-ERR no such message\r\n");
            if (static_cast<int>(held.size()) < sc.holdTops) continue;
            if (sc.dropAfterTops >= 0 && topsAnswered + static_cast<int>(held.size()) > sc.dropAfterTops) {
                std::string last;
                std::size_t k = 0;
                for (; topsAnswered < sc.dropAfterTops && k < held.size(); ++k, ++topsAnswered) last += held[k];
                if (k < held.size()) last += held[k].substr(0, sc.dropPartialBytes);
                s.write(last);
                // End the sending side first and read until the client hangs
                // up: closing with the client's commands still unread would
                // reset the connection, and a reset can discard the replies
                // the client has not read yet (whatever the machine's speed).
                s.shutdownSend();
                while (!s.readSome().empty()) {
                }
                s.close();
                return;
            }
            std::string block;
            for (const std::string& r : held) block += r;
            topsAnswered += static_cast<int>(held.size());
            held.clear();
            ok = reply(block, split && n == sc.splitTop);
        } else if (verb == "DELE") {
            ++deles;
            if (deles == sc.dropAtDele) {
                Pause(sc.pauseMs);
                s.close();  // marks of a connection that ends without QUIT are forgotten
                return;
            }
            const long n = std::strtol(arg.c_str(), nullptr, 10);
            if (n == sc.errDele) {
                ok = reply("-ERR message locked\r\n", split);
            } else if (n >= 1 && n <= static_cast<long>(box.size()) && !marked[static_cast<std::size_t>(n - 1)]) {
                marked[static_cast<std::size_t>(n - 1)] = true;
                ok = reply("+OK marked\r\n", split);
            } else {
                ok = reply("-ERR no such message\r\n", split);
            }
        } else if (verb == "NOOP" && !held.empty()) {
            // Replies go out in order: TOP replies still held go first.
            std::string block;
            for (const std::string& r : held) block += r;
            topsAnswered += static_cast<int>(held.size());
            held.clear();
            ok = reply(block + "+OK\r\n", false);
        } else if (verb == "NOOP" || verb == "RSET") {
            if (verb == "RSET") std::fill(marked.begin(), marked.end(), false);
            ok = reply("+OK\r\n", split);
        } else {
            ok = reply("-ERR unknown command\r\n", split);
        }
        if (!ok) return;
    }
}

}  // namespace iw::test
