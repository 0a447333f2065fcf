// SPDX-License-Identifier: Apache-2.0
// The TLS layer: properties, the handshake as a state machine driven by the received-data
// notifications, and the encrypting send and decrypting receive paths.
#include "socket/WSocketTls.h"

#include <openssl/err.h>

namespace {

// OpenSSL reads ahead into a buffer this large: several full records per read of the
// layer below, so that a large transfer costs few system calls.
constexpr std::size_t kReadAhead = 64 * 1024;

}  // namespace

BIO_METHOD* TCustomTlsWSocket::LowerReadMethod() {
    // Made once and kept for the life of the process.
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "socket layer read");
        BIO_meth_set_read(m, &TCustomTlsWSocket::BioRead);
        BIO_meth_set_ctrl(m, &TCustomTlsWSocket::BioCtrl);
        BIO_meth_set_create(m, [](BIO* b) {
            BIO_set_init(b, 1);
            return 1;
        });
        return m;
    }();
    return method;
}

int TCustomTlsWSocket::BioRead(BIO* Bio, char* Buffer, int Len) {
    return static_cast<TCustomTlsWSocket*>(BIO_get_data(Bio))->ReadLower(Bio, Buffer, Len);
}

long TCustomTlsWSocket::BioCtrl(BIO*, int Cmd, long, void*) { return Cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int TCustomTlsWSocket::ReadLower(BIO* Bio, char* Buffer, int Len) {
    BIO_clear_retry_flags(Bio);
    if (FLowerError != 0) return -1;
    // The end of the stream is a retry too: the caller tells it from want-of-bytes by FPeerEnded.
    if (FPeerEnded) {
        BIO_set_retry_read(Bio);
        return -1;
    }
    const int n = TCustomSocksWSocket::RawReceive(Buffer, Len, 0);
    if (n > 0) return n;
    if (n == 0) {
        FPeerEnded = true;
    } else {
        const int code = WSocket_WSAGetLastError();
        if (code != WSAEWOULDBLOCK) {
            FLowerError = code;
            return -1;
        }
    }
    BIO_set_retry_read(Bio);
    return -1;
}

bool TCustomTlsWSocket::LowerGone(TTlsFailureInfo& Info) const {
    if (FLowerError != 0) {
        Info = {TTlsFailure::ChannelError, "TLS handshake with " + ServerName() + " failed: " +
                                               WinsockErrorText(FLowerError) + " (Error #" +
                                               std::to_string(FLowerError) + ")"};
        return true;
    }
    if (FPeerEnded) {
        Info = {TTlsFailure::ChannelError,
                "TLS handshake with " + ServerName() + " failed: the server closed the connection"};
        return true;
    }
    return false;
}

TCustomTlsWSocket::TCustomTlsWSocket(TComponent* AOwner) : TCustomSocksWSocket(AOwner) {}

// The base destructor closes with the base's own operations; the SSL goes here.
TCustomTlsWSocket::~TCustomTlsWSocket() { FreeSsl(); }

void TCustomTlsWSocket::FreeSsl() {
    if (FSsl) SSL_free(FSsl);  // frees both BIOs
    FSsl = nullptr;
    FNetIn = nullptr;
    FNetOut = nullptr;
    FContext.reset();
}

void TCustomTlsWSocket::ResetToDefaults() {
    TCustomSocksWSocket::ResetToDefaults();
    FreeSsl();
    FTlsEnabled = false;
    FTlsHost.clear();
    FTlsState = tlsOff;
    FPeerEnded = false;
    FLowerError = 0;
    FDrained = false;
    FFatalCode = 0;
    FPendingPlain.clear();
}

// ---- properties -----------------------------------------------------------------------------

void TCustomTlsWSocket::SetTlsEnabled(bool Value) {
    if (FState != wsClosed) {
        ReportError("Can't change TLS if not closed");
        return;
    }
    FTlsEnabled = Value;
}

void TCustomTlsWSocket::SetTlsHost(const std::string& Value) {
    if (FState != wsClosed) {
        ReportError("Can't change TLS host if not closed");
        return;
    }
    FTlsHost = Value;
}

// ---- opening --------------------------------------------------------------------------------

void TCustomTlsWSocket::Connect() {
    if (SocketHandle == INVALID_SOCKET || FState == wsClosed) {
        // Whatever an earlier failed attempt left.
        FreeSsl();
        FTlsState = tlsOff;
        FTlsFailure = {};
        FCloseReceived = false;
        FPeerEnded = false;
        FLowerError = 0;
        FDrained = false;
        FFatalCode = 0;
    }
    FCloseReported = false;
    TCustomSocksWSocket::Connect();
}

void TCustomTlsWSocket::Listen() {
    FCloseReported = false;
    TCustomSocksWSocket::Listen();
}

void TCustomTlsWSocket::Dup(SOCKET NewHandle) {
    FCloseReported = false;
    TCustomSocksWSocket::Dup(NewHandle);
}

void TCustomTlsWSocket::StartTls() {
    if (FState != wsConnected || SocketHandle == INVALID_SOCKET) {
        ReportError("StartTls: not connected");
        return;
    }
    if (FTlsState != tlsOff || SocksNegotiating()) {
        ReportError("StartTls: a handshake runs or TLS is on already");
        return;
    }
    FTlsEnabled = true;
    FTlsFailure = {};
    FCloseReceived = false;
    FCloseReported = false;
    BeginHandshake();
}

void TCustomTlsWSocket::FireSessionConnected(WORD Error) {
    // The connection (or the proxy's handshake) is up: the application hears of the
    // session only when the TLS handshake ends.
    if (FTlsEnabled && FTlsState == tlsOff && Error == 0 && !SocksNegotiating()) {
        BeginHandshake();
        return;
    }
    TCustomSocksWSocket::FireSessionConnected(Error);
}

bool TCustomTlsWSocket::BeginHandshake() {
    try {
        FContext = TlsClientContext();
    } catch (const Exception& E) {
        TlsFail({TTlsFailure::ChannelError, E.Message()});
        return false;
    }
    FSsl = SSL_new(FContext.get());
    FNetIn = BIO_new(LowerReadMethod());
    FNetOut = BIO_new(BIO_s_mem());
    if (!FSsl || !FNetIn || !FNetOut) {
        if (FNetIn && !FSsl) BIO_free(FNetIn);
        if (FNetOut && !FSsl) BIO_free(FNetOut);
        FNetIn = FNetOut = nullptr;
        TlsFail({TTlsFailure::ChannelError, "TLS: out of memory"});
        return false;
    }
    BIO_set_data(FNetIn, this);
    SSL_set_bio(FSsl, FNetIn, FNetOut);
    SSL_set_read_ahead(FSsl, 1);
    SSL_set_default_read_buffer_len(FSsl, kReadAhead);
    SSL_set_connect_state(FSsl);
    TlsPrepareClient(FSsl, ServerName());
    FTlsState = tlsHandshaking;
    return HandleHandshake(0);
}

void TCustomTlsWSocket::TlsFail(const TTlsFailureInfo& Info) {
    FTlsFailure = Info;
    FTlsState = tlsOff;
    const int code = TlsFailureSocketCode(Info.Kind);
    TCustomSocksWSocket::FireSessionConnected(static_cast<WORD>(code));
    InternalClose(true, static_cast<WORD>(code));
}

// ---- the wire -------------------------------------------------------------------------------

bool TCustomTlsWSocket::PushCipher() {
    char* data = nullptr;
    const long n = BIO_get_mem_data(FNetOut, &data);
    if (n <= 0) return true;
    if (FState != wsConnected || SocketHandle == INVALID_SOCKET) {
        (void)BIO_reset(FNetOut);
        return false;
    }
    // The base's Send: these bytes are encrypted already.
    TCustomSocksWSocket::Send(data, static_cast<int>(n));
    (void)BIO_reset(FNetOut);
    return SocketHandle != INVALID_SOCKET;
}

// ---- the handshake --------------------------------------------------------------------------

bool TCustomTlsWSocket::FireDataAvailable(WORD Error) {
    if (SocksNegotiating()) return TCustomSocksWSocket::FireDataAvailable(Error);
    switch (FTlsState) {
        case tlsHandshaking: return HandleHandshake(Error);
        case tlsOff:
        case tlsEstablished: break;
    }
    return TCustomSocksWSocket::FireDataAvailable(Error);
}

bool TCustomTlsWSocket::HandleHandshake(WORD Error) {
    if (Error != 0) {
        TlsFail({TTlsFailure::ChannelError, "TLS handshake with " + ServerName() + " failed: " +
                                                WinsockErrorText(Error) + " (Error #" + std::to_string(Error) + ")"});
        return true;
    }
    // OpenSSL reads what the layer below has itself; it stops when that runs dry.
    ERR_clear_error();
    const int r = SSL_do_handshake(FSsl);
    const int e = r == 1 ? SSL_ERROR_NONE : SSL_get_error(FSsl, r);
    if (!PushCipher()) return true;  // the connection went while sending
    if (r == 1) return FinishHandshake();
    TTlsFailureInfo gone;
    if (LowerGone(gone)) {
        ERR_clear_error();
        TlsFail(gone);
    } else if (e != SSL_ERROR_WANT_READ) {
        TlsFail(TlsClassifyFailure(FSsl, ServerName()));
    }
    return true;  // else the next notification brings more
}

bool TCustomTlsWSocket::FinishHandshake() {
    FTlsState = tlsEstablished;
    if (!FPendingPlain.empty()) {
        std::string pending;
        pending.swap(FPendingPlain);
        WritePlain(pending.data(), static_cast<int>(pending.size()));
    }
    TCustomSocksWSocket::FireSessionConnected(0);
    if (SocketHandle == INVALID_SOCKET) return true;  // the handler ended the session
    // Records that came with the last handshake flight go to the application now.
    if (KeptCount() > 0) return FireDataAvailable(0);
    return true;
}

// ---- sending --------------------------------------------------------------------------------

int TCustomTlsWSocket::Send(const void* Data, int Len) {
    if (FTlsState == tlsOff || FState != wsConnected) return TCustomSocksWSocket::Send(Data, Len);
    if (Len <= 0) return 0;
    if (FTlsState == tlsHandshaking)
        FPendingPlain.append(static_cast<const char*>(Data), static_cast<std::size_t>(Len));
    else
        WritePlain(static_cast<const char*>(Data), Len);
    return Len;
}

void TCustomTlsWSocket::WritePlain(const char* Data, int Len) {
    if (FFatalCode != 0) return;
    while (Len > 0) {
        ERR_clear_error();
        const int r = SSL_write(FSsl, Data, Len);
        if (r <= 0) {
            // With memory buffers a write never waits for the network: this is a failure.
            FFatalCode = TlsFailureSocketCode(TTlsFailure::ChannelError);
            FTlsFailure = TlsRecordFailure(ServerName());
            PostMessage(NotifyWindow, MSG_SOCKET_EVENT, SocketHandle, MakeLParam(FD_CLOSE, FFatalCode));
            return;
        }
        Data += r;
        Len -= r;
    }
    PushCipher();
}

// ---- receiving ------------------------------------------------------------------------------

int TCustomTlsWSocket::KeptCount() const {
    int n = TCustomSocksWSocket::KeptCount();
    if (FSsl && FTlsState == tlsEstablished && FFatalCode == 0) {
        // Decrypted bytes, else 1 for records read ahead (perhaps incomplete; once the
        // stream has ended and OpenSSL asked for more, those never complete).
        const int pending = SSL_pending(FSsl);
        n += pending > 0 ? pending : SSL_has_pending(FSsl) && !FDrained ? 1 : 0;
    }
    return n;
}

int TCustomTlsWSocket::ReadLowWaterSlack() const {
    // OpenSSL's read buffer: the read-ahead and one record's header and padding.
    constexpr int kHeld = static_cast<int>(kReadAhead) + 1024;
    return TCustomSocksWSocket::ReadLowWaterSlack() + (FSsl ? kHeld : 0);
}

int TCustomTlsWSocket::GetRcvdCount() {
    if (FTlsState == tlsOff) return TCustomSocksWSocket::GetRcvdCount();
    if (FTlsState == tlsHandshaking) return 0;
    const int lower = TCustomSocksWSocket::GetRcvdCount();
    int n = TCustomSocksWSocket::KeptCount() + (lower > 0 ? lower : 0);
    if (FSsl && FFatalCode == 0) {
        // Decrypted bytes, plus at most a read-ahead buffer of records not yet decrypted.
        n += SSL_pending(FSsl);
        if (SSL_has_pending(FSsl) && !FDrained) n += static_cast<int>(kReadAhead);
    }
    return n;
}

int TCustomTlsWSocket::RawReceive(void* Buffer, int Len, int Flags) {
    if (FTlsState == tlsOff || Len <= 0) return TCustomSocksWSocket::RawReceive(Buffer, Len, Flags);
    if (FTlsState == tlsHandshaking) {
        WSocket_WSASetLastError(WSAEWOULDBLOCK);
        return -1;
    }
    if (FFatalCode != 0) {
        WSocket_WSASetLastError(FFatalCode);
        return -1;
    }
    char* out = static_cast<char*>(Buffer);
    int got = 0;
    // Nothing else of this thread may have left errors behind for SSL_get_error to see.
    ERR_clear_error();
    // Fills the buffer from what OpenSSL holds and what the network has now.
    while (got < Len) {
        const int r = SSL_read(FSsl, out + got, Len - got);
        if (r > 0) {
            got += r;
            continue;
        }
        const int e = SSL_get_error(FSsl, r);
        if (e == SSL_ERROR_WANT_READ) {
            PushCipher();  // a key update answers itself
            if (FPeerEnded) {
                FDrained = true;
                break;  // the end without a TLS close: the close reports it
            }
            if (got > 0) break;
            WSocket_WSASetLastError(WSAEWOULDBLOCK);
            return -1;
        }
        if (e == SSL_ERROR_ZERO_RETURN) {
            FCloseReceived = true;
            break;
        }
        if (FLowerError != 0) {
            // The network failed, not TLS: its own code, and its own close notification.
            ERR_clear_error();
            if (got > 0) break;
            WSocket_WSASetLastError(FLowerError);
            return -1;
        }
        // A broken record or an alert: the connection is over; the close reports why.
        FTlsFailure = TlsRecordFailure(ServerName());
        PushCipher();
        FFatalCode = TlsFailureSocketCode(TTlsFailure::ChannelError);
        PostMessage(NotifyWindow, MSG_SOCKET_EVENT, SocketHandle, MakeLParam(FD_CLOSE, FFatalCode));
        if (got > 0) break;
        WSocket_WSASetLastError(FFatalCode);
        return -1;
    }
    return got;
}

// ---- closing --------------------------------------------------------------------------------

void TCustomTlsWSocket::InternalClose(bool Graceful, WORD Error) {
    if (Graceful && FTlsState == tlsEstablished && FSsl && FFatalCode == 0 && FState == wsConnected &&
        SocketHandle != INVALID_SOCKET && AllSent) {
        // The TLS close goes straight out, best effort: queued bytes would be lost anyway.
        ERR_clear_error();
        SSL_shutdown(FSsl);
        ERR_clear_error();
        char* data = nullptr;
        const long n = BIO_get_mem_data(FNetOut, &data);
        if (n > 0) RawSend(data, static_cast<int>(n));
        (void)BIO_reset(FNetOut);
    }
    const bool wasClosing = FClosingLocally;
    FClosingLocally = true;
    try {
        TCustomSocksWSocket::InternalClose(Graceful, Error);
    } catch (...) {
        FClosingLocally = wasClosing;
        throw;
    }
    FClosingLocally = wasClosing;
}

void TCustomTlsWSocket::FireSessionClosed(WORD Error) {
    if (FCloseReported && SocketHandle == INVALID_SOCKET) return;
    FCloseReported = FTlsEnabled || FTlsState != tlsOff;
    if (FTlsState == tlsHandshaking) {
        // The connection went under the handshake (a failed send, say): the application,
        // still waiting for OnSessionConnected, hears of it there first.
        FTlsState = tlsOff;
        const int code = Error != 0 ? Error : TlsFailureSocketCode(TTlsFailure::ChannelError);
        FTlsFailure = {TTlsFailure::ChannelError, "TLS handshake with " + ServerName() + " failed: the connection ended (" +
                                                      WinsockErrorText(code) + ")"};
        TCustomSocksWSocket::FireSessionConnected(static_cast<WORD>(code));
        Error = static_cast<WORD>(code);
    }
    // Only an end the peer chose can be a cut-off: a local close is the application's own.
    if (!FClosingLocally && FTlsState == tlsEstablished) {
        if (FFatalCode != 0) {
            Error = static_cast<WORD>(FFatalCode);
        } else if (Error == 0 && !FCloseReceived) {
            Error = static_cast<WORD>(TlsFailureSocketCode(TTlsFailure::Truncated));
            FTlsFailure = {TTlsFailure::Truncated,
                           "the connection with " + ServerName() + " ended without a TLS close: data may be cut off"};
        }
    }
    TCustomSocksWSocket::FireSessionClosed(Error);
}
