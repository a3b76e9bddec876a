// Everything the main window's presenter needs, faked, in one fixture-sized
// object: virtual clock and loop, the fake network, the shared fake shell
// (offline at first), desktop, file store and registry, a settings store,
// the program-wide state and the fake view.
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
#include "tests/support/fake_desktop.h"
#include "tests/support/fake_files.h"
#include "tests/support/fake_master_view.h"
#include "tests/support/fake_registry.h"
#include "tests/support/fake_shell.h"
#include "tests/support/fake_time.h"
#include "tests/support/fake_tray_sockets.h"

namespace iw::test {

struct TrayRig {
    FakeClock clock;
    FakeEventLoop loop{clock};
    FakeTrayNetwork network{loop};
    std::unique_ptr<platform::CodePage> codePage = platform::createCodePage();
    FakeRegistry registry;
    FakeDesktop desktop;
    FakeShell shell;
    FakeFiles files;
    platform::Platform platform{loop, clock, network, *codePage, registry, desktop, shell, files};
    settings::SettingsStore store{files, *codePage, u"/prog/"};
    settings::ProgramState state;
    FakeMasterView view;
    FakeFilterWindowOpener opener;

    TrayRig() {
        state.identity.UserSection = u"tester";
        shell.connected = false;  // tests bring the connection up themselves
    }

    void set(const std::u16string& section, const std::u16string& key, const std::u16string& value) {
        store.write(settings::IniFile::Set, section, key, value);
    }
    // Adds an account to the roster.
    void addAccount(const std::u16string& address, const std::u16string& user, const std::u16string& password,
                    const std::u16string& host) {
        set(state.identity.UserSection + u"-Mail", address, u"1");
        set(address, u"Account", user);
        set(address, u"PassWord", settings::ScramblePassword(*codePage, password));
        set(address, u"PoP3", host);
    }
};

}  // namespace iw::test
