// The shared TLS client context and the failure classes.
#include "platform/TlsClient.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <mutex>

namespace {

std::mutex gMutex;
TTlsSettings gSettings;
std::shared_ptr<SSL_CTX> gContext;  // null until first use or after a settings change

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

std::shared_ptr<SSL_CTX> BuildContext(const TTlsSettings& s) {
    ERR_clear_error();
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) throw ETlsError("TLS: cannot create a context: " + QueueText());
    std::shared_ptr<SSL_CTX> owned(ctx, SSL_CTX_free);
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // The system store; OpenSSL reads SSL_CERT_FILE / SSL_CERT_DIR here.
    SSL_CTX_set_default_verify_paths(ctx);
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
    X509_VERIFY_PARAM* param = SSL_get0_param(Ssl);
    if (IsIpLiteral(Host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, Host.c_str());
    } else {
        SSL_set_tlsext_host_name(Ssl, Host.c_str());
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, Host.c_str(), Host.size());
    }
}

TTlsFailureInfo TlsClassifyFailure(SSL* Ssl, const std::string& Host) {
    TTlsFailureInfo info;
    const long verify = SSL_get_verify_result(Ssl);
    const std::string queue = QueueText();
    if (verify != X509_V_OK) {
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
    info.Kind = TTlsFailure::ChannelError;
    info.Text = "TLS handshake with " + Host + " failed" + (queue.empty() ? std::string() : " (" + queue + ")");
    return info;
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

