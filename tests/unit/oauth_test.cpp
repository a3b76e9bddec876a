// OAuth2 pieces that need no server: provider settings, PKCE, URLs and forms,
// token replies, token files and the secret store of this build (sealed with
// the system's data protection on Windows, mode 0600 natively).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "auth/base64.h"
#include "auth/http_client.h"
#include "auth/oauth_client.h"
#include "auth/oauth_config.h"
#include "auth/sha256.h"
#include "auth/token_store.h"
#include "platform/secret_store.h"

namespace iw::auth {
namespace {

std::string hex(const std::string& b) {
    static const char d[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : b) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

TEST(Sha256AndPkce, KnownVectors) {
    EXPECT_EQ(hex(Sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex(Sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the padding spills into a second block.
    EXPECT_EQ(hex(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // BASE64URL(SHA256(verifier)) without padding, as Python's hashlib and base64 compute it.
    EXPECT_EQ(PkceChallenge("dBjftJeZ4CVP-mJ92K27uhbUJU1p1r_wW1gFWFOEjXk"), "ngF5GsXcbwljx6u133FFr3Xht9xooA_DuaX_3QwODtc");
    const auto a = MakePkce(), b = MakePkce();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->verifier.size(), 43u);
    EXPECT_NE(a->verifier, b->verifier);
    EXPECT_EQ(a->challenge, PkceChallenge(a->verifier));
    EXPECT_EQ(MakeState().size(), 22u);
    EXPECT_NE(MakeState(), MakeState());
}

TEST(OAuthConfig, ProvidersTenantsAndOverrides) {
    OAuthSettings s;
    s.auth = "1";
    EXPECT_TRUE(UsesOAuth(s));
    s.auth = "0";
    EXPECT_FALSE(UsesOAuth(s));

    OAuthSettings ms;
    ms.provider = "Microsoft";
    ms.tenant = "consumers";
    OAuthConfig c = ResolveOAuthConfig(ms);
    EXPECT_EQ(c.authorizeUrl, "https://login.microsoftonline.com/consumers/oauth2/v2.0/authorize");
    EXPECT_EQ(c.deviceUrl, "https://login.microsoftonline.com/consumers/oauth2/v2.0/devicecode");
    EXPECT_NE(c.scope.find("offline_access"), std::string::npos);
    // A tenant that would change the path falls back to "common".
    ms.tenant = "../evil?x=";
    EXPECT_EQ(ResolveOAuthConfig(ms).tokenUrl, "https://login.microsoftonline.com/common/oauth2/v2.0/token");

    OAuthSettings g;
    g.provider = "google";
    c = ResolveOAuthConfig(g);
    EXPECT_EQ(c.scope, "https://mail.google.com/");
    EXPECT_TRUE(c.deviceUrl.empty());  // Google refuses the device grant for mail

    OAuthSettings custom;
    custom.provider = "custom";
    custom.clientId = " my-id ";
    custom.tokenUrl = "http://127.0.0.1:9/token";
    c = ResolveOAuthConfig(custom);
    EXPECT_EQ(c.clientId, "my-id");
    EXPECT_EQ(c.tokenUrl, "http://127.0.0.1:9/token");
    EXPECT_FALSE(OAuthConfigProblem(c).empty());  // no authorize address
    custom.authorizeUrl = "http://127.0.0.1:9/authorize";
    EXPECT_TRUE(OAuthConfigProblem(ResolveOAuthConfig(custom)).empty());
    // A client secret goes with its client ID: the account's own with the
    // account's own ID, never with the build's.
    struct SecretCase {
        const char* provider;
        const char* clientId;
        const char* clientSecret;
        const char* wantSecret;  // nullptr: the build's default for the provider
    } secrets[] = {
        {"google", "own-id", " own-secret ", "own-secret"},
        {"google", "own-id", "", ""},
        {"google", "", "own-secret", nullptr},
        {"custom", "own-id", "s", "s"},
        {"microsoft", "", "s", nullptr},
    };
    for (const SecretCase& sc : secrets) {
        OAuthSettings s;
        s.provider = sc.provider;
        s.clientId = sc.clientId;
        s.clientSecret = sc.clientSecret;
        const OAuthConfig r = ResolveOAuthConfig(s);
        EXPECT_EQ(r.clientSecret, sc.wantSecret ? std::string(sc.wantSecret)
                                                : BuildDefaultClientSecret(ParseOAuthProvider(sc.provider)))
            << sc.provider << " id=" << sc.clientId << " secret=" << sc.clientSecret;
    }
    // No client ID in the source: an account without one, in a build without one, cannot sign in.
    if (BuildDefaultClientId(OAuthProvider::Microsoft).empty()) {
        EXPECT_FALSE(OAuthConfigProblem(ResolveOAuthConfig(OAuthSettings{})).empty());
    }
}

TEST(HttpUrl, HttpsAnywhereHttpOnlyOnLoopback) {
    struct Case {
        const char* url;
        bool ok;
        const char* host;
        int port;
        const char* target;
    } cases[] = {
        {"https://login.example.com/common/token", true, "login.example.com", 443, "/common/token"},
        {"https://login.example.com", true, "login.example.com", 443, "/"},
        {"https://h:8443/t?x=1#frag", true, "h", 8443, "/t?x=1"},
        {"http://127.0.0.1:5000/token", true, "127.0.0.1", 5000, "/token"},
        {"http://localhost:5000/", true, "localhost", 5000, "/"},
        {"http://[::1]:5000/t", true, "::1", 5000, "/t"},
        {"http://login.example.com/token", false, "", 0, ""},   // plain http off the machine
        {"http://10.0.0.1/token", false, "", 0, ""},
        {"ftp://h/x", false, "", 0, ""},
        {"https://user@h/x", false, "", 0, ""},
        {"https://h:0/x", false, "", 0, ""},
        {"https://h:99999/x", false, "", 0, ""},
        {"https://h/a b", false, "", 0, ""},
        {"https:///x", false, "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const auto u = ParseHttpUrl(c.url);
        ASSERT_EQ(u.has_value(), c.ok);
        if (!u) continue;
        EXPECT_EQ(u->host, c.host);
        EXPECT_EQ(u->port, c.port);
        EXPECT_EQ(u->target, c.target);
    }
}

TEST(HttpForm, EncodeAndReadBack) {
    const std::string f = FormEncode({{"a b", "c&d=e"}, {"x", "\xe4\xb8\xad"}});
    EXPECT_EQ(f, "a%20b=c%26d%3De&x=%E4%B8%AD");
    EXPECT_EQ(FormValue(f, "a b"), "c&d=e");
    EXPECT_EQ(FormValue("code=abc&state=s+t%21", "state"), "s t!");
    EXPECT_EQ(FormValue("code=abc&flag", "flag"), "");
    EXPECT_FALSE(FormValue("code=abc", "state"));
    EXPECT_FALSE(FormValue("state=%4", "state"));  // a cut escape is no value
}

TEST(TokenReply, Table) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        bool ok;
        const char* error;
        bool signInAgain;
    } cases[] = {
        {"tokens", 200, R"({"access_token":"AT","token_type":"Bearer","expires_in":3599,"refresh_token":"RT"})", true, "",
         false},
        {"no token type is fine", 200, R"({"access_token":"AT"})", true, "", false},
        {"a MAC token is not ours", 200, R"({"access_token":"AT","token_type":"mac"})", false, "invalid_reply", false},
        {"a token with a line end", 200, R"({"access_token":"A\r\nDELE 1"})", false, "invalid_reply", false},
        {"spent refresh token", 400, R"({"error":"invalid_grant","error_description":"used"})", false, "invalid_grant",
         true},
        {"pending", 400, R"({"error":"authorization_pending"})", false, "authorization_pending", false},
        {"an error page", 502, "<html>bad gateway</html>", false, "", false},
        {"500 with JSON but no error", 500, "{}", false, "http_500", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TokenReply r = ParseTokenReply(c.status, c.body);
        EXPECT_EQ(r.ok, c.ok);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.signInAgain(), c.signInAgain);
    }
    const TokenReply r = ParseTokenReply(200, R"({"access_token":"AT","expires_in":100,"refresh_token":"RT2"})");
    EXPECT_EQ(TokensAfter(r, "RT1", 1000).refreshToken, "RT2");  // rotated
    EXPECT_EQ(TokensAfter(r, "RT1", 1000).accessExpiresAt, 1100);
    const TokenReply kept = ParseTokenReply(200, R"({"access_token":"AT"})");
    EXPECT_EQ(TokensAfter(kept, "RT1", 1000).refreshToken, "RT1");  // not rotated: the old one stays
}

TEST(TokenFile, TextFormAndNames) {
    const StoredTokens t{"rt", std::string(4448, 'a'), 1700000000};
    const auto back = ParseTokens(SerializeTokens(t));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->refreshToken, "rt");
    EXPECT_EQ(back->accessToken.size(), 4448u);
    EXPECT_EQ(back->accessExpiresAt, 1700000000);
    for (const std::string& bad : {std::string(), std::string("refresh=x\n"),
                                  SerializeTokens(t) + "extra=1\n", SerializeTokens(t).substr(0, 30),
                                  std::string("inkwarden-oauth2 1\nrefresh=a\nrefresh=b\naccess=\nexpires=0\n"),
                                  std::string("inkwarden-oauth2 1\nrefresh=a\naccess=\nexpires=12x\n")}) {
        EXPECT_FALSE(ParseTokens(bad)) << bad;
    }
    EXPECT_EQ(TokenFilePath(u"/p/", u'/', u"me@outlook.com"), u"/p/oauth-me@outlook.com.tok");
    EXPECT_EQ(TokenFilePath(u"C:\\p", u'\\', u"..\\x/y:z"), u"C:\\p\\oauth-%2E.%5Cx%2Fy%3Az.tok");
    EXPECT_EQ(TokenFilePath(u"/p", u'/', u"王@例.tw"), u"/p/oauth-%E7%8E%8B@%E4%BE%8B.tw.tok");
}

class SecretStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("iw-secret-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::u16string path(const char* name) const { return (dir / name).u16string(); }
    std::filesystem::path dir;
    std::unique_ptr<platform::SecretStore> secrets = platform::createSecretStore();
};

// Under Wine this is the round trip of CryptProtectData and CryptUnprotectData.
TEST_F(SecretStoreTest, RoundTripsAndKeepsTheSecretOutOfTheFile) {
    TokenStore store(*secrets, dir.u16string(), static_cast<char16_t>(std::filesystem::path::preferred_separator));
    const std::string refresh = "refresh-" + std::string(3000, 'r');
    ASSERT_TRUE(store.save(u"me@example.com", {refresh, "access-token-value", 42}));
    platform::SecretProblem why = platform::SecretProblem::None;
    const auto back = store.load(u"me@example.com", why);
    ASSERT_TRUE(back) << static_cast<int>(why);
    EXPECT_EQ(back->refreshToken, refresh);
    EXPECT_EQ(back->accessExpiresAt, 42);
    // Rotation replaces the file.
    ASSERT_TRUE(store.save(u"me@example.com", {"rotated", "a2", 43}));
    EXPECT_EQ(store.load(u"me@example.com", why)->refreshToken, "rotated");
    EXPECT_FALSE(store.load(u"other@example.com", why));
    EXPECT_EQ(why, platform::SecretProblem::Missing);
    EXPECT_TRUE(store.forget(u"me@example.com"));
    EXPECT_FALSE(store.load(u"me@example.com", why));
    EXPECT_TRUE(store.forget(u"me@example.com"));  // already gone is fine

    ASSERT_TRUE(secrets->write(path("s"), "the-secret-bytes"));
    std::ifstream f(dir / "s", std::ios::binary);
    const std::string raw((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
#ifdef _WIN32
    // Sealed: the plain text is nowhere in the file.
    EXPECT_EQ(raw.find("the-secret-bytes"), std::string::npos);
#else
    EXPECT_EQ(std::filesystem::status(dir / "s").permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
}

// An account that moves takes its tokens along; nothing is lost on the way.
TEST_F(SecretStoreTest, TokensMoveWithTheirAccount) {
    TokenStore store(*secrets, dir.u16string(), static_cast<char16_t>(std::filesystem::path::preferred_separator));
    platform::SecretProblem why = platform::SecretProblem::None;
    // Nothing to move is no failure.
    EXPECT_TRUE(store.move(u"none@x.tw", u"other@x.tw"));
    EXPECT_FALSE(store.load(u"other@x.tw", why));
    // Moved: under the new address only.
    ASSERT_TRUE(store.save(u"me@x.tw", {"refresh", "access", 7}));
    EXPECT_TRUE(store.move(u"me@x.tw", u"me2@x.tw"));
    EXPECT_FALSE(store.load(u"me@x.tw", why));
    ASSERT_TRUE(store.load(u"me2@x.tw", why));
    EXPECT_EQ(store.load(u"me2@x.tw", why)->refreshToken, "refresh");
    // Letter case alone: one file where case is ignored, so it stays put.
    EXPECT_TRUE(store.move(u"me2@x.tw", u"ME2@x.tw"));
    EXPECT_TRUE(store.load(u"me2@x.tw", why));
    // A file that is no token file stays where it is.
    ASSERT_TRUE(secrets->write(TokenFilePath(dir.u16string(),
                                             static_cast<char16_t>(std::filesystem::path::preferred_separator),
                                             u"bad@x.tw"),
                               "not tokens"));
    EXPECT_FALSE(store.move(u"bad@x.tw", u"good@x.tw"));
    EXPECT_FALSE(store.load(u"good@x.tw", why));
    EXPECT_TRUE(std::filesystem::exists(dir / "oauth-bad@x.tw.tok"));
}

TEST_F(SecretStoreTest, RefusesFilesItCannotTrust) {
    platform::SecretProblem why = platform::SecretProblem::None;
#ifdef _WIN32
    // A file that was not sealed (or sealed for someone else) is not taken.
    { std::ofstream(dir / "plain", std::ios::binary) << "IWDPAPI1not-a-blob"; }
    EXPECT_FALSE(secrets->read(path("plain"), why));
    EXPECT_EQ(why, platform::SecretProblem::Undecryptable);
    { std::ofstream(dir / "text", std::ios::binary) << "inkwarden-oauth2 1\nrefresh=x\n"; }
    EXPECT_FALSE(secrets->read(path("text"), why));
    EXPECT_EQ(why, platform::SecretProblem::Undecryptable);
#else
    using std::filesystem::perms;
    ASSERT_TRUE(secrets->write(path("s"), "x"));
    for (const perms extra : {perms::group_read, perms::others_read, perms::group_write, perms::others_write}) {
        std::filesystem::permissions(dir / "s", perms::owner_read | perms::owner_write | extra);
        EXPECT_FALSE(secrets->read(path("s"), why));
        EXPECT_EQ(why, platform::SecretProblem::TooOpen);
    }
    std::filesystem::permissions(dir / "s", perms::owner_read | perms::owner_write);
    EXPECT_EQ(secrets->read(path("s"), why), "x");
    // A link in the file's place is not followed.
    std::filesystem::create_symlink(dir / "s", dir / "link");
    EXPECT_FALSE(secrets->read(path("link"), why));
    EXPECT_EQ(why, platform::SecretProblem::Unreadable);
#endif
    std::filesystem::create_directory(dir / "folder");
    EXPECT_FALSE(secrets->read(path("folder"), why));
    EXPECT_EQ(why, platform::SecretProblem::Unreadable);
}

}  // namespace
}  // namespace iw::auth
