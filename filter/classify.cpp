// Junk classification of a newly parsed row, and the size column's rounding.
#include "filter/classify.h"

namespace iw::filter {

std::uint64_t SizeTenthsOfKB(std::uint64_t bytes) {
    // bytes * 10 / 1024 with exact half-even rounding; bytes is at most
    // about 1.8e18 so the product cannot overflow.
    if (bytes > UINT64_MAX / 10) bytes = UINT64_MAX / 10;
    const std::uint64_t x = bytes * 10;
    std::uint64_t q = x / 1024;
    const std::uint64_t r = x % 1024;
    if (r > 512 || (r == 512 && (q & 1) != 0)) ++q;
    return q;
}

std::u16string SizeText(std::uint64_t bytes) {
    const std::uint64_t t = SizeTenthsOfKB(bytes);
    std::string s = std::to_string(t / 10);
    if (t % 10 != 0) {
        s.push_back('.');
        s.push_back(static_cast<char>('0' + t % 10));
    }
    s += "KB";
    return std::u16string(s.begin(), s.end());
}

void ClassifyEntry(MessageEntry& row, const std::u16string& senderAddress, std::uint64_t sizeBytes,
                   const ClassifyContext& c) {
    bool mayBeJunk = true;
    bool sizeRuleApplies = true;
    if (c.lists.isTrusted(senderAddress)) {
        if (c.options.trustIgnoresSizeLimit) sizeRuleApplies = false;
    } else {
        if (c.options.blackListFilter && c.lists.isBlackListed(senderAddress)) {
            row.Checked = true;
            row.TextColor = RowColor::BlackList;
            mayBeJunk = false;
        }
        if (c.options.domainListFilter && mayBeJunk) {
            const std::size_t at = senderAddress.find(u'@');
            if (at != std::u16string::npos && c.lists.isDomainListed(senderAddress.substr(at + 1))) {
                row.Checked = true;
                row.TextColor = RowColor::DomainList;
                mayBeJunk = false;
            }
        }
    }
    if (c.options.sizeLimit && mayBeJunk && sizeRuleApplies) {
        // Compare on the rounded value the size column shows.
        const std::int64_t limitTenths = static_cast<std::int64_t>(c.sizeLimitKB) * 10;
        if (limitTenths < 0 || SizeTenthsOfKB(sizeBytes) > static_cast<std::uint64_t>(limitTenths)) {
            row.Checked = true;
            row.TextColor = RowColor::SizeLimit;
        }
    }
    if (c.options.blankSenderIsJunk && senderAddress.empty()) {
        row.Checked = true;
        row.TextColor = RowColor::BlankSender;
    }
}

}  // namespace iw::filter
