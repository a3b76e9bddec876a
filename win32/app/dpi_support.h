// What every window of the program needs to be per-monitor DPI aware: the
// creation context that gives a new window the DPI of its screen (and
// WM_DPICHANGED when it moves), and the message font at a given DPI.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "win32/platform/handles.h"

namespace iw::win32app {

// Windows created while one of these lives are per-monitor DPI aware.
class PerMonitorDpi {
public:
    PerMonitorDpi() : old_(SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) {
        if (!old_) old_ = SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
    }
    ~PerMonitorDpi() {
        if (old_) SetThreadDpiAwarenessContext(old_);
    }
    PerMonitorDpi(const PerMonitorDpi&) = delete;
    PerMonitorDpi& operator=(const PerMonitorDpi&) = delete;

private:
    DPI_AWARENESS_CONTEXT old_;
};

// The system's message font at `dpi`; with `face`, that face at the
// message font's size (the font mapping of the system supplies it where it
// is not installed).
inline win32::UniqueFont createMessageFont(UINT dpi, const wchar_t* face = nullptr) {
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof ncm;
    if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0, dpi)) {
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
        ncm.lfMessageFont.lfHeight = MulDiv(ncm.lfMessageFont.lfHeight, static_cast<int>(dpi), 96);
    }
    if (face) {
        lstrcpynW(ncm.lfMessageFont.lfFaceName, face, LF_FACESIZE);
        ncm.lfMessageFont.lfCharSet = DEFAULT_CHARSET;
    }
    return win32::UniqueFont(CreateFontIndirectW(&ncm.lfMessageFont));
}

}  // namespace iw::win32app
