// The account a console command names: its section of the profile's
// set.ini, found in the user's roster.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/accounts.h"

namespace iw::cli {

// The account `address` of `userSection`'s roster in the set.ini of
// `folder`. When set.ini cannot be read or the roster does not hold the
// address, says so on stderr ("inkwarden-cli <command>: ...") and gives
// nothing.
std::optional<settings::MailAccount> ReadRosterAccount(platform::Platform& p, const char* command,
                                                       const std::u16string& folder, const std::u16string& userSection,
                                                       const std::u16string& address);

// The words every account command takes: --profile DIR, --user NAME and
// one account address.
struct AccountWords {
    std::optional<std::u16string> profile, user, address;
};

// Takes args[i] (and the value after it) as one of those words, moving `i`
// past what it took. Returns nullptr when taken, otherwise what is wrong.
const char* TakeAccountWord(const std::vector<std::u16string>& args, std::size_t& i, AccountWords& out);

}  // namespace iw::cli
