// The in-process TLS test server: OpenSSL over memory BIOs, certificates
// signed on the spot by a throw-away CA.
#include "tests/support/tls_test_server.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

#include "platform/tls.h"

namespace iw::test {
namespace {

void Must(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("test TLS server: ") + what);
}

EVP_PKEY* NewKey() {
    EVP_PKEY* k = EVP_EC_gen("P-256");
    Must(k != nullptr, "key");
    return k;
}

void AddExt(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    Must(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

X509* MakeCert(EVP_PKEY* key, const char* cn, const char* san, X509* issuer, EVP_PKEY* issuerKey, bool ca) {
    X509* c = X509_new();
    X509_set_version(c, 2);
    static long serial = 1;
    ASN1_INTEGER_set(X509_get_serialNumber(c), serial++);
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), 7 * 24 * 3600);
    X509_set_pubkey(c, key);
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : name);
    X509* signer = issuer ? issuer : c;
    if (ca) {
        AddExt(c, signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExt(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExt(c, signer, NID_basic_constraints, "CA:FALSE");
        AddExt(c, signer, NID_ext_key_usage, "serverAuth");
        AddExt(c, signer, NID_subject_alt_name, san);
    }
    Must(X509_sign(c, issuerKey ? issuerKey : key, EVP_sha256()) > 0, "sign");
    return c;
}

struct Pki {
    EVP_PKEY* caKey = NewKey();
    X509* ca = MakeCert(caKey, "Inkwarden Unit CA", nullptr, nullptr, nullptr, true);
    EVP_PKEY* leafKey = NewKey();
    X509* good = MakeCert(leafKey, "mail.test", "DNS:mail.test", ca, caKey, false);
    X509* wrongName = MakeCert(leafKey, "other.test", "DNS:other.test", ca, caKey, false);
    X509* selfSigned = MakeCert(leafKey, "mail.test", "DNS:mail.test", nullptr, nullptr, false);
    TestCertificates files;

    Pki() {
        char path[] = "/tmp/iw-unit-ca-XXXXXX";
        const int fd = mkstemp(path);
        Must(fd >= 0, "CA file");
        FILE* f = fdopen(fd, "w");
        PEM_write_X509(f, ca);
        std::fclose(f);
        files.caFile = path;
        files.goodName = "mail.test";
    }
    ~Pki() { std::remove(files.caFile.c_str()); }
};

Pki& ThePki() {
    static Pki pki;
    return pki;
}

}  // namespace

struct TlsTestServer::Impl {
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    BIO* rbio = nullptr;
    BIO* wbio = nullptr;
    X509* leaf = nullptr;
    std::string pending;  // plain text waiting for the handshake
    std::string received;
    bool done = false;
    bool broken = false;
    int handshakes = 0;  // ClientHellos received
    bool alertOnHello = false;
    X509* selfSigned = nullptr;

    void step() {
        if (broken) return;
        if (!done) {
            const int r = SSL_do_handshake(ssl);
            if (r != 1) {
                const int e = SSL_get_error(ssl, r);
                if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) broken = true;
                ERR_clear_error();
                return;
            }
            done = true;
        }
        if (!pending.empty()) {
            SSL_write(ssl, pending.data(), static_cast<int>(pending.size()));
            pending.clear();
        }
        char buf[16384];
        int n;
        while ((n = SSL_read(ssl, buf, sizeof buf)) > 0) received.append(buf, static_cast<std::size_t>(n));
        ERR_clear_error();
    }
};

const TestCertificates& TlsTestServer::certificates() { return ThePki().files; }

TlsTestServer::TlsTestServer(Leaf leaf, Fault fault) : impl_(std::make_unique<Impl>()) {
    Pki& pki = ThePki();
    impl_->ctx = SSL_CTX_new(TLS_server_method());
    impl_->leaf = leaf == Leaf::Good ? pki.good : leaf == Leaf::WrongName ? pki.wrongName : pki.selfSigned;
    Must(SSL_CTX_use_certificate(impl_->ctx, impl_->leaf) == 1, "certificate");
    Must(SSL_CTX_use_PrivateKey(impl_->ctx, pki.leafKey) == 1, "private key");
    impl_->selfSigned = pki.selfSigned;
    if (fault == Fault::Renegotiate) {
        Must(SSL_CTX_set_max_proto_version(impl_->ctx, TLS1_2_VERSION) == 1, "TLS 1.2 at most");
    }
    if (fault == Fault::OldProtocolsOnly) {
        SSL_CTX_set_security_level(impl_->ctx, 0);
        Must(SSL_CTX_set_min_proto_version(impl_->ctx, TLS1_VERSION) == 1, "TLS 1.0 at least");
        Must(SSL_CTX_set_max_proto_version(impl_->ctx, TLS1_1_VERSION) == 1, "TLS 1.1 at most");
    }
    // Every ClientHello is counted (a second one is a renegotiation); with
    // AlertOnHello the first is answered with an alert.
    impl_->alertOnHello = fault == Fault::AlertOnHello;
    SSL_CTX_set_client_hello_cb(
        impl_->ctx,
        [](SSL* ssl, int* alert, void*) {
            auto* self = static_cast<Impl*>(SSL_get_app_data(ssl));
            if (self) ++self->handshakes;
            if (self && self->alertOnHello) {
                *alert = SSL_AD_HANDSHAKE_FAILURE;
                return SSL_CLIENT_HELLO_ERROR;
            }
            return SSL_CLIENT_HELLO_SUCCESS;
        },
        nullptr);
    impl_->ssl = SSL_new(impl_->ctx);
    SSL_set_app_data(impl_->ssl, impl_.get());
    impl_->rbio = BIO_new(BIO_s_mem());
    impl_->wbio = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(impl_->rbio, -1);
    SSL_set_bio(impl_->ssl, impl_->rbio, impl_->wbio);
    SSL_set_accept_state(impl_->ssl);
}

TlsTestServer::~TlsTestServer() {
    SSL_free(impl_->ssl);
    SSL_CTX_free(impl_->ctx);
}

void TlsTestServer::feed(std::string_view bytes) {
    if (!bytes.empty()) BIO_write(impl_->rbio, bytes.data(), static_cast<int>(bytes.size()));
    impl_->step();
}

std::string TlsTestServer::take() {
    std::string out;
    char buf[16384];
    int n;
    while ((n = BIO_read(impl_->wbio, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    return out;
}

void TlsTestServer::write(std::string_view plain) {
    impl_->pending.append(plain);
    if (impl_->done) impl_->step();
}

std::string TlsTestServer::read() {
    std::string out;
    out.swap(impl_->received);
    return out;
}

void TlsTestServer::closeNotify() { SSL_shutdown(impl_->ssl); }

bool TlsTestServer::handshakeDone() const { return impl_->done; }

bool TlsTestServer::failed() const { return impl_->broken; }

std::string TlsTestServer::leafSha256() const {
    unsigned char* der = nullptr;
    const int len = i2d_X509(impl_->leaf, &der);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    EVP_Digest(der, static_cast<std::size_t>(len), md, &mdLen, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    return platform::HexLower(std::string_view(reinterpret_cast<char*>(md), mdLen));
}

int TlsTestServer::handshakes() const { return impl_->handshakes; }

void TlsTestServer::renegotiate() {
    SSL_use_certificate(impl_->ssl, impl_->selfSigned);
    SSL_renegotiate(impl_->ssl);
    SSL_do_handshake(impl_->ssl);
    ERR_clear_error();
}

}  // namespace iw::test
