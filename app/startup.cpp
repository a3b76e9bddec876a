// The start-up decision as a function of its inputs; see startup.h.
#include "app/startup.h"

namespace iw::app {

std::u16string MakeAppPath(const std::u16string& folder, char16_t separator) {
    if (!folder.empty() && folder.back() == separator) return folder;
    return folder + separator;
}

std::u16string MakeUserSection(const std::u16string& userName) {
    return userName.substr(0, userName.find(u'\0'));
}

StartupDecision DecideStartup(const StartupInputs& in) {
    StartupDecision d;
    if (in.previousInstance) {
        d.action = StartupAction::CloseBrowsersAndExit;
        return d;
    }
    d.AppPath = MakeAppPath(in.programFolder, in.separator);
    d.UserSection = MakeUserSection(in.userName);
    d.options = settings::Options::FromStored(in.option ? *in.option : std::u16string(settings::kDefaultOptionText));
    d.FirstRun = in.firstRunNumber != 1;
    d.action = d.FirstRun ? StartupAction::OpenSettingsFirstRun : StartupAction::LoadMaster;
    return d;
}

void ApplyStartupDecision(const StartupDecision& d, settings::ProgramState& state) {
    if (d.action == StartupAction::CloseBrowsersAndExit) return;
    state.identity.AppPath = d.AppPath;
    state.identity.UserSection = d.UserSection;
    if (d.options) state.prefs.options = *d.options;
    state.identity.FirstRun = d.FirstRun;
}

}  // namespace iw::app
