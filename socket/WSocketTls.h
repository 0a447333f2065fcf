// SPDX-License-Identifier: Apache-2.0
#pragma once
// TCustomTlsWSocket: TLS for a TCP client connection, above the proxy layer (so it runs
// through a SOCKS tunnel) and below line mode (which sees plain text). OpenSSL never
// touches the network itself: the encrypted bytes it produces go to a memory buffer and
// out through the socket's send queue; it reads through a BIO whose reads are the layer
// below's (bytes kept behind a SOCKS reply first), driven by the socket's own
// notifications.
//
// With TlsEnabled off (the default) every operation is the proxy layer's. With it on:
//  - Connect connects (through the proxy when one is set); when the connection (or the
//    proxy's handshake) succeeds the TLS handshake runs by itself inside the received-data
//    handling. OnSessionConnected is raised only when it ends: 0 on success, else one of
//    the TLS codes of WSocketTlsConfig.h (TlsFailureText() then names the server and the
//    reason), followed by the close of the socket.
//  - StartTls begins the handshake on a connection that is up already (a tunnel the
//    application opened itself, such as an HTTP proxy's CONNECT); OnSessionConnected is
//    raised again when it ends, as above.
//  - After the handshake the application sends and receives plain text. Decrypted bytes
//    OpenSSL still holds, and encrypted ones read but not yet decrypted, count as kept
//    bytes: OnDataAvailable is raised again while any remain, without a new notification.
//  - A peer that ends the connection without a TLS close (close_notify) is reported to
//    OnSessionClosed with 20105 (truncation possible); a broken record closes the
//    connection with 20104. A graceful Close sends a TLS close first when nothing is queued.
//  - Send during the handshake keeps the bytes and encrypts them once it ends.
//  - TlsEnabled and TlsHost are per-session: every close resets them (off, empty).
//  - RcvdCount is an upper bound while only encrypted bytes wait; KeptCount is at least 1
//    while OpenSSL holds records not yet read (they may be incomplete).
#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "socket/WSocketSocks.h"
#include "socket/WSocketTlsConfig.h"

enum TTlsState : std::uint8_t {
    tlsOff = 0,          // no TLS in this session (or not yet started)
    tlsHandshaking = 1,  // the handshake runs; received bytes belong to it
    tlsEstablished = 2,  // the application's bytes are encrypted
};

class TCustomTlsWSocket : public TCustomSocksWSocket {
public:
    explicit TCustomTlsWSocket(TComponent* AOwner = nullptr);
    ~TCustomTlsWSocket() override;

    // Writers only while wsClosed (else ReportError).
    bool TlsEnabled() const { return FTlsEnabled; }
    void SetTlsEnabled(bool Value);
    // The server name the certificate must match and SNI names; empty: Addr.
    const std::string& TlsHost() const { return FTlsHost; }
    void SetTlsHost(const std::string& Value);

    TTlsState TlsState() const { return FTlsState; }
    // The last failure of this socket (kept after the close that follows it; cleared by
    // the next Connect or StartTls).
    const TTlsFailureInfo& TlsFailure() const { return FTlsFailure; }
    // True once the peer's TLS close arrived.
    bool TlsCloseReceived() const { return FCloseReceived; }

    // Begins TLS on the connected socket (TlsEnabled is switched on). Reports an error when
    // not connected or when TLS runs already.
    void StartTls();

    void Connect() override;
    void Listen() override;
    void Dup(SOCKET NewHandle) override;
    int Send(const void* Data, int Len) override;
    // Adds the encrypted bytes OpenSSL may have read ahead and not decrypted yet.
    int ReadLowWaterSlack() const override;

protected:
    void ResetToDefaults() override;
    void InternalClose(bool Graceful, WORD Error) override;
    int GetRcvdCount() override;
    int RawReceive(void* Buffer, int Len, int Flags) override;
    int KeptCount() const override;
    bool FireDataAvailable(WORD Error) override;
    void FireSessionConnected(WORD Error) override;
    void FireSessionClosed(WORD Error) override;

    // True while received bytes belong to a handshake of this layer or the one below.
    bool LowerNegotiating() const { return SocksNegotiating() || FTlsState == tlsHandshaking; }

private:
    // Creates the SSL and sends the first handshake flight; false after a failure.
    bool BeginHandshake();
    // One handler per state of the received-data handling.
    bool HandleHandshake(WORD Error);
    bool FinishHandshake();
    void TlsFail(const TTlsFailureInfo& Info);
    // OpenSSL's reads: the layer below's, with nothing there (or the end of the stream)
    // as a retry; a failing read keeps its Winsock code in FLowerError.
    static int BioRead(BIO* Bio, char* Buffer, int Len);
    static long BioCtrl(BIO* Bio, int Cmd, long Num, void* Ptr);
    static BIO_METHOD* LowerReadMethod();
    int ReadLower(BIO* Bio, char* Buffer, int Len);
    // The failure of a handshake that stopped for want of bytes that will never come.
    bool LowerGone(TTlsFailureInfo& Info) const;
    // Queues what OpenSSL produced for the peer; false when the send failed.
    bool PushCipher();
    // Encrypts and queues plain bytes.
    void WritePlain(const char* Data, int Len);
    void FreeSsl();
    const std::string& ServerName() const { return FTlsHost.empty() ? FAddr : FTlsHost; }

    bool FTlsEnabled = false;
    std::string FTlsHost;
    TTlsState FTlsState = tlsOff;
    TTlsFailureInfo FTlsFailure;
    bool FCloseReceived = false;
    bool FPeerEnded = false;     // the layer below reported the end of the stream
    int FLowerError = 0;         // a failed read of the layer below (not would-block)
    bool FDrained = false;       // after the end, OpenSSL asked for more: nothing left to decrypt
    bool FClosingLocally = false;
    // This layer closed a TLS session from inside the close notification's delivery: the
    // base's own report of that close, which follows, is not passed on a second time.
    bool FCloseReported = false;
    int FFatalCode = 0;          // a record failure: reads fail, the close reports it
    std::shared_ptr<SSL_CTX> FContext;
    SSL* FSsl = nullptr;
    BIO* FNetIn = nullptr;   // reads the layer below; owned by FSsl
    BIO* FNetOut = nullptr;  // memory buffer; owned by FSsl
    std::string FPendingPlain;  // sent during the handshake
};
