// Accounts, the roster, sender-list membership and password scrambling.
#include "settings/accounts.h"

namespace iw::settings {

std::u16string RosterSection(const std::u16string& userSection) { return userSection + u"-Mail"; }
std::u16string BlackListSection(const std::u16string& userSection) { return userSection + u"-BlackList"; }
std::u16string TrustListSection(const std::u16string& userSection) { return userSection + u"-TrustList"; }
std::u16string DomainListSection(const std::u16string& userSection) { return userSection + u"-Domain"; }

std::vector<std::u16string> ReadRoster(SettingsStore& s, const std::u16string& userSection) {
    return ListSectionKeys(s, RosterSection(userSection));
}

MailAccount ReadMailAccount(const std::u16string& address, const AccountValue& value) {
    MailAccount a;
    a.Address = address;
    a.User = value(u"Account", u"");
    a.Password = value(u"PassWord", u"");
    a.Pop3Host = value(u"PoP3", u"");
    a.Security = value(u"Security", u"0");
    a.CertSha256 = value(u"CertSha256", u"");
    a.Auth = value(u"Auth", u"0");
    a.OAuthProvider = value(u"OAuthProvider", u"");
    a.OAuthTenant = value(u"OAuthTenant", u"");
    a.OAuthClientId = value(u"OAuthClientId", u"");
    a.OAuthClientSecret = value(u"OAuthClientSecret", u"");
    a.OAuthAuthorizeUrl = value(u"OAuthAuthorizeUrl", u"");
    a.OAuthTokenUrl = value(u"OAuthTokenUrl", u"");
    a.OAuthDeviceUrl = value(u"OAuthDeviceUrl", u"");
    a.OAuthScope = value(u"OAuthScope", u"");
    return a;
}

MailAccount ReadMailAccount(SettingsStore& s, const std::u16string& address) {
    return ReadMailAccount(address, [&](const char16_t* key, const char16_t* defaultValue) {
        return ReadSetting(s, address, key, defaultValue);
    });
}

bool IsTrusted(SettingsStore& s, const std::u16string& userSection, const std::u16string& address) {
    return ReadSettingNumber(s, IniFile::Set, TrustListSection(userSection), address, 1) == 0;
}

bool IsBlackListed(SettingsStore& s, const std::u16string& userSection, const std::u16string& address) {
    return ReadSettingNumber(s, IniFile::Set, BlackListSection(userSection), address, 2) != 2;
}

bool IsDomainListed(SettingsStore& s, const std::u16string& userSection, const std::u16string& domain) {
    return ReadSettingNumber(s, IniFile::Set, DomainListSection(userSection), domain, 2) == 0;
}

// ---------------------------------------------------------------------------
// Scrambling. The codes are the characters' codes in code page 950. Only
// printable ASCII (32-126) takes part in the arithmetic; every other
// character (control characters, Chinese characters, anything the page
// cannot hold) is scrambled as "?" (63), the substitution the code page
// makes for a character it cannot hold, and such a character in a stored
// text unscrambles to "?". PasswordIsScramblable() lets a dialog
// refuse such a password before it is stored.
//
// Positions beyond 94 go past the printable range in the plain formula; there
// the scrambler keeps subtracting 95 until the code is printable again, and
// the unscrambler adds 95 back as often as needed, so passwords of any length
// survive storage. For every stored text that the plain formula produces
// (which is every password of up to 94 characters, and at later positions
// every character whose plain code stays printable) both directions give
// exactly the results of the plain formula.
//
// "%" and "z" share one scrambled character at every position: it comes back
// as "z" where the plain formula gives "z" (positions 1 to 94) and as "%"
// from position 95 on.

namespace {

constexpr int kPrintableFirst = 32;
constexpr int kPrintableLast = 126;
constexpr int kUnknown = '?';

constexpr int kOutside = -1;

// The code of each character of `text` in code page 950, or kOutside for a
// character outside printable ASCII (a surrogate pair is one character).
// Printable ASCII has the same codes in code page 950 as in Unicode.
std::vector<int> codesOf(const std::u16string& text) {
    std::vector<int> codes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
        codes.push_back(c >= kPrintableFirst && c <= kPrintableLast ? c : kOutside);
    }
    return codes;
}

std::u16string textOf(const platform::CodePage& cp, const std::string& bytes) {
    return cp.toUtf16(platform::kBig5, bytes);
}

}  // namespace

bool PasswordIsScramblable(const std::u16string& text) {
    for (char16_t c : text)
        if (c < kPrintableFirst || c > kPrintableLast) return false;
    return true;
}

std::u16string ScramblePassword(const platform::CodePage& cp, const std::u16string& text) {
    const std::vector<int> codes = codesOf(text);
    std::string out;
    out.reserve(codes.size() + 1);
    unsigned long long sum = 0;
    for (std::size_t k = 0; k < codes.size(); ++k) {
        const long long i = static_cast<long long>(k) + 1;
        const int c = codes[k] == kOutside ? kUnknown : codes[k];
        sum += static_cast<unsigned long long>(c);
        long long e = (c ^ 5) + i;
        if (e > kPrintableLast) {
            e -= 95;  // the plain formula's one wrap
            if (e > kPrintableLast) e = kPrintableFirst + (e - kPrintableFirst) % 95;  // later positions
        }
        out.push_back(static_cast<char>(e));
    }
    out.push_back(static_cast<char>('0' + static_cast<int>(sum % 10) + 13));
    return textOf(cp, out);
}

std::u16string UnscramblePassword(const platform::CodePage& cp, const std::u16string& text) {
    const std::vector<int> codes = codesOf(text);
    std::string out;
    if (codes.empty()) return {};
    // The last character is the check character; it is skipped, never verified.
    for (std::size_t k = 0; k + 1 < codes.size(); ++k) {
        if (codes[k] == kOutside) {
            out.push_back(static_cast<char>(kUnknown));  // not a scrambled character
            continue;
        }
        const long long i = static_cast<long long>(k) + 1;
        long long d = codes[k] - i;
        // Undo the later positions' extra wraps: the plain formula only ever
        // sees d from -63 up.
        if (d < -63) d += ((-63 - d) + 94) / 95 * 95;
        const long long v = d <= 32 ? (d + 95) ^ 5 : d ^ 5;
        out.push_back(static_cast<char>(v));
    }
    return textOf(cp, out);
}

void SplitAccountHost(const std::string& value, platform::MailSecurity security, std::string& host,
                      std::uint16_t& port) {
    host = value;
    port = platform::DefaultPop3Port(security);
    const std::size_t colon = value.rfind(':');
    if (colon == std::string::npos) return;
    host = value.substr(0, colon);
    const std::string digits = value.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return;
    const long n = std::stol(digits);
    if (n >= 1 && n <= 65535) port = static_cast<std::uint16_t>(n);
}

}  // namespace iw::settings
