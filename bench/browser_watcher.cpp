// Cost of one tick of the browser watcher on the fake desktop, with a frame
// of many child windows and an ie.ini of 2,000 sites on disk (the real file
// store in a temporary folder). Prints microseconds per tick and the address
// boxes asked per tick for: a site seen before (reads only), a new site on
// every tick (one write each), a frame of 10,000 address boxes none of which
// holds an address (the per-tick cap), the size rule alone, and a frame of
// ordinary size.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "browser/watcher.h"
#include "platform/native.h"
#include "tests/support/fake_desktop.h"

namespace {

using iw::platform::WindowHandle;
using iw::test::FakeDesktop;
using iw::test::FakeWindowSpec;

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

struct Rig {
    std::filesystem::path folder;
    std::unique_ptr<iw::platform::FileStore> files = iw::platform::createFileStore();
    std::unique_ptr<iw::platform::CodePage> cp = iw::platform::createCodePage();
    std::unique_ptr<iw::settings::SettingsStore> store;
    iw::settings::ProgramState state;
    FakeDesktop desktop;

    Rig() {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        folder = std::filesystem::temp_directory_path() / ("iw-bench-watcher-" + std::to_string(stamp));
        std::filesystem::create_directories(folder);
        store = std::make_unique<iw::settings::SettingsStore>(*files, *cp, u16(folder.string() + "/"));
        std::string ini = "[IeUrl]\r\n";
        for (int i = 0; i < 2000; ++i) ini += "http://site" + std::to_string(i) + ".example.com/=0\r\n";
        files->replaceAll(store->path(iw::settings::IniFile::Ie), ini);
        state.prefs.options = iw::settings::Options::FromStored(u"011011001100");
        state.prefs.PopupRatio = 0.75;
        desktop.setScreen({0, 0, 1920, 1080});
    }
    ~Rig() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

// A big frame whose children are mostly toolbar parts, with an empty search
// box among them and the address box last.
WindowHandle bigFrame(FakeDesktop& d, int children, WindowHandle& addressBox) {
    const WindowHandle f = d.add(FakeWindowSpec{iw::browser::kFrameClass, u"首頁", {0, 0, 1600, 1000}});
    for (int i = 0; i < children - 2; ++i) d.addChild(f, FakeWindowSpec{u"ToolbarWindow32", u""});
    d.addChild(f, FakeWindowSpec{iw::browser::kAddressBoxClass, u""});
    addressBox = d.addChild(f, FakeWindowSpec{iw::browser::kAddressBoxClass, u"http://site7.example.com/a.htm?x=1"});
    return f;
}

template <typename F>
void measure(const char* name, int ticks, Rig& rig, iw::browser::BrowserWatcher& w, bool filterOn, F beforeTick) {
    rig.state.prefs.options = iw::settings::Options::FromStored(filterOn ? u"011011001100" : u"011011000100");
    const int reads0 = rig.desktop.controlTextReads();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < ticks; ++i) {
        beforeTick(i);
        w.WatchBrowserWindows(true, true);
    }
    const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-58s %9.1f us/tick  %6.1f boxes asked/tick\n", name, us / ticks,
                static_cast<double>(rig.desktop.controlTextReads() - reads0) / ticks);
}

}  // namespace

int main() {
    Rig rig;
    iw::browser::BrowserWatcher watcher(rig.desktop, *rig.store, *rig.cp, rig.state);
    WindowHandle box = 0;
    const WindowHandle frame = bigFrame(rig.desktop, 10000, box);
    rig.desktop.setForeground(frame);

    {
        // What listing the children alone costs on the fake desktop, to
        // tell the watcher's own work from the enumeration's.
        const auto start = std::chrono::steady_clock::now();
        std::size_t n = 0;
        for (int i = 0; i < 200; ++i) n += rig.desktop.childWindows(frame).size();
        const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-58s %9.1f us/call  (%zu children)\n", "listing the 10,000 children alone (fake desktop)", us / 200,
                    n / 200);
    }
    measure("frame of 10,000 children, site seen before", 200, rig, watcher, true, [](int) {});
    measure("frame of 10,000 children, a new site every tick (1 write)", 100, rig, watcher, true, [&](int i) {
        rig.desktop.setTitle(box, u16("http://new" + std::to_string(i) + ".example.org/p.htm"));
    });
    measure("frame of 10,000 children, filter off (size rule only)", 200, rig, watcher, false, [](int) {});

    rig.desktop.destroy(frame);
    WindowHandle smallBox = 0;
    const WindowHandle typical = bigFrame(rig.desktop, 60, smallBox);
    rig.desktop.setForeground(typical);
    measure("frame of 60 children (an ordinary browser), site seen", 2000, rig, watcher, true, [](int) {});
    rig.desktop.destroy(typical);
    const WindowHandle boxes =
        rig.desktop.add(FakeWindowSpec{iw::browser::kFrameClass, u"表單", {0, 0, 1600, 1000}});
    for (int i = 0; i < 10000; ++i) rig.desktop.addChild(boxes, FakeWindowSpec{iw::browser::kAddressBoxClass, u"text"});
    measure("frame of 10,000 address boxes, none holds an address", 200, rig, watcher, true, [](int) {});
    std::printf("ie.ini keys at the end: %zu\n",
                rig.store->listKeys(iw::settings::IniFile::Ie, iw::browser::kUrlSection).size());
    return 0;
}
