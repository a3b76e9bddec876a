// Console text as UTF-8 on POSIX; see platform/console.h.
#include "platform/console.h"

#include <unistd.h>

#include <string>

namespace iw::platform {

namespace {
std::string Utf8(const std::u16string& t) {
    std::string out;
    for (std::size_t i = 0; i < t.size(); ++i) {
        char32_t c = t[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (t[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}
}  // namespace

void WriteConsoleText(ConsoleStream stream, const std::u16string& text) {
    const std::string bytes = Utf8(text);
    const int fd = stream == ConsoleStream::Out ? STDOUT_FILENO : STDERR_FILENO;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace iw::platform
