// The browser hooks of the main window; see browser_part.h.
#include "browser/browser_part.h"

namespace iw::browser {

BrowserPart::BrowserPart(platform::Platform& platform, settings::SettingsStore& store, app::Module1State& state)
    : watcher_(platform.desktop, store, platform.codePage, state),
      button_(platform.registry, platform.shell, state.AppPath) {}

app::MasterHooks BrowserPart::hooks(std::function<const app::MasterPresenter*()> presenter) {
    app::MasterHooks h;
    h.browserWatcherTick = [this, presenter] {
        const app::MasterPresenter* p = presenter ? presenter() : nullptr;
        if (!p) return;
        const app::MenuItem* pop = p->findItem(app::MenuCommand::Pop);
        const app::MenuItem* max = p->findItem(app::MenuCommand::Max);
        watcher_.WatchBrowserWindows(pop && pop->checked, max && max->checked);
    };
    h.toolbarButtonSwitched = [this](bool on) { button_.mnu_ie_Click(on); };
    return h;
}

}  // namespace iw::browser
