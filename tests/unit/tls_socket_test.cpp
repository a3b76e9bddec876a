// The TLS socket against an in-process OpenSSL server over byte buffers:
// records cut anywhere, data right behind the handshake, a close without
// close_notify, alerts, STLS in the login step with bytes injected behind
// its "+OK", and the certificate decisions. Native build (OpenSSL on both ends).
#ifndef _WIN32

#include <gtest/gtest.h>

#include "pop3/connection.h"
#include "pop3/login.h"
#include "platform/tls_socket.h"
#include "tests/support/tls_test_server.h"

namespace iw::test {
namespace {

using platform::MailSecurity;
using platform::SocketState;
using platform::TlsFailure;

// The wrapped socket, driven by hand: the test is the event loop.
class Wire : public platform::TcpSocket {
public:
    platform::TcpSocketEvents ev;
    std::string toServer;
    std::string inbox;
    SocketState st = SocketState::Closed;
    int closes = 0;

    void setEvents(platform::TcpSocketEvents e) override { ev = std::move(e); }
    void connect(const std::string&, std::uint16_t) override { st = SocketState::Connecting; }
    void send(std::string_view b) override {
        if (st == SocketState::Connected) toServer.append(b);
    }
    std::string receive() override {
        std::string out;
        out.swap(inbox);
        return out;
    }
    std::size_t bytesAvailable() const override { return inbox.size(); }
    void close() override {
        st = SocketState::Closed;
        ++closes;
    }
    SocketState state() const override { return st; }
    int lastError() const override { return 0; }

    void up() {
        st = SocketState::Connected;
        if (auto f = ev.connected) f();
    }
    void deliver(std::string_view b) {
        if (st != SocketState::Connected) return;
        inbox.append(b);
        if (auto f = ev.dataArrival) f(inbox.size());
    }
    void hangUp() {
        st = SocketState::Closed;
        if (auto f = ev.closed) f();
    }
    std::string takeSent() {
        std::string out;
        out.swap(toServer);
        return out;
    }
};

// Sockets for a POP3 connection: TLS (`mode`) over a fresh Wire each,
// checked against `host` and the test certificates; `wire` names the newest.
pop3::Connection::SocketFactory TlsOverWire(Wire*& wire, MailSecurity mode, std::string host) {
    platform::TlsOptions o;
    o.host = std::move(host);
    o.caFile = TlsTestServer::certificates().caFile;
    return [&wire, mode, o]() -> std::unique_ptr<platform::TcpSocket> {
        auto w = std::make_unique<Wire>();
        wire = w.get();
        return std::make_unique<platform::TlsSocket>(std::move(w), mode, o);
    };
}

struct Rig {
    Wire* wire;
    std::unique_ptr<platform::TlsSocket> sock;
    TlsTestServer server;
    std::string got;
    int connected = 0, closed = 0, errors = 0, sendCompletes = 0;
    int errorCode = 0;

    explicit Rig(MailSecurity mode = MailSecurity::Tls, TlsTestServer::Leaf leaf = TlsTestServer::Leaf::Good,
                 TlsTestServer::Fault fault = TlsTestServer::Fault::None, std::string pin = {},
                 std::string host = "mail.test")
        : server(leaf, fault) {
        auto w = std::make_unique<Wire>();
        wire = w.get();
        platform::TlsOptions o;
        o.host = std::move(host);
        o.pinSha256 = std::move(pin);
        o.caFile = TlsTestServer::certificates().caFile;
        sock = std::make_unique<platform::TlsSocket>(std::move(w), mode, o);
        platform::TcpSocketEvents ev;
        ev.connected = [this] { ++connected; };
        ev.dataArrival = [this](std::size_t) { got += sock->receive(); };
        ev.closed = [this] { ++closed; };
        ev.sendComplete = [this] { ++sendCompletes; };
        ev.error = [this](int code, const std::string&) {
            ++errors;
            errorCode = code;
        };
        sock->setEvents(std::move(ev));
        sock->connect("127.0.0.1", 995);
        wire->up();
    }

