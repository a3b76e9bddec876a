// The "filter" command of inkwarden-cli; see filter_command.h.
#include "cli/filter_command.h"

#include <cstdio>
#include <exception>

#include "settings/program_state.h"
#include "app/startup.h"
#include "filter/classify.h"
#include "filter/console_filter.h"
#include "filter/settings_profile.h"
#include "platform/date_format.h"
#include "cli/console_platform.h"
#include "settings/settings_store.h"

namespace iw::cli {

namespace {

// One output line per text line: CR LF inside a status or tip becomes " / ".
std::u16string oneLine(const std::u16string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            out += u" / ";
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

int usage(const std::string& why) {
    std::fprintf(stderr,
                 "inkwarden-cli filter: %s\nusage: inkwarden-cli filter [--profile DIR] [--user NAME] [--delete] [--json]\n",
                 why.c_str());
    return 2;
}

}  // namespace

int runFilterCommand(const std::vector<std::u16string>& args) {
    filter::FilterRunOptions options;
    const std::string wrong = filter::ParseFilterArgs(args, options);
    if (!wrong.empty()) return usage(wrong);

    try {
        ConsolePlatform console;
        platform::Platform& p = console.p;
        const std::u16string folder = console.profileFolder(options.profileDir);
        auto dates = platform::createDateFormat();
        const std::u16string iniPath = folder + u"set.ini";
        const platform::FileProblem why = p.files.problem(iniPath);
        if (why != platform::FileProblem::None) {
            std::fprintf(stderr, "inkwarden-cli filter: cannot read the profile's set.ini (%s): ", FileProblemWords(why));
            WriteUtf8(stderr, p.codePage, iniPath + u"\n");
            return 2;
        }

        settings::SettingsStore store(p.files, p.codePage, folder);
        store.setStampInterval(p.clock, settings::kStampIntervalSeconds);
        settings::ProgramState state;
        state.identity.AppPath = folder;
        state.identity.UserSection = options.user ? *options.user : app::MakeUserSection(p.shell.userName());
        state.prefs.options = settings::ReadOptions(store, state.identity.UserSection);

        filter::SettingsProfile profile(store, p.codePage, state.identity.UserSection);
        filter::StoreSenderLists lists(store, state.identity.UserSection);
        return filter::RunConsoleFilter(
            p, profile, state, lists, *dates, options, [&](const std::u16string& line) { WriteUtf8(stdout, p.codePage, line + u"\n"); },
            [&](const std::u16string& line) { WriteUtf8(stderr, p.codePage, oneLine(line) + u"\n"); });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "inkwarden-cli filter: %s\n", e.what());
        return 2;
    }
}

}  // namespace iw::cli
