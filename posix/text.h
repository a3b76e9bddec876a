// UTF-8 conversions of the POSIX platform, for file paths and command lines
// handed to the system; the same code serves code page 65001 in both builds.
#pragma once

#include "platform/unicode_forms.h"

namespace iw::posix {

using platform::utf16ToUtf8;
using platform::utf8ToUtf16;

}  // namespace iw::posix
