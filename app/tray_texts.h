// The texts of the tray icon's tip: the connected time, the status line and
// the new-mail count, and fitting them into the tip's fixed 64-byte field.
#pragma once

#include <cstdint>
#include <string>

#include "platform/code_page.h"

namespace iw::app {

inline constexpr char16_t kIdleTip[] = u"Inkwarden即時監視中..";

// Size of the tip field in bytes of the system code page, NUL included.
inline constexpr std::size_t kTipFieldBytes = 64;

// n seconds as "M分SS秒", "H時MM分SS秒" or "D日H時MM分SS秒"
// (5 -> 0分05秒, 65 -> 01分05秒, 3725 -> 1時02分05秒, 90061 -> 1日1時01分01秒).
std::u16string FormatElapsed(std::int64_t seconds);

// The connected tip: "已連線" + elapsed time, then the status text and the
// new-mail line ("您有N封新郵件") each on a line of their own when present.
// `showCount` is false while checking is paused.
std::u16string ConnectedTip(std::int64_t onlineSeconds, const std::u16string& statusText,
                            std::int32_t newMailCount, bool showCount);

// Makes a tip fit the field: at most kTipFieldBytes - 1 bytes in code page
// 950, never cut inside a character (a double-byte character or a surrogate
// pair stays whole or goes). When the text is too long, the middle lines
// (the status text) are shortened first, so the first line and the new-mail
// line stay readable; only when that is not enough is the end cut off.
std::u16string FitTip(const platform::CodePage& cp, const std::u16string& tip);

// The longest prefix of `text` that takes at most `maxBytes` bytes in code
// page 950 and ends on a character boundary.
std::u16string PrefixWithinBytes(const platform::CodePage& cp, const std::u16string& text, std::size_t maxBytes);

}  // namespace iw::app
