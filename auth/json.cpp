// The bounded JSON object reader.
#include "auth/json.h"

#include <cstdint>
#include <string>

#include "platform/unicode_forms.h"

namespace iw::auth {
namespace {

constexpr int kMaxDepth = 16;
constexpr std::size_t kMaxMembers = 256;

class Reader {
public:
    explicit Reader(std::string_view t) : t_(t) {}

    std::optional<JsonObject> object() {
        JsonObject o;
        skip();
        if (!take('{')) return std::nullopt;
        skip();
        if (!take('}')) {
            for (;;) {
                skip();
                std::string name;
                if (!string(name)) return std::nullopt;
                skip();
                if (!take(':')) return std::nullopt;
                skip();
                std::string value;
                bool keep = false;
                if (!value_(value, keep, 1)) return std::nullopt;
                if (keep) o.members[name] = value;
                if (o.members.size() > kMaxMembers) return std::nullopt;
                skip();
                if (take(',')) continue;
                if (take('}')) break;
                return std::nullopt;
            }
        }
        skip();
        if (p_ != t_.size()) return std::nullopt;
        return o;
    }

private:
    bool take(char c) {
        if (p_ < t_.size() && t_[p_] == c) {
            ++p_;
            return true;
        }
        return false;
    }
    void skip() {
        while (p_ < t_.size() && (t_[p_] == ' ' || t_[p_] == '\t' || t_[p_] == '\r' || t_[p_] == '\n')) ++p_;
    }
    static int hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    bool hex4(std::uint32_t& v) {
        if (p_ + 4 > t_.size()) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hex(t_[p_++]);
            if (h < 0) return false;
            v = v * 16 + static_cast<std::uint32_t>(h);
        }
        return true;
    }
    bool string(std::string& out) {
        if (!take('"')) return false;
        while (p_ < t_.size()) {
            const char c = t_[p_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (p_ >= t_.size()) return false;
            const char e = t_[p_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::uint32_t v;
                if (!hex4(v)) return false;
                std::u16string units(1, static_cast<char16_t>(v));
                if (v >= 0xD800 && v <= 0xDBFF) {
                    std::uint32_t lo;
                    if (!take('\\') || !take('u') || !hex4(lo) || lo < 0xDC00 || lo > 0xDFFF) return false;
                    units.push_back(static_cast<char16_t>(lo));
                } else if (v >= 0xDC00 && v <= 0xDFFF) {
                    return false;
                }
                out += platform::utf16ToUtf8(units);
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool literal(std::string_view word) {
        if (t_.substr(p_, word.size()) != word) return false;
        p_ += word.size();
        return true;
    }
    bool number(std::string& out) {
        const std::size_t start = p_;
        take('-');
        std::size_t digits = 0;
        while (p_ < t_.size() && ((t_[p_] >= '0' && t_[p_] <= '9') || t_[p_] == '.' || t_[p_] == 'e' ||
                                  t_[p_] == 'E' || t_[p_] == '+' || t_[p_] == '-')) {
            ++p_;
            ++digits;
        }
        if (digits == 0) return false;
        out.assign(t_.substr(start, p_ - start));
        return true;
    }
    // A value; `keep` says whether it is a scalar worth keeping.
    bool value_(std::string& out, bool& keep, int depth) {
        if (depth > kMaxDepth || p_ >= t_.size()) return false;
        const char c = t_[p_];
        keep = true;
        if (c == '"') return string(out);
        if (c == 't') return literal("true") && (out = "true", true);
        if (c == 'f') return literal("false") && (out = "false", true);
        if (c == 'n') return literal("null") && (keep = false, true);
        if (c == '{' || c == '[') {
            keep = false;
            const char close = c == '{' ? '}' : ']';
            ++p_;
            skip();
            if (take(close)) return true;
            for (;;) {
                skip();
                if (c == '{') {
                    std::string name;
                    if (!string(name)) return false;
                    skip();
                    if (!take(':')) return false;
                    skip();
                }
                std::string inner;
                bool k = false;
                if (!value_(inner, k, depth + 1)) return false;
                skip();
                if (take(',')) continue;
                return take(close);
            }
        }
        return number(out);
    }

    std::string_view t_;
    std::size_t p_ = 0;
};

}  // namespace

std::optional<JsonObject> ParseJsonObject(std::string_view text) { return Reader(text).object(); }

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static const char digits[] = "0123456789abcdef";
                out += "\\u00";
                out += digits[(c >> 4) & 15];
                out += digits[c & 15];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

}  // namespace iw::auth
