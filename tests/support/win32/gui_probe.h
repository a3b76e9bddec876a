// Helpers for the tests of real windows under Wine: pixels counted in a
// screen capture, list-view and window texts read back, list
// notifications sent as a click would send them, and a probe that reads a
// pop-up menu while its modal loop runs and picks one of its items.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/win32/dialog_driver.h"  // WindowText
#include "tests/support/win32/screen_capture.h"

namespace iw::test {

// Pixels within a small distance of `rgb` inside a rectangle of the capture.
int CountNear(const Capture& c, const RECT& r, std::uint32_t rgb);

std::wstring ItemText(HWND lv, int row, int column);

// A new empty folder under the temporary folder, named from `prefix`, the
// process and a counter, with a trailing backslash; empty when it could not
// be made.
std::wstring NewTempFolder(const std::wstring& prefix);

// One item of a menu as read back.
struct MenuRead {
    std::wstring text;
    UINT id = 0, type = 0, state = 0;
};
std::vector<MenuRead> ReadMenu(HMENU m);

// Opens a pop-up menu by calling `open` (which runs the menu's modal loop),
// reads the menu while it is open, closes it and, when `pick` names an
// item, posts its command to the owner as the menu does when the user
// picks it. run() returns once the menu has closed.
struct MenuProbe {
    std::vector<MenuRead> items;
    bool opened = false;
    std::wstring choose;
    HWND owner = nullptr;

    void run(HWND owner_, const std::function<void()>& open, const std::wstring& pick = L"");
    const MenuRead* find(const std::wstring& text) const;

    static MenuProbe*& current();
    static HMENU& tracked();
    static LRESULT CALLBACK hook(int code, WPARAM wp, LPARAM lp);
    static void CALLBACK read(HWND, UINT, UINT_PTR id, DWORD);
};

// A list view's click notification (NM_CLICK, NM_RCLICK) on `row`.
void SendListNotify(HWND parent, HWND list, int id, UINT code, int row);
// Selects and focuses one row.
void SelectRow(HWND list, int row);

}  // namespace iw::test
