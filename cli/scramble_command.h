// inkwarden-cli scramble: reads a password from the first line of standard
// input and prints it in the scrambled form that set.ini keeps under
// "PassWord", so a profile for the console commands can be written by hand.
// Exit status 0, or 2 (with a message) for arguments or a password with
// characters other than printable ASCII, which storage cannot keep.
#pragma once

#include <string>
#include <vector>

namespace iw::cli {

int runScrambleCommand(const std::vector<std::u16string>& args);

}  // namespace iw::cli
