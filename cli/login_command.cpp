// The "login" command of inkwarden-cli; see login_command.h.
#include "cli/login_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/account_probe.h"
#include "platform/waits.h"
#include "auth/loopback_signin.h"
#include "auth/oauth_client.h"
#include "cli/console_platform.h"
#include "cli/roster_account.h"
#include "platform/secret_store.h"
#include "pop3/account_login.h"
#include "settings/accounts.h"
#include "settings/settings_store.h"

namespace iw::cli {

namespace {

int usage(const char* why) {
    std::fprintf(stderr,
                 "inkwarden-cli login: %s\nusage: inkwarden-cli login [--profile DIR] [--user NAME] ADDRESS "
                 "[--no-browser] [--wait SECONDS | --device | --try]\n",
                 why);
    return 2;
}

std::int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Only printable ASCII of a server's text reaches the console.
std::string printable(const std::string& s, std::size_t limit = 200) {
    std::string out;
    for (const char c : s.substr(0, limit)) out += (c >= 0x20 && c < 0x7F) ? c : '?';
    return out;
}

// Whether a browser can be opened here: always on Windows; elsewhere only in
// a graphical session (xdg-open on a bare console would start a text browser
// in the middle of the command's output).
bool browserAvailable() {
#ifdef _WIN32
    return true;
#else
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
#endif
}

// The sign-in through the system browser and a loopback redirect: prints the
// address, opens the browser unless told not to, waits for the redirect (or
// the time limit), stores the tokens and tries the account.
template <typename Report>
int browserSignIn(platform::Platform& p, const auth::OAuthConfig& config, auth::TokenStore& tokens,
                  const std::u16string& folder, const settings::MailAccount& account, bool noBrowser,
                  int waitSeconds, const Report& report) {
    const std::u16string& address = account.Address;
    auth::LoopbackSignInOptions options;
    options.loginHint = p.codePage.fromUtf16(platform::kUtf8, account.User);
    if (waitSeconds > 0) options.limitSeconds = waitSeconds;
    auth::LoopbackSignIn signIn(p, config, tokens, address, options);
    const bool started = signIn.start(
        [&](const std::string& url) {
            WriteUtf8(stdout, p.codePage, u"請在瀏覽器開啟下列網址登入,完成後回到這裡:\n");
            std::printf("open: %s\nwaiting: http://localhost:%u/ (%d s)\n", printable(url, url.size()).c_str(),
                        static_cast<unsigned>(signIn.port()), options.limitSeconds);
            std::fflush(stdout);
            if (!noBrowser && browserAvailable() && !p.shell.openDocument(p.codePage.toUtf16(platform::kUtf8, url)))
                std::fputs("inkwarden-cli login: the browser could not be opened; open the address above\n", stderr);
        },
        {});
    if (!started) {
        WriteUtf8(stderr, p.codePage, u"inkwarden-cli login: " + signIn.report().status + u"\n");
        return 2;
    }
    while (signIn.busy()) p.loop.pump();
    const auth::SignInReport& r = signIn.report();
    if (r.outcome != auth::SignInOutcome::SignedIn) {
        WriteUtf8(stderr, p.codePage, u"inkwarden-cli login: " + r.status + u"\n");
        std::printf("sign-in: %s\n", r.outcome == auth::SignInOutcome::Cancelled  ? "cancelled"
                                     : r.outcome == auth::SignInOutcome::TimedOut ? "timed out"
                                     : r.outcome == auth::SignInOutcome::Refused  ? "refused"
                                                                                   : "failed");
        if (!r.providerError.empty()) std::printf("error: %s\n", printable(r.providerError).c_str());
        return 1;
    }
    if (r.noRefreshToken)
        std::fputs("inkwarden-cli login: the server gave no refresh token (offline_access missing from the scope?)\n",
                   stderr);
    std::puts("signed in: tokens stored");
    std::fflush(stdout);
    // The account is tried with the tokens just stored, as the mail check will use them.
    return report(app::ProbeAccount(p, folder, account));
}

}  // namespace

int runLoginCommand(const std::vector<std::u16string>& args) {
    AccountWords words;
    std::optional<std::u16string>& profile = words.profile;
    std::optional<std::u16string>& user = words.user;
    std::optional<std::u16string>& address = words.address;
    bool device = false, tryOnly = false, noBrowser = false;
    int waitSeconds = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::u16string& a = args[i];
        if (a == u"--device" || a == u"--try" || a == u"--no-browser") {
            bool& flag = a == u"--device" ? device : a == u"--try" ? tryOnly : noBrowser;
            if (flag) return usage("an option is given twice");
            flag = true;
            continue;
        }
        if (a == u"--wait") {
            if (i + 1 >= args.size()) return usage("an option needs a value");
            if (waitSeconds) return usage("an option is given twice");
            const std::u16string& v = args[++i];
            for (const char16_t c : v) {
                if (c < u'0' || c > u'9') return usage("--wait takes 1 to 3600 seconds");
                waitSeconds = std::min(waitSeconds * 10 + (c - u'0'), 100000);
            }
            if (waitSeconds < 1 || waitSeconds > 3600) return usage("--wait takes 1 to 3600 seconds");
            continue;
        }
        if (const char* wrong = TakeAccountWord(args, i, words)) return usage(wrong);
    }
    if (!address) return usage("the account's address is missing");
    if (device && tryOnly) return usage("--device and --try do not go together");
    if ((noBrowser || waitSeconds) && (device || tryOnly))
        return usage("--no-browser and --wait belong to the browser sign-in only");

