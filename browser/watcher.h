// The browser window watcher, run first on every one-second tick of the main
// window, online or not. Each tick it looks at the topmost browser frame
// ("IEFrame"): with the web-address filter on (option 9) it reads the
// frame's address box, records the site (or, for a site set to decide per
// page, the page) in section "IeUrl" of ie.ini, and closes the frame when its
// key is blocked (1) or, with pop-up blocking on and option 10, when it shows
// a blank page; with pop-up blocking on it closes a frame smaller than
// PopupRatio of the screen in both directions unless it is minimised. With
// "最大化IE 視窗" on it maximises the foreground frame, folder or mail-reader
// window when it is at least that large in one direction.
//
// Every request to another program's window is posted, never sent, and the
// address box is asked with a short bounded wait, so a hung browser costs the
// tray at most one short wait per tick. The work of one tick is bounded: one
// frame's children, at most two ie.ini reads and one write.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "settings/program_state.h"
#include "browser/window_classes.h"
#include "platform/desktop.h"
#include "settings/settings_store.h"

namespace iw::browser {

// The frame and folder classes are the ones the close and hide commands use.
inline constexpr auto& kFrameClass = kBrowserFrameClass;
inline constexpr auto& kFolderClass = kFolderWindowClass;
inline constexpr char16_t kMailReaderClass[] = u"Outlook Express Browser Class";
inline constexpr char16_t kMailNoteClass[] = u"ATH_Note";
inline constexpr char16_t kAddressBoxClass[] = u"Edit";
inline constexpr char16_t kUrlSection[] = u"IeUrl";
// The key the reader produces for a frame that shows a blank page.
inline constexpr char16_t kBlankPageKey[] = u"about:blank";

// The pop-up size fraction when the stored one is outside 0..1.
inline constexpr double kDefaultPopupRatio = 0.75;

// Values of a key in section "IeUrl".
inline constexpr int kUrlAllowed = 0;
inline constexpr int kUrlBlocked = 1;
inline constexpr int kUrlNotSeen = 2;  // what a read of a missing key gives
inline constexpr int kUrlPerPage = 3;

// An address box's text is read as an address when it starts with "http" or
// "ftp" (any letter case) or its last four characters hold "htm".
bool IsAddressText(const std::u16string& text);

// A blank page: the address box shows "about:blank" (any letter case,
// surrounding blanks ignored).
bool IsBlankPageText(const std::u16string& text);

struct AddressKeys {
    std::u16string site;  // up to and including the "/" that ends the host
    std::u16string page;  // the address before its first "?"
};
// The site and page keys of an address. A local path (third character "\")
// is used whole as both. Otherwise the site ends at the first "/" after the
// scheme's "://" (or, with no scheme, at the first "/" from the eighth
// character on); an address with no such "/" gets one appended, and that is
// both its site and its page key.
AddressKeys KeysOf(const std::u16string& address);

// Whether a key can be stored in ie.ini and read back as the same key: one
// line, no "=", no blanks at its ends, not taken for a section or comment,
// at most kMaxStoredKeyLength characters, and every character held by the
// file's code page. A key that cannot is judged (its value read) but never
// written, or the watcher would append it to ie.ini again on every tick.
inline constexpr std::size_t kMaxStoredKeyLength = 2083;  // the browser's own address limit
bool StorableKey(const platform::CodePage& codePage, const std::u16string& key);

// How many address boxes of one frame are read per tick at most, counted
// from the last one (the last address box that holds an address decides).
inline constexpr std::size_t kMaxAddressBoxesRead = 64;

class BrowserWatcher {
public:
    BrowserWatcher(platform::Desktop& desktop, settings::SettingsStore& store, const platform::CodePage& codePage,
                   const settings::ProgramState& state);

    // One tick. `popChecked` and `maxChecked` are the marks of the tray menu
    // items "攔截廣告視窗" and "最大化IE 視窗".
    void WatchBrowserWindows(bool popChecked, bool maxChecked);

    // The address key found on the current tick; "" when none.
    const std::u16string& CurrentUrlKey() const { return currentUrlKey_; }

    // One child window of the frame, visited from the last child to the
    // first: remembers the text of an "Edit" that holds an address (or a
    // blank page). Returns whether the visit goes on: false once an address
    // is found (the last one in enumeration order decides) or when the
    // control did not answer (its program is hung: the frame's other
    // controls would not answer either).
    bool ReadAddressBarProc(platform::WindowHandle child);

private:
    // Reads the frame's address, records it in ie.ini and returns the value
    // of CurrentUrlKey (kUrlAllowed when there is no key).
    int readAddress(platform::WindowHandle frame);
    bool smallerThanPopupLimit(const platform::WindowRect& r) const;
    double popupRatio() const;

    platform::Desktop& desktop_;
    settings::SettingsStore& store_;
    const platform::CodePage& codePage_;
    const settings::ProgramState& state_;
    std::u16string currentUrlKey_;
    std::u16string found_;   // the address box text that decides this tick
    bool foundBlank_ = false;
    std::size_t boxesRead_ = 0;
};

}  // namespace iw::browser
