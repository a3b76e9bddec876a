// The protocol's own tables: CAPA replies, the server address, response
// codes and their texts, STAT, and the login step over a hand-driven socket
// (the login in one write with each of its replies refused in turn, CAPA
// remembered or asked again, SASL through the plug-in point).
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pop3/address.h"
#include "pop3/capabilities.h"
#include "pop3/login.h"
#include "pop3/mailbox.h"
#include "pop3/server_memory.h"
#include "tests/support/fake_time.h"

namespace iw::test {
namespace {

using platform::MailSecurity;

TEST(Pop3Capabilities, ReadsWhatTheServerListsAndNothingElse) {
    struct Case {
        const char* name;
        bool ok;
        std::string text;
        bool listed, pipelining, user, utf8, respCodes;
        std::vector<std::string> sasl;
        std::optional<long> delay;
    } cases[] = {
        {"-ERR (an RFC 1939 server)", false, "-ERR unknown command\r\n", false, false, false, false, false, {}, {}},
        {"nothing listed", true, "+OK\r\n.\r\n", true, false, false, false, false, {}, {}},
        {"PIPELINING and USER", true, "+OK Capability list follows\r\nTOP\r\nUSER\r\nPIPELINING\r\n.\r\n", true, true,
         true, false, false, {}, {}},
        {"lower case, a SASL list", true, "+OK\r\npipelining\r\nSASL plain xoauth2 PLAIN\r\nresp-codes\r\n.\r\n", true,
         true, false, false, true, {"PLAIN", "XOAUTH2"}, {}},
        {"UTF8 with a parameter, LOGIN-DELAY", true, "+OK\r\nUTF8 USER\r\nLOGIN-DELAY 900\r\n.\r\n", true, false,
         false, true, false, {}, 900},
        {"LOGIN-DELAY that is no number", true, "+OK\r\nLOGIN-DELAY soon\r\n.\r\n", true, false, false, false, false,
         {}, {}},
        {"LOGIN-DELAY absurdly long is held at a day", true, "+OK\r\nLOGIN-DELAY 99999999999999999999\r\n.\r\n", true,
         false, false, false, false, {}, 86400},
        {"a capability only inside a word does not count", true, "+OK\r\nX-PIPELINING\r\nUSERS\r\n.\r\n", true,
         false, false, false, false, {}, {}},
    };
    for (const Case& c : cases) {
        const pop3::Capabilities caps = pop3::ParseCapabilities(c.ok, c.text);
        EXPECT_EQ(caps.listed, c.listed) << c.name;
        EXPECT_EQ(caps.pipelining, c.pipelining) << c.name;
        EXPECT_EQ(caps.user, c.user) << c.name;
        EXPECT_EQ(caps.utf8, c.utf8) << c.name;
        EXPECT_EQ(caps.respCodes, c.respCodes) << c.name;
        EXPECT_EQ(caps.sasl, c.sasl) << c.name;
        EXPECT_EQ(caps.loginDelaySeconds, c.delay) << c.name;
    }
}

TEST(Pop3Address, OneParserForEveryFormOfTheSetting) {
    struct Case {
        std::u16string value;
        MailSecurity security;
        bool ok;
        std::string host;
        int port;
    } cases[] = {
        {u"mail.x", MailSecurity::Plain, true, "mail.x", 110},
        {u"mail.x", MailSecurity::Tls, true, "mail.x", 995},
        {u"mail.x", MailSecurity::StartTls, true, "mail.x", 110},
        {u"mail.x:2525", MailSecurity::Tls, true, "mail.x", 2525},
        {u" mail.x:2525 ", MailSecurity::Plain, true, "mail.x", 2525},
        {u"[::1]:995", MailSecurity::Plain, true, "::1", 995},
        {u"[2001:db8::5]", MailSecurity::Tls, true, "2001:db8::5", 995},
        {u"2001:db8::5", MailSecurity::Plain, true, "2001:db8::5", 110},
        {u"127.0.0.1:1100", MailSecurity::Plain, true, "127.0.0.1", 1100},
        {u"mail.x:0", MailSecurity::Plain, false, "", 0},
        {u"mail.x:65536", MailSecurity::Plain, false, "", 0},
        {u"mail.x:99999", MailSecurity::Plain, false, "", 0},
        {u"mail.x:abc", MailSecurity::Plain, false, "", 0},
        {u"mail.x:", MailSecurity::Plain, false, "", 0},
        {u":110", MailSecurity::Plain, false, "", 0},
        {u"", MailSecurity::Plain, false, "", 0},
        {u"   ", MailSecurity::Plain, false, "", 0},
        {u"[::1", MailSecurity::Plain, false, "", 0},
        {u"[::1]x", MailSecurity::Plain, false, "", 0},
        {u"[mail.x]:110", MailSecurity::Plain, false, "", 0},
        {u"[]:110", MailSecurity::Plain, false, "", 0},
        {u"郵件.x", MailSecurity::Plain, false, "", 0},
        {u"mail x", MailSecurity::Plain, false, "", 0},
    };
    for (const Case& c : cases) {
        const auto a = pop3::ParseServerAddress(c.value, c.security);
        ASSERT_EQ(a.has_value(), c.ok) << std::string(c.value.begin(), c.value.end());
        if (!a) continue;
        EXPECT_EQ(a->host, c.host);
        EXPECT_EQ(a->port, c.port);
    }
    // The plain port without one in the setting can be pointed elsewhere (tests do).
    EXPECT_EQ(pop3::ParseServerAddress(u"mail.x", MailSecurity::Plain, 2110)->port, 2110);
    EXPECT_EQ(pop3::ParseServerAddress(u"mail.x", MailSecurity::Tls, 2110)->port, 995);
}

TEST(Pop3ResponseCodes, EachCodeTellsTheUserWhatToDo) {
    struct Case {
        std::string line;
        pop3::ResponseCode code;
    } cases[] = {
        {"-ERR [AUTH] Invalid credentials", pop3::ResponseCode::Auth},
        {"-ERR [auth] lower case", pop3::ResponseCode::Auth},
        {"-ERR [LOGIN-DELAY] too soon", pop3::ResponseCode::LoginDelay},
        {"-ERR [IN-USE] locked", pop3::ResponseCode::InUse},
        {"-ERR [SYS/TEMP] try later", pop3::ResponseCode::SysTemp},
        {"-ERR [SYS/TEMP/DISK] a finer code", pop3::ResponseCode::SysTemp},
        {"-ERR [SYS/PERM] gone", pop3::ResponseCode::SysPerm},
        {"-ERR [SYS] no subcode", pop3::ResponseCode::None},
        {"-ERR [AUTHX] not AUTH", pop3::ResponseCode::None},
        {"-ERR [AUTH without a bracket", pop3::ResponseCode::None},
        {"-ERR plain refusal [AUTH]", pop3::ResponseCode::None},
        {"-ERR", pop3::ResponseCode::None},
    };
    for (const Case& c : cases) EXPECT_EQ(pop3::ParseResponseCode(c.line), c.code) << c.line;
    // Every code the program acts on has its own text; the app-password advice is in [AUTH]'s.
    std::vector<std::u16string> texts;
    for (auto code : {pop3::ResponseCode::Auth, pop3::ResponseCode::LoginDelay, pop3::ResponseCode::InUse,
                      pop3::ResponseCode::SysTemp, pop3::ResponseCode::SysPerm}) {
        const std::u16string t = pop3::ResponseCodeText(code);
        EXPECT_FALSE(t.empty());
        for (const auto& seen : texts) EXPECT_NE(t, seen);
        texts.push_back(t);
    }
    EXPECT_NE(pop3::ResponseCodeText(pop3::ResponseCode::Auth).find(u"授權碼"), std::u16string::npos);
    EXPECT_TRUE(pop3::ResponseCodeText(pop3::ResponseCode::None).empty());
}

TEST(Pop3Stat, OneParserLenientCountStrictVerdict) {
    struct Case {
        std::string reply;
        bool wellFormed;
        int count, size;
    } cases[] = {
        {"+OK 3 1200\r\n", true, 3, 1200},
        {"+OK 3 1200 messages follow\r\n", true, 3, 1200},
        {"+OK 0 0\r\n", true, 0, 0},
        {"+OK -3 100\r\n", false, 0, 100},
        {"+OK 3\r\n", false, 3, 0},
        {"+OK  3 100\r\n", false, 0, 3},
        {"+OK 12abc 5\r\n", false, 12, 5},
        {"+OK 1234567890 5\r\n", false, 1234567890, 5},
        {"+OK 99999999999 5\r\n", false, 0x7FFFFFFF, 5},
        {"-ERR 3 100\r\n", false, 3, 100},
        {"+OK\r\n", false, 0, 0},
    };
    for (const Case& c : cases) {
        const pop3::StatReply r = pop3::ParseStat(c.reply);
        EXPECT_EQ(r.wellFormed, c.wellFormed) << c.reply;
        EXPECT_EQ(r.count, c.count) << c.reply;
        EXPECT_EQ(r.size, c.size) << c.reply;
    }
}

// A socket the test feeds by hand, counting writes.
class HandSocket : public platform::TcpSocket {
public:
    platform::TcpSocketEvents ev;
    std::string in;
    std::vector<std::string> writes;
    platform::SocketState st = platform::SocketState::Closed;
    void setEvents(platform::TcpSocketEvents e) override { ev = std::move(e); }
    void connect(const std::string&, std::uint16_t) override { st = platform::SocketState::Connected; }
    void send(std::string_view b) override { writes.emplace_back(b); }
    std::string receive() override { return std::exchange(in, {}); }
    std::size_t bytesAvailable() const override { return in.size(); }
    void close() override { st = platform::SocketState::Closed; }
    platform::SocketState state() const override { return st; }
    int lastError() const override { return 0; }
    // A socket that can start TLS records how many writes went out before.
    bool tlsCapable = false;
    std::optional<std::size_t> writesBeforeTls;
    bool startTls() override {
        if (!tlsCapable || !in.empty() || writesBeforeTls) return false;
        writesBeforeTls = writes.size();
        return true;
    }
    void arrive(const std::string& b) {
        in += b;
        if (ev.dataArrival) ev.dataArrival(in.size());
    }
};

struct LoginRig {
    HandSocket* sock = nullptr;
    pop3::Connection conn{[this] {
        auto s = std::make_unique<HandSocket>();
        sock = s.get();
        return s;
    }};
    std::unique_ptr<pop3::Login> login;
    std::vector<int> sentTags;
    explicit LoginRig(pop3::LoginRequest request, bool tlsCapable = false) {
        login = std::make_unique<pop3::Login>(conn, std::move(request));
        login->setSentHandler([this](int tag) { sentTags.push_back(tag); });
        conn.setHandlers({[this](const pop3::Reply& r) { login->onReply(r); }, {},
                          [this](pop3::End) { login->onEnded(); }});
        conn.connect("127.0.0.1", 110, pop3::kTagGreeting);
        sock->tlsCapable = tlsCapable;
    }
    std::string allWrites() const {
        std::string out;
        for (const std::string& w : sock->writes) out += w;
        return out;
    }
};

pop3::LoginRequest Request() {
    pop3::LoginRequest r;
    r.user = "amy";
    r.password = "pw";
    return r;
}

const std::string kPipelining = "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n";

TEST(Pop3Login, UserAndPassGoInOneWriteOnlyWhereThePipelineIsListed) {
    {
        LoginRig r(Request());
        r.sock->arrive("+OK hello\r\n");
        ASSERT_EQ(r.sock->writes, std::vector<std::string>{"CAPA\r\n"});
        r.sock->arrive(kPipelining);
        ASSERT_EQ(r.sock->writes.size(), 2u);
        EXPECT_EQ(r.sock->writes[1], "USER amy\r\nPASS pw\r\n");
        r.sock->arrive("+OK\r\n+OK logged in\r\n");
        EXPECT_EQ(r.login->outcome(), pop3::LoginOutcome::LoggedIn);
        EXPECT_EQ(r.sock->writes.size(), 2u);  // nothing after PASS in the login's write
    }
    for (const std::string& capa : {std::string("-ERR unknown command\r\n"), std::string("+OK\r\nUSER\r\n.\r\n")}) {
        LoginRig r(Request());
        r.sock->arrive("+OK hello\r\n");
        r.sock->arrive(capa);
        ASSERT_EQ(r.sock->writes.size(), 2u) << capa;
        EXPECT_EQ(r.sock->writes[1], "USER amy\r\n");
        r.sock->arrive("+OK\r\n");
        ASSERT_EQ(r.sock->writes.size(), 3u);
        EXPECT_EQ(r.sock->writes[2], "PASS pw\r\n");
        r.sock->arrive("+OK\r\n");
        EXPECT_EQ(r.login->outcome(), pop3::LoginOutcome::LoggedIn);
    }
}

TEST(Pop3Login, TheLoginInOneWriteWithEachReplyRefusedInTurn) {
    // The packets the server sends, each after the client's write before it:
    // the greeting, the CAPA reply, then both login replies in one packet.
    struct Case {
        std::vector<std::string> packets;
        pop3::LoginOutcome outcome;
        std::string refusal;
        std::string lastWrite;  // nothing is written after the login's last line
    } cases[] = {
        {{"-ERR go away\r\n"}, pop3::LoginOutcome::GreetingRefused, "-ERR go away", ""},
        {{"+OK hi\r\n", kPipelining, "-ERR [SYS/TEMP] later\r\n-ERR no\r\n"}, pop3::LoginOutcome::UserRefused,
         "-ERR [SYS/TEMP] later", "USER amy\r\nPASS pw\r\n"},
        {{"+OK hi\r\n", kPipelining, "+OK\r\n-ERR [AUTH] bad password\r\n"}, pop3::LoginOutcome::PassRefused,
         "-ERR [AUTH] bad password", "USER amy\r\nPASS pw\r\n"},
        {{"+OK hi\r\n", kPipelining, "+OK\r\n+OK in\r\n"}, pop3::LoginOutcome::LoggedIn, "+OK in",
         "USER amy\r\nPASS pw\r\n"},
        // Without PIPELINING one at a time: a refused USER gets no PASS.
        {{"+OK hi\r\n", "-ERR what\r\n", "-ERR [IN-USE] locked\r\n"}, pop3::LoginOutcome::UserRefused,
         "-ERR [IN-USE] locked", "USER amy\r\n"},
    };
    for (const Case& c : cases) {
        LoginRig r(Request());
        for (const std::string& packet : c.packets) r.sock->arrive(packet);
        EXPECT_EQ(r.login->outcome(), c.outcome) << c.packets.back();
        EXPECT_EQ(r.login->refusal(), c.refusal) << c.packets.back();
        EXPECT_FALSE(r.conn.outOfStep()) << c.packets.back();
        EXPECT_EQ(r.sock->writes.empty() ? std::string() : r.sock->writes.back(), c.lastWrite) << c.packets.back();
    }
    // Replies that come before their commands were written are no replies: out of step.
    LoginRig early(Request());
    early.sock->arrive("+OK hi\r\n" + kPipelining + "+OK\r\n+OK in\r\n");
    EXPECT_EQ(early.login->outcome(), pop3::LoginOutcome::Ended);
    EXPECT_TRUE(early.conn.outOfStep());
}

TEST(Pop3Login, RememberedCapabilitiesSpareCapaUntilTheGreetingChanges) {
    pop3::LoginRequest request = Request();
    request.remembered = pop3::ParseCapabilities(true, kPipelining);
    request.rememberedGreeting = "+OK ready <1896.697170952@dbc.mtview.ca.us>";
    {
        // The APOP timestamp changes at every connection; the server is the same.
        LoginRig r(request);
        r.sock->arrive("+OK ready <2001.1@dbc.mtview.ca.us>\r\n");
        ASSERT_EQ(r.sock->writes, std::vector<std::string>{"USER amy\r\nPASS pw\r\n"});
        EXPECT_FALSE(r.login->askedCapa());
    }
    {
        LoginRig r(request);
        r.sock->arrive("+OK another server\r\n");
        EXPECT_EQ(r.sock->writes, std::vector<std::string>{"CAPA\r\n"});
        EXPECT_TRUE(r.login->askedCapa());
    }
}

TEST(Pop3Login, CapaSplitAcrossPacketsAndUtf8BeforeTheLogin) {
    LoginRig r(Request());
    const std::string stream = "+OK hi\r\n+OK\r\nUTF8\r\nUSER\r\n.\r\n";
    for (char ch : stream) r.sock->arrive(std::string(1, ch));
    ASSERT_EQ(r.sock->writes.size(), 2u);
    EXPECT_EQ(r.sock->writes[1], "UTF8\r\n");  // without PIPELINING: alone, and the login waits for it
    r.sock->arrive("-ERR not today\r\n");       // a refusal changes nothing
    ASSERT_EQ(r.sock->writes.size(), 3u);
    EXPECT_EQ(r.sock->writes[2], "USER amy\r\n");
    LoginRig p(Request());
    p.sock->arrive("+OK hi\r\n");
    p.sock->arrive("+OK\r\nUTF8\r\nPIPELINING\r\n.\r\n");
    ASSERT_EQ(p.sock->writes.size(), 2u);
    EXPECT_EQ(p.sock->writes[1], "UTF8\r\nUSER amy\r\nPASS pw\r\n");
    p.sock->arrive("+OK\r\n+OK\r\n+OK\r\n");
    EXPECT_EQ(p.login->outcome(), pop3::LoginOutcome::LoggedIn);
}

TEST(Pop3Login, AUserNameOrPasswordThatWouldEndTheLineIsNeverSent) {
    for (const std::string& bad : {std::string("amy\r\nDELE 1"), std::string("amy\nX"), std::string("a\0b", 3)}) {
        pop3::LoginRequest request = Request();
        request.password = bad;
        LoginRig r(request);
        r.sock->arrive("+OK hi\r\n");
        r.sock->arrive("-ERR\r\n");
        EXPECT_EQ(r.sock->writes, std::vector<std::string>{"CAPA\r\n"});
        EXPECT_EQ(r.login->outcome(), pop3::LoginOutcome::UserRefused);
    }
}

// After the server accepted UTF8 the user name and password go out in
// UTF-8; before, after a refusal, or where UTF8 is not listed, in the bytes
// the owner gave (the ANSI code page's). Credentials that differ between
// the two wait for UTF8's answer even where PIPELINING would allow more.
TEST(Pop3Login, CredentialsInUtf8OnlyOnceTheServerAcceptedIt) {
    const std::string big5User = "\xa7\x64\xa9\x6d", utf8User = "\xe7\x8e\x8b\xe5\xb0\x8f";
    const std::string big5Pw = "pw\xb1\x4b", utf8Pw = "pw\xe5\xaf\x86";
    struct Case {
        const char* name;
        std::string capa;
        bool ascii;             // credentials the same in both encodings
        const char* utf8Reply;  // the server's answer to UTF8
        std::vector<std::string> writes;  // after CAPA, each server answer "+OK" but UTF8's
    } cases[] = {
        {"not listed", "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n", false, "",
         {"USER " + big5User + "\r\nPASS " + big5Pw + "\r\n"}},
        {"accepted", "+OK\r\nUTF8\r\nPIPELINING\r\n.\r\n", false, "+OK\r\n",
         {"UTF8\r\n", "USER " + utf8User + "\r\nPASS " + utf8Pw + "\r\n"}},
        {"refused", "+OK\r\nUTF8\r\nPIPELINING\r\n.\r\n", false, "-ERR no\r\n",
         {"UTF8\r\n", "USER " + big5User + "\r\nPASS " + big5Pw + "\r\n"}},
        {"accepted, no pipelining", "+OK\r\nUTF8\r\n.\r\n", false, "+OK\r\n",
         {"UTF8\r\n", "USER " + utf8User + "\r\n", "PASS " + utf8Pw + "\r\n"}},
        {"refused, no pipelining", "+OK\r\nUTF8\r\n.\r\n", false, "-ERR\r\n",
         {"UTF8\r\n", "USER " + big5User + "\r\n", "PASS " + big5Pw + "\r\n"}},
        {"ASCII credentials ride with UTF8", "+OK\r\nUTF8\r\nPIPELINING\r\n.\r\n", true, "+OK\r\n",
         {"UTF8\r\nUSER amy\r\nPASS pw\r\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pop3::LoginRequest request;
        request.user = c.ascii ? "amy" : big5User;
        request.password = c.ascii ? "pw" : big5Pw;
        request.userUtf8 = c.ascii ? "amy" : utf8User;
        request.passwordUtf8 = c.ascii ? "pw" : utf8Pw;
        LoginRig r(request);
        r.sock->arrive("+OK hi\r\n");
        r.sock->arrive(c.capa);
        // The server answers every command in order: UTF8 as the case says, the rest "+OK".
        for (std::size_t answered = 1; answered < r.sentTags.size() && !r.login->done(); ++answered)
            r.sock->arrive(r.sentTags[answered] == pop3::kTagUtf8 ? c.utf8Reply : "+OK\r\n");
        EXPECT_EQ(r.login->outcome(), pop3::LoginOutcome::LoggedIn);
        const std::vector<std::string> after(r.sock->writes.begin() + 1, r.sock->writes.end());
        EXPECT_EQ(after, c.writes);
    }
}

// STLS where the account asks for it: right after the greeting, and nothing
// else in plain. A refusal, bytes behind the "+OK" or a socket that cannot
// start TLS end the login with nothing more sent; after TLS, CAPA is asked
// again unless the remembered capabilities were read under TLS too.
TEST(Pop3Login, StlsComesFirstAndNothingElseTravelsInPlain) {
    const pop3::Capabilities plainCaps = pop3::ParseCapabilities(true, "+OK\r\nUSER\r\nSTLS\r\nPIPELINING\r\n.\r\n");
    const pop3::Capabilities tlsCaps = pop3::ParseCapabilities(true, kPipelining);
    struct Case {
        const char* name;
        std::vector<std::string> packets;  // after the greeting
        bool tlsCapable;
        std::optional<pop3::Capabilities> remembered;
        pop3::LoginOutcome outcome;
        platform::TlsFailure failure;
        std::string written;  // everything the login wrote
    } cases[] = {
        {"secured, CAPA asked again", {"+OK begin\r\n", kPipelining, "+OK\r\n+OK\r\n"}, true, std::nullopt,
         pop3::LoginOutcome::LoggedIn, platform::TlsFailure::None, "STLS\r\nCAPA\r\nUSER amy\r\nPASS pw\r\n"},
        {"remembered from a protected session", {"+OK begin\r\n", "+OK\r\n+OK\r\n"}, true, tlsCaps,
         pop3::LoginOutcome::LoggedIn, platform::TlsFailure::None, "STLS\r\nUSER amy\r\nPASS pw\r\n"},
        {"remembered from plain text: not used", {"+OK begin\r\n", kPipelining, "+OK\r\n+OK\r\n"}, true,
         plainCaps, pop3::LoginOutcome::LoggedIn, platform::TlsFailure::None,
         "STLS\r\nCAPA\r\nUSER amy\r\nPASS pw\r\n"},
        {"refused", {"-ERR not here\r\n"}, true, std::nullopt, pop3::LoginOutcome::TlsFailed,
         platform::TlsFailure::StlsRefused, "STLS\r\n"},
        {"injected behind the +OK", {"+OK begin\r\n+OK\r\n+OK\r\n"}, true, std::nullopt,
         pop3::LoginOutcome::TlsFailed, platform::TlsFailure::Handshake, "STLS\r\n"},
        {"a socket that cannot", {"+OK begin\r\n"}, false, std::nullopt, pop3::LoginOutcome::TlsFailed,
         platform::TlsFailure::Handshake, "STLS\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pop3::LoginRequest request = Request();
        request.startTls = true;
        request.secured = true;
        request.remembered = c.remembered;
        request.rememberedGreeting = "+OK hi";
        LoginRig r(request, c.tlsCapable);
        r.sock->arrive("+OK hi\r\n");
        for (const std::string& p : c.packets) r.sock->arrive(p);
        EXPECT_EQ(r.login->outcome(), c.outcome);
        EXPECT_EQ(r.allWrites(), c.written);
        if (c.outcome == pop3::LoginOutcome::LoggedIn) {
            EXPECT_EQ(r.sock->writesBeforeTls, 1u);  // "STLS" alone went out in plain
        } else {
            EXPECT_EQ(r.login->tlsFailure(), c.failure);
            EXPECT_FALSE(r.conn.usable());
        }
    }
    // A refused greeting: not even STLS, and the account says TLS was not given.
    pop3::LoginRequest request = Request();
    request.startTls = true;
    LoginRig r(request, true);
    r.sock->arrive("-ERR busy\r\n");
    EXPECT_EQ(r.login->outcome(), pop3::LoginOutcome::TlsFailed);
    EXPECT_EQ(r.login->tlsFailure(), platform::TlsFailure::StlsRefused);
    EXPECT_TRUE(r.sock->writes.empty());
}

// A mechanism that answers one challenge.
class TestMechanism : public pop3::SaslMechanism {
public:
    bool tls = false;
    std::vector<std::string> challenges;
    std::string name() const override { return "X-TEST"; }
    bool needsTls() const override { return tls; }
    std::optional<std::string> initialResponse() override { return std::string("aW5pdA=="); }
    std::optional<std::string> answer(std::string_view challenge) override {
        challenges.emplace_back(challenge);
        if (challenges.size() > 1) return std::nullopt;  // cancels
        return std::string("YW5zd2Vy");
    }
};

TEST(Pop3Login, SaslMechanismsPlugInWhereTheServerListsThem) {
    const std::string capa = "+OK\r\nSASL PLAIN X-TEST\r\nUSER\r\n.\r\n";
    {
        auto m = std::make_shared<TestMechanism>();
        pop3::LoginRequest request = Request();
        request.mechanisms = {m};
        LoginRig r(request);
        r.sock->arrive("+OK hi\r\n");
        r.sock->arrive(capa);
        ASSERT_EQ(r.sock->writes.size(), 2u);
        EXPECT_EQ(r.sock->writes[1], "AUTH X-TEST aW5pdA==\r\n");
        r.sock->arrive("+ Y2hhbGxlbmdl\r\n");
        ASSERT_EQ(r.sock->writes.size(), 3u);
        EXPECT_EQ(m->challenges, std::vector<std::string>{"Y2hhbGxlbmdl"});
        EXPECT_EQ(r.sock->writes[2], "YW5zd2Vy\r\n");
        r.sock->arrive("+OK welcome\r\n");
        EXPECT_EQ(r.login->outcome(), pop3::LoginOutcome::LoggedIn);
        EXPECT_EQ(r.login->mechanism(), "X-TEST");
    }
    {
        // A second challenge the mechanism cannot answer: "*" cancels, and the refusal ends the login.
        auto m = std::make_shared<TestMechanism>();
        pop3::LoginRequest request = Request();
        request.mechanisms = {m};
        LoginRig r(request);
        r.sock->arrive("+OK hi\r\n");
        r.sock->arrive(capa);
        r.sock->arrive("+ one\r\n");
        r.sock->arrive("+ two\r\n");
        ASSERT_EQ(r.sock->writes.size(), 4u);
        EXPECT_EQ(r.sock->writes[3], "*\r\n");
        r.sock->arrive("-ERR [AUTH] cancelled\r\n");
        EXPECT_EQ(r.login->outcome(), pop3::LoginOutcome::AuthRefused);
    }
    {
        // A mechanism that needs TLS is not used in plain; USER/PASS is.
        auto m = std::make_shared<TestMechanism>();
        m->tls = true;
        pop3::LoginRequest request = Request();
        request.mechanisms = {m};
        LoginRig r(request);
        r.sock->arrive("+OK hi\r\n");
        r.sock->arrive(capa);
        ASSERT_EQ(r.sock->writes.size(), 2u);
        EXPECT_EQ(r.sock->writes[1], "USER amy\r\n");
    }
    {
        // A "+ challenge" where no SASL exchange runs is no reply: out of step.
        LoginRig r(Request());
        r.sock->arrive("+OK hi\r\n");
        r.sock->arrive("-ERR\r\n");
        r.sock->arrive("+ surprise\r\n");
        EXPECT_EQ(r.login->outcome(), pop3::LoginOutcome::Ended);
        EXPECT_TRUE(r.conn.outOfStep());
    }
}

TEST(Pop3ServerMemory, LoginDelayHoldsTheAccountOnTheClock) {
    FakeClock clock;
    pop3::ServerMemory memory;
    const std::string key = pop3::ServerMemory::key("mail.x", 110, "amy");
    EXPECT_EQ(memory.loginDelayLeft(key, pop3::SecondsNow(clock)), 0);
    memory.rememberCapabilities(key, pop3::ParseCapabilities(true, "+OK\r\nLOGIN-DELAY 300\r\n.\r\n"), "+OK hi");
    memory.loggedIn(key, pop3::SecondsNow(clock));
    struct Step {
        double advance;
        std::int64_t left;
    } steps[] = {{0, 300}, {299, 1}, {1, 0}, {1000, 0}};
    for (const Step& s : steps) {
        clock.advance(platform::Milliseconds(static_cast<long long>(s.advance * 1000)));
        EXPECT_EQ(memory.loginDelayLeft(key, pop3::SecondsNow(clock)), s.left) << s.advance;
    }
    // A forgotten capability list (a failed session) keeps the delay; a clock set back does not hold the account.
    memory.loggedIn(key, pop3::SecondsNow(clock));
    memory.forgetCapabilities(key);
    EXPECT_EQ(memory.loginDelayLeft(key, pop3::SecondsNow(clock)), 300);
    EXPECT_EQ(memory.loginDelayLeft(key, pop3::SecondsNow(clock) - 3600), 0);
    EXPECT_EQ(memory.loginDelayLeft(pop3::ServerMemory::key("mail.x", 110, "bob"), pop3::SecondsNow(clock)), 0);
}

}  // namespace
}  // namespace iw::test
