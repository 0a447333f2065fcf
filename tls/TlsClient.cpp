// SPDX-License-Identifier: Apache-2.0
// The shared TLS client context and the failure classes.
#include "tls/TlsClient.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <mutex>

namespace {

std::mutex gMutex;
TTlsSettings gSettings;
std::shared_ptr<SSL_CTX> gContext;  // null until first use or after a settings change

// Offered in this order; names the OpenSSL in use does not know are skipped by it.
constexpr const char* kTls12Ciphers = "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:DEFAULT";
constexpr const char* kTls13Suites = "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";

std::string QueueText() {
    const unsigned long e = ERR_peek_last_error();
    std::string text;
    if (e != 0) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        text = buf;
    }
    ERR_clear_error();
    return text;
}

// The system's authority file is read when a verification first needs an authority that
// is not known yet, not when the context is built: parsing the whole bundle costs tens of
// milliseconds, which a program trusting only its extra authority, or not verifying at
// all, would otherwise pay before its first connection. Once read, its certificates are in
// the store like any others. An authority of the extra file hides a system one of the same
// name (the file is then not read for that name).
struct TLazyFile {
    std::once_flag Read;
    std::string Path;
};

int LazyFileNew(X509_LOOKUP* Lookup) {
    X509_LOOKUP_set_method_data(Lookup, new TLazyFile);
    return 1;
}

void LazyFileFree(X509_LOOKUP* Lookup) { delete static_cast<TLazyFile*>(X509_LOOKUP_get_method_data(Lookup)); }

int LazyFileBySubject(X509_LOOKUP* Lookup, X509_LOOKUP_TYPE Type, const X509_NAME* Name, X509_OBJECT* Ret) {
    auto* lazy = static_cast<TLazyFile*>(X509_LOOKUP_get_method_data(Lookup));
    X509_STORE* store = X509_LOOKUP_get_store(Lookup);
    if (!lazy || !store) return 0;
    std::call_once(lazy->Read, [&] {
        // A missing or broken file is no error here, as with OpenSSL's own defaults.
        ERR_set_mark();
        X509_load_cert_crl_file(Lookup, lazy->Path.c_str(), X509_FILETYPE_PEM);
        ERR_pop_to_mark();
    });
    if (!X509_STORE_lock(store)) return 0;
    X509_OBJECT* found = X509_OBJECT_retrieve_by_subject(X509_STORE_get0_objects(store), Type, const_cast<X509_NAME*>(Name));
    int ok = 0;
    if (found) {
        // The caller takes its own reference: Ret borrows the store's, as OpenSSL's lookups do.
        if (X509* cert = X509_OBJECT_get0_X509(found)) {
            ok = X509_OBJECT_set1_X509(Ret, cert);
            if (ok) X509_free(cert);
        } else if (X509_CRL* crl = X509_OBJECT_get0_X509_CRL(found)) {
            ok = X509_OBJECT_set1_X509_CRL(Ret, crl);
            if (ok) X509_CRL_free(crl);
        }
    }
    X509_STORE_unlock(store);
    return ok;
}

X509_LOOKUP_METHOD* LazyFileMethod() {
    static X509_LOOKUP_METHOD* const method = [] {  // kept for the life of the process
        X509_LOOKUP_METHOD* m = X509_LOOKUP_meth_new("system authority file, read on demand");
        if (!m) return m;
        X509_LOOKUP_meth_set_new_item(m, LazyFileNew);
        X509_LOOKUP_meth_set_free(m, LazyFileFree);
        X509_LOOKUP_meth_set_get_by_subject(m, LazyFileBySubject);
        return m;
    }();
    return method;
}

// OpenSSL's default locations, with the file read on demand: SSL_CERT_FILE (else the
// built-in file), the hashed folder SSL_CERT_DIR (else the built-in folder), and that
// folder as a store, in OpenSSL's order.
bool UseSystemStore(SSL_CTX* ctx) {
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    X509_LOOKUP_METHOD* method = LazyFileMethod();
    X509_LOOKUP* file = method ? X509_STORE_add_lookup(store, method) : nullptr;
    if (!file) return false;
    const char* env = secure_getenv(X509_get_default_cert_file_env());
    static_cast<TLazyFile*>(X509_LOOKUP_get_method_data(file))->Path = env ? env : X509_get_default_cert_file();
    X509_LOOKUP* dir = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
    if (!dir) return false;
    X509_LOOKUP_add_dir(dir, nullptr, X509_FILETYPE_DEFAULT);
    X509_LOOKUP* uri = X509_STORE_add_lookup(store, X509_LOOKUP_store());
    if (!uri) return false;
    X509_LOOKUP_add_store(uri, nullptr);
    ERR_clear_error();
    return true;
}

std::shared_ptr<SSL_CTX> BuildContext(const TTlsSettings& s) {
    ERR_clear_error();
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) throw ETlsError("TLS: cannot create a context: " + QueueText());
    std::shared_ptr<SSL_CTX> owned(ctx, SSL_CTX_free);
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // AES-128-GCM first, the rest in OpenSSL's order: it is as safe as the 256-bit key
    // for this use and about a sixth cheaper to encrypt, for the server as for us, which
    // on a large photo or album is what the transfer waits for.
    if (SSL_CTX_set_cipher_list(ctx, kTls12Ciphers) != 1 || SSL_CTX_set_ciphersuites(ctx, kTls13Suites) != 1)
        throw ETlsError("TLS: cannot set the cipher preferences: " + QueueText());
    if (!UseSystemStore(ctx)) throw ETlsError("TLS: cannot set up the system's authorities: " + QueueText());
    if (!s.CaFile.empty() && SSL_CTX_load_verify_locations(ctx, s.CaFile.c_str(), nullptr) != 1)
        throw ETlsError("TLS: cannot load the authority file " + s.CaFile + ": " + QueueText());
    SSL_CTX_set_verify(ctx, s.Verify ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
    ERR_clear_error();
    return owned;
}

