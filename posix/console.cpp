// Console text as UTF-8 on POSIX; see platform/console.h.
#include "platform/console.h"

#include <unistd.h>

#include <string>

#include "platform/unicode_forms.h"

namespace iw::platform {


void WriteConsoleText(ConsoleStream stream, const std::u16string& text) {
    const std::string bytes = utf16ToUtf8(text);
    const int fd = stream == ConsoleStream::Out ? STDOUT_FILENO : STDERR_FILENO;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace iw::platform
