// STAT and LIST replies; see mailbox.h.
#include "pop3/mailbox.h"

#include <algorithm>

namespace iw::pop3 {

namespace {

// The number at the start of a field: an optional sign and decimal digits;
// 0 when there is none. Clamped into 32 bits.
std::int32_t LeadingNumber(std::string_view f) {
    std::size_t i = 0;
    bool neg = false;
    if (i < f.size() && (f[i] == '-' || f[i] == '+')) neg = f[i++] == '-';
    std::int64_t v = 0;
    while (i < f.size() && f[i] >= '0' && f[i] <= '9') v = std::min<std::int64_t>(v * 10 + (f[i++] - '0'), 0x7FFFFFFF);
    return static_cast<std::int32_t>(neg ? -v : v);
}

bool Digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

StatReply ParseStat(std::string_view text) {
    StatReply r;
    const std::string_view line = text.substr(0, text.find_first_of("\r\n"));
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t sp = line.find(' ', pos);
        fields.push_back(line.substr(pos, sp == std::string_view::npos ? std::string_view::npos : sp - pos));
        if (sp == std::string_view::npos) break;
        pos = sp + 1;
    }
    r.count = std::max(fields.size() > 1 ? LeadingNumber(fields[1]) : 0, 0);
    r.size = fields.size() > 2 ? LeadingNumber(fields[2]) : 0;
    // "+OK", a space, the count, a space, the size; further text after a space may follow.
    r.wellFormed = fields.size() >= 3 && fields[0] == "+OK" && Digits(fields[1]) && fields[1].size() <= 9 &&
                   Digits(fields[2]);
    return r;
}

Listing ParseListing(std::string_view text, std::int64_t upTo) {
    Listing out;
    std::size_t pos = text.find("\r\n");
    if (pos == std::string_view::npos) return out;
    pos += 2;
    const std::size_t end = text.size() >= 3 ? text.size() - 3 : 0;  // before the ".\r\n"
    while (pos < end) {
        const std::size_t eol = text.find("\r\n", pos);
        if (eol == std::string_view::npos) break;
        const std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 2;
        std::size_t k = 0;
        std::int64_t n = 0;
        while (k < line.size() && line[k] >= '0' && line[k] <= '9' && n < (std::int64_t{1} << 40)) n = n * 10 + (line[k++] - '0');
        if (k == 0 || k >= line.size() || line[k] != ' ') {
            out.trusted = false;
            break;
        }
        const std::size_t s = ++k;
        while (k < line.size() && line[k] >= '0' && line[k] <= '9') ++k;
        if (k == s || (k < line.size() && line[k] != ' ')) {
            out.trusted = false;
            break;
        }
        if (n >= 1 && n <= upTo) out.entries.emplace_back(n, std::string(line.substr(s, k - s)));
    }
    std::sort(out.entries.begin(), out.entries.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    for (std::size_t k = 1; k < out.entries.size() && out.trusted; ++k)
        if (out.entries[k].first == out.entries[k - 1].first) out.trusted = false;
    return out;
}

}  // namespace iw::pop3
