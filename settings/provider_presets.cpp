// The provider table and its lookups; see provider_presets.h. Facts as the
// providers documented them in 2026: every one serves POP3 over TLS from
// the first byte on port 995, except HiNet (the server in the account
// letter; its encryption is left to the user) and iCloud (no POP3 at all).
#include "settings/provider_presets.h"

namespace iw::settings {

namespace {

constexpr int kTls = 1;

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

std::u16string Folded(std::u16string_view s) {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
    std::u16string out(s);
    for (char16_t& c : out) c = lower(c);
    return out;
}

// The host part of a "host" or "host:port" value, folded.
std::u16string HostPart(std::u16string_view value) {
    std::u16string h = Folded(value);
    const std::size_t colon = h.rfind(u':');
    if (colon != std::u16string::npos) h.resize(colon);
    while (!h.empty() && h.back() == u'.') h.pop_back();  // "pop.gmail.com." is the same name
    return h;
}

std::u16string DomainOf(std::u16string_view address) {
    const std::size_t at = address.rfind(u'@');
    if (at == std::u16string_view::npos) return {};
    std::u16string d = Folded(address.substr(at + 1));
    while (!d.empty() && d.back() == u'.') d.pop_back();
    return d;
}

bool EndsWith(std::u16string_view s, std::u16string_view tail) {
    return s.size() > tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool OwnsDomain(const ProviderPreset& p, std::u16string_view domain) {
    if (domain.empty()) return false;
    for (std::u16string_view d : p.domains)
        if (d == domain) return true;
    return !p.domainSuffix.empty() && EndsWith(domain, p.domainSuffix);
}

}  // namespace

const std::vector<ProviderPreset>& ProviderPresets() {
    static const std::vector<ProviderPreset> table = {
        {u"Gmail", {u"gmail.com", u"googlemail.com"}, {}, u"pop.gmail.com", false, {}, kTls, 995,
         u"Gmail:請先在 Gmail 設定中啟用 POP,密碼欄填「應用程式密碼」"},
        // Work and school mailboxes have their organisation's own domains:
        // known by the server alone.
        {u"Microsoft 365", {}, {}, u"outlook.office365.com", false, {}, kTls, 995,
         u"Microsoft 365:不收密碼,請選 Microsoft 帳號登入", 1},
        {u"Outlook.com",
         {u"outlook.com", u"hotmail.com", u"live.com", u"msn.com", u"hotmail.com.tw", u"hotmail.com.hk"},
         {},
         u"outlook.office365.com",
         false,
         {u"pop-mail.outlook.com"},
         kTls,
         995,
         u"Outlook/Hotmail:不收密碼,請選 Microsoft 帳號登入",
         1},
        {u"Yahoo奇摩", {u"yahoo.com.tw"}, {}, u"pop.mail.yahoo.com", false, {}, kTls, 995,
         u"Yahoo奇摩:密碼欄請填帳戶安全設定中產生的「應用程式密碼」"},
        {u"Yahoo", {u"yahoo.com", u"yahoo.com.hk", u"ymail.com", u"rocketmail.com"}, {}, u"pop.mail.yahoo.com",
         false, {}, kTls, 995, u"Yahoo:密碼欄請填帳戶安全設定中產生的「應用程式密碼」"},
        {u"QQ", {u"qq.com", u"vip.qq.com", u"foxmail.com"}, {}, u"pop.qq.com", false, {}, kTls, 995,
         u"QQ郵箱:請在設定中開啟 POP3,密碼欄填簡訊驗證後取得的「授權碼」"},
        {u"163", {u"163.com"}, {}, u"pop.163.com", false, {}, kTls, 995,
         u"163郵箱:請在設定中開啟 POP3,密碼欄填「客戶端授權碼」"},
        // HiNet's mailbox domain (msa.hinet.net, msNN.hinet.net) is its POP3
        // server; whether it offers TLS is not known, so the choice stays.
        {u"HiNet", {}, u".hinet.net", {}, true, {}, -1, 0,
         u"HiNet:郵件伺服器以開通信函上所寫為準(如 msa.hinet.net)"},
        {u"iCloud", {u"icloud.com", u"me.com", u"mac.com"}, {}, {}, false, {}, -1, 0,
         u"iCloud 信箱不提供 POP3 收信,本程式無法收取"},
    };
    return table;
}

const ProviderPreset* FindPresetByAddress(std::u16string_view address) {
    const std::u16string domain = DomainOf(address);
    for (const ProviderPreset& p : ProviderPresets())
        if (OwnsDomain(p, domain)) return &p;
    return nullptr;
}

const ProviderPreset* FindPresetByHost(std::u16string_view host) {
    const std::u16string h = HostPart(host);
    if (h.empty()) return nullptr;
    // Microsoft 365 comes before Outlook.com in the table, so a bare
    // outlook.office365.com (with an address of no known provider) speaks
    // of an organisation's mailbox.
    for (const ProviderPreset& p : ProviderPresets()) {
        if (!p.host.empty() && p.host == h) return &p;
        for (std::u16string_view o : p.otherHosts)
            if (o == h) return &p;
        if (p.hostFromDomain && OwnsDomain(p, h)) return &p;
    }
    return nullptr;
}

std::u16string PresetHostText(const ProviderPreset& p, std::u16string_view address) {
    std::u16string host = p.hostFromDomain ? DomainOf(address) : std::u16string(p.host);
    if (host.empty()) return host;
    const std::uint16_t usual = p.security == kTls ? 995 : 110;
    if (p.port != 0 && p.port != usual) {
        const std::string digits = std::to_string(p.port);
        host += u':';
        host.append(digits.begin(), digits.end());
    }
    return host;
}

const ProviderPreset* HintPreset(std::u16string_view address, std::u16string_view host) {
    const ProviderPreset* byAddress = FindPresetByAddress(address);
    const ProviderPreset* byHost = FindPresetByHost(host);
    if (!byHost || !byAddress) return byAddress ? byAddress : byHost;
    // Both known: the address's provider when the server is its own.
    const bool sameServer = byAddress == byHost || (!byAddress->host.empty() && byAddress->host == byHost->host);
    return sameServer ? byAddress : byHost;
}

}  // namespace iw::settings
