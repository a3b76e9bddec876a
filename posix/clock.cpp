// The system clock of the POSIX platform: local time from localtime_r and
// its tm_gmtoff; setting the clock through clock_settime (needs privilege);
// the steady clock of the waits from CLOCK_MONOTONIC.
#include <time.h>

#include "platform/native.h"

namespace iw::posix {
namespace {

class PosixClock : public platform::SystemClock {
public:
    platform::LocalDateTime now() const override {
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        tm local{};
        ::localtime_r(&ts.tv_sec, &local);
        platform::LocalDateTime t;
        t.year = local.tm_year + 1900;
        t.month = local.tm_mon + 1;
        t.day = local.tm_mday;
        t.hour = local.tm_hour;
        t.minute = local.tm_min;
        t.second = local.tm_sec > 59 ? 59 : local.tm_sec;
        t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
        return t;
    }

    double secondsSinceMidnight() const override {
        timespec ts{};
        ::clock_gettime(CLOCK_REALTIME, &ts);
        tm local{};
        ::localtime_r(&ts.tv_sec, &local);
        return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ts.tv_nsec / 1e9;
    }

    int utcOffsetMinutes() const override {
        time_t now = ::time(nullptr);
        tm local{};
        ::localtime_r(&now, &local);
        return static_cast<int>(local.tm_gmtoff / 60);
    }

    bool setLocalTime(const platform::LocalDateTime& t) override {
        if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
            t.minute > 59 || t.second < 0 || t.second > 59 || t.millisecond < 0 || t.millisecond > 999)
            return false;
        int y = 0, m = 0, d = 0;
        platform::civilFromDays(platform::daysFromCivil(t.year, t.month, t.day), y, m, d);
        if (y != t.year || m != t.month || d != t.day) return false;  // e.g. 31 April
        tm local{};
        local.tm_year = t.year - 1900;
        local.tm_mon = t.month - 1;
        local.tm_mday = t.day;
        local.tm_hour = t.hour;
        local.tm_min = t.minute;
        local.tm_sec = t.second;
        local.tm_isdst = -1;
        const time_t secs = ::mktime(&local);
        if (secs == static_cast<time_t>(-1)) return false;
        timespec ts{secs, static_cast<long>(t.millisecond) * 1000000L};
        return ::clock_settime(CLOCK_REALTIME, &ts) == 0;
    }

    double monotonicSeconds() const override {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
    }
};

}  // namespace
}  // namespace iw::posix

namespace iw::platform {
std::unique_ptr<SystemClock> createSystemClock() { return std::make_unique<posix::PosixClock>(); }
}  // namespace iw::platform
