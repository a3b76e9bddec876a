// Windows: the user's general date-and-time format, the short date followed
// by the time, as the user's locale writes them.
#include <windows.h>

#include "platform/date_format.h"
#include "win32/platform/system_time.h"

namespace iw::platform {

namespace {

class LocaleDateFormat : public DateFormat {
public:
    std::u16string formatDateTime(const LocalDateTime& t) const override {
        const SYSTEMTIME st = win32::toSystemTime(t);
        wchar_t date[128];
        wchar_t time[128];
        if (GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128, nullptr) == 0 ||
            GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, time, 128) == 0)
            return FixedDateFormat().formatDateTime(t);
        std::u16string out(reinterpret_cast<const char16_t*>(date));
        out.push_back(u' ');
        out += reinterpret_cast<const char16_t*>(time);
        return out;
    }
};

}  // namespace

std::unique_ptr<DateFormat> createDateFormat() { return std::make_unique<LocaleDateFormat>(); }

}  // namespace iw::platform
