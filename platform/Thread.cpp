#include "platform/Thread.h"

#include "platform/Messages.h"

namespace {

constexpr UINT kSyncMessage = WM_USER + 0x7F00;
constexpr UINT kWakeMessage = WM_USER + 0x7F01;  // only wakes a WaitFor

struct SyncRequest {
    const std::function<void()>* call;
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
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();  // a self-freeing thread deleting itself
        } else {
            Terminate();
            WaitFor();
        }
    }
}

void TThread::Start() {
    if (started_.exchange(true)) return;
    thread_ = std::thread([this] {
        launched_.acquire();  // a self-freeing thread must not end before Start is done with it
        Run();
    });
    if (freeOnTerminate_) thread_.detach();
    launched_.release();
}

void TThread::Run() {
    try {
        Execute();
    } catch (...) {
        fatal_ = std::current_exception();
    }
    try {
        Synchronize([this] {
            if (OnTerminate) OnTerminate(this);
        });
    } catch (...) {
    }
    terminateDone_ = true;
    if (freeOnTerminate_) {
        delete this;
        return;
    }
    PostMessage(syncWindow_, kWakeMessage, 0, 0);
}

void TThread::Synchronize(const std::function<void()>& call) {
    if (std::this_thread::get_id() == creator_) {
        call();
        return;
    }
    SyncRequest req;
    req.call = &call;
    if (!PostMessage(syncWindow_, kSyncMessage, reinterpret_cast<WPARAM>(&req), 0)) return;
    std::unique_lock lock(req.mu);
    req.cv.wait(lock, [&] { return req.done; });
    if (req.error) std::rethrow_exception(req.error);
}

void TThread::WaitFor() {
    if (!started_ || freeOnTerminate_) return;
    if (std::this_thread::get_id() == creator_)
        while (!terminateDone_) WaitAndProcessMessages();
    if (thread_.joinable()) thread_.join();
}
