// The time rule every wait of the program uses, and the helpers its wait
// loops are built from.
//
// Waits count whole seconds on the steady clock (SystemClock::
// monotonicSeconds), never on the local time: the program's own time
// correction, the user and daylight saving all set the local clock, and a
// wait measured on it would end at once or run for a day. The steady count
// is taken modulo a day, so the rule is the same one the waits always had: a
// wait takes a start mark (the seconds rounded to a whole number) and
// measures the elapsed time as (now + 86400 - mark), rounded, modulo 86400,
// so a wait that starts shortly before the count wraps ends on time.
//
// Rounding is half-to-even ("banker's rounding"): 12.5 rounds to 12 and 13.5
// to 14, as the conversion of a single to an integer did in the environment
// the waits were first written for. Everything else rounds to the nearest
// whole number.
//
// A wait loop pumps the event loop with maxWait = the time left until its
// limit is met, so the real loop sleeps instead of spinning and the fake loop
// of the tests jumps straight to the deadline.
#pragma once

#include <functional>
#include <optional>

#include "platform/event_loop.h"
#include "platform/system_clock.h"

namespace iw::platform {

inline constexpr int kSecondsPerDay = 86400;

// Nearest whole number, halves to the even neighbour.
long long RoundHalfEven(double x);

// The seconds every wait reads: the steady clock modulo a day (0 to 86400,
// with fraction). Unmoved by any change of the local date or time.
double WaitSecondsNow(const SystemClock& clock);

// The start mark of a wait: WaitSecondsNow, rounded (0 to 86400).
int StartMark(const SystemClock& clock);

// Whole seconds from `startMark` to `nowSeconds` (both on the WaitSecondsNow
// scale, with fraction): (now + 86400 - mark) rounded, modulo 86400 (0 to
// 86399).
int ElapsedSeconds(int startMark, double nowSeconds);

// The elapsed whole seconds since `startMark` by the clock.
int ElapsedSeconds(int startMark, const SystemClock& clock);

// How a wait compares the elapsed seconds with its limit.
enum class LimitRule {
    AtLeast,  // done when elapsed >= limit (WaitSeconds, closing windows)
    Exceeds,  // done when elapsed > limit (the mail time-outs of 45/30/10/35 s)
};

// True when the elapsed seconds meet the limit by the rule.
bool LimitReached(int elapsed, double limitSeconds, LimitRule rule);

// A wait in progress: its start mark, limit and rule.
class WaitClock {
public:
    WaitClock(const SystemClock& clock, double limitSeconds, LimitRule rule = LimitRule::AtLeast);
    // Restarts the wait from now (the mark is taken again).
    void restart();

    int elapsed() const;
    bool limitReached() const;
    // Time from now until the limit is first met by the rounding rule; zero
    // when it is already met. Exact to the millisecond.
    Milliseconds timeLeft() const;

    int startMark() const { return mark_; }
    double limitSeconds() const { return limit_; }

    // One pump of the loop with maxWait = the time left (at least 1 ms so a
    // virtual clock always moves), no more than `slice` when given. A loop
    // whose condition changes without an event of this process (another
    // program's window closing) passes a slice so it polls.
    void pump(EventLoop& loop, std::optional<Milliseconds> slice = std::nullopt) const;

private:
    const SystemClock& clock_;
    double limit_;
    LimitRule rule_;
    int mark_ = 0;
};

// How a waitUntil ended.
enum class WaitOutcome { ConditionMet, LimitReached };

// Pumps until `condition` holds or the limit is met, whichever is first;
// `condition` is checked before every pump and once more when the limit is
// met. An empty condition waits for the limit alone. See WaitClock::pump for
// `slice`.
WaitOutcome waitUntil(EventLoop& loop, const SystemClock& clock, double limitSeconds,
                      const std::function<bool()>& condition, LimitRule rule = LimitRule::AtLeast,
                      std::optional<Milliseconds> slice = std::nullopt);

}  // namespace iw::platform
