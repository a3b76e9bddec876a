// poll() loop: one round runs every ready descriptor, every due timer and the
// callbacks posted before the round began, blocking only when none of them
// is pending, and then no longer than the next timer, maxWait or the slice.
#include "posix/poll_loop.h"

#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <vector>

namespace iw::posix {

void PollLoop::guarded(const std::function<void()>& fn) {
    // An exception must not unwind through the loop into whichever wait
    // happened to pump; report it and go on with the next event.
    try {
        fn();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "inkwarden: event callback failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "inkwarden: event callback failed\n");
    }
}

bool PollLoop::timerDue(Clock::time_point now) const {
    return !queue_.empty() && queue_.begin()->first.first <= now;
}

void PollLoop::pump(std::optional<platform::Milliseconds> maxWait) {
    Clock::time_point now = Clock::now();
    int timeoutMs = 0;
    if (posted_.empty() && !timerDue(now)) {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(maxWait.value_or(kSlice));
        if (wait.count() < 0) wait = std::chrono::milliseconds(0);
        if (!queue_.empty()) {
            // Round up so a timer is never woken for a moment before it is due.
            auto untilTimer = std::chrono::ceil<std::chrono::milliseconds>(queue_.begin()->first.first - now);
            if (untilTimer < wait) wait = untilTimer;
        }
        timeoutMs = static_cast<int>(wait.count());
    }

    std::vector<pollfd> fds;
    std::vector<WatchId> ids;
    fds.reserve(watches_.size());
    ids.reserve(watches_.size());
    for (const auto& [id, w] : watches_) {
        fds.push_back(pollfd{w.fd, w.events, 0});
        ids.push_back(id);
    }
    int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n < 0 && errno != EINTR) n = 0;
    for (std::size_t i = 0; n > 0 && i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        // An earlier callback of this round may have removed or replaced the watch.
        auto it = watches_.find(ids[i]);
        if (it == watches_.end() || it->second.fd != fds[i].fd) continue;
        auto fn = it->second.fn;
        const short revents = fds[i].revents;
        guarded([&] { fn(revents); });
    }
    runDueTimers(Clock::now());
    runPosted();
}

void PollLoop::runDueTimers(Clock::time_point now) {
    // Only timers due at the start of this step run, so a periodic timer
    // shorter than its own callback cannot keep the round going forever.
    std::vector<platform::TimerId> due;
    for (auto it = queue_.begin(); it != queue_.end() && it->first.first <= now; ++it) due.push_back(it->first.second);
    for (platform::TimerId id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end()) continue;  // stopped by an earlier callback
        Timer& t = it->second;
        queue_.erase({t.due, id});
        std::function<void()> fn = t.fn;
        if (t.periodic) {
            // The next tick counts from now, so a late pump does not fire a burst.
            t.due = now + t.interval;
            queue_.emplace(std::make_pair(t.due, id), true);
        } else {
            timers_.erase(it);
        }
        guarded(fn);
    }
}

void PollLoop::runPosted() {
    // Callbacks posted while these run wait for the next round.
    std::size_t n = posted_.size();
    while (n-- > 0 && !posted_.empty()) {
        std::function<void()> fn = std::move(posted_.front());
        posted_.pop_front();
        guarded(fn);
    }
}

platform::TimerId PollLoop::startTimer(platform::Milliseconds interval, bool periodic, std::function<void()> fn) {
    if (interval.count() < 0) interval = platform::Milliseconds(0);
    // A periodic timer of 0 ms would make every round busy; give it 1 ms.
    if (periodic && interval.count() == 0) interval = platform::Milliseconds(1);
    const platform::TimerId id = nextTimer_++;
    Timer t{Clock::now() + interval, interval, periodic, std::move(fn)};
    queue_.emplace(std::make_pair(t.due, id), true);
    timers_.emplace(id, std::move(t));
    return id;
}

void PollLoop::stopTimer(platform::TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    queue_.erase({it->second.due, id});
    timers_.erase(it);
}

void PollLoop::post(std::function<void()> fn) { posted_.push_back(std::move(fn)); }

WatchId PollLoop::watch(int fd, short events, std::function<void(short)> fn) {
    const WatchId id = nextWatch_++;
    watches_.emplace(id, Watch{fd, events, std::move(fn)});
    return id;
}

void PollLoop::setEvents(WatchId id, short events) {
    auto it = watches_.find(id);
    if (it != watches_.end()) it->second.events = events;
}

void PollLoop::unwatch(WatchId id) { watches_.erase(id); }

}  // namespace iw::posix
