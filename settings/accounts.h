// Mail accounts, the account roster, the three sender lists and the
// scrambling of stored mail passwords, all kept in set.ini.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/tls.h"
#include "settings/settings_store.h"

namespace iw::settings {

// Host and port of a "PoP3" value ("host" or "host:port"); the port the
// encryption implies when none, or no usable one, is given.
void SplitAccountHost(const std::string& value, platform::MailSecurity security, std::string& host,
                      std::uint16_t& port);

// One configured POP3 mailbox. `Password` stays in its scrambled stored form
// until the moment it is sent or shown.
struct MailAccount {
    std::u16string Address;   // e-mail address: roster key and section name
    std::u16string User;      // key "Account"
    std::u16string Password;  // key "PassWord", scrambled
    std::u16string Pop3Host;  // key "PoP3"; "host" (port 110, or 995 for TLS) or "host:port"
    std::u16string Security;  // key "Security"; "0" plain (or missing), "1" TLS, "2" STLS
    std::u16string CertSha256;  // key "CertSha256"; the one certificate the user chose to trust
    // How the account logs in: key "Auth", "1" OAuth2, "0" or missing the password.
    std::u16string Auth;
    std::u16string OAuthProvider;      // "microsoft", "google" or "custom"
    std::u16string OAuthTenant;        // Microsoft's tenant; empty means "common"
    std::u16string OAuthClientId;      // empty: the build's default
    std::u16string OAuthClientSecret;  // the own client ID's "client secret" (Google's desktop clients)
    std::u16string OAuthAuthorizeUrl;  // override of the provider's endpoints and scope
    std::u16string OAuthTokenUrl;
    std::u16string OAuthDeviceUrl;
    std::u16string OAuthScope;
};

// The section names of one Windows user.
std::u16string RosterSection(const std::u16string& userSection);     // <user>-Mail
std::u16string BlackListSection(const std::u16string& userSection);  // <user>-BlackList
std::u16string TrustListSection(const std::u16string& userSection);  // <user>-TrustList
std::u16string DomainListSection(const std::u16string& userSection); // <user>-Domain

// Every account of the roster in file order, however many there are.
std::vector<std::u16string> ReadRoster(SettingsStore& s, const std::u16string& userSection);
// An account's keys as `value(key, default)` gives them; every reading of
// an account's section goes through the one list of keys here.
using AccountValue = std::function<std::u16string(const char16_t* key, const char16_t* defaultValue)>;
MailAccount ReadMailAccount(const std::u16string& address, const AccountValue& value);
MailAccount ReadMailAccount(SettingsStore& s, const std::u16string& address);

// Sender-list membership, one keyed read each (names match without regard
// to letter case).
bool IsTrusted(SettingsStore& s, const std::u16string& userSection, const std::u16string& address);
bool IsBlackListed(SettingsStore& s, const std::u16string& userSection, const std::u16string& address);
bool IsDomainListed(SettingsStore& s, const std::u16string& userSection, const std::u16string& domain);

// Password scrambling for key "PassWord". Characters are handled by their
// code in code page 950. Only printable ASCII takes part: any other
// character is scrambled as "?" (see PasswordIsScramblable). Passwords of any
// length survive storage; "%" and "z" share a scrambled form (it comes back
// as "z" at positions 1 to 94 and as "%" from position 95 on).
std::u16string ScramblePassword(const platform::CodePage& cp, const std::u16string& text);
std::u16string UnscramblePassword(const platform::CodePage& cp, const std::u16string& text);

// True when every character is printable ASCII (32 to 126), so the password
// comes back from storage as typed (but for "%" / "z"). A dialog refuses any
// other password before it scrambles it.
bool PasswordIsScramblable(const std::u16string& text);

}  // namespace iw::settings
