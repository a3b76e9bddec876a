// inkwarden-cli cert [--profile DIR] [--user NAME] ADDRESS [--trust]:
// connects to the mail server of the account ADDRESS as that account would
// (its "Security", "PoP3" and "CertSha256"), prints the server's certificate
// (subject, issuer, validity, SHA-256) and the result of the checks, and
// logs in never. With --trust, a certificate that failed the checks is
// stored as the account's pin ("CertSha256"), so exactly that certificate is
// accepted from then on. Exit status 0 when the certificate is accepted (by
// the checks, the pin, or --trust just now), 1 when it is refused, 2 for
// bad arguments, an unknown account or no certificate at all, with a message.
#pragma once

#include <string>
#include <vector>

namespace iw::cli {

int runCertCommand(const std::vector<std::u16string>& args);

}  // namespace iw::cli
