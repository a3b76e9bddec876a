// The mailbox replies of a POP3 session: STAT and LIST.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace iw::pop3 {

// Commands in flight at most, each in a write of its own, on a server that
// does not list PIPELINING (RFC 2449 lets such a server lose commands that
// arrive together). Large enough to hide most of a 40 ms round trip behind
// the replies of a mailbox of headers, small enough that a server reading a
// command at a time never holds more than a few kilobytes of ours.
constexpr std::size_t kWindowWithoutPipelining = 16;

// A STAT reply. `count` and `size` are read leniently (the number at the
// start of each field, a sign allowed, clamped into 32 bits, a count below
// zero taken as 0); `wellFormed` says whether the line was exactly
// "+OK count size" with decimal digits (a count of at most nine), which the
// tray's count insists on.
struct StatReply {
    bool wellFormed = false;
    std::int32_t count = 0;
    std::int32_t size = 0;
};
// The one STAT parser; `text` is the reply as the connection delivered it.
StatReply ParseStat(std::string_view text);

// A LIST reply read by message number: (number, size text) for each message
// numbered 1..`upTo`, ascending. Numbers above `upTo` (STAT is an upper
// bound) are left out. `trusted` is false when a line is not "number size"
// or a number is named twice: the listing cannot be matched to anything.
struct Listing {
    bool trusted = true;
    std::vector<std::pair<std::int64_t, std::string>> entries;
};
Listing ParseListing(std::string_view text, std::int64_t upTo);

}  // namespace iw::pop3
