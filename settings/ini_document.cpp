// Parsing and writing one INI file, line by line, keeping untouched lines as
// they were read.
#include "settings/ini_document.h"

#include <algorithm>
#include <limits>

namespace iw::settings {

namespace {

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

namespace {

char16_t foldChar(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) return static_cast<char16_t>(c + 32);
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 32);
    return c;
}

}  // namespace

std::u16string FoldName(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) c = foldChar(c);
    return out;
}

std::u16string TrimBlanks(std::u16string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    return std::u16string(text.substr(b, e - b));
}

std::int32_t LeadingNumber(std::u16string_view value) {
    std::size_t i = 0;
    while (i < value.size() && isBlank(value[i])) ++i;
    bool negative = false;
    if (i < value.size() && value[i] == u'-') {
        negative = true;
        ++i;
    }
    std::int64_t n = 0;
    const std::int64_t limit = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
    for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i) {
        n = n * 10 + (value[i] - u'0');
        if (n > limit) n = limit;  // keep going to the end of the digits, clamped
    }
    if (negative) n = -n;
    n = std::clamp<std::int64_t>(n, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max());
    return static_cast<std::int32_t>(n);
}

// ---------------------------------------------------------------------------
// Encodings

namespace {

using Encoding = IniDocument::Encoding;

std::u16string decode(const platform::CodePage& cp, Encoding enc, std::string_view raw) {
    switch (enc) {
    case Encoding::Ansi950: return cp.toUtf16(platform::kBig5, raw);
    case Encoding::Utf8Bom: return cp.toUtf16(platform::kUtf8, raw);
    case Encoding::Utf16LeBom:
    case Encoding::Utf16BeBom: {
        std::u16string out;
        out.reserve(raw.size() / 2);
        const bool le = enc == Encoding::Utf16LeBom;
        for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
            const unsigned a = static_cast<unsigned char>(raw[i]);
            const unsigned b = static_cast<unsigned char>(raw[i + 1]);
            out.push_back(static_cast<char16_t>(le ? (a | (b << 8)) : ((a << 8) | b)));
        }
        if (raw.size() % 2) out.push_back(u'\uFFFD');  // a cut last byte
        return out;
    }
    }
    return {};
}

std::string encode(const platform::CodePage& cp, Encoding enc, std::u16string_view text) {
    switch (enc) {
    case Encoding::Ansi950: return cp.fromUtf16(platform::kBig5, text);
    case Encoding::Utf8Bom: return cp.fromUtf16(platform::kUtf8, text);
    case Encoding::Utf16LeBom:
    case Encoding::Utf16BeBom: {
        std::string out;
        out.reserve(text.size() * 2);
        const bool le = enc == Encoding::Utf16LeBom;
        for (char16_t c : text) {
            const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
            out.push_back(le ? lo : hi);
            out.push_back(le ? hi : lo);
        }
        return out;
    }
    }
    return {};
}

std::string_view bomOf(Encoding enc) {
    switch (enc) {
    case Encoding::Ansi950: return {};
    case Encoding::Utf8Bom: return "\xEF\xBB\xBF";
    case Encoding::Utf16LeBom: return "\xFF\xFE";
    case Encoding::Utf16BeBom: return "\xFE\xFF";
    }
    return {};
}

struct RawLine {
    std::string_view bytes;
    std::string_view eol;
};

