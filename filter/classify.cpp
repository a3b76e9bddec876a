// Junk classification of a newly parsed row, and the size column's rounding.
#include "filter/classify.h"

#include <vector>

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

namespace {

std::u16string Join(const std::vector<std::u16string>& parts, const char16_t* separator) {
    std::u16string out;
    for (const std::u16string& p : parts) {
        if (!out.empty()) out += separator;
        out += p;
    }
    return out;
}

// A rule that catches the row: its colour and its words.
struct Match {
    RowColor colour;
    std::u16string text;
};

}  // namespace

void ClassifyEntry(MessageEntry& row, const std::u16string& senderAddress, std::uint64_t sizeBytes,
                   const ClassifyContext& c) {
    const bool blackOn = c.options.blackListFilter, sizeOn = c.options.sizeLimit,
               blankOn = c.options.blankSenderIsJunk, trustSparesSize = c.options.trustIgnoresSizeLimit,
               domainOn = c.options.domainListFilter;
    // The domain is the text after the first "@"; an address without one has none.
    const std::size_t at = senderAddress.find(u'@');
    const std::u16string domain = at == std::u16string::npos ? std::u16string() : senderAddress.substr(at + 1);

    // What the lists say. A trusted sender is never judged by the black or
    // domain list; they are asked anyway, and a list whose switch is off
    // too, only to tell the user.
    const bool trusted = c.lists.isTrusted(senderAddress);
    const bool black = c.lists.isBlackListed(senderAddress);
    const bool listedDomain = at != std::u16string::npos && c.lists.isDomainListed(domain);
    // Compare on the rounded value the size column shows.
    const std::int64_t limitTenths = static_cast<std::int64_t>(c.sizeLimitKB) * 10;
    const bool overSize =
        sizeOn && (limitTenths < 0 || SizeTenthsOfKB(sizeBytes) > static_cast<std::uint64_t>(limitTenths));
    const std::u16string blackText = u"黑名單:" + senderAddress;
    const std::u16string domainText = u"網域過濾:" + domain;
    const std::string limit = std::to_string(c.sizeLimitKB);
    const std::u16string sizeText =
        u"信件大小 " + SizeText(sizeBytes) + u" 超過上限 " + std::u16string(limit.begin(), limit.end()) + u"KB";

    // Every rule that catches the row, in the order they are applied. The
    // first of black list, domain list and size limit marks it and stops the
    // ones after it; the blank-sender rule marks it whatever came before and
    // its colour replaces theirs.
    std::vector<Match> matches;
    if (!trusted && blackOn && black) matches.push_back({RowColor::BlackList, blackText});
    if (!trusted && domainOn && listedDomain) matches.push_back({RowColor::DomainList, domainText});
    const bool sizeApplies = !(trusted && trustSparesSize);
    if (overSize && sizeApplies) matches.push_back({RowColor::SizeLimit, sizeText});
    if (blankOn && senderAddress.empty()) matches.push_back({RowColor::BlankSender, u"寄信者空白"});

    std::u16string reason;
    if (!matches.empty()) {
        const std::size_t decided = matches.back().colour == RowColor::BlankSender ? matches.size() - 1 : 0;
        row.Checked = true;
        row.TextColor = matches[decided].colour;
        reason = matches[decided].text;
        if (matches[decided].colour == RowColor::SizeLimit && trusted)
            reason += u"(寄信者在信任名單,但「信任名單不受大小限制」未勾選)";
        std::vector<std::u16string> others;
        for (std::size_t k = 0; k < matches.size(); ++k)
            if (k != decided) others.push_back(matches[k].text);
        if (!others.empty()) reason += u";另符合 " + Join(others, u"、");
    } else if (row.Checked) {
        return;  // marked before; the classification never clears a mark, nor its reason
    } else if (trusted) {
        std::vector<std::u16string> spared;
        if (blackOn && black) spared.push_back(u"黑名單");
        if (domainOn && listedDomain) spared.push_back(domainText);
        if (overSize && !sizeApplies) spared.push_back(sizeText);
        reason = u"信任名單:" + senderAddress;
        if (!spared.empty()) reason += u",免除 " + Join(spared, u"、");
    } else {
        std::vector<std::u16string> off;
        if (!blackOn && black) off.push_back(u"在黑名單,但黑名單過濾未啟用");
        if (!domainOn && listedDomain) off.push_back(u"網域 " + domain + u" 在網域名單,但網域過濾未啟用");
        reason = off.empty() ? u"未符合任何過濾規則" : Join(off, u";");
    }
    row.Reason = std::move(reason);
}

std::u16string MarkReasonText(const MessageEntry& row) {
    if (row.Reason.empty()) return row.Reason;
    // A marked row has its rule's colour; a changed check mark shows as a
    // row whose mark and colour disagree.
    const bool marked = row.TextColor != RowColor::Default;
    if (row.Checked == marked) return row.Reason;
    return std::u16string(row.Checked ? u"目前已勾選" : u"目前未勾選") + u";自動判斷:" + row.Reason;
}

}  // namespace iw::filter
