// inkwarden-cli: the console front end. Dispatches on the first word.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cert_command.h"
#include "cli/check_command.h"
#include "cli/filter_command.h"
#include "cli/login_command.h"
#include "cli/scramble_command.h"
#include "iw_version.h"

namespace {

int dispatch(const std::vector<std::u16string>& words) {
    if (words.empty()) {
        std::fputs(
            "usage: inkwarden-cli check [--profile DIR] [--user NAME]\n"
            "       inkwarden-cli filter [--profile DIR] [--user NAME] [--delete] [--json]\n"
            "       inkwarden-cli cert [--profile DIR] [--user NAME] ADDRESS [--trust]\n"
            "       inkwarden-cli login [--profile DIR] [--user NAME] ADDRESS [--no-browser] [--wait SECONDS]\n"
            "       inkwarden-cli login [--profile DIR] [--user NAME] ADDRESS (--device | --try)\n"
            "       inkwarden-cli scramble < password-file\n"
            "       inkwarden-cli --version\n",
            stderr);
        return 2;
    }
    if (words[0] == u"--version") {
        std::fputs("inkwarden-cli " IW_VERSION_TEXT "\n", stdout);
        return 0;
    }
    const std::vector<std::u16string> rest(words.begin() + 1, words.end());
    if (words[0] == u"check") return iw::cli::runCheckCommand(rest);
    if (words[0] == u"filter") return iw::cli::runFilterCommand(rest);
    if (words[0] == u"cert") return iw::cli::runCertCommand(rest);
    if (words[0] == u"login") return iw::cli::runLoginCommand(rest);
    if (words[0] == u"scramble") return iw::cli::runScrambleCommand(rest);
    std::fputs("inkwarden-cli: unknown command\n", stderr);
    return 2;
}

#ifndef _WIN32
// Arguments arrive as UTF-8 on POSIX; decoded here without a code page
// object because the platform is not created before the arguments are read.
std::u16string fromUtf8(const char* s) {
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p) {
        char32_t c = *p++;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (more) c &= (0x3F >> more);
        for (; more > 0 && (*p & 0xC0) == 0x80; --more) c = (c << 6) | (*p++ & 0x3F);
        if (more > 0) c = 0xFFFD;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}
#endif

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::u16string> words;
    for (int i = 1; i < argc; ++i) {
        std::u16string w;
        for (const wchar_t* p = argv[i]; *p; ++p) w += static_cast<char16_t>(*p);
        words.push_back(w);
    }
    return dispatch(words);
}
#else
int main(int argc, char** argv) {
    std::vector<std::u16string> words;
    for (int i = 1; i < argc; ++i) words.push_back(fromUtf8(argv[i]));
    return dispatch(words);
}
#endif
