// One windowless background check; see check_report.h.
#include "app/check_report.h"

#include <cmath>

#include "app/master.h"
#include "platform/waits.h"
#include "app/tray_texts.h"
#include "settings/accounts.h"

namespace iw::app {

namespace {

// The check runs without a window: nothing to show.
class SilentView : public MasterView {
public:
    void addTrayIcon(TrayPicture, const std::u16string&) override {}
    void modifyTrayIcon(TrayPicture, const std::u16string&) override {}
    void removeTrayIcon() override {}
    void updateMenu(const std::vector<MenuItem>&) override {}
    void popUpMenu(const std::vector<MenuItem>&) override {}
    void showSettingsDialog() override {}
    void showAbout() override {}
    void minimizeAllWindows() override {}
    void unloadAllWindows() override {}
};

}  // namespace

CheckReport RunCheckReport(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state) {
    CheckReport report;
    report.accounts = settings::ReadRoster(store, state.identity.UserSection).size();
    SilentView view;
    const double start = platform::WaitSecondsNow(platform.clock);
    {
        MasterPresenter master(platform, store, state, view, nullptr);
        master.RunBackgroundCheck();
    }
    double took = platform::WaitSecondsNow(platform.clock) - start;
    if (took < 0) took += 86400;
    const std::int64_t online = 1 + std::llround(took);
    report.count = state.run.NewMailCount;
    report.status = state.run.StatusText;
    report.tip = FitTip(platform.codePage, ConnectedTip(online, state.run.StatusText, state.run.NewMailCount, true));
    return report;
}

}  // namespace iw::app
