// SPDX-License-Identifier: Apache-2.0
// The response side: reading into the fixed receive buffer, splitting the header into
// lines, the header-line handler and the body handler.
#include "http/HttpProt.h"

#include "base/SysUtils.h"
#include "http/HttpProtUrl.h"
#include "socket/WSocket.h"

void THttpCli::HandleDataAvailable(WORD error) {
    if (detached_) return;
    try {
        ReadAndDispatch(error);
        if (!RequestEnded() && connected_ && socket_->TlsCloseReceived()) EndAtTlsClose();
    } catch (const Exception& e) {
        // A response that cannot be read ends its request at once: waiting for the peer to
        // close would leave Get hanging on a connection nobody reads any more.
        const auto* http = dynamic_cast<const EHttpException*>(&e);
        const WORD code = http ? http->ErrorCode() : WORD{404};
        if (!RequestEnded()) {
            FailRequest(code, code, e.Message());
        } else {
            detached_ = true;
            AbortConnection();
            detached_ = false;
            rcv_.Clear();
        }
    }
}

void THttpCli::ReadAndDispatch(WORD error) {
    const bool tunnelReady = tunnel_ == TTunnel::None || (tunnel_ == TTunnel::Up && connected_);
    if (state_ == httpAwaitingBody && rcv_.Empty() && tunnelReady) {
        ReadBodyBlock();
        return;
    }
    if (rcv_.Full()) throw EHttpException("HTTP line too long", 4);
    const int n = ReceiveFromSocket(rcv_.FreeSpace(), rcv_.FreeCount());
    if (requestKind_ == httpAbort || n <= 0) return;
    rcv_.Added(n);
    wireBytes_ += n;
    lastActivity_ = std::chrono::steady_clock::now();

    while (tunnel_ == TTunnel::AwaitingReply && !rcv_.Empty() && rcv_.TakeLine(line_, lineEndLength_))
        HandleTunnelLine();
    if (tunnel_ == TTunnel::AwaitingReply || (tunnel_ == TTunnel::Up && !connected_)) return;

    if (state_ == httpAwaitingBody) {
        // A body block goes on whole, straight out of the buffer.
        PassBufferedBody();
        return;
    }
    while (!rcv_.Empty() && rcv_.TakeLine(line_, lineEndLength_)) {
        if (state_ == httpAwaitingHeader || state_ == httpAwaitingBody) {
            if (nextHandler_ == TNextHandler::None)
                FinishRequest();
            else
                RunNextHandler();
        } else if (OnDataAvailable) {
            OnDataAvailable(this, error);
        }
    }
}

// The server's TLS close ends what it sends, whether or not it closes the connection (some
// servers wait for the client's close first). The client answers with its own, and the
// request ends as at an orderly close of the server: an unframed body ends here.
void THttpCli::EndAtTlsClose() {
    CloseConnection();  // sends the TLS close; the close handler ends the request
    if (!RequestEnded()) HandleSessionClosed(0);
}

void THttpCli::RunNextHandler() {
    if (nextHandler_ == TNextHandler::HeaderLine)
        HandleHeaderLine();
    else
        HandleBodyData(line_.data(), static_cast<int>(line_.size()));
}

// Body blocks end where the document's offset is a multiple of the block size: after the
// short block that shared the receive buffer with the header, every block written to
// DocStream then covers whole pages of a file. One read of a large block costs one
// delivery and one write where the receive buffer's size would cost eight of each.
void THttpCli::ReadBodyBlock() {
    if (bodyBlock_.empty()) bodyBlock_.resize(kBodyBlock);
    const int want = kBodyBlock - static_cast<int>(rcvdBytes_ % kBodyBlock);
    const int n = ReceiveFromSocket(bodyBlock_.data(), want);
    if (requestKind_ == httpAbort || n <= 0) return;
    wireBytes_ += n;
    lastActivity_ = std::chrono::steady_clock::now();
    HandleBodyData(bodyBlock_.data(), n);
    if (!RequestEnded()) TuneLowWater();
}

