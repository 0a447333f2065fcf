// SPDX-License-Identifier: Apache-2.0
// The life of a request: starting, the synchronous wait, lookup, connection, the end of a
// request and its failures, and the timeouts that keep a silent peer from holding Get.
#include "http/HttpProt.h"

#include <algorithm>

#include "base/SysUtils.h"
#include "base/UrlText.h"
#include "http/HttpProtFormat.h"
#include "http/HttpProtUrl.h"
#include "socket/WSocket.h"
#include "socket/WSocketTlsConfig.h"

namespace {

constexpr DWORD kTimedOut = 10060;  // WSAETIMEDOUT
constexpr DWORD kAborted = 10053;   // WSAECONNABORTED

std::string DurationText(int ms) { return ms % 1000 == 0 ? IntToStr(ms / 1000) + " s" : IntToStr(ms) + " ms"; }

}  // namespace

void THttpCli::SetState(THttpClientState state) {
    if (state == state_) return;
    state_ = state;
    if (OnStateChange) OnStateChange(this);
    if (state == httpIdle) {
        ++doneOutstanding_;
        PostMessage(window_, MSG_HTTP_REQUEST_DONE, requestKind_, static_cast<LPARAM>(requestError_ & 0xFFFF));
    }
}

void THttpCli::Get() { ExecuteRequest(httpGET); }

void THttpCli::ExecuteRequest(THttpRequest kind) {
    BeginRequest(kind);
    // Every message is dispatched as it comes, but the wait blocks while nothing is
    // pending instead of spinning.
    bool waited = false;
    while (state_ != httpIdle) {
        PumpOnce();
        waited = true;
    }
    // The finish message posted the request-done message: it is handled before returning.
    if (waited)
        while (doneOutstanding_ > 0) PumpOnce();
    if (failureCode_ != 0) throw EHttpException(reasonPhrase_, failureCode_);
    if (statusCode_ >= 400) throw EHttpException(reasonPhrase_, static_cast<WORD>(statusCode_));
}

void THttpCli::PumpOnce() {
    if (multiThreaded_) {
        socket_->PumpPrivateMessages();
        if (state_ != httpIdle || doneOutstanding_ > 0) WaitMessage();
    } else {
        WaitAndProcessMessages();
    }
}

void THttpCli::BeginRequest(THttpRequest kind) {
    if (state_ != httpIdle) throw EHttpException("HTTP component is busy", 1);
    if (kind == httpPOST && !postStream_) throw EHttpException("HTTP component has nothing to post", 2);
    // A line break in an address would end the request line early: what follows it would
    // reach the server as header lines or as a second request.
    for (const std::string* address : {&url_, &reference_, &proxy_})
        if (HasLineBreakOrNul(*address)) throw EHttpException(RefusedAddressText(*address), 404);

    // Nothing of an earlier response may leak into this one: a connection it left open
    // is dropped (its events are ignored while it goes), and so are unread bytes.
    detached_ = true;
    AbortConnection();
    detached_ = false;
    connected_ = false;
    rcv_.Clear();
    relocating_ = false;
    inHeader_ = false;
    closeToRelocate_ = false;
    nextHandler_ = TNextHandler::None;
    ++requestId_;
    finishPosted_ = false;
    failureCode_ = 0;
    relocations_ = 0;
    tunnel_ = TTunnel::None;

    SetState(httpStarting);
    requestKind_ = kind;
    ResetResponse();

    std::string protocol, user, password, host, port;
    if (proxy_.empty()) {
        SplitUrl(url_, protocol, user, password, host, port, requestPath_);
        requestPath_ = RequestTargetOf(requestPath_);
        targetPath_ = requestPath_;
        connectPort_ = port.empty() ? DefaultPortOf(protocol) : port;
        connectHost_ = host;
    } else {
        std::string path;
        SplitUrl(url_, protocol, user, password, host, port, path);
        path = RequestTargetOf(path);
        targetPath_ = path;
        // Through a tunnel the server itself reads the request: it names the path only.
        requestPath_ = IsTlsProtocol(protocol)
                           ? path
                           : (protocol.empty() ? "http" : protocol) + "://" + host + (port.empty() ? "" : ":" + port) + path;
        std::string pProto, pUser, pPassword, pPath;
        SplitUrl(proxy_, pProto, pUser, pPassword, connectHost_, connectPort_, pPath);
        if (connectPort_.empty()) connectPort_ = proxyPort_;
    }
    targetHost_ = host;
    targetProto_ = protocol.empty() ? "http" : protocol;
    targetPort_ = port;
    credentialsOrigin_ = OriginOf(targetProto_, targetHost_, targetPort_);
    if (!user.empty()) username_ = user;
    if (!password.empty()) password_ = password;
    if (requestPath_.empty()) requestPath_.push_back('/');
    if (targetPath_.empty()) targetPath_.push_back('/');
    docFileName_ = DocFileNameOf(targetPath_);
    ConnectToServer();
}

