#pragma once
// The process-wide TLS client settings, the OpenSSL context built from them, and the
// classification of failed handshakes. Nothing here knows about socket events: the socket
// layer's TLS layer and any blocking client on a worker thread use the same context rules
// and the same failure classes. Every function is safe to call from any thread.
//
// Trust: the system store (OpenSSL's defaults, so SSL_CERT_FILE and SSL_CERT_DIR work as
// OpenSSL defines them) plus at most one extra authority file. Verification is on unless
// switched off; TLS 1.2 is the lowest version offered.
#include <openssl/ssl.h>

#include <memory>
#include <string>

struct TTlsSettings {
    std::string CaFile;  // one more PEM file of trusted authorities; empty: none
    bool Verify = true;  // false: any certificate passes (the caller warns the user)
};

// Replaces the settings. Handshakes started afterwards use them; running ones keep the
// context they started with. Throws ESocketException (naming the file) when CaFile cannot
// be loaded; the previous settings then stay.
void TlsSetSettings(const TTlsSettings& Settings);
TTlsSettings TlsGetSettings();

// The client context of the current settings, built on first use. The caller shares its
// ownership for as long as its connections use it. Throws ESocketException when OpenSSL
// cannot build it.
std::shared_ptr<SSL_CTX> TlsClientContext();

// Prepares a new client SSL for the server named Host (a name or an IPv4/IPv6 literal):
// SNI for a name only, and the name or address the certificate must match.
void TlsPrepareClient(SSL* Ssl, const std::string& Host);

// Why a handshake or a TLS connection failed.
enum class TTlsFailure {
    None,
    UntrustedAuthority,  // no trusted authority vouches for the certificate (self-signed too)
    NameMismatch,        // the certificate names another server
    DateInvalid,         // expired or not yet valid
    ChannelError,        // any other handshake or record failure
    Truncated,           // the peer closed without a TLS close (close_notify)
};

struct TTlsFailureInfo {
    TTlsFailure Kind = TTlsFailure::None;
    std::string Text;  // names the server; says how to trust it where that helps
};

// Classifies the failure of the last handshake call on Ssl (its verify result first, then
// OpenSSL's error queue of this thread, which it leaves empty).
TTlsFailureInfo TlsClassifyFailure(SSL* Ssl, const std::string& Host);
// A record failure after the handshake (bad record, alert): ChannelError with the queue's text.
TTlsFailureInfo TlsRecordFailure(const std::string& Host);

// The socket layer's error code of each class (reported like Winsock codes through
// OnSessionConnected and OnSessionClosed): 20101 untrusted, 20102 name, 20103 date,
// 20104 channel, 20105 truncated; 0 for None.
int TlsFailureSocketCode(TTlsFailure Kind);
// The class of a socket error code; None for any other code.
TTlsFailure TlsFailureOfSocketCode(int Code);
// The Internet layer's code: 12045 untrusted, 12038 name, 12037 date, 12157 channel and
// truncated; 0 for None.
int TlsFailureInternetCode(TTlsFailure Kind);
// A short text of a socket code ("TLS: ..."), empty when the code is not one of these.
std::string TlsSocketErrorText(int Code);
