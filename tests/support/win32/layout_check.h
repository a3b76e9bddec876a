// Layout checks of the GUI tests: what makes a window look tidy at any DPI.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <vector>

namespace iw::test {

// `child`'s rectangle in `parent`'s client coordinates.
RECT ClientRectOf(HWND parent, HWND child);

// Every visible child of `win` against every other: all lie inside the
// client area, no two overlap, and every caption of a button or label fits
// its control in the control's own font (a check box with its square).
// Failures name the controls by their identifiers. `containers` are
// controls that hold others (a tab control, a group box): a control lying
// wholly inside one of them does not count as overlapping it.
void ExpectCleanLayout(HWND win, const std::vector<int>& containers = {});

}  // namespace iw::test
