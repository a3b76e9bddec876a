// A virtual clock and an event loop that runs in virtual time. A pump() with
// nothing pending jumps the clock to the next timer or to the caller's
// deadline instead of blocking (timers and deadlines are on the steady
// clock, as the real loops' are), so a 45-second wait takes microseconds and a
// wait across midnight is easy to set up.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "platform/event_loop.h"
#include "platform/system_clock.h"

namespace iw::test {

class FakeClock : public platform::SystemClock {
public:
    FakeClock();
    // The steady clock starts at the local time of day of `start` (in
    // milliseconds), so the two read alike until one of them is stepped.
    explicit FakeClock(const platform::LocalDateTime& start);

    // Setting the date or time steps the local clock alone, as setting the
    // system clock does: the steady clock (monotonicSeconds) keeps running
    // from where it was.
    void set(const platform::LocalDateTime& t);
    void setTime(int hour, int minute, int second, int millisecond = 0);
    void setNowMs(std::int64_t ms) { nowMs_ = ms; }
    // Steps the local clock by `d` (negative: back) and leaves the steady one.
    void stepLocal(platform::Milliseconds d) { nowMs_ += d.count(); }
    // Time passing: both clocks move on by `d`.
    void advance(platform::Milliseconds d) {
        nowMs_ += d.count();
        monoMs_ += d.count();
    }
    // Milliseconds since 1970-01-01 00:00 local time.
    std::int64_t nowMs() const { return nowMs_; }
    // The steady clock in milliseconds.
    std::int64_t monotonicMs() const { return monoMs_; }
    void setMonotonicMs(std::int64_t ms) { monoMs_ = ms; }

    void setUtcOffsetMinutes(int minutes) { offset_ = minutes; }
    // Makes setLocalTime() fail, as it does without the privilege.
    void refuseSetTime(bool refuse) { refuseSet_ = refuse; }
    // Every time setLocalTime() was asked to set.
    const std::vector<platform::LocalDateTime>& setRequests() const { return setRequests_; }

    platform::LocalDateTime now() const override;
    double secondsSinceMidnight() const override;
    int utcOffsetMinutes() const override { return offset_; }
    bool setLocalTime(const platform::LocalDateTime& t) override;
    double monotonicSeconds() const override { return static_cast<double>(monoMs_) / 1000.0; }

private:
    std::int64_t nowMs_ = 0;
    std::int64_t monoMs_ = 0;
    int offset_ = 480;
    bool refuseSet_ = false;
    std::vector<platform::LocalDateTime> setRequests_;
};

class FakeEventLoop : public platform::EventLoop {
public:
    explicit FakeEventLoop(FakeClock& clock) : clock_(clock) {}

    void pump(std::optional<platform::Milliseconds> maxWait = std::nullopt) override;
    platform::TimerId startTimer(platform::Milliseconds interval, bool periodic,
                                 std::function<void()> fn) override;
    void stopTimer(platform::TimerId id) override;
    void post(std::function<void()> fn) override;

    // Called by pump() when nothing is pending, before the clock jumps; a
    // scripted peer can act here (and post events). Returns true when it did
    // something, in which case the pump does not jump the clock.
    void setIdleHook(std::function<bool()> hook) { idleHook_ = std::move(hook); }

    // Pumps until `done` holds or the virtual clock has moved `limit`
    // further; returns whether `done` held.
    bool runUntil(const std::function<bool()>& done, platform::Milliseconds limit);

    std::uint64_t pumpCount() const { return pumps_; }
    std::size_t activeTimers() const { return timers_.size(); }

    // The slice a pump without maxWait jumps at most.
    static constexpr platform::Milliseconds kSlice{250};

private:
    struct Timer {
        std::int64_t dueMs;
        std::int64_t intervalMs;
        bool periodic;
        std::function<void()> fn;
    };
    bool runDueTimers();

    FakeClock& clock_;
    std::map<platform::TimerId, Timer> timers_;
    std::deque<std::function<void()>> posted_;
    std::function<bool()> idleHook_;
    platform::TimerId nextId_ = 1;
    std::uint64_t pumps_ = 0;
};

}  // namespace iw::test
