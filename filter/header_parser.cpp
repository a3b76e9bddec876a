// ParseMessageHeader: one TOP reply becomes one row of its account's list.
//
// The reply stays in its received bytes, read as Big5 where the program
// reads text. Decoded payloads stay bytes until the character set of the
// message is known and are then turned into text once, so a UTF-8 or GB2312
// subject of any length shows in full.
#include "filter/header_parser.h"

#include <cmath>
#include <optional>

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

std::u16string decimal(std::int64_t v) {
    const std::string s = std::to_string(v);
    return std::u16string(s.begin(), s.end());
}

// The text up to (not including) the next line end at or after `from`, or
// to the end when there is none.
std::string_view lineAt(std::string_view s, std::size_t from) {
    if (from >= s.size()) return {};
    const std::size_t e = s.find(kCrLf, from);
    return s.substr(from, e == std::string_view::npos ? std::string_view::npos : e - from);
}

// Text built from pieces in different code pages.
struct Piece {
    std::string bytes;
    int codePage = platform::kBig5;
};

// An encoded word's last "?=" on a line: the payload and its letter.
struct EncodedWord {
    std::string_view before;   // the line before its last "?="
    std::string_view payload;  // after the last "?" of `before`
    char letter;               // upper-cased character before that "?", 0 when not one byte
};

EncodedWord lastEncodedWord(std::string_view line) {
    const std::size_t end = line.rfind("?=");
    EncodedWord w{line.substr(0, end), {}, 0};
    const std::size_t q = w.before.rfind('?');
    if (q == std::string_view::npos || q == 0) throw questionMarkFailure();
    w.payload = w.before.substr(q + 1);
    if (big5::isSingleByteCharAt(w.before, q - 1)) w.letter = big5::upper(w.before[q - 1]);
    return w;
}

std::string decodeByLetter(char letter, std::string_view payload) {
    if (letter == 'Q') return DecodeQuotedPrintable(payload);
    if (letter == 'B') return DecodeBase64(payload);
    return std::string(payload);
}

// Re-reading by the charset a stretch of text names; 0 when none applies.
int charsetCodeOf(std::string_view s) {
    if (big5::containsNoCase(s, "GB2312")) return 1;
    if (big5::containsNoCase(s, "utf-8")) return 2;
    if (big5::containsNoCase(s, "utf-7")) return 3;
    return 0;
}

int codePageOf(int charsetCode) {
    switch (charsetCode) {
    case 1: return platform::kGbk;
    case 2: return platform::kUtf8;
    case 3: return platform::kUtf7;
    default: return platform::kBig5;
    }
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

    int charsetCode_ = 0;
    std::u16string sender_, subject_, sizeText_, received_, preview_;
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
    const std::size_t r = big5::findNoCase(reply_, "\r\nFrom:");
    if (r == big5::npos) return;
    const std::string_view value = lineAt(reply_, big5::advance(reply_, r + 7, 1));
    try {
        if (value.find("?=") == std::string_view::npos) {
            const std::string address = ExtractAddressBytes(value);  // its error ends the parse
            sender_ = text(!value.empty() && value[0] == '<' ? std::string_view(address) : value);
            return;
        }
        const EncodedWord w = lastEncodedWord(value);
        Piece name{decodeByLetter(w.letter, w.payload), platform::kBig5};
        if (!big5::containsNoCase(value, "big5")) {
            const int code = charsetCodeOf(value);
            if (code != 0) {
                name.codePage = codePageOf(code);
                charsetCode_ = code;
            }
        }
        sender_ = text(name.bytes, name.codePage);
        const std::size_t lt = value.find('<');
        if (lt != std::string_view::npos) sender_ += text(value.substr(lt));
    } catch (const AddressError&) {
        fail(addressFailure());
        sender_ = text(value);
    } catch (const ParseFailure& f) {
        fail(f);
        sender_ = text(value);
    }
}