// Waking the client at every arrival costs both ends more than the transfer itself on a
// fast path (each wake-up is a scheduler round trip for the sender too); one wake-up per
// quarter megabyte halves that cost. Never while the rest of the body might not fill the
// mark: the last bytes would wait for the server's close.
void THttpCli::TuneLowWater() {
    TWSocket& socket = *socket_;
    bool want = false;
    if (!lowWaterBarred_ && contentLength_ >= 0 && state_ == httpAwaitingBody &&
        rcvdBytes_ >= kLowWaterAfter) {
        const std::int64_t rest = static_cast<std::int64_t>(contentLength_) - rcvdBytes_;
        const double seconds = std::chrono::duration<double>(lastActivity_ - bodyStart_).count();
        const bool fast = seconds > 0 && static_cast<double>(rcvdBytes_) / seconds >= kLowWater * 1000.0 / kLowWaterFillMs;
        want = fast && rest >= kLowWater + socket.ReadLowWaterSlack();
    }
    const bool on = socket.ReadLowWater() > 1;
    if (want == on || !socket.SetReadLowWater(want ? kLowWater : 1)) return;
    if (want) {
        lowWaterSeen_ = rcvdBytes_;
        SetTimer(window_, kLowWaterTimer, kLowWaterTickMs);
    } else {
        KillTimer(window_, kLowWaterTimer);
    }
}

void THttpCli::LowWaterTick() {
    // Nothing for a whole tick: the body slowed down, and what still arrives would wait
    // under the mark. Every byte is announced again.
    if (rcvdBytes_ == lowWaterSeen_) {
        lowWaterBarred_ = true;
        TuneLowWater();
    }
    lowWaterSeen_ = rcvdBytes_;
}

// Everything held goes to the body handler as one block. The buffer is emptied first, so
// a nested read (an event handler that pumps messages) starts a fresh block; the block
// stays readable until then.
void THttpCli::PassBufferedBody() {
    const int len = rcv_.Length();
    rcv_.Clear();
    HandleBodyData(rcv_.Data(), len);
}

void THttpCli::HandleHeaderLine() {
    if (headerLines_ == 0 && line_.empty()) {
        // Empty lines before a status line (a stray line end after the last body, say) are
        // no header: skipped, within the header's limit.
        responseHeaderBytes_ += static_cast<std::size_t>(lineEndLength_);
        if (responseHeaderBytes_ > MaxResponseHeaderBytes) throw EHttpException("HTTP header too long", 5);
        return;
    }
    if (headerLines_ == 0) {
        // After a relocation the fields describe the new response only: a length or type
        // the redirecting response named must not stick to a document that names none.
        if (relocations_ > 0) {
            contentLength_ = -1;
            contentType_.clear();
        }
        chunked_ = false;
        chunkedBody_ = false;
        FireHeaderBegin();
    }
    ++headerLines_;

    if (UpperCase(line_.substr(0, 6)) == "<HTML>") {
        // No header at all: the document starts here. Its bytes reach the body handler
        // exactly as they came, line end included, and so does the rest of the buffer.
        if (contentType_.empty()) contentType_ = "text/html";
        SetState(httpAwaitingBody);
        nextHandler_ = TNextHandler::Body;
        FireHeaderEnd();
        line_.append(lineEndLength_ == 2 ? "\r\n" : "\n");
        HandleBodyData(line_.data(), static_cast<int>(line_.size()));
        if (!rcv_.Empty()) PassBufferedBody();
        return;
    }

    if (line_.empty()) {
        EndOfHeader();
        return;
    }

    // A server that never ends its header must not make the client grow without bound.
    responseHeaderBytes_ += line_.size();
    if (responseHeaderBytes_ > MaxResponseHeaderBytes) throw EHttpException("HTTP header too long", 5);
    responseHeader_.Add(line_);
    if (line_.compare(0, 8, "HTTP/1.0") == 0 || line_.compare(0, 8, "HTTP/1.1") == 0) {
        statusCode_ = StrToInt(line_.size() > 9 ? line_.substr(9, 3) : std::string());
        reasonPhrase_ = line_.size() > 13 ? line_.substr(13) : std::string();
        // An error response is never relocated, wherever its Location header stands.
        if (statusCode_ >= 400) relocating_ = false;
        // 407 can only be the proxy's own answer (in a tunnel the proxy is out of the way).
        if (statusCode_ == 407 && !proxy_.empty() && tunnel_ == TTunnel::None)
            reasonPhrase_ = "the proxy " + connectHost_ + ":" + connectPort_ + " refused the request: " + line_;
    } else if (line_.find(':') != std::string::npos) {
        HandleHeaderField(line_);
    }
    if (OnHeaderData) OnHeaderData(this);
    if (statusCode_ >= 400) CloseConnection();
}

