// The account a console command names; see roster_account.h.
#include "cli/roster_account.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli/console_platform.h"
#include "settings/settings_store.h"

namespace iw::cli {

std::optional<settings::MailAccount> ReadRosterAccount(platform::Platform& p, const char* command,
                                                       const std::u16string& folder, const std::u16string& userSection,
                                                       const std::u16string& address) {
    const std::u16string iniPath = folder + u"set.ini";
    if (!p.files.readAll(iniPath)) {
        std::fprintf(stderr, "inkwarden-cli %s: cannot read the profile's set.ini: ", command);
        WriteUtf8(stderr, p.codePage, iniPath + u"\n");
        return std::nullopt;
    }
    settings::SettingsStore store(p.files, p.codePage, folder);
    const std::vector<std::u16string> roster = settings::ReadRoster(store, userSection);
    if (std::find(roster.begin(), roster.end(), address) == roster.end()) {
        std::fprintf(stderr, "inkwarden-cli %s: no such account in the user's roster: ", command);
        WriteUtf8(stderr, p.codePage, address + u"\n");
        return std::nullopt;
    }
    return settings::ReadMailAccount(store, address);
}

const char* TakeAccountWord(const std::vector<std::u16string>& args, std::size_t& i, AccountWords& out) {
    const std::u16string& a = args[i];
    std::optional<std::u16string>* target = a == u"--profile" ? &out.profile : a == u"--user" ? &out.user : nullptr;
    if (!target) {
        if (a.empty() || a[0] == u'-') return "unknown argument";
        if (out.address) return "one account address only";
        out.address = a;
        return nullptr;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) return "an option needs a value";
    if (*target) return "an option is given twice";
    *target = args[++i];
    return nullptr;
}

}  // namespace iw::cli