void THttpCli::ResetResponse() {
    responseHeader_.Clear();
    responseHeaderBytes_ = 0;
    requestError_ = 0;
    docFileName_.clear();
    statusCode_ = 0;
    rcvdBytes_ = 0;
    wireBytes_ = 0;
    lowWaterBarred_ = false;
    sentBytes_ = 0;
    headerLines_ = 0;
    bodyChunks_ = 0;
    contentLength_ = -1;
    contentType_.clear();
    chunked_ = false;
    chunkedBody_ = false;
    allowedToSend_ = false;
    location_ = url_;
}

void THttpCli::FinishRequest() {
    if (finishPosted_) return;
    finishPosted_ = true;
    KillTimer(window_, 0);
    PostMessage(window_, MSG_HTTP_FINISH, requestId_, 0);
}

void THttpCli::ConnectToServer() {
    dnsResult_.clear();
    SetState(httpResolving);
    if (connectTimeoutMs_ > 0) SetTimer(window_, kConnectTimer, connectTimeoutMs_);
    // Through a SOCKS proxy its own name is looked up first, then (unless the proxy
    // resolves names) the server's.
    socksStep_ = UsesSocks() ? TSocksStep::ResolvingProxy : TSocksStep::None;
    socksErrorCode_ = 0;
    socksErrorText_.clear();
    try {
        socket_->SetLocalAddr(localAddr_);
        socket_->DnsLookup(UsesSocks() ? socksServer_ : connectHost_);
    } catch (const Exception& e) {
        if (state_ != httpResolving) {
            // The lookup answered at once and an event handler of a later step raised.
            FailRequest(404, 404, e.Message());
            return;
        }
        KillTimer(window_, 0);
        statusCode_ = 404;
        reasonPhrase_ = e.Message();
        connected_ = false;
        SetState(httpIdle);
    }
}

