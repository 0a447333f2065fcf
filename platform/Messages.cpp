// SPDX-License-Identifier: Apache-2.0
#include "platform/Messages.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <thread>
#include <unordered_map>

#include "platform/ErrorGuard.h"

namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

struct ThreadQueue;

// Lives on the queue's thread and handles the queue when a wake event reaches it. One wake
// event at a time is outstanding per queue; it is re-posted before each message is
// handled, so a nested event loop inside a handler still sees the rest of the queue.
class Bridge : public QObject {
public:
    explicit Bridge(ThreadQueue* q) : queue_(q) {}
    bool event(QEvent* e) override;

private:
    void WatchNestedLoops();

    ThreadQueue* queue_;
    bool watchingLoops_ = false;
};

struct ThreadQueue {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<MSG> messages;
    bool wakePending = false;
    bool alive = true;
    Bridge* bridge = nullptr;

    // Under mu: make sure a wake event is on its way while messages wait.
    void WakeLocked() {
        if (!wakePending && bridge && !messages.empty() && QCoreApplication::instance()) {
            wakePending = true;
            QCoreApplication::postEvent(bridge, new QEvent(kWakeEvent));
        }
    }
};

struct WindowEntry {
    std::shared_ptr<ThreadQueue> queue;
    std::shared_ptr<TWndMethod> method;
};

// Posting and dispatching only look windows up, from every thread at once: they share the
// lock; creating and removing windows take it alone.
struct Registry {
    std::shared_mutex mu;
    std::unordered_map<HWND, WindowEntry> windows;
    HWND next = 1;
};

Registry& Windows() {
    static Registry* r = new Registry;  // never destroyed: threads may post during exit
    return *r;
}

// Owns the calling thread's queue; at thread exit the queue stops taking messages.
struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder() { Release(); }
    void Release() {
        if (!queue) return;
        Bridge* bridge;
        {
            std::lock_guard lock(queue->mu);
            queue->alive = false;
            queue->messages.clear();
            bridge = queue->bridge;
            queue->bridge = nullptr;
        }
        if (QCoreApplication::instance()) delete bridge;
        queue.reset();
    }
};

thread_local QueueHolder tlsQueue;

// True while the event loop hands out this thread's messages (Bridge::event) and no wait
// of ours or nested loop runs inside a handler: a message the thread posts to itself then
// needs no wake event, the pass in progress takes it.
thread_local bool tlsDraining = false;

// The application thread's queue outlives the Qt application object (it is a thread-local
// of the main thread); its bridge is released while Qt still exists.
std::weak_ptr<ThreadQueue> gMainQueue;

void ReleaseMainBridge() {
    if (auto q = gMainQueue.lock()) {
        Bridge* bridge;
        {
            std::lock_guard lock(q->mu);
            bridge = q->bridge;
            q->bridge = nullptr;
            q->wakePending = false;
        }
        delete bridge;
    }
}

// Set when the application's loop is asked to quit, cleared once that loop has returned.
std::atomic<bool> gQuitRequested{false};

// Sees the quit request on its way to the application object (it never filters anything).
class QuitWatch : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* target, QEvent* e) override {
        if (e->type() == QEvent::Quit && target == QCoreApplication::instance()) gQuitRequested = true;
        return false;
    }
};

void WatchForQuit(QCoreApplication* app) {
    app->installEventFilter(new QuitWatch(app));
    QObject::connect(app, &QCoreApplication::aboutToQuit, [] { gQuitRequested = false; });
}

ThreadQueue& OwnQueue() {
    if (!tlsQueue.queue) {
        tlsQueue.queue = std::make_shared<ThreadQueue>();
        if (QCoreApplication* app = QCoreApplication::instance()) {
            tlsQueue.queue->bridge = new Bridge(tlsQueue.queue.get());
            if (app->thread() == QThread::currentThread()) {
                gMainQueue = tlsQueue.queue;
                qAddPostRoutine(ReleaseMainBridge);
                WatchForQuit(app);
            }
        }
    }
    return *tlsQueue.queue;
}

bool PopOwn(MSG& msg, bool remove) {
    ThreadQueue& q = OwnQueue();
    std::lock_guard lock(q.mu);
    if (q.messages.empty()) return false;
    msg = q.messages.front();
    if (remove) q.messages.pop_front();
    return true;
}

