// The TLS client session of the Windows build: Schannel through SSPI over
// byte buffers (secur32), with the server's certificate checked by this
// program itself (crypt32): the chain to the system's roots, or to exactly
// the CAs of a PEM file, with revocation best-effort from the cache only (no
// fetch from the network, which would freeze the window thread); the host
// name against the certificate's DNS and IP names; the dates; the pin.
// Schannel's own validation is switched off: it cannot accept a pinned
// certificate, and some implementations do not validate at all.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/tls.h"

namespace iw::win32 {
namespace {

using platform::CertificateInfo;
using platform::TlsFailure;
using platform::TlsState;

// A record header, its largest body and trailer: more than this waiting
// undecrypted is no TLS stream.
constexpr std::size_t kMaxPendingCiphertext = 64 * 1024;

std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string Utf8(const wchar_t* w, int len = -1) {
    if (!w) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, len, s.data(), n, nullptr, nullptr);
    if (len < 0 && !s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

std::string Hex32(unsigned long v) {
    char buf[16];
    wsprintfA(buf, "0x%08lX", v);
    return buf;
}

std::string NameLine(PCERT_NAME_BLOB name) {
    const DWORD n = CertNameToStrW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, nullptr, 0);
    if (n <= 1) return {};
    std::wstring w(n, L'\0');
    CertNameToStrW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG, w.data(), n);
    return Utf8(w.c_str());
}

std::string TimeLine(const FILETIME& ft) {
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&ft, &st)) return {};
    char buf[40];
    wsprintfA(buf, "%04u-%02u-%02u %02u:%02u:%02u UTC", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    return buf;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A DNS name from the certificate against the host: exact, or a wildcard
// standing for the whole leftmost label (never for a dot, never for a bare
// public suffix such as "*.com").
bool DnsNameMatches(std::string pattern, std::string host) {
    pattern = Lower(pattern);
    host = Lower(host);
    if (!host.empty() && host.back() == '.') host.pop_back();
    if (!pattern.empty() && pattern.back() == '.') pattern.pop_back();
    if (pattern == host) return !host.empty();
    if (pattern.size() < 3 || pattern.compare(0, 2, "*.") != 0) return false;
    const std::string suffix = pattern.substr(1);  // ".example.com"
    if (suffix.find('.', 1) == std::string::npos) return false;
    const std::size_t dot = host.find('.');
    return dot != std::string::npos && dot > 0 && host.substr(dot) == suffix;
}

bool ParseIpv4(const std::string& s, unsigned char out[4]) {
    int part = 0;
    unsigned value = 0;
    int digits = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == '.') {
            if (digits == 0 || value > 255 || part > 3) return false;
            out[part++] = static_cast<unsigned char>(value);
            value = 0;
            digits = 0;
            continue;
        }
        if (s[i] < '0' || s[i] > '9' || ++digits > 3) return false;
        value = value * 10 + static_cast<unsigned>(s[i] - '0');
    }
    return part == 4;
}

// The host against the subject alternative names (DNS or IP); a certificate
// without that extension is judged by its common name, as older ones are.
bool HostMatches(PCCERT_CONTEXT cert, const std::string& host) {
    unsigned char ip[4];
    const bool isIp = ParseIpv4(host, ip);
    PCERT_EXTENSION ext = CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension,
                                            cert->pCertInfo->rgExtension);
    if (ext) {
        CERT_ALT_NAME_INFO* names = nullptr;
        DWORD size = 0;
        if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                                 CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
            return false;
        bool match = false;
        for (DWORD i = 0; i < names->cAltEntry && !match; ++i) {
            const CERT_ALT_NAME_ENTRY& e = names->rgAltEntry[i];
            if (!isIp && e.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
                match = DnsNameMatches(Utf8(e.pwszDNSName), host);
            } else if (isIp && e.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
                match = e.IPAddress.cbData == 4 && std::memcmp(e.IPAddress.pbData, ip, 4) == 0;
            }
        }
        LocalFree(names);
        return match;
    }
    if (isIp) return false;
    wchar_t cn[256];
    const DWORD n = CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), cn, 256);
    return n > 1 && DnsNameMatches(Utf8(cn), host);
}

