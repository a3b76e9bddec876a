// The virtual clock and loop that every presenter test stands on.
#include <gtest/gtest.h>

#include "tests/support/fake_time.h"

namespace iw::test {
namespace {

using platform::LocalDateTime;
using namespace std::chrono_literals;

TEST(FakeTime, IdlePumpJumpsToTheNextTimer) {
    FakeClock clock(LocalDateTime{2026, 12, 7, 23, 59, 50, 0});
    FakeEventLoop loop(clock);
    int ticks = 0;
    loop.startTimer(1000ms, true, [&] { ++ticks; });
    loop.pump(std::chrono::hours(1));
    EXPECT_EQ(ticks, 1);
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 86391.0);
}

TEST(FakeTime, IdlePumpWithoutTimersJumpsToTheDeadlineAcrossMidnight) {
    FakeClock clock(LocalDateTime{2026, 12, 31, 23, 59, 50, 0});
    FakeEventLoop loop(clock);
    loop.pump(45s);
    EXPECT_EQ(clock.now(), (LocalDateTime{2027, 1, 1, 0, 0, 35, 0}));
}

TEST(FakeTime, PostedCallbacksRunBeforeTimeMoves) {
    FakeClock clock;
    FakeEventLoop loop(clock);
    const auto start = clock.nowMs();
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        loop.post([&] { order.push_back(3); });
    });
    loop.post([&] { order.push_back(2); });
    loop.pump(10s);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    loop.pump(10s);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(clock.nowMs(), start);
}

TEST(FakeTime, StoppedAndOneShotTimers) {
    FakeClock clock;
    FakeEventLoop loop(clock);
    int once = 0, stopped = 0;
    loop.startTimer(500ms, false, [&] { ++once; });
    const auto id = loop.startTimer(300ms, true, [&] { ++stopped; });
    loop.stopTimer(id);
    loop.runUntil([] { return false; }, 5s);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(stopped, 0);
    EXPECT_EQ(loop.activeTimers(), 0u);
}

TEST(FakeTime, CalendarRoundTrip) {
    for (const auto& d : {LocalDateTime{1900, 1, 1}, LocalDateTime{1970, 1, 1}, LocalDateTime{2000, 2, 29},
                          LocalDateTime{2036, 2, 7}, LocalDateTime{2100, 3, 1}}) {
        int y, m, day;
        platform::civilFromDays(platform::daysFromCivil(d.year, d.month, d.day), y, m, day);
        EXPECT_EQ(y, d.year);
        EXPECT_EQ(m, d.month);
        EXPECT_EQ(day, d.day);
    }
    EXPECT_EQ(platform::daysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(platform::daysFromCivil(1900, 1, 1), -25567);
}

}  // namespace
}  // namespace iw::test
