// The date reader of the header parser.
#include "filter/date_text.h"

#include <array>
#include <string>
#include <vector>

namespace iw::filter {

namespace {

struct Token {
    enum Kind { Number, Word, Sep } kind;
    std::u16string text;
    int value = 0;
    int digits = 0;
};

char16_t lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

std::optional<std::vector<Token>> tokenize(std::u16string_view s) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const char16_t c = s[i];
        if (c == u' ' || c == u'\t') {
            ++i;
        } else if (c >= u'0' && c <= u'9') {
            Token t{Token::Number, {}, 0, 0};
            while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
                if (t.digits >= 5) return std::nullopt;  // no field has more than 4 digits
                t.value = t.value * 10 + (s[i] - u'0');
                ++t.digits;
                ++i;
            }
            out.push_back(t);
        } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
            Token t{Token::Word, {}, 0, 0};
            while (i < s.size() && ((s[i] >= u'a' && s[i] <= u'z') || (s[i] >= u'A' && s[i] <= u'Z')))
                t.text.push_back(lower(s[i++]));
            out.push_back(t);
        } else if (c == u':' || c == u'/' || c == u'-' || c == u',' || c == u'.') {
            out.push_back(Token{Token::Sep, std::u16string(1, c), 0, 0});
            ++i;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

int monthFromName(const std::u16string& w) {
    static const std::array<std::u16string_view, 12> names = {u"january", u"february", u"march",     u"april",
                                                              u"may",     u"june",     u"july",      u"august",
                                                              u"september", u"october", u"november", u"december"};
    for (int m = 0; m < 12; ++m) {
        const auto& n = names[m];
        if (w == n || (w.size() == 3 && n.substr(0, 3) == w) || (m == 8 && w == u"sept")) return m + 1;
    }
    return 0;
}

bool isWeekday(const std::u16string& w) {
    static const std::array<std::u16string_view, 7> names = {u"sunday", u"monday", u"tuesday", u"wednesday",
                                                             u"thursday", u"friday", u"saturday"};
    for (const auto& n : names)
        if (w == n || (w.size() == 3 && n.substr(0, 3) == w)) return true;
    return false;
}

int fullYear(const Token& t) {
    if (t.digits <= 2) return t.value < 30 ? 2000 + t.value : 1900 + t.value;
    return t.value;
}

bool isSep(const std::vector<Token>& t, std::size_t i, char16_t c) {
    return i < t.size() && t[i].kind == Token::Sep && t[i].text[0] == c;
}
bool isNum(const std::vector<Token>& t, std::size_t i) { return i < t.size() && t[i].kind == Token::Number; }

int daysInMonth(int y, int m) {
    static const int d[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
    return d[m - 1];
}

}  // namespace

std::optional<platform::LocalDateTime> ReadDateText(std::u16string_view text) {
    auto toks = tokenize(text);
    if (!toks || toks->empty()) return std::nullopt;
    const std::vector<Token>& t = *toks;
    std::size_t i = 0;
    if (t[i].kind == Token::Word && isWeekday(t[i].text)) {
        ++i;
        if (isSep(t, i, u',')) ++i;
    }
    platform::LocalDateTime r{};
    // The date part.
    if (isNum(t, i) && i + 1 < t.size() && t[i + 1].kind == Token::Word) {
        // d Mon yyyy
        r.day = t[i].value;
        r.month = monthFromName(t[i + 1].text);
        i += 2;
        if (isSep(t, i, u'-')) ++i;
        if (!isNum(t, i)) return std::nullopt;
        r.year = fullYear(t[i++]);
    } else if (i < t.size() && t[i].kind == Token::Word) {
        // Mon d yyyy, Mon d, yyyy
        r.month = monthFromName(t[i].text);
        ++i;
        if (!isNum(t, i)) return std::nullopt;
        r.day = t[i++].value;
        if (isSep(t, i, u',')) ++i;
        if (!isNum(t, i)) return std::nullopt;
        r.year = fullYear(t[i++]);
    } else if (isNum(t, i) && t[i].digits == 4 && (isSep(t, i + 1, u'/') || isSep(t, i + 1, u'-'))) {
        // yyyy/m/d, yyyy-m-d
        const char16_t sep = t[i + 1].text[0];
        r.year = t[i].value;
        if (!isNum(t, i + 2) || !isSep(t, i + 3, sep) || !isNum(t, i + 4)) return std::nullopt;
        r.month = t[i + 2].value;
        r.day = t[i + 4].value;
        i += 5;
    } else {
        return std::nullopt;
    }
    if (r.month < 1 || r.month > 12 || r.year < 100 || r.year > 9999) return std::nullopt;
    if (r.day < 1 || r.day > daysInMonth(r.year, r.month)) return std::nullopt;
    // The time part: h:mm or h:mm:ss, or nothing.
    if (i < t.size()) {
        if (!isNum(t, i) || !isSep(t, i + 1, u':') || !isNum(t, i + 2)) return std::nullopt;
        if (t[i].digits > 2 || t[i + 2].digits != 2) return std::nullopt;
        r.hour = t[i].value;
        r.minute = t[i + 2].value;
        i += 3;
        if (isSep(t, i, u':')) {
            if (!isNum(t, i + 1) || t[i + 1].digits != 2) return std::nullopt;
            r.second = t[i + 1].value;
            i += 2;
        }
        if (i != t.size()) return std::nullopt;
        if (r.hour > 23 || r.minute > 59 || r.second > 59) return std::nullopt;
    }
    return r;
}

}  // namespace iw::filter
