// SPDX-License-Identifier: Apache-2.0
// The request side: the header collected in the request buffer and sent in one piece, and
// the body of a POST sent chunk by chunk as the socket reports its data sent.
#include "http/HttpProt.h"

#include "base/SysUtils.h"
#include "base/UrlText.h"
#include "http/HttpProtFormat.h"
#include "http/HttpProtUrl.h"

void THttpCli::AddRequestLine(const std::string& line) {
    std::string s = line;
    if (OnCommand) OnCommand(this, s);
    if (!s.empty()) requestBuffer_.Write(s.data(), static_cast<std::int64_t>(s.size()));
    requestBuffer_.Write("\r\n", 2);
}

void THttpCli::ComposeRequest(const std::string& method, const std::string& version) {
    // Every way into requestPath_ refuses line breaks and encodes the path; this is the
    // last line of defence for the request line itself.
    if (HasLineBreakOrNul(requestPath_) || requestPath_.find(' ') != std::string::npos)
        throw EHttpException(RefusedAddressText(requestPath_), 404);
    requestBuffer_.Clear();
    FireRequestHeaderBegin();
    AddRequestLine(method + " " + requestPath_ + " HTTP/" + version);
    if (!sender_.empty()) AddRequestLine("From: " + sender_);
    if (!accept_.empty()) AddRequestLine("Accept: " + accept_);
    if (!reference_.empty()) AddRequestLine("Referer: " + reference_);
    if (method == "POST" && !contentTypePost_.empty()) AddRequestLine("Content-Type: " + contentTypePost_);
    if (!agent_.empty()) AddRequestLine("User-Agent: " + agent_);
    // An IPv6 literal names its port when it is not the default, as HTTP/1.1 wants it; a
    // name or an IPv4 address keeps the original form (no port).
    const bool literal6 = !targetHost_.empty() && targetHost_[0] == '[';
    const bool otherPort = !targetPort_.empty() && targetPort_ != DefaultPortOf(targetProto_);
    AddRequestLine("Host: " + targetHost_ + (literal6 && otherPort ? ":" + targetPort_ : std::string()));
    if (noCache_) AddRequestLine("Pragma: no-cache");
    // The whole size of the stream, wherever the caller left its position.
    if (method == "POST") AddRequestLine("Content-Length: " + IntToStr(postStream_ ? postStream_->Size() : 0));
    if (modifiedSince_ != 0) AddRequestLine("If-Modified-Since: " + FormatHttpDate(modifiedSince_) + " GMT");
    if (!username_.empty() && OriginOf(targetProto_, targetHost_, targetPort_) == credentialsOrigin_)
        AddRequestLine("Authorization: Basic " + EncodeBase64(username_ + ":" + password_));
    // In a tunnel the proxy's credentials went with CONNECT; the server must not see them.
    if (!proxy_.empty() && tunnel_ == TTunnel::None && !proxyUsername_.empty())
        AddRequestLine("Proxy-Authorization: Basic " + EncodeBase64(proxyUsername_ + ":" + proxyPassword_));
    if (!cookie_.empty()) AddRequestLine("Cookie: " + cookie_);
    if (!contentRangeBegin_.empty() || !contentRangeEnd_.empty()) {
        AddRequestLine("Range: bytes=" + contentRangeBegin_ + "-" + contentRangeEnd_);
        contentRangeBegin_.clear();
        contentRangeEnd_.clear();
    }
    acceptRanges_.clear();
    FireRequestHeaderEnd();
    AddRequestLine("");
    SendToSocket(requestBuffer_.Memory(), static_cast<int>(requestBuffer_.Size()));
    requestBuffer_.Clear();
}

// The socket's OnDataSent, and once right after a POST header: the next chunk of the body
// goes out only when the previous one has left, so at most one chunk sits in the queue.
void THttpCli::HandleDataSent(WORD) {
    if (detached_ || !allowedToSend_) return;
    try {
        lastActivity_ = std::chrono::steady_clock::now();
        const int n = postStream_ ? static_cast<int>(postStream_->Read(sendBuffer_, sizeof sendBuffer_)) : 0;
        if (n > 0) {
            sentBytes_ += n;
            FireSendData(sendBuffer_, n);
            SendToSocket(sendBuffer_, n);
        } else {
            allowedToSend_ = false;
            FireSendEnd();
        }
    } catch (const EHttpException& e) {
        FailRequest(e.ErrorCode(), e.ErrorCode(), e.Message());
    } catch (const Exception& e) {
        FailRequest(404, 404, e.Message());
    }
}
