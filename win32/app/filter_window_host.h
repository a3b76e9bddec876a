// The seam between the main window and the filter window on screen: the main
// window asks for an opener and calls it from its menu and its background
// check; the filter window's Win32 code (filter_window_host.cpp) creates the
// presenter and its view when asked and destroys both when the window closes.
#pragma once

#include <memory>

#include "app/filter_window_opener.h"
#include "settings/program_state.h"
#include "filter/main_window_link.h"
#include "platform/platform.h"
#include "settings/settings_store.h"

namespace iw::win32app {

struct FilterWindowDeps {
    platform::Platform& platform;
    settings::ProgramState& state;
    settings::SettingsStore& store;
    filter::MainWindowLink& mainWindow;
};

// The opener as the main window holds it.
class FilterWindowHost : public app::FilterWindowOpener {
public:
    // Unloads a loaded filter window at once (the program exits or the
    // Windows session ends): its unload runs and it disappears, and no
    // new one opens afterwards. The window and its presenter are destroyed
    // with the host, never here, because a wait of the presenter may be on
    // the stack below this call.
    virtual void unloadNow() = 0;
};

// Everything in `deps` must outlive the opener.
std::unique_ptr<FilterWindowHost> createFilterWindowOpener(FilterWindowDeps deps);

}  // namespace iw::win32app
