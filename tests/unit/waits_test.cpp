// The whole-second wait rule: rounding, the midnight correction, waits that
// end on time in virtual time, and waits that a step of the local clock
// (time correction, the user, daylight saving) neither ends nor stretches.
#include <gtest/gtest.h>

#include <functional>

#include "app/services.h"
#include "platform/waits.h"
#include "tests/support/fake_time.h"

namespace iw::platform {
namespace {

using platform::LocalDateTime;
using test::FakeClock;
using test::FakeEventLoop;
using namespace std::chrono_literals;

TEST(Waits, RoundsHalvesToEven) {
    const struct { double x; long long want; } cases[] = {
        {0.0, 0}, {0.4, 0}, {0.5, 0}, {0.6, 1}, {1.5, 2}, {2.5, 2}, {3.5, 4},
        {86399.5, 86400}, {86398.5, 86398}, {-0.5, 0}, {-1.5, -2}, {12.499, 12},
    };
    for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c.x), c.want) << c.x;
}

TEST(Waits, ElapsedSecondsCountsAcrossMidnight) {
    const struct { int mark; double now; int want; } cases[] = {
        {100, 100.0, 0},
        {100, 145.4, 45},
        {100, 145.5, 46},      // 45.5 rounds to the even 46
        {100, 144.5, 44},      // 44.5 rounds to the even 44
        {86390, 86399.9, 10},
        {86390, 0.0, 10},      // past midnight
        {86390, 35.0, 45},
        {86400, 0.2, 0},       // a mark taken at 86399.5 or later
        {86400, 2.0, 2},
        {0, 86399.0, 86399},
        {0, 86399.6, 0},       // a full day rounds round to 0
    };
    for (const auto& c : cases) EXPECT_EQ(ElapsedSeconds(c.mark, c.now), c.want) << c.mark << " " << c.now;
}

TEST(Waits, LimitRules) {
    EXPECT_FALSE(LimitReached(44, 45, LimitRule::AtLeast));
    EXPECT_TRUE(LimitReached(45, 45, LimitRule::AtLeast));
    EXPECT_FALSE(LimitReached(45, 45, LimitRule::Exceeds));
    EXPECT_TRUE(LimitReached(46, 45, LimitRule::Exceeds));
    EXPECT_TRUE(LimitReached(1, 0.5, LimitRule::AtLeast));
    EXPECT_FALSE(LimitReached(0, 0.5, LimitRule::AtLeast));
}

struct WaitCase {
    const char* name;
    LocalDateTime start;
    double seconds;
    LocalDateTime end;  // the first moment the rule is met
};

TEST(Waits, WaitSecondsEndsOnTimeAndNeverADayLate) {
    const WaitCase cases[] = {
        {"45 s before midnight", {2026, 12, 31, 23, 59, 50, 0}, 45, {2027, 1, 1, 0, 0, 34, 501}},
        {"2 s", {2026, 12, 7, 10, 0, 0, 0}, 2, {2026, 12, 7, 10, 0, 1, 500}},
        {"2 s from a mark rounded up", {2026, 12, 7, 10, 0, 0, 600}, 2, {2026, 12, 7, 10, 0, 2, 500}},
        {"2 s from a half", {2026, 12, 7, 10, 0, 0, 500}, 2, {2026, 12, 7, 10, 0, 1, 500}},
        {"a fraction waits for one whole second", {2026, 12, 7, 10, 0, 0, 0}, 0.3, {2026, 12, 7, 10, 0, 0, 501}},
        {"1.5 s waits for two", {2026, 12, 7, 10, 0, 0, 0}, 1.5, {2026, 12, 7, 10, 0, 1, 500}},
        {"zero returns at once", {2026, 12, 7, 10, 0, 0, 0}, 0, {2026, 12, 7, 10, 0, 0, 0}},
        {"mark at 23:59:59.7", {2026, 12, 7, 23, 59, 59, 700}, 3, {2026, 12, 8, 0, 0, 2, 501}},
    };
    for (const auto& c : cases) {
        FakeClock clock(c.start);
        FakeEventLoop loop(clock);
        app::WaitSeconds(loop, clock, c.seconds);
        EXPECT_EQ(clock.now(), c.end) << c.name;
        EXPECT_LT(loop.pumpCount(), 5u) << c.name << ": the fake loop should jump to the deadline";
    }
}

TEST(Waits, TimersOfOtherWindowsFireDuringAWait) {
    FakeClock clock(LocalDateTime{2026, 12, 7, 23, 59, 58, 0});
    FakeEventLoop loop(clock);
    int ticks = 0;
    loop.startTimer(1000ms, true, [&] { ++ticks; });
    app::WaitSeconds(loop, clock, 5);
    EXPECT_EQ(ticks, 4);  // 23:59:59, 00:00:00, :01, :02; 4.5 rounds to 4, so the wait ends at :02.501
    EXPECT_EQ(clock.now(), (LocalDateTime{2026, 12, 8, 0, 0, 2, 501}));
}

