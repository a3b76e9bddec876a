// SNTP request and reply decoding; see sntp.h.
#include "app/sntp.h"

#include "platform/waits.h"

#include <cmath>
#include <limits>

namespace iw::app {

std::string SntpRequest() {
    std::string r(48, '\0');
    r[0] = '\x1B';
    return r;
}

std::int64_t HalfTravelSeconds(double travelSeconds) { return platform::RoundHalfEven(travelSeconds / 2.0); }

double SecondsBetween(double earlier, double later) {
    double d = later - earlier;
    if (d < 0) d += 86400.0;
    return d;
}

std::optional<platform::LocalDateTime> LocalTimeFromReply(const std::string& datagram, int utcOffsetMinutes,
                                                          std::int64_t halfTravel) {
    if (datagram.size() != 48) return std::nullopt;
    std::uint32_t transmit = 0;
    for (int i = 40; i < 44; ++i) transmit = (transmit << 8) | static_cast<unsigned char>(datagram[static_cast<std::size_t>(i)]);
    const std::int64_t s = static_cast<std::int64_t>(transmit) - kSeconds1900To1990;
    if (s < 0) return std::nullopt;
    const std::int64_t l = s + static_cast<std::int64_t>(utcOffsetMinutes) * 60 + halfTravel;
    if (l < 0 || l > std::numeric_limits<std::int32_t>::max()) return std::nullopt;

    const std::int64_t days = platform::daysFromCivil(1990, 1, 1) + l / 86400;
    const std::int64_t secs = l % 86400;
    platform::LocalDateTime t;
    platform::civilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(secs / 3600);
    t.minute = static_cast<int>(secs / 60 % 60);
    t.second = static_cast<int>(secs % 60);
    t.millisecond = 0;
    return t;
}

}  // namespace iw::app