void THttpCli::HandleDnsLookupDone(WORD error) {
    if (detached_ || failing_ || state_ != httpResolving) return;
    if (error != 0) {
        requestError_ = error;
        statusCode_ = 404;
        // The name that failed, and whose it is: a proxy's or the server's.
        const std::string code = " (Error #" + IntToStr(error) + ")";
        if (socksStep_ == TSocksStep::ResolvingProxy)
            reasonPhrase_ = "can't resolve the SOCKS proxy's host name " + socksServer_ + code;
        else if (!proxy_.empty())
            reasonPhrase_ = "can't resolve the proxy's host name " + connectHost_ + code;
        else
            reasonPhrase_ = "can't resolve the host name " + connectHost_ + code;
        HandleSessionClosed(error);
        return;
    }
    if (socksStep_ == TSocksStep::ResolvingProxy) {
        const TStringList& found = socket_->DnsResultList();
        socksAddrs_.clear();
        for (int i = 0; i < found.Count(); ++i) socksAddrs_.push_back(found[i]);
        if (socksAddrs_.empty()) socksAddrs_.push_back(socket_->DnsResult());  // a numeric address
        if (!SocksResolvesNames()) {
            socksStep_ = TSocksStep::ResolvingTarget;
            try {
                socket_->DnsLookup(connectHost_);  // answers through here again
            } catch (const Exception& e) {
                if (!RequestEnded()) FailRequest(404, 404, e.Message());
            }
            return;
        }
        dnsResult_ = connectHost_;  // the proxy looks the name up
    } else {
        dnsResult_ = socket_->DnsResult();
    }
    if (socksStep_ != TSocksStep::None) socksStep_ = TSocksStep::Connecting;
    SetState(httpResolved);
    const bool tls = IsTlsProtocol(targetProto_);
    tunnel_ = tls && !proxy_.empty() ? TTunnel::Needed : TTunnel::None;
    tunnelStatusSeen_ = false;
    tunnelStatus_.clear();
    try {
        // Every address of the name: the socket races them when they include IPv6. Through
        // a SOCKS proxy the socket connects to the proxy, and Addr is only what it is asked for.
        const TStringList& found = socket_->DnsResultList();
        if (socksStep_ == TSocksStep::None && found.Count() > 1) {
            std::vector<std::string> addrs;
            for (int i = 0; i < found.Count(); ++i) addrs.push_back(found[i]);
            socket_->SetAddrList(addrs);
        } else {
            socket_->SetAddr(dnsResult_);
        }
        socket_->SetLocalAddr(localAddr_);
        socket_->SetPort(connectPort_);
        socket_->SetProto("tcp");
        // The certificate must name the server of the address, whatever was connected to.
        socket_->SetTlsEnabled(tls && tunnel_ == TTunnel::None);
        socket_->SetTlsHost(tls ? UnbracketHost(targetHost_) : std::string());
        ConfigureSocks();
        socket_->Connect();
    } catch (const Exception& e) {
        const int code = socket_->LastError();
        requestError_ = static_cast<DWORD>(code);
        statusCode_ = 404;
        // A failure without a Winsock code (a bad port, say) keeps its own text.
        reasonPhrase_ = code != 0 ? "can't connect: " + WinsockErrorText(code) + " (Error #" + IntToStr(code) + ")"
                                  : "can't connect: " + e.Message();
        socksStep_ = TSocksStep::None;
        detached_ = true;
        socket_->Close();
        detached_ = false;
        HandleSessionClosed(0);
    }
}

void THttpCli::HandleSessionConnected(WORD error) {
    if (detached_ || failing_ || RequestEnded()) return;
    if (error != 0) {
        KillTimer(window_, kConnectTimer);
        requestError_ = error;
        statusCode_ = 404;
        reasonPhrase_ = SocketErrorText(error) + " (Error #" + IntToStr(error) + ")";
        if (socksStep_ != TSocksStep::None)
            reasonPhrase_ = SocksFailureText(error);
        else if (!proxy_.empty() && tunnel_ != TTunnel::Up)  // (through the tunnel: the TLS handshake failed)
            reasonPhrase_ = "can't connect to the proxy " + connectHost_ + ":" + connectPort_ + ": " + reasonPhrase_;
        socksStep_ = TSocksStep::None;
        HandleSessionClosed(error);
        return;
    }
    socksStep_ = TSocksStep::None;
    if (tunnel_ == TTunnel::Needed) {
        // The proxy connection is up; the session starts once TLS runs through the tunnel
        // (still within the connect time).
        try {
            SendTunnelRequest();
        } catch (const Exception& e) {
            FailRequest(404, 404, e.Message());
        }
        return;
    }
    KillTimer(window_, kConnectTimer);
    try {
        connected_ = true;
        SetState(httpConnected);
        FireSessionConnected();
        StartIdleTimer();
        nextHandler_ = TNextHandler::HeaderLine;
        SetState(httpAwaitingHeader);
        switch (requestKind_) {
            case httpGET:
                ComposeRequest("GET", "1.0");
                break;
            case httpPOST:
                ComposeRequest("POST", "1.0");
                FireSendBegin();
                allowedToSend_ = true;
                HandleDataSent(0);  // the first body chunk follows the header
                break;
            case httpHEAD:
                ComposeRequest("HEAD", "1.0");
                break;
            case httpAbort:
                break;
        }
    } catch (const Exception& e) {
        // Closing quietly would end the request as if it had succeeded.
        FailRequest(404, 404, e.Message());
    }
}

void THttpCli::SocketSessionClosed(WORD error) {
    if (detached_) return;
    if (closeToRelocate_)
        Relocate();
    else
        HandleSessionClosed(error);
}

