// What the filter makes of the POP3 session's reports, for the filter window
// and the console's filter command alike: an account's settings for the
// session, the rows of the fetched headers, and what the status bar and the
// progress tip say at each step and for each trouble of an account.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "filter/filter_profile.h"
#include "filter/header_parser.h"
#include "filter/message_model.h"
#include "platform/code_page.h"
#include "pop3/fetch_session.h"

namespace iw::filter {

// What the rows of one session may hold in memory, over all accounts (the
// texts of the account lists and the visible list, in bytes). A real mailbox
// of 10,000 messages needs a few MiB; a server sending absurd headers ends its
// account when this is reached.
inline constexpr std::size_t kMaxRowBytes = 64u * 1024 * 1024;

// Account `section` as the profile holds it now.
pop3::FetchAccount FetchAccountOf(FilterProfile& profile, const platform::CodePage& codePage,
                                  const std::u16string& section);

// One TOP reply of account `account` becomes its next row (and a visible
// row), through the header parser. `refused`: the reply is the TOP's error
// line; no header was seen, so the row is never junk. Returns what the new
// rows hold in memory, in bytes.
std::size_t AddFetchedRow(FilterModel& model, const ParseServices& services, int account, const std::string& reply,
                          bool refused);

struct FetchTexts {
    // The status line ("" leaves it as it is). For a trouble it is the
    // account's own line from then on.
    std::u16string status;
    // The tip's text under the account's name ("" leaves the tip alone).
    std::u16string tip;
    // The tip shows `tip` alone, without the account's name above it.
    bool tipAlone = false;
    // The tip is shown for this even where the session's progress is not.
    bool tipAlways = false;
};

// A step of account `section` (login name `user`) as it begins.
FetchTexts StepTexts(const std::u16string& section, const std::u16string& user, pop3::FetchStep step);

// A trouble of account `section`, whose server's address is `server` as the
// user wrote it; `recheck`: the user asked for the account alone again.
FetchTexts TroubleTexts(const std::u16string& section, const std::u16string& server, bool recheck,
                        pop3::FetchTrouble trouble, const std::u16string& detail);

// STAT answered "+OK count size" (a count below zero is taken as 0).
struct CountedTexts {
    FetchTexts texts;
    std::int32_t toFetch = 0;  // the messages fetched now (half, in batches over 500)
};
CountedTexts CountTexts(const std::u16string& section, std::int32_t count, std::int32_t size, bool fetchInBatches);

// STAT answered: the model forgets the account's last listing and holds its
// count; returns the texts and how many messages to fetch.
CountedTexts CountInModel(FilterModel& model, int account, const std::u16string& section, std::int32_t count,
                          std::int32_t size, bool fetchInBatches);

// LIST was read: the model holds the listing the header parser reads row n's
// size from (a line "n size" per listed message) and the count of rows to come.
void ListInModel(FilterModel& model, int account, const pop3::Listing& listing);

// The account's line when some checked message is still on the server.
std::u16string DeleteFailedText(const std::u16string& section);

// size / 1024 to one decimal, a half to the even neighbour, shortest form.
std::u16string KbText(std::int64_t size);

}  // namespace iw::filter
