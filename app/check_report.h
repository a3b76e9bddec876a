// One background check without windows, for the console front end: runs the
// check over the roster and reports the tray tip it would show and the count.
#pragma once

#include <cstdint>
#include <string>

#include "settings/program_state.h"
#include "platform/platform.h"
#include "settings/settings_store.h"

namespace iw::app {

struct CheckReport {
    std::u16string tip;       // as the tray would show it (fitted to the tip field)
    std::int32_t count = 0;   // NewMailCount after the check
    std::u16string status;    // StatusText after the check
    std::size_t accounts = 0; // accounts in the roster
};

// `state.identity.UserSection` names the user; the filter window is never opened and
// set.ini is not written. The tip is the one of the first connected tick
// after the check, counting the check's own duration as connected time.
CheckReport RunCheckReport(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state);

}  // namespace iw::app