void THttpCli::HandleSessionClosed(WORD error) {
    connected_ = false;
    if (RequestEnded()) return;  // the request ended before the connection did
    if (state_ == httpResolved && (socksStep_ == TSocksStep::Connecting || socksStep_ == TSocksStep::ProxyConnected)) {
        // The proxy ended the connection before its handshake did.
        socksStep_ = TSocksStep::None;
        FailRequest(error != 0 ? error : 404, 404,
                    "the SOCKS proxy " + SocksProxyName() + " closed the connection during its handshake" +
                        (error != 0 ? ": " + SocketErrorText(error) + " (Error #" + IntToStr(error) + ")" : ""));
        return;
    }
    // A connection that ends with an error is no end of the document: what arrived is a
    // cut-off copy, and must not pass for the whole.
    if (error != 0 && ResponseIncomplete()) {
        const std::string why = SocketErrorText(error) + " (Error #" + IntToStr(error) + ")";
        if (state_ == httpAwaitingHeader)
            FailRequest(error, 404, why + " before the end of the header");
        else if (contentLength_ >= 0)
            FailRequest(error, 404, why + " after " + IntToStr(rcvdBytes_) + " of " + IntToStr(contentLength_) + " bytes");
        else
            FailRequest(error, 404, why + " after " + IntToStr(rcvdBytes_) + " bytes");
        return;
    }
    if (failureCode_ == 0 && chunkedBody_ && state_ == httpAwaitingBody && !chunks_.BodyComplete()) {
        // An orderly close before the last chunk cuts the document off all the same.
        FailRequest(404, 404, "the connection ended before the last chunk, after " + IntToStr(rcvdBytes_) + " bytes");
        return;
    }
    if (inHeader_) {
        FireHeaderEnd();
        if (relocating_) {
            rcv_.Clear();
            headerLines_ = 0;
            bodyChunks_ = 0;
            Relocate();
            return;
        }
    }
    if (bodyChunks_ > 0 && docStream_ && failureCode_ == 0) {
        // A stream may hold the last blocks back: they must reach it before the request
        // can count as done, and failing that, fail it like any failing write. (A request
        // that failed already leaves them to the stream's owner.)
        try {
            docStream_->FlushBuffer();
        } catch (const Exception& e) {
            FailRequest(404, 404, e.Message());  // ends the request through here again
            return;
        }
    }
    if (bodyChunks_ > 0) FireDocEnd();
    FinishRequest();
}

bool THttpCli::ResponseIncomplete() const {
    if (statusCode_ >= 400) return false;  // a failure already, with its own status
    if (state_ == httpAwaitingHeader) return true;
    if (state_ != httpAwaitingBody) return false;
    // Only a response that has a body can be cut off in it.
    if (requestKind_ == httpHEAD || statusCode_ == 204 || statusCode_ == 304) return false;
    if (chunkedBody_) return !chunks_.BodyComplete();
    return contentLength_ < 0 || rcvdBytes_ < contentLength_;
}

void THttpCli::MarkFailure(DWORD requestError, WORD code, const std::string& text) {
    requestError_ = requestError;
    statusCode_ = 404;
    reasonPhrase_ = text;
    failureCode_ = code;
}

void THttpCli::FailRequest(DWORD requestError, WORD code, const std::string& text) {
    if (RequestEnded()) return;
    MarkFailure(requestError, code, text);
    socksStep_ = TSocksStep::None;
    relocating_ = false;
    closeToRelocate_ = false;
    failing_ = true;
    AbortConnection();  // raises OnSessionClosed when a connection was up
    failing_ = false;
    if (!finishPosted_) HandleSessionClosed(0);
}

void THttpCli::Abort() {
    if (state_ == httpIdle) return;
    FailRequest(kAborted, 404, "aborted");
}

void THttpCli::StartIdleTimer() {
    lastActivity_ = std::chrono::steady_clock::now();
    speedMark_ = lastActivity_;
    speedMarkBytes_ = wireBytes_ + sentBytes_;
    if (idleTimeoutMs_ <= 0 && !LowSpeedChecked()) return;
    // Activity only stamps the time; a coarse tick compares, so a busy transfer costs no
    // timer call per block.
    int tick = 1000;
    if (idleTimeoutMs_ > 0 && idleTimeoutMs_ / 4 < tick) tick = idleTimeoutMs_ / 4;
    if (LowSpeedChecked() && lowSpeedTime_ < 4) tick = std::min(tick, lowSpeedTime_ * 250);
    if (tick < 10) tick = 10;
    SetTimer(window_, kIdleTimer, tick);
}

