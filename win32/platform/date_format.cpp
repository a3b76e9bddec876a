// Windows: the user's general date-and-time format, the short date followed
// by the time, as the user's locale writes them.
#include <windows.h>

#include "platform/date_format.h"

namespace iw::platform {

namespace {

class LocaleDateFormat : public DateFormat {
public:
    std::u16string formatDateTime(const LocalDateTime& t) const override {
        SYSTEMTIME st{};
        st.wYear = static_cast<WORD>(t.year);
        st.wMonth = static_cast<WORD>(t.month);
        st.wDay = static_cast<WORD>(t.day);
        st.wHour = static_cast<WORD>(t.hour);
        st.wMinute = static_cast<WORD>(t.minute);
        st.wSecond = static_cast<WORD>(t.second);
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
