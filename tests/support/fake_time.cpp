// Virtual time for tests; see fake_time.h.
#include "tests/support/fake_time.h"

#include <algorithm>
#include <limits>

namespace iw::test {

using platform::LocalDateTime;
using platform::Milliseconds;

namespace {
constexpr std::int64_t kMsPerDay = 86'400'000;
}

FakeClock::FakeClock() : FakeClock(LocalDateTime{2026, 12, 7, 10, 0, 0, 0}) {}

FakeClock::FakeClock(const LocalDateTime& start) {
    set(start);
    monoMs_ = nowMs_ % kMsPerDay;
}

void FakeClock::set(const LocalDateTime& t) {
    nowMs_ = platform::daysFromCivil(t.year, t.month, t.day) * kMsPerDay +
             ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

void FakeClock::setTime(int hour, int minute, int second, int millisecond) {
    LocalDateTime t = now();
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.millisecond = millisecond;
    set(t);
}

LocalDateTime FakeClock::now() const {
    std::int64_t days = nowMs_ / kMsPerDay;
    std::int64_t ms = nowMs_ % kMsPerDay;
    if (ms < 0) {
        ms += kMsPerDay;
        --days;
    }
    LocalDateTime t;
    platform::civilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(ms / 3'600'000);
    t.minute = static_cast<int>(ms / 60'000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.millisecond = static_cast<int>(ms % 1000);
    return t;
}

double FakeClock::secondsSinceMidnight() const {
    std::int64_t ms = nowMs_ % kMsPerDay;
    if (ms < 0) ms += kMsPerDay;
    return static_cast<double>(ms) / 1000.0;
}

bool FakeClock::setLocalTime(const LocalDateTime& t) {
    setRequests_.push_back(t);
    if (refuseSet_) return false;
    set(t);
    return true;
}

platform::TimerId FakeEventLoop::startTimer(Milliseconds interval, bool periodic, std::function<void()> fn) {
    const platform::TimerId id = nextId_++;
    const std::int64_t step = std::max<std::int64_t>(interval.count(), 1);
    timers_[id] = Timer{clock_.monotonicMs() + step, step, periodic, std::move(fn)};
    return id;
}

void FakeEventLoop::stopTimer(platform::TimerId id) { timers_.erase(id); }

void FakeEventLoop::post(std::function<void()> fn) { posted_.push_back(std::move(fn)); }

bool FakeEventLoop::runDueTimers() {
    bool ran = false;
    // Fire timers in due order; a callback may start or stop timers.
    for (;;) {
        auto due = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.dueMs <= clock_.monotonicMs() && (due == timers_.end() || it->second.dueMs < due->second.dueMs))
                due = it;
        }
        if (due == timers_.end()) return ran;
        const platform::TimerId id = due->first;
        std::function<void()> fn = due->second.fn;
        if (due->second.periodic) {
            due->second.dueMs += due->second.intervalMs;
            // A late loop does not fire a backlog of ticks.
            if (due->second.dueMs <= clock_.monotonicMs())
                due->second.dueMs = clock_.monotonicMs() + due->second.intervalMs;
        } else {
            timers_.erase(due);
        }
        (void)id;
        fn();
        ran = true;
    }
}

void FakeEventLoop::pump(std::optional<Milliseconds> maxWait) {
    ++pumps_;
    // Posted callbacks first: only those queued before this pump, so a
    // callback that posts again does not keep one pump running for ever.
    std::size_t n = posted_.size();
    bool ran = n > 0;
    while (n-- > 0 && !posted_.empty()) {
        auto fn = std::move(posted_.front());
        posted_.pop_front();
        fn();
    }
    if (runDueTimers()) ran = true;
    if (ran) return;
    if (idleHook_ && idleHook_()) return;
    if (!posted_.empty()) return;

    // Nothing pending: jump to the next timer or the caller's deadline.
    const std::int64_t now = clock_.monotonicMs();
    const std::int64_t limit = now + std::max<std::int64_t>((maxWait ? *maxWait : kSlice).count(), 0);
    std::int64_t target = limit;
    for (const auto& [id, t] : timers_) target = std::min(target, t.dueMs);
    if (target > now) clock_.advance(Milliseconds(target - now));
    runDueTimers();
}

bool FakeEventLoop::runUntil(const std::function<bool()>& done, Milliseconds limit) {
    const std::int64_t end = clock_.monotonicMs() + limit.count();
    while (!done()) {
        if (clock_.monotonicMs() >= end) return done();
        pump(Milliseconds(end - clock_.monotonicMs()));
    }
    return true;
}

}  // namespace iw::test
