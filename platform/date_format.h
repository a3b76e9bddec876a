// Writing a date and time in the user's general date-and-time format.
// Windows: the user's locale (short date, then the time, as the system
// formats them). POSIX: the fixed form "yyyy/M/d HH:mm:ss", for example
// "2026/12/7 10:23:45" (month and day without leading zeros, time in 24
// hours with two digits each).
#pragma once

#include <memory>
#include <string>

#include "platform/system_clock.h"

namespace iw::platform {

class DateFormat {
public:
    virtual ~DateFormat() = default;
    virtual std::u16string formatDateTime(const LocalDateTime& t) const = 0;
};

// The fixed POSIX form above, on every platform (tests use it for fixed texts).
class FixedDateFormat : public DateFormat {
public:
    std::u16string formatDateTime(const LocalDateTime& t) const override;
};

// This build's real one.
std::unique_ptr<DateFormat> createDateFormat();

}  // namespace iw::platform
