// ParseMessageHeader: one complete TOP reply of a POP3 server becomes one
// MessageEntry row of its account's list and of the visible list, with the
// sender, subject, size, date and preview rules of the filter, classified
// as junk or not on the way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "filter/classify.h"
#include "filter/message_model.h"
#include "platform/code_page.h"
#include "platform/date_format.h"
#include "platform/system_clock.h"

namespace iw::filter {

// Everything the parser needs besides the model. Nothing is owned.
struct ParseServices {
    const platform::CodePage& codePage;
    const platform::SystemClock& clock;       // the current date (two-digit years, missing dates)
    const platform::DateFormat& dateFormat;   // the user's general date-and-time format
    ClassifyContext classify;                 // sender lists, option switches, size limit
    ParseReporter& reporter;
};

// Parses the TOP reply of the next message of account `account` (its roster
// position). `reply` is the bytes as received, from the "+OK" line (and
// anything before it still buffered) through the final CR LF "." CR LF.
//
// Effects: appends row n (n = rows already in the account's list + 1) to
// model.AccountLists[account] and a copy without PreviewText to
// model.VisibleList; consumes the first line of model.RemainingListing(); sets
// model.LastActivity; sets model.PhaseDone when n equals
// model.MessageCounts[account]. A reply that cannot be parsed still gets its
// row n (with what could be read, unchecked), so row n is always message n,
// and the error goes to reporter.errorBox(). Never throws.
void ParseMessageHeader(FilterModel& model, const ParseServices& services, int account, std::string_view reply);

}  // namespace iw::filter
