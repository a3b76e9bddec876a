// The POP3 connection's framing, matching and limits, over a hand-driven
// socket: replies matched to the commands that asked for them, dot-unstuffing,
// a reply split at every byte, and every way a server can get out of step.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pop3/connection.h"

// GCC 12 at -O3 (the Windows build) reports the case table's strings as
// maybe uninitialised; they are not (a false positive like GCC bug 105329).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace iw::test {
namespace {


// A socket the test feeds by hand; events fire when the test says so.
class HandSocket : public platform::TcpSocket {
public:
    platform::TcpSocketEvents ev;
    std::string in, sent;
    int sends = 0;
    platform::SocketState st = platform::SocketState::Closed;
    void setEvents(platform::TcpSocketEvents e) override { ev = std::move(e); }
    void connect(const std::string&, std::uint16_t) override { st = platform::SocketState::Connected; }
    void send(std::string_view b) override {
        sent += b;
        ++sends;
    }
    std::string receive() override { return std::exchange(in, {}); }
    std::size_t bytesAvailable() const override { return in.size(); }
    void close() override { st = platform::SocketState::Closed; }
    platform::SocketState state() const override { return st; }
    int lastError() const override { return 0; }
    void arrive(const std::string& b) {
        in += b;
        if (ev.dataArrival) ev.dataArrival(in.size());
    }
};

struct Rig {
    HandSocket* sock = nullptr;
    pop3::Connection conn{[this] {
        auto s = std::make_unique<HandSocket>();
        sock = s.get();
        return s;
    }};
    std::vector<pop3::Reply> replies;
    std::vector<pop3::End> ends;
    Rig(pop3::Limits limits = {}) {
        conn.setLimits(limits);
        conn.setHandlers({[this](const pop3::Reply& r) { replies.push_back(r); }, {},
                          [this](pop3::End e) { ends.push_back(e); }});
        conn.connect("127.0.0.1", 110, 99);
    }
};

const std::string kGreeting = "+OK ready\r\n";
const std::string kTop1 = "+OK\r\nSubject: one\r\n\r\n..dotted\r\n.\r\n";
const std::string kTop2 = "+OK\r\nSubject: two\r\n\r\n.\r\n";

TEST(Pop3Connection, RepliesAreMatchedToTheirCommandsHoweverTheBytesArrive) {
    const std::string stream = kGreeting + "-ERR no\r\n" + kTop1 + kTop2;
    for (std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{7}}) {
        Rig r;
        r.conn.send({"USER x", pop3::Shape::Line, 1});
        r.conn.sendAll({{"TOP 1 0", pop3::Shape::MultiLine, 2}, {"TOP 2 0", pop3::Shape::MultiLine, 3}});
        if (piece == 0)
            r.sock->arrive(stream);
        else
            for (std::size_t k = 0; k < stream.size(); k += piece) r.sock->arrive(stream.substr(k, piece));
        ASSERT_EQ(r.replies.size(), 4u) << "pieces of " << piece;
        EXPECT_EQ(r.replies[0].tag, 99);
        EXPECT_TRUE(r.replies[0].ok);
        EXPECT_EQ(r.replies[1].command, "USER x");
        EXPECT_FALSE(r.replies[1].ok);
        EXPECT_EQ(r.replies[2].command, "TOP 1 0");
        EXPECT_EQ(r.replies[2].text, "+OK\r\nSubject: one\r\n\r\n.dotted\r\n.\r\n");  // unstuffed
        EXPECT_EQ(r.replies[3].text, kTop2);
        EXPECT_TRUE(r.ends.empty());
        EXPECT_FALSE(r.conn.outOfStep());
        EXPECT_EQ(r.sock->sends, 2) << "sendAll writes once";
    }
}

TEST(Pop3Connection, AServerOutOfStepEndsTheConnectionForGood) {
    struct Case {
        const char* name;
        std::vector<pop3::Command> commands;
        std::string bytes;
        std::size_t delivered;  // replies handed over before the fault
    };
    const pop3::Command top{"TOP 1 0", pop3::Shape::MultiLine, 1};
    const pop3::Command top2{"TOP 2 0", pop3::Shape::MultiLine, 2};
    const Case cases[] = {
        {"data before any command", {}, kGreeting + kTop1, 1},
        {"one reply more than commands", {top}, kGreeting + kTop1 + kTop2, 2},
        {"a reply without its status line", {top}, kGreeting + "Subject: one\r\n\r\n.\r\n", 1},
        {"a bare dot line, then a line of the body", {top, top2}, kGreeting + "+OK\r\nSubject: x\r\n.\r\n-- sig\r\n.\r\n", 2},
        {"a greeting that is no status line", {}, "* hello\r\n", 0},
        {"a lower-case status is still a status line, text is not", {top}, kGreeting + "+ok\r\n.\r\nOK\r\n", 2},
    };
    for (const Case& c : cases) {
        Rig r;
        r.conn.sendAll(c.commands);
        r.sock->arrive(c.bytes);
        EXPECT_EQ(r.replies.size(), c.delivered) << c.name;
        ASSERT_EQ(r.ends.size(), 1u) << c.name;
        EXPECT_EQ(r.ends[0], pop3::End::OutOfStep) << c.name;
        EXPECT_TRUE(r.conn.outOfStep()) << c.name;
        EXPECT_FALSE(r.conn.usable()) << c.name;
        // Nothing more goes out on it, least of all a DELE.
        const std::string before = r.sock->sent;
        r.conn.send({"DELE 1", pop3::Shape::Line, 5});
        EXPECT_EQ(r.sock->sent, before) << c.name;
    }
}

