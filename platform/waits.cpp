// The whole-second wait rule and the wait helpers; see waits.h.
#include "platform/waits.h"

#include <algorithm>
#include <cmath>

namespace iw::platform {

long long RoundHalfEven(double x) {
    const double f = std::floor(x);
    const double diff = x - f;
    long long r = static_cast<long long>(f);
    if (diff > 0.5) return r + 1;
    if (diff < 0.5) return r;
    return (r % 2 == 0) ? r : r + 1;
}

double WaitSecondsNow(const SystemClock& clock) {
    double s = std::fmod(clock.monotonicSeconds(), static_cast<double>(kSecondsPerDay));
    if (s < 0) s += kSecondsPerDay;
    return s;
}

int StartMark(const SystemClock& clock) { return static_cast<int>(RoundHalfEven(WaitSecondsNow(clock))); }

int ElapsedSeconds(int startMark, double nowSeconds) {
    long long e = RoundHalfEven(nowSeconds + kSecondsPerDay - startMark) % kSecondsPerDay;
    if (e < 0) e += kSecondsPerDay;
    return static_cast<int>(e);
}

int ElapsedSeconds(int startMark, const SystemClock& clock) {
    return ElapsedSeconds(startMark, WaitSecondsNow(clock));
}

namespace {

// The smallest whole elapsed value that meets the limit.
long long FirstElapsedMeeting(double limitSeconds, LimitRule rule) {
    if (rule == LimitRule::AtLeast) return std::max(0LL, static_cast<long long>(std::ceil(limitSeconds)));
    return std::max(0LL, static_cast<long long>(std::floor(limitSeconds)) + 1);
}

}  // namespace

bool LimitReached(int elapsed, double limitSeconds, LimitRule rule) {
    return rule == LimitRule::AtLeast ? elapsed >= limitSeconds : elapsed > limitSeconds;
}

WaitClock::WaitClock(const SystemClock& clock, double limitSeconds, LimitRule rule)
    : clock_(clock), limit_(limitSeconds), rule_(rule) {
    restart();
}

void WaitClock::restart() { mark_ = StartMark(clock_); }

int WaitClock::elapsed() const { return ElapsedSeconds(mark_, clock_); }

bool WaitClock::limitReached() const { return LimitReached(elapsed(), limit_, rule_); }

Milliseconds WaitClock::timeLeft() const {
    if (limitReached()) return Milliseconds(0);
    // The raw elapsed time x (before rounding) meets the limit once
    // x >= k - 0.5, k being the first whole value that meets it. Counting
    // modulo a day also covers the moment just before the mark's own second
    // comes round again (x near 86400 rounds to 0).
    const double now = WaitSecondsNow(clock_);
    const double x = std::fmod(now + kSecondsPerDay - mark_, static_cast<double>(kSecondsPerDay));
    // At exactly k - 0.5 the half rounds to the even neighbour, so for an odd
    // k the first moment is one millisecond later.
    const long long k = FirstElapsedMeeting(limit_, rule_);
    const double threshold = static_cast<double>(k) - 0.5 + (k % 2 != 0 ? 0.001 : 0.0);
    double left = std::fmod(threshold - x + kSecondsPerDay, static_cast<double>(kSecondsPerDay));
    if (left < 0) left = 0;
    return Milliseconds(static_cast<long long>(std::ceil(left * 1000.0 - 1e-6)));
}

void WaitClock::pump(EventLoop& loop, std::optional<Milliseconds> slice) const {
    Milliseconds wait = std::max(timeLeft(), Milliseconds(1));
    if (slice) wait = std::min(wait, std::max(*slice, Milliseconds(1)));
    loop.pump(wait);
}

WaitOutcome waitUntil(EventLoop& loop, const SystemClock& clock, double limitSeconds,
                      const std::function<bool()>& condition, LimitRule rule,
                      std::optional<Milliseconds> slice) {
    WaitClock wait(clock, limitSeconds, rule);
    for (;;) {
        if (condition && condition()) return WaitOutcome::ConditionMet;
        if (wait.limitReached()) return WaitOutcome::LimitReached;
        wait.pump(loop, slice);
    }
}

}  // namespace iw::platform
