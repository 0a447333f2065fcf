// SPDX-License-Identifier: Apache-2.0
#pragma once
// Message windows and message queues on top of Qt's event loop.
//
// A message window is a handle with a handler; it belongs to the thread that allocated it.
// Every thread that owns windows has one FIFO queue. PostMessage may be called from any
// thread; the message is handled later on the window's thread, in posting order, when that
// thread runs Qt's event loop (exec, ProcessMessages, WaitAndProcessMessages) or pumps its
// queue by hand (PeekMessage + DispatchMessage). A message whose window is gone by the time
// it would be handled is dropped; posting to a window that is already gone returns false.
//
// No exception ever leaves a message handler into Qt's dispatch: one escaping a handler
// run by the event loop goes to the application's exception handler (ErrorGuard.h).
#include <functional>

#include "platform/WinTypes.h"

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

using TWndMethod = std::function<void(TMessage&)>;

// A window on the calling thread whose messages go to method. Never returns 0.
HWND AllocateHWnd(TWndMethod method);
// Removes the window; its pending messages are dropped. Safe from inside its own handler.
void DeallocateHWnd(HWND wnd);
bool IsWindow(HWND wnd);

// Thread-safe. False when the window does not exist (the message is dropped).
bool PostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Puts WM_QUIT (hwnd 0) on the calling thread's queue.
void PostQuitMessage(int exitCode);

// The calling thread's own queue: takes (or only looks at) the oldest message.
bool PeekMessage(MSG& msg, bool remove);
// Runs the window's handler now, on the calling thread; 0 when the window is gone.
LRESULT DispatchMessage(const MSG& msg);
// What a window does with a message it does not handle: nothing.
LRESULT DefWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The application's pump: handles every event and message pending for the calling thread
// (input, timers, paint and posted messages), then returns without waiting.
void ProcessMessages();
// Like ProcessMessages, but when nothing is pending it blocks until something arrives.
// The waits of the transfers use it so that waiting costs no processor time.
void WaitAndProcessMessages();
// True from the moment the application's event loop is asked to quit (QCoreApplication::
// quit) until that loop has returned, and while the application object is being destroyed.
// Nested waits give up then, so that the outer loop can end.
bool ApplicationTerminating();
// Put around code inside a message handler that may run an event loop of its own (a modal
// dialog): messages the thread posts to itself meanwhile then reach that loop. (While the
// event loop hands out messages, a message a handler posts to its own thread is picked
// up by the same pass without a round trip through Qt; the waits above and this scope
// switch that off for what they run.)
class TNestedLoopScope {
public:
    TNestedLoopScope();
    ~TNestedLoopScope();
    TNestedLoopScope(const TNestedLoopScope&) = delete;
    TNestedLoopScope& operator=(const TNestedLoopScope&) = delete;

private:
    bool saved_;
};

// Ends the calling thread's queue as the thread's exit does: what it holds is dropped and
// posts to the thread's windows fail from now on. The thread's next use of messages
// starts a fresh queue. For threads that outlive the work they run.
void ReleaseThreadQueue();

// Blocks until the calling thread's own queue holds a message (handles nothing).
void WaitMessage();
// As WaitMessage, giving up after timeoutMs; true when a message is there.
bool WaitMessageFor(int timeoutMs);

// Timers: WM_TIMER (wParam = id) is posted to the window every intervalMs until KillTimer.
// A tick is not posted while the previous tick of the same timer is still queued, so a
// busy thread sees one late tick, not a burst. SetTimer with an id already running
// restarts it with the new interval.
constexpr UINT WM_TIMER = 0x0113;
void SetTimer(HWND wnd, WPARAM id, int intervalMs);
// id 0 kills every timer of the window (SetTimer ids are therefore never 0).
void KillTimer(HWND wnd, WPARAM id);
