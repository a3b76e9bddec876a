// Stand-in factories until the POSIX platform is written: the code page
// converts through iconv without the invalid-byte rules, everything else
// aborts when used. Replaced as a whole by the real implementation.
#include <iconv.h>

#include <cstdlib>
#include <string>

#include "platform/native.h"

namespace iw::platform {
namespace {

const char* iconvName(int cp) {
    switch (cp) {
    case kBig5: return "CP950";
    case kGbk: return "CP936";
    case kUtf8: return "UTF-8";
    case kUtf7: return "UTF-7";
    default: return "ASCII";
    }
}

std::string convert(const char* to, const char* from, std::string_view in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) {
            ++src;
            --srcLeft;
        }
    }
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

class StubCodePage : public CodePage {
public:
    std::u16string toUtf16(int cp, std::string_view bytes) const override {
        std::string u = convert("UTF-16LE", iconvName(cp), bytes);
        std::u16string r(u.size() / 2, u'\0');
        for (size_t i = 0; i < r.size(); ++i)
            r[i] = static_cast<char16_t>(static_cast<unsigned char>(u[2 * i]) |
                                         (static_cast<unsigned char>(u[2 * i + 1]) << 8));
        return r;
    }
    std::string fromUtf16(int cp, std::u16string_view text) const override {
        std::string u;
        for (char16_t c : text) {
            u.push_back(static_cast<char>(c & 0xFF));
            u.push_back(static_cast<char>(c >> 8));
        }
        return convert(iconvName(cp), "UTF-16LE", u);
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
