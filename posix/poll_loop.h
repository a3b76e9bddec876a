// The POSIX event loop: poll() over the registered file descriptors, a timer
// queue on the monotonic clock and a queue of posted callbacks. Sockets of
// this folder register their descriptors here; portable code sees only
// platform::EventLoop.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "platform/event_loop.h"

namespace iw::posix {

// Identifies one descriptor registration; 0 is never valid.
using WatchId = std::uint64_t;

class PollLoop : public platform::EventLoop {
public:
    // The slice a pump without maxWait blocks at most.
    static constexpr platform::Milliseconds kSlice{250};

    void pump(std::optional<platform::Milliseconds> maxWait = std::nullopt) override;
    platform::TimerId startTimer(platform::Milliseconds interval, bool periodic,
                                 std::function<void()> fn) override;
    void stopTimer(platform::TimerId id) override;
    void post(std::function<void()> fn) override;

    // Watches `fd` for `events` (POLLIN, POLLOUT); `fn` gets the returned
    // revents from inside pump(). The callback may change or remove any
    // watch, its own included, and may pump the loop.
    WatchId watch(int fd, short events, std::function<void(short revents)> fn);
    void setEvents(WatchId id, short events);
    void unwatch(WatchId id);

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        Clock::time_point due;
        Clock::duration interval;
        bool periodic;
        std::function<void()> fn;
    };
    struct Watch {
        int fd;
        short events;
        std::function<void(short)> fn;
    };

    bool timerDue(Clock::time_point now) const;
    void runDueTimers(Clock::time_point now);
    void runPosted();
    static void guarded(const std::function<void()>& fn);

    std::map<platform::TimerId, Timer> timers_;
    // (due, id) in firing order; ids break ties so equal deadlines keep start order.
    std::map<std::pair<Clock::time_point, platform::TimerId>, bool> queue_;
    std::deque<std::function<void()>> posted_;
    std::map<WatchId, Watch> watches_;
    platform::TimerId nextTimer_ = 1;
    WatchId nextWatch_ = 1;
};

}  // namespace iw::posix
