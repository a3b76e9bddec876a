// Keeping characters whole when bytes arrive in pieces.
#include "platform/code_page.h"

namespace iw::platform {

namespace {

bool isDbcsLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

std::size_t completePrefixDbcs(std::string_view bytes) {
    // Walk from the start: a lead byte takes the next byte with it, so only a
    // lead byte in the last position is incomplete.
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (isDbcsLead(static_cast<unsigned char>(bytes[i]))) {
            if (i + 1 == bytes.size()) return i;
            i += 2;
        } else {
            i += 1;
        }
    }
    return bytes.size();
}

std::size_t completePrefixUtf8(std::string_view bytes) {
    // Look back at most three bytes for the start of the last sequence.
    const std::size_t n = bytes.size();
    for (std::size_t back = 1; back <= 4 && back <= n; ++back) {
        const unsigned char b = static_cast<unsigned char>(bytes[n - back]);
        if ((b & 0xC0) == 0x80) continue;  // continuation byte
        std::size_t need = 1;
        if ((b & 0xE0) == 0xC0) need = 2;
        else if ((b & 0xF0) == 0xE0) need = 3;
        else if ((b & 0xF8) == 0xF0) need = 4;
        return back < need ? n - back : n;
    }
    return n;
}

}  // namespace

std::size_t completePrefix(int codePage, std::string_view bytes) {
    switch (codePage) {
    case kBig5:
    case kGbk:
        return completePrefixDbcs(bytes);
    case kUtf8:
        return completePrefixUtf8(bytes);
    default:
        return bytes.size();
    }
}

}  // namespace iw::platform
