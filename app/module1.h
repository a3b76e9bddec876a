// Program-wide state, held for the life of the process in one place, and the
// services every window calls. The windows own everything else.
#pragma once

#include <cstdint>
#include <string>

namespace iw::app {

inline constexpr char16_t kDefaultOptionFlags[] = u"011011000100";

struct Module1State {
    std::u16string AppPath;      // program folder with exactly one trailing backslash
    std::u16string UserSection;  // log-on user name; names the per-user set.ini sections
    std::u16string OptionFlags = kDefaultOptionFlags;  // twelve "0"/"1" switches
    bool FirstRun = false;
    std::u16string StatusText;   // second line of the tray tip
    bool BrowserWindowsHidden = false;

    // Tray and background check (read at the main window's load, replaced by
    // the settings dialog's save).
    int CheckIntervalMinutes = 3;
    int OpenThreshold = 1;
    double PopupRatio = 0.75;
    bool Online = false;
    std::int32_t NewMailCount = 0;
    bool CheckBusy = false;
    bool AutoOpened = false;

    std::u16string SettingsPassword;
    bool EditMode = false;
    int ListMode = 0;

    // Option k (1-based) is on when its character is "1".
    bool option(int k) const {
        return k >= 1 && static_cast<std::size_t>(k) <= OptionFlags.size() && OptionFlags[k - 1] == u'1';
    }
};

}  // namespace iw::app
