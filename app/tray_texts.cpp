// Tray tip texts; see tray_texts.h.
#include "app/tray_texts.h"

#include <vector>

namespace iw::app {

namespace {

std::u16string number(std::int64_t n) {
    std::u16string s;
    const bool negative = n < 0;
    std::uint64_t v = negative ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
    do {
        s.insert(s.begin(), static_cast<char16_t>(u'0' + v % 10));
        v /= 10;
    } while (v != 0);
    if (negative) s.insert(s.begin(), u'-');
    return s;
}

std::u16string padded(std::int64_t n) {
    std::u16string s = number(n);
    if (n >= 0 && n < 10) s.insert(s.begin(), u'0');
    return s;
}

std::size_t byteLength(const platform::CodePage& cp, std::u16string_view text) {
    return cp.fromUtf16(platform::kBig5, text).size();
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

std::u16string FormatElapsed(std::int64_t n) {
    if (n < 0) n = 0;
    const std::u16string seconds = padded(n % 60);
    std::int64_t minutes = n / 60;
    if (minutes < 60) return (n >= 60 ? padded(minutes) : u"0") + u"分" + seconds + u"秒";
    std::int64_t hours = minutes / 60;
    minutes %= 60;
    if (hours < 24) return number(hours) + u"時" + padded(minutes) + u"分" + seconds + u"秒";
    const std::int64_t days = hours / 24;
    hours %= 24;
    return number(days) + u"日" + number(hours) + u"時" + padded(minutes) + u"分" + seconds + u"秒";
}

std::u16string ConnectedTip(std::int64_t onlineSeconds, const std::u16string& statusText,
                            std::int32_t newMailCount, bool showCount) {
    std::u16string tip = u"已連線" + FormatElapsed(onlineSeconds);
    if (!statusText.empty()) tip += u"\r\n" + statusText;
    if (showCount && newMailCount >= 1) tip += u"\r\n您有" + number(newMailCount) + u"封新郵件";
    return tip;
}

std::u16string PrefixWithinBytes(const platform::CodePage& cp, const std::u16string& text, std::size_t maxBytes) {
    // Character by character, so a cut never splits a double-byte character
    // or a surrogate pair.
    std::u16string out;
    std::size_t used = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = (isHighSurrogate(text[i]) && i + 1 < text.size()) ? 2 : 1;
        const std::size_t bytes = byteLength(cp, std::u16string_view(text).substr(i, len));
        if (used + bytes > maxBytes) break;
        out.append(text, i, len);
        used += bytes;
        i += len;
    }
    return out;
}

std::u16string FitTip(const platform::CodePage& cp, const std::u16string& tip) {
    const std::size_t limit = kTipFieldBytes - 1;
    if (byteLength(cp, tip) <= limit) return tip;

    // Split into lines; shorten the middle ones (the status text) first.
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = tip.find(u"\r\n", start);
        lines.push_back(tip.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start));
        if (end == std::u16string::npos) break;
        start = end + 2;
    }
    if (lines.size() >= 3) {
        std::size_t fixed = 0;
        fixed += byteLength(cp, lines.front()) + byteLength(cp, lines.back()) + 2 * (lines.size() - 1);
        for (std::size_t i = 1; i + 1 < lines.size() - 1; ++i) fixed += byteLength(cp, lines[i]);
        // The line just before the last one is the status text.
        std::u16string& status = lines[lines.size() - 2];
        if (fixed < limit) {
            const std::size_t room = limit - fixed;
            if (byteLength(cp, status) > room) {
                status = room >= 2 ? PrefixWithinBytes(cp, status, room - 2) + u".." : PrefixWithinBytes(cp, status, room);
            }
            std::u16string joined;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                if (i) joined += u"\r\n";
                joined += lines[i];
            }
            if (byteLength(cp, joined) <= limit) return joined;
        }
    }
    std::u16string cut = PrefixWithinBytes(cp, tip, limit);
    // A line break cut in half would leave a stray CR at the end.
    if (!cut.empty() && cut.back() == u'\r') cut.pop_back();
    return cut;
}

}  // namespace iw::app
