// The filter session without a window, for the console front end: the
// arguments of "inkwarden-cli filter", a view that reports each status and
// tip text as it changes, and the run itself with its JSON-lines or table
// output. The console's bytes are the caller's business: every line is
// handed over as text.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/program_state.h"
#include "filter/filter_profile.h"
#include "filter/classify.h"
#include "platform/date_format.h"
#include "platform/platform.h"

namespace iw::filter {

struct FilterRunOptions {
    std::optional<std::u16string> profileDir;
    std::optional<std::u16string> user;
    bool deleteChecked = false;
    bool json = false;
    // Benchmarks only (no argument sets it): every server is treated as one
    // that does not list PIPELINING.
    bool windowOnly = false;
};

// Parses the words after "filter". Returns "" on success, otherwise what is wrong.
std::string ParseFilterArgs(const std::vector<std::u16string>& args, FilterRunOptions& out);

// A JSON string literal of `text` (quotes included). U+2028 and U+2029 are
// escaped too: valid JSON as they are, but line splitters break there.
std::u16string JsonString(const std::u16string& text);

// `text` for one field of the table output: control characters (C0, DEL,
// C1), the line and paragraph separators and the bidirectional controls
// become "\xHH" or "\uHHHH" and a backslash "\\", so a decoded subject
// can neither start a line of its own nor send a sequence to the terminal.
std::u16string TableText(const std::u16string& text);

using LineSink = std::function<void(const std::u16string& line)>;

// Runs the session over the roster as a window opened by the user would,
// then either the deletion run (deleteChecked; the mail program is never
// started) or a QUIT on every account. Progress goes to `progress` (one
// line per status or tip text as it changes), results to `out`. Returns 0.
int RunFilterHeadless(platform::Platform& platform, FilterProfile& profile, settings::ProgramState& module1,
                      SenderLists& senderLists, const platform::DateFormat& dateFormat, const FilterRunOptions& options, const LineSink& out,
                      const LineSink& progress);

}  // namespace iw::filter