TEST(Waits, WaitUntilStopsAtTheConditionOrTheLimit) {
    FakeClock clock(LocalDateTime{2026, 12, 7, 23, 59, 40, 0});
    FakeEventLoop loop(clock);
    bool replied = false;
    loop.startTimer(12s, false, [&] { replied = true; });
    EXPECT_EQ(waitUntil(loop, clock, 45, [&] { return replied; }, LimitRule::Exceeds), WaitOutcome::ConditionMet);
    EXPECT_EQ(clock.now(), (LocalDateTime{2026, 12, 7, 23, 59, 52, 0}));

    // No reply: a 45 s time-out that ends when the elapsed time exceeds 45,
    // i.e. at 46 whole seconds, across midnight.
    clock.set(LocalDateTime{2026, 12, 7, 23, 59, 40, 0});
    EXPECT_EQ(waitUntil(loop, clock, 45, [] { return false; }, LimitRule::Exceeds), WaitOutcome::LimitReached);
    EXPECT_EQ(clock.now(), (LocalDateTime{2026, 12, 8, 0, 0, 25, 500}));
}

TEST(Waits, SlicedPumpsPollWithinTheLimit) {
    FakeClock clock(LocalDateTime{2026, 12, 7, 10, 0, 0, 0});
    FakeEventLoop loop(clock);
    int polls = 0;
    EXPECT_EQ(waitUntil(loop, clock, 1, [&] { return ++polls > 1000; }, LimitRule::AtLeast, 100ms),
              WaitOutcome::LimitReached);
    EXPECT_EQ(clock.now(), (LocalDateTime{2026, 12, 7, 10, 0, 0, 501}));
    EXPECT_EQ(polls, 7);  // at 0, 100, ..., 500 and 501 ms
}

// Steps of the local clock, each made again every 5 s of a wait, so every
// wait meets it several times.
struct LocalStep {
    const char* name;
    std::function<void(FakeClock&)> step;
};
const LocalStep kLocalSteps[] = {
    {"back a minute", [](FakeClock& c) { c.stepLocal(-std::chrono::minutes(1)); }},
    {"forward an hour", [](FakeClock& c) { c.stepLocal(std::chrono::hours(1)); }},
    {"to just before midnight", [](FakeClock& c) { c.setTime(23, 59, 58, 700); }},
    {"back to yesterday", [](FakeClock& c) { c.stepLocal(-std::chrono::hours(24)); }},
};

// How long (steady milliseconds) a wait of each kind lasts, with `step`
// applied every 5 s of it (or never).
std::int64_t WaitLength(const std::function<void(FakeClock&)>& step, double limit, LimitRule rule) {
    FakeClock clock(LocalDateTime{2026, 12, 7, 10, 0, 0, 250});
    FakeEventLoop loop(clock);
    if (step) loop.startTimer(5s, true, [&] { step(clock); });
    const std::int64_t start = clock.monotonicMs();
    EXPECT_EQ(waitUntil(loop, clock, limit, [] { return false; }, rule), WaitOutcome::LimitReached);
    return clock.monotonicMs() - start;
}

TEST(Waits, StepsOfTheLocalClockNeitherEndNorStretchAWait) {
    const struct { double limit; LimitRule rule; } waits[] = {
        {45, LimitRule::Exceeds},  // the mail time-outs
        {35, LimitRule::Exceeds},
        {10, LimitRule::AtLeast},  // WaitSeconds, closing windows
        {12, LimitRule::AtLeast},
    };
    for (const auto& w : waits) {
        const std::int64_t unstepped = WaitLength(nullptr, w.limit, w.rule);
        EXPECT_GT(unstepped, static_cast<std::int64_t>((w.limit - 1) * 1000)) << w.limit;
        EXPECT_LE(unstepped, static_cast<std::int64_t>((w.limit + 1) * 1000)) << w.limit;
        for (const auto& s : kLocalSteps) {
            EXPECT_EQ(WaitLength(s.step, w.limit, w.rule), unstepped) << s.name << ", limit " << w.limit;
        }
    }
}

// The steady count wraps at a day like the local clock did at midnight: a
// wait that starts just before the wrap still ends on time.
TEST(Waits, WaitAcrossTheWrapOfTheSteadyCountEndsOnTime) {
    FakeClock clock;
    FakeEventLoop loop(clock);
    clock.setMonotonicMs(3 * 86'400'000LL - 10'000);  // 10 s before the third wrap
    const std::int64_t start = clock.monotonicMs();
    EXPECT_EQ(waitUntil(loop, clock, 45, [] { return false; }, LimitRule::Exceeds), WaitOutcome::LimitReached);
    EXPECT_EQ(clock.monotonicMs() - start, 45'500);
}

}  // namespace
}  // namespace iw::platform