    try {
        ConsolePlatform console;
        platform::Platform& p = console.p;
        const std::u16string folder = console.profileFolder(profile);
        const std::optional<settings::MailAccount> named =
            ReadRosterAccount(p, "login", folder, user ? *user : p.shell.userName(), *address);
        if (!named) return 2;
        const settings::MailAccount& account = *named;
        const auth::OAuthSettings oauthSettings = pop3::OAuthSettingsOf(account, p.codePage);
        if (!auth::UsesOAuth(oauthSettings)) {
            std::fputs("inkwarden-cli login: the account logs in with a password (Auth is not 1)\n", stderr);
            return 2;
        }
        const auth::OAuthConfig config = auth::ResolveOAuthConfig(oauthSettings);
        if (const std::u16string problem = auth::OAuthConfigProblem(config); !problem.empty()) {
            WriteUtf8(stderr, p.codePage, u"inkwarden-cli login: " + problem + u"\n");
            return 2;
        }
        const platform::MailSecurity security = platform::ParseMailSecurity(account.Security);
        if (security == platform::MailSecurity::Plain && !tryOnly) {
            WriteUtf8(stderr, p.codePage, u"inkwarden-cli login: " + pop3::NotSecuredText() + u" (Security=0)\n");
            return 2;
        }
        std::unique_ptr<platform::SecretStore> secrets = platform::createSecretStore();
        auth::TokenStore tokens(*secrets, folder, p.files.separator());
        const auto report = [&](const app::ProbeResult& r) {
            WriteUtf8(stdout, p.codePage, u"status: " + account.User + r.status + u"\n");
            if (!r.mechanism.empty()) std::printf("mechanism: %s\n", printable(r.mechanism).c_str());
            if (r.outcome == app::ProbeOutcome::LoggedIn) {
                std::printf("count: %ld\n", r.messages);
                return 0;
            }
            if (!r.serverLine.empty()) std::printf("server: %s\n", printable(r.serverLine).c_str());
            return 1;
        };
        if (tryOnly) {
            const app::ProbeResult t = app::ProbeAccount(p, folder, account);
            std::printf("refreshed: %d\n", t.refreshes);
            if (t.signInAgain) std::puts("sign-in: needed");
            return report(t);
        }
        if (!device)
            return browserSignIn(p, config, tokens, folder, account, noBrowser, waitSeconds, report);

        auth::OAuthClient client(p, config);
        const auth::DeviceCode dc = client.startDevice();
        if (!dc.ok) {
            std::fprintf(stderr, "inkwarden-cli login: the device code was refused: %s%s\n",
                         printable(dc.error).c_str(),
                         dc.transport != auth::HttpError::None ? auth::HttpErrorName(dc.transport) : "");
            return 1;
        }
        WriteUtf8(stdout, p.codePage,
              u"請在瀏覽器開啟下列網址並輸入代碼:\n" + p.codePage.toUtf16(platform::kUtf8, dc.verificationUri) +
                  u"\n代碼: " + p.codePage.toUtf16(platform::kUtf8, dc.userCode) + u"\n");
        std::printf("open: %s\ncode: %s\n", printable(dc.verificationUri).c_str(), printable(dc.userCode).c_str());
        std::fflush(stdout);

        long interval = dc.interval;
        platform::WaitClock overall(p.clock, static_cast<double>(dc.expiresIn), platform::LimitRule::Exceeds);
        auth::TokenReply reply;
        for (;;) {
            platform::WaitClock pause(p.clock, static_cast<double>(interval), platform::LimitRule::AtLeast);
            while (!pause.limitReached()) pause.pump(p.loop);
            reply = client.pollDevice(dc.deviceCode);
            if (reply.ok) break;
            if (reply.error == "authorization_pending") {
                if (overall.limitReached()) break;
                continue;
            }
            if (reply.error == "slow_down") {
                interval = std::min<long>(interval + 5, 60);
                continue;
            }
            break;
        }
        if (!reply.ok) {
            std::fprintf(stderr, "inkwarden-cli login: not signed in: %s\n",
                         reply.transport != auth::HttpError::None ? auth::HttpErrorName(reply.transport)
                                                                  : printable(reply.error).c_str());
            return 1;
        }
        if (reply.refreshToken.empty()) {
            std::fputs("inkwarden-cli login: the server gave no refresh token (offline_access missing from the scope?)\n",
                       stderr);
        }
        if (!tokens.save(*address, auth::TokensAfter(reply, {}, unixNow()))) {
            std::fputs("inkwarden-cli login: the tokens could not be stored in the profile folder\n", stderr);
            return 1;
        }
        std::puts("signed in: tokens stored");
        std::fflush(stdout);

        // Tried with the tokens just stored, as the mail check will use them.
        return report(app::ProbeAccount(p, folder, account));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "inkwarden-cli login: %s\n", e.what());
        return 2;
    }
}

}  // namespace iw::cli
