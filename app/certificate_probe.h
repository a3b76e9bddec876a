// Fetching and describing a mail server's certificate, for the user to look
// at before trusting it: the "cert" command of the console front end and the
// account dialog's "view and trust" use the same three functions.
//
// ProbeCertificate connects as the account would (its Security, host, port
// and pin), runs the handshake and the checks, and hangs up before any POP3
// command; it never sends the user name or password. It waits in the event
// loop (nested waits are the normal case) for at most `limitSeconds`, and
// gives up as soon as `stop` (when given) returns true.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "platform/tls.h"
#include "settings/account_dialog.h"
#include "settings/accounts.h"
#include "settings/settings_store.h"

namespace iw::app {

struct CertificateProbe {
    bool reached = false;          // a certificate came (whatever the checks said)
    platform::CertificateInfo certificate;
    platform::TlsFailure checks = platform::TlsFailure::None;   // chain, name and dates, without the pin
    platform::TlsFailure verdict = platform::TlsFailure::None;  // what a connection would do now (pin included)
    std::u16string problem;        // when nothing came: why (lookup, connection, STLS, handshake)
};

using settings::SplitAccountHost;

// The account in `section` of set.ini: its "PoP3", "Security" and "CertSha256".
CertificateProbe ProbeAccountCertificate(platform::Platform& p, settings::SettingsStore& store,
                                         const std::u16string& section, double limitSeconds = 30);

// The same for a host and port given directly.
CertificateProbe ProbeCertificate(platform::Platform& p, const std::string& host, std::uint16_t port,
                                  platform::MailSecurity security, const std::string& pin, double limitSeconds = 30,
                                  const std::function<bool()>& stop = {});

// Subject, issuer, validity, fingerprint and the checks' result, one item
// per line (CR LF), in the program's words.
std::u16string DescribeCertificate(const CertificateProbe& probe, const platform::CodePage& codePage);

// What the account dialog's certificate step shows of a probe.
settings::CertificateLook LookAtCertificate(const CertificateProbe& probe, const platform::CodePage& codePage);

// Stores the probed certificate's fingerprint as the account's pin; false
// when there is none or set.ini could not be written.
bool TrustCertificate(settings::SettingsStore& store, const std::u16string& section, const CertificateProbe& probe);

}  // namespace iw::app
