// The program's SASL mechanisms for the login step: PLAIN for a password
// account whose server lists SASL PLAIN but not USER, XOAUTH2 and
// OAUTHBEARER for an OAuth2 account, each over auth::SaslExchange (the
// two-step form, the error challenge answered, "*" when something is wrong).
//
// After the login ends the owner hands the login's refusal line to
// finished(), and tokenRefused() then says whether the server refused the
// token itself (worth one refresh and one more try) rather than failing for
// another reason ([SYS/TEMP], [IN-USE], ...).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "auth/sasl.h"
#include "pop3/login.h"

namespace iw::pop3 {

class ExchangeMechanism final : public SaslMechanism {
public:
    ExchangeMechanism(auth::SaslMechanism mechanism, auth::SaslCredentials credentials);

    std::string name() const override;
    // Bearer tokens only over TLS. PLAIN sends what PASS would send, so it
    // goes wherever the account lets PASS go.
    bool needsTls() const override;
    std::optional<std::string> initialResponse() override { return std::nullopt; }
    std::optional<std::string> answer(std::string_view challenge) override;

    // The login ended with this line ("-ERR ..." or "+OK ...").
    void finished(std::string_view finalLine);
    bool tokenRefused() const { return exchange_.credentialsRefused(); }
    const auth::SaslExchange& exchange() const { return exchange_; }

private:
    auth::SaslExchange exchange_;
};

// The mechanisms an OAuth2 account offers, best first, with its access token.
std::vector<std::shared_ptr<ExchangeMechanism>> BearerMechanisms(const std::string& user, const std::string& token,
                                                                 const std::string& host, std::uint16_t port);

}  // namespace iw::pop3