TEST(Pop3Connection, AMissingReplyOrAHangUpWithRepliesDuePutsItOutOfStep) {
    Rig r;
    r.sock->arrive(kGreeting);
    r.conn.sendAll({{"TOP 1 0", pop3::Shape::MultiLine, 1}, {"TOP 2 0", pop3::Shape::MultiLine, 2}});
    r.sock->arrive(kTop1);
    r.conn.replyMissing();
    EXPECT_TRUE(r.conn.outOfStep());
    EXPECT_FALSE(r.conn.connected());

    Rig h;
    h.conn.send({"STAT", pop3::Shape::Line, 1});
    h.sock->in = kGreeting;  // the last bytes come with the hang-up
    h.sock->st = platform::SocketState::Closed;
    h.sock->ev.closed();
    ASSERT_EQ(h.replies.size(), 1u);
    ASSERT_EQ(h.ends.size(), 1u);
    EXPECT_EQ(h.ends[0], pop3::End::Closed);
    EXPECT_TRUE(h.conn.outOfStep());

    // After the last reply, a hang-up is a plain end.
    Rig q;
    q.conn.send({"QUIT", pop3::Shape::Line, 1});
    q.sock->arrive(kGreeting + "+OK bye\r\n");
    q.sock->ev.closed();
    ASSERT_EQ(q.ends.size(), 1u);
    EXPECT_FALSE(q.conn.outOfStep());
}

TEST(Pop3Connection, LimitsEndTheConnectionBeforeMemoryGrows) {
    pop3::Limits limits;
    limits.line = 100;
    limits.multiLine = 1000;
    struct Case {
        const char* name;
        std::string line;  // the command sent, "" for none
        pop3::Shape shape;
        std::size_t limit;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"a greeting without its line end", "", pop3::Shape::Line, 0, "+OK " + std::string(101, '\r')},
        {"a status line too long", "STAT", pop3::Shape::Line, 0, kGreeting + "+OK " + std::string(200, 'x') + "\r\n"},
        {"a header reply too long", "TOP 1 0", pop3::Shape::MultiLine, 0,
         kGreeting + "+OK\r\n" + std::string(600, 'x') + "\r\n" + std::string(600, 'y') + "\r\n"},
        {"a reply with its own smaller limit", "LIST", pop3::Shape::MultiLine, 50, kGreeting + "+OK\r\n" + std::string(60, '1')},
    };
    for (const Case& c : cases) {
        Rig r(limits);
        if (!c.line.empty()) r.conn.send({c.line, c.shape, 1, c.limit});
        r.sock->arrive(c.bytes);
        ASSERT_EQ(r.ends.size(), 1u) << c.name;
        EXPECT_EQ(r.ends[0], pop3::End::TooLarge) << c.name;
        EXPECT_TRUE(r.conn.tooLarge()) << c.name;
        // The greeting cut by the limit is never judged as a reply.
        for (const auto& rep : r.replies) EXPECT_NE(rep.tag, 1) << c.name;
        if (std::string(c.name).rfind("a greeting", 0) == 0) {
            EXPECT_TRUE(r.replies.empty()) << c.name;
        }
    }
}

// A line that was already received when a command went out cannot be its
// reply, even when the command is sent from the handler of the reply before.
TEST(Pop3Connection, BytesThatCameBeforeACommandAreNoReplyToIt) {
    Rig r;
    std::vector<std::string> answered;
    std::vector<pop3::End> ends;
    r.conn.setHandlers({[&](const pop3::Reply& rep) {
                            answered.push_back(rep.command);
                            if (rep.command.empty()) r.conn.send({"USER x", pop3::Shape::Line, 1});
                        },
                        {}, [&](pop3::End e) { ends.push_back(e); }});
    r.sock->arrive(kGreeting + "+OK early\r\n");
    EXPECT_EQ(answered, (std::vector<std::string>{""}));
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], pop3::End::OutOfStep);
}

TEST(Pop3Connection, AHandlerThatPumpsGetsLaterRepliesAfterItReturnsInOrder) {
    Rig r;
    std::vector<std::string> order;
    r.conn.setHandlers({[&](const pop3::Reply& rep) {
                            order.push_back(rep.command);
                            // A nested arrival while the handler runs.
                            if (rep.command == "A") r.sock->arrive("+OK c\r\n");
                        },
                        {}, {}});
    r.conn.sendAll({{"A", pop3::Shape::Line, 1}, {"B", pop3::Shape::Line, 2}, {"C", pop3::Shape::Line, 3}});
    r.sock->arrive(kGreeting + "+OK a\r\n+OK b\r\n");
    EXPECT_EQ(order, (std::vector<std::string>{"", "A", "B", "C"}));
}

}  // namespace
}  // namespace iw::test
