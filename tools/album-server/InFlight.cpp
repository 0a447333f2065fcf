// SPDX-License-Identifier: Apache-2.0
#include "InFlight.h"

#include <algorithm>

void InFlightGauge::Begin(const void* request)
{
    std::lock_guard lock(mutex_);
    open_.insert(request);
    max_ = std::max(max_, static_cast<int>(open_.size()));
}

void InFlightGauge::End(const void* request)
{
    std::lock_guard lock(mutex_);
    open_.erase(request);
}

InFlightCount InFlightGauge::Read() const
{
    std::lock_guard lock(mutex_);
    return {max_, static_cast<int>(open_.size())};
}

void InFlightGauge::Reset()
{
    std::lock_guard lock(mutex_);
    max_ = static_cast<int>(open_.size());
}
