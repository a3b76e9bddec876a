// How the main window opens the filter window: the tray menu opens it in the
// usual way, a background check that found enough mail opens it quietly.
// The filter window's own code implements this; tests use a recording fake.
#pragma once

namespace iw::app {

class FilterWindowOpener {
public:
    virtual ~FilterWindowOpener() = default;

    // Loads the filter window (when not loaded yet) and shows it, activated.
    virtual void showFilterWindow() = 0;

    // Loads the filter window and shows it without taking the focus from the
    // user's foreground window: minimised (SW_SHOWMINNOACTIVE) when
    // `minimized`, else in its normal place (SW_SHOWNOACTIVATE). AutoOpened
    // is already set when this is called, so the window's load handler
    // centres it and starts its session by itself.
    virtual void showFilterWindowQuietly(bool minimized) = 0;
};

}  // namespace iw::app
