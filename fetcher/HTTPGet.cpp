// SPDX-License-Identifier: Apache-2.0
#include "fetcher/HTTPGet.h"

#include "fetcher/HTTPGetErrorText.h"
#include "fetcher/HTTPGetThread.h"
#include "platform/ErrorGuard.h"
#include "platform/Messages.h"
#include "wininet/WinInet.h"

THTTPGet::THTTPGet(TComponent* owner) : TComponent(owner) {}

THTTPGet::~THTTPGet() {
    BeginDestroy();
    Cancel();
    // The worker lives on until its body returns; its completion must then find nothing
    // of this object. When the completion itself is running (a handler destroying the
    // component), the worker is past that point already.
    if (worker_ && !finishing_) worker_->Detach();
}

void THTTPGet::FetchToFile() { Start(true); }

void THTTPGet::FetchToString() { Start(false); }

void THTTPGet::Start(bool toFile) {
    if (worker_) return;
    auto* worker = new THTTPGetThread(AcceptTypes_, Agent_, URL_, FileName_, UserName_, Password_, PostQuery_,
                                      Referer_, BinaryData_, UseCache_, OnProgress, toFile);
    worker->SetNextURL(NextURL_, AfterNextURL_);
    worker->SetMaxBodySize(MaxBodySize_);
    worker->SetLowSpeed(LowSpeedLimit_, LowSpeedTime_);
    worker->SetFreeOnTerminate(true);
    worker->OnTerminate = [this](TThread* sender) { WorkerFinished(static_cast<THTTPGetThread*>(sender)); };
    worker_ = worker;
    try {
        worker->Start();
    } catch (...) {  // no thread could be made: stay idle rather than busy for ever
        worker_ = nullptr;
        delete worker;
        throw;
    }
    if (!WaitThread_) return;

    // Progress and completion arrive as messages; the wait sleeps while none is queued.
    const std::weak_ptr<int> alive = alive_;
    while (!alive.expired() && worker_) WaitAndProcessMessages();
}

void THTTPGet::Cancel() {
    if (worker_) worker_->Cancel();
}

void THTTPGet::Abort() {
    if (worker_) worker_->Abort();
}

void THTTPGet::WorkerFinished(THTTPGetThread* worker) {
    const std::weak_ptr<int> alive = alive_;
    finishing_ = true;
    result_ = worker->Success();
    lastStatus_ = worker->Status();
    lastErrorCode_ = worker->ErrorCode();
    lastErrorText_ = result_ ? std::string() : worker->ErrorText();
    if (!result_ && lastErrorText_.empty()) {
        // A stop that came after the body's last stop test: still a stop, and said so.
        lastErrorCode_ = ERROR_INTERNET_OPERATION_CANCELLED;
        lastErrorText_ = InternetErrorText(lastErrorCode_, {}, false, 0, -1, {});
    }
    GuardedCall([&] {
        if (!result_) {
            if (TNotifyEvent handler = OnError) handler(this);
        } else if (worker->WritesToFile()) {
            // The bytes written: the announced length, or what came up to the close.
            if (TOnDoneFileEvent handler = OnDoneFile) handler(this, worker->FileName(), worker->Readed());
        } else {
            if (TOnDoneStringEvent handler = OnDoneString) handler(this, worker->Result());
        }
    });
    if (alive.expired()) return;  // a handler destroyed the component
    finishing_ = false;
    worker_ = nullptr;
}

bool THTTPGet::LastFailureMayPass() const {
    if (result_) return false;
    switch (lastErrorCode_) {
        case ERROR_INTERNET_CANNOT_CONNECT:
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_ANSWER_DISCARDED:
        case ERROR_INTERNET_TIMEOUT: return true;
        case 0: return lastStatus_ >= 500 && lastStatus_ <= 599;
        default: return false;
    }
}
