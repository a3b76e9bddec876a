// The build's real loopback listener (POSIX sockets natively, Winsock under
// Wine): a free port on 127.0.0.1 only, connections accepted as ordinary
// sockets that read and write, and a listener that closes for good.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/native.h"

namespace {

using namespace iw::platform;
using std::chrono::steady_clock;

class LoopbackListener : public ::testing::Test {
protected:
    std::unique_ptr<EventLoop> loop = createEventLoop();
    std::unique_ptr<Network> network = createNetwork(*loop);

    // Pumps until `done`; the guard only keeps a broken build from hanging.
    bool pumpUntil(const std::function<bool()>& done, Milliseconds guard = Milliseconds(20000)) {
        const auto end = steady_clock::now() + guard;
        while (!done() && steady_clock::now() < end) loop->pump(Milliseconds(50));
        return done();
    }

    // Connects a client socket and reports how the attempt ended.
    struct Client {
        std::unique_ptr<TcpSocket> socket;
        bool connected = false, failed = false, closed = false;
        std::string got;
    };
    std::unique_ptr<Client> connectTo(const std::string& address, std::uint16_t port) {
        auto c = std::make_unique<Client>();
        c->socket = network->createTcp();
        Client* raw = c.get();
        TcpSocketEvents e;
        e.connected = [raw] { raw->connected = true; };
        e.error = [raw](int, const std::string&) { raw->failed = true; };
        e.closed = [raw] { raw->closed = true; };
        e.dataArrival = [raw](std::size_t) { raw->got += raw->socket->receive(); };
        c->socket->setEvents(std::move(e));
        c->socket->connect(address, port);
        return c;
    }
};

TEST_F(LoopbackListener, FreePortAcceptReadAndWrite) {
    std::unique_ptr<TcpListener> listener = network->createListener();
    ASSERT_TRUE(listener);
    std::vector<std::unique_ptr<TcpSocket>> accepted;
    listener->setAcceptReady([&] {
        while (auto s = listener->accept()) accepted.push_back(std::move(s));
    });
    ASSERT_TRUE(listener->listenLoopback()) << listener->lastErrorText();
    const std::uint16_t port = listener->port();
    EXPECT_NE(port, 0);

    // A second listener gets a port of its own, not the first one's.
    std::unique_ptr<TcpListener> other = network->createListener();
    ASSERT_TRUE(other->listenLoopback());
    EXPECT_NE(other->port(), port);
    // Nor can it take the first one's port.
    std::unique_ptr<TcpListener> clash = network->createListener();
    EXPECT_FALSE(clash->listenLoopback(port));
    EXPECT_EQ(clash->port(), 0);

    auto a = connectTo("127.0.0.1", port);
    auto b = connectTo("127.0.0.1", port);
    ASSERT_TRUE(pumpUntil([&] { return a->connected && b->connected && accepted.size() == 2; }));
    for (auto& s : accepted) EXPECT_EQ(s->state(), SocketState::Connected);

    // Each accepted socket reads what its client sent and answers it.
    std::vector<std::string> heard(2);
    for (std::size_t i = 0; i < 2; ++i) {
        TcpSocketEvents e;
        e.dataArrival = [&, i](std::size_t) {
            heard[i] += accepted[i]->receive();
            if (heard[i].find('\n') != std::string::npos) accepted[i]->send("re:" + heard[i]);
        };
        accepted[i]->setEvents(std::move(e));
    }
    a->socket->send("alpha\n");
    b->socket->send("bravo\n");
    ASSERT_TRUE(pumpUntil([&] { return a->got.size() == 9 && b->got.size() == 9; }));
    // Which accepted socket belongs to which client is not known; the pairs are.
    EXPECT_EQ(a->got, "re:alpha\n");
    EXPECT_EQ(b->got, "re:bravo\n");

    // The server side closes: the client sees an orderly close.
    accepted[0]->close();
    accepted[1]->close();
    EXPECT_TRUE(pumpUntil([&] { return a->closed && b->closed; }));
}

TEST_F(LoopbackListener, DataSentBeforeTheAcceptIsNotLost) {
    std::unique_ptr<TcpListener> listener = network->createListener();
    bool ready = false;
    listener->setAcceptReady([&] { ready = true; });
    ASSERT_TRUE(listener->listenLoopback());
    auto c = connectTo("127.0.0.1", listener->port());
    ASSERT_TRUE(pumpUntil([&] { return ready && c->connected; }));
    c->socket->send("GET / HTTP/1.1\r\n\r\n");
    // Give the bytes time to reach the waiting connection before it is taken.
    for (int i = 0; i < 5; ++i) loop->pump(Milliseconds(20));
    std::unique_ptr<TcpSocket> s = listener->accept();
    ASSERT_TRUE(s);
    std::string heard;
    TcpSocketEvents e;
    e.dataArrival = [&](std::size_t) { heard += s->receive(); };
    s->setEvents(std::move(e));
    heard += s->receive();
    EXPECT_TRUE(pumpUntil([&] { return heard == "GET / HTTP/1.1\r\n\r\n"; })) << heard;
    EXPECT_FALSE(listener->accept());  // nothing else waits
}

TEST_F(LoopbackListener, ReachableOnLoopbackOnlyAndClosedForGood) {
    std::unique_ptr<TcpListener> listener = network->createListener();
    int accepts = 0;
    listener->setAcceptReady([&] {
        while (auto s = listener->accept()) ++accepts;
    });
    ASSERT_TRUE(listener->listenLoopback());
    const std::uint16_t port = listener->port();

    // 127.0.0.2 is a loopback address too, but not the one bound: refused.
    auto elsewhere = connectTo("127.0.0.2", port);
    ASSERT_TRUE(pumpUntil([&] { return elsewhere->connected || elsewhere->failed; }));
    EXPECT_TRUE(elsewhere->failed);
    EXPECT_FALSE(elsewhere->connected);

    listener->close();
    EXPECT_EQ(listener->port(), 0);
    EXPECT_FALSE(listener->accept());
    auto late = connectTo("127.0.0.1", port);
    ASSERT_TRUE(pumpUntil([&] { return late->connected || late->failed; }));
    EXPECT_TRUE(late->failed);
    EXPECT_EQ(accepts, 0);
}

}  // namespace
