// The state the program's windows share for the life of the process, held
// by the front end (WinMain, a console command, a test) and passed by
// reference to each presenter. It is split by kind: who and where the
// program is, the user's preferences, what is going on now, and the
// parameters one dialog hands the next.
#pragma once

#include <cstdint>
#include <string>

#include "settings/preferences.h"

namespace iw::settings {

// Fixed at start-up.
struct ProgramIdentity {
    std::u16string AppPath;      // program folder with exactly one trailing backslash
    std::u16string UserSection;  // log-on user name; names the per-user set.ini sections
    bool FirstRun = false;       // start-up opened the settings dialog: no first-run marker
};

// What is going on now; never stored.
struct RunStatus {
    std::u16string StatusText;  // second line of the tray tip
    bool BrowserWindowsHidden = false;
    bool Online = false;             // a connection was present at the last tick
    std::int32_t NewMailCount = 0;   // waiting messages by the last check
    bool CheckBusy = false;          // a background check or a filter run is under way
    bool AutoOpened = false;         // the filter window was opened by a background check
};

// Set by one dialog just before it opens another.
struct DialogParameters {
    std::u16string SettingsPassword;  // locks the web-address filter page
    bool EditMode = false;            // the account or entry dialog edits an existing row
    int ListMode = 0;                 // the entry dialog's list: 1 black, 2 trust, 3 web-address list
};

struct ProgramState {
    ProgramIdentity identity;
    Preferences prefs;
    RunStatus run;
    DialogParameters dialog;
};

}  // namespace iw::settings
