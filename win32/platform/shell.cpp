// The shell and the process environment: opening documents and addresses,
// starting command lines, the log-on name, GUIDs, the connection state, the
// program's folder and the running-copy check (a named mutex held for the
// life of the process).
#include <objbase.h>
#include <shellapi.h>
#include <wininet.h>

#include <cstdio>
#include <vector>

#include "platform/native.h"
#include "win32/platform/handles.h"
#include "win32/platform/win32_shell.h"

namespace iw::win32 {

std::u16string folderOfPath(const std::u16string& path) {
    const auto slash = path.find_last_of(u"\\/");
    if (slash == std::u16string::npos) return {};
    std::u16string folder = path.substr(0, slash);
    if (folder.size() == 2 && folder[1] == u':') folder += u'\\';
    return folder;
}

std::u16string instanceMutexName(const std::u16string& exePath) {
    std::wstring lower(exePath.begin(), exePath.end());
    if (!lower.empty()) CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a over the UTF-16 units
    for (wchar_t c : lower) {
        h ^= static_cast<std::uint16_t>(c);
        h *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    std::u16string name = u"Local\\Inkwarden-";
    for (const char* p = hex; *p; ++p) name += static_cast<char16_t>(*p);
    return name;
}

namespace {

std::u16string modulePath() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (int tries = 0; tries < 8; ++tries) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return fromWide(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
    return {};
}

class ShellImpl final : public platform::Shell {
public:
    bool openDocument(const std::u16string& target) override {
        const auto r = reinterpret_cast<INT_PTR>(
            ShellExecuteW(nullptr, L"open", wide(target), nullptr, nullptr, SW_SHOWNORMAL));
        return r > 32;
    }

    bool startCommandLine(const std::u16string& commandLine) override {
        if (commandLine.empty()) return false;
        std::wstring cmd(commandLine.begin(), commandLine.end());  // CreateProcessW may write into it
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return false;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return true;
    }

    std::u16string userName() const override {
        std::vector<wchar_t> buf(257);
        for (int tries = 0; tries < 4; ++tries) {
            DWORD size = static_cast<DWORD>(buf.size());
            if (GetUserNameW(buf.data(), &size)) return fromWide(buf.data());
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
            buf.resize(size > buf.size() ? size : buf.size() * 2);
        }
        return {};
    }

    std::u16string newGuid() override {
        GUID g;
        if (CoCreateGuid(&g) != S_OK) return {};
        wchar_t text[40];
        const int n = StringFromGUID2(g, text, 40);
        return n > 1 ? fromWide(text, static_cast<std::size_t>(n - 1)) : std::u16string();
    }

    bool isConnected() const override {
        DWORD flags = 0;
        wchar_t name[256];
        return InternetGetConnectedStateExW(&flags, name, 256, 0) != FALSE;
    }

    std::u16string programFolder() const override { return folderOfPath(modulePath()); }

    bool previousInstanceRunning() override {
        // The first call in the process claims; every later call, through
        // any shell object, repeats its answer. Asking again would find this
        // process's own mutex and report a second copy. The claim is held
        // until the process ends.
        static const bool running = [] {
            const std::u16string name = instanceMutexName(modulePath());
            const HANDLE m = CreateMutexW(nullptr, FALSE, wide(name));
            const bool exists = m && GetLastError() == ERROR_ALREADY_EXISTS;
            if (m) {
                static UniqueKernel held(m);
            }
            return exists;
        }();
        return running;
    }
};

}  // namespace
}  // namespace iw::win32

namespace iw::platform {
std::unique_ptr<Shell> createShell() { return std::make_unique<win32::ShellImpl>(); }
}  // namespace iw::platform
