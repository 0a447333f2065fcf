// SPDX-License-Identifier: Apache-2.0
#pragma once
// The process-wide TLS client settings, the OpenSSL context built from them, and the
// classification of failed handshakes. Nothing here knows about sockets or events: the
// socket layer's TLS layer and the Internet stand-in's blocking client use the same context
// rules and the same failure classes. Every function is safe to call from any thread.
//
// Trust: the system store (OpenSSL's default locations, so SSL_CERT_FILE and SSL_CERT_DIR
// work as OpenSSL defines them; the file is read when a verification first looks for an
// authority not known yet) plus at most one extra authority file. Verification is on
// unless switched off; TLS 1.2 is the lowest version offered.
#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Exception.h"

struct TTlsSettings {
    std::string CaFile;  // one more PEM file of trusted authorities; empty: none
    bool Verify = true;  // false: any certificate passes (the caller warns the user)
};

// The TLS configuration cannot be applied (an authority file that does not load, OpenSSL
// out of resources). The message names the file where there is one.
class ETlsError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "ETlsError"; }
};

// Replaces the settings. Handshakes started afterwards use them; running ones keep the
// context they started with. Throws ETlsError (naming the file) when CaFile cannot be
// loaded; the previous settings then stay. (The socket layer's TlsSetSettings wraps this.)
void TlsApplySettings(const TTlsSettings& Settings);
TTlsSettings TlsGetSettings();

// The client context of the current settings, built on first use. The caller shares its
// ownership for as long as its connections use it. Throws ETlsError when OpenSSL cannot
// build it.
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

// Verifies a certificate chain that another TLS client received from Host (the server's
// certificate first, then the authorities it sent, each DER-encoded) against the current
// settings: the same trust, the same name or address rule, the date. None when it passes,
// and whenever verification is off; a chain that cannot be read is UntrustedAuthority.
// Lets a client with a trust store of its own (the browser control) accept what the
// program's settings trust.
TTlsFailureInfo TlsVerifyChain(const std::vector<std::string>& DerChain, const std::string& Host);

// The Internet layer's code: 12045 untrusted, 12038 name, 12037 date, 12157 channel and
// truncated; 0 for None.
int TlsFailureInternetCode(TTlsFailure Kind);
