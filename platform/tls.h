// A TLS client session over byte buffers, and what the program needs around
// it: the options of one connection, the result of the certificate checks,
// the account's security setting and the status texts of every failure.
//
// The session never touches a socket: the owner feeds it the bytes that came
// from the network, sends what takeCiphertext() hands back, writes plain
// text in and takes plain text out. It checks the server's certificate
// itself when the handshake ends (the chain to the trusted roots, the host
// name, the dates, or the pinned fingerprint) and only then becomes Open, so
// nothing written before that reaches the network unless the checks passed.
//
// Ownership: created by createTlsSession() (posix/ uses OpenSSL, win32/ uses
// Schannel) and owned by the caller; no callbacks, so any call is safe from
// any event handler.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace iw::platform {

// What went wrong; each has its own status text.
enum class TlsFailure {
    None,
    Untrusted,       // the chain does not end at a trusted root (self-signed, unknown issuer, ...)
    NameMismatch,    // the certificate does not name the host connected to
    Expired,         // outside its validity dates
    PinMismatch,     // a fingerprint is pinned and the server sent another certificate
    StlsRefused,     // the server refused STLS or did not greet with +OK
    Handshake,       // the handshake failed (an alert, no common protocol, garbage)
    Truncated,       // the connection ended without the server's close_notify
};

// The server's certificate, as shown to the user before trusting it.
struct CertificateInfo {
    std::string der;        // the leaf certificate, DER
    std::string sha256;     // lower-case hex of the SHA-256 of `der`
    std::string subject;    // one-line distinguished names, UTF-8
    std::string issuer;
    std::string notBefore;  // "YYYY-MM-DD HH:MM:SS UTC"
    std::string notAfter;
};

struct TlsOptions {
    std::string host;        // the name the certificate must carry (DNS name or dotted IPv4); also sent as SNI
    std::string pinSha256;   // when set, exactly this certificate is accepted (any case, colons allowed)
    std::string caFile;      // when set, a PEM file whose CAs replace the system's trusted roots
};

enum class TlsState { Handshaking, Open, PeerClosed, Failed };

class TlsSession {
public:
    virtual ~TlsSession() = default;

    // Bytes received from the network, in any pieces.
    virtual void feedCiphertext(std::string_view bytes) = 0;
    // Bytes to send to the network now (handshake records, encrypted data, alerts).
    virtual std::string takeCiphertext() = 0;
    // Plain text to send; held until the session is Open, dropped if it fails.
    virtual void writePlain(std::string_view bytes) = 0;
    // Plain text decrypted so far and not yet taken.
    virtual std::string takePlain() = 0;
    // Queues close_notify (taken with takeCiphertext()).
    virtual void shutdown() = 0;
    // The connection under the session ended. The session becomes PeerClosed
    // if the server had ended it properly, otherwise Failed with Truncated.
    virtual void transportClosed() = 0;

    virtual TlsState state() const = 0;
    virtual TlsFailure failure() const = 0;
    // A short technical description of the failure (library reason, check result), ASCII.
    virtual std::string failureDetail() const = 0;
    // The server's leaf certificate once the handshake has delivered it.
    virtual const CertificateInfo& peerCertificate() const = 0;
    // The checks' own verdict on the certificate, leaving the pin aside
    // (None when the chain, name and dates check out).
    virtual TlsFailure chainVerdict() const = 0;
};

// This build's TLS client session (OpenSSL or Schannel).
std::unique_ptr<TlsSession> createTlsSession(const TlsOptions& options);

// ---------------------------------------------------------------------------
// Portable helpers shared by both implementations and the callers.

// "0" plain POP3, "1" TLS from the first byte, "2" STLS on the plain port.
enum class MailSecurity { Plain = 0, Tls = 1, StartTls = 2 };

// The setting's value; anything but "1" or "2" is plain, as before the setting existed.
MailSecurity ParseMailSecurity(std::u16string_view value);
// Port when the host names none: 995 for TLS from the first byte, 110 otherwise.
std::uint16_t DefaultPop3Port(MailSecurity security);

// A pin as written by the user or the program: hex digits, any case, with or
// without colons or spaces. Returns the 64 lower-case digits, or "" when the
// text is no SHA-256.
std::string NormalisePin(std::string_view text);

// The final decision after the handshake: a pin overrides the checks (an
// expired pinned certificate is still accepted) and refuses any other one.
TlsFailure DecideCertificate(TlsFailure chainVerdict, const std::string& sha256, const std::string& pin);

// Hex digits of bytes, lower case.
std::string HexLower(std::string_view bytes);

// Socket error codes of TLS failures: kTlsErrorBase + the failure's number.
constexpr int kTlsErrorBase = 0x71500;
inline int TlsErrorCode(TlsFailure f) { return kTlsErrorBase + static_cast<int>(f); }
// The failure of a socket error code; None for codes that are not TLS failures.
TlsFailure TlsFailureOfCode(int code);

// The account status text of a failure, in the program's own words. The pin
// mismatch names both fingerprints, so the user can tell what changed.
std::u16string TlsStatusText(TlsFailure f, const std::string& pinned = {}, const std::string& received = {});

// The CA file named by INKWARDEN_CA_FILE, or "" to use the system's roots.
std::string CaFileFromEnvironment();

}  // namespace iw::platform
