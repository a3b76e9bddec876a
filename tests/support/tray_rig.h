// Everything the main window's presenter needs, faked, in one fixture-sized
// object: virtual clock and loop, the fake network, a shell whose connection
// state a test switches, a desktop with browser frames, an in-memory file
// store, a settings store over it, the program-wide state and the fake view.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/master.h"
#include "platform/native.h"
#include "settings/accounts.h"
#include "settings/settings_store.h"
#include "tests/support/fake_master_view.h"
#include "tests/support/fake_time.h"
#include "tests/support/fake_tray_sockets.h"

namespace iw::test {

class RigShell : public platform::Shell {
public:
    bool openDocument(const std::u16string&) override { return true; }
    bool startCommandLine(const std::u16string&) override { return true; }
    std::u16string userName() const override { return u"tester"; }
    std::u16string newGuid() override { return u"{00000000-0000-0000-0000-000000000001}"; }
    bool isConnected() const override { return connected; }
    std::u16string programFolder() const override { return u"/prog"; }
    bool previousInstanceRunning() override { return false; }
    bool connected = false;
};

// Top-level windows by class; records show and close requests.
class RigDesktop : public platform::Desktop {
public:
    platform::WindowHandle add(const std::u16string& cls) {
        const platform::WindowHandle h = windows.size() + 100;
        windows.push_back({h, cls, true});
        return h;
    }
    struct Window {
        platform::WindowHandle h;
        std::u16string cls;
        bool visible;
    };
    std::vector<Window> windows;
    std::vector<platform::WindowHandle> closes;

    std::vector<platform::WindowHandle> topLevelWindows() const override {
        std::vector<platform::WindowHandle> r;
        for (const auto& w : windows) r.push_back(w.h);
        return r;
    }
    platform::WindowHandle findTopLevel(const std::u16string& cls, const std::optional<std::u16string>&) const override {
        for (const auto& w : windows)
            if (w.cls == cls) return w.h;
        return 0;
    }
    std::vector<platform::WindowHandle> childWindows(platform::WindowHandle) const override { return {}; }
    bool exists(platform::WindowHandle h) const override { return find(h) != nullptr; }
    std::u16string className(platform::WindowHandle h) const override { return find(h) ? find(h)->cls : u""; }
    std::u16string windowText(platform::WindowHandle) const override { return u""; }
    platform::WindowRect rect(platform::WindowHandle) const override { return {}; }
    bool isVisible(platform::WindowHandle h) const override { return find(h) && find(h)->visible; }
    bool isMinimized(platform::WindowHandle) const override { return false; }
    bool isMaximized(platform::WindowHandle) const override { return false; }
    void postClose(platform::WindowHandle h) override { closes.push_back(h); }
    void postSystemCommand(platform::WindowHandle, platform::SystemCommand) override {}
    void showAsync(platform::WindowHandle h, platform::ShowCommand c) override {
        for (auto& w : windows)
            if (w.h == h) w.visible = c != platform::ShowCommand::Hide;
    }
    platform::WindowHandle foreground() const override { return 0; }
    void setForeground(platform::WindowHandle) override {}
    platform::WindowRect screen() const override { return {0, 0, 1280, 1024}; }

private:
    const Window* find(platform::WindowHandle h) const {
        for (const auto& w : windows)
            if (w.h == h) return &w;
        return nullptr;
    }
};

class RigRegistry : public platform::Registry {
public:
    std::optional<std::u16string> readString(platform::RegistryRoot, const std::u16string&, const std::u16string&) const override {
        return std::nullopt;
    }
    std::optional<std::uint32_t> readDword(platform::RegistryRoot, const std::u16string&, const std::u16string&) const override {
        return std::nullopt;
    }
    platform::RegistryResult writeString(platform::RegistryRoot, const std::u16string&, const std::u16string&,
                                         const std::u16string&) override {
        return platform::RegistryResult::Ok;
    }
    platform::RegistryResult writeDword(platform::RegistryRoot, const std::u16string&, const std::u16string&,
                                        std::uint32_t) override {
        return platform::RegistryResult::Ok;
    }
    platform::RegistryResult deleteValue(platform::RegistryRoot, const std::u16string&, const std::u16string&) override {
        return platform::RegistryResult::Ok;
    }
    platform::RegistryResult deleteKey(platform::RegistryRoot, const std::u16string&) override {
        return platform::RegistryResult::Ok;
    }
};

class RigFiles : public platform::FileStore {
public:
    std::map<std::u16string, std::string> files;
    std::int64_t version = 0;
    std::optional<platform::FileStamp> stamp(const std::u16string& p) const override {
        auto it = files.find(p);
        if (it == files.end()) return std::nullopt;
        return platform::FileStamp{it->second.size(), version};
    }
    std::optional<std::string> readAll(const std::u16string& p) const override {
        auto it = files.find(p);
        if (it == files.end()) return std::nullopt;
        return it->second;
    }
    bool replaceAll(const std::u16string& p, const std::string& bytes) override {
        files[p] = bytes;
        ++version;
        return true;
    }
    char16_t separator() const override { return u'/'; }
};

struct TrayRig {
    FakeClock clock;
    FakeEventLoop loop{clock};
    FakeTrayNetwork network{loop};
    std::unique_ptr<platform::CodePage> codePage = platform::createCodePage();
    RigRegistry registry;
    RigDesktop desktop;
    RigShell shell;
    RigFiles files;
    platform::Platform platform{loop, clock, network, *codePage, registry, desktop, shell, files};
    settings::SettingsStore store{files, *codePage, u"/prog/"};
    app::Module1State state;
    FakeMasterView view;
    FakeFilterWindowOpener opener;

    TrayRig() { state.UserSection = u"tester"; }

    void set(const std::u16string& section, const std::u16string& key, const std::u16string& value) {
        store.write(settings::IniFile::Set, section, key, value);
    }
    // Adds an account to the roster.
    void addAccount(const std::u16string& address, const std::u16string& user, const std::u16string& password,
                    const std::u16string& host) {
        set(state.UserSection + u"-Mail", address, u"1");
        set(address, u"Account", user);
        set(address, u"PassWord", settings::ScramblePassword(*codePage, password));
        set(address, u"PoP3", host);
    }
};

}  // namespace iw::test
