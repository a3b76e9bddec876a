// The TLS client session of the native build: OpenSSL 3 over two memory
// BIOs. The library verifies the chain and the host name (SSL_set1_host or
// the IP address) against the system's trust store or the CA file, but the
// handshake is never cut by it: the verify callback records what failed, and
// the session decides when the handshake ends, so a pinned certificate can be
// accepted and every refusal says why.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <algorithm>
#include <ctime>
#include <memory>

#include "platform/tls.h"

namespace iw::posix {
namespace {

using platform::CertificateInfo;
using platform::TlsFailure;
using platform::TlsState;

struct SslCtxFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
};

std::string NameLine(const X509_NAME* name) {
    BIO* b = BIO_new(BIO_s_mem());
    if (!b) return {};
    X509_NAME_print_ex(b, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* p = nullptr;
    const long n = BIO_get_mem_data(b, &p);
    std::string out(p ? p : "", n > 0 ? static_cast<std::size_t>(n) : 0);
    BIO_free(b);
    return out;
}

std::string TimeLine(const ASN1_TIME* t) {
    std::tm tm{};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return {};
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return buf;
}

std::string LastSslError() {
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    if (e == 0) return "handshake failed";
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

class OpenSslSession : public platform::TlsSession {
public:
    explicit OpenSslSession(const platform::TlsOptions& o) : pin_(o.pinSha256) {
        ctx_.reset(SSL_CTX_new(TLS_client_method()));
        if (!ctx_) { failNow(TlsFailure::Handshake, "no TLS context"); return; }
        SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION);
        // The certificate is checked once, after the first handshake: a
        // renegotiation, which could bring another one, is refused.
        SSL_CTX_set_options(ctx_.get(), SSL_OP_NO_RENEGOTIATION);
        const bool roots = o.caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx_.get()) == 1
                                            : SSL_CTX_load_verify_locations(ctx_.get(), o.caFile.c_str(), nullptr) == 1;
        // Without roots every chain is untrusted; that is what the checks will say.
        if (!roots) ERR_clear_error();
        ssl_.reset(SSL_new(ctx_.get()));
        if (!ssl_) { failNow(TlsFailure::Handshake, "no TLS object"); return; }
        BIO* rbio = BIO_new(BIO_s_mem());
        BIO* wbio = BIO_new(BIO_s_mem());
        if (!rbio || !wbio) {
            BIO_free(rbio);
            BIO_free(wbio);
            { failNow(TlsFailure::Handshake, "no memory buffers"); return; }
        }
        // An empty read BIO means "more later", never end of file.
        BIO_set_mem_eof_return(rbio, -1);
        SSL_set_bio(ssl_.get(), rbio, wbio);
        rbio_ = rbio;
        wbio_ = wbio;
        in6_addr a6;
        in_addr a4;
        const bool isIp = inet_pton(AF_INET, o.host.c_str(), &a4) == 1 || inet_pton(AF_INET6, o.host.c_str(), &a6) == 1;
        if (isIp) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), o.host.c_str());
        } else {
            SSL_set_tlsext_host_name(ssl_.get(), o.host.c_str());
            SSL_set1_host(ssl_.get(), o.host.c_str());
        }
        SSL_set_ex_data(ssl_.get(), ExIndex(), this);
        SSL_set_verify(ssl_.get(), SSL_VERIFY_PEER, &VerifyCallback);
        SSL_set_connect_state(ssl_.get());
        step();
    }

    void feedCiphertext(std::string_view bytes) override {
        if (state_ == TlsState::Failed || state_ == TlsState::PeerClosed || !ssl_) return;
        if (!bytes.empty()) BIO_write(rbio_, bytes.data(), static_cast<int>(bytes.size()));
        step();
    }

    std::string takeCiphertext() override {
        std::string out;
        if (!wbio_) return out;
        char buf[16384];
        int n;
        while ((n = BIO_read(wbio_, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
        return out;
    }

    void writePlain(std::string_view bytes) override {
        if (state_ == TlsState::Failed || state_ == TlsState::PeerClosed) return;
        if (state_ == TlsState::Handshaking) {
            held_.append(bytes);
            return;
        }
        writeNow(bytes);
    }

    std::string takePlain() override {
        std::string out;
        out.swap(plain_);
        return out;
    }

    void shutdown() override {
        if (ssl_ && state_ == TlsState::Open) SSL_shutdown(ssl_.get());
    }

    void transportClosed() override {
        // OpenSSL reports close_notify itself (PeerClosed); any other end is a cut.
        if (state_ == TlsState::Open || state_ == TlsState::Handshaking)
            failNow(TlsFailure::Truncated, "closed without close_notify");
    }

    TlsState state() const override { return state_; }
    TlsFailure failure() const override { return failure_; }
    std::string failureDetail() const override { return detail_; }
    const CertificateInfo& peerCertificate() const override { return cert_; }
    TlsFailure chainVerdict() const override { return chain_; }

private:
    static int ExIndex() {
        static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
        return index;
    }

    // Records every problem the chain check meets and lets the handshake go
    // on; the decision comes in checkPeer().
    static int VerifyCallback(int ok, X509_STORE_CTX* store) {
        if (ok) return 1;
        SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* self = ssl ? static_cast<OpenSslSession*>(SSL_get_ex_data(ssl, ExIndex())) : nullptr;
        if (self) self->noteVerifyError(X509_STORE_CTX_get_error(store));
        return 1;
    }

    void noteVerifyError(int err) {
        switch (err) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID: expired_ = true; break;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH: nameMismatch_ = true; break;
        default:
            untrusted_ = true;
            if (untrustedReason_.empty()) untrustedReason_ = X509_verify_cert_error_string(err);
            break;
        }
    }

    void failNow(TlsFailure f, std::string detail) {
        state_ = TlsState::Failed;
        failure_ = f;
        detail_ = std::move(detail);
        held_.clear();
        plain_.clear();
    }

    void writeNow(std::string_view bytes) {
        while (!bytes.empty()) {
            const int n = SSL_write(ssl_.get(), bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)));
            if (n <= 0) {
                failNow(TlsFailure::Handshake, LastSslError());
                return;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }

    // Reads the certificate, applies the checks and the pin. False refuses the connection.
    bool checkPeer() {
        X509* leaf = SSL_get0_peer_certificate(ssl_.get());
        if (!leaf) {
            failNow(TlsFailure::Untrusted, "no server certificate");
            return false;
        }
        unsigned char* der = nullptr;
        const int len = i2d_X509(leaf, &der);
        if (len > 0) {
            cert_.der.assign(reinterpret_cast<char*>(der), static_cast<std::size_t>(len));
            OPENSSL_free(der);
        }
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int mdLen = 0;
        EVP_Digest(cert_.der.data(), cert_.der.size(), md, &mdLen, EVP_sha256(), nullptr);
        cert_.sha256 = platform::HexLower(std::string_view(reinterpret_cast<char*>(md), mdLen));
        cert_.subject = NameLine(X509_get_subject_name(leaf));
        cert_.issuer = NameLine(X509_get_issuer_name(leaf));
        cert_.notBefore = TimeLine(X509_get0_notBefore(leaf));
        cert_.notAfter = TimeLine(X509_get0_notAfter(leaf));
        // A verify result the callback did not see (none should exist) still counts.
        const long vr = SSL_get_verify_result(ssl_.get());
        if (vr != X509_V_OK && !untrusted_ && !expired_ && !nameMismatch_) noteVerifyError(static_cast<int>(vr));
        chain_ = untrusted_ ? TlsFailure::Untrusted
                 : nameMismatch_ ? TlsFailure::NameMismatch
                 : expired_ ? TlsFailure::Expired
                            : TlsFailure::None;
        const TlsFailure verdict = platform::DecideCertificate(chain_, cert_.sha256, pin_);
        if (verdict != TlsFailure::None) {
            std::string why = verdict == TlsFailure::PinMismatch ? "certificate differs from the pinned one"
                              : verdict == TlsFailure::Untrusted ? untrustedReason_
                              : verdict == TlsFailure::NameMismatch ? "certificate does not name the host"
                                                                    : "certificate expired or not yet valid";
            failNow(verdict, why);
            return false;
        }
        return true;
    }

    void step() {
        if (state_ == TlsState::Handshaking) {
            const int r = SSL_do_handshake(ssl_.get());
            if (r != 1) {
                const int e = SSL_get_error(ssl_.get(), r);
                if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return;
                failNow(TlsFailure::Handshake, LastSslError());
                return;
            }
            // The minimum asked for above, checked on what was agreed before
            // anything is sent (a system policy could lower the minimum).
            if (SSL_version(ssl_.get()) < TLS1_2_VERSION) {
                failNow(TlsFailure::Handshake, std::string("protocol older than TLS 1.2: ") + SSL_get_version(ssl_.get()));
                return;
            }
            if (!checkPeer()) return;
            state_ = TlsState::Open;
            if (!held_.empty()) {
                std::string h;
                h.swap(held_);
                writeNow(h);
                if (state_ != TlsState::Open) return;
            }
        }
        if (state_ != TlsState::Open) return;
        char buf[16384];
        for (;;) {
            const int n = SSL_read(ssl_.get(), buf, sizeof buf);
            if (n > 0) {
                plain_.append(buf, static_cast<std::size_t>(n));
                continue;
            }
            const int e = SSL_get_error(ssl_.get(), n);
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return;
            if (e == SSL_ERROR_ZERO_RETURN) {
                state_ = TlsState::PeerClosed;
                return;
            }
            // An alert or a broken record: what was decrypted before it is
            // kept for the caller, the session ends.
            const std::string d = LastSslError();
            state_ = TlsState::Failed;
            failure_ = TlsFailure::Handshake;
            detail_ = d;
            return;
        }
    }

    std::unique_ptr<SSL_CTX, SslCtxFree> ctx_;
    std::unique_ptr<SSL, SslFree> ssl_;
    BIO* rbio_ = nullptr;  // owned by ssl_
    BIO* wbio_ = nullptr;
    std::string pin_;
    TlsState state_ = TlsState::Handshaking;
    TlsFailure failure_ = TlsFailure::None;
    TlsFailure chain_ = TlsFailure::None;
    std::string detail_;
    std::string held_;
    std::string plain_;
    CertificateInfo cert_;
    bool untrusted_ = false;
    bool expired_ = false;
    bool nameMismatch_ = false;
    std::string untrustedReason_;
};

}  // namespace
}  // namespace iw::posix

namespace iw::platform {

std::unique_ptr<TlsSession> createTlsSession(const TlsOptions& options) {
    return std::make_unique<posix::OpenSslSession>(options);
}

}  // namespace iw::platform
