// The browser watcher and the toolbar button, joined to the main window: the
// hooks the main window's presenter calls (the watcher first on every
// Timer1 tick, the button when "整合至 IE 視窗" is switched). Front ends
// create one BrowserPart next to the presenter and pass its hooks in; it
// must outlive the presenter's use of them.
#pragma once

#include <functional>

#include "app/master.h"
#include "browser/toolbar_button.h"
#include "browser/watcher.h"

namespace iw::app {

class BrowserPart {
public:
    BrowserPart(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state);

    // `presenter` gives the presenter whose menu marks ("攔截廣告視窗",
    // "最大化IE 視窗") the watcher follows; it may give null before the
    // presenter exists, and the tick then does nothing.
    MasterHooks hooks(std::function<const MasterPresenter*()> presenter);

    browser::BrowserWatcher& watcher() { return watcher_; }
    browser::ToolbarButton& button() { return button_; }

private:
    browser::BrowserWatcher watcher_;
    browser::ToolbarButton button_;
};

}  // namespace iw::app
