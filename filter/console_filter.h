// The filter for the console front end ("inkwarden-cli filter"): its
// arguments, and the run itself over the POP3 session, which reports each
// status and tip text as it changes and ends with JSON lines or a table.
// The console's bytes are the caller's business: every line is handed over
// as text.
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

// Runs the session over the roster as the filter window would, then either
// the deletion run (deleteChecked) or a QUIT on every account; it never
// starts the mail program and changes no option. Progress goes to
// `progress` (one line per status or tip text as it changes), results to
// `out`. Returns 0.
int RunConsoleFilter(platform::Platform& platform, FilterProfile& profile, settings::ProgramState& module1,
                      SenderLists& senderLists, const platform::DateFormat& dateFormat, const FilterRunOptions& options, const LineSink& out,
                      const LineSink& progress);

}  // namespace iw::filter
