// SPDX-License-Identifier: Apache-2.0
#include "FuzzPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/Messages.h"
#include "socket/WSocketWinsock.h"

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
}

// The handle is protected; a pointer to member named through a subclass reaches it
// without making a socket of that subclass.
struct THandleOf : TCustomWSocket {
    static SOCKET Of(TCustomWSocket& s) { return s.*(&THandleOf::SocketHandle); }
};

}  // namespace

int NetworkUnread(TCustomWSocket& socket) {
    const SOCKET h = THandleOf::Of(socket);
    if (h == INVALID_SOCKET) return 0;
    std::uint32_t n = 0;
    if (WSocket_ioctlsocket(h, WS_FIONREAD, &n) != 0) return 0;
    return static_cast<int>(n);
}

TFuzzPeer::TFuzzPeer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        std::perror("fuzz peer: cannot listen on 127.0.0.1");
        std::abort();
    }
    port_ = ntohs(sa.sin_port);
}

TFuzzPeer::~TFuzzPeer() {
    if (connFd_ >= 0) ::close(connFd_);
    CloseWaiting();
    ::close(listenFd_);
}

void TFuzzPeer::Drain() {
    if (connFd_ < 0) return;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(connFd_, buf, sizeof buf, 0);
        if (n > 0) {
            received_.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return;  // nothing more now, the end, or an error: the next write tells
    }
}

bool TFuzzPeer::PumpUntil(const std::function<bool()>& done, int limitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        ProcessMessages();
        Drain();
        if (done()) return true;
        const int left = MsLeft(deadline);
        if (left <= 0) return false;
        // Short slices: a connection waiting to be accepted sends no message.
        WaitMessageFor(left < 5 ? left : 5);
    }
}

bool TFuzzPeer::Accept(int limitMs, const std::function<bool()>& stop) {
    if (connFd_ >= 0) Close();
    received_.clear();
    PumpUntil(
        [&] {
            if (stop && stop()) return true;
            connFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            return connFd_ >= 0;
        },
        limitMs);
    return connFd_ >= 0;
}

bool TFuzzPeer::WaitWritable(int limitMs) {
    return PumpUntil(
        [&] {
            pollfd p{connFd_, POLLOUT, 0};
            return ::poll(&p, 1, 0) > 0;
        },
        limitMs);
}

void TFuzzPeer::Send(const std::string& bytes, const std::function<int()>& unread) {
    std::size_t done = 0;
    while (connFd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::send(connFd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            if (!WaitWritable(1000)) return;  // the client stopped reading
        } else {
            return;  // the client is gone
        }
    }
    for (;;) {
        ProcessMessages();
        Drain();
        if (unread() <= 0) return;
        if (!WaitMessageFor(IdleMs)) return;
    }
}

void TFuzzPeer::Close() {
    if (connFd_ < 0) return;
    Drain();
    ::close(connFd_);
    connFd_ = -1;
}

void TFuzzPeer::Reset() {
    if (connFd_ < 0) return;
    const linger hard{1, 0};
    ::setsockopt(connFd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(connFd_);
    connFd_ = -1;
}

void TFuzzPeer::CloseWaiting() {
    for (int fd; (fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) ::close(fd);
}