void THttpCli::HandleHeaderField(const std::string& line) {
    const std::size_t colon = line.find(':');
    const std::string name = LowerCase(line.substr(0, colon));
    std::size_t v = colon + 1;
    while (v < line.size() && line[v] == ' ') ++v;  // spaces only: a tab stays
    const std::string value = line.substr(v);

    if (name == "location") {
        if (statusCode_ < 400) NoteNewLocation(value);
    } else if (name == "content-length") {
        contentLength_ = StrToInt(Trim(value));
    } else if (name == "content-range") {
        // "bytes 100-199/1000": the bounds between the unit and the "/".
        const std::size_t dash = value.find('-');
        const std::size_t slash = value.find('/');
        contentRangeBegin_ = dash != std::string::npos && dash > 6 ? value.substr(6, dash - 6) : std::string();
        contentRangeEnd_ = dash != std::string::npos && slash != std::string::npos && slash > dash
                               ? value.substr(dash + 1, slash - dash - 1)
                               : std::string();
    } else if (name == "accept-ranges") {
        acceptRanges_ = value;
    } else if (name == "transfer-encoding") {
        // The last coding frames the body; any other before it is not undone here.
        const std::size_t comma = value.rfind(',');
        chunked_ = LowerCase(Trim(comma == std::string::npos ? value : value.substr(comma + 1))) == "chunked";
    } else if (name == "content-type") {
        contentType_ = LowerCase(value);
    } else if (name == "www-authenticate") {
        authChallenges_.Add(value);
    } else if (name == "set-cookie") {
        bool accept = true;
        FireCookie(value, accept);
    }
}

void THttpCli::EndOfHeader() {
    // A chunked body is framed by its chunks whatever version was asked; its length, if
    // any, is not used.
    chunkedBody_ = chunked_ && requestKind_ != httpHEAD && statusCode_ != 204 && statusCode_ != 304;
    if (chunkedBody_) {
        contentLength_ = -1;
        chunks_.Reset();
    }
    if (contentLength_ == 0) {
        // Nothing follows: the request ends here, whether or not the server closes.
        FireHeaderEnd();
        nextHandler_ = TNextHandler::None;
        FinishRequest();
        return;
    }
    if (relocating_) {
        StartRelocation();
        return;
    }
    docFileName_ = HtmlNameForExe(docFileName_, contentType_);
    SetState(httpAwaitingBody);
    nextHandler_ = TNextHandler::Body;
    FireHeaderEnd();
    if (!rcv_.Empty()) PassBufferedBody();
}

void THttpCli::HandleBodyData(const char* data, int len) {
    if (!chunkedBody_) {
        DeliverBody(data, static_cast<std::size_t>(len));
        return;
    }
    if (chunks_.Done()) return;  // whatever follows the message is not the document's
    chunks_.Feed(data, static_cast<std::size_t>(len), [this](const char* d, std::size_t n) { DeliverBody(d, n); });
    if (chunks_.Done() && !RequestEnded()) {
        // The message is complete: the document ends here, not at the server's close.
        CloseConnection();
        if (!RequestEnded()) HandleSessionClosed(0);
    }
}

void THttpCli::DeliverBody(const char* data, std::size_t len) {
    if (len == 0) return;
    if (bodyChunks_ == 0) {
        bodyStart_ = std::chrono::steady_clock::now();
        FireDocBegin();
    }
    ++bodyChunks_;
    rcvdBytes_ += static_cast<std::int64_t>(len);
    if (docStream_) docStream_->WriteBuffer(data, static_cast<std::int64_t>(len));
    FireDocData(data, static_cast<int>(len));
}
