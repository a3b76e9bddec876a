// The "scramble" command of inkwarden-cli; see scramble_command.h.
#include "cli/scramble_command.h"

#include <cstdio>
#include <iostream>
#include <memory>

#include "platform/native.h"
#include "settings/accounts.h"

namespace iw::cli {

int runScrambleCommand(const std::vector<std::u16string>& args) {
    if (!args.empty()) {
        std::fputs("inkwarden-cli scramble: unknown argument\nusage: inkwarden-cli scramble < password-file\n", stderr);
        return 2;
    }
    std::string line;
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::unique_ptr<platform::CodePage> cp = platform::createCodePage();
    const std::u16string password = cp->toUtf16(platform::kUtf8, line);
    if (!settings::PasswordIsScramblable(password)) {
        std::fputs("inkwarden-cli scramble: the password may hold printable ASCII characters only\n", stderr);
        return 2;
    }
    const std::string out = cp->fromUtf16(platform::kUtf8, settings::ScramblePassword(*cp, password) + u"\n");
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return 0;
}

}  // namespace iw::cli
