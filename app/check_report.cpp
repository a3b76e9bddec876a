// The tray's mail count; see check_report.h.
#include "app/check_report.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/waits.h"
#include "app/tray_texts.h"

namespace iw::app {

void TrayCheckTally::outcome(int, const pop3::AccountOutcome& outcome) {
    if (outcome.end == pop3::AccountEnd::Counted) {
        const std::int64_t sum = static_cast<std::int64_t>(s_.run.NewMailCount) + outcome.messages;
        s_.run.NewMailCount =
            static_cast<std::int32_t>(std::min<std::int64_t>(sum, std::numeric_limits<std::int32_t>::max()));
        s_.run.StatusText = u"";
    } else {
        s_.run.StatusText = outcome.status;
    }
}

std::vector<settings::MailAccount> ReadMailAccounts(settings::SettingsStore& store,
                                                    const std::vector<std::u16string>& sections) {
    std::vector<settings::MailAccount> accounts;
    accounts.reserve(sections.size());
    for (const std::u16string& section : sections) accounts.push_back(settings::ReadMailAccount(store, section));
    return accounts;
}

CheckReport RunCheckReport(platform::Platform& platform, settings::SettingsStore& store, settings::ProgramState& state) {
    CheckReport report;
    const std::vector<std::u16string> sections = settings::ReadRoster(store, state.identity.UserSection);
    report.accounts = sections.size();
    const double start = platform::WaitSecondsNow(platform.clock);
    if (!sections.empty()) {
        state.run.NewMailCount = 0;
        state.run.StatusText = u"";
        pop3::Session session(platform, store.appPath());
        TrayCheckTally tally(state);
        session.countMessages(ReadMailAccounts(store, sections), tally);
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
