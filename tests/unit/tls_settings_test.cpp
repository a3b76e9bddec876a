// The security setting, pins and the decision after the certificate checks:
// the portable rules both builds share.
#include <gtest/gtest.h>

#include "platform/tls.h"

namespace iw::platform {
namespace {

TEST(TlsSettings, SecurityValueAndDefaultPort) {
    struct Case {
        const char16_t* value;
        MailSecurity want;
        std::uint16_t port;
    } cases[] = {
        {u"", MailSecurity::Plain, 110},    {u"0", MailSecurity::Plain, 110},   {u"1", MailSecurity::Tls, 995},
        {u" 1 ", MailSecurity::Tls, 995},   {u"2", MailSecurity::StartTls, 110}, {u"3", MailSecurity::Plain, 110},
        {u"12", MailSecurity::Plain, 110},  {u"yes", MailSecurity::Plain, 110},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseMailSecurity(c.value), c.want);
        EXPECT_EQ(DefaultPop3Port(ParseMailSecurity(c.value)), c.port);
    }
}

TEST(TlsSettings, PinsAreNormalisedOrRejected) {
    const std::string hex = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    std::string colons;
    for (std::size_t i = 0; i < hex.size(); i += 2) colons += (i ? ":" : "") + hex.substr(i, 2);
    std::string upper = hex;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(NormalisePin(hex), hex);
    EXPECT_EQ(NormalisePin(upper), hex);
    EXPECT_EQ(NormalisePin(colons), hex);
    EXPECT_EQ(NormalisePin(hex.substr(2)), "");        // too short
    EXPECT_EQ(NormalisePin(hex + "00"), "");           // too long
    EXPECT_EQ(NormalisePin("g" + hex.substr(1)), "");  // not hex
}

TEST(TlsSettings, PinOverridesTheChecksBothWays) {
    const std::string a(64, 'a'), b(64, 'b');
    struct Case {
        TlsFailure chain;
        std::string pin;
        TlsFailure want;
    } cases[] = {
        {TlsFailure::None, "", TlsFailure::None},
        {TlsFailure::Expired, "", TlsFailure::Expired},
        {TlsFailure::Expired, a, TlsFailure::None},          // an expired pinned certificate is still trusted
        {TlsFailure::Untrusted, a, TlsFailure::None},
        {TlsFailure::None, b, TlsFailure::PinMismatch},      // a good but different certificate is not
        {TlsFailure::NameMismatch, b, TlsFailure::PinMismatch},
    };
    for (const Case& c : cases) EXPECT_EQ(DecideCertificate(c.chain, a, c.pin), c.want);
}

TEST(TlsSettings, ErrorCodesAndTexts) {
    for (TlsFailure f : {TlsFailure::Untrusted, TlsFailure::NameMismatch, TlsFailure::Expired, TlsFailure::PinMismatch,
                         TlsFailure::StlsRefused, TlsFailure::Handshake, TlsFailure::Truncated}) {
        EXPECT_EQ(TlsFailureOfCode(TlsErrorCode(f)), f);
        EXPECT_FALSE(TlsStatusText(f).empty());
    }
    // Ordinary socket errors are no TLS failures.
    for (int code : {0, 111, 10061, kTlsErrorBase, kTlsErrorBase + 99}) EXPECT_EQ(TlsFailureOfCode(code), TlsFailure::None);
    EXPECT_EQ(TlsStatusText(TlsFailure::PinMismatch, "aa", "bb"), u"伺服器憑證已變更,未登入(信任的:aa 收到的:bb)");
}

}  // namespace
}  // namespace iw::platform
