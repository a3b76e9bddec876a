// The "check" command of inkwarden-cli; see check_command.h.
#include "cli/check_command.h"

#include <cstdio>
#include <optional>

#include "app/check_report.h"
#include "cli/console_platform.h"
#include "settings/settings_store.h"

namespace iw::cli {

namespace {

// The usage text needs no code page: it is plain ASCII.
int usage(const char* why) {
    std::fprintf(stderr, "inkwarden-cli check: %s\nusage: inkwarden-cli check [--profile DIR] [--user NAME]\n", why);
    return 2;
}

}  // namespace

int runCheckCommand(const std::vector<std::u16string>& args) {
    std::optional<std::u16string> profile, user;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::u16string& a = args[i];
        std::optional<std::u16string>* target = a == u"--profile" ? &profile : a == u"--user" ? &user : nullptr;
        if (!target) return usage("unknown argument");
        if (i + 1 >= args.size() || args[i + 1].empty()) return usage("an option needs a value");
        if (*target) return usage("an option is given twice");
        *target = args[++i];
    }

    try {
        ConsolePlatform console;
        platform::Platform& p = console.p;
        const std::u16string folder = console.profileFolder(profile);
        const std::u16string iniPath = folder + u"set.ini";
        const platform::FileProblem why = p.files.problem(iniPath);
        if (why != platform::FileProblem::None) {
            std::fprintf(stderr, "inkwarden-cli check: cannot read the profile's set.ini (%s): ", FileProblemWords(why));
            WriteUtf8(stderr, p.codePage, iniPath);
            std::fputs("\n", stderr);
            return 2;
        }

        settings::SettingsStore store(p.files, p.codePage, folder);
        settings::ProgramState state;
        state.identity.AppPath = folder;
        state.identity.UserSection = user ? *user : p.shell.userName();
        state.prefs.options = settings::ReadOptions(store, state.identity.UserSection);

        const app::CheckReport report = app::RunCheckReport(p, store, state);
        // One tip line per output line: CR LF becomes LF.
        std::u16string tip;
        for (char16_t c : report.tip)
            if (c != u'\r') tip.push_back(c);
        WriteUtf8(stdout, p.codePage, tip + u"\n");
        std::printf("count: %d\n", static_cast<int>(report.count));
        // The whole status line: the tip is cut to its field, and a refused
        // certificate's text names two fingerprints.
        if (!report.status.empty()) WriteUtf8(stdout, p.codePage, u"status: " + report.status + u"\n");
        std::fflush(stdout);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "inkwarden-cli check: %s\n", e.what());
        return 2;
    }
}

}  // namespace iw::cli
