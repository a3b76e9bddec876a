// Token files: their text form, their names, and the store over SecretStore.
#include "auth/token_store.h"

#include <charconv>

namespace iw::auth {

namespace {

constexpr std::string_view kHeader = "inkwarden-oauth2 1\n";

bool clean(std::string_view v) {
    for (const char c : v)
        if (c == '\n' || c == '\r' || c == '\0') return false;
    return true;
}

}  // namespace

std::string SerializeTokens(const StoredTokens& t) {
    std::string out(kHeader);
    out += "refresh=" + t.refreshToken + "\n";
    out += "access=" + t.accessToken + "\n";
    out += "expires=" + std::to_string(t.accessExpiresAt) + "\n";
    return out;
}

std::optional<StoredTokens> ParseTokens(std::string_view text) {
    if (text.substr(0, kHeader.size()) != kHeader) return std::nullopt;
    text.remove_prefix(kHeader.size());
    StoredTokens t;
    bool seenRefresh = false, seenAccess = false, seenExpires = false;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        if (nl == std::string_view::npos) return std::nullopt;
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl + 1);
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        if (!clean(value)) return std::nullopt;
        if (key == "refresh" && !seenRefresh) {
            t.refreshToken.assign(value);
            seenRefresh = true;
        } else if (key == "access" && !seenAccess) {
            t.accessToken.assign(value);
            seenAccess = true;
        } else if (key == "expires" && !seenExpires) {
            const auto r = std::from_chars(value.data(), value.data() + value.size(), t.accessExpiresAt);
            if (r.ec != std::errc() || r.ptr != value.data() + value.size()) return std::nullopt;
            seenExpires = true;
        } else {
            return std::nullopt;
        }
    }
    if (!seenRefresh || !seenAccess || !seenExpires) return std::nullopt;
    return t;
}

std::u16string TokenFilePath(const std::u16string& folder, char16_t sep, const std::u16string& address) {
    static const char16_t hex[] = u"0123456789ABCDEF";
    std::u16string name = u"oauth-";
    for (std::size_t i = 0; i < address.size(); ++i) {
        char32_t c = address[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < address.size() && address[i + 1] >= 0xDC00 && address[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (address[i + 1] - 0xDC00);
            ++i;
        }
        const bool keep = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                          c == u'@' || c == u'.' || c == u'-' || c == u'_';
        if (keep && !(c == u'.' && name.size() == 6)) {
            name += static_cast<char16_t>(c);
            continue;
        }
        std::string utf8;
        if (c < 0x80) utf8 += static_cast<char>(c);
        else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
        for (const char b : utf8) {
            const unsigned char u = static_cast<unsigned char>(b);
            name += u'%';
            name += hex[u >> 4];
            name += hex[u & 15];
        }
    }
    name += u".tok";
    std::u16string path = folder;
    if (!path.empty() && path.back() != sep) path += sep;
    return path + name;
}

std::optional<StoredTokens> TokenStore::load(const std::u16string& address, platform::SecretProblem& why) const {
    const std::optional<std::string> text = secrets_.read(TokenFilePath(folder_, sep_, address), why);
    if (!text) return std::nullopt;
    std::optional<StoredTokens> t = ParseTokens(*text);
    if (!t) why = platform::SecretProblem::Unreadable;
    return t;
}

bool TokenStore::save(const std::u16string& address, const StoredTokens& tokens) {
    if (!clean(tokens.refreshToken) || !clean(tokens.accessToken)) return false;
    return secrets_.write(TokenFilePath(folder_, sep_, address), SerializeTokens(tokens));
}

bool TokenStore::forget(const std::u16string& address) {
    return secrets_.remove(TokenFilePath(folder_, sep_, address));
}

bool TokenStore::move(const std::u16string& from, const std::u16string& to) {
    const auto folded = [](std::u16string s) {
        for (char16_t& c : s)
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        return s;
    };
    if (folded(TokenFilePath(folder_, sep_, from)) == folded(TokenFilePath(folder_, sep_, to))) return true;
    platform::SecretProblem why = platform::SecretProblem::None;
    const std::optional<StoredTokens> tokens = load(from, why);
    if (!tokens) return why == platform::SecretProblem::Missing;
    return save(to, *tokens) && forget(from);
}

std::u16string TokenProblemText(platform::SecretProblem why) {
    switch (why) {
    case platform::SecretProblem::None: return {};
    case platform::SecretProblem::Missing: return u"尚未登入帳號,請在帳號設定中按「登入」";
    case platform::SecretProblem::TooOpen: return u"權杖檔案權限過寬(須為0600),未使用";
    case platform::SecretProblem::Unreadable: return u"權杖檔案無法讀取,請重新登入";
    case platform::SecretProblem::Undecryptable: return u"權杖無法解密,請重新登入";
    }
    return {};
}

}  // namespace iw::auth