bool IsIpLiteral(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

TTlsFailure ClassOfVerifyResult(long r) {
    switch (r) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
        case X509_V_ERR_EMAIL_MISMATCH:
            return TTlsFailure::NameMismatch;
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
            return TTlsFailure::DateInvalid;
        default:
            // Unknown issuer, self-signed, bad signature, unsuitable authority: all say
            // that no trusted authority vouches for this certificate.
            return TTlsFailure::UntrustedAuthority;
    }
}

// A verification that failed with this result, in the user's words.
TTlsFailureInfo VerifyFailure(long verify, const std::string& Host) {
    TTlsFailureInfo info;
    info.Kind = ClassOfVerifyResult(verify);
    const std::string why = X509_verify_cert_error_string(verify);
    switch (info.Kind) {
        case TTlsFailure::NameMismatch:
            info.Text = "the certificate of " + Host + " is not valid for that name (" + why + ")";
            break;
        case TTlsFailure::DateInvalid:
            info.Text = "the certificate of " + Host + " is expired or not yet valid (" + why + ")";
            break;
        default:
            info.Text = "the certificate of " + Host + " is not trusted (" + why +
                        "); to trust its authority use --ca-file or [tls] ca-file";
            break;
    }
    return info;
}

// The certificate must name Host: its address for an IP literal, else the name (no
// partial wildcards).
void ExpectPeer(X509_VERIFY_PARAM* param, const std::string& Host) {
    if (IsIpLiteral(Host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, Host.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, Host.c_str(), Host.size());
    }
}

}  // namespace

void TlsApplySettings(const TTlsSettings& Settings) {
    std::shared_ptr<SSL_CTX> ctx = BuildContext(Settings);  // fails before anything changes
    std::lock_guard<std::mutex> lock(gMutex);
    gSettings = Settings;
    gContext = std::move(ctx);
}

TTlsSettings TlsGetSettings() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gSettings;
}

std::shared_ptr<SSL_CTX> TlsClientContext() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gContext) gContext = BuildContext(gSettings);
    return gContext;
}

void TlsPrepareClient(SSL* Ssl, const std::string& Host) {
    if (!IsIpLiteral(Host)) SSL_set_tlsext_host_name(Ssl, Host.c_str());
    ExpectPeer(SSL_get0_param(Ssl), Host);
}

TTlsFailureInfo TlsVerifyChain(const std::vector<std::string>& DerChain, const std::string& Host) {
    if (!TlsGetSettings().Verify) return {};
    const std::shared_ptr<SSL_CTX> context = TlsClientContext();
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> chain(
        sk_X509_new_null(), [](STACK_OF(X509)* s) { sk_X509_pop_free(s, X509_free); });
    for (const std::string& der : DerChain) {
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        if (!cert || !chain || !sk_X509_push(chain.get(), cert)) {
            X509_free(cert);
            ERR_clear_error();
            return {TTlsFailure::UntrustedAuthority, "the certificate of " + Host + " cannot be read"};
        }
    }
    if (sk_X509_num(chain.get()) == 0) return {TTlsFailure::UntrustedAuthority, "no certificate came from " + Host};
    std::unique_ptr<X509_STORE_CTX, void (*)(X509_STORE_CTX*)> check(X509_STORE_CTX_new(), X509_STORE_CTX_free);
    if (!check || X509_STORE_CTX_init(check.get(), SSL_CTX_get_cert_store(context.get()), sk_X509_value(chain.get(), 0),
                                      chain.get()) != 1) {
        ERR_clear_error();
        return {TTlsFailure::ChannelError, "cannot check the certificate of " + Host};
    }
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(check.get());
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    ExpectPeer(param, Host);
    const bool passed = X509_verify_cert(check.get()) == 1;
    const long verify = X509_STORE_CTX_get_error(check.get());
    ERR_clear_error();
    return passed ? TTlsFailureInfo{} : VerifyFailure(verify, Host);
}

TTlsFailureInfo TlsClassifyFailure(SSL* Ssl, const std::string& Host) {
    const long verify = SSL_get_verify_result(Ssl);
    const std::string queue = QueueText();
    if (verify != X509_V_OK) return VerifyFailure(verify, Host);
    return {TTlsFailure::ChannelError,
            "TLS handshake with " + Host + " failed" + (queue.empty() ? std::string() : " (" + queue + ")")};
}

TTlsFailureInfo TlsRecordFailure(const std::string& Host) {
    const std::string queue = QueueText();
    return {TTlsFailure::ChannelError,
            "TLS connection with " + Host + " failed" + (queue.empty() ? std::string() : " (" + queue + ")")};
}

int TlsFailureInternetCode(TTlsFailure Kind) {
    switch (Kind) {
        case TTlsFailure::None: return 0;
        case TTlsFailure::UntrustedAuthority: return 12045;
        case TTlsFailure::NameMismatch: return 12038;
        case TTlsFailure::DateInvalid: return 12037;
        case TTlsFailure::ChannelError:
        case TTlsFailure::Truncated: return 12157;
    }
    return 0;
}

