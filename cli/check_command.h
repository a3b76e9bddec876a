// inkwarden-cli check [--profile DIR] [--user NAME]: one background check
// over the roster of set.ini in DIR (default: the program's folder) for the
// user NAME (default: the log-on user); prints the tray tip it would show,
// then "count: N" and, when there is one, "status: TEXT", the whole status
// line. Exit status 0 when the check ran (whatever the servers
// said), 2 for bad arguments or an unreadable profile, with a message.
#pragma once

#include <string>
#include <vector>

namespace iw::cli {

// `args` are the words after "check".
int runCheckCommand(const std::vector<std::u16string>& args);

}  // namespace iw::cli
