// The account dialog's browser sign-in on the real loop and loopback
// listener: what it refuses before a browser opens, and how a sign-in that
// the browser never completes ends (stopped, the browser not opening, the
// time limit). The whole way through, with a token server and a mailbox, is
// tests/scripts/oauth_dialog.sh.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pop3/account_login.h"
#include "app/account_signin.h"
#include "auth/token_store.h"
#include "platform/native.h"
#include "platform/secret_store.h"

namespace iw::app {
namespace {

using settings::SignInOutcome;

class BrowserAccountSignInTest : public ::testing::Test {
protected:
    platform::NativePlatform native;
    platform::Platform& p = native.get();
    std::filesystem::path dir;
    std::u16string folder;
    char16_t sep = static_cast<char16_t>(std::filesystem::path::preferred_separator);

    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("iw-account-signin-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(dir);
        folder = dir.u16string() + sep;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    static settings::MailAccount account() {
        settings::MailAccount a;
        a.Address = u"me@home.tw";
        a.User = u"me";
        a.Pop3Host = u"127.0.0.1:1";
        a.Security = u"1";
        a.Auth = u"1";
        a.OAuthProvider = u"custom";
        a.OAuthClientId = u"client";
        a.OAuthAuthorizeUrl = u"http://127.0.0.1:1/authorize";
        a.OAuthTokenUrl = u"http://127.0.0.1:1/token";
        a.OAuthScope = u"mail";
        return a;
    }
};

TEST_F(BrowserAccountSignInTest, EndsWithoutTokensWhenItCannotOrMayNotComplete) {
    struct Case {
        const char* what;
        std::function<void(settings::MailAccount&)> change;
        bool browserOpens;
        bool stopOnceOpened;
        int limitSeconds;
        SignInOutcome outcome;
        bool notSecured;  // the status says a token needs encryption
        bool browserAsked;
    } cases[] = {
        {"no client ID", [](settings::MailAccount& a) { a.OAuthClientId.clear(); }, true, true, 300,
         SignInOutcome::Failed, false, false},
        {"no encryption", [](settings::MailAccount& a) { a.Security = u"0"; }, true, true, 300, SignInOutcome::Failed,
         true, false},
        {"stopped while the browser is out", [](settings::MailAccount&) {}, true, true, 300,
         SignInOutcome::Cancelled, false, true},
        {"the browser does not open", [](settings::MailAccount&) {}, false, true, 300, SignInOutcome::Cancelled, false,
         true},
        {"no redirect within the limit", [](settings::MailAccount&) {}, true, false, 1, SignInOutcome::TimedOut, false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::u16string> opened, steps;
        BrowserAccountSignIn sign(
            p, folder,
            [&](const std::u16string& address) {
                opened.push_back(address);
                return c.browserOpens;
            },
            c.limitSeconds);
        settings::MailAccount a = account();
        c.change(a);
        const settings::SignInReport r = sign.signIn(
            a, [&] { return c.stopOnceOpened && !opened.empty(); },
            [&](const std::u16string& step) { steps.push_back(step); });
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.status.empty(), c.outcome != SignInOutcome::Failed);
        EXPECT_EQ(r.status == pop3::NotSecuredText(), c.notSecured);
        ASSERT_EQ(opened.size(), c.browserAsked ? 1u : 0u);
        if (c.browserAsked) {
            // The authorize address, with the account's user as the hint.
            EXPECT_EQ(opened[0].rfind(u"http://127.0.0.1:1/authorize?", 0), 0u);
            EXPECT_NE(opened[0].find(u"login_hint=me"), std::u16string::npos);
            ASSERT_FALSE(steps.empty());
            // A browser that did not open leaves the address for the user to open.
            EXPECT_EQ(steps[0].find(opened[0]) != std::u16string::npos, !c.browserOpens);
        }
        EXPECT_FALSE(sign.hasTokens(a.Address));
    }
}

TEST_F(BrowserAccountSignInTest, KnowsWhichAddressesHaveTokens) {
    BrowserAccountSignIn sign(p, folder, [](const std::u16string&) { return true; });
    EXPECT_FALSE(sign.hasTokens(u"me@home.tw"));
    std::unique_ptr<platform::SecretStore> secrets = platform::createSecretStore();
    auth::TokenStore tokens(*secrets, folder, sep);
    ASSERT_TRUE(tokens.save(u"me@home.tw", auth::StoredTokens{"rt", "at", 1}));
    EXPECT_TRUE(sign.hasTokens(u"me@home.tw"));
    EXPECT_FALSE(sign.hasTokens(u"other@home.tw"));
}

}  // namespace
}  // namespace iw::app
