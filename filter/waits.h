// The waits of the filter window: whole seconds since midnight, rounded,
// elapsed = (now + 86400 - start) mod 86400, a time-out when the elapsed
// value is greater than the limit; the loop is pumped between checks.
#pragma once

#include <functional>

#include "platform/event_loop.h"
#include "platform/system_clock.h"

namespace iw::filter {

int WholeSecondsNow(const platform::SystemClock& clock);
int ElapsedSince(const platform::SystemClock& clock, int start);

// Waits until `done` holds (true) or more than `limitSeconds` have passed
// since `start()` (false). `start` is read again at every check, so a start
// that moves forward makes the wait an inactivity limit.
bool WaitUntil(platform::EventLoop& loop, const platform::SystemClock& clock, const std::function<bool()>& done,
               int limitSeconds, const std::function<int()>& start);

}  // namespace iw::filter
