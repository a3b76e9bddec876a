// Waits counted in whole seconds since midnight; see waits.h.
#include "filter/waits.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace iw::filter {

int WholeSecondsNow(const platform::SystemClock& clock) {
    return static_cast<int>(std::lround(clock.secondsSinceMidnight())) % 86400;
}

int ElapsedSince(const platform::SystemClock& clock, int start) {
    const double e = clock.secondsSinceMidnight() + 86400.0 - start;
    return static_cast<int>(std::lround(e)) % 86400;
}

bool WaitUntil(platform::EventLoop& loop, const platform::SystemClock& clock, const std::function<bool()>& done,
               int limitSeconds, const std::function<int()>& start) {
    for (;;) {
        if (done()) return true;
        const int s = start();
        if (ElapsedSince(clock, s) > limitSeconds) return false;
        // Sleep at most until the elapsed value could pass the limit.
        double exact = std::fmod(clock.secondsSinceMidnight() + 86400.0 - s, 86400.0);
        double left = (limitSeconds + 0.5) - exact;
        auto ms = static_cast<long long>(std::ceil(std::max(left, 0.001) * 1000.0));
        ms = std::clamp<long long>(ms, 1, 250);
        loop.pump(platform::Milliseconds(ms));
    }
}

}  // namespace iw::filter
