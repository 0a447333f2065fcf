// SPDX-License-Identifier: Apache-2.0
#pragma once
// THttpCli: an HTTP/1.0 client component over the event-driven socket. One request at a
// time, a new connection per request; the response body streams into a caller-supplied
// stream; relocations (Location headers) are followed. Everything runs on the thread that
// created the client, driven by its socket's events and by private messages posted to the
// client's own hidden window.
//
// Addresses may be http:// (port 80 by default) or https:// (port 443; TLS through the
// socket's TLS layer, verified as WSocketTlsConfig.h says). Through a proxy an https
// address is reached through a CONNECT tunnel. A TLS failure fails the request with the
// TLS layer's text (it names the server and how to trust it); a TLS connection that ends
// without a TLS close fails a body without length, or one shorter than announced.
// Username and Password are sent only to the protocol, host and port of URL.
//
// Life of a request (Get): Starting -> Resolving -> Resolved -> Connected -> AwaitingHeader
// -> AwaitingBody -> Idle. The document ends when the server closes the connection or
// sends its TLS close (answered with the client's own: some servers wait for it), at the
// end of a header with "Content-Length: 0", or after the last chunk of a chunked body
// ("Transfer-Encoding: chunked" is decoded whatever version was asked; a close before the
// last chunk fails the request). Empty lines before a status line are skipped. The path and
// query of every address (URL, relocations) go into the request line percent-encoded
// where they hold bytes outside the URL grammar (base/UrlText.h); an address, Referer or
// Proxy holding CR, LF or NUL is refused before anything is sent (EHttpException 404,
// "refused the address ...", from Get itself; a relocation to one fails the request).
// A connection that ends with an error
// (a reset, say) before the header has ended, before the announced length has arrived or
// in a body without length fails the request instead (see EHttpException); after the
// announced length it changes nothing. A relocation goes from AwaitingHeader back to
// Resolving for the new address, without passing through Idle.
//
// Events fire in this order for a plain GET (unassigned events are skipped):
//   OnStateChange(Starting), OnStateChange(Resolving), OnStateChange(Resolved),
//   OnStateChange(Connected), OnSessionConnected, OnStateChange(AwaitingHeader),
//   OnRequestHeaderBegin, OnCommand per request line, OnRequestHeaderEnd, OnCommand(""),
//   [POST: OnSendBegin, OnSendData per chunk, OnSendEnd],
//   OnHeaderBegin, per response line OnCookie (set-cookie only) and OnHeaderData,
//   OnStateChange(AwaitingBody), OnHeaderEnd, OnDocBegin, OnDocData per block,
//   OnDocEnd (only when body data came), OnStateChange(Idle), OnRequestDone.
// A relocating response ends in OnHeaderEnd and OnLocationChange, then the course goes on
// at OnStateChange(Resolving) for the new address.
//
// Ownership: the client owns its socket, its window, ResponseHeader, AuthChallenges and
// the request buffer. DocStream and PostStream belong to the caller and must outlive the
// request. Each body block (at most 64 KB; the one that shared the receive buffer with
// the header at most 8 KB) is written to DocStream as it arrives; when the document ends
// the client calls DocStream->FlushBuffer() (before OnDocEnd), and a stream that fails to
// write out what it held back fails the request like a failing write.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Component.h"
#include "base/Exception.h"
#include "base/Stream.h"
#include "base/StringList.h"
#include "http/HttpProtChunked.h"
#include "http/HttpProtRcvBuffer.h"
#include "platform/Messages.h"

class TWSocket;

// The kind of request.
enum THttpRequest : std::uint8_t { httpAbort = 0, httpGET = 1, httpPOST = 2, httpHEAD = 3 };

enum THttpClientState : std::uint8_t {
    httpIdle = 0,            // no request; the only state in which one may start
    httpStarting = 1,        // accepted, address split
    httpConnected = 2,       // connection up
    httpResolving = 3,       // name lookup of the connect host running
    httpResolved = 4,        // address known, connecting
    httpAwaitingHeader = 5,  // request sent, response header expected
    httpAwaitingBody = 6,    // header ended, body expected
    httpAborting = 7,        // reserved; never entered
};

// Private messages of the client's window.
constexpr UINT MSG_HTTP_REQUEST_DONE = WM_USER + 1;  // raise OnRequestDone
constexpr UINT MSG_HTTP_FINISH = WM_USER + 2;        // SetState(httpIdle)
constexpr UINT MSG_HTTP_RECONNECT = WM_USER + 3;     // ConnectToServer for a relocation

