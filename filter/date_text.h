// Reading the date text of a Date header as a local date and time. It
// accepts what a general date reader takes from a mail header once the
// parser has cut it down: "7 Dec 2026 10:23:45", "7 Dec 2026 10:23",
// "Dec 7 2026 10:23", "2026/12/7 10:23:45", "2026-12-07 10:23", a date alone
// (midnight), and two-digit years (00-29 are 2000-2029, 30-99 are
// 1930-1999). Month names are English, full or three letters, any letter
// case; a weekday name with or without a comma may come first. Blanks around
// the text are ignored. Everything else, and every impossible date or time,
// is not a date.
#pragma once

#include <optional>
#include <string_view>

#include "platform/system_clock.h"

namespace iw::filter {

std::optional<platform::LocalDateTime> ReadDateText(std::u16string_view text);

}  // namespace iw::filter
