// SPDX-License-Identifier: Apache-2.0
#pragma once
// TCustomSocksWSocket: lets a TCP client connection pass through a SOCKS proxy of version
// 4, 4A or 5 (version 5 optionally with user-name/password authentication).
//
// With SocksServer empty (the default) every operation is the base socket's. With a proxy:
//  - Connect goes to SocksServer:SocksPort; Addr and Port must still be assigned and name
//    the destination the proxy is asked to reach. SocksServer resolves as Addr does (IPv4
//    or IPv6, brackets allowed); a proxy with addresses of both families is raced.
//  - OnSocksConnected reports the TCP connection to the proxy (0 or the error). The
//    handshake then runs by itself inside the received-data handling; OnSessionConnected is
//    raised only when it ends: 0 on success, else the error code, preceded by OnSocksError
//    (code and text) and followed by the close of the socket. (A version 4 destination
//    that does not resolve is reported with OnSocksError and closes the socket with that
//    code, without OnSessionConnected.)
//  - Version 5 reports authentication progress with OnSocksAuthState. Its connect request
//    carries Addr as an IPv6 address (type 4) when Addr is one (brackets allowed), else as
//    a name (type 3); a reply may bind an IPv4, IPv6 or named address.
//  - Bytes the proxy sent behind its final reply are the first bytes the application reads;
//    OnDataAvailable is raised again while any of them is unread, as for bytes at the
//    network, and they are offered before the close.
//  - SocksServer, SocksPort and SocksLevel are per-session: every close resets them (empty,
//    empty, "5"), so the proxy is set again before each Connect. SocksUsercode,
//    SocksPassword and SocksAuthentication persist.
//  - A user id, user name, password or destination name too long for a request is refused
//    before anything is sent (Connect reports it; a value changed during the handshake fails
//    it with 20014).
//
// Handshake failures (OnSocksError codes; each text exactly as listed):
//   20001 "TWSocket logic error", "too much data availaible"; 20002 "socks version error";
//   20003 "authentification method not acceptable"; 20004..20011 version 5 reply codes 1..8;
//   20012 "unassigned error #<code>"; 20013 "internal error"; 20014 request too long;
//   20015 "socks authentication failed", "authentification failed"; 20016 "request rejected
//   or failed"; 20017 "<error class> <message>" (version 4 destination not resolved);
//   the notification's own error with "data receive error".
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "socket/WSocketCore.h"

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };

using TSocksAuthStateEvent = std::function<void(TObject* Sender, TSocksAuthState AuthState)>;
using TSocksErrorEvent = std::function<void(TObject* Sender, int Error, const std::string& Msg)>;

// Where the handshake stands.
enum TSocksState : std::uint8_t {
    socksIdle = 0,             // no proxy, or the handshake is over
    socksWaitMethod = 1,       // connecting to the proxy / waiting for its method choice
    socksWaitAuth = 2,         // waiting for the version 5 authentication status
    socksWaitConnectReply = 3  // waiting for the reply to the connect request
};

class TCustomSocksWSocket : public TCustomWSocket {
public:
    explicit TCustomSocksWSocket(TComponent* AOwner = nullptr);
    ~TCustomSocksWSocket() override;

    // ---- properties (writers of the first three only while wsClosed) -------------------
    // "4", "4A" or "5" ("4a" is stored as "4A"); anything else reports
    // "Invalid socks level. Must be 4, 4A or 5.".
    const std::string& SocksLevel() const { return FSocksLevel; }
    void SetSocksLevel(const std::string& Value);
    // Proxy host (trimmed); not empty switches proxy use on.
    const std::string& SocksServer() const { return FSocksServer; }
    virtual void SetSocksServer(const std::string& Value);
    // SocksServer = Addrs[0], and Connect tries these numeric addresses in order (racing
    // them when one is IPv6) instead of a look-up. Same state rule as SetSocksServer.
    void SetSocksServerList(const std::vector<std::string>& Addrs);
    // Proxy port (trimmed): digits or a service name.
    const std::string& SocksPort() const { return FSocksPort; }
    virtual void SetSocksPort(const std::string& Value);
    // Version 4/4A user id, version 5 user name; the version 5 password.
    std::string SocksUsercode;
    std::string SocksPassword;
    // Whether version 5 offers user-name/password authentication.
    TSocksAuthentication SocksAuthentication = socksNoAuthentication;
    // Address and port a version 5 proxy reported on success (port as decimal text).
    const std::string& SocksBoundAddr() const { return FSocksBoundAddr; }
    const std::string& SocksBoundPort() const { return FSocksBoundPort; }