bool Bridge::event(QEvent* e) {
    if (e->type() != kWakeEvent) return QObject::event(e);
    // Handles the messages queued when the wake arrived, and then whatever handlers post to
    // this thread meanwhile for up to a short time slice, so that a steady stream (a socket
    // reading one block per message) neither starves input and paint events nor pays a
    // round trip through Qt per message.
    if (!watchingLoops_) WatchNestedLoops();
    const bool savedDraining = tlsDraining;
    tlsDraining = true;
    const auto slice = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
    std::size_t budget;
    {
        std::lock_guard lock(queue_->mu);
        queue_->wakePending = false;
        budget = queue_->messages.size();
    }
    for (;;) {
        MSG msg;
        {
            std::lock_guard lock(queue_->mu);
            if (queue_->messages.empty()) break;
            if (budget == 0 && std::chrono::steady_clock::now() > slice) {
                queue_->WakeLocked();  // the rest in the next pass
                break;
            }
            msg = queue_->messages.front();
            queue_->messages.pop_front();
            if (!watchingLoops_) queue_->WakeLocked();  // a nested loop in the handler must see the rest
        }
        if (budget > 0) --budget;
        // WM_QUIT only means something to a hand-run pump; the event loop skips it.
        if (msg.message != WM_QUIT) GuardedCall([&] { DispatchMessage(msg); });
    }
    tlsDraining = savedDraining;
    return true;
}

// A handler may run an event loop of its own without TNestedLoopScope (a modal dialog):
// that loop must still see the rest of the queue. Posting a wake event before every
// message would cost a round trip through Qt per pass; instead the wake is posted when a
// loop is about to block while messages wait, which is the only time it is needed.
void Bridge::WatchNestedLoops() {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher) return;
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [q = queue_] {
        std::lock_guard lock(q->mu);
        q->WakeLocked();
    });
    watchingLoops_ = true;
}

void TimerTicked(HWND wnd, WPARAM id);

}  // namespace

HWND AllocateHWnd(TWndMethod method) {
    std::shared_ptr<ThreadQueue> queue = tlsQueue.queue;
    if (!queue) {
        OwnQueue();
        queue = tlsQueue.queue;
    }
    Registry& r = Windows();
    std::lock_guard lock(r.mu);
    const HWND wnd = r.next++;
    r.windows.emplace(wnd, WindowEntry{queue, std::make_shared<TWndMethod>(std::move(method))});
    return wnd;
}

void DeallocateHWnd(HWND wnd) {
    KillTimer(wnd, 0);
    std::shared_ptr<TWndMethod> doomed;  // released outside the locks
    std::shared_ptr<ThreadQueue> queue;
    {
        Registry& r = Windows();
        std::lock_guard lock(r.mu);
        auto it = r.windows.find(wnd);
        if (it == r.windows.end()) return;
        doomed = std::move(it->second.method);
        queue = std::move(it->second.queue);
        r.windows.erase(it);
    }
    // Its queued messages go with it (a hand-run pump would otherwise still see them).
    std::lock_guard lock(queue->mu);
    std::erase_if(queue->messages, [wnd](const MSG& m) { return m.hwnd == wnd; });
}

bool IsWindow(HWND wnd) {
    Registry& r = Windows();
    std::shared_lock lock(r.mu);
    return r.windows.count(wnd) != 0;
}

bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<ThreadQueue> queue;
    {
        Registry& r = Windows();
        std::shared_lock lock(r.mu);
        auto it = r.windows.find(wnd);
        if (it == r.windows.end()) return false;
        queue = it->second.queue;
    }
    const bool takenByThisPass = tlsDraining && queue == tlsQueue.queue;
    std::lock_guard lock(queue->mu);
    if (!queue->alive) return false;
    queue->messages.push_back(MSG{wnd, msg, wParam, lParam});
    queue->cv.notify_all();
    if (!takenByThisPass) queue->WakeLocked();
    return true;
}

void PostQuitMessage(int exitCode) {
    ThreadQueue& q = OwnQueue();
    std::lock_guard lock(q.mu);
    q.messages.push_back(MSG{0, WM_QUIT, static_cast<WPARAM>(exitCode), 0});
    q.cv.notify_all();
    q.WakeLocked();
}

bool PeekMessage(MSG& msg, bool remove) { return PopOwn(msg, remove); }

