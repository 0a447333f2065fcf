// SPDX-License-Identifier: Apache-2.0
// The waiting primitive. It dispatches messages exactly as a polling loop would, but
// blocks while nothing is pending: until the next message or, with a time limit, until a
// timer of the socket's own window wakes it at the deadline.
#include <chrono>

#include "socket/WSocketLine.h"

namespace {
constexpr int kWaitFailed = 12001;
}  // namespace

TCustomSyncWSocket::TCustomSyncWSocket(TComponent* AOwner) : TCustomLineWSocket(AOwner) {}

TCustomSyncWSocket::~TCustomSyncWSocket() = default;

int TCustomSyncWSocket::RunAndWait(const std::function<void()>& Operation, bool& Done) {
    Done = false;
    if (Operation) Operation();
    return WaitForFlag(Done);
}

int TCustomSyncWSocket::WaitForFlag(bool& Done) {
    using Clock = std::chrono::steady_clock;
    const int timeout = WaitTimeout;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout > 0 ? timeout : 0);

    // Timer ids are per window and never 0; a nested wait takes its own.
    WaitSerial = WaitSerial == 0xFFFF ? 1 : WaitSerial + 1;
    const WPARAM timerId = 0x5700 + static_cast<WPARAM>(WaitSerial);
    const HWND window = NotifyWindow;
    bool timerSet = false;
    struct KillTimerOnExit {
        const bool& set;
        HWND window;
        WPARAM id;
        ~KillTimerOnExit() {
            if (set) KillTimer(window, id);
        }
    } killTimer{timerSet, window, timerId};

    for (;;) {
        if (Done) return 0;
        if ((timeout > 0 && Clock::now() > deadline) || ApplicationTerminating() || FTerminated) return kWaitFailed;
        ProcessPendingMessages();
        // What the messages just changed is judged before blocking.
        if (Done || FTerminated || ApplicationTerminating()) continue;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count() + 1;
        if (MultiThreaded) {
            // The private pump handles this thread's own queue only: wait on that queue.
            if (timeout > 0)
                WaitMessageFor(static_cast<int>(left));
            else
                WaitMessage();
        } else {
            // The application's pump: anything may wake it, and the timer does at the deadline.
            if (timeout > 0 && !timerSet && window != 0) {
                SetTimer(window, timerId, static_cast<int>(left));
                timerSet = true;
            }
            WaitAndProcessMessages();
        }
    }
}