// A certificate store holding the CAs of a PEM file.
HCERTSTORE LoadPemStore(const std::string& path, std::string& why) {
    HANDLE f = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        why = "CA file cannot be read";
        return nullptr;
    }
    std::string text;
    char buf[8192];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0 && text.size() < 16 * 1024 * 1024)
        text.append(buf, got);
    CloseHandle(f);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    if (!store) return nullptr;
    static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
    static const char kEnd[] = "-----END CERTIFICATE-----";
    int added = 0;
    for (std::size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
        const std::size_t end = text.find(kEnd, at);
        if (end == std::string::npos) break;
        const std::string block = text.substr(at, end + sizeof kEnd - 1 - at);
        at = end;
        DWORD len = 0;
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &len, nullptr, nullptr))
            continue;
        std::vector<BYTE> der(len);
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                  &len, nullptr, nullptr))
            continue;
        if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), len, CERT_STORE_ADD_ALWAYS, nullptr))
            ++added;
    }
    if (added == 0) why = "no certificate in the CA file";
    return store;
}

// The chain's verdict: the trust errors that matter, with revocation best-effort.
TlsFailure CheckChain(PCCERT_CONTEXT cert, const std::string& caFile, std::string& why) {
    HCERTCHAINENGINE engine = nullptr;
    HCERTSTORE roots = nullptr;
    if (!caFile.empty()) {
        roots = LoadPemStore(caFile, why);
        if (!roots) return TlsFailure::Untrusted;
        CERT_CHAIN_ENGINE_CONFIG config{};
        config.cbSize = sizeof config;
        config.hExclusiveRoot = roots;
        config.dwFlags = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL;
        // Older systems know the structure without its last member.
        if (!CertCreateCertificateChainEngine(&config, &engine)) {
            config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);
            if (!CertCreateCertificateChainEngine(&config, &engine)) {
                CertCloseStore(roots, 0);
                why = "no chain engine for the CA file " + Hex32(GetLastError());
                return TlsFailure::Untrusted;
            }
        }
    }
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    static char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverAuth};
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    const DWORD flags = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY |
                        CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL;
    const BOOL ok = CertGetCertificateChain(engine, cert, nullptr, cert->hCertStore, &para, flags, nullptr, &chain);
    TlsFailure verdict = TlsFailure::None;
    if (!ok || !chain) {
        why = "chain not built " + Hex32(GetLastError());
        verdict = TlsFailure::Untrusted;
    } else {
        DWORD status = chain->TrustStatus.dwErrorStatus;
        status &= ~static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                      CERT_TRUST_IS_OFFLINE_REVOCATION);
        if (status != 0) {
            why = "chain status " + Hex32(status);
            verdict = (status & ~static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_VALID)) == 0 ? TlsFailure::Expired
                                                                                        : TlsFailure::Untrusted;
        }
        CertFreeCertificateChain(chain);
    }
    if (engine) CertFreeCertificateChainEngine(engine);
    if (roots) CertCloseStore(roots, 0);
    return verdict;
}

class SchannelSession : public platform::TlsSession {
public:
    explicit SchannelSession(const platform::TlsOptions& o)
        : host_(o.host), pin_(o.pinSha256), caFile_(o.caFile), target_(Wide(o.host)) {
        SecInvalidateHandle(&cred_);
        SecInvalidateHandle(&ctx_);
        if (!acquire()) return;
        handshake();
    }

    ~SchannelSession() override {
        if (SecIsValidHandle(&ctx_)) DeleteSecurityContext(&ctx_);
        if (SecIsValidHandle(&cred_)) FreeCredentialsHandle(&cred_);
    }

    void feedCiphertext(std::string_view bytes) override {
        if (state_ == TlsState::Failed || state_ == TlsState::PeerClosed) return;
        in_.append(bytes);
        if (in_.size() > kMaxPendingCiphertext + 1024) {
            failNow(TlsFailure::Handshake, "over-long TLS record");
            return;
        }
        if (state_ == TlsState::Handshaking || renegotiating_) {
            handshake();
            if (state_ != TlsState::Open) return;
        }
        decrypt();
    }

    std::string takeCiphertext() override {
        std::string out;
        out.swap(out_);
        return out;
    }

    void writePlain(std::string_view bytes) override {
        if (state_ == TlsState::Failed || state_ == TlsState::PeerClosed) return;
        if (state_ == TlsState::Handshaking || renegotiating_) {
            held_.append(bytes);
            return;
        }
        encrypt(bytes);
    }