// Splits at LF (one CR before it belongs to the line end). In the byte
// encodings LF and CR never occur inside a character (Big5 trail bytes start
// at 0x40), so splitting the bytes is safe.
std::vector<RawLine> splitLines(Encoding enc, std::string_view body) {
    std::vector<RawLine> out;
    const bool wide = enc == Encoding::Utf16LeBom || enc == Encoding::Utf16BeBom;
    const std::size_t unit = wide ? 2 : 1;
    auto unitIs = [&](std::size_t pos, char16_t ch) {
        if (!wide) return body[pos] == static_cast<char>(ch);
        const char lo = static_cast<char>(ch & 0xFF), hi = static_cast<char>(ch >> 8);
        if (enc == Encoding::Utf16LeBom) return body[pos] == lo && body[pos + 1] == hi;
        return body[pos] == hi && body[pos + 1] == lo;
    };
    std::size_t start = 0, pos = 0;
    const std::size_t usable = body.size() - body.size() % unit;
    while (pos < usable) {
        if (unitIs(pos, kLf)) {
            std::size_t end = pos;
            if (end >= start + unit && unitIs(end - unit, kCr)) end -= unit;
            out.push_back({body.substr(start, end - start), body.substr(end, pos + unit - end)});
            pos += unit;
            start = pos;
        } else {
            pos += unit;
        }
    }
    if (start < body.size()) out.push_back({body.substr(start), {}});
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Lines and sections

IniDocument::Line IniDocument::makeLine(std::u16string text) {
    Line line;
    line.text = std::move(text);
    std::size_t b = 0;
    while (b < line.text.size() && isBlank(line.text[b])) ++b;
    const std::u16string_view t(line.text);
    if (b < t.size() && t[b] == u'[') {
        const std::size_t close = t.rfind(u']');
        if (close != std::u16string_view::npos && close > b) {
            line.kind = Kind::Header;
            line.name = TrimBlanks(t.substr(b + 1, close - b - 1));
            return line;
        }
    }
    if (b < t.size() && t[b] == u';') return line;  // a comment
    const std::size_t eq = t.find(u'=');
    if (eq != std::u16string_view::npos) {
        line.kind = Kind::Entry;
        line.name = TrimBlanks(t.substr(0, eq));
        line.value = TrimBlanks(t.substr(eq + 1));
    }
    return line;
}

void IniDocument::Section::reindex() {
    index.clear();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == Kind::Entry) index.emplace(FoldName(lines[i].name), i);
}

void IniDocument::reindexSections() {
    sectionIndex_.clear();
    for (std::size_t i = 0; i < sections_.size(); ++i) sectionIndex_.emplace(FoldName(sections_[i].header.name), i);
}

namespace {

// The trimmed, folded form of a name in a buffer kept per thread, so a keyed
// read allocates nothing once the buffer has grown to the longest name.
const std::u16string& lookupName(std::u16string_view name) {
    thread_local std::u16string buffer;
    std::size_t b = 0, e = name.size();
    while (b < e && isBlank(name[b])) ++b;
    while (e > b && isBlank(name[e - 1])) --e;
    buffer.assign(name.substr(b, e - b));
    for (char16_t& c : buffer) c = foldChar(c);
    return buffer;
}

}  // namespace

