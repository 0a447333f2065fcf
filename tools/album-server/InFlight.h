// SPDX-License-Identifier: Apache-2.0
#pragma once
// Counts responses in progress: how many now, and the most at once since the last
// reset. Lets tests see whether a client really runs transfers side by side without
// timing anything. Thread-safe.
#include <mutex>
#include <set>

struct InFlightCount {
    int max = 0;
    int now = 0;
};

class InFlightGauge {
public:
    // `request` identifies the response while it is in progress (the request object's
    // address). Ending one that was never begun changes nothing, so a request the
    // server answers without routing it cannot end another's count.
    void Begin(const void* request);
    void End(const void* request);
    InFlightCount Read() const;
    // Starts a new maximum from the responses in progress now.
    void Reset();

private:
    mutable std::mutex mutex_;
    std::set<const void*> open_;
    int max_ = 0;
};
