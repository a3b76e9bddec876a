// The fixed date-and-time form "yyyy/M/d HH:mm:ss".
#include "platform/date_format.h"

#include <string>

namespace iw::platform {

namespace {
void appendNumber(std::u16string& out, int v, int minDigits) {
    std::string s = std::to_string(v);
    while (static_cast<int>(s.size()) < minDigits) s.insert(s.begin(), '0');
    for (char c : s) out.push_back(static_cast<char16_t>(c));
}
}  // namespace

std::u16string FixedDateFormat::formatDateTime(const LocalDateTime& t) const {
    std::u16string out;
    appendNumber(out, t.year, 1);
    out.push_back(u'/');
    appendNumber(out, t.month, 1);
    out.push_back(u'/');
    appendNumber(out, t.day, 1);
    out.push_back(u' ');
    appendNumber(out, t.hour, 2);
    out.push_back(u':');
    appendNumber(out, t.minute, 2);
    out.push_back(u':');
    appendNumber(out, t.second, 2);
    return out;
}

}  // namespace iw::platform
