#pragma once
// Runs work on an operating-system thread of its own, reusing a thread that finished
// earlier work when one is idle. Starting a thread (stack mapping, kernel task, exit and
// unmapping) costs more than a short transfer; a worker per photo would pay it each time.
//
// Contract:
//  - RunOnParkedThread never runs work on the calling thread, and never queues it behind
//    other work: it wakes an idle thread or starts a new one (std::system_error when none
//    can be started). work must not throw.
//  - Between two pieces of work a thread looks as a fresh one does: its message queue is
//    released (ReleaseThreadQueue) and its last error is ERROR_SUCCESS.
//  - A thread idle for kParkedThreadIdleMs ends. Idle threads left at process exit are not
//    joined; they hold no work and no message queue.
#include <functional>

constexpr int kParkedThreadIdleMs = 5000;

void RunOnParkedThread(std::function<void()> work);

// Threads idle at this moment (for tests).
int ParkedThreadCount();
