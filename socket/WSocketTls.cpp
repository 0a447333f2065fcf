// The TLS layer: properties, the handshake as a state machine driven by the received-data
// notifications, and the encrypting send and decrypting receive paths.
#include "socket/WSocketTls.h"

#include <openssl/err.h>

namespace {

// How much one read takes from the layer below: several full records, so that a large
// transfer costs few system calls.
constexpr int kCipherChunk = 64 * 1024;

}  // namespace

TCustomTlsWSocket::TCustomTlsWSocket(TComponent* AOwner) : TCustomSocksWSocket(AOwner) {}

// The base destructor closes with the base's own operations; the SSL goes here.
TCustomTlsWSocket::~TCustomTlsWSocket() { FreeSsl(); }

void TCustomTlsWSocket::FreeSsl() {
    if (FSsl) SSL_free(FSsl);  // frees both memory BIOs
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
        FFatalCode = 0;
    }
    TCustomSocksWSocket::Connect();
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
    FNetIn = BIO_new(BIO_s_mem());
    FNetOut = BIO_new(BIO_s_mem());
    if (!FSsl || !FNetIn || !FNetOut) {
        if (FNetIn && !FSsl) BIO_free(FNetIn);
        if (FNetOut && !FSsl) BIO_free(FNetOut);
        FNetIn = FNetOut = nullptr;
        TlsFail({TTlsFailure::ChannelError, "TLS: out of memory"});
        return false;
    }
    // An empty input asks for more instead of meaning the end of the stream.
    BIO_set_mem_eof_return(FNetIn, -1);
    SSL_set_bio(FSsl, FNetIn, FNetOut);
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

int TCustomTlsWSocket::PullCipher() {
    if (FPeerEnded) return 0;
    if (FCipherBuffer.empty()) FCipherBuffer.resize(kCipherChunk);
    const int n = TCustomSocksWSocket::RawReceive(FCipherBuffer.data(), kCipherChunk, 0);
    if (n > 0)
        BIO_write(FNetIn, FCipherBuffer.data(), n);
    else if (n == 0)
        FPeerEnded = true;
    return n;
}

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
    for (;;) {
        ERR_clear_error();
        const int r = SSL_do_handshake(FSsl);
        const int e = r == 1 ? SSL_ERROR_NONE : SSL_get_error(FSsl, r);
        if (!PushCipher()) return true;  // the connection went while sending
        if (r == 1) return FinishHandshake();
        if (e != SSL_ERROR_WANT_READ) {
            TlsFail(TlsClassifyFailure(FSsl, ServerName()));
            return true;
        }
        const int got = PullCipher();
        if (got > 0) continue;
        if (got == 0) {
            ERR_clear_error();
            TlsFail({TTlsFailure::ChannelError,
                     "TLS handshake with " + ServerName() + " failed: the server closed the connection"});
        }
        return true;  // the next notification brings more
    }
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
    if (FSsl && FTlsState == tlsEstablished && FFatalCode == 0)
        n += SSL_pending(FSsl) + static_cast<int>(BIO_ctrl_pending(FNetIn));
    return n;
}

int TCustomTlsWSocket::GetRcvdCount() {
    if (FTlsState == tlsOff) return TCustomSocksWSocket::GetRcvdCount();
    if (FTlsState == tlsHandshaking) return 0;
    const int lower = TCustomSocksWSocket::GetRcvdCount();
    return KeptCount() + (lower > 0 ? lower : 0);
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
    // Fills the buffer from what OpenSSL holds and what the network has now.
    while (got < Len) {
        ERR_clear_error();
        const int r = SSL_read(FSsl, out + got, Len - got);
        if (r > 0) {
            got += r;
            continue;
        }
        const int e = SSL_get_error(FSsl, r);
        if (e == SSL_ERROR_WANT_READ) {
            PushCipher();  // a key update answers itself
            const int n = PullCipher();
            if (n > 0) continue;
            if (n == 0) break;  // the end without a TLS close: the close reports it
            if (got > 0) break;
            return -1;  // the layer below set the code (would block, most often)
        }
        if (e == SSL_ERROR_ZERO_RETURN) {
            FCloseReceived = true;
            break;
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
