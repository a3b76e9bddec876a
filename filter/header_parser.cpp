// ParseMessageHeader: one TOP reply becomes one row of its account's list.
//
// Headers are found by their whole name at the start of a line of the
// header section and unfolded before they are read. Sender and subject are
// decoded by DecodeHeaderText: every encoded word in place, in the charset
// it names, the rest in the ANSI page (Big5) as received. The sender's
// address for the lists comes from the whole unfolded From value.
#include "filter/header_parser.h"

#include <cmath>
#include <optional>

#include "platform/waits.h"
#include "filter/big5_text.h"
#include "filter/date_text.h"
#include "filter/decoders.h"

namespace iw::filter {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// An error that ends the parse of one reply, with the number and the
// description its message box shows.
struct ParseFailure {
    int number;
    std::u16string description;
};

ParseFailure addressFailure() { return {9001, u"寄信者位址有「<」卻沒有「>」"}; }
ParseFailure questionMarkFailure() { return {9002, u"編碼字的「?=」之前沒有「?」"}; }
ParseFailure missingEndFailure() { return {9003, u"主旨的第一行沒有「?=」"}; }
ParseFailure senderEndFailure() { return {9004, u"寄信者的編碼字沒有「?=」"}; }

std::u16string decimal(std::int64_t v) {
    const std::string s = std::to_string(v);
    return std::u16string(s.begin(), s.end());
}

// The header lines of a reply: after its status line, up to the empty line
// that ends the header (or the final "." line when there is none).
std::string_view headerSection(std::string_view reply) {
    const std::size_t status = reply.find(kCrLf);
    if (status == std::string_view::npos) return {};
    std::string_view h = reply.substr(status + 2);
    if (h == ".\r\n") return {};
    if (h.size() >= 5 && h.substr(h.size() - 5) == "\r\n.\r\n") h.remove_suffix(3);
    if (h.substr(0, 2) == kCrLf) return {};
    const std::size_t blank = h.find("\r\n\r\n");
    return blank == std::string_view::npos ? h : h.substr(0, blank + 2);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The value of the first header named `name` (whole name, any letter case,
// at the start of a line), unfolded: each line end before a continuation
// line is removed, the blanks are kept; leading and trailing blanks go.
std::optional<std::string> headerValue(std::string_view section, std::string_view name) {
    std::size_t pos = 0;
    while (pos < section.size()) {
        std::size_t e = section.find(kCrLf, pos);
        if (e == std::string_view::npos) e = section.size();
        const std::string_view line = section.substr(pos, e - pos);
        std::size_t k = 0;
        while (k < name.size() && k < line.size() && big5::upper(line[k]) == big5::upper(name[k])) ++k;
        if (k == name.size()) {
            while (k < line.size() && isBlank(line[k])) ++k;
            if (k < line.size() && line[k] == ':') {
                std::string value(line.substr(k + 1));
                while (e + 2 < section.size() && isBlank(section[e + 2])) {
                    const std::size_t from = e + 2;
                    e = section.find(kCrLf, from);
                    if (e == std::string_view::npos) e = section.size();
                    value.append(section.substr(from, e - from));
                }
                std::size_t b = 0, n = value.size();
                while (b < n && isBlank(value[b])) ++b;
                while (n > b && isBlank(value[n - 1])) --n;
                return value.substr(b, n - b);
            }
        }
        pos = e + 2;
    }
    return std::nullopt;
}

// The charset parameter of a Content-Type value, as its code page (0 when
// it names none the program can read).
int contentCharset(std::string_view value) {
    const std::size_t at = big5::findNoCase(value, "charset=");
    if (at == big5::npos) return 0;
    std::string_view v = value.substr(at + 8);
    if (!v.empty() && v[0] == '"') v.remove_prefix(1);
    std::size_t e = 0;
    while (e < v.size() && v[e] != '"' && v[e] != ';' && !isBlank(v[e])) ++e;
    return CharsetCodePage(v.substr(0, e));
}

std::uint64_t leadingNumber(std::u16string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
    std::uint64_t v = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        if (v > (UINT64_MAX - 9) / 10) return UINT64_MAX;
        v = v * 10 + (s[i] - u'0');
    }
    return v;
}

class Parser {
public:
    Parser(FilterModel& m, const ParseServices& s, int account, std::string_view reply)
        : m_(m), s_(s), a_(static_cast<std::size_t>(account)), reply_(reply) {}

    void run();

private:
    std::u16string text(std::string_view bytes, int codePage = platform::kBig5) const {
        return ConvertCodePage(s_.codePage, bytes, codePage);
    }
    void progress(std::size_t n);
    void sender();
    void subject();
    void size(std::size_t n);
    void date();
    void preview();
    void fail(const ParseFailure& f) {
        if (!failure_) failure_ = f;
    }

    FilterModel& m_;
    const ParseServices& s_;
    std::size_t a_;
    std::string_view reply_;

    std::string_view headers_;
    int wordPage_ = 0;  // the code page of the last encoded word of sender and subject
    std::u16string sender_, senderAddress_, subject_, sizeText_, received_, preview_;
    std::uint64_t sizeBytes_ = 0;
    std::optional<ParseFailure> failure_;
};

void Parser::progress(std::size_t n) {
    const std::u16string& section = m_.AccountSections[a_];
    const std::u16string counts = decimal(m_.MessageCounts[a_]) + u"封,接收郵件第" + decimal(static_cast<std::int64_t>(n)) + u"封...";
    s_.reporter.statusText(u"信箱(" + section + u")有" + counts);
    s_.reporter.tipLabel(section + u"\r\n\r\n有" + counts);
}

void Parser::sender() {
    const std::optional<std::string> value = headerValue(headers_, "From");
    if (!value) return;
    std::string address;
    try {
        address = SenderAddressBytes(*value);
    } catch (const AddressError&) {
        fail(addressFailure());
        sender_ = text(*value);
        return;
    }
    senderAddress_ = DecodeHeaderText(s_.codePage, address).text;
    if (!value->empty() && (*value)[0] == '<') {
        sender_ = senderAddress_;
        return;
    }
    // Brackets that come out of a decoded name are shown full-width, so the
    // shown text names the same address the lists were asked about.
    const DecodedHeader d = DecodeHeaderText(s_.codePage, *value, true);
    sender_ = d.text;
    if (d.lastCodePage != 0) wordPage_ = d.lastCodePage;
    if (d.fault == WordFault::NoEncoding) fail(questionMarkFailure());
    else if (d.fault == WordFault::Unterminated) fail(senderEndFailure());
}

void Parser::subject() {
    const std::optional<std::string> value = headerValue(headers_, "Subject");
    if (!value) return;
    const DecodedHeader d = DecodeHeaderText(s_.codePage, *value);
    subject_ = d.text;
    if (d.lastCodePage != 0) wordPage_ = d.lastCodePage;
    if (d.fault == WordFault::NoEncoding) fail(questionMarkFailure());
    else if (d.fault == WordFault::Unterminated) fail(missingEndFailure());
}

void Parser::size(std::size_t n) {
    const std::string_view listing = m_.RemainingListing();
    const std::size_t e = listing.find(kCrLf);
    if (e == std::string_view::npos) {
        sizeText_ = u"0";
    } else {
        const std::size_t skip = decimal(static_cast<std::int64_t>(n)).size() + 1;
        sizeText_ = skip < e ? text(listing.substr(skip, e - skip)) : u"";
        m_.ListingRead = m_.ListingText.size() - listing.size() + e + 2;
    }
    sizeBytes_ = leadingNumber(sizeText_);
}

void Parser::date() {
    const platform::LocalDateTime now = s_.clock.now();
    std::optional<platform::LocalDateTime> when;
    const std::optional<std::string> value = headerValue(headers_, "Date");
    if (value) {
        std::u16string line = u"Date: " + text(*value);
        const std::size_t x = line.rfind(u':');  // there is always the header's own colon
        line.resize(std::min(line.size(), x + 3));
        const std::size_t comma = line.rfind(u',');
        const std::size_t y = comma != std::u16string::npos ? comma : line.find(u':');
        std::u16string dateText = line.substr(y + 1);
        // A two-digit year of the current year becomes four digits.
        const std::u16string year = decimal(now.year);
        if (dateText.size() < 5 || dateText.find(year, 5) == std::u16string::npos) {
            const std::u16string two = year.substr(year.size() >= 2 ? year.size() - 2 : 0);
            const std::size_t p = dateText.find(two);
            if (p != std::u16string::npos) dateText.replace(p, two.size(), year);
        }
        when = ReadDateText(dateText);
    }
    platform::LocalDateTime t = when ? *when : now;
    t.millisecond = 0;
    received_ = s_.dateFormat.formatDateTime(t);
}

void Parser::preview() {
    int mode = 3;
    if (const std::optional<std::string> cte = headerValue(headers_, "Content-Transfer-Encoding")) {
        if (big5::containsNoCase(*cte, "base64")) mode = 1;
        else if (big5::containsNoCase(*cte, "quoted-printable")) mode = 2;
    }
    // Body lines are in the charset the message's Content-Type names; without
    // one, in that of the last encoded word of sender and subject.
    int page = 0;
    if (const std::optional<std::string> type = headerValue(headers_, "Content-Type")) page = contentCharset(*type);
    if (page != 0 && !s_.codePage.canDecode(page)) page = 0;
    if (page == 0) page = wordPage_ != 0 ? wordPage_ : platform::kBig5;
    std::string_view body = reply_.substr(0, reply_.size() >= 3 ? reply_.size() - 3 : 0);
    const std::size_t last = body.rfind(kCrLf);
    body = body.substr(0, last == std::string_view::npos ? 0 : last);
    for (int k = 0; k < 3; ++k) {
        const std::size_t x = body.rfind(kCrLf);
        std::string_view piece = x == std::string_view::npos ? body : body.substr(x + 2);
        body = body.substr(0, x == std::string_view::npos ? 0 : x);
        if (piece.empty()) continue;
        const std::string bytes = mode == 1   ? DecodeBase64(piece)
                                  : mode == 2 ? DecodeQuotedPrintable(piece)
                                              : std::string(piece);
        preview_ = text(bytes, page) + u"\r\n" + preview_;
    }
}

void Parser::run() {
    MessageList& list = m_.AccountLists[a_];
    const std::size_t n = list.size() + 1;
    headers_ = headerSection(reply_);
    progress(n);
    sender();
    subject();
    size(n);
    date();
    if (m_.PreviewLines) preview();

    MessageEntry row;
    row.SenderText = sender_;
    row.Subject = subject_;
    row.SizeText = SizeText(sizeBytes_);
    row.ReceivedText = received_;
    if (!failure_) {
        ClassifyEntry(row, senderAddress_, sizeBytes_, s_.classify);
    }
    if (m_.PreviewLines) row.PreviewText = preview_;
    MessageEntry shown = row;
    shown.PreviewText.clear();
    list.push_back(std::move(row));
    m_.VisibleList.push_back(std::move(shown));

    m_.LastActivity = static_cast<std::int32_t>(std::llround(platform::WaitSecondsNow(s_.clock))) % 86400;
    if (static_cast<std::int64_t>(n) == m_.MessageCounts[a_]) m_.PhaseDone = true;

    if (failure_) s_.reporter.errorBox(decimal(failure_->number) + u"LIST\r\n" + failure_->description);
}

}  // namespace

void ParseMessageHeader(FilterModel& model, const ParseServices& services, int account, std::string_view reply) {
    if (account < 0 || static_cast<std::size_t>(account) >= model.AccountLists.size() ||
        model.AccountSections.size() != model.AccountLists.size() ||
        model.MessageCounts.size() != model.AccountLists.size()) {
        services.reporter.errorBox(u"9LIST\r\n下標超出範圍");
        return;
    }
    try {
        Parser(model, services, account, reply).run();
    } catch (const std::exception& e) {
        // Only memory exhaustion can get here; the row count is what it is.
        std::u16string what;
        for (const char* p = e.what(); *p != '\0'; ++p) what.push_back(static_cast<unsigned char>(*p));
        services.reporter.errorBox(u"7LIST\r\n" + what);
    }
}

}  // namespace iw::filter
