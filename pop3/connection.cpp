// The POP3 connection: socket, command queue, reply framing and limits; see
// connection.h.
#include "pop3/connection.h"

namespace iw::pop3 {

namespace {

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i]) return false;
    }
    return true;
}

std::uint64_t g_turns = 0;

}  // namespace

std::uint64_t Connection::turnsCounted() { return g_turns; }

Connection::Connection(SocketFactory factory, Limits limits)
    : factory_(std::move(factory)), limits_(limits), alive_(std::make_shared<bool>(true)) {}

Connection::~Connection() {
    *alive_ = false;
    if (socket_) {
        socket_->setEvents({});
        socket_->close();
    }
}

std::size_t Connection::limitOf(const Pending& p) const {
    if (p.command.limit) return p.command.limit;
    return p.command.shape == Shape::Line ? limits_.line : limits_.multiLine;
}

void Connection::wire() {
    if (!socket_) return;
    std::weak_ptr<bool> alive = alive_;
    const std::uint64_t gen = generation_;
    // Every handler checks that this object and this connection still
    // exist: a late event of an earlier connection is dropped.
    auto current = [this, alive, gen] {
        auto a = alive.lock();
        return a && *a && generation_ == gen;
    };
    platform::TcpSocketEvents ev;
    ev.dataArrival = [this, current](std::size_t) {
        if (current()) onData();
    };
    ev.sendComplete = [this, current] {
        if (current() && handlers_.sendComplete) handlers_.sendComplete();
    };
    ev.closed = [this, current] {
        if (current()) onEnded();
    };
    ev.error = [this, current](int, const std::string&) {
        if (current()) onEnded();
    };
    socket_->setEvents(std::move(ev));
}

void Connection::connect(const std::string& address, std::uint16_t port, int greetingTag) {
    close();
    socket_ = factory_ ? factory_() : nullptr;
    outOfStep_ = false;
    tooLarge_ = false;
    endedCalled_ = false;
    closedSeen_ = false;
    received_ = 0;
    base_ = 0;
    Pending greeting;
    greeting.command.shape = Shape::Line;
    greeting.command.tag = greetingTag;
    greeting.reply.tag = greetingTag;
    queue_.push_back(std::move(greeting));
    if (!socket_) {
        closedSeen_ = true;
        endedCalled_ = true;
        if (handlers_.ended) handlers_.ended(End::Closed);
        return;
    }
    wire();
    socket_->connect(address, port);
}

void Connection::send(const Command& command) { sendAll({command}); }

void Connection::sendAll(const std::vector<Command>& commands) {
    // Nothing more is ever sent on a connection that went out of step.
    if (outOfStep_ || !socket_ || commands.empty()) return;
    if (queue_.empty()) ++g_turns;
    std::string bytes;
    for (const Command& c : commands) {
        Pending p;
        p.command = c;
        p.reply.command = c.line;
        p.reply.tag = c.tag;
        p.sentAt = received_;
        queue_.push_back(std::move(p));
        bytes += c.line;
        bytes += "\r\n";
    }
    socket_->send(bytes);
}

bool Connection::startTls() {
    if (!socket_ || outOfStep_ || !queue_.empty()) return false;
    if (lineStart_ < buffer_.size()) return false;  // bytes behind the "+OK"
    if (!socket_->startTls()) return false;
    base_ = received_;
    buffer_.clear();
    lineStart_ = 0;
    scanned_ = 0;
    return true;
}

void Connection::replyMissing() {
    if (queue_.empty() || outOfStep_) return;
    fail(End::OutOfStep, false);
}

void Connection::distrust() {
    if (!outOfStep_) fail(End::OutOfStep, false);
}

void Connection::close() {
    ++generation_;
    framing_ = false;
    queue_.clear();
    buffer_.clear();
    buffer_.shrink_to_fit();
    base_ = received_;
    lineStart_ = 0;
    scanned_ = 0;
    if (socket_) {
        socket_->setEvents({});
        socket_->close();
    }
}

bool Connection::connected() const {
    return socket_ && socket_->state() == platform::SocketState::Connected && !closedSeen_;
}

