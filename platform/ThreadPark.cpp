#include "platform/ThreadPark.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/LastError.h"
#include "platform/Messages.h"

namespace {

struct Park {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<std::function<void()>> work;  // handed over, not yet taken by an idle thread
    int idle = 0;
};

Park& ThePark() {
    static Park* p = new Park;  // never destroyed: idle threads wait on it during exit
    return *p;
}

void FreshThreadState() {
    ReleaseThreadQueue();
    SetLastError(ERROR_SUCCESS);
}

void ThreadBody(std::function<void()> first) {
    Park& p = ThePark();
    std::function<void()> work = std::move(first);
    for (;;) {
        work();
        work = nullptr;  // what the work captured is released before the thread idles
        FreshThreadState();
        std::unique_lock lock(p.mu);
        ++p.idle;
        const bool handed = p.cv.wait_for(lock, std::chrono::milliseconds(kParkedThreadIdleMs),
                                          [&] { return !p.work.empty(); });
        --p.idle;
        if (!handed) return;  // idle for too long; no work can be waiting (checked under the lock)
        work = std::move(p.work.front());
        p.work.pop_front();
    }
}

}  // namespace

void RunOnParkedThread(std::function<void()> work) {
    Park& p = ThePark();
    {
        std::lock_guard lock(p.mu);
        // Each idle thread takes one piece; work already handed over has claimed its thread.
        if (p.idle > static_cast<int>(p.work.size())) {
            p.work.push_back(std::move(work));
            p.cv.notify_one();
            return;
        }
    }
    std::thread(ThreadBody, std::move(work)).detach();
}

int ParkedThreadCount() {
    Park& p = ThePark();
    std::lock_guard lock(p.mu);
    return p.idle - static_cast<int>(p.work.size());
}
