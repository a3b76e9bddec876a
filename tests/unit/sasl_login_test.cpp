// The login step with the program's SASL mechanisms, over a hand-fed socket:
// which way an account logs in for each CAPA, what goes on the wire, and what
// the owner learns about a refused token.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "auth/base64.h"
#include "pop3/connection.h"
#include "pop3/login.h"
#include "pop3/sasl_mechanisms.h"

namespace iw::test {
namespace {

class WireSocket : public platform::TcpSocket {
public:
    platform::TcpSocketEvents ev;
    std::string in, sent;
    platform::SocketState st = platform::SocketState::Closed;
    void setEvents(platform::TcpSocketEvents e) override { ev = std::move(e); }
    void connect(const std::string&, std::uint16_t) override { st = platform::SocketState::Connected; }
    void send(std::string_view b) override { sent += b; }
    std::string receive() override { return std::exchange(in, {}); }
    std::size_t bytesAvailable() const override { return in.size(); }
    void close() override { st = platform::SocketState::Closed; }
    platform::SocketState state() const override { return st; }
    int lastError() const override { return 0; }
    void arrive(const std::string& b) {
        in += b;
        if (ev.dataArrival) ev.dataArrival(in.size());
    }
    // The lines sent since the last call.
    std::vector<std::string> takeLines() {
        std::vector<std::string> out;
        std::size_t pos = 0;
        while (true) {
            const std::size_t e = sent.find("\r\n", pos);
            if (e == std::string::npos) break;
            out.push_back(sent.substr(pos, e - pos));
            pos = e + 2;
        }
        sent.erase(0, pos);
        return out;
    }
};

struct LoginRig {
    WireSocket* sock = nullptr;
    pop3::Connection conn{[this] {
        auto s = std::make_unique<WireSocket>();
        sock = s.get();
        return s;
    }};
    std::unique_ptr<pop3::Login> login;
    std::vector<std::shared_ptr<pop3::ExchangeMechanism>> mechs;

