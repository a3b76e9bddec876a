// What a POP3 server says about itself: the CAPA reply (RFC 2449) and the
// response codes in brackets at the start of an "-ERR" text (RFC 2449, 3206).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace iw::pop3 {

struct Capabilities {
    bool listed = false;      // CAPA was answered "+OK" (false: -ERR or unknown; RFC 1939 servers)
    bool pipelining = false;  // PIPELINING: commands may be sent without waiting for replies
    bool user = false;        // USER: USER/PASS is offered
    bool respCodes = false;   // RESP-CODES
    bool uidl = false;        // UIDL
    bool top = false;         // TOP
    bool stls = false;        // STLS
    bool utf8 = false;        // UTF8 (RFC 6856)
    bool authResp = false;    // AUTH-RESP-CODE
    // LOGIN-DELAY n: the least seconds between two logins; nothing when not listed.
    std::optional<long> loginDelaySeconds;
    std::vector<std::string> sasl;  // SASL mechanisms, upper case, in the server's order
    bool offersSasl(std::string_view name) const;
};

// Reads a CAPA reply as the connection delivered it (the status line, the
// capability lines, "."). A "-ERR" reply gives nothing listed. Unknown
// lines are ignored; a capability line is read case-insensitively.
Capabilities ParseCapabilities(bool ok, std::string_view text);

enum class ResponseCode {
    None,        // no code, or one this program does not act on
    Auth,        // [AUTH]: the credentials are wrong
    LoginDelay,  // [LOGIN-DELAY]: logged in too soon after the last time
    InUse,       // [IN-USE]: another session holds the mailbox
    SysTemp,     // [SYS/TEMP]: a passing fault on the server
    SysPerm,     // [SYS/PERM]: a lasting fault on the server
};

// The code at the start of a status line's text ("-ERR [IN-USE] ...").
// Codes are hierarchical and case-insensitive: "[SYS/TEMP/DISK]" is SYS/TEMP.
ResponseCode ParseResponseCode(std::string_view statusLine);

// The status text telling the user what to do about a refusal with `code`;
// empty for ResponseCode::None (the caller keeps its own text).
std::u16string ResponseCodeText(ResponseCode code);

// The status text of an account skipped because its server's LOGIN-DELAY
// has `secondsLeft` still to run.
std::u16string LoginDelayText(long long secondsLeft);

}  // namespace iw::pop3