    // Moves bytes both ways until neither side has more; what the server
    // sends reaches the client in pieces of `chunk` bytes (0: whole).
    void run(std::size_t chunk = 0) {
        for (int round = 0; round < 100; ++round) {
            const std::string up = wire->takeSent();
            server.feed(up);
            const std::string down = server.take();
            if (up.empty() && down.empty()) return;
            deliver(down, chunk);
        }
    }
    void deliver(std::string_view bytes, std::size_t chunk) {
        if (chunk == 0) chunk = bytes.size();
        for (std::size_t at = 0; at < bytes.size(); at += chunk) wire->deliver(bytes.substr(at, chunk));
    }
    TlsFailure failure() const { return platform::TlsFailureOfCode(errorCode); }
};

const std::string kGreeting = "+OK ready\r\n";
const std::string kListing = "+OK 2 messages\r\n1 120\r\n2 3400\r\n.\r\n";

TEST(TlsSocket, WholeDialogueArrivesIntactInPiecesOfAnySize) {
    for (std::size_t chunk : {1, 2, 3, 5, 7, 16, 100, 1000, 0}) {
        SCOPED_TRACE(chunk);
        Rig r;
        r.server.write(kGreeting);
        r.run(chunk);
        ASSERT_EQ(r.connected, 1);
        EXPECT_EQ(r.sock->state(), SocketState::Connected);
        EXPECT_EQ(r.got, kGreeting);
        r.got.clear();
        r.sock->send("LIST\r\n");
        r.run(chunk);
        EXPECT_EQ(r.server.read(), "LIST\r\n");
        r.server.write(kListing);
        r.run(chunk);
        EXPECT_EQ(r.got, kListing);
        EXPECT_EQ(r.errors, 0);
    }
}

// The flight that ends the handshake carries the session tickets, the
// greeting and a whole listing; however it is cut in two, the text is whole
// and nothing is delivered twice or early. Cut around every record boundary
// (header, length, first byte of the body) and at a stride between them.
TEST(TlsSocket, FlightBehindTheHandshakeCutAnywhere) {
    std::vector<std::size_t> cuts;
    {
        Rig probe;
        probe.server.feed(probe.wire->takeSent());
        probe.wire->deliver(probe.server.take());
        probe.server.feed(probe.wire->takeSent());
        ASSERT_TRUE(probe.server.handshakeDone());
        probe.server.write(kGreeting + kListing);
        const std::string flight = probe.server.take();
        for (std::size_t at = 0; at + 5 <= flight.size();) {
            for (std::size_t d : {1, 3, 4, 5, 6}) cuts.push_back(at + d);
            at += 5 + (static_cast<unsigned char>(flight[at + 3]) << 8 | static_cast<unsigned char>(flight[at + 4]));
            cuts.push_back(at - 1);
        }
        for (std::size_t at = 2; at < flight.size(); at += 23) cuts.push_back(at);
        ASSERT_GT(cuts.size(), 20u);
    }
    for (std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        Rig r;
        r.server.feed(r.wire->takeSent());
        r.wire->deliver(r.server.take());
        r.server.feed(r.wire->takeSent());
        r.server.write(kGreeting + kListing);
        const std::string flight = r.server.take();
        // Ticket sizes differ a little between sessions.
        if (cut >= flight.size()) continue;
        r.wire->deliver(flight.substr(0, cut));
        r.wire->deliver(flight.substr(cut));
        ASSERT_EQ(r.got, kGreeting + kListing);
        ASSERT_EQ(r.connected, 1);
        ASSERT_EQ(r.errors, 0);
    }
}

// One application record cut at every one of its offsets.
TEST(TlsSocket, RecordCutAtEveryOffset) {
    Rig r;
    r.server.write(kGreeting);
    r.run();
    r.got.clear();
    r.server.write(kListing);
    const std::string first = r.server.take();
    const std::size_t size = first.size();
    r.wire->deliver(first);
    std::string want = kListing;
    for (std::size_t cut = 1; cut < size; ++cut) {
        r.server.write(kListing);
        const std::string rec = r.server.take();
        ASSERT_EQ(rec.size(), size);
        r.wire->deliver(rec.substr(0, cut));
        r.wire->deliver(rec.substr(cut));
        want += kListing;
    }
    EXPECT_EQ(r.got, want);
    EXPECT_EQ(r.errors, 0);
}

TEST(TlsSocket, CloseWithoutCloseNotifyMidListingIsAFailureNotAnEnd) {
    Rig r;
    r.server.write(kGreeting);
    r.run();
    r.server.write("+OK 2 messages\r\n1 120\r\n");
    r.run();
    r.wire->hangUp();
    EXPECT_EQ(r.got, kGreeting + "+OK 2 messages\r\n1 120\r\n");
    EXPECT_EQ(r.closed, 0);
    EXPECT_EQ(r.errors, 1);
    EXPECT_EQ(r.failure(), TlsFailure::Truncated);
    EXPECT_EQ(r.sock->state(), SocketState::Error);
}

TEST(TlsSocket, CloseNotifyIsAnOrderlyCloseAfterTheLastReply) {
    Rig r;
    r.server.write(kGreeting);
    r.run();
    r.got.clear();
    r.sock->send("QUIT\r\n");
    r.run();
    r.server.write("+OK bye\r\n");
    r.server.closeNotify();
    r.run();
    EXPECT_EQ(r.got, "+OK bye\r\n");
    EXPECT_EQ(r.closed, 1);
    EXPECT_EQ(r.errors, 0);
    EXPECT_EQ(r.sock->state(), SocketState::Closed);
    EXPECT_GE(r.wire->closes, 1);
}

TEST(TlsSocket, AlertFromTheServerFailsTheHandshake) {
    Rig r(MailSecurity::Tls, TlsTestServer::Leaf::Good, TlsTestServer::Fault::AlertOnHello);
    r.run();
    EXPECT_EQ(r.connected, 0);
    EXPECT_EQ(r.errors, 1);
    EXPECT_EQ(r.failure(), TlsFailure::Handshake);
    EXPECT_EQ(r.sock->state(), SocketState::Error);
}

// A server that offers nothing newer than TLS 1.1 is refused before a byte
// of the dialogue leaves the client.
TEST(TlsSocket, ProtocolsOlderThanTls12AreRefused) {
    Rig r(MailSecurity::Tls, TlsTestServer::Leaf::Good, TlsTestServer::Fault::OldProtocolsOnly);
    r.sock->send("USER alice\r\n");
    r.server.write(kGreeting);
    r.run();
    EXPECT_EQ(r.connected, 0);
    EXPECT_EQ(r.errors, 1);
    EXPECT_EQ(r.failure(), TlsFailure::Handshake);
    EXPECT_EQ(r.server.read(), "");
}

// The certificate is checked after the first handshake; a renegotiation the
// server asks for later (here to show a self-signed leaf) never happens.
TEST(TlsSocket, RenegotiationIsRefused) {
    Rig r(MailSecurity::Tls, TlsTestServer::Leaf::Good, TlsTestServer::Fault::Renegotiate);
    r.server.write(kGreeting);
    r.run();
    ASSERT_EQ(r.connected, 1);
    EXPECT_EQ(r.got, kGreeting);
    r.server.renegotiate();
    r.run();
    r.sock->send("USER alice\r\n");
    r.run();
    r.server.write("+OK\r\n");
    r.run();
    EXPECT_EQ(r.server.handshakes(), 1);
    EXPECT_EQ(r.got, kGreeting);  // nothing arrives over a renegotiated session
}

TEST(TlsSocket, BrokenRecordKeepsTheTextBeforeItThenFails) {
    Rig r;
    r.server.write(kGreeting);
    r.run();
    r.server.write("+OK 1 message\r\n");
    std::string record = r.server.take();
    r.server.write("1 120\r\n.\r\n");
    std::string broken = r.server.take();
    broken[broken.size() - 3] ^= 0x55;  // inside the record's authentication tag
    r.wire->deliver(record + broken);
    EXPECT_EQ(r.got, kGreeting + "+OK 1 message\r\n");
    EXPECT_EQ(r.errors, 1);
    EXPECT_EQ(r.failure(), TlsFailure::Handshake);
}

// A STARTTLS socket opens in plain text for the protocol's own exchange:
// only "STLS" may leave it unprotected, startTls() refuses while unasked
// bytes wait, and commands written during the handshake travel encrypted.
TEST(TlsSocket, StartTlsSocketSendsNothingButStlsInPlain) {
    Rig r(MailSecurity::StartTls);
    EXPECT_EQ(r.connected, 1);  // the TCP connection, still plain
    r.wire->deliver("+OK plain greeting\r\n");
    EXPECT_EQ(r.got, "+OK plain greeting\r\n");
    for (const char* early : {"USER someone\r\n", "PASS secret\r\n", "CAPA\r\n", "STLS\r\nUSER x\r\n", "stls\r\n"})
        r.sock->send(early);
    EXPECT_EQ(r.wire->takeSent(), "");
    r.sock->send("STLS\r\n");
    EXPECT_EQ(r.wire->takeSent(), "STLS\r\n");
    r.wire->inbox = "+OK injected\r\n";  // arrived, not yet taken
    EXPECT_FALSE(r.sock->startTls());
    r.wire->inbox.clear();
    ASSERT_TRUE(r.sock->startTls());
    EXPECT_FALSE(r.sock->startTls());  // once only
    r.sock->send("CAPA\r\n");         // held until the checks pass
    r.run();
    EXPECT_EQ(r.connected, 2);  // secured
    EXPECT_TRUE(r.sock->secured());
    EXPECT_EQ(r.server.read(), "CAPA\r\n");
    r.server.write("+OK\r\nUSER\r\n.\r\n");
    r.run();
    EXPECT_EQ(r.got, "+OK plain greeting\r\n+OK\r\nUSER\r\n.\r\n");
    EXPECT_EQ(r.errors, 0);
}

TEST(TlsSocket, CertificateDecisions) {
    using Leaf = TlsTestServer::Leaf;
    const std::string selfSignedPin = TlsTestServer(Leaf::SelfSigned).leafSha256();
    const std::string goodPin = TlsTestServer(Leaf::Good).leafSha256();
    struct Case {
        const char* name;
        Leaf leaf;
        std::string pin;
        std::string host;
        TlsFailure want;
    };
    const Case cases[] = {
        {"good", Leaf::Good, "", "mail.test", TlsFailure::None},
        {"host name in other case", Leaf::Good, "", "MAIL.test", TlsFailure::None},
        {"wrong name", Leaf::WrongName, "", "mail.test", TlsFailure::NameMismatch},
        {"address instead of name", Leaf::Good, "", "127.0.0.1", TlsFailure::NameMismatch},
        {"self-signed", Leaf::SelfSigned, "", "mail.test", TlsFailure::Untrusted},
        {"self-signed, pinned", Leaf::SelfSigned, selfSignedPin, "mail.test", TlsFailure::None},
        {"good, other pin", Leaf::Good, selfSignedPin, "mail.test", TlsFailure::PinMismatch},
        {"wrong name, pinned", Leaf::WrongName, TlsTestServer(Leaf::WrongName).leafSha256(), "mail.test",
         TlsFailure::None},
        {"good, pinned", Leaf::Good, goodPin, "mail.test", TlsFailure::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig r(MailSecurity::Tls, c.leaf, TlsTestServer::Fault::None, c.pin, c.host);
        // Written during the handshake: held until the checks pass, and
        // never sent when they fail.
        r.sock->send("USER someone\r\n");
        r.server.write(kGreeting);
        r.run();
        EXPECT_EQ(r.server.read(), c.want == TlsFailure::None ? "USER someone\r\n" : "");
        EXPECT_EQ(r.failure(), c.want);
        EXPECT_EQ(r.connected, c.want == TlsFailure::None ? 1 : 0);
        EXPECT_EQ(r.got, c.want == TlsFailure::None ? kGreeting : "");
        // The certificate is there to show, whatever the verdict.
        EXPECT_EQ(r.sock->certificate().sha256.size(), 64u);
        EXPECT_EQ(r.sock->certificate().sha256, r.server.leafSha256());
        EXPECT_NE(r.sock->certificate().subject.find("CN"), std::string::npos);
        if (c.want == TlsFailure::PinMismatch) {
            const std::u16string text = platform::MailSocketFailureText(r.sock.get(), r.errorCode);
            const std::string got(r.sock->certificate().sha256);
            EXPECT_NE(text.find(std::u16string(got.begin(), got.end())), std::u16string::npos);
            EXPECT_NE(text.find(std::u16string(c.pin.begin(), c.pin.end())), std::u16string::npos);
        }
    }
}

TEST(TlsSocket, ReconnectStartsAFreshSession) {
    Rig r;
    r.server.write(kGreeting);
    r.run();
    ASSERT_EQ(r.connected, 1);
    r.sock->close();
    EXPECT_EQ(r.sock->state(), SocketState::Closed);
    // A second connection to a fresh server over the same socket object.
    TlsTestServer second;
    r.sock->connect("127.0.0.1", 995);
    r.wire->up();
    second.feed(r.wire->takeSent());
    r.wire->deliver(second.take());
    second.feed(r.wire->takeSent());
    second.write("+OK again\r\n");
    r.wire->deliver(second.take());
    EXPECT_EQ(r.connected, 2);
    EXPECT_EQ(r.got, kGreeting + "+OK again\r\n");
}

// The login step's STLS over the real TLS socket: greeting, "STLS", the
// handshake, a fresh CAPA and the login, all behind the certificate checks.
// A line injected behind the "+OK" (in its segment or a segment of its own)
// and a bad certificate end the connection; no credential ever leaves.
TEST(TlsSocket, StlsInTheLoginStep) {
    enum class Fault { None, InjectedSameSegment, InjectedOwnSegment, BadCertificate };
    struct Case {
        const char* name;
        Fault fault;
        pop3::LoginOutcome outcome;
        TlsFailure failure;  // the socket's, or the login's for TlsFailed
    } cases[] = {
        {"secured", Fault::None, pop3::LoginOutcome::LoggedIn, TlsFailure::None},
        {"injected in the +OK's segment", Fault::InjectedSameSegment, pop3::LoginOutcome::TlsFailed,
         TlsFailure::Handshake},
        {"injected in a segment of its own", Fault::InjectedOwnSegment, pop3::LoginOutcome::Ended,
         TlsFailure::Handshake},
        {"certificate for another host", Fault::BadCertificate, pop3::LoginOutcome::Ended, TlsFailure::NameMismatch},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Wire* wire = nullptr;
        pop3::Connection conn(TlsOverWire(wire, MailSecurity::StartTls, c.fault == Fault::BadCertificate ? "elsewhere.test" : "mail.test"));
        pop3::LoginRequest request;
        request.user = "amy";
        request.password = "secret";
        request.secured = true;
        request.startTls = true;
        pop3::Login login(conn, request);
        conn.setHandlers({[&](const pop3::Reply& r) { login.onReply(r); }, {}, [&](pop3::End) { login.onEnded(); }});
        conn.connect("127.0.0.1", 110, pop3::kTagGreeting);
        wire->up();
        wire->deliver("+OK plain\r\n");
        std::string plain = wire->takeSent();
        EXPECT_EQ(plain, "STLS\r\n");
        if (c.fault == Fault::InjectedSameSegment) {
            wire->deliver("+OK Begin TLS\r\n+OK injected\r\n");
        } else {
            wire->deliver("+OK Begin TLS\r\n");
            if (c.fault == Fault::InjectedOwnSegment) wire->deliver("+OK injected\r\n");
        }
        TlsTestServer server;
        std::string read;
        for (int round = 0; round < 20 && !login.done(); ++round) {
            server.feed(wire->takeSent());
            const std::string got = server.read();
            read += got;
            if (got == "CAPA\r\n") server.write("+OK\r\nUSER\r\nPIPELINING\r\n.\r\n");
            if (got == "USER amy\r\nPASS secret\r\n") server.write("+OK\r\n+OK in\r\n");
            const std::string down = server.take();
            if (down.empty() && got.empty()) break;
            wire->deliver(down);
        }
        EXPECT_EQ(login.outcome(), c.outcome);
        if (c.outcome == pop3::LoginOutcome::LoggedIn) {
            EXPECT_EQ(read, "CAPA\r\nUSER amy\r\nPASS secret\r\n");
            EXPECT_TRUE(login.askedCapa());
            EXPECT_TRUE(login.capabilities().pipelining);
        } else {
            EXPECT_EQ(read, "");  // nothing reached the server through TLS
            EXPECT_FALSE(conn.usable());
            const TlsFailure f = c.outcome == pop3::LoginOutcome::TlsFailed
                                     ? login.tlsFailure()
                                     : platform::TlsFailureOfCode(conn.socket()->lastError());
            EXPECT_EQ(f, c.failure);
        }
    }
}

// What is sent while the TCP connection is being made travels once the
// handshake passed, and belongs to that connection only: a close or a new
// connect drops it.
TEST(TlsSocket, SendWhileConnectingIsHeldForThatConnectionOnly) {
    struct Case {
        const char* name;
        bool reconnect;
        std::string read;
    } cases[] = {
        {"held until the checks passed", false, "USER amy\r\nNOOP\r\n"},
        {"dropped by a new connect", true, "NOOP\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto w = std::make_unique<Wire>();
        Wire* wire = w.get();
        platform::TlsOptions o;
        o.host = "mail.test";
        o.caFile = TlsTestServer::certificates().caFile;
        platform::TlsSocket sock(std::move(w), MailSecurity::Tls, o);
        sock.connect("127.0.0.1", 995);
        sock.send("USER amy\r\n");
        if (c.reconnect) sock.connect("127.0.0.1", 995);
        wire->up();
        EXPECT_EQ(wire->toServer.find("USER"), std::string::npos);
        TlsTestServer server;
        std::string read;
        for (int round = 0; round < 20; ++round) {
            server.feed(wire->takeSent());
            read += server.read();
            const std::string down = server.take();
            if (down.empty()) break;
            wire->deliver(down);
        }
        ASSERT_TRUE(sock.secured());
        sock.send("NOOP\r\n");
        server.feed(wire->takeSent());
        read += server.read();
        EXPECT_EQ(read, c.read);
    }
}

// Over TLS from the first byte with remembered capabilities, USER and PASS
// are queued as soon as the connection is made and share the greeting's
// wait. They are held until the certificate passed (a send while the TCP
// connection is still being made is kept, not dropped), replies are matched
// greeting, USER, PASS, and the connection ends in step. A changed greeting
// asks CAPA after PASS; a refused greeting or a bad certificate ends it with
// nothing more sent. Without what makes it safe, the login waits for the
// greeting as before.
TEST(TlsSocket, LoginSentBeforeTheGreetingOverTls) {
    enum class Server { Same, ChangedGreeting, RefusedGreeting, BadCertificate, NoPipelining, NothingRemembered };
    struct Case {
        const char* name;
        Server server;
        pop3::LoginOutcome outcome;
        bool early;
        std::string read;  // what the server read, in order
        bool askedCapa;
    } cases[] = {
        {"same greeting", Server::Same, pop3::LoginOutcome::LoggedIn, true, "USER amy\r\nPASS secret\r\n", false},
        {"greeting changed", Server::ChangedGreeting, pop3::LoginOutcome::LoggedIn, true,
         "USER amy\r\nPASS secret\r\nCAPA\r\n", true},
        {"greeting refused", Server::RefusedGreeting, pop3::LoginOutcome::GreetingRefused, true,
         "USER amy\r\nPASS secret\r\n", false},
        {"certificate for another host", Server::BadCertificate, pop3::LoginOutcome::Ended, true, "", false},
        {"no PIPELINING remembered", Server::NoPipelining, pop3::LoginOutcome::LoggedIn, false,
         "USER amy\r\nPASS secret\r\n", false},
        {"nothing remembered", Server::NothingRemembered, pop3::LoginOutcome::LoggedIn, false,
         "CAPA\r\nUSER amy\r\nPASS secret\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Wire* wire = nullptr;
        pop3::Connection conn(TlsOverWire(wire, MailSecurity::Tls, c.server == Server::BadCertificate ? "elsewhere.test" : "mail.test"));
        pop3::LoginRequest request;
        request.user = "amy";
        request.password = "secret";
        request.userUtf8 = "amy";
        request.passwordUtf8 = "secret";
        request.secured = true;
        if (c.server != Server::NothingRemembered) {
            pop3::Capabilities known;
            known.listed = true;
            known.user = true;
            known.pipelining = c.server != Server::NoPipelining;
            request.remembered = known;
            request.rememberedGreeting = "+OK ready <1.2@mail.test>";
        }
        pop3::Login login(conn, request);
        std::vector<int> told;
        login.setSentHandler([&](int tag) { told.push_back(tag); });
        std::vector<int> order;
        conn.setHandlers({[&](const pop3::Reply& r) {
                              order.push_back(r.tag);
                              login.onReply(r);
                          },
                          {},
                          [&](pop3::End) { login.onEnded(); }});
        conn.connect("127.0.0.1", 995, pop3::kTagGreeting);
        login.start();
        EXPECT_EQ(login.sentEarly(), c.early);
        EXPECT_TRUE(told.empty());  // nothing is told as sent before the greeting came
        wire->up();
        const std::string hello = wire->takeSent();
        EXPECT_EQ(hello.find("USER"), std::string::npos);  // only the ClientHello travels
        TlsTestServer server;
        server.feed(hello);
        switch (c.server) {
        case Server::ChangedGreeting: server.write("+OK another server <3.4@mail.test>\r\n"); break;
        case Server::RefusedGreeting: server.write("-ERR go away\r\n"); break;
        default: server.write("+OK ready <9.9@mail.test>\r\n"); break;  // only the timestamp differs
        }
        std::string read;
        for (int round = 0; round < 30 && !login.done(); ++round) {
            const std::string down = server.take();
            wire->deliver(down);
            const std::string up = wire->takeSent();
            server.feed(up);
            const std::string got = server.read();
            read += got;
            std::string answer;
            for (std::size_t at = 0; at < got.size();) {
                const std::size_t end = got.find("\r\n", at);
                const std::string line = got.substr(at, end - at);
                at = end + 2;
                if (line == "CAPA") answer += "+OK\r\nUSER\r\nUIDL\r\n.\r\n";
                if (line == "USER amy") answer += "+OK\r\n";
                if (line == "PASS secret") answer += "+OK in\r\n";
            }
            if (!answer.empty()) server.write(answer);
            if (down.empty() && up.empty() && got.empty()) break;
        }
        EXPECT_EQ(login.outcome(), c.outcome);
        EXPECT_EQ(read, c.read);
        EXPECT_EQ(login.askedCapa(), c.askedCapa);
        if (c.early && c.outcome == pop3::LoginOutcome::LoggedIn) {
            // Told once the greeting came, in the order they went out.
            ASSERT_GE(told.size(), 2u);
            EXPECT_EQ(told[0], pop3::kTagUser);
            EXPECT_EQ(told[1], pop3::kTagPass);
        }
        switch (c.outcome) {
        case pop3::LoginOutcome::LoggedIn:
            // In step: every reply taken in order, nothing outstanding.
            EXPECT_TRUE(conn.usable());
            EXPECT_EQ(conn.outstanding(), 0u);
            EXPECT_EQ(login.lastTag(), c.askedCapa && c.early ? pop3::kTagCapa : pop3::kTagPass);
            if (c.server == Server::ChangedGreeting) {
                // The new server's list replaces the remembered one.
                EXPECT_FALSE(login.capabilities().pipelining);
                EXPECT_TRUE(login.capabilities().uidl);
            }
            break;
        case pop3::LoginOutcome::GreetingRefused:
            EXPECT_FALSE(conn.connected());  // nothing more is read or sent
            EXPECT_EQ(order, std::vector<int>{pop3::kTagGreeting});
            break;
        default:
            EXPECT_EQ(platform::TlsFailureOfCode(conn.socket()->lastError()), TlsFailure::NameMismatch);
            break;
        }
    }
}

}  // namespace
}  // namespace iw::test

#endif