// A failed request. ErrorCode: 1 "HTTP component is busy", 2 "HTTP component has nothing
// to post", 4 "HTTP line too long", 5 "HTTP header too long", 404 for a local failure
// (lookup, naming the host or proxy that did not resolve, connection, timeout, a transfer
// too slow, relocation limit, a refused address, a response that cannot be read, a
// connection that ended with an error before the document was complete: "<error text>
// (Error #<code>) after <n> of <length> bytes", "... after <n> bytes" without a length,
// "... before the end of the header"), otherwise the response's status code (400 or more)
// with its reason phrase as the message. OnRequestDone reports the socket error then.
class EHttpException : public Exception {
public:
    EHttpException(std::string message, WORD errorCode) : Exception(std::move(message)), errorCode_(errorCode) {}
    ~EHttpException() override;
    WORD ErrorCode() const noexcept { return errorCode_; }
    const char* ClassName() const noexcept override { return "EHttpException"; }

private:
    WORD errorCode_;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;
using TOnCommand = std::function<void(TObject* Sender, std::string& S)>;
using TDocDataEvent = std::function<void(TObject* Sender, const void* Buffer, int Len)>;
using TCookieRcvdEvent = std::function<void(TObject* Sender, const std::string& Data, bool& Accept)>;
using THttpRequestDone = std::function<void(TObject* Sender, THttpRequest RqType, WORD Error)>;
using THttpDataAvailable = std::function<void(TObject* Sender, WORD Error)>;

class THttpCli : public TComponent {
public:
    explicit THttpCli(TComponent* owner = nullptr);
    ~THttpCli() override;

    // ---- published properties, in their stored order ----
    const std::string& URL() const { return url_; }
    void SetURL(std::string v) { url_ = std::move(v); }
    // Local address given to the socket before the lookup and before connecting.
    const std::string& LocalAddr() const { return localAddr_; }
    void SetLocalAddr(std::string v) { localAddr_ = std::move(v); }
    // Proxy: "host", "host:port" or a URL; empty = direct connection.
    const std::string& Proxy() const { return proxy_; }
    void SetProxy(std::string v) { proxy_ = std::move(v); }
    // Port used when Proxy names none.
    const std::string& ProxyPort() const { return proxyPort_; }
    void SetProxyPort(std::string v) { proxyPort_ = std::move(v); }
    // A SOCKS proxy (host name or address; empty = none) that carries the connection: to
    // the server, or to Proxy when that is set too. SocksLevel "4" (the destination's name
    // resolved here, IPv4), "4A" (resolved by the proxy) or "5"; with "5" SocksRemoteNames
    // says whether the proxy resolves the name (true) or this side does (false, the
    // default). SocksUsercode is the user id of version 4/4A and the user name of version 5;
    // a version 5 user name makes the client offer user-name/password authentication with
    // SocksPassword. The proxy's host name is looked up asynchronously before connecting;
    // SocksServer may be an IPv6 address (brackets allowed), and a name with addresses of
    // both families has them raced.
    // A failure names the step: the connection to the proxy, the authentication, or the
    // proxy's attempt to reach the server (its reply code's text).
    const std::string& SocksServer() const { return socksServer_; }
    void SetSocksServer(std::string v) { socksServer_ = std::move(v); }
    const std::string& SocksPort() const { return socksPort_; }
    void SetSocksPort(std::string v) { socksPort_ = std::move(v); }
    const std::string& SocksLevel() const { return socksLevel_; }
    void SetSocksLevel(std::string v) { socksLevel_ = std::move(v); }
    bool SocksRemoteNames() const { return socksRemoteNames_; }
    void SetSocksRemoteNames(bool v) { socksRemoteNames_ = v; }
    const std::string& SocksUsercode() const { return socksUsercode_; }
    void SetSocksUsercode(std::string v) { socksUsercode_ = std::move(v); }
    const std::string& SocksPassword() const { return socksPassword_; }
    void SetSocksPassword(std::string v) { socksPassword_ = std::move(v); }
    // Value of the "From: " line.
    const std::string& Sender() const { return sender_; }
    void SetSender(std::string v) { sender_ = std::move(v); }
    const std::string& Agent() const { return agent_; }
    void SetAgent(std::string v) { agent_ = std::move(v); }
    const std::string& Accept() const { return accept_; }
    void SetAccept(std::string v) { accept_ = std::move(v); }
    // Value of the "Referer: " line.
    const std::string& Reference() const { return reference_; }
    void SetReference(std::string v) { reference_ = std::move(v); }
    // Basic credentials; replaced by a user and password found in URL (and kept after).
    const std::string& Username() const { return username_; }
    void SetUsername(std::string v) { username_ = std::move(v); }
    const std::string& Password() const { return password_; }
    void SetPassword(std::string v) { password_ = std::move(v); }
    const std::string& ProxyUsername() const { return proxyUsername_; }
    void SetProxyUsername(std::string v) { proxyUsername_ = std::move(v); }
    const std::string& ProxyPassword() const { return proxyPassword_; }
    void SetProxyPassword(std::string v) { proxyPassword_ = std::move(v); }
    bool NoCache() const { return noCache_; }
    void SetNoCache(bool v) { noCache_ = v; }
    // Days since 1899-12-30 (fraction = time of day); 0 sends no If-Modified-Since.
    double ModifiedSince() const { return modifiedSince_; }
    void SetModifiedSince(double v) { modifiedSince_ = v; }
    const std::string& Cookie() const { return cookie_; }
    void SetCookie(std::string v) { cookie_ = std::move(v); }
    const std::string& ContentTypePost() const { return contentTypePost_; }
    void SetContentTypePost(std::string v) { contentTypePost_ = std::move(v); }
    // Bounds of the "Range: bytes=" line; also filled from a Content-Range response header.
    // Both are emptied once a request has sent them.
    const std::string& ContentRangeBegin() const { return contentRangeBegin_; }
    void SetContentRangeBegin(std::string v) { contentRangeBegin_ = std::move(v); }
    const std::string& ContentRangeEnd() const { return contentRangeEnd_; }
    void SetContentRangeEnd(std::string v) { contentRangeEnd_ = std::move(v); }
    // Last Accept-Ranges response value; emptied whenever a request header is sent.
    const std::string& AcceptRanges() const { return acceptRanges_; }
    // Chooses the pump of the synchronous wait: false = the application's pump, true = the
    // calling thread's own queue only (a client living on a worker thread). Also sets the
    // socket's MultiThreaded.
    bool MultiThreaded() const { return multiThreaded_; }
    void SetMultiThreaded(bool v);