void THttpCli::CheckLowSpeed(std::chrono::steady_clock::time_point now, const std::string& peer) {
    const std::int64_t moved = wireBytes_ + sentBytes_;
    const double seconds = std::chrono::duration<double>(now - speedMark_).count();
    if (static_cast<double>(moved - speedMarkBytes_) >= lowSpeedLimit_ * seconds) {
        speedMark_ = now;
        speedMarkBytes_ = moved;
    } else if (seconds >= lowSpeedTime_) {
        FailRequest(kTimedOut, 404,
                    "transfer too slow: below " + IntToStr(lowSpeedLimit_) + " bytes/s for " + IntToStr(lowSpeedTime_) +
                        " s (" + peer + ")");
    }
}

void THttpCli::HandleTimer(WPARAM id) {
    if (RequestEnded()) {
        KillTimer(window_, 0);
        return;
    }
    const std::string peer =
        connectHost_ + ":" + connectPort_ + (UsesSocks() ? " through the SOCKS proxy " + SocksProxyName() : "");
    if (id == kConnectTimer) {
        KillTimer(window_, kConnectTimer);
        FailRequest(kTimedOut, 404, "can't connect: no connection to " + peer + " within " + DurationText(connectTimeoutMs_));
    } else if (id == kLowWaterTimer) {
        LowWaterTick();
    } else if (id == kIdleTimer) {
        const auto now = std::chrono::steady_clock::now();
        if (idleTimeoutMs_ > 0 && now - lastActivity_ >= std::chrono::milliseconds(idleTimeoutMs_))
            FailRequest(kTimedOut, 404, "connection timed out: nothing from " + peer + " for " + DurationText(idleTimeoutMs_));
        else if (LowSpeedChecked())
            CheckLowSpeed(now, peer);
    }
}

std::string THttpCli::SocketErrorText(WORD error) {
    const TTlsFailure kind = TlsFailureOfSocketCode(error);
    if (kind == TTlsFailure::None) return WinsockErrorText(error);
    if (socket_->TlsFailure().Kind == kind && !socket_->TlsFailure().Text.empty()) return socket_->TlsFailure().Text;
    return TlsSocketErrorText(error);
}

std::string THttpCli::OriginOf(const std::string& proto, const std::string& host, const std::string& port) {
    const std::string p = proto.empty() ? std::string("http") : LowerCase(proto);
    return p + "://" + LowerCase(host) + ":" + (port.empty() ? DefaultPortOf(p) : port);
}

// ---- the tunnel -----------------------------------------------------------------------------

void THttpCli::SendTunnelRequest() {
    const std::string authority = targetHost_ + ":" + (targetPort_.empty() ? DefaultPortOf(targetProto_) : targetPort_);
    std::string request = "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n";
    if (!agent_.empty()) request += "User-Agent: " + agent_ + "\r\n";
    if (!proxyUsername_.empty())
        request += "Proxy-Authorization: Basic " + EncodeBase64(proxyUsername_ + ":" + proxyPassword_) + "\r\n";
    request += "\r\n";
    tunnel_ = TTunnel::AwaitingReply;
    lastActivity_ = std::chrono::steady_clock::now();
    SendToSocket(request.data(), static_cast<int>(request.size()));
}

void THttpCli::HandleTunnelLine() {
    if (!tunnelStatusSeen_) {
        tunnelStatusSeen_ = true;
        tunnelStatus_ = line_;
        return;
    }
    if (!line_.empty()) return;  // the proxy's header fields say nothing the client needs
    const bool ok = tunnelStatus_.compare(0, 5, "HTTP/") == 0 && tunnelStatus_.size() >= 12 &&
                    tunnelStatus_.compare(9, 3, "200") == 0;
    if (!ok) {
        tunnel_ = TTunnel::None;
        FailRequest(404, 404, "the proxy " + connectHost_ + ":" + connectPort_ + " refused the tunnel to " + targetHost_ + ":" +
                                  (targetPort_.empty() ? DefaultPortOf(targetProto_) : targetPort_) +
                                  ": " + tunnelStatus_);
        return;
    }
    tunnel_ = TTunnel::Up;
    rcv_.Clear();
    socket_->StartTls();  // OnSessionConnected follows when the handshake ends
}
