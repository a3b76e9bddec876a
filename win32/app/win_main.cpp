// Inkwarden.exe: start-up (a second copy closes the browser windows and
// ends), the splash window for two seconds, then the hidden main window with
// the tray icon, and the message loop until the main window unloads.
#include <utility>

#include "app/services.h"
#include "app/startup.h"
#include "platform/native.h"
#include "settings/settings_store.h"
#include "win32/app/master_window.h"
#include "win32/platform/win32_event_loop.h"

using namespace iw;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        platform::NativePlatform native;
        platform::Platform& p = native.get();
        app::Module1State state;
        const app::StartupDecision d = app::RunStartup(p, state);
        if (d.action == app::StartupAction::CloseBrowsersAndExit) return 0;

        {
            // A settings file that cannot be read (a pipe or device in its
            // place, an absurd size) is said once; the program then runs
            // on defaults and never writes over it.
            const settings::SettingsStore check(p.files, p.codePage, state.AppPath);
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

        if (d.action == app::StartupAction::OpenSettingsFirstRun) {
            // The settings dialog is not part of this build yet; the first-run
            // marker (Software\Inkwarden, default value 1) skips this branch.
            MessageBoxW(nullptr, L"設定對話框尚未提供，無法完成首次設定。", L"Inkwarden", MB_OK | MB_ICONINFORMATION);
            return 0;
        }

        settings::SettingsStore store(p.files, p.codePage, state.AppPath);
        store.setStampInterval(p.clock, settings::kStampIntervalSeconds);
        win32app::MasterWindow master(p, store, state);
        if (!master.load()) return 1;
        win32::Win32EventLoop* loop = win32::asWin32(p.loop);
        while (master.presenter().loaded() && !(loop && loop->quitRequested())) p.loop.pump();
        return 0;
    } catch (...) {
        MessageBoxW(nullptr, L"Inkwarden 無法啟動。", L"Inkwarden", MB_OK | MB_ICONERROR);
        return 1;
    }
}
