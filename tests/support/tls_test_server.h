// A TLS server for tests that runs in the test's own thread over byte
// buffers, with certificates made on the spot by a throw-away CA. The test
// moves the bytes between it and the client and decides how they are cut.
// Native build only (it is OpenSSL's server side).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace iw::test {

struct TestCertificates {
    std::string caFile;     // PEM of the throw-away CA, in a temporary file
    std::string goodName;   // the DNS name the good leaf carries
};

class TlsTestServer {
public:
    enum class Leaf { Good, WrongName, SelfSigned };
    enum class Fault {
        None,
        AlertOnHello,
        // TLS 1.2 at most; renegotiate() asks the client for a second
        // handshake, in which the server shows its self-signed leaf.
        Renegotiate,
        // Only TLS 1.0 and 1.1, at security level 0.
        OldProtocolsOnly,
    };

    // The CA is made once per process; its file is removed at exit.
    static const TestCertificates& certificates();

    explicit TlsTestServer(Leaf leaf = Leaf::Good, Fault fault = Fault::None);
    ~TlsTestServer();

    // Ciphertext from the client.
    void feed(std::string_view bytes);
    // Ciphertext for the client.
    std::string take();
    // Plain text to send, written as soon as the handshake allows.
    void write(std::string_view plain);
    // Plain text received so far.
    std::string read();
    // Queues close_notify.
    void closeNotify();
    bool handshakeDone() const;
    // Handshakes the client began (ClientHellos); a renegotiation makes a
    // second.
    int handshakes() const;
    // Fault::Renegotiate: switches to the self-signed leaf and asks the
    // client to renegotiate (a HelloRequest, taken with take()).
    void renegotiate();
    bool failed() const;
    // SHA-256 of the leaf in use, lower-case hex.
    std::string leafSha256() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace iw::test
