// SPDX-License-Identifier: Apache-2.0
#include "platform/Thread.h"

#include "platform/Messages.h"
#include "platform/ThreadPark.h"

namespace {

constexpr UINT kSyncMessage = WM_USER + 0x7F00;
constexpr UINT kWakeMessage = WM_USER + 0x7F01;  // only wakes a WaitFor

struct SyncRequest {
    const std::function<void()>* call;
    const std::function<void()>* afterCall = nullptr;  // runs after call, before the worker goes on
    std::exception_ptr error;
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
};

void RunSync(TMessage& m) {
    if (m.Msg != kSyncMessage) return;
    auto* req = reinterpret_cast<SyncRequest*>(m.WParam);
    try {
        (*req->call)();
    } catch (...) {
        req->error = std::current_exception();
    }
    if (req->afterCall) (*req->afterCall)();
    std::lock_guard lock(req->mu);
    req->done = true;
    req->cv.notify_all();
}

// One hidden window per creating thread receives the hand-overs of its workers.
HWND SyncWindowOfThisThread() {
    thread_local HWND wnd = AllocateHWnd(RunSync);
    return wnd;
}

}  // namespace

TThread::TThread(bool createSuspended)
    : creator_(std::this_thread::get_id()), syncWindow_(SyncWindowOfThisThread()) {
    if (!createSuspended) Start();
}

TThread::~TThread() {
    if (!started_ || freeOnTerminate_) return;  // a self-freeing thread deletes itself
    if (runner_.load() == std::this_thread::get_id()) return;  // the body deleting its own object
    Terminate();
    WaitFor();
}

void TThread::Start() {
    if (started_.exchange(true)) return;
    try {
        RunOnParkedThread([this] {
            launched_.acquire();  // a self-freeing thread must not end before Start is done with it
            Run();
        });
    } catch (...) {
        started_ = false;
        throw;
    }
    launched_.release();
}

void TThread::Run() {
    runner_ = std::this_thread::get_id();
    try {
        Execute();
    } catch (...) {
        fatal_ = std::current_exception();
    }
    // After the completion the body only releases and frees: its thread may take the next
    // body as soon as the completion is over, which may start that body at once.
    const std::function<void()> returning = ParkReturnNotice();
    try {
        Synchronize(
            [this] {
                if (OnTerminate) OnTerminate(this);
            },
            &returning);
    } catch (...) {
    }
    // What the body left in this thread's queue goes now, while the application that owns
    // its Qt side certainly exists: a waiter may return and the process end right after.
    ReleaseThreadQueue();
    if (freeOnTerminate_) {
        delete this;
        return;
    }
    const HWND waiter = syncWindow_;
    {
        // The last touch of this object by the body's thread: a waiter may delete it
        // as soon as the lock is released.
        std::lock_guard lock(finishMu_);
        finished_ = true;
        finishCv_.notify_all();
    }
    PostMessage(waiter, kWakeMessage, 0, 0);  // wakes a WaitFor pumping on the creating thread
}

bool TThread::Finished() {
    std::lock_guard lock(finishMu_);
    return finished_;
}

void TThread::Synchronize(const std::function<void()>& call) { Synchronize(call, nullptr); }

void TThread::Synchronize(const std::function<void()>& call, const std::function<void()>* afterCall) {
    if (std::this_thread::get_id() == creator_) {
        try {
            call();
        } catch (...) {
            if (afterCall) (*afterCall)();
            throw;
        }
        if (afterCall) (*afterCall)();
        return;
    }
    SyncRequest req;
    req.call = &call;
    req.afterCall = afterCall;
    if (!PostMessage(syncWindow_, kSyncMessage, reinterpret_cast<WPARAM>(&req), 0)) return;
    std::unique_lock lock(req.mu);
    req.cv.wait(lock, [&] { return req.done; });
    if (req.error) std::rethrow_exception(req.error);
}

void TThread::WaitFor() {
    if (!started_ || freeOnTerminate_) return;
    if (std::this_thread::get_id() == creator_)
        while (!Finished()) WaitAndProcessMessages();
    std::unique_lock lock(finishMu_);
    finishCv_.wait(lock, [&] { return finished_; });
}
