// The "login" command of inkwarden-cli: signs an OAuth2 account in and
// stores its tokens, then tries the account once (CAPA, AUTH, STAT).
//
//   inkwarden-cli login [--profile DIR] [--user NAME] ADDRESS [--no-browser] [--wait SECONDS]
//   inkwarden-cli login [--profile DIR] [--user NAME] ADDRESS --device
//   inkwarden-cli login [--profile DIR] [--user NAME] ADDRESS --try
//
// Without an option it signs in through the browser: it prints the address
// to open ("open: ..."), opens the system browser there unless --no-browser
// is given or there is no graphical session, and waits (300 seconds, or
// --wait) for the browser to come back to a listener on 127.0.0.1. With
// --device it uses the device code: it prints the address to open and
// the code to type, and waits for the user to approve. With --try it signs
// nothing in: it tries the account with the stored tokens as the mail check
// uses them (refresh when expired, after a refused token refresh once and
// try once more). No token is ever printed. Exit status 0 when the sign-in
// and the try succeeded, 1 when the sign-in or the try failed, 2 for bad
// arguments or an unusable account.
#pragma once

#include <string>
#include <vector>

namespace iw::cli {

int runLoginCommand(const std::vector<std::u16string>& args);

}  // namespace iw::cli
