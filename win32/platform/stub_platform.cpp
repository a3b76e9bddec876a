// Stand-in factories until the Win32 platform is written: the code page
// converts through the system tables without the invalid-byte rules,
// everything else aborts when used. Replaced as a whole by the real
// implementation.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/native.h"

namespace iw::platform {
namespace {

class StubCodePage : public CodePage {
public:
    std::u16string toUtf16(int cp, std::string_view bytes) const override {
        if (bytes.empty()) return {};
        int n = MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        std::wstring w(n, L'\0');
        MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), w.data(), n);
        return std::u16string(w.begin(), w.end());
    }
    std::string fromUtf16(int cp, std::u16string_view text) const override {
        if (text.empty()) return {};
        std::wstring w(text.begin(), text.end());
        int n = WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
        std::string s(n, '\0');
        WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
        return s;
    }
};

}  // namespace

std::unique_ptr<EventLoop> createEventLoop() { std::abort(); }
std::unique_ptr<SystemClock> createSystemClock() { std::abort(); }
std::unique_ptr<Network> createNetwork(EventLoop&) { std::abort(); }
std::unique_ptr<CodePage> createCodePage() { return std::make_unique<StubCodePage>(); }
std::unique_ptr<Registry> createRegistry() { std::abort(); }
std::unique_ptr<Desktop> createDesktop() { std::abort(); }
std::unique_ptr<Shell> createShell() { std::abort(); }
std::unique_ptr<FileStore> createFileStore() { std::abort(); }

}  // namespace iw::platform
