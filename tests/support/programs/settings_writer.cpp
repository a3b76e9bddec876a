// A settings writer to be killed: writes key "k" of section "S" of set.ini
// in the folder given as its argument, alternating two long values, over the
// real FileStore, for ever. After its first write it prints "ready" and a
// line end, so the test knows writes are under way.
#include <cstdio>
#include <string>

#include "platform/native.h"
#include "settings/settings_store.h"

namespace {

std::u16string widen(const char* s) {
    std::u16string out;
    for (; *s; ++s) out.push_back(static_cast<unsigned char>(*s));  // the test passes plain ASCII paths
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: settings_writer FOLDER\n");
        return 2;
    }
    auto files = iw::platform::createFileStore();
    auto cp = iw::platform::createCodePage();
    std::u16string folder = widen(argv[1]);
    if (folder.empty() || folder.back() != files->separator()) folder.push_back(files->separator());
    iw::settings::SettingsStore store(*files, *cp, folder);
    const std::u16string values[2] = {std::u16string(20000, u'a'), std::u16string(30000, u'b')};
    for (unsigned long i = 0;; ++i) {
        if (!store.write(iw::settings::IniFile::Set, u"S", u"k", values[i % 2])) return 1;
        if (i == 0) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    }
}
