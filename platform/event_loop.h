// The message loop seen from portable code: one pump at a time, plus timers
// and posted callbacks. Every long operation of the program is a plain loop
// that calls pump() until its condition holds, so timer ticks, socket events
// and clicks run inside the wait (there is one thread and no locks).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace iw::platform {

using Milliseconds = std::chrono::milliseconds;

// Identifies a timer; 0 is never a valid id.
using TimerId = std::uint64_t;

class EventLoop {
public:
    virtual ~EventLoop() = default;

    // Runs every event that is pending (window messages, socket events, due
    // timers, posted callbacks). When nothing is pending it blocks until the
    // next event arrives, the next timer is due, or `maxWait` has passed,
    // whichever comes first; it never spins. Without `maxWait` it blocks for
    // at most a short slice (about a quarter of a second), so callers that
    // poll a condition see it soon after it changes.
    //
    // A fake loop in tests jumps its virtual clock forward instead of
    // blocking, so a caller should pass the time left until its own deadline.
    virtual void pump(std::optional<Milliseconds> maxWait = std::nullopt) = 0;

    // Calls `fn` after `interval`, once or (periodic) every interval until
    // stopped. The callback runs inside a pump(); it may start and stop
    // timers, including its own.
    virtual TimerId startTimer(Milliseconds interval, bool periodic, std::function<void()> fn) = 0;

    // Stops a timer; unknown or already stopped ids are ignored.
    virtual void stopTimer(TimerId id) = 0;

    // Runs `fn` inside the next pump(), after the events already pending.
    virtual void post(std::function<void()> fn) = 0;
};

}  // namespace iw::platform
