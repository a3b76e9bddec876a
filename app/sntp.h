// Network time correction: the SNTP request, and turning a reply into the
// local date and time to set.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/system_clock.h"

namespace iw::app {

inline constexpr std::uint16_t kSntpPort = 123;

// 48 bytes: 0x1B (no leap warning, version 3, client mode), then zeros.
std::string SntpRequest();

// Seconds from 1900-01-01 to 1990-01-01.
inline constexpr std::int64_t kSeconds1900To1990 = 2840140800LL;

// Half the travel time of the request and reply in whole seconds, rounded
// to the nearest whole number with halves to the even neighbour (3 s -> 2,
// 5 s -> 2).
std::int64_t HalfTravelSeconds(double travelSeconds);

// Seconds between two readings of seconds since midnight, corrected for
// midnight (a reply just after midnight to a request just before it).
double SecondsBetween(double earlier, double later);

// The local date and time a reply asks for, or nullopt when it must be
// ignored: not exactly 48 bytes, a transmit time before 1990 (an all-zero
// timestamp included), a result before 1990 or beyond what the 32-bit count
// holds. `halfTravel` is added as is.
std::optional<platform::LocalDateTime> LocalTimeFromReply(const std::string& datagram, int utcOffsetMinutes,
                                                          std::int64_t halfTravel);

}  // namespace iw::app
