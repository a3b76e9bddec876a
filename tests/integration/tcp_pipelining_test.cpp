// The build's real TCP socket against loopback servers: 10 MB of pipelined
// commands answered line by line through 4 KiB server buffers, refused
// connects, the peer's close after its last data, sends on closed sockets,
// and events of an earlier connection that must never reach a later one.
// The time limits only guard against hanging.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/native.h"
#include "tests/support/local_servers.h"
#include "tests/support/loopback_server.h"

namespace {

using namespace iw::platform;
using iw::test::LoopbackOptions;
using iw::test::LoopbackServer;
using iw::test::LoopbackStream;
using std::chrono::steady_clock;

class NativeTcp : public ::testing::Test {
protected:
    std::unique_ptr<EventLoop> loop = createEventLoop();
    std::unique_ptr<Network> net = createNetwork(*loop);

    bool pumpUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(30)) {
        const auto end = steady_clock::now() + limit;
        while (!done() && steady_clock::now() < end) loop->pump(Milliseconds(100));
        return done();
    }
};

struct Recorder {
    std::vector<std::string> events;
    std::string data;
    int sendCompletes = 0;

    TcpSocketEvents wire(TcpSocket& s) {
        TcpSocketEvents e;
        e.connected = [this] { events.push_back("connected"); };
        e.dataArrival = [this, &s](std::size_t total) {
            EXPECT_EQ(total, s.bytesAvailable());
            data += s.receive();
        };
        e.sendComplete = [this] { ++sendCompletes; };
        e.closed = [this, &s] { events.push_back("closed after " + std::to_string(data.size() + s.bytesAvailable())); };
        e.error = [this](int code, const std::string& text) {
            EXPECT_NE(code, 0);
            EXPECT_FALSE(text.empty());
            events.push_back("error");
        };
        return e;
    }
    bool has(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
};

TEST_F(NativeTcp, PipelinedTenMegabytesNeverDeadlock) {
    constexpr int kLines = 100000;  // 100 bytes each: 10 MB of commands
    LoopbackOptions small;
    small.sendBuffer = small.receiveBuffer = 4096;
    LoopbackServer server(
        [](LoopbackStream& s) {
            s.setBufferSizes(4096, 4096);
            int n = 0;
            while (auto line = s.readLine()) {
                if (!s.write("+OK " + std::to_string(++n) + "\r\n")) return;
            }
        },
        small);
    ASSERT_TRUE(server.listening());

    auto sock = net->createTcp();
    Recorder rec;
    sock->setEvents(rec.wire(*sock));
    sock->connect("127.0.0.1", server.port());
    ASSERT_TRUE(pumpUntil([&] { return rec.has("connected"); }));
    EXPECT_EQ(sock->state(), SocketState::Connected);

    std::string line(98, 'x');
    line += "\r\n";
    for (int i = 0; i < kLines; ++i) {
        sock->send(line);  // queued; nothing is read before all are sent
        if (i == 0) {
            EXPECT_EQ(rec.sendCompletes, 0) << "send completion comes from the loop, not from send()";
        }
    }
    auto answers = [&] { return static_cast<int>(std::count(rec.data.begin(), rec.data.end(), '\n')); };
    ASSERT_TRUE(pumpUntil([&] { return answers() >= kLines; }, std::chrono::seconds(120)))
        << "answers received: " << answers();
    EXPECT_EQ(answers(), kLines);
    EXPECT_TRUE(rec.data.ends_with("+OK " + std::to_string(kLines) + "\r\n"));
    EXPECT_GE(rec.sendCompletes, 1);
    EXPECT_EQ(sock->state(), SocketState::Connected);
    sock->close();
}

#ifndef _WIN32
// An IPv6 literal resolves to itself (not IPv4) and the socket connects to
// it: a host reachable over IPv6 only is no longer left out.
TEST_F(NativeTcp, ConnectsToAnIpv6Address) {
    LoopbackOptions v6;
    v6.address = "::1";
    LoopbackServer server([](LoopbackStream& s) {
        while (auto line = s.readLine()) s.write("+OK " + *line);  // the line keeps its CR LF
    }, v6);
    if (!server.listening()) GTEST_SKIP() << "no IPv6 loopback on this machine";
    const ResolveResult r = net->resolve("::1");
    EXPECT_TRUE(r.found);
    EXPECT_FALSE(r.ipv4);
    ASSERT_EQ(r.address, "::1");
    auto sock = net->createTcp();
    Recorder rec;
    sock->setEvents(rec.wire(*sock));
    sock->connect(r.address, server.port());
    ASSERT_TRUE(pumpUntil([&] { return rec.has("connected"); }));
    sock->send("NOOP\r\n");
    ASSERT_TRUE(pumpUntil([&] { return rec.data == "+OK NOOP\r\n"; }));
    sock->close();
}
#endif

TEST_F(NativeTcp, SendCompleteFollowsEachDrainedQueue) {
    LoopbackServer server([](LoopbackStream& s) {
        while (auto line = s.readLine()) s.write(*line);
    });
    auto sock = net->createTcp();
    Recorder rec;
    sock->setEvents(rec.wire(*sock));
    sock->connect("127.0.0.1", server.port());
    ASSERT_TRUE(pumpUntil([&] { return rec.has("connected"); }));
    for (int round = 1; round <= 3; ++round) {
        sock->send("USER a\r\n");
        EXPECT_EQ(rec.sendCompletes, round - 1);
        ASSERT_TRUE(pumpUntil([&] { return rec.sendCompletes == round; }));
    }
    ASSERT_TRUE(pumpUntil([&] { return rec.data.size() == 24; }));
    EXPECT_EQ(rec.data, "USER a\r\nUSER a\r\nUSER a\r\n");
}

TEST_F(NativeTcp, RefusedConnectIsAnErrorEvent) {
    auto sock = net->createTcp();
    Recorder rec;
    sock->setEvents(rec.wire(*sock));
    // Bound and not listening: refused, and no other program can take it.
    auto closed = iw::test::HoldRefusingPort();
    ASSERT_TRUE(closed);
    sock->connect("127.0.0.1", closed->port());
    EXPECT_TRUE(rec.events.empty()) << "no event from inside connect()";
    ASSERT_TRUE(pumpUntil([&] { return rec.has("error"); }));
    EXPECT_EQ(sock->state(), SocketState::Error);
    EXPECT_NE(sock->lastError(), 0);
    EXPECT_FALSE(rec.has("connected"));
}

TEST_F(NativeTcp, InvalidAddressIsAnErrorEventToo) {
    auto sock = net->createTcp();
    Recorder rec;
    sock->setEvents(rec.wire(*sock));
    sock->connect("not.an.address", 110);
    EXPECT_TRUE(rec.events.empty());
    ASSERT_TRUE(pumpUntil([&] { return rec.has("error"); }));
    EXPECT_EQ(sock->state(), SocketState::Error);
}

TEST_F(NativeTcp, PeerCloseComesAfterTheLastData) {
    LoopbackServer server([](LoopbackStream& s) {
        s.write("+OK hello\r\n");
        s.write(std::string(200000, 'd'));
        s.write("bye");
        s.close();
    });
    auto sock = net->createTcp();
    Recorder rec;
    sock->setEvents(rec.wire(*sock));
    sock->connect("127.0.0.1", server.port());
    ASSERT_TRUE(pumpUntil([&] { return rec.events.size() >= 2; }));
    const std::size_t total = 11 + 200000 + 3;
    EXPECT_EQ(rec.events, (std::vector<std::string>{"connected", "closed after " + std::to_string(total)}));
    EXPECT_EQ(rec.data.size(), total);
    EXPECT_TRUE(rec.data.ends_with("dbye"));
    EXPECT_EQ(sock->state(), SocketState::Closed);
}

TEST_F(NativeTcp, SendOnAClosedSocketIsIgnored) {
    std::atomic<int> bytesSeen{0};
    LoopbackServer server([&](LoopbackStream& s) {
        while (true) {
            std::string got = s.readSome();
            if (got.empty()) return;
            bytesSeen += static_cast<int>(got.size());
        }
    });
    auto sock = net->createTcp();
    Recorder rec;
    sock->setEvents(rec.wire(*sock));
    sock->send("before connect\r\n");
    sock->connect("127.0.0.1", server.port());
    ASSERT_TRUE(pumpUntil([&] { return rec.has("connected"); }));
    sock->close();
    sock->send("after close\r\n");
    EXPECT_EQ(sock->state(), SocketState::Closed);
    const auto end = steady_clock::now() + Milliseconds(300);
    while (steady_clock::now() < end) loop->pump(Milliseconds(50));
    EXPECT_EQ(rec.sendCompletes, 0);
    EXPECT_EQ(bytesSeen.load(), 0);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"connected"})) << "closing ourselves raises no event";
}

