// The platform services of a console command, created one by one (not
// NativePlatform, which lives in the core library and would be linked
// before the platform's factories), and the profile folder the command
// names or the program's folder.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "platform/native.h"
#include "platform/platform.h"

namespace iw::cli {

struct ConsolePlatform {
    std::unique_ptr<platform::EventLoop> loop = platform::createEventLoop();
    std::unique_ptr<platform::SystemClock> clock = platform::createSystemClock();
    std::unique_ptr<platform::Network> network = platform::createNetwork(*loop);
    std::unique_ptr<platform::CodePage> codePage = platform::createCodePage();
    std::unique_ptr<platform::Registry> registry = platform::createRegistry();
    std::unique_ptr<platform::Desktop> desktop = platform::createDesktop();
    std::unique_ptr<platform::Shell> shell = platform::createShell();
    std::unique_ptr<platform::FileStore> files = platform::createFileStore();
    platform::Platform p{*loop, *clock, *network, *codePage, *registry, *desktop, *shell, *files};

    // The folder of set.ini, ending in a separator.
    std::u16string profileFolder(const std::optional<std::u16string>& given) const {
        std::u16string folder = given ? *given : shell->programFolder();
        if (folder.empty() || (folder.back() != u'/' && folder.back() != u'\\')) folder += files->separator();
        return folder;
    }
};

// Writes `text` to `f` as UTF-8 with bare LF line ends (the C library adds
// what the system wants) and flushes, so lines reach a pipe in order.
inline void WriteUtf8(std::FILE* f, const platform::CodePage& cp, const std::u16string& text) {
    std::u16string lf;
    for (char16_t c : text)
        if (c != u'\r') lf.push_back(c);
    const std::string bytes = cp.fromUtf16(platform::kUtf8, lf);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fflush(f);
}

// Why a command cannot use its set.ini, in the words of its messages.
inline const char* FileProblemWords(platform::FileProblem p) {
    switch (p) {
    case platform::FileProblem::Missing: return "it does not exist";
    case platform::FileProblem::NotRegular: return "it is not a regular file";
    case platform::FileProblem::TooLarge: return "it is larger than 16 MiB";
    case platform::FileProblem::Unreadable: return "it cannot be opened";
    case platform::FileProblem::None: break;
    }
    return "";
}

}  // namespace iw::cli
