// The start-up decision of the program: refuse a second copy (closing the
// browser windows instead), or open the settings dialog on a first run, or
// load the hidden main window. Deciding is portable; opening the windows
// (splash, main window, settings dialog) is the front end's job.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "settings/program_state.h"
#include "platform/platform.h"

namespace iw::app {

struct StartupInputs {
    bool previousInstance = false;
    std::u16string programFolder;      // as the shell reports it
    char16_t separator = u'\\';        // the platform's folder separator
    std::u16string userName;           // the log-on name as read (may hold a NUL)
    std::optional<std::u16string> option;  // key "Option" of the user's section; nullopt when missing
    std::uint32_t firstRunNumber = 0;  // the first-run marker; 0 when missing
};

enum class StartupAction {
    CloseBrowsersAndExit,  // another copy runs: close the browser windows, end
    OpenSettingsFirstRun,  // never configured: show the settings dialog
    LoadMaster,            // load the hidden main window with the tray icon
};

struct StartupDecision {
    StartupAction action = StartupAction::LoadMaster;
    // The rest is empty for CloseBrowsersAndExit: nothing is read then.
    std::u16string AppPath;
    std::u16string UserSection;
    std::optional<settings::Options> options;  // as stored, or the defaults when the key is missing
    bool FirstRun = false;
};

// The folder with one trailing separator; a folder that already ends in one
// (a drive root such as "C:\") is kept unchanged.
std::u16string MakeAppPath(const std::u16string& folder, char16_t separator = u'\\');

// The user name cut before its first NUL.
std::u16string MakeUserSection(const std::u16string& userName);

StartupDecision DecideStartup(const StartupInputs& in);

// Copies the decision's values into the program-wide state (nothing for
// CloseBrowsersAndExit).
void ApplyStartupDecision(const StartupDecision& d, settings::ProgramState& state);

// Gathers the inputs through the platform (shell, set.ini through the
// settings store, the first-run marker through the registry values), decides,
// applies the decision to `state` and, for a second copy, closes the browser
// windows before returning. The caller then shows the splash window for two
// seconds (WaitSeconds) and opens what the action says, or ends the process.
StartupDecision RunStartup(platform::Platform& p, settings::ProgramState& state);

}  // namespace iw::app