void Parser::subject() {
    const std::size_t m = big5::findNoCase(reply_, "Subject:");
    if (m == big5::npos) return;
    const std::string_view rest = reply_.substr(big5::advance(reply_, m + 8, 1));
    const std::size_t l = rest.find(kCrLf);
    const std::string_view line1 = rest.substr(0, l);
    std::size_t windowEnd = l == std::string_view::npos ? rest.size() : l;
    if (l != std::string_view::npos) {
        const std::size_t h = rest.find(kCrLf, l + 2);
        std::string next = std::string(rest.substr(l + 2, 5));
        for (char& c : next) c = big5::upper(c);
        if (h != std::string_view::npos && next != "FROM:") {
            const std::size_t v = rest.find(kCrLf, h + 2);
            if (v != std::string_view::npos) windowEnd = v;
        }
    }
    const std::string_view window = rest.substr(0, windowEnd);
    try {
        const std::size_t e = big5::findNoCase(window, "big5");
        if (e == big5::npos) {
            if (line1.find("?=") == std::string_view::npos) {
                subject_ = text(line1);
                return;
            }
            const EncodedWord w = lastEncodedWord(line1);
            std::string bytes = (w.letter == 'Q' || w.letter == 'B') ? decodeByLetter(w.letter, w.payload)
                                                                     : std::string(w.before);
            const int code = charsetCodeOf(window);
            if (code != 0) charsetCode_ = code;
            subject_ = text(bytes, codePageOf(code));
            return;
        }
        const char letter = e + 5 < rest.size() && big5::isSingleByteCharAt(rest, e + 5) ? big5::upper(rest[e + 5]) : 0;
        if (letter == 'B') {
            subject_ = text(DecodeBig5Words(rest));
        } else if (letter == 'Q') {
            const std::size_t end = line1.rfind("?=");
            if (end == std::string_view::npos) throw missingEndFailure();
            std::string_view v = line1.substr(0, end);
            const std::size_t q = v.rfind('?');
            if (q != std::string_view::npos) v = v.substr(q + 1);
            subject_ = text(DecodeQuotedPrintable(v));
        } else {
            subject_ = text(line1);
        }
    } catch (const ParseFailure& f) {
        fail(f);
        subject_ = text(line1);
    }
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
    const std::size_t d = big5::findNoCase(reply_, "Date:");
    if (d != big5::npos) {
        std::u16string line = text(lineAt(reply_, d));
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
    const std::size_t c = big5::findNoCase(reply_, "Content-Transfer-Encoding:");
    if (c != big5::npos) {
        const std::string_view line = lineAt(reply_, c);
        if (big5::containsNoCase(line, "base64")) mode = 1;
        else if (big5::containsNoCase(line, "quoted-printable")) mode = 2;
    }
    std::string_view body = reply_.substr(0, reply_.size() >= 3 ? reply_.size() - 3 : 0);
    const std::size_t last = body.rfind(kCrLf);
    body = body.substr(0, last == std::string_view::npos ? 0 : last);
    for (int k = 0; k < 3; ++k) {
        const std::size_t x = body.rfind(kCrLf);
        const std::string_view piece = x == std::string_view::npos ? body : body.substr(x + 2);
        body = body.substr(0, x == std::string_view::npos ? 0 : x);
        if (piece.empty()) continue;
        const std::string bytes = mode == 1   ? DecodeBase64(piece)
                                  : mode == 2 ? DecodeQuotedPrintable(piece)
                                              : std::string(piece);
        preview_ = text(bytes, codePageOf(charsetCode_)) + u"\r\n" + preview_;
    }
}

void Parser::run() {
    MessageList& list = m_.AccountLists[a_];
    const std::size_t n = list.size() + 1;
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
        try {
            const std::u16string address = ExtractAddress(row.SenderText);
            ClassifyEntry(row, address, sizeBytes_, s_.classify);
        } catch (const AddressError&) {
            fail(addressFailure());
        }
    }
    if (m_.PreviewLines) row.PreviewText = preview_;
    MessageEntry shown = row;
    shown.PreviewText.clear();
    list.push_back(std::move(row));
    m_.VisibleList.push_back(std::move(shown));

    m_.LastActivity = static_cast<std::int32_t>(std::llround(s_.clock.secondsSinceMidnight())) % 86400;
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
