// The system clock: local time from GetLocalTime, the zone's offset from
// GetTimeZoneInformation (daylight saving included when it applies), and
// SetLocalTime after enabling the privilege it needs; the steady clock of
// the waits from the performance counter, which setting the time leaves alone.
#include "platform/native.h"
#include "win32/platform/system_time.h"
#include "win32/platform/handles.h"

namespace iw::win32 {
namespace {

bool validDate(const platform::LocalDateTime& t) {
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12 || t.day < 1) return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    const int inMonth = days[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    return t.day <= inMonth && t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 &&
           t.second < 60 && t.millisecond >= 0 && t.millisecond < 1000;
}

// Asks for the right to set the clock; the call fails later when refused.
void enableSystemTimePrivilege() {
    UniqueKernel token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return;
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, &tp.Privileges[0].Luid)) return;
    AdjustTokenPrivileges(token.get(), FALSE, &tp, sizeof tp, nullptr, nullptr);
}

class SystemClockImpl final : public platform::SystemClock {
public:
    platform::LocalDateTime now() const override {
        SYSTEMTIME st;
        GetLocalTime(&st);
        return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
    }

    double secondsSinceMidnight() const override {
        SYSTEMTIME st;
        GetLocalTime(&st);
        return st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond + st.wMilliseconds / 1000.0;
    }

    int utcOffsetMinutes() const override {
        TIME_ZONE_INFORMATION tz;
        const DWORD which = GetTimeZoneInformation(&tz);
        LONG bias = tz.Bias;
        if (which == TIME_ZONE_ID_DAYLIGHT) bias += tz.DaylightBias;
        else if (which == TIME_ZONE_ID_STANDARD) bias += tz.StandardBias;
        else if (which == TIME_ZONE_ID_INVALID) return 0;
        return static_cast<int>(-bias);
    }

    bool setLocalTime(const platform::LocalDateTime& t) override {
        if (!validDate(t)) return false;
        enableSystemTimePrivilege();
        const SYSTEMTIME st = win32::toSystemTime(t);
        return SetLocalTime(&st) != FALSE;
    }

    double monotonicSeconds() const override {
        LARGE_INTEGER count;
        QueryPerformanceCounter(&count);
        return static_cast<double>(count.QuadPart) / static_cast<double>(frequency_.QuadPart);
    }

private:
    LARGE_INTEGER frequency_ = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);  // never fails on Windows XP and later
        return f;
    }();
};

}  // namespace
}  // namespace iw::win32

namespace iw::platform {
std::unique_ptr<SystemClock> createSystemClock() { return std::make_unique<win32::SystemClockImpl>(); }
}  // namespace iw::platform
