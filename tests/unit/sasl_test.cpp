// The SASL exchange over POP3, the choice of login method, and the Base64
// and JSON readers it rests on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "auth/base64.h"
#include "auth/json.h"
#include "auth/sasl.h"

namespace iw::auth {
namespace {

std::string b64(const std::string& s) { return EncodeBase64(s); }

SaslCredentials creds() { return {"me@example.com", "TOKEN", "pop.example.com", 995}; }

TEST(Base64, RoundTripsAndRefusesWhatIsNotBase64) {
    for (const std::string& s : {std::string(), std::string("a"), std::string("ab"), std::string("abc"),
                                std::string("\0\x01\xff", 3), std::string(4448, 'x')}) {
        EXPECT_EQ(DecodeBase64Strict(EncodeBase64(s)), s);
    }
    EXPECT_EQ(EncodeBase64("\x01"), "AQ==");
    for (const char* bad : {"A", "AQ=", "AQ==AQ==", "A=Q=", "AQ\r\n", "A Q==", "AQ=a", "====", "*"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(DecodeBase64Strict(bad));
    }
    // RFC 7636 appendix B: the verifier's bytes give this challenge alphabet (URL-safe, no padding).
    EXPECT_EQ(EncodeBase64Url("\xfb\xff"), "-_8");
}

TEST(Json, KeepsScalarsSkipsNestingRefusesBadText) {
    const auto o = ParseJsonObject(
        R"({"access_token":"a\"b\u00e9\ud83d\ude00","expires_in":3599,"ok":true,"n":null,"x":{"y":[1,{"z":2}]}} )");
    ASSERT_TRUE(o);
    EXPECT_EQ(o->get("access_token"), "a\"b\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(o->get("expires_in"), "3599");
    EXPECT_EQ(o->get("ok"), "true");
    EXPECT_FALSE(o->has("n"));
    EXPECT_FALSE(o->has("x"));
    for (const std::string& bad : {std::string("{"), std::string("{} x"), std::string("[]"), std::string("{\"a\":}"),
                                  std::string("{\"a\":\"\\ud800\"}"), std::string("{\"a\":\"x\ny\"}"),
                                  std::string(40, '[') + std::string(40, ']'),
                                  "{\"a\":" + std::string(20, '[') + std::string(20, ']') + "}"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseJsonObject(bad));
    }
}

// One scripted exchange: each server line and what the client must send back
// ("" with send=false for nothing), then the outcome.
struct Turn {
    std::string server;
    bool send;
    std::string client;
};
struct Script {
    const char* name;
    SaslMechanism mechanism;
    std::vector<Turn> turns;
    SaslOutcome outcome;
    bool refused;  // credentialsRefused()
};

TEST(SaslExchange, ScriptedServers) {
    const std::string xo = b64("user=me@example.com\x01" "auth=Bearer TOKEN\x01\x01");
    const std::string ob = b64("n,a=me@example.com,\x01host=pop.example.com\x01port=995\x01" "auth=Bearer TOKEN\x01\x01");
    const std::string plain = b64(std::string("\0me@example.com\0TOKEN", 21));
    const std::string err401 = b64(R"({"status":"401","schemes":"bearer","scope":"x"})");
    const Script scripts[] = {
        {"xoauth2, '+ ' as Dovecot sends it", SaslMechanism::XOAuth2,
         {{"+ ", true, xo}, {"+OK Logged in.", false, ""}}, SaslOutcome::Succeeded, false},
        {"xoauth2, bare '+' as Microsoft sends it", SaslMechanism::XOAuth2,
         {{"+", true, xo}, {"+OK User successfully authenticated.", false, ""}}, SaslOutcome::Succeeded, false},
        {"oauthbearer", SaslMechanism::OAuthBearer, {{"+ ", true, ob}, {"+OK", false, ""}}, SaslOutcome::Succeeded, false},
        {"plain", SaslMechanism::Plain, {{"+ ", true, plain}, {"+OK", false, ""}}, SaslOutcome::Succeeded, false},
        {"xoauth2 error challenge answered with an empty line", SaslMechanism::XOAuth2,
         {{"+ ", true, xo}, {"+ " + err401, true, ""}, {"-ERR [AUTH] Authentication failed.", false, ""}},
         SaslOutcome::Rejected, true},
        {"oauthbearer error challenge answered with AQ==", SaslMechanism::OAuthBearer,
         {{"+", true, ob}, {"+ " + err401, true, "AQ=="}, {"-ERR [AUTH] Authentication failed.", false, ""}},
         SaslOutcome::Rejected, true},
        {"-ERR straight after the token", SaslMechanism::XOAuth2,
         {{"+", true, xo}, {"-ERR Authentication failure: unknown user name or bad password.", false, ""}},
         SaslOutcome::Rejected, true},
        {"a temporary failure says nothing of the token", SaslMechanism::XOAuth2,
         {{"+", true, xo}, {"-ERR [SYS/TEMP] try later", false, ""}}, SaslOutcome::Rejected, false},
        {"mechanism not offered", SaslMechanism::XOAuth2, {{"-ERR Unsupported mechanism", false, ""}},
         SaslOutcome::NotOffered, false},
        {"+OK after the error challenge is not believed", SaslMechanism::XOAuth2,
         {{"+ ", true, xo}, {"+ " + err401, true, ""}, {"+OK Logged in.", false, ""}}, SaslOutcome::ProtocolError,
         false},
        {"a challenge that is no Base64", SaslMechanism::XOAuth2, {{"+ ", true, xo}, {"+ {json}", false, ""}},
         SaslOutcome::ProtocolError, false},
        {"a challenge before the credentials", SaslMechanism::XOAuth2, {{"+ " + err401, false, ""}},
         SaslOutcome::ProtocolError, false},
        {"plain takes no error challenge", SaslMechanism::Plain, {{"+ ", true, plain}, {"+ " + err401, false, ""}},
         SaslOutcome::ProtocolError, false},
        {"text that is no reply", SaslMechanism::XOAuth2, {{"hello", false, ""}}, SaslOutcome::ProtocolError, false},
        {"'+OK' to the AUTH line skips the credentials", SaslMechanism::XOAuth2, {{"+OK", false, ""}},
         SaslOutcome::ProtocolError, false},
    };
    for (const Script& s : scripts) {
        SCOPED_TRACE(s.name);
        SaslExchange x(s.mechanism, creds());
        EXPECT_EQ(x.command(), "AUTH " + std::string(SaslName(s.mechanism)));
        for (const Turn& t : s.turns) {
            ASSERT_EQ(x.outcome(), SaslOutcome::Pending) << t.server;
            const SaslExchange::Step step = x.onLine(t.server);
            EXPECT_EQ(step.send, t.send) << t.server;
            EXPECT_EQ(step.line, t.client) << t.server;
        }
        EXPECT_EQ(x.outcome(), s.outcome);
        EXPECT_EQ(x.credentialsRefused(), s.refused);
        // Nothing the exchange keeps for a status text holds the token.
        EXPECT_EQ(x.finalLine().find("TOKEN"), std::string::npos);
    }
}

TEST(SaslExchange, ErrorChallengeStatusIsKept) {
    SaslExchange x(SaslMechanism::OAuthBearer, creds());
    x.onLine("+ ");
    x.onLine("+ " + b64(R"({"status":"invalid_token","scope":"mail"})"));
    EXPECT_TRUE(x.errorChallengeSeen());
    EXPECT_EQ(x.challengeStatus(), "invalid_token");
}

TEST(SaslExchange, CancelSendsStarAndEndsAborted) {
    struct Case {
        std::vector<std::string> before, after;
    } cases[] = {
        {{}, {"-ERR Authentication aborted by client."}},
        {{"+ "}, {"-ERR Authentication aborted by client."}},
        {{"+ "}, {"+ " + b64(R"({"status":"401"})"), "-ERR aborted"}},  // a challenge crossing the "*"
    };
    for (const Case& c : cases) {
        SaslExchange x(SaslMechanism::XOAuth2, creds());
        for (const auto& l : c.before) x.onLine(l);
        const SaslExchange::Step s = x.cancel();
        EXPECT_TRUE(s.send);
        EXPECT_EQ(s.line, "*");
        EXPECT_FALSE(x.cancel().send);  // only once
        for (const auto& l : c.after) EXPECT_FALSE(x.onLine(l).send);
        EXPECT_EQ(x.outcome(), SaslOutcome::Aborted);
    }
}

TEST(SaslExchange, OAuthBearerEscapesTheUserInItsHeader) {
    SaslExchange x(SaslMechanism::OAuthBearer, {"a,b=c", "T", "h", 1});
    const auto raw = DecodeBase64Strict(x.onLine("+").line);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->substr(0, 14), "n,a=a=2Cb=3Dc,");
}

TEST(SaslExchange, AuthLineStaysShortWhateverTheTokenLength) {
    for (SaslMechanism m : {SaslMechanism::Plain, SaslMechanism::XOAuth2, SaslMechanism::OAuthBearer}) {
        SaslExchange x(m, {"me@example.com", std::string(4448, 'T'), "pop.example.com", 995});
        EXPECT_LE(x.command().size() + 2, kMaxAuthLine);
        const std::string resp = x.onLine("+").line;
        EXPECT_GT(resp.size(), 4448u);  // the token goes in the second step
    }
}

}  // namespace
}  // namespace iw::auth
