// inkwarden-cli filter [--profile DIR] [--user NAME] [--delete] [--json]:
// the filter window's session over the roster of set.ini in DIR (default:
// the program's folder) for the user section NAME (default: the log-on
// user), with the window's options as set.ini holds them. Status and tip
// texts go to stderr as they change; the accounts, their messages and the
// remaining count go to stdout (JSON lines with --json, UTF-8). Without
// --delete every account is left with QUIT and nothing is deleted; with it
// the deletion run removes the checked messages. Exit status 0 when the
// session ran (account failures are statuses), 2 for bad arguments or an
// unreadable profile, with a message saying what is wrong.
#pragma once

#include <string>
#include <vector>

namespace iw::cli {

// `args` are the words after "filter".
int runFilterCommand(const std::vector<std::u16string>& args);

}  // namespace iw::cli