    TNotifyEvent OnTrace;  // never raised
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnHeaderData;
    TOnCommand OnCommand;  // each request line; the handler may change or empty it
    TNotifyEvent OnHeaderBegin;
    TNotifyEvent OnHeaderEnd;
    TNotifyEvent OnRequestHeaderBegin;
    TNotifyEvent OnRequestHeaderEnd;
    TNotifyEvent OnDocBegin;
    TDocDataEvent OnDocData;
    TNotifyEvent OnDocEnd;
    TNotifyEvent OnSendBegin;
    TDocDataEvent OnSendData;
    TNotifyEvent OnSendEnd;
    TNotifyEvent OnStateChange;
    THttpRequestDone OnRequestDone;
    TNotifyEvent OnLocationChange;
    TCookieRcvdEvent OnCookie;  // Accept starts true; its value is not used

    // ---- public, not published ----
    // Receives the body at its current position. A write that does not take every byte
    // fails the request.
    TStream* DocStream() const { return docStream_; }
    void SetDocStream(TStream* s) { docStream_ = s; }
    // Body of a POST, read from its current position; Content-Length is its whole size.
    TStream* PostStream() const { return postStream_; }
    void SetPostStream(TStream* s) { postStream_ = s; }
    // Status of the last status line; 404 for a local failure; 0 at request start.
    std::int32_t StatusCode() const { return statusCode_; }
    // Text after the status code, or the text of a local failure.
    const std::string& ReasonPhrase() const { return reasonPhrase_; }
    // Content-Length of the response, -1 when it has none.
    std::int32_t ContentLength() const { return contentLength_; }
    const std::string& ContentType() const { return contentType_; }  // lower-cased
    // The address being fetched: URL at request start, the new address after a relocation.
    const std::string& Location() const { return location_; }
    // File-name part of the requested path ("document.htm" for "/").
    const std::string& DocFileName() const { return docFileName_; }
    // Every non-empty header line of the current response, status line included.
    const TStringList& ResponseHeader() const { return responseHeader_; }
    // Value of every www-authenticate header received; never cleared by the client.
    TStringList& AuthChallenges() { return authChallenges_; }
    // Body bytes received and posted bytes sent in this request.
    std::int64_t RcvdBytes() const { return rcvdBytes_; }
    std::int64_t SentBytes() const { return sentBytes_; }
    THttpClientState State() const { return state_; }
    bool Connected() const { return connected_; }
    // Raised for each complete line that arrives while no request waits for a header or a
    // body (for instance after a "Content-Length: 0" response on a connection left open).
    THttpDataAvailable OnDataAvailable;

