// The SASL mechanisms over auth::SaslExchange.
#include "pop3/sasl_mechanisms.h"

namespace iw::pop3 {

ExchangeMechanism::ExchangeMechanism(auth::SaslMechanism mechanism, auth::SaslCredentials credentials)
    : exchange_(mechanism, std::move(credentials)) {}

std::string ExchangeMechanism::name() const { return std::string(auth::SaslName(exchange_.mechanism())); }

bool ExchangeMechanism::needsTls() const { return auth::SendsBearerToken(exchange_.mechanism()); }

std::optional<std::string> ExchangeMechanism::answer(std::string_view challenge) {
    const std::string line = challenge.empty() ? std::string("+") : "+ " + std::string(challenge);
    const auth::SaslExchange::Step step = exchange_.onLine(line);
    if (!step.send) return std::nullopt;  // the exchange went wrong: the login cancels with "*"
    return step.line;
}

void ExchangeMechanism::finished(std::string_view finalLine) {
    if (exchange_.outcome() == auth::SaslOutcome::Pending && !finalLine.empty()) exchange_.onLine(finalLine);
}

std::vector<std::shared_ptr<ExchangeMechanism>> BearerMechanisms(const std::string& user, const std::string& token,
                                                                 const std::string& host, std::uint16_t port) {
    const auth::SaslCredentials c{user, token, host, port};
    return {std::make_shared<ExchangeMechanism>(auth::SaslMechanism::XOAuth2, c),
            std::make_shared<ExchangeMechanism>(auth::SaslMechanism::OAuthBearer, c)};
}

}  // namespace iw::pop3
