// UTF-8 conversions of the POSIX platform, for file paths and command lines
// handed to the system; the same code serves code page 65001.
#pragma once

#include <string>
#include <string_view>

namespace iw::posix {

std::u16string utf8ToUtf16(std::string_view bytes);
std::string utf16ToUtf8(std::u16string_view text);

}  // namespace iw::posix
