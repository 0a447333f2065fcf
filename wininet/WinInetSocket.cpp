// SPDX-License-Identifier: Apache-2.0
#include "wininet/WinInetSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

#include "wininet/WinInet.h"
#include "wininet/WinInetLookup.h"

namespace wininet {

namespace {

using Clock = std::chrono::steady_clock;

// poll() for one event; true when it came, false on timeout (error set to TIMEOUT).
// The limit is split so that an EINTR does not restart the full wait.
bool WaitFor(int fd, short events, DWORD timeoutMs) {
    const bool endless = timeoutMs == 0 || timeoutMs == 0xFFFFFFFF;
    const auto deadline = Clock::now() + std::chrono::milliseconds(endless ? 0 : timeoutMs);
    for (;;) {
        int wait = -1;
        if (!endless) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            wait = static_cast<int>(left);
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, wait);
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return true;  // let the following call report the error
    }
}

DWORD FromErrno(int e) {
    switch (e) {
        case ECONNRESET:
        case EPIPE: return ERROR_INTERNET_CONNECTION_RESET;
        case ETIMEDOUT: return ERROR_INTERNET_TIMEOUT;
        default: return ERROR_INTERNET_CONNECTION_ABORTED;
    }
}

}  // namespace

void SocketSlot::Set(int fd) {
    std::lock_guard lock(mu_);
    fd_ = fd;
    if (aborted_ && fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

int SocketSlot::Get() {
    std::lock_guard lock(mu_);
    return fd_;
}

void SocketSlot::Close() {
    std::lock_guard lock(mu_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

int SocketSlot::Release() {
    std::lock_guard lock(mu_);
    if (aborted_) return -1;
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void SocketSlot::Abort() {
    std::lock_guard lock(mu_);
    aborted_ = true;
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    if (cancel_) cancel_();
}

bool SocketSlot::SetCanceller(std::function<void()> cancel) {
    std::lock_guard lock(mu_);
    if (aborted_ && cancel) return false;
    cancel_ = std::move(cancel);
    return true;
}

bool SocketSlot::Aborted() {
    std::lock_guard lock(mu_);
    return aborted_;
}

namespace {

// One connection attempt: a non-blocking connect under way, or -1 when it could not start.
int StartAttempt(const addrinfo* a, int& err) {
    const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (s < 0) {
        err = errno;
        return -1;
    }
    if (::connect(s, a->ai_addr, a->ai_addrlen) == 0 || errno == EINPROGRESS) return s;
    err = errno;
    ::close(s);
    return -1;
}

DWORD Finished(int s) {
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return 0;
}

// The addresses in the order they are tried: the first family the resolver gave, then the
// other, alternating, so that one broken family never holds up the other for long.
std::vector<const addrinfo*> Interleaved(const addrinfo* list, bool& bothFamilies) {
    std::vector<const addrinfo*> first, second;
    for (const addrinfo* a = list; a; a = a->ai_next)
        (a->ai_family == list->ai_family ? first : second).push_back(a);
    bothFamilies = !second.empty();
    // IPv6 leads when there are both.
    if (bothFamilies && list->ai_family != AF_INET6) std::swap(first, second);
    std::vector<const addrinfo*> order;
    for (std::size_t i = 0; i < std::max(first.size(), second.size()); ++i) {
        if (i < first.size()) order.push_back(first[i]);
        if (i < second.size()) order.push_back(second[i]);
    }
    return order;
}

// Addresses of both families raced: the next attempt starts kRaceStepMs after the last one
// (at once when every running attempt has failed), the first to connect wins and the others
// are closed. An abort wakes the wait through an event the slot's canceller signals.
constexpr int kRaceStepMs = 250;

DWORD Race(const std::vector<const addrinfo*>& order, DWORD timeoutMs, SocketSlot& slot) {
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return ERROR_INTERNET_CANNOT_CONNECT;
    if (!slot.SetCanceller([wake] {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(wake, &one, sizeof one);
        })) {
        ::close(wake);
        return ERROR_INTERNET_OPERATION_CANCELLED;
    }
    std::vector<int> running;
    const auto closeAll = [&] {
        for (int s : running) ::close(s);
        running.clear();
    };
    const bool endless = timeoutMs == 0 || timeoutMs == 0xFFFFFFFF;
    const auto deadline = Clock::now() + std::chrono::milliseconds(endless ? 0 : timeoutMs);
    std::size_t next = 0;
    auto nextStart = Clock::now();
    DWORD result = ERROR_INTERNET_CANNOT_CONNECT;
    int winner = -1;
    for (;;) {
        const auto now = Clock::now();
        if (next < order.size() && (now >= nextStart || running.empty())) {
            int err = 0;
            const int s = StartAttempt(order[next++], err);
            if (s >= 0) running.push_back(s);
            nextStart = Clock::now() + std::chrono::milliseconds(kRaceStepMs);
            continue;
        }
        if (running.empty()) break;  // every address failed
        if (!endless && now >= deadline) {
            result = ERROR_INTERNET_TIMEOUT;
            break;
        }
        auto until = endless ? nextStart : std::min(deadline, nextStart);
        if (next >= order.size()) until = endless ? Clock::time_point::max() : deadline;
        int wait = -1;
        if (until != Clock::time_point::max())
            wait = static_cast<int>(std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()));
        std::vector<pollfd> fds{{wake, POLLIN, 0}};
        for (int s : running) fds.push_back({s, POLLOUT, 0});
        if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR) break;
        if (fds[0].revents) {
            result = ERROR_INTERNET_OPERATION_CANCELLED;
            break;
        }
        for (std::size_t i = 1; i < fds.size() && winner < 0; ++i) {
            if (!fds[i].revents) continue;
            int err = 0;
            socklen_t len = sizeof err;
            if (::getsockopt(fds[i].fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            if (err == 0) winner = fds[i].fd;
        }
        if (winner >= 0) break;
        // Drop the attempts that failed; the next address starts at once when none is left.
        std::vector<int> still;
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents)
                ::close(fds[i].fd);
            else
                still.push_back(fds[i].fd);
        }
        running.swap(still);
    }
    slot.SetCanceller(nullptr);
    ::close(wake);
    if (winner >= 0) {
        std::erase(running, winner);
        closeAll();
        slot.Set(winner);
        return Finished(winner);
    }
    closeAll();
    return slot.Aborted() ? ERROR_INTERNET_OPERATION_CANCELLED : result;
}

}  // namespace

DWORD ConnectTo(const std::string& hostText, WORD port, DWORD timeoutMs, SocketSlot& slot) {
    AddressList list;
    if (const DWORD err = Resolve(hostText, port, slot, list)) return err;
    bool bothFamilies = false;
    const std::vector<const addrinfo*> order = Interleaved(list.get(), bothFamilies);
    if (bothFamilies) return Race(order, timeoutMs, slot);

    // One family: its addresses in turn, each under the whole connect timeout.
    DWORD result = ERROR_INTERNET_CANNOT_CONNECT;
    for (addrinfo* a = list.get(); a && !slot.Aborted(); a = a->ai_next) {
        int err = 0;
        const int s = StartAttempt(a, err);
        if (s < 0) {
            result = ERROR_INTERNET_CANNOT_CONNECT;
            continue;
        }
        slot.Set(s);
        if (!WaitFor(s, POLLOUT, timeoutMs)) {
            err = ETIMEDOUT;
        } else {
            socklen_t len = sizeof err;
            if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        }
        if (err == 0) return Finished(s);
        slot.Close();
        result = err == ETIMEDOUT ? ERROR_INTERNET_TIMEOUT : ERROR_INTERNET_CANNOT_CONNECT;
    }
    return result;
}

DWORD SendAll(int fd, const char* data, std::size_t size, DWORD timeoutMs) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, timeoutMs)) return ERROR_INTERNET_TIMEOUT;
            continue;
        }
        return FromErrno(n < 0 ? errno : EPIPE);
    }
    return 0;
}

DWORD ReceiveSome(int fd, char* buffer, std::size_t size, DWORD timeoutMs, std::size_t& received) {
    received = 0;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, size, 0);
        if (n >= 0) {
            received = static_cast<std::size_t>(n);
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return FromErrno(errno);
        if (!WaitFor(fd, POLLIN, timeoutMs)) return ERROR_INTERNET_TIMEOUT;
    }
}

}  // namespace wininet
