// Console text on Windows: WriteConsoleW to a console, UTF-8 bytes to a file
// or pipe; see platform/console.h.
#include "platform/console.h"

#include <windows.h>

#include <string>

namespace iw::platform {

void WriteConsoleText(ConsoleStream stream, const std::u16string& text) {
    HANDLE h = GetStdHandle(stream == ConsoleStream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD mode = 0;
    const auto* w = reinterpret_cast<const wchar_t*>(text.data());
    if (GetConsoleMode(h, &mode)) {
        DWORD written = 0;
        WriteConsoleW(h, w, static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return;
    std::string bytes(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace iw::platform