    // ---- events ---------------------------------------------------------------------------
    TSocksErrorEvent OnSocksError;          // handshake failure, before OnSessionConnected(code)
    TSocksAuthStateEvent OnSocksAuthState;  // version 5 authentication progress
    TSessionConnected OnSocksConnected;     // the TCP connection to the proxy completed or failed

    // ---- operations -----------------------------------------------------------------------
    // With a proxy: only "tcp"; resolves the proxy, then connects to it.
    void Connect() override;
    // Reports "Listening is not supported thru socks server" with a proxy.
    void Listen() override;

protected:
    void ResetToDefaults() override;
    // The bytes left behind the proxy's reply come first.
    int GetRcvdCount() override;
    int RawReceive(void* Buffer, int Len, int Flags) override;
    int KeptCount() const override { return SocksLeftoverCount; }
    // During the handshake: one handshake step; false after a receive or internal error.
    bool FireDataAvailable(WORD Error) override;
    // In socksWaitMethod: reports the proxy connection and starts the handshake.
    void FireSessionConnected(WORD Error) override;
    // While authenticating: OnSocksAuthState(socksAuthFailure) first.
    void FireSessionClosed(WORD Error) override;

    virtual void FireSocksConnected(WORD Error);
    virtual void FireSocksError(int Error, const std::string& Msg);

    // True while received bytes belong to the handshake.
    bool SocksNegotiating() const { return SocksState != socksIdle; }

private:
    // The largest request this layer sends (the one-byte length fields would allow more).
    static constexpr int kRequestSize = 128;
    // The longest version 5 reply: header, a name of 255 bytes and the port.
    static constexpr int kReplySize = 4 + 1 + 255 + 2;

    void SocksFail(int Code, const std::string& Text);
    void FireSocksAuthState(TSocksAuthState AuthState);
    // Appends to SocksReply what is there, at most up to Limit bytes held; false when the
    // read failed (the next notification brings more).
    bool ReadReply(int Limit);
    // One handler per handshake state.
    bool HandleMethodChoice();
    bool HandleAuthReply();
    bool HandleConnectReply4();
    bool HandleConnectReply5();
    // After the final reply: the connection is the application's.
    bool FinishHandshake();

    void SendGreeting();
    void SendAuthRequest();
    void SendConnectRequest();
    void SendConnectRequest4();
    void SendConnectRequest5();
    // Sends a request; a failure of the send itself is left to the socket's own handling.
    void SendRequest(const std::string& Request);
    // Why the requests of this session would not fit their buffer or their one-byte length
    // fields; empty when they fit. Only the requests the current settings will send count.
    std::string RequestTooLong(bool IncludeAuth) const;
    bool IsLevel4() const { return !FSocksLevel.empty() && FSocksLevel[0] == '4'; }

    std::string FSocksLevel = "5";
    std::string FSocksServer;
    std::vector<std::string> FSocksServerList;  // from SetSocksServerList
    std::string FSocksPort;
    std::string FSocksBoundAddr;
    std::string FSocksBoundPort;

    TSocksState SocksState = socksIdle;
    bool SocksServerAssigned = false;
    std::uint8_t SocksAuthNumber = 0;
    unsigned char SocksReply[kReplySize]{};
    int SocksReplyCount = 0;
    int SocksLeftover = 0;  // position in SocksReply
    int SocksLeftoverCount = 0;
};