TEST_F(NativeTcp, ReconnectDropsEventsOfTheEarlierConnection) {
    LoopbackServer oldServer([](LoopbackStream& s) { s.write("old greeting\r\n"); });
    LoopbackServer newServer([](LoopbackStream& s) {
        s.write("new greeting\r\n");
        s.readLine();
    });
    auto sock = net->createTcp();
    Recorder rec;
    sock->setEvents(rec.wire(*sock));

    // A failed connect whose error is still queued, then a good one.
    sock->connect("not.an.address", 110);
    sock->connect("127.0.0.1", oldServer.port());
    ASSERT_TRUE(pumpUntil([&] { return !rec.data.empty(); }));
    EXPECT_FALSE(rec.has("error"));

    // Data of the first connection that nobody took is gone with it. The
    // old peer may already have closed along with its greeting (both come
    // in one read), before the reconnect: only what follows it counts.
    rec.data.clear();
    rec.events.clear();
    sock->setEvents({});
    const auto end = steady_clock::now() + Milliseconds(200);
    while (steady_clock::now() < end) loop->pump(Milliseconds(50));
    sock->setEvents(rec.wire(*sock));
    sock->connect("127.0.0.1", newServer.port());
    EXPECT_EQ(sock->bytesAvailable(), 0u);
    ASSERT_TRUE(pumpUntil([&] { return rec.data.find('\n') != std::string::npos; }));
    EXPECT_EQ(rec.data, "new greeting\r\n");
    EXPECT_FALSE(rec.has("closed after 14")) << "the old peer's close must not arrive";
}

TEST_F(NativeTcp, HandlerMayDestroyTheSocket) {
    LoopbackServer server([](LoopbackStream& s) {
        s.write("+OK\r\n");
        s.readLine();
    });
    auto sock = net->createTcp();
    bool gotData = false;
    TcpSocketEvents e;
    e.dataArrival = [&](std::size_t) {
        gotData = true;
        sock.reset();  // the handler ends the socket's life from inside its event
    };
    sock->setEvents(e);
    sock->connect("127.0.0.1", server.port());
    ASSERT_TRUE(pumpUntil([&] { return gotData; }));
    EXPECT_EQ(sock, nullptr);
    loop->pump(Milliseconds(50));
}

TEST_F(NativeTcp, UdpSendToAnInvalidAddressIsRefused) {
    auto udp = net->createUdp();
    EXPECT_FALSE(udp->sendTo("not.an.address", 123, "x"));
    auto closed = iw::test::HoldRefusingPort();
    ASSERT_TRUE(closed);
    EXPECT_TRUE(udp->sendTo("127.0.0.1", closed->port(), std::string(48, '\0')));
    loop->pump(Milliseconds(50));  // a refusal coming back is not an event
    udp->close();
}

}  // namespace
