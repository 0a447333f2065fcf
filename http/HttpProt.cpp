// SPDX-License-Identifier: Apache-2.0
// Construction, the hidden window, the transport seams and the Fire operations.
#include "http/HttpProt.h"

#include "socket/WSocket.h"

EHttpException::~EHttpException() = default;

THttpCli::THttpCli(TComponent* owner) : TComponent(owner) {
    AllocateWindow();
    socket_ = std::make_unique<TWSocket>(this);
    // One read per notification: the socket posts the next one while data remains, so a
    // receive loop would only add notifications that find nothing to read.
    socket_->ComponentOptions.Include(wsoNoReceiveLoop);
    proxyPort_ = "80";
    contentTypePost_ = "application/x-www-form-urlencoded";
    accept_ = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    agent_ = "Mozilla/3.0 (compatible)";
    socket_->OnSessionClosed = [this](TObject*, WORD e) { SocketSessionClosed(e); };
    socket_->OnDataAvailable = [this](TObject*, WORD e) { HandleDataAvailable(e); };
    socket_->OnSessionConnected = [this](TObject*, WORD e) { HandleSessionConnected(e); };
    socket_->OnDataSent = [this](TObject*, WORD e) { HandleDataSent(e); };
    socket_->OnDnsLookupDone = [this](TObject*, WORD e) { HandleDnsLookupDone(e); };
    socket_->OnSocksConnected = [this](TObject*, WORD e) {
        if (e == 0 && socksStep_ == TSocksStep::Connecting) socksStep_ = TSocksStep::ProxyConnected;
    };
    socket_->OnSocksError = [this](TObject*, int code, const std::string& text) {
        socksErrorCode_ = code;
        socksErrorText_ = text;
    };
    state_ = httpIdle;
    localAddr_ = "0.0.0.0";
}

THttpCli::~THttpCli() {
    BeginDestroy();
    // Whatever the socket still reports while it goes belongs to no request.
    detached_ = true;
    socket_->OnSessionClosed = nullptr;
    socket_->OnDataAvailable = nullptr;
    socket_->OnSessionConnected = nullptr;
    socket_->OnDataSent = nullptr;
    socket_->OnDnsLookupDone = nullptr;
    socket_->OnSocksConnected = nullptr;
    socket_->OnSocksError = nullptr;
    socket_.reset();
    DeallocateWindow();
}

void THttpCli::SetMultiThreaded(bool v) {
    multiThreaded_ = v;
    socket_->MultiThreaded = v;
}

void THttpCli::AllocateWindow() {
    window_ = WSocketAllocateHWnd([this](TMessage& msg) { WndProc(msg); });
}

void THttpCli::DeallocateWindow() {
    if (window_) WSocketDeallocateHWnd(window_);
    window_ = 0;
}

void THttpCli::WndProc(TMessage& msg) {
    switch (msg.Msg) {
        case MSG_HTTP_REQUEST_DONE:
            // The kind and the error travel with the message: a new request may already
            // have started when it is handled.
            --doneOutstanding_;
            if (OnRequestDone)
                OnRequestDone(this, static_cast<THttpRequest>(msg.WParam), static_cast<WORD>(msg.LParam));
            break;
        case MSG_HTTP_FINISH:
            if (msg.WParam == requestId_) SetState(httpIdle);
            break;
        case MSG_HTTP_RECONNECT:
            if (msg.WParam == requestId_ && !RequestEnded()) ConnectToServer();
            break;
        case WM_TIMER:
            HandleTimer(msg.WParam);
            break;
        default:
            msg.Result = DefWindowProc(window_, msg.Msg, msg.WParam, msg.LParam);
    }
}

int THttpCli::ReceiveFromSocket(void* buffer, int len) { return socket_->Receive(buffer, len); }

void THttpCli::SendToSocket(const void* data, int len) { socket_->Send(data, len); }

void THttpCli::AbortConnection() { socket_->Abort(); }

void THttpCli::CloseConnection() {
    socket_->Close();
    connected_ = false;
}

void THttpCli::FireCookie(const std::string& data, bool& accept) {
    if (OnCookie) OnCookie(this, data, accept);
}
void THttpCli::FireSessionConnected() {
    if (OnSessionConnected) OnSessionConnected(this);
}
void THttpCli::FireRequestHeaderBegin() {
    if (OnRequestHeaderBegin) OnRequestHeaderBegin(this);
}
void THttpCli::FireRequestHeaderEnd() {
    if (OnRequestHeaderEnd) OnRequestHeaderEnd(this);
}
void THttpCli::FireHeaderBegin() {
    inHeader_ = true;
    if (OnHeaderBegin) OnHeaderBegin(this);
}
void THttpCli::FireHeaderEnd() {
    inHeader_ = false;
    if (OnHeaderEnd) OnHeaderEnd(this);
}
void THttpCli::FireDocBegin() {
    if (OnDocBegin) OnDocBegin(this);
}
void THttpCli::FireDocData(const void* buffer, int len) {
    if (OnDocData) OnDocData(this, buffer, len);
}
void THttpCli::FireDocEnd() {
    if (OnDocEnd) OnDocEnd(this);
}
void THttpCli::FireSendBegin() {
    if (OnSendBegin) OnSendBegin(this);
}
void THttpCli::FireSendData(const void* buffer, int len) {
    if (OnSendData) OnSendData(this, buffer, len);
}
void THttpCli::FireSendEnd() {
    if (OnSendEnd) OnSendEnd(this);
}
