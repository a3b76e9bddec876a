// Start-up against the real platform: gathers the decision's inputs through
// the shell, the settings store and the registry values. Kept apart from the
// pure decision so code that only decides links without the settings store.
#include "app/services.h"
#include "app/startup.h"
#include "settings/registry_values.h"
#include "settings/settings_store.h"

namespace iw::app {

StartupDecision RunStartup(platform::Platform& p, settings::ProgramState& state) {
    StartupInputs in;
    in.previousInstance = p.shell.previousInstanceRunning();
    if (in.previousInstance) {
        // Nothing else is read: close the browser windows and let the caller end.
        CloseBrowserWindows(p.desktop, p.loop, p.clock);
        return DecideStartup(in);
    }
    in.programFolder = p.shell.programFolder();
    in.separator = p.files.separator();
    in.userName = p.shell.userName();
    settings::SettingsStore store(p.files, p.codePage, MakeAppPath(in.programFolder, in.separator));
    in.option = store.find(settings::IniFile::Set, MakeUserSection(in.userName), u"Option");
    in.firstRunNumber = settings::RegistryValues(p.registry).ReadFirstRunNumber();
    const StartupDecision d = DecideStartup(in);
    ApplyStartupDecision(d, state);
    return d;
}

}  // namespace iw::app
