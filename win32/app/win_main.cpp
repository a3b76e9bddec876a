// Inkwarden.exe: start-up (a second copy closes the browser windows and
// ends), the splash window for two seconds, then the hidden main window with
// the tray icon (on a first run the settings dialog, whose first save loads
// the main window), and the message loop until no window is left.
#include <utility>

#include "app/account_signin.h"
#include "app/services.h"
#include "app/startup.h"
#include "platform/native.h"
#include "settings/settings_store.h"
#include "win32/app/mailset_window.h"
#include "win32/app/master_window.h"
#include "win32/app/modal_dialogs_win32.h"
#include "win32/platform/win32_event_loop.h"

using namespace iw;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        platform::NativePlatform native;
        platform::Platform& p = native.get();
        settings::ProgramState state;
        const app::StartupDecision d = app::RunStartup(p, state);
        if (d.action == app::StartupAction::CloseBrowsersAndExit) return 0;

        {
            // A settings file that cannot be read (a pipe or device in its
            // place, an absurd size) is said once; the program then runs
            // on defaults and never writes over it.
            const settings::SettingsStore check(p.files, p.codePage, state.identity.AppPath);
            for (const auto& [file, name] : {std::pair{settings::IniFile::Set, u"set.ini"}, std::pair{settings::IniFile::Ie, u"ie.ini"}}) {
                const std::u16string text = settings::SettingsFileProblemText(name, check.problem(file));
                if (!text.empty())
                    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()), L"Inkwarden", MB_OK | MB_ICONWARNING);
            }
        }

        {
            win32::UniqueWindow splash = win32app::ShowSplash();
            app::WaitSeconds(p.loop, p.clock, 2);
        }

        settings::SettingsStore store(p.files, p.codePage, state.identity.AppPath);
        store.setStampInterval(p.clock, settings::kStampIntervalSeconds);

        // The main window is loaded now, or on a first run by the settings
        // dialog's first save.
        std::unique_ptr<win32app::MasterWindow> master;
        win32app::MailsetHost* settingsHost = nullptr;
        bool masterFailed = false;
        settings::MailsetHooks hooks;
        hooks.loadMaster = [&] {
            if (master) return;
            master = std::make_unique<win32app::MasterWindow>(p, store, state);
            master->setSettingsDialog(settingsHost);
            if (!master->load()) masterFailed = true;
        };
        // An account removed in the settings dialog takes its stored tokens along.
        hooks.accountRemoved = [&](const std::u16string& address) {
            app::ForgetAccountTokens(p, state.identity.AppPath, address);
        };
        auto dialogs = [&](HWND owner) -> std::unique_ptr<settings::ModalDialogs> {
            return std::make_unique<win32app::Win32ModalDialogs>(
                win32app::ModalDialogDeps{p.loop, store, p.codePage, p.registry, state, &p}, owner);
        };
        win32app::MailsetHost settingsDialog(p, store, state, dialogs, hooks);
        settingsHost = &settingsDialog;

        if (d.action == app::StartupAction::OpenSettingsFirstRun) settingsDialog.show();
        else hooks.loadMaster();

        win32::Win32EventLoop* loop = win32::asWin32(p.loop);
        auto running = [&] {
            if (masterFailed || (loop && loop->quitRequested())) return false;
            return (master && master->presenter().loaded()) || settingsDialog.isOpen();
        };
        while (running()) p.loop.pump();
        master.reset();
        if (masterFailed) return 1;
        return 0;
    } catch (...) {
        MessageBoxW(nullptr, L"Inkwarden 無法啟動。", L"Inkwarden", MB_OK | MB_ICONERROR);
        return 1;
    }
}