void Connection::fail(End why, bool notify) {
    outOfStep_ = true;
    tooLarge_ = why == End::TooLarge;
    close();
    if (endedCalled_) return;
    endedCalled_ = true;
    if (notify && handlers_.ended) handlers_.ended(why);
}

void Connection::onData() {
    if (!socket_) return;
    const std::string bytes = socket_->receive();
    received_ += bytes.size();
    buffer_ += bytes;
    frame();
}

void Connection::onEnded() {
    closedSeen_ = true;
    if (socket_) {
        // Bytes that came with the end are framed before the end is told.
        const std::string bytes = socket_->receive();
        received_ += bytes.size();
        buffer_ += bytes;
    }
    frame();
}

void Connection::frame() {
    if (framing_) return;  // the outer call frames what a nested arrival added
    framing_ = true;
    const std::uint64_t gen = generation_;
    while (generation_ == gen) {
        if (lineStart_ >= buffer_.size()) {
            base_ += buffer_.size();
            buffer_.clear();
            lineStart_ = 0;
            scanned_ = 0;
            break;
        }
        // What has been framed is dropped once it is the larger part, so the
        // buffer stays small and every byte is copied a bounded number of times.
        if (lineStart_ >= 64 * 1024 && lineStart_ * 2 >= buffer_.size()) {
            buffer_.erase(0, lineStart_);
            base_ += lineStart_;
            lineStart_ = 0;
        }
        if (queue_.empty()) {
            fail(End::OutOfStep, true);  // data that no command asked for
            break;
        }
        Pending& head = queue_.front();
        const std::size_t lf = buffer_.find('\n', lineStart_ + scanned_);
        if (lf == std::string::npos) {
            scanned_ = buffer_.size() - lineStart_;
            const bool over = head.statusSeen ? head.reply.text.size() + scanned_ > limitOf(head)
                                              : scanned_ > limits_.line;
            if (over) fail(End::TooLarge, true);
            break;
        }
        const std::uint64_t lineAt = base_ + lineStart_;
        std::string_view line(buffer_.data() + lineStart_, lf - lineStart_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lineStart_ = lf + 1;
        scanned_ = 0;
        bool complete = false;
        if (!head.statusSeen) {
            if (lineAt < head.sentAt) {
                fail(End::OutOfStep, true);  // it was here before the command was sent
                break;
            }
            if (line.size() > limits_.line) {
                fail(End::TooLarge, true);
                break;
            }
            const bool plus = StartsNoCase(line, "+OK");
            // A SASL challenge is "+", a space and base64 (or "+" alone).
            const bool challenge = head.command.shape == Shape::Sasl && !plus && !line.empty() &&
                                   line[0] == '+' && (line.size() == 1 || line[1] == ' ');
            if (!plus && !challenge && !StartsNoCase(line, "-ERR")) {
                fail(End::OutOfStep, true);  // no status line where one is due
                break;
            }
            head.statusSeen = true;
            head.reply.ok = line.substr(0, 3) == "+OK";
            head.reply.challenge = challenge;
            head.reply.text.assign(line);
            head.reply.text += "\r\n";
            complete = head.command.shape != Shape::MultiLine || !plus;
        } else if (line == ".") {
            head.reply.text += ".\r\n";
            complete = true;
        } else {
            if (!line.empty() && line.front() == '.') line.remove_prefix(1);
            if (head.reply.text.size() + line.size() + 2 > limitOf(head)) {
                fail(End::TooLarge, true);
                break;
            }
            head.reply.text.append(line);
            head.reply.text += "\r\n";
        }
        if (!complete) continue;
        Reply reply = std::move(head.reply);
        queue_.pop_front();
        if (handlers_.reply) handlers_.reply(reply);
    }
    if (generation_ != gen) return;  // closed or connected again meanwhile
    framing_ = false;
    if (closedSeen_ && !endedCalled_) {
        endedCalled_ = true;
        // A reply still missing when the server hung up is a gap like any other.
        if (!queue_.empty()) outOfStep_ = true;
        queue_.clear();
        if (handlers_.ended) handlers_.ended(End::Closed);
    }
}

}  // namespace iw::pop3
