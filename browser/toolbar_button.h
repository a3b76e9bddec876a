// The browser toolbar button of the tray menu item "整合至 IE 視窗": a key
// under Software\Microsoft\Internet Explorer\Extensions, named by a new GUID,
// whose values tell the browser to show a button that runs Inkwarden.exe
// (which, with the program already running, closes every browser window and
// ends). The key goes under HKEY_LOCAL_MACHINE, or under HKEY_CURRENT_USER
// when the system refuses that, as it does for every normal user; the
// browser reads both. The name of the key last created is kept in the
// program's registry value "ShowIE", so the switch-off can remove it.
//
// The menu mark and set.ini's [ShowIE] Value are the main window's; this
// class does the registry work only.
#pragma once

#include <string>

#include "platform/registry.h"
#include "platform/shell.h"

namespace iw::browser {

inline constexpr char16_t kExtensionsKey[] = u"Software\\Microsoft\\Internet Explorer\\Extensions";
// The browser's own handler for toolbar buttons that run a program.
inline constexpr char16_t kRunProgramButtonClsid[] = u"{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}";
inline constexpr char16_t kButtonText[] = u"Inkwarden";
inline constexpr char16_t kShowIeValue[] = u"ShowIE";
inline constexpr char16_t kHotIconFile[] = u"IE1.ico";     // under the pointer
inline constexpr char16_t kNormalIconFile[] = u"IE2.ico";  // otherwise
inline constexpr char16_t kProgramFile[] = u"Inkwarden.exe";

// A new GUID in registry text form: braces, upper-case hexadecimal, 38
// characters.
std::u16string NewGuidString(platform::Shell& shell);

// Whether `text` has exactly that form (any letter case).
bool IsGuidText(const std::u16string& text);

// What a switch did, for tests and the log of a careful caller; the tray
// menu does not report registry failures.
enum class ButtonResult {
    Created,        // the key and its six values are written
    Removed,        // the key named by "ShowIE" is gone
    NothingToRemove,// "ShowIE" names no key of ours (missing or not a GUID)
    Failed,         // the registry refused under both roots
};

class ToolbarButton {
public:
    // `appPath` is the program folder with its trailing backslash.
    ToolbarButton(platform::Registry& registry, platform::Shell& shell, std::u16string appPath);

    // The registry work of switchButton once the mark has been inverted:
    // on creates a new key (removing the one "ShowIE" still names, so there
    // is never more than one button), off removes the key "ShowIE" names.
    ButtonResult switchButton(bool on);

private:
    ButtonResult create();
    ButtonResult remove();
    platform::Registry& registry_;
    platform::Shell& shell_;
    std::u16string appPath_;
};

}  // namespace iw::browser
