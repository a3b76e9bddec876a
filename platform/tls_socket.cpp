// The TLS socket: the session's records over the wrapped socket, from the
// first byte or once the protocol above asked for STARTTLS. See tls_socket.h.
#include "platform/tls_socket.h"

#include <utility>

namespace iw::platform {
namespace {

// The one line that may travel in plain text on a STARTTLS connection.
constexpr std::string_view kStlsLine = "STLS\r\n";

}  // namespace

TlsSocket::TlsSocket(std::unique_ptr<TcpSocket> inner, MailSecurity mode, TlsOptions options)
    : inner_(std::move(inner)), mode_(mode), options_(std::move(options)) {}

TlsSocket::~TlsSocket() {
    *alive_ = false;
    if (inner_) inner_->setEvents({});
}

void TlsSocket::setEvents(TcpSocketEvents events) { events_ = std::move(events); }

void TlsSocket::resetConnection() {
    ++generation_;
    session_.reset();
    firstRecord_.clear();
    heldBeforeSession_.clear();
    userSendPending_ = false;
}

void TlsSocket::connect(const std::string& ipv4, std::uint16_t port) {
    resetConnection();
    plain_.clear();
    failure_ = TlsFailure::None;
    chainVerdict_ = TlsFailure::None;
    detail_.clear();
    certificate_ = {};
    lastError_ = 0;
    phase_ = Phase::Connecting;
    state_ = SocketState::Connecting;
    wireInner();
    inner_->connect(ipv4, port);
}

void TlsSocket::wireInner() {
    TcpSocketEvents ev;
    ev.connected = [this] { onInnerConnected(); };
    ev.dataArrival = [this](std::size_t) { onInnerData(); };
    ev.sendComplete = [this] { onInnerSendComplete(); };
    ev.closed = [this] { onInnerClosed(); };
    ev.error = [this](int code, const std::string& d) { onInnerError(code, d); };
    inner_->setEvents(std::move(ev));
}

void TlsSocket::send(std::string_view bytes) {
    if (bytes.empty()) return;
    // Before STARTTLS only the request for it goes out; anything else (a
    // user name, a password) is dropped, never sent in plain text.
    if (phase_ == Phase::Plain) {
        if (bytes == kStlsLine) inner_->send(bytes);
        return;
    }
    // Nothing the caller writes travels before the checks have passed. While
    // the TCP connection of a TLS-from-the-first-byte socket is still being
    // made it is kept here, and handed to the session when the handshake
    // starts; during the handshake the session holds it. After a close or a
    // failure it is dropped, as a plain socket drops a send on a connection
    // that is not made.
    if (phase_ == Phase::Connecting && mode_ == MailSecurity::Tls) {
        heldBeforeSession_.append(bytes);
        return;
    }
    if (!session_ || (phase_ != Phase::Open && phase_ != Phase::Handshaking)) return;
    session_->writePlain(bytes);
    userSendPending_ = true;
    const std::string out = session_->takeCiphertext();
    if (!out.empty()) inner_->send(out);
}

bool TlsSocket::startTls() {
    if (mode_ != MailSecurity::StartTls || phase_ != Phase::Plain) return false;
    // Bytes the server sent after agreeing and before the handshake came
    // unprotected and unasked: an injection, which ends the connection.
    if (!plain_.empty() || inner_->bytesAvailable() > 0) return false;
    startHandshake();
    return true;
}

std::string TlsSocket::receive() {
    std::string out;
    out.swap(plain_);
    return out;
}

std::size_t TlsSocket::bytesAvailable() const { return plain_.size(); }

void TlsSocket::close() {
    // failure() stays readable after the close.
    resetConnection();
    plain_.clear();
    phase_ = Phase::Closed;
    state_ = SocketState::Closed;
    inner_->setEvents({});
    inner_->close();
}

SocketState TlsSocket::state() const { return state_; }

int TlsSocket::lastError() const { return lastError_; }

void TlsSocket::onInnerConnected() {
    if (phase_ != Phase::Connecting) return;
    if (mode_ == MailSecurity::StartTls) {
        // Plain until the protocol above asks for TLS.
        phase_ = Phase::Plain;
        state_ = SocketState::Connected;
        if (auto f = events_.connected) f();
        return;
    }
    startHandshake();
}

void TlsSocket::startHandshake() {
    TlsOptions o = options_;
    if (o.caFile.empty()) o.caFile = CaFileFromEnvironment();
    session_ = createTlsSession(o);
    phase_ = Phase::Handshaking;
    if (!heldBeforeSession_.empty()) {
        // Sent while connecting: the session keeps it until the checks passed.
        session_->writePlain(heldBeforeSession_);
        heldBeforeSession_.clear();
        userSendPending_ = true;
    }
    drive();
}

void TlsSocket::onInnerData() {
    std::string data = inner_->receive();
    if (data.empty()) return;
    switch (phase_) {
    case Phase::Plain:
        plain_ += data;
        if (auto f = events_.dataArrival) f(plain_.size());
        return;
    case Phase::Handshaking:
        // A server's first bytes must open a TLS record: a handshake message
        // or an alert, version 3.x. Anything else (a plain greeting, an HTTP
        // answer) is no TLS server, and is refused at once rather than
        // waited on as the start of a huge record.
        if (firstRecord_.size() < 2) {
            firstRecord_.append(data.substr(0, 2 - firstRecord_.size()));
            const unsigned char type = static_cast<unsigned char>(firstRecord_[0]);
            if ((type != 0x16 && type != 0x15) ||
                (firstRecord_.size() == 2 && static_cast<unsigned char>(firstRecord_[1]) != 0x03)) {
                fail(TlsFailure::Handshake, "the server does not speak TLS");
                return;
            }
        }
        [[fallthrough]];
    case Phase::Open:
        session_->feedCiphertext(data);
        drive();
        return;
    default:
        return;  // data for a connection that is no longer current
    }
}

void TlsSocket::drive() {
    const std::uint64_t gen = generation_;
    auto alive = alive_;
    const std::string out = session_->takeCiphertext();
    if (!out.empty()) inner_->send(out);
    const TlsState st = session_->state();
    if (certificate_.der.empty() && !session_->peerCertificate().der.empty()) {
        certificate_ = session_->peerCertificate();
        chainVerdict_ = session_->chainVerdict();
    }
    if (st == TlsState::Failed) {
        // What was decrypted before an alert or a broken record is handed on
        // first; the failure follows.
        if (phase_ == Phase::Open) {
            plain_ += session_->takePlain();
            if (!plain_.empty()) {
                if (auto f = events_.dataArrival) f(plain_.size());
                if (!*alive || gen != generation_) return;
            }
        }
        fail(session_->failure(), session_->failureDetail());
        return;
    }
    if (phase_ == Phase::Handshaking) {
        if (st == TlsState::Handshaking) return;
        phase_ = Phase::Open;
        state_ = SocketState::Connected;
        if (auto f = events_.connected) f();
        if (!*alive || gen != generation_) return;
    }
    if (phase_ != Phase::Open) return;
    plain_ += session_->takePlain();
    if (!plain_.empty()) {
        if (auto f = events_.dataArrival) f(plain_.size());
        if (!*alive || gen != generation_) return;
    }
    if (session_->state() == TlsState::PeerClosed) {
        // The server's close_notify: an orderly end, what was not taken stays readable.
        ++generation_;
        session_.reset();
        phase_ = Phase::Closed;
        state_ = SocketState::Closed;
        inner_->setEvents({});
        inner_->close();
        if (auto f = events_.closed) f();
    }
}

void TlsSocket::onInnerSendComplete() {
    if (phase_ == Phase::Plain) {
        if (auto f = events_.sendComplete) f();
        return;
    }
    if (phase_ != Phase::Open || !userSendPending_) return;
    userSendPending_ = false;
    if (auto f = events_.sendComplete) f();
}

void TlsSocket::onInnerClosed() {
    switch (phase_) {
    case Phase::Connecting:
    case Phase::Plain: {
        // Closed before anything was secured: the same as a plain server
        // that hangs up; what it sent in plain stays readable.
        resetConnection();
        phase_ = Phase::Closed;
        state_ = SocketState::Closed;
        if (auto f = events_.closed) f();
        return;
    }
    case Phase::Handshaking: fail(TlsFailure::Handshake, "closed during the handshake"); return;
    case Phase::Open: {
        // Without close_notify nobody can tell a cut from an end, so it is
        // reported as a failure, never as an orderly close.
        session_->transportClosed();
        if (session_->state() == TlsState::PeerClosed) {
            ++generation_;
            session_.reset();
            phase_ = Phase::Closed;
            state_ = SocketState::Closed;
            inner_->setEvents({});
            if (auto f = events_.closed) f();
            return;
        }
        fail(TlsFailure::Truncated, "closed without close_notify");
        return;
    }
    default: return;
    }
}

void TlsSocket::onInnerError(int code, const std::string& description) {
    if (phase_ == Phase::Idle || phase_ == Phase::Closed || phase_ == Phase::Failed) return;
    resetConnection();
    phase_ = Phase::Failed;
    state_ = SocketState::Error;
    lastError_ = code;
    if (auto f = events_.error) f(code, description);
}

void TlsSocket::fail(TlsFailure f, std::string detail) {
    resetConnection();
    phase_ = Phase::Failed;
    state_ = SocketState::Error;
    failure_ = f;
    detail_ = std::move(detail);
    lastError_ = TlsErrorCode(f);
    inner_->setEvents({});
    inner_->close();
    if (auto h = events_.error) h(lastError_, "TLS: " + detail_);
}

std::unique_ptr<TcpSocket> CreateMailSocket(std::unique_ptr<TcpSocket> plain, MailSecurity security,
                                            const std::string& host, const std::string& pin) {
    if (!plain || security == MailSecurity::Plain) return plain;
    TlsOptions o;
    o.host = host;
    o.pinSha256 = NormalisePin(pin);
    // A pin that is no fingerprint matches no certificate: it is kept as
    // written, so the refusal names it, rather than silently ignored.
    if (o.pinSha256.empty() && !pin.empty()) o.pinSha256 = pin.substr(0, 128);
    return std::make_unique<TlsSocket>(std::move(plain), security, std::move(o));
}

std::u16string MailSocketFailureText(const TcpSocket* socket, int code) {
    const TlsFailure f = TlsFailureOfCode(code);
    if (f == TlsFailure::None) return u"";
    const auto* tls = dynamic_cast<const TlsSocket*>(socket);
    if (f == TlsFailure::PinMismatch && tls) return TlsStatusText(f, tls->options().pinSha256, tls->certificate().sha256);
    return TlsStatusText(f);
}

}  // namespace iw::platform
