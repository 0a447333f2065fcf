// SPDX-License-Identifier: Apache-2.0
#pragma once
// Runs work on an operating-system thread of its own, reusing a thread that finished
// earlier work when one is idle. Starting a thread (stack mapping, kernel task, exit and
// unmapping) costs more than a short transfer; a worker per photo would pay it each time.
//
// Contract:
//  - RunOnParkedThread never runs work on the calling thread, and never queues it behind
//    other work: it wakes an idle thread, hands it to a thread whose work has announced its
//    return (below), or starts a new one (std::system_error when none can be started).
//    work must not throw.
//  - Between two pieces of work a thread looks as a fresh one does: its message queue is
//    released (ReleaseThreadQueue) and its last error is ERROR_SUCCESS.
//  - A thread idle for kParkedThreadIdleMs ends. Idle threads left at process exit are not
//    joined; they hold no work and no message queue.
#include <functional>

constexpr int kParkedThreadIdleMs = 5000;

void RunOnParkedThread(std::function<void()> work);

// Called by work on its parked thread; the result, called from any thread while that work
// still runs, announces that the work from then on only finishes up (frees, releases) and
// never waits on another thread. The thread then counts as idle, so work started from that
// moment on takes it over once it returns instead of starting one more thread: a worker
// that hands its completion to the thread that starts the next one keeps one thread busy,
// not one per race between its last steps and that start. Not on a parked thread: a call
// that does nothing.
std::function<void()> ParkReturnNotice();

// Threads idle at this moment (for tests).
int ParkedThreadCount();
