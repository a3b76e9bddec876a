// A clock for tests on the real event loop: the seconds since midnight run
// `factor` times faster than the real ones, from the real time of day at
// creation (the steady clock from 0), so the program's 45-second waits end in a fraction of that on a
// silent real socket. The date is the real one; setting the time is refused.
#pragma once

#include <chrono>
#include <cmath>

#include "platform/system_clock.h"

namespace iw::test {

class ScaledClock : public platform::SystemClock {
public:
    ScaledClock(const platform::SystemClock& real, double factor)
        : real_(real), factor_(factor), startSeconds_(real.secondsSinceMidnight()),
          start_(std::chrono::steady_clock::now()) {}

    platform::LocalDateTime now() const override { return real_.now(); }
    double secondsSinceMidnight() const override {
        const std::chrono::duration<double> passed = std::chrono::steady_clock::now() - start_;
        return std::fmod(startSeconds_ + passed.count() * factor_, 86400.0);
    }
    int utcOffsetMinutes() const override { return real_.utcOffsetMinutes(); }
    bool setLocalTime(const platform::LocalDateTime&) override { return false; }
    double monotonicSeconds() const override {
        const std::chrono::duration<double> passed = std::chrono::steady_clock::now() - start_;
        return startMono_ + passed.count() * factor_;
    }

    // From now on the clock runs `factor` times the real speed.
    void setFactor(double factor) {
        startSeconds_ = secondsSinceMidnight();
        startMono_ = monotonicSeconds();
        start_ = std::chrono::steady_clock::now();
        factor_ = factor;
    }

private:
    const platform::SystemClock& real_;
    double factor_;
    double startSeconds_;
    double startMono_ = 0;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace iw::test