    // A request whose peer stops answering fails: no connection within ConnectTimeout
    // (name lookup included), or no byte received or sent for IdleTimeout while connected.
    // Milliseconds; 0 or less switches the limit off. Defaults 30000 and 60000.
    int ConnectTimeout() const { return connectTimeoutMs_; }
    void SetConnectTimeout(int ms) { connectTimeoutMs_ = ms; }
    int IdleTimeout() const { return idleTimeoutMs_; }
    void SetIdleTimeout(int ms) { idleTimeoutMs_ = ms; }
    // A connection that moves fewer than LowSpeedLimit bytes per second (received and
    // posted), on average over LowSpeedTime seconds in a row, fails the request with
    // "transfer too slow: below <limit> bytes/s for <time> s (<host:port>[ through the
    // SOCKS proxy <proxy>])" and the error of a timeout (10060): a server that trickles is
    // cut off like one that is silent. 0 for either switches the check off. Defaults 1024
    // and 30.
    int LowSpeedLimit() const { return lowSpeedLimit_; }
    void SetLowSpeedLimit(int bytesPerSecond) { lowSpeedLimit_ = bytesPerSecond; }
    int LowSpeedTime() const { return lowSpeedTime_; }
    void SetLowSpeedTime(int seconds) { lowSpeedTime_ = seconds; }
    // Successive relocations one request follows; the next Location fails the request.
    static constexpr int MaxRelocations = 20;
    // The header lines of one response may hold at most this many bytes in all.
    static constexpr std::size_t MaxResponseHeaderBytes = 1 << 20;

    // Fetches URL and returns when the request has ended, having dispatched messages
    // meanwhile (other handlers of the application run; a nested Get on this client raises
    // "HTTP component is busy"). Raises EHttpException as listed above; a response with a
    // status below 400 returns normally with the body in DocStream.
    void Get();
    // The same for any kind: httpPOST sends PostStream as the body, httpHEAD asks for the
    // header only.
    void ExecuteRequest(THttpRequest kind);
    // Ends the request in progress at once, as a failure: the name look-up or connection is
    // dropped, OnRequestDone gets 10053 and Get raises EHttpException 404 "aborted". Safe
    // from a handler that runs inside Get's wait; nothing happens when no request runs.
    void Abort();

protected:
    // Checks and starts a request, then returns at once.
    void BeginRequest(THttpRequest kind);
    void SetState(THttpClientState state);
    // Ends the request: posts MSG_HTTP_FINISH (once per request).
    void FinishRequest();
    void ComposeRequest(const std::string& method, const std::string& version);

    virtual void AddRequestLine(const std::string& line);
    virtual void ConnectToServer();
    virtual void CloseConnection();
    virtual void ResetResponse();
    virtual void Relocate();
    virtual void FireCookie(const std::string& data, bool& accept);
    virtual void FireSessionConnected();
    virtual void FireRequestHeaderBegin();
    virtual void FireRequestHeaderEnd();
    virtual void FireHeaderBegin();
    virtual void FireHeaderEnd();
    virtual void FireDocBegin();
    virtual void FireDocData(const void* buffer, int len);
    virtual void FireDocEnd();
    virtual void FireSendBegin();
    virtual void FireSendData(const void* buffer, int len);
    virtual void FireSendEnd();
    virtual void AllocateWindow();
    virtual void DeallocateWindow();

    // The transport under the handlers; a subclass may replace it to drive the client
    // without a network. Receive returns the count read, 0 or less when nothing was read.
    virtual int ReceiveFromSocket(void* buffer, int len);
    virtual void SendToSocket(const void* data, int len);
    // Drops the connection at once (no graceful shutdown, queued data discarded).
    virtual void AbortConnection();

