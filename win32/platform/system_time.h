// A local date and time of the portable code as the SYSTEMTIME the Win32
// calls take; shared by the clock (setting it) and the date format.
#pragma once

#include <windows.h>

#include "platform/system_clock.h"

namespace iw::win32 {

inline SYSTEMTIME toSystemTime(const platform::LocalDateTime& t) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(t.year);
    st.wMonth = static_cast<WORD>(t.month);
    st.wDay = static_cast<WORD>(t.day);
    st.wHour = static_cast<WORD>(t.hour);
    st.wMinute = static_cast<WORD>(t.minute);
    st.wSecond = static_cast<WORD>(t.second);
    st.wMilliseconds = static_cast<WORD>(t.millisecond);
    return st;
}

}  // namespace iw::win32
