// SPDX-License-Identifier: Apache-2.0
#pragma once
// A worker thread in the manner the fetcher expects:
//  - created suspended, started with Start();
//  - Terminate() only sets the stop request the body polls (Terminated());
//  - Synchronize(call) hands call to the creating thread and blocks the worker until that
//    thread has run it (the creating thread runs it while it dispatches messages);
//  - after Execute() returns, OnTerminate runs on the creating thread (through Synchronize),
//    and then, with FreeOnTerminate, the object deletes itself on the worker thread. From
//    the end of OnTerminate the worker's thread counts as free for the next body started
//    (ThreadPark.h), so the destructor of a self-freeing thread must not wait on others.
// The creating thread must dispatch messages (event loop or the waits in Messages.h) for
// Synchronize and OnTerminate to make progress.
// The body runs on an operating-system thread of its own, which may have run an earlier
// TThread's body (ThreadPark.h): thread-local state other than the message queue and the
// last error carries over.
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <semaphore>
#include <thread>

#include "platform/WinTypes.h"

class TThread {
public:
    explicit TThread(bool createSuspended = true);
    virtual ~TThread();  // a thread still running is asked to stop and waited for

    void Start();
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }

    bool FreeOnTerminate() const { return freeOnTerminate_; }
    void SetFreeOnTerminate(bool on) { freeOnTerminate_ = on; }

    // Runs on the creating thread once Execute has returned; may be cleared at any time
    // from the creating thread (a late completion then calls nothing).
    std::function<void(TThread* sender)> OnTerminate;

    // An exception that escaped Execute, or null.
    std::exception_ptr FatalException() const { return fatal_; }

    // Waits for the end of a thread that does not free itself, dispatching the creating
    // thread's messages meanwhile so that Synchronize calls cannot deadlock.
    void WaitFor();

protected:
    virtual void Execute() = 0;
    // Runs call on the creating thread and waits for it; an exception it raises is
    // raised again here. Called on the creating thread itself, it simply runs call.
    void Synchronize(const std::function<void()>& call);

private:
    // Synchronize, then afterCall on the creating thread before the worker goes on (also
    // when call raised, and also when the worker is the creating thread).
    void Synchronize(const std::function<void()>& call, const std::function<void()>* afterCall);
    void Run();
    bool Finished();

    std::thread::id creator_;
    std::atomic<std::thread::id> runner_{};  // the thread running the body, once it runs
    HWND syncWindow_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> started_{false};
    bool freeOnTerminate_ = false;
    std::exception_ptr fatal_;
    std::binary_semaphore launched_{0};
    // Set when a thread that does not free itself is done with this object (OnTerminate
    // has run): the end that joining a thread of its own would wait for.
    std::mutex finishMu_;
    std::condition_variable finishCv_;
    bool finished_ = false;
};