    // Socket handlers.
    void HandleDnsLookupDone(WORD error);
    void HandleSessionConnected(WORD error);
    void HandleDataAvailable(WORD error);
    void HandleDataSent(WORD error);
    void HandleSessionClosed(WORD error);
    // Where the socket's OnSessionClosed goes: HandleSessionClosed, or Relocate while a
    // relocation closes the connection.
    void SocketSessionClosed(WORD error);

    TWSocket& Socket() { return *socket_; }
    HWND Handle() const { return window_; }
    const std::string& ConnectHost() const { return connectHost_; }
    const std::string& ConnectPort() const { return connectPort_; }
    const std::string& RequestPath() const { return requestPath_; }

private:
    enum class TNextHandler { None, HeaderLine, Body };
    enum : WPARAM { kConnectTimer = 1, kIdleTimer = 2, kLowWaterTimer = 3 };

    void WndProc(TMessage& msg);
    void HandleTimer(WPARAM id);
    void StartIdleTimer();
    bool LowSpeedChecked() const { return lowSpeedLimit_ > 0 && lowSpeedTime_ > 0; }
    // At each tick: a new measuring period once the transfer has kept up with the limit
    // since the last one began, a failure once it has not for LowSpeedTime.
    void CheckLowSpeed(std::chrono::steady_clock::time_point now, const std::string& peer);
    void ReadAndDispatch(WORD error);
    void RunNextHandler();
    void HandleHeaderLine();
    void HandleHeaderField(const std::string& line);
    void EndAtTlsClose();
    // The tunnel through an HTTP proxy for an https address: the CONNECT request, its
    // answer line by line, then TLS on the tunnel.
    void SendTunnelRequest();
    void HandleTunnelLine();
    // The text of a socket error code: the TLS layer's own words for its codes.
    std::string SocketErrorText(WORD error);
    // The SOCKS proxy: whether this request uses one, whether the proxy resolves the
    // destination's name, the socket's settings for the next Connect, and the text of a
    // failure of the connection to the proxy or of its handshake.
    bool UsesSocks() const { return !socksServer_.empty(); }
    bool SocksResolvesNames() const;
    void ConfigureSocks();
    std::string SocksFailureText(WORD error);
    std::string SocksProxyName() const;
    // "proto://host:port" with the protocol's default port filled in.
    static std::string OriginOf(const std::string& proto, const std::string& host, const std::string& port);
    void EndOfHeader();
    // Body bytes as they came: decoded first when the body is chunked.
    void HandleBodyData(const char* data, int len);
    // Body bytes of the document: to DocStream and OnDocData.
    void DeliverBody(const char* data, std::size_t len);
    void PassBufferedBody();
    void ReadBodyBlock();
    // Sets or clears the socket's read low-water mark after a body block; the tick clears
    // it for good when nothing came for a whole tick.
    void TuneLowWater();
    void LowWaterTick();
    void NoteNewLocation(const std::string& value);
    void StartRelocation();
    // Whether the response still misses part of its header or of its announced body (a
    // body without length misses its end as long as the connection has not ended normally).
    bool ResponseIncomplete() const;
    // Records a local failure: StatusCode 404, ReasonPhrase text, Get raises with code.
    void MarkFailure(DWORD requestError, WORD code, const std::string& text);
    // Ends the running request at once with a local failure and drops the connection.
    void FailRequest(DWORD requestError, WORD code, const std::string& text);
    // Whether the running request has ended (or none runs).
    bool RequestEnded() const { return state_ == httpIdle || finishPosted_; }
    void PumpOnce();