    explicit LoginRig(pop3::LoginRequest req, std::vector<std::shared_ptr<pop3::ExchangeMechanism>> m = {})
        : mechs(std::move(m)) {
        for (const auto& x : mechs) req.mechanisms.push_back(x);
        conn.setHandlers({[this](const pop3::Reply& r) { login->onReply(r); }, {},
                          [this](pop3::End) { login->onEnded(); }});
        conn.connect("127.0.0.1", 995, pop3::kTagGreeting);
        login = std::make_unique<pop3::Login>(conn, std::move(req));
    }
};

const std::string kToken(4448, 'T');

pop3::LoginRequest oauthRequest(bool secured) {
    pop3::LoginRequest r;
    r.user = "me@outlook.com";
    r.secured = secured;
    r.saslOnly = true;
    return r;
}

TEST(SaslLogin, BearerTokenInTheSecondStepOnly) {
    LoginRig rig(oauthRequest(true), pop3::BearerMechanisms("me@outlook.com", kToken, "outlook.office365.com", 995));
    rig.sock->arrive("+OK ready\r\n");
    EXPECT_EQ(rig.sock->takeLines(), std::vector<std::string>{"CAPA"});
    rig.sock->arrive("+OK\r\nTOP\r\nUIDL\r\nSASL PLAIN XOAUTH2\r\nUSER\r\n.\r\n");
    const auto auth = rig.sock->takeLines();
    ASSERT_EQ(auth, std::vector<std::string>{"AUTH XOAUTH2"});
    EXPECT_LE(auth[0].size() + 2, 255u);
    rig.sock->arrive("+\r\n");  // Microsoft's bare "+"
    const auto resp = rig.sock->takeLines();
    ASSERT_EQ(resp.size(), 1u);
    EXPECT_EQ(auth::DecodeBase64Strict(resp[0]),
              "user=me@outlook.com\x01" "auth=Bearer " + kToken + "\x01\x01");
    rig.sock->arrive("+OK User successfully authenticated.\r\n");
    EXPECT_EQ(rig.login->outcome(), pop3::LoginOutcome::LoggedIn);
    EXPECT_EQ(rig.login->mechanism(), "XOAUTH2");
}

TEST(SaslLogin, RefusedTokenIsToldApartFromOtherRefusals) {
    const std::string challenge = auth::EncodeBase64(R"({"status":"401","schemes":"bearer"})");
    struct Case {
        const char* name;
        std::string capa;
        std::vector<std::string> server;  // after the AUTH line
        std::vector<std::string> client;  // what the client sends to them, in order
        pop3::LoginOutcome outcome;
        bool tokenRefused;
        bool exchangeSucceeded;
    } cases[] = {
        {"401 challenge, OAUTHBEARER answers AQ==", "SASL OAUTHBEARER\r\n",
         {"+ \r\n", "+ " + challenge + "\r\n", "-ERR [AUTH] Authentication failed.\r\n"}, {"<resp>", "AQ=="},
         pop3::LoginOutcome::AuthRefused, true, false},
        {"401 challenge, XOAUTH2 answers an empty line", "SASL XOAUTH2\r\n",
         {"+ \r\n", "+ " + challenge + "\r\n", "-ERR [AUTH] Authentication failed.\r\n"}, {"<resp>", ""},
         pop3::LoginOutcome::AuthRefused, true, false},
        {"in use is no token problem", "SASL XOAUTH2\r\n", {"+ \r\n", "-ERR [IN-USE] mailbox locked\r\n"},
         {"<resp>"}, pop3::LoginOutcome::AuthRefused, false, false},
        {"+OK after the challenge", "SASL XOAUTH2\r\n",
         {"+ \r\n", "+ " + challenge + "\r\n", "+OK Logged in.\r\n"}, {"<resp>", ""}, pop3::LoginOutcome::LoggedIn,
         false, false},
        {"a garbled challenge is cancelled", "SASL XOAUTH2\r\n",
         {"+ \r\n", "+ not base64!\r\n", "-ERR Authentication aborted by client.\r\n"}, {"<resp>", "*"},
         pop3::LoginOutcome::AuthRefused, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoginRig rig(oauthRequest(true), pop3::BearerMechanisms("me", "TOKEN", "h", 995));
        rig.sock->arrive("+OK ready\r\n");
        rig.sock->takeLines();
        rig.sock->arrive("+OK\r\n" + c.capa + ".\r\n");
        rig.sock->takeLines();
        std::vector<std::string> sent;
        for (const std::string& s : c.server) {
            rig.sock->arrive(s);
            for (const std::string& l : rig.sock->takeLines()) sent.push_back(l);
        }
        ASSERT_EQ(sent.size(), c.client.size());
        for (std::size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(sent[i], c.client[i]);
        EXPECT_EQ(rig.login->outcome(), c.outcome);
        pop3::ExchangeMechanism* used = nullptr;
        for (const auto& m : rig.mechs)
            if (m->name() == rig.login->mechanism()) used = m.get();
        ASSERT_NE(used, nullptr);
        used->finished(rig.login->refusal());
        EXPECT_EQ(used->tokenRefused(), c.tokenRefused);
        EXPECT_EQ(used->exchange().outcome() == auth::SaslOutcome::Succeeded, c.exchangeSucceeded);
    }
}

TEST(SaslLogin, NoTokenWithoutTlsAndNoPasswordForOAuth) {
    struct Case {
        const char* name;
        bool secured;
        std::string capa;
    } cases[] = {
        {"plain connection that offers XOAUTH2", false, "USER\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\n"},
        {"TLS, but no bearer mechanism", true, "USER\r\nSASL PLAIN\r\n"},
        {"TLS, no SASL line at all", true, "USER\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoginRig rig(oauthRequest(c.secured), pop3::BearerMechanisms("me", "TOKEN", "h", 110));
        rig.sock->arrive("+OK ready\r\n");
        rig.sock->takeLines();
        rig.sock->arrive("+OK\r\n" + c.capa + ".\r\n");
        EXPECT_TRUE(rig.sock->takeLines().empty());  // neither AUTH nor USER
        EXPECT_EQ(rig.login->outcome(), pop3::LoginOutcome::NoMechanism);
    }
}

TEST(SaslLogin, PlainOnlyWhereUserIsNotListed) {
    struct Case {
        std::string capa;
        std::string first;
    } cases[] = {
        {"USER\r\nSASL PLAIN\r\n", "USER me"},
        {"SASL PLAIN\r\n", "AUTH PLAIN"},
        {"TOP\r\n", "USER me"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capa);
        pop3::LoginRequest r;
        r.user = "me";
        r.password = "pw";
        r.secured = true;
        LoginRig rig(r, {std::make_shared<pop3::ExchangeMechanism>(auth::SaslMechanism::Plain,
                                                                   auth::SaslCredentials{"me", "pw", "h", 995})});
        rig.sock->arrive("+OK ready\r\n");
        rig.sock->takeLines();
        rig.sock->arrive("+OK\r\n" + c.capa + ".\r\n");
        const auto lines = rig.sock->takeLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], c.first);
        if (c.first == "AUTH PLAIN") {
            rig.sock->arrive("+ \r\n");
            EXPECT_EQ(auth::DecodeBase64Strict(rig.sock->takeLines().at(0)), std::string("\0me\0pw", 6));
            rig.sock->arrive("+OK\r\n");
            EXPECT_EQ(rig.login->outcome(), pop3::LoginOutcome::LoggedIn);
        }
    }
}

}  // namespace
}  // namespace iw::test
