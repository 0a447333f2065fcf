// SPDX-License-Identifier: Apache-2.0
#include "StopSignal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <stdexcept>

// An eventfd that is written once and never read stays readable, so every waiter, now
// and later, wakes from the same poll without a lost-wake-up race.
StopSignal::StopSignal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (fd_ < 0)
        throw std::runtime_error("cannot create the stop event");
}

StopSignal::~StopSignal()
{
    close(fd_);
}

void StopSignal::Raise()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

bool StopSignal::Raised() const
{
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

bool StopSignal::SleepFor(std::chrono::nanoseconds duration) const
{
    using Clock = std::chrono::steady_clock;
    const auto due = Clock::now() + duration;
    for (;;) {
        const auto left = std::max<Clock::duration>(due - Clock::now(), Clock::duration::zero());
        const auto s = std::chrono::duration_cast<std::chrono::seconds>(left);
        const timespec ts{static_cast<time_t>(s.count()),
                          static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - s).count())};
        pollfd p{fd_, POLLIN, 0};
        const int n = ppoll(&p, 1, &ts, nullptr);
        if (n > 0)
            return false;
        if (n == 0)
            return true;
        if (errno != EINTR)
            return !Raised();
    }
}
