// SPDX-License-Identifier: Apache-2.0
#include "platform/ThreadPark.h"

#include <algorithm>
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
    int returning = 0;  // threads whose work has announced its return and not yet returned
};

// The parked thread running the calling code (null elsewhere): whether its work announced
// its return.
struct Slot {
    bool returning = false;  // guarded by Park::mu
};
thread_local Slot* tlsSlot = nullptr;

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
    Slot slot;
    tlsSlot = &slot;
    std::function<void()> work = std::move(first);
    for (;;) {
        work();
        work = nullptr;  // what the work captured is released before the thread idles
        FreshThreadState();
        std::unique_lock lock(p.mu);
        if (slot.returning) {
            slot.returning = false;
            --p.returning;
        }
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
        // Each idle or returning thread takes one piece; work already handed over has
        // claimed its thread. A returning thread finds the piece before it waits.
        if (p.idle + p.returning > static_cast<int>(p.work.size())) {
            p.work.push_back(std::move(work));
            p.cv.notify_one();
            return;
        }
    }
    std::thread(ThreadBody, std::move(work)).detach();
}

std::function<void()> ParkReturnNotice() {
    Slot* slot = tlsSlot;
    if (!slot) return [] {};
    // The slot lives as long as its thread, which is inside the work while the notice may
    // be called.
    return [slot] {
        Park& p = ThePark();
        std::lock_guard lock(p.mu);
        if (slot->returning) return;
        slot->returning = true;
        ++p.returning;
    };
}

int ParkedThreadCount() {
    Park& p = ThePark();
    std::lock_guard lock(p.mu);
    return std::max(0, p.idle - static_cast<int>(p.work.size()));
}