    std::string takePlain() override {
        std::string out;
        out.swap(plain_);
        return out;
    }

    void shutdown() override {
        if (state_ != TlsState::Open) return;
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer b{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc d{SECBUFFER_VERSION, 1, &b};
        if (ApplyControlToken(&ctx_, &d) != SEC_E_OK) return;
        SecBuffer outBuf{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuf};
        DWORD attrs = 0;
        InitializeSecurityContextW(&cred_, &ctx_, target_.empty() ? nullptr : target_.data(), kRequest, 0, 0, nullptr,
                                   0, nullptr, &outDesc, &attrs, nullptr);
        if (outBuf.pvBuffer) {
            out_.append(static_cast<const char*>(outBuf.pvBuffer), outBuf.cbBuffer);
            FreeContextBuffer(outBuf.pvBuffer);
        }
    }

    void transportClosed() override {
        if (state_ != TlsState::Open && state_ != TlsState::Handshaking) return;
        // Some implementations hand the server's close_notify up as an empty
        // record rather than as the context's end; an empty record followed
        // at once by the end of the connection is taken as that close.
        if (state_ == TlsState::Open && lastRecordEmpty_ && in_.empty()) {
            state_ = TlsState::PeerClosed;
            return;
        }
        failNow(TlsFailure::Truncated, "closed without close_notify");
    }

    TlsState state() const override { return state_; }
    TlsFailure failure() const override { return failure_; }
    std::string failureDetail() const override { return detail_; }
    const CertificateInfo& peerCertificate() const override { return cert_; }
    TlsFailure chainVerdict() const override { return chain_; }

private:
    static constexpr DWORD kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                      ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                      ISC_REQ_MANUAL_CRED_VALIDATION;

    bool acquire() {
        TimeStamp expiry;
        // The current structure first (it allows TLS 1.3 where the system has
        // it), the older one where the system does not know it.
        TLS_PARAMETERS params{};
        params.grbitDisabledProtocols = SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT |
                                        SP_PROT_TLS1_1_CLIENT;
        SCH_CREDENTIALS modern{};
        modern.dwVersion = SCH_CREDENTIALS_VERSION;
        modern.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
        modern.cTlsParameters = 1;
        modern.pTlsParameters = &params;
        SECURITY_STATUS s = AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                                      nullptr, &modern, nullptr, nullptr, &cred_, &expiry);
        if (s == SEC_E_OK) return true;
        SCHANNEL_CRED old{};
        old.dwVersion = SCHANNEL_CRED_VERSION;
        old.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        old.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
        s = AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &old,
                                      nullptr, nullptr, &cred_, &expiry);
        if (s == SEC_E_OK) return true;
        SecInvalidateHandle(&cred_);
        failNow(TlsFailure::Handshake, "no TLS credentials " + Hex32(static_cast<unsigned long>(s)));
        return false;
    }

    void failNow(TlsFailure f, std::string detail) {
        state_ = TlsState::Failed;
        failure_ = f;
        detail_ = std::move(detail);
        held_.clear();
        in_.clear();
    }

    // Runs the handshake (or a renegotiation) as far as the bytes at hand allow.
    void handshake() {
        for (;;) {
            const bool first = !SecIsValidHandle(&ctx_);
            if (!first && in_.empty()) return;
            SecBuffer inBufs[2] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_TOKEN, in_.data()},
                                   {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBufs};
            SecBuffer outBufs[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 2, outBufs};
            DWORD attrs = 0;
            TimeStamp expiry;
            const SECURITY_STATUS s = InitializeSecurityContextW(
                &cred_, first ? nullptr : &ctx_, target_.empty() ? nullptr : target_.data(), flags_, 0, 0,
                first ? nullptr : &inDesc, 0, first ? &ctx_ : nullptr, &outDesc, &attrs, &expiry);
            for (SecBuffer& b : outBufs) {
                if (b.pvBuffer && b.cbBuffer && (b.BufferType == SECBUFFER_TOKEN || b.BufferType == SECBUFFER_ALERT))
                    out_.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
                if (b.pvBuffer) FreeContextBuffer(b.pvBuffer);
            }
            if (s == SEC_E_INCOMPLETE_MESSAGE) return;  // every byte is kept; more must come
            if (s == SEC_I_INCOMPLETE_CREDENTIALS) {
                // The server asks for a client certificate; there is none to give.
                flags_ |= ISC_REQ_USE_SUPPLIED_CREDS;
                continue;
            }
            if (s != SEC_E_OK && s != SEC_I_CONTINUE_NEEDED) {
                failNow(TlsFailure::Handshake, "handshake " + Hex32(static_cast<unsigned long>(s)));
                return;
            }
            if (!first) keepExtra(inBufs[1]);
            if (s == SEC_I_CONTINUE_NEEDED) {
                if (first) return;
                continue;
            }
            // Done.
            if (!renegotiating_) {
                if (QueryContextAttributesW(&ctx_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
                    failNow(TlsFailure::Handshake, "no stream sizes");
                    return;
                }
                // The minimum of TLS 1.2 asked for in the credentials is not
                // honoured everywhere (Wine ignores SCH_CREDENTIALS' protocol
                // parameters; older systems do not know the structure), so
                // the protocol agreed on is checked before anything is sent.
                SecPkgContext_ConnectionInfo info{};
                if (QueryContextAttributesW(&ctx_, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) {
                    failNow(TlsFailure::Handshake, "no connection info");
                    return;
                }
                protocol_ = info.dwProtocol;
                if (!(protocol_ & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT))) {
                    failNow(TlsFailure::Handshake, "protocol older than TLS 1.2 " + Hex32(protocol_));
                    return;
                }
                if (!checkPeer()) return;
            } else if (!sameCertificate()) {
                // A later handshake (TLS 1.3 only gets this far) must not
                // bring another certificate than the one checked.
                failNow(TlsFailure::Handshake, "certificate changed in a later handshake");
                return;
            }
            renegotiating_ = false;
            state_ = TlsState::Open;
            if (!held_.empty()) {
                std::string h;
                h.swap(held_);
                encrypt(h);
            }
            return;
        }
    }

    void keepExtra(const SecBuffer& extra) {
        if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0 && extra.cbBuffer <= in_.size())
            in_.erase(0, in_.size() - extra.cbBuffer);
        else
            in_.clear();
    }

    // Whether the server's certificate is still the one checked after the
    // first handshake.
    bool sameCertificate() {
        PCCERT_CONTEXT cert = nullptr;
        if (QueryContextAttributesW(&ctx_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK || !cert) return true;
        const bool same = cert_.der.size() == cert->cbCertEncoded &&
                          cert_.der.compare(0, cert_.der.size(), reinterpret_cast<const char*>(cert->pbCertEncoded),
                                            cert->cbCertEncoded) == 0;
        CertFreeCertificateContext(cert);
        return same;
    }

    bool checkPeer() {
        PCCERT_CONTEXT cert = nullptr;
        if (QueryContextAttributesW(&ctx_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK || !cert) {
            failNow(TlsFailure::Untrusted, "no server certificate");
            return false;
        }
        cert_.der.assign(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
        BYTE hash[32];
        DWORD hashLen = sizeof hash;
        if (CryptHashCertificate2(L"SHA256", 0, nullptr, cert->pbCertEncoded, cert->cbCertEncoded, hash, &hashLen))
            cert_.sha256 = platform::HexLower(std::string_view(reinterpret_cast<const char*>(hash), hashLen));
        cert_.subject = NameLine(&cert->pCertInfo->Subject);
        cert_.issuer = NameLine(&cert->pCertInfo->Issuer);
        cert_.notBefore = TimeLine(cert->pCertInfo->NotBefore);
        cert_.notAfter = TimeLine(cert->pCertInfo->NotAfter);
        std::string why;
        chain_ = CheckChain(cert, caFile_, why);
        if (chain_ == TlsFailure::None && !HostMatches(cert, host_)) {
            chain_ = TlsFailure::NameMismatch;
            why = "certificate does not name the host";
        }
        CertFreeCertificateContext(cert);
        if (cert_.sha256.empty()) {
            failNow(TlsFailure::Untrusted, "certificate cannot be hashed");
            return false;
        }
        const TlsFailure verdict = platform::DecideCertificate(chain_, cert_.sha256, pin_);
        if (verdict != TlsFailure::None) {
            failNow(verdict, verdict == TlsFailure::PinMismatch ? "certificate differs from the pinned one" : why);
            return false;
        }
        return true;
    }

    void encrypt(std::string_view bytes) {
        while (!bytes.empty() && state_ == TlsState::Open) {
            const std::size_t n = std::min<std::size_t>(bytes.size(), sizes_.cbMaximumMessage);
            std::string rec(sizes_.cbHeader + n + sizes_.cbTrailer, '\0');
            std::memcpy(rec.data() + sizes_.cbHeader, bytes.data(), n);
            SecBuffer b[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, rec.data()},
                              {static_cast<unsigned long>(n), SECBUFFER_DATA, rec.data() + sizes_.cbHeader},
                              {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, rec.data() + sizes_.cbHeader + n},
                              {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc d{SECBUFFER_VERSION, 4, b};
            const SECURITY_STATUS s = EncryptMessage(&ctx_, 0, &d, 0);
            if (s != SEC_E_OK) {
                failNow(TlsFailure::Handshake, "encrypt " + Hex32(static_cast<unsigned long>(s)));
                return;
            }
            out_.append(rec.data(), b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
            bytes.remove_prefix(n);
        }
    }

    void decrypt() {
        while (state_ == TlsState::Open && !in_.empty()) {
            SecBuffer b[4] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_DATA, in_.data()},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc d{SECBUFFER_VERSION, 4, b};
            const SECURITY_STATUS s = DecryptMessage(&ctx_, &d, 0, nullptr);
            if (s == SEC_E_INCOMPLETE_MESSAGE) return;
            if (s == SEC_I_CONTEXT_EXPIRED) {
                state_ = TlsState::PeerClosed;
                in_.clear();
                return;
            }
            if (s != SEC_E_OK && s != SEC_I_RENEGOTIATE) {
                failNow(TlsFailure::Handshake, "decrypt " + Hex32(static_cast<unsigned long>(s)));
                return;
            }
            std::size_t got = 0;
            const SecBuffer* extra = nullptr;
            for (const SecBuffer& x : b) {
                if (x.BufferType == SECBUFFER_DATA && x.pvBuffer) {
                    plain_.append(static_cast<const char*>(x.pvBuffer), x.cbBuffer);
                    got += x.cbBuffer;
                }
                if (x.BufferType == SECBUFFER_EXTRA) extra = &x;
            }
            lastRecordEmpty_ = got == 0;
            // The decrypted text lies inside in_, so it is copied out above before in_ changes.
            if (extra && extra->cbBuffer > 0 && extra->cbBuffer <= in_.size())
                in_.erase(0, in_.size() - extra->cbBuffer);
            else
                in_.clear();
            if (s == SEC_I_RENEGOTIATE) {
                // TLS 1.3 sends its session tickets this way; under TLS 1.2 a
                // server-started renegotiation could bring another certificate,
                // so it is refused.
                if (protocol_ & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_1_CLIENT | SP_PROT_TLS1_0_CLIENT)) {
                    failNow(TlsFailure::Handshake, "renegotiation refused");
                    return;
                }
                renegotiating_ = true;
                handshake();
                if (renegotiating_) return;  // waits for more of it
            }
        }
    }

    std::string host_;
    std::string pin_;
    std::string caFile_;
    std::wstring target_;
    CredHandle cred_;
    CtxtHandle ctx_;
    DWORD flags_ = kRequest;
    SecPkgContext_StreamSizes sizes_{};
    DWORD protocol_ = 0;
    TlsState state_ = TlsState::Handshaking;
    TlsFailure failure_ = TlsFailure::None;
    TlsFailure chain_ = TlsFailure::None;
    std::string detail_;
    std::string in_;     // ciphertext received and not yet consumed
    std::string out_;    // ciphertext to send
    std::string held_;   // plain text written before the checks passed
    std::string plain_;  // decrypted text
    CertificateInfo cert_;
    bool renegotiating_ = false;
    bool lastRecordEmpty_ = false;
};

}  // namespace
}  // namespace iw::win32

namespace iw::platform {

std::unique_ptr<TlsSession> createTlsSession(const TlsOptions& options) {
    return std::make_unique<win32::SchannelSession>(options);
}

}  // namespace iw::platform
