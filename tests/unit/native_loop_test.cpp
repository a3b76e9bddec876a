// The build's real event loop: timer order, periodic timers, a timer that
// stops itself, posted callbacks, nested pumps and bounded idle waits. Time
// bounds are generous on purpose; these tests check behaviour, not speed.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/native.h"

namespace {

using namespace iw::platform;
using std::chrono::steady_clock;

class NativeLoop : public ::testing::Test {
protected:
    std::unique_ptr<EventLoop> loop = createEventLoop();

    // Pumps until `done` or a generous guard limit.
    bool pumpUntil(const std::function<bool()>& done, Milliseconds limit = Milliseconds(5000)) {
        const auto end = steady_clock::now() + limit;
        while (!done() && steady_clock::now() < end) loop->pump(Milliseconds(50));
        return done();
    }
};

TEST_F(NativeLoop, TimersFireInOrderOfDeadline) {
    std::string order;
    loop->startTimer(Milliseconds(60), false, [&] { order += 'c'; });
    loop->startTimer(Milliseconds(5), false, [&] { order += 'a'; });
    loop->startTimer(Milliseconds(30), false, [&] { order += 'b'; });
    ASSERT_TRUE(pumpUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, "abc");
}

TEST_F(NativeLoop, PeriodicTimerRepeatsUntilStopped) {
    int ticks = 0;
    TimerId id = loop->startTimer(Milliseconds(10), true, [&] { ++ticks; });
    ASSERT_TRUE(pumpUntil([&] { return ticks >= 3; }));
    loop->stopTimer(id);
    const int seen = ticks;
    const auto end = steady_clock::now() + Milliseconds(100);
    while (steady_clock::now() < end) loop->pump(Milliseconds(20));
    EXPECT_EQ(ticks, seen);
    loop->stopTimer(id);      // stopping twice is harmless
    loop->stopTimer(999999);  // so is an unknown id
}

TEST_F(NativeLoop, PeriodicTimerStopsInsideItsOwnCallback) {
    int ticks = 0;
    TimerId id = 0;
    id = loop->startTimer(Milliseconds(5), true, [&] {
        if (++ticks == 2) loop->stopTimer(id);
    });
    ASSERT_TRUE(pumpUntil([&] { return ticks == 2; }));
    const auto end = steady_clock::now() + Milliseconds(80);
    while (steady_clock::now() < end) loop->pump(Milliseconds(20));
    EXPECT_EQ(ticks, 2);
}

TEST_F(NativeLoop, TimerStartedInACallbackRunsLater) {
    std::vector<int> seen;
    loop->startTimer(Milliseconds(1), false, [&] {
        seen.push_back(1);
        loop->startTimer(Milliseconds(1), false, [&] { seen.push_back(2); });
    });
    ASSERT_TRUE(pumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST_F(NativeLoop, PostedCallbacksRunInOrderInTheNextPump) {
    std::string order;
    loop->post([&] {
        order += '1';
        loop->post([&] { order += '3'; });  // waits for a later pump
    });
    loop->post([&] { order += '2'; });
    loop->pump(Milliseconds(0));
    EXPECT_EQ(order, "12");
    loop->pump(Milliseconds(0));
    EXPECT_EQ(order, "123");
}

TEST_F(NativeLoop, NestedPumpInsideACallback) {
    bool inner = false, outerDone = false;
    loop->post([&] {
        loop->startTimer(Milliseconds(5), false, [&] { inner = true; });
        const auto end = steady_clock::now() + Milliseconds(5000);
        while (!inner && steady_clock::now() < end) loop->pump(Milliseconds(50));
        outerDone = true;
    });
    loop->pump(Milliseconds(0));
    EXPECT_TRUE(inner);
    EXPECT_TRUE(outerDone);
}

TEST_F(NativeLoop, IdlePumpWaitsAboutMaxWaitAndNoLonger) {
    auto start = steady_clock::now();
    loop->pump(Milliseconds(100));
    auto took = steady_clock::now() - start;
    EXPECT_GE(took, Milliseconds(80));
    EXPECT_LT(took, Milliseconds(3000));

    // Without maxWait the wait is one short slice.
    start = steady_clock::now();
    loop->pump();
    took = steady_clock::now() - start;
    EXPECT_GE(took, Milliseconds(150));
    EXPECT_LT(took, Milliseconds(3000));
}

TEST_F(NativeLoop, IdlePumpWakesForAnEarlierTimer) {
    bool fired = false;
    loop->startTimer(Milliseconds(20), false, [&] { fired = true; });
    const auto start = steady_clock::now();
    while (!fired && steady_clock::now() - start < Milliseconds(5000)) loop->pump(Milliseconds(10000));
    EXPECT_TRUE(fired);
    EXPECT_LT(steady_clock::now() - start, Milliseconds(3000));
}

TEST_F(NativeLoop, PendingWorkDoesNotWait) {
    int runs = 0;
    loop->post([&] { ++runs; });
    const auto start = steady_clock::now();
    loop->pump(Milliseconds(10000));
    EXPECT_EQ(runs, 1);
    EXPECT_LT(steady_clock::now() - start, Milliseconds(3000));
}

}  // namespace
