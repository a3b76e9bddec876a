// The time servers of clock correction, in the order the settings dialog
// lists them. Setting "TimeServer" stores the position in this list.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace iw::settings {

inline constexpr std::array<const char*, 4> kTimeServers = {
    "time.stdtime.gov.tw",
    "tick.stdtime.gov.tw",
    "tock.stdtime.gov.tw",
    "pool.ntp.org",
};

// The server a stored "TimeServer" position picks: 1, 2 and 3 pick their
// entry, anything else the first.
inline const char* TimeServerFor(std::int32_t setting) {
    return (setting >= 1 && setting <= 3) ? kTimeServers[static_cast<std::size_t>(setting)] : kTimeServers[0];
}

}  // namespace iw::settings
