// UTF-8 conversions shared by both builds: code page 65001, and on POSIX the
// file paths and command lines handed to the system.
#pragma once

#include <string>
#include <string_view>

namespace iw::platform {

// Each maximal invalid piece of the bytes becomes one U+FFFD; overlong
// forms, surrogates and values above U+10FFFF are invalid.
std::u16string utf8ToUtf16(std::string_view bytes);
// A lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

}  // namespace iw::platform
