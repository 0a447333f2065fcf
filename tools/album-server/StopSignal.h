// SPDX-License-Identifier: Apache-2.0
#pragma once
// The server's stop, as something a worker can wait on: sleeps and waits for a peer end
// early, and at once, when it is raised. Raised once and never lowered. Thread-safe.
#include <chrono>

class StopSignal {
public:
    StopSignal();   // throws std::runtime_error when no event descriptor can be made
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void Raise();
    bool Raised() const;
    // Sleeps for `duration` (at least, when not stopped). Returns false when the stop
    // was raised before or during the sleep.
    bool SleepFor(std::chrono::nanoseconds duration) const;
    // Readable from the moment the stop is raised, for poll() next to other descriptors.
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};
