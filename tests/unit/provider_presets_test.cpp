// The provider table: which provider an address or a typed server names,
// what the host box gets, which hint shows when address and server
// disagree, and the rules every row must keep (its domains lead back to it,
// its server is recognised, its hint is one line).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "settings/provider_presets.h"

namespace iw::settings {
namespace {

std::string Narrow(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::u16string NameOf(const ProviderPreset* p) { return p ? std::u16string(p->name) : u"-"; }

TEST(ProviderPresets, AddressesNameTheirProvider) {
    struct Case {
        std::u16string address, provider, host;
        int security;
    } cases[] = {
        {u"me@gmail.com", u"Gmail", u"pop.gmail.com", 1},
        {u" Me@GMAIL.COM. ", u"Gmail", u"pop.gmail.com", 1},
        {u"me@googlemail.com", u"Gmail", u"pop.gmail.com", 1},
        {u"me@hotmail.com", u"Outlook.com", u"outlook.office365.com", 1},
        {u"me@hotmail.com.tw", u"Outlook.com", u"outlook.office365.com", 1},
        {u"me@hotmail.com.hk", u"Outlook.com", u"outlook.office365.com", 1},
        {u"me@live.com", u"Outlook.com", u"outlook.office365.com", 1},
        {u"me@outlook.com", u"Outlook.com", u"outlook.office365.com", 1},
        {u"me@yahoo.com.tw", u"Yahoo奇摩", u"pop.mail.yahoo.com", 1},
        {u"me@yahoo.com", u"Yahoo", u"pop.mail.yahoo.com", 1},
        {u"me@qq.com", u"QQ", u"pop.qq.com", 1},
        {u"me@foxmail.com", u"QQ", u"pop.qq.com", 1},
        {u"me@163.com", u"163", u"pop.163.com", 1},
        {u"me@ms12.hinet.net", u"HiNet", u"ms12.hinet.net", -1},
        {u"me@MSA.hinet.net", u"HiNet", u"msa.hinet.net", -1},
        {u"me@icloud.com", u"iCloud", u"", -1},
        // Not theirs: look-alikes, sub-domains of others, no "@".
        {u"me@gmail.com.evil.tw", u"-", u"", 0},
        {u"me@notgmail.com", u"-", u"", 0},
        {u"me@hinet.net", u"-", u"", 0},
        {u"me@ms1.hinet.net.evil.tw", u"-", u"", 0},
        {u"gmail.com", u"-", u"", 0},
        {u"me@", u"-", u"", 0},
        {u"", u"-", u"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.address));
        const ProviderPreset* p = FindPresetByAddress(c.address);
        EXPECT_EQ(NameOf(p), c.provider);
        if (!p) continue;
        EXPECT_EQ(PresetHostText(*p, c.address), c.host);
        EXPECT_EQ(p->security, c.security);
    }
}

TEST(ProviderPresets, TypedServersNameTheirProvider) {
    struct Case {
        std::u16string host, provider;
    } cases[] = {
        {u"pop.gmail.com", u"Gmail"},
        {u"POP.Gmail.com:995", u"Gmail"},
        {u" pop.gmail.com. ", u"Gmail"},
        // A bare Microsoft server speaks of an organisation's mailbox.
        {u"outlook.office365.com", u"Microsoft 365"},
        {u"pop-mail.outlook.com", u"Outlook.com"},
        {u"pop.mail.yahoo.com", u"Yahoo奇摩"},
        {u"ms35.hinet.net:110", u"HiNet"},
        {u"pop.example.com", u"-"},
        {u"gmail.com", u"-"},
        {u"", u"-"},
    };
    for (const Case& c : cases) EXPECT_EQ(NameOf(FindPresetByHost(c.host)), c.provider) << Narrow(c.host);
}

TEST(ProviderPresets, TheHintSpeaksOfTheServerWhenTheAddressNamesAnother) {
    struct Case {
        std::u16string address, host, provider;
    } cases[] = {
        {u"me@hotmail.com", u"outlook.office365.com", u"Outlook.com"},
        {u"me@corp.tw", u"outlook.office365.com", u"Microsoft 365"},
        {u"me@yahoo.com", u"pop.mail.yahoo.com", u"Yahoo"},
        {u"me@gmail.com", u"pop.qq.com", u"QQ"},
        {u"me@gmail.com", u"relay.corp.tw", u"Gmail"},
        {u"me@gmail.com", u"", u"Gmail"},
        {u"me@corp.tw", u"relay.corp.tw", u"-"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NameOf(HintPreset(c.address, c.host)), c.provider) << Narrow(c.address) << " " << Narrow(c.host);
}

// Rules for every row, so that a row added later keeps them too.
TEST(ProviderPresets, EveryRowIsConsistent) {
    std::set<std::u16string_view> domains;
    for (const ProviderPreset& p : ProviderPresets()) {
        SCOPED_TRACE(Narrow(p.name));
        // One line, in the program's words, and short enough for the dialog.
        EXPECT_FALSE(p.hint.empty());
        EXPECT_EQ(p.hint.find_first_of(u"\r\n"), std::u16string_view::npos);
        EXPECT_LE(p.hint.size(), 40u);
        EXPECT_TRUE(p.security >= -1 && p.security <= 2);
        for (std::u16string_view d : p.domains) {
            // Each domain belongs to one provider and leads back to it.
            EXPECT_TRUE(domains.insert(d).second) << Narrow(d);
            const std::u16string address = u"x@" + std::u16string(d);
            EXPECT_EQ(FindPresetByAddress(address), &p) << Narrow(d);
            // The filled server is recognised as a server of the same kind:
            // same host, same encryption.
            const std::u16string host = PresetHostText(p, address);
            if (host.empty()) continue;
            const ProviderPreset* server = FindPresetByHost(host);
            ASSERT_NE(server, nullptr) << Narrow(host);
            EXPECT_EQ(server->security, p.security);
        }
    }
}

}  // namespace
}  // namespace iw::settings
