// Pictures of windows for the GUI tests under Wine: the screen's pixels in a
// rectangle, saved as BMP files under build/screenshots/ (converted to PNG
// by the scripts) so that a person can look at them.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace iw::test {

// build/screenshots under IW_ROOT (created), or "screenshots" without it.
std::wstring ScreenshotDir();
// Appended to screenshot names, so a run at another DPI keeps its own files.
std::wstring ShotSuffix();

// The screen's pixels inside a rectangle, top row first.
struct Capture {
    int w = 0, h = 0;
    std::vector<std::uint32_t> px;  // 0x00RRGGBB
    std::uint32_t at(int x, int y) const { return px[static_cast<std::size_t>(y) * w + x]; }
};

Capture Grab(const RECT& r);  // screen coordinates
void SaveBmp(const Capture& c, const std::wstring& path);

}  // namespace iw::test