    std::unique_ptr<TWSocket> socket_;
    HWND window_ = 0;
    bool multiThreaded_ = false;
    THttpClientState state_ = httpIdle;
    std::string localAddr_;
    std::string connectHost_;
    std::string targetHost_;
    std::string connectPort_;
    // The address the request is for (after relocations): protocol, host, port as named
    // (empty = default) and path with query. The request path is derived from it.
    std::string targetProto_;
    std::string targetPort_;
    std::string targetPath_;
    std::string proxy_;
    std::string proxyPort_;
    std::string socksServer_;
    std::string socksPort_ = "1080";
    std::string socksLevel_ = "5";
    bool socksRemoteNames_ = false;
    std::string socksUsercode_;
    std::string socksPassword_;
    // Where the connection through the SOCKS proxy stands for the current attempt.
    enum class TSocksStep { None, ResolvingProxy, ResolvingTarget, Connecting, ProxyConnected };
    TSocksStep socksStep_ = TSocksStep::None;
    std::vector<std::string> socksAddrs_;  // the proxy's addresses, looked up (tried in order)
    int socksErrorCode_ = 0;  // the handshake's failure, as OnSocksError reported it
    std::string socksErrorText_;
    std::string username_;
    std::string password_;
    std::string proxyUsername_;
    std::string proxyPassword_;
    std::string location_;
    bool connected_ = false;
    // Where the tunnel of this connection stands (None: no proxy tunnel).
    enum class TTunnel { None, Needed, AwaitingReply, Up };
    TTunnel tunnel_ = TTunnel::None;
    bool tunnelStatusSeen_ = false;
    std::string tunnelStatus_;  // the proxy's status line
    // Credentials (Username/Password) go only to the address they were given for.
    std::string credentialsOrigin_;
    std::string dnsResult_;
    char sendBuffer_[8193];
    THttpRequest requestKind_ = httpAbort;
    THttpRcvBuffer rcv_;
    // Body bytes are read into this block, not the receive buffer, once that is empty.
    static constexpr int kBodyBlock = 64 * 1024;
    std::vector<char> bodyBlock_;
    // A fast, framed body is received in large pieces: the socket announces data only once
    // kLowWater bytes wait, while at least that much more is certain to come and the body
    // so far came fast enough to fill the mark within kLowWaterFillMs.
    static constexpr int kLowWater = 256 * 1024;
    static constexpr int kLowWaterAfter = 1024 * 1024;  // body bytes before the rate counts
    static constexpr int kLowWaterFillMs = 20;
    static constexpr int kLowWaterTickMs = 250;
    std::chrono::steady_clock::time_point bodyStart_;
    bool lowWaterBarred_ = false;     // the body slowed down under the mark: not again
    std::int64_t lowWaterSeen_ = 0;   // rcvdBytes_ at the last tick
    // "Transfer-Encoding: chunked" in this response's header, and whether its body is
    // decoded (a response that has a body).
    bool chunked_ = false;
    bool chunkedBody_ = false;
    THttpChunkDecoder chunks_;
    std::string line_;
    int lineEndLength_ = 0;  // of the line end taken off line_
    int headerLines_ = 0;
    int bodyChunks_ = 0;
    bool allowedToSend_ = false;
    std::string url_;
    std::string requestPath_;
    std::string docFileName_;
    std::string sender_;
    std::string reference_;
    std::string agent_;
    std::string accept_;
    double modifiedSince_ = 0;
    bool noCache_ = false;
    std::int32_t statusCode_ = 0;
    std::string reasonPhrase_;
    std::int32_t contentLength_ = -1;
    std::string contentType_;
    TStringList authChallenges_;
    std::string contentTypePost_;
    std::string contentRangeBegin_;
    std::string contentRangeEnd_;
    std::string acceptRanges_;
    std::string cookie_;
    bool relocating_ = false;
    bool inHeader_ = false;
    TStringList responseHeader_;
    std::size_t responseHeaderBytes_ = 0;  // bytes of the header lines kept for this response
    TStream* docStream_ = nullptr;
    std::int64_t rcvdBytes_ = 0;
    std::int64_t sentBytes_ = 0;
    TStream* postStream_ = nullptr;
    TMemoryStream requestBuffer_;
    DWORD requestError_ = 0;
    TNextHandler nextHandler_ = TNextHandler::None;

    // Bookkeeping of one request (kept apart from the response fields above).
    WPARAM requestId_ = 0;        // tags the posted messages; stale ones are ignored
    bool finishPosted_ = false;   // MSG_HTTP_FINISH posted for the running request
    bool closeToRelocate_ = false;
    bool failing_ = false;        // FailRequest is dropping the connection
    bool detached_ = false;       // socket events belong to no request (an old connection)
    WORD failureCode_ = 0;        // non-zero: Get raises ReasonPhrase with this code
    int relocations_ = 0;
    int doneOutstanding_ = 0;     // MSG_HTTP_REQUEST_DONE posted, not yet handled
    int connectTimeoutMs_ = 30000;
    int idleTimeoutMs_ = 60000;
    std::chrono::steady_clock::time_point lastActivity_;
    int lowSpeedLimit_ = 1024;
    int lowSpeedTime_ = 30;
    std::int64_t wireBytes_ = 0;  // received on this request's connections, header included
    std::chrono::steady_clock::time_point speedMark_;  // the current measuring period began
    std::int64_t speedMarkBytes_ = 0;                  // bytes moved by then
};
