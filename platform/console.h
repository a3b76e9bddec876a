// Text to the console: standard output or standard error. POSIX writes
// UTF-8; Windows writes with WriteConsoleW to a console and UTF-8 bytes to a
// file or pipe, so Chinese text shows either way.
#pragma once

#include <string>

namespace iw::platform {

enum class ConsoleStream { Out, Err };

// Writes `text` as it is (add "\n" for a line end) and flushes.
void WriteConsoleText(ConsoleStream stream, const std::u16string& text);

}  // namespace iw::platform
