// Helpers for the tests of real windows under Wine: screen captures saved
// as pictures for looking at, list-view and window texts read back, list
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

namespace iw::test {

// build/screenshots under IW_ROOT (created when missing), or "screenshots".
std::wstring ScreenshotDir();
// Appended to screenshot names (IW_SHOT_SUFFIX), so a run at another DPI
// keeps its own files.
std::wstring ShotSuffix();

// The screen's pixels inside `r` (screen coordinates), top row first.
struct Capture {
    int w = 0, h = 0;
    std::vector<std::uint32_t> px;  // 0x00RRGGBB
    std::uint32_t at(int x, int y) const { return px[static_cast<std::size_t>(y) * w + x]; }
};
Capture Grab(const RECT& r);
void SaveBmp(const Capture& c, const std::wstring& path);
// Pixels within a small distance of `rgb` inside a rectangle of the capture.
int CountNear(const Capture& c, const RECT& r, std::uint32_t rgb);

std::wstring ItemText(HWND lv, int row, int column);
std::wstring WindowText(HWND h);

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
