// The "cert" command of inkwarden-cli; see cert_command.h.
#include "cli/cert_command.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/certificate_probe.h"
#include "cli/console_platform.h"
#include "cli/roster_account.h"
#include "settings/accounts.h"
#include "settings/settings_store.h"

namespace iw::cli {

namespace {

int usage(const char* why) {
    std::fprintf(stderr,
                 "inkwarden-cli cert: %s\nusage: inkwarden-cli cert [--profile DIR] [--user NAME] ADDRESS [--trust]\n",
                 why);
    return 2;
}

}  // namespace

int runCertCommand(const std::vector<std::u16string>& args) {
    AccountWords words;
    std::optional<std::u16string>& profile = words.profile;
    std::optional<std::u16string>& user = words.user;
    std::optional<std::u16string>& address = words.address;
    bool trust = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::u16string& a = args[i];
        if (a == u"--trust") {
            if (trust) return usage("an option is given twice");
            trust = true;
            continue;
        }
        if (const char* wrong = TakeAccountWord(args, i, words)) return usage(wrong);
    }
    if (!address) return usage("the account's address is missing");

    try {
        ConsolePlatform console;
        platform::Platform& p = console.p;
        const std::u16string folder = console.profileFolder(profile);
        const std::optional<settings::MailAccount> named =
            ReadRosterAccount(p, "cert", folder, user ? *user : p.shell.userName(), *address);
        if (!named) return 2;
        const settings::MailAccount& account = *named;
        settings::SettingsStore store(p.files, p.codePage, folder);
        if (platform::ParseMailSecurity(account.Security) == platform::MailSecurity::Plain) {
            std::fputs("inkwarden-cli cert: the account does not use TLS (Security is 0)\n", stderr);
            return 2;
        }

        const app::CertificateProbe probe = app::ProbeAccountCertificate(p, store, *address);
        WriteUtf8(stdout, p.codePage, app::DescribeCertificate(probe, p.codePage) + u"\n");
        std::fflush(stdout);
        if (!probe.reached) return 2;
        if (probe.verdict == platform::TlsFailure::None) {
            if (trust) std::puts("nothing stored: the certificate is accepted already");
            return 0;
        }
        if (!trust) return 1;
        if (!app::TrustCertificate(store, *address, probe)) {
            std::fputs("inkwarden-cli cert: set.ini could not be written\n", stderr);
            return 2;
        }
        std::printf("trusted: CertSha256=%s\n", probe.certificate.sha256.c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "inkwarden-cli cert: %s\n", e.what());
        return 2;
    }
}

}  // namespace iw::cli
