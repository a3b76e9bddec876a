// The mail providers the account dialog knows by name: which addresses and
// servers belong to each, the server, port and encryption to fill in, and a
// one-line hint about what the provider asks of the user (an app password,
// a code, turning POP on, a sign-in). One table; a provider is added by
// adding a row to it in provider_presets.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace iw::settings {

struct ProviderPreset {
    std::u16string_view name;
    // Mail domains, lower case, matched whole ("gmail.com").
    std::vector<std::u16string_view> domains;
    // A domain ending in this (".hinet.net") belongs to the provider too.
    std::u16string_view domainSuffix;
    // The POP3 server to fill in. Empty: the address's own domain is the
    // server (HiNet) when `hostFromDomain`, or the provider has none (no POP).
    std::u16string_view host;
    bool hostFromDomain = false;
    // Other server names that identify the provider when typed.
    std::vector<std::u16string_view> otherHosts;
    // Encryption to fill in, as the dialog's choice (0 none, 1 SSL/TLS,
    // 2 STARTTLS); -1 leaves the user's choice alone.
    int security = -1;
    std::uint16_t port = 0;  // 0: the encryption's usual port
    std::u16string_view hint;
    // How the account dialog logs in to it by default: 0 the password,
    // 1 a Microsoft account, 2 a Google account (as the dialog's choice).
    int loginWay = 0;
};

// Every known provider, in the order they are tried.
const std::vector<ProviderPreset>& ProviderPresets();

// The provider of an e-mail address (the text after its last "@", letter
// case and surrounding blanks ignored); null when none is known.
const ProviderPreset* FindPresetByAddress(std::u16string_view address);

// The provider whose server this is ("pop.gmail.com", "pop.gmail.com:995",
// "ms12.hinet.net"); null when none is known.
const ProviderPreset* FindPresetByHost(std::u16string_view host);

// The text the host box gets for `preset` and `address`: the server, with
// ":port" only when the port is not the one its encryption implies (995
// for SSL/TLS, 110 otherwise). Empty when the provider has no POP3 server.
std::u16string PresetHostText(const ProviderPreset& preset, std::u16string_view address);

// Which provider the dialog's hint speaks of, given what it knows: the
// address's provider unless the typed server belongs to another one (the
// server is where the program connects).
const ProviderPreset* HintPreset(std::u16string_view address, std::u16string_view host);

}  // namespace iw::settings
