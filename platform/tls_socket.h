// A TCP socket that speaks TLS: it wraps the platform's own socket, runs a
// TlsSession over it and is itself a TcpSocket, so the POP3 code above it
// reads and writes plain text exactly as over a plain connection.
//
// Two ways in. TLS from the first byte: `connected` fires only once the
// handshake is done and the certificate has passed the checks; what is
// sent before (while the TCP connection is made or during the handshake) is
// held and travels, encrypted, only once the checks passed. STARTTLS:
// the connection opens in plain text (`connected` fires when the TCP
// connection is made) so that the protocol above can greet and ask for TLS
// itself; the only bytes it may send in plain are "STLS" CR LF, everything
// else is dropped, so nothing else ever travels unprotected. Once the
// server agreed, startTls() starts the handshake; sends made meanwhile are
// held until the checks pass, and `connected` fires a second time when the
// connection is secured. Any failure (a bad certificate, a failed
// handshake, a close without close_notify) is an `error` event whose code
// is TlsErrorCode(failure()).
//
// Ownership: the TlsSocket owns the wrapped socket. Events follow the rules
// of TcpSocket: they come from the event loop, never from a call.
#pragma once

#include <memory>
#include <string>

#include "platform/tcp_socket.h"
#include "platform/tls.h"

namespace iw::platform {

class TlsSocket : public TcpSocket {
public:
    // `mode` is Tls or StartTls; `options` names the host the certificate must carry.
    TlsSocket(std::unique_ptr<TcpSocket> inner, MailSecurity mode, TlsOptions options);
    ~TlsSocket() override;

    void setEvents(TcpSocketEvents events) override;
    void connect(const std::string& ipv4, std::uint16_t port) override;
    void send(std::string_view bytes) override;
    std::string receive() override;
    std::size_t bytesAvailable() const override;
    void close() override;
    SocketState state() const override;
    int lastError() const override;
    bool startTls() override;

    // Why the last connection failed (None when it did not).
    TlsFailure failure() const { return failure_; }
    std::string failureDetail() const { return detail_; }
    // The server's certificate of the last connection (empty DER when none came).
    const CertificateInfo& certificate() const { return certificate_; }
    // The checks' verdict on that certificate, leaving any pin aside.
    TlsFailure chainVerdict() const { return chainVerdict_; }
    const TlsOptions& options() const { return options_; }
    // The handshake is done and the checks passed.
    bool secured() const { return phase_ == Phase::Open; }

private:
    enum class Phase { Idle, Connecting, Plain, Handshaking, Open, Closed, Failed };

    void wireInner();
    void onInnerConnected();
    void onInnerData();
    void onInnerClosed();
    void onInnerError(int code, const std::string& description);
    void onInnerSendComplete();
    void startHandshake();
    void drive();
    void fail(TlsFailure f, std::string detail);
    void resetConnection();

    std::unique_ptr<TcpSocket> inner_;
    MailSecurity mode_;
    TlsOptions options_;
    TcpSocketEvents events_;
    std::unique_ptr<TlsSession> session_;
    Phase phase_ = Phase::Idle;
    SocketState state_ = SocketState::Closed;
    int lastError_ = 0;
    std::string plain_;     // received text (decrypted, or plain before STARTTLS) not yet taken by receive()
    std::string firstRecord_;  // the first two bytes from the server after the TLS start
    std::string heldBeforeSession_;  // sent while the TCP connection was being made (TLS from the first byte)
    bool userSendPending_ = false;
    TlsFailure failure_ = TlsFailure::None;
    TlsFailure chainVerdict_ = TlsFailure::None;
    std::string detail_;
    CertificateInfo certificate_;
    // Bumped by every connect, close and failure; a handler that closed or
    // reconnected the socket ends the work of the event it was called from.
    std::uint64_t generation_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The socket an account uses: the plain one for Plain, a TlsSocket around it otherwise.
std::unique_ptr<TcpSocket> CreateMailSocket(std::unique_ptr<TcpSocket> plain, MailSecurity security,
                                            const std::string& host, const std::string& pin);

// The TLS failure behind a socket error code or a TlsSocket's last connection;
// the pin mismatch's status text needs both fingerprints, so this gives the text.
std::u16string MailSocketFailureText(const TcpSocket* socket, int code);

}  // namespace iw::platform