LRESULT DispatchMessage(const MSG& msg) {
    std::shared_ptr<TWndMethod> method;
    {
        Registry& r = Windows();
        std::shared_lock lock(r.mu);
        auto it = r.windows.find(msg.hwnd);
        if (it == r.windows.end()) return 0;
        method = it->second.method;
    }
    if (msg.message == WM_TIMER) TimerTicked(msg.hwnd, msg.wParam);
    TMessage m{msg.message, msg.wParam, msg.lParam, 0};
    (*method)(m);
    return m.Result;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

namespace {
// Without a Qt application there is no event loop: the pumps handle the queue directly.
void DrainOwnQueue() {
    for (MSG msg; PopOwn(msg, true);)
        if (msg.message != WM_QUIT) GuardedCall([&] { DispatchMessage(msg); });
}
}  // namespace

TNestedLoopScope::TNestedLoopScope() : saved_(tlsDraining) {
    tlsDraining = false;
    // Messages this thread posted to itself during the pass in progress have no wake
    // event yet: the loop about to run must see them.
    ThreadQueue& q = OwnQueue();
    std::lock_guard lock(q.mu);
    q.WakeLocked();
}

TNestedLoopScope::~TNestedLoopScope() { tlsDraining = saved_; }

void ProcessMessages() {
    TNestedLoopScope nested;
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    else
        DrainOwnQueue();
}

void WaitAndProcessMessages() {
    TNestedLoopScope nested;
    if (QCoreApplication::instance()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    } else {
        WaitMessage();
        DrainOwnQueue();
    }
}

bool ApplicationTerminating() { return gQuitRequested || QCoreApplication::closingDown(); }

void ReleaseThreadQueue() { tlsQueue.Release(); }

void WaitMessage() {
    ThreadQueue& q = OwnQueue();
    std::unique_lock lock(q.mu);
    q.cv.wait(lock, [&] { return !q.messages.empty(); });
}

bool WaitMessageFor(int timeoutMs) {
    ThreadQueue& q = OwnQueue();
    std::unique_lock lock(q.mu);
    return q.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !q.messages.empty(); });
}

// ---- timers ---------------------------------------------------------------------------
// One process-wide thread keeps the deadlines and posts WM_TIMER when one passes.
namespace {

using Clock = std::chrono::steady_clock;

struct TimerKey {
    HWND wnd;
    WPARAM id;
    bool operator<(const TimerKey& o) const { return wnd != o.wnd ? wnd < o.wnd : id < o.id; }
};

struct TimerState {
    std::chrono::milliseconds interval;
    Clock::time_point due;
    bool queued = false;  // a tick is waiting in the window's queue
};

class TimerThread {
public:
    static TimerThread& Get() {
        static TimerThread* t = Create();  // lives to the end of the process
        return *t;
    }
    static bool Started() { return started_.load(); }

    void Set(HWND wnd, WPARAM id, int ms) {
        std::lock_guard lock(mu_);
        const auto interval = std::chrono::milliseconds(ms < 1 ? 1 : ms);
        timers_[{wnd, id}] = TimerState{interval, Clock::now() + interval, false};
        cv_.notify_all();
    }

    // id 0 kills every timer of the window.
    void Kill(HWND wnd, WPARAM id) {
        std::lock_guard lock(mu_);
        if (id != 0) {
            timers_.erase({wnd, id});
            return;
        }
        for (auto it = timers_.lower_bound({wnd, 0}); it != timers_.end() && it->first.wnd == wnd;)
            it = timers_.erase(it);
    }

    void Ticked(HWND wnd, WPARAM id) {
        std::lock_guard lock(mu_);
        auto it = timers_.find({wnd, id});
        if (it != timers_.end()) it->second.queued = false;
    }

private:
    static TimerThread* Create() {
        auto* t = new TimerThread;
        std::thread([t] { t->Run(); }).detach();
        started_ = true;
        return t;
    }
    inline static std::atomic<bool> started_{false};

    void Run() {
        std::unique_lock lock(mu_);
        for (;;) {
            Clock::time_point next = Clock::now() + std::chrono::hours(1);
            const Clock::time_point now = Clock::now();
            std::vector<TimerKey> fire;
            for (auto& [key, t] : timers_) {
                if (t.due <= now) {
                    if (!t.queued) fire.push_back(key);
                    t.queued = true;
                    t.due = now + t.interval;
                }
                if (t.due < next) next = t.due;
            }
            if (!fire.empty()) {
                lock.unlock();
                for (const TimerKey& k : fire)
                    if (!PostMessage(k.wnd, WM_TIMER, k.id, 0)) Kill(k.wnd, k.id);
                lock.lock();
                continue;
            }
            cv_.wait_until(lock, next);
        }
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::map<TimerKey, TimerState> timers_;
};

void TimerTicked(HWND wnd, WPARAM id) {
    if (TimerThread::Started()) TimerThread::Get().Ticked(wnd, id);
}

}  // namespace

void SetTimer(HWND wnd, WPARAM id, int intervalMs) { TimerThread::Get().Set(wnd, id, intervalMs); }

void KillTimer(HWND wnd, WPARAM id) {
    if (TimerThread::Started()) TimerThread::Get().Kill(wnd, id);
}