const IniDocument::Section* IniDocument::findSection(std::u16string_view section) const {
    auto it = sectionIndex_.find(lookupName(section));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

IniDocument::Section* IniDocument::findSection(std::u16string_view section) {
    auto it = sectionIndex_.find(lookupName(section));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

IniDocument IniDocument::parse(const platform::CodePage& cp, std::string_view bytes) {
    IniDocument doc;
    if (bytes.starts_with("\xEF\xBB\xBF")) doc.encoding_ = Encoding::Utf8Bom;
    else if (bytes.starts_with("\xFF\xFE")) doc.encoding_ = Encoding::Utf16LeBom;
    else if (bytes.starts_with("\xFE\xFF")) doc.encoding_ = Encoding::Utf16BeBom;
    const std::string_view body = bytes.substr(bomOf(doc.encoding_).size());

    for (const RawLine& raw : splitLines(doc.encoding_, body)) {
        Line line = makeLine(decode(cp, doc.encoding_, raw.bytes));
        line.raw = std::string(raw.bytes);
        line.eol = std::string(raw.eol);
        if (line.kind == Kind::Header) {
            Section s;
            s.header = std::move(line);
            doc.sections_.push_back(std::move(s));
        } else if (doc.sections_.empty()) {
            doc.preamble_.push_back(std::move(line));
        } else {
            doc.sections_.back().lines.push_back(std::move(line));
        }
    }
    for (Section& s : doc.sections_) s.reindex();
    doc.reindexSections();
    return doc;
}

std::string IniDocument::serialise(const platform::CodePage& cp) const {
    std::string out(bomOf(encoding_));
    auto put = [&](const Line& line) {
        out += line.changed ? encode(cp, encoding_, line.text) : line.raw;
        out += line.eol;
    };
    for (const Line& l : preamble_) put(l);
    for (const Section& s : sections_) {
        put(s.header);
        for (const Line& l : s.lines) put(l);
    }
    return out;
}

const std::u16string* IniDocument::find(std::u16string_view section, std::u16string_view key) const {
    const Section* s = findSection(section);
    if (!s) return nullptr;
    auto it = s->index.find(lookupName(key));
    return it == s->index.end() ? nullptr : &s->lines[it->second].value;
}

namespace {

bool hasLineBreak(std::u16string_view t) { return t.find_first_of(u"\r\n") != std::u16string_view::npos; }

}  // namespace

bool IniDocument::validSectionName(std::u16string_view section) {
    const std::u16string t = TrimBlanks(section);
    return !t.empty() && !hasLineBreak(t) && t.find(u']') == std::u16string::npos;
}

bool IniDocument::validKeyName(std::u16string_view key) {
    const std::u16string t = TrimBlanks(key);
    return !t.empty() && !hasLineBreak(t) && t.find(u'=') == std::u16string::npos && t[0] != u'[' && t[0] != u';';
}

bool IniDocument::validValue(std::u16string_view value) { return !hasLineBreak(value); }

namespace {

std::string crlfFor(Encoding enc) {
    switch (enc) {
    case Encoding::Utf16LeBom: return std::string("\r\0\n\0", 4);
    case Encoding::Utf16BeBom: return std::string("\0\r\0\n", 4);
    default: return "\r\n";
    }
}

}  // namespace

void IniDocument::set(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    const std::u16string keyName = TrimBlanks(key);
    const std::string crlf = crlfFor(encoding_);
    Line entry = makeLine(keyName + u"=" + std::u16string(value));
    entry.changed = true;
    entry.eol = crlf;

    Section* s = findSection(section);
    if (!s) {
        // A new section at the end of the file; the line before it gets a
        // line end when the file ended without one.
        Line* last = nullptr;
        if (!sections_.empty()) last = sections_.back().lines.empty() ? &sections_.back().header : &sections_.back().lines.back();
        else if (!preamble_.empty()) last = &preamble_.back();
        if (last && last->eol.empty()) last->eol = crlf;
        Section fresh;
        std::u16string header(1, u'[');
        header += TrimBlanks(section);
        header += u']';
        fresh.header = makeLine(std::move(header));
        fresh.header.changed = true;
        fresh.header.eol = crlf;
        fresh.lines.push_back(std::move(entry));
        fresh.reindex();
        sections_.push_back(std::move(fresh));
        sectionIndex_.emplace(FoldName(sections_.back().header.name), sections_.size() - 1);
        return;
    }

    auto it = s->index.find(FoldName(keyName));
    if (it != s->index.end()) {
        // Replace in place, keeping the name as it is spelt in the file.
        Line& old = s->lines[it->second];
        if (old.value == entry.value) return;  // nothing to change
        Line replaced = makeLine(old.name + u"=" + std::u16string(value));
        replaced.changed = true;
        replaced.eol = old.eol.empty() ? std::string() : crlf;
        old = std::move(replaced);
        return;
    }

    // Append after the last non-blank line of the section. Only blank lines
    // follow that point, so the index of every key stays valid.
    std::size_t pos = s->lines.size();
    while (pos > 0 && TrimBlanks(s->lines[pos - 1].text).empty()) --pos;
    Line& before = pos == 0 ? s->header : s->lines[pos - 1];
    if (before.eol.empty()) before.eol = crlf;
    s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(pos), std::move(entry));
    s->index.emplace(FoldName(keyName), pos);
    // Lines after `pos` moved by one, but none of them is an entry.
}

bool IniDocument::erase(std::u16string_view section, std::u16string_view key) {
    Section* s = findSection(section);
    if (!s) return false;
    const std::u16string folded = FoldName(TrimBlanks(key));
    if (!s->index.count(folded)) return false;
    std::erase_if(s->lines, [&](const Line& l) { return l.kind == Kind::Entry && FoldName(l.name) == folded; });
    s->reindex();
    return true;
}

bool IniDocument::eraseSection(std::u16string_view section) {
    const std::u16string folded = FoldName(TrimBlanks(section));
    const std::size_t before = sections_.size();
    std::erase_if(sections_, [&](const Section& s) { return FoldName(s.header.name) == folded; });
    if (sections_.size() == before) return false;
    reindexSections();
    return true;
}

std::vector<std::u16string> IniDocument::keys(std::u16string_view section) const {
    std::vector<std::u16string> out;
    const Section* s = findSection(section);
    if (!s) return out;
    for (std::size_t i = 0; i < s->lines.size(); ++i) {
        const Line& l = s->lines[i];
        // Each name once, at its first occurrence (the one reads see).
        if (l.kind == Kind::Entry) {
            auto it = s->index.find(FoldName(l.name));
            if (it != s->index.end() && it->second == i) out.push_back(l.name);
        }
    }
    return out;
}

std::vector<std::u16string> IniDocument::lines() const {
    std::vector<std::u16string> out;
    for (const Line& l : preamble_) out.push_back(l.text);
    for (const Section& s : sections_) {
        out.push_back(s.header.text);
        for (const Line& l : s.lines) out.push_back(l.text);
    }
    return out;
}

}  // namespace iw::settings
