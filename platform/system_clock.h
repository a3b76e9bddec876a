// Local date and time as the program sees it, the one place the system
// clock is set, and the steady clock every wait measures on. The program
// itself sets the local clock (time correction), and so may the user or a
// change of daylight saving, so waits never measure on the local time.
#pragma once

#include <cstdint>

namespace iw::platform {

// A local calendar date and time. Months and days count from 1.
struct LocalDateTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

class SystemClock {
public:
    virtual ~SystemClock() = default;

    virtual LocalDateTime now() const = 0;

    // Seconds since local midnight, with the fraction of the current second.
    virtual double secondsSinceMidnight() const = 0;

    // Minutes to add to UTC to get local time (Taipei: +480), daylight saving
    // included as it applies now.
    virtual int utcOffsetMinutes() const = 0;

    // Sets the local date and time. Returns false when the system refuses
    // (no privilege) or the value is not a valid date.
    virtual bool setLocalTime(const LocalDateTime& t) = 0;

    // Seconds from an arbitrary origin on a clock that runs at the real
    // rate and is never set: a change of the local date or time does not
    // move it. Waits and time-outs measure on this clock.
    virtual double monotonicSeconds() const = 0;
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t daysFromCivil(int year, int month, int day);
void civilFromDays(std::int64_t days, int& year, int& month, int& day);

}  // namespace iw::platform
