// The tray's mail count: the report the background check gives the POP3
// session (the waiting-mail count and the status line of the tray tip), and
// the same check without windows for the console front end, which reports
// the tip it would show and the count.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/program_state.h"
#include "platform/platform.h"
#include "pop3/session.h"
#include "settings/accounts.h"
#include "settings/settings_store.h"

namespace iw::app {

// Adds each counted account to `state.run.NewMailCount` (capped at the
// largest count) and keeps the status of the last account: "" when it was
// counted, its text otherwise. The caller resets both before the run.
class TrayCheckTally : public pop3::SessionReport {
public:
    explicit TrayCheckTally(settings::ProgramState& state) : s_(state) {}
    void outcome(int account, const pop3::AccountOutcome& outcome) override;

private:
    settings::ProgramState& s_;
};

// The accounts named by `sections`, as set.ini holds them.
std::vector<settings::MailAccount> ReadMailAccounts(settings::SettingsStore& store,
                                                    const std::vector<std::u16string>& sections);

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
