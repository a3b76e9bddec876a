// Keyed reads per second from a set.ini with a 10,000-key black list, with
// the parse cache and with every read parsing the file again.
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/native.h"
#include "settings/settings_store.h"

namespace {

// An in-memory file store, so the figures show the store and not the disk.
class MemoryFiles : public iw::platform::FileStore {
public:
    std::string bytes;
    std::optional<iw::platform::FileStamp> stamp(const std::u16string&) const override {
        return iw::platform::FileStamp{bytes.size(), 1};
    }
    std::optional<std::string> readAll(const std::u16string&) const override { return bytes; }
    bool replaceAll(const std::u16string&, const std::string& b) override {
        bytes = b;
        return true;
    }
    char16_t separator() const override { return u'\\'; }
};

std::u16string address(int i) {
    const std::string s = "sender" + std::to_string(i) + "@junk-domain.example.com";
    return std::u16string(s.begin(), s.end());
}

double readsPerSecond(iw::settings::SettingsStore& store, int reads) {
    const auto start = std::chrono::steady_clock::now();
    int found = 0;
    for (int i = 0; i < reads; ++i)
        found += store.readNumber(iw::settings::IniFile::Set, u"User-BlackList", address((i * 7919) % 10000), 2) != 2;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (found != reads) std::printf("unexpected: %d of %d found\n", found, reads);
    return reads / s;
}

}  // namespace

int main() {
    MemoryFiles files;
    files.bytes = "[User]\r\nOption=011011000100\r\n[User-BlackList]\r\n";
    for (int i = 0; i < 10000; ++i) {
        const std::u16string a = address(i);
        files.bytes += std::string(a.begin(), a.end()) + "=0\r\n";
    }
    auto cp = iw::platform::createCodePage();
    iw::settings::SettingsStore store(files, *cp, u"C:\\");
    std::printf("set.ini: %zu bytes, 10000 keys in the black list\n", files.bytes.size());
    std::printf("keyed reads per second, cached:   %.0f\n", readsPerSecond(store, 1000000));
    store.setCacheEnabled(false);
    std::printf("keyed reads per second, uncached: %.1f\n", readsPerSecond(store, 50));

    // A loop of appends: each write rewrites the whole file.
    store.setCacheEnabled(true);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 10000; i < 11000; ++i) store.write(iw::settings::IniFile::Set, u"User-BlackList", address(i), u"0");
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("appends to the 10000-key list: %.2f ms per write\n", s * 1000 / 1000);
}
