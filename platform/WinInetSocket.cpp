#include "platform/WinInetSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/WinInet.h"
#include "platform/WinInetLookup.h"

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

DWORD ConnectTo(const std::string& hostText, WORD port, DWORD timeoutMs, SocketSlot& slot) {
    AddressList list;
    if (const DWORD err = Resolve(hostText, port, slot, list)) return err;

    DWORD result = ERROR_INTERNET_CANNOT_CONNECT;
    for (addrinfo* a = list.get(); a && !slot.Aborted(); a = a->ai_next) {
        const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) continue;
        slot.Set(s);
        int err = 0;
        if (::connect(s, a->ai_addr, a->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                if (!WaitFor(s, POLLOUT, timeoutMs)) {
                    err = ETIMEDOUT;
                } else {
                    socklen_t len = sizeof err;
                    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
                }
            }
        }
        if (err == 0) {
            const int one = 1;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            result = 0;
            break;
        }
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
