// The browser hooks of the main window; see browser_part.h.
#include "app/browser_part.h"

namespace iw::app {

BrowserPart::BrowserPart(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state)
    : watcher_(platform.desktop, store, platform.codePage, state),
      button_(platform.registry, platform.shell, state.identity.AppPath) {}

MasterHooks BrowserPart::hooks(std::function<const MasterPresenter*()> presenter) {
    MasterHooks h;
    h.browserWatcherTick = [this, presenter] {
        const MasterPresenter* p = presenter ? presenter() : nullptr;
        if (!p) return;
        const MenuItem* pop = p->findItem(MenuCommand::Pop);
        const MenuItem* max = p->findItem(MenuCommand::Max);
        watcher_.WatchBrowserWindows(pop && pop->checked, max && max->checked);
    };
    h.toolbarButtonSwitched = [this](bool on) { button_.switchButton(on); };
    return h;
}

}  // namespace iw::app
