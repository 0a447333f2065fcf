// SPDX-License-Identifier: Apache-2.0
// WSAAsyncSelect: one notifier thread waits on epoll for the readiness each socket needs
// next and turns it into Winsock notifications (posted window messages).
//
// The epoll registrations are level-triggered and carry exactly the readiness that would
// produce a notification now (data while no FD_READ is outstanding, room while an
// FD_WRITE is owed, ...). A notification that is posted drops its readiness from the
// registration until the re-enabling call (recv, accept, a send that would block) adds it
// back, so a socket whose notification waits in a queue costs the notifier nothing.
// A recv that leaves data behind posts the next FD_READ itself: while a stream flows, the
// reading thread keeps itself busy without a wake-up through the notifier per read.
// Once the peer has ended the stream nothing new can arrive: from then on the remaining
// FD_READ and the final FD_CLOSE are decided by the calls that read, not by the notifier.
// Bytes in a socket's read-ahead show no readiness at all: the calls that leave them there
// (recv, WSAAsyncSelect) announce them, and every count of what is left includes them.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/Messages.h"
#include "winsock/WinsockInternal.h"

using namespace winsock_impl;

namespace {

struct Notifier {
    int epollFd = -1;
    int wakeFd = -1;
    bool stopping = false;
    std::thread thread;
};

// Guarded by Global().mu.
Notifier* notifier = nullptr;

void OnReadinessLocked(SOCKET h, Socket& s, std::uint32_t ev);

void Run(Notifier* n) {
    epoll_event events[64];
    for (;;) {
        const int count = ::epoll_wait(n->epollFd, events, 64, -1);
        if (count < 0) {
            if (errno == EINTR) continue;
            return;
        }
        std::lock_guard lock(Global().mu);
        if (n->stopping) return;
        for (int i = 0; i < count; ++i) {
            const SOCKET h = events[i].data.u64;
            if (h == 0) {  // the wake descriptor
                std::uint64_t v;
                [[maybe_unused]] ssize_t r = ::read(n->wakeFd, &v, sizeof v);
                continue;
            }
            auto it = Global().sockets.find(h);
            if (it != Global().sockets.end()) OnReadinessLocked(h, *it->second, events[i].events);
        }
    }
}

Notifier& EnsureNotifierLocked() {
    if (!notifier) {
        auto* n = new Notifier;
        n->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
        n->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = 0;
        ::epoll_ctl(n->epollFd, EPOLL_CTL_ADD, n->wakeFd, &ev);
        n->thread = std::thread(Run, n);
        notifier = n;
    }
    return *notifier;
}

void Post(SOCKET h, Socket& s, long event, int error) {
    PostMessage(s.wnd, s.msg, static_cast<WPARAM>(h),
                MakeLParam(static_cast<WORD>(event), static_cast<WORD>(error)));
}

bool Wants(const Socket& s, long event) { return s.wnd != 0 && (s.events & event) != 0; }

// How the stream ended: 0 for an orderly end, the reset code otherwise. Looks at the
// stream without taking data (only called once nothing is left to read).
int EndErrorLocked(Socket& s) {
    if (s.endErrorKnown) return s.endError;
    char probe;
    const ssize_t n = ::recv(s.fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        s.endError = FromErrno(errno);
    } else {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        s.endError = FromErrno(err);
    }
    s.endErrorKnown = true;
    return s.endError;
}

// After the end of the stream: FD_READ while bytes remain, then FD_CLOSE once.
void EndedReadSideLocked(SOCKET h, Socket& s) {
    if (UnreadBytes(s) > 0) {
        if (!s.readPosted && Wants(s, FD_READ)) {
            s.readPosted = true;
            Post(h, s, FD_READ, 0);
        }
        return;
    }
    if (!s.closePosted && Wants(s, FD_CLOSE)) {
        s.closePosted = true;
        Post(h, s, FD_CLOSE, EndErrorLocked(s));
    }
}

bool IsStream(const Socket& s) { return s.type == WS_SOCK_STREAM; }
bool CanWrite(const Socket& s) { return IsStream(s) ? s.connected : true; }

void PostWriteLocked(SOCKET h, Socket& s) {
    if (s.writeOwed && Wants(s, FD_WRITE)) {
        s.writeOwed = false;
        Post(h, s, FD_WRITE, 0);
    }
}

void OnReadinessLocked(SOCKET h, Socket& s, std::uint32_t ev) {
    if (s.connectPending) {
        // The events may predate the connect; ask the socket how it stands now.
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        sockaddr_storage peer;
        socklen_t peerLen = sizeof peer;
        if (err == ECONNRESET || err == EPIPE) {
            // Connected, then reset before anyone looked: the connect succeeded, the
            // stream ended with a reset.
            ConnectDecidedLocked(h, s, 0);
            s.ended = true;
            s.hardEnd = true;
            s.endError = WSAECONNRESET;
            s.endErrorKnown = true;
            EndedReadSideLocked(h, s);
            RearmLocked(h, s);
            return;
        }
        if (err != 0) {
            ConnectDecidedLocked(h, s, FromErrno(err));
            return;
        }
        if (::getpeername(s.fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0) {
            ConnectDecidedLocked(h, s, 0);
            return;
        }
    } else if (s.listening) {
        if ((ev & EPOLLIN) && !s.acceptPosted && Wants(s, FD_ACCEPT)) {
            s.acceptPosted = true;
            Post(h, s, FD_ACCEPT, 0);
        }
    } else if (!IsStream(s) || s.connected) {
        if (!IsStream(s) && (ev & EPOLLERR)) {  // an ICMP report on a datagram socket: drop it
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        }
        if (IsStream(s) && (ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR))) {
            s.ended = true;
            if (ev & (EPOLLHUP | EPOLLERR)) s.hardEnd = true;
        }
        if (s.ended) {
            EndedReadSideLocked(h, s);
        } else if ((ev & EPOLLIN) && !s.readPosted && Wants(s, FD_READ)) {
            s.readPosted = true;
            Post(h, s, FD_READ, 0);
        }
        if (ev & EPOLLOUT) PostWriteLocked(h, s);
    }
    RearmLocked(h, s);
}

}  // namespace

namespace winsock_impl {

void RearmLocked(SOCKET h, Socket& s) {
    std::uint32_t want = 0;
    if (s.wnd != 0 && s.events != 0 && !s.failed) {
        if (s.connectPending) {
            want = EPOLLOUT;
        } else if (s.listening) {
            if (!s.acceptPosted && Wants(s, FD_ACCEPT)) want = EPOLLIN;
        } else if (IsStream(s) && !s.connected) {
            // A stream socket that is not connecting yet has nothing to wait for (and an
            // unconnected socket reads as hung up).
        } else if (!s.hardEnd) {
            if (!s.ended) {
                if (!s.readPosted && Wants(s, FD_READ)) want |= EPOLLIN;
                if (IsStream(s) && s.connected) want |= EPOLLRDHUP;
            }
            if (s.writeOwed && Wants(s, FD_WRITE) && CanWrite(s)) want |= EPOLLOUT;
        }
    }
    if (want == s.armed) return;
    Notifier& n = EnsureNotifierLocked();
    epoll_event ev{};
    ev.events = want;
    ev.data.u64 = h;
    if (want == 0)
        ::epoll_ctl(n.epollFd, EPOLL_CTL_DEL, s.fd, &ev);
    else
        ::epoll_ctl(n.epollFd, s.armed == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, s.fd, &ev);
    s.armed = want;
}

void ForgetLocked(Socket& s) {
    if (s.armed != 0 && notifier) {
        epoll_event ev{};
        ::epoll_ctl(notifier->epollFd, EPOLL_CTL_DEL, s.fd, &ev);
    }
    s.armed = 0;
    s.wnd = 0;
    s.events = 0;
}

void AfterReceiveLocked(SOCKET h, Socket& s, bool more) {
    const bool buffered = s.ahead.count.load() > 0;
    if (!s.readPosted && !s.ended && !buffered) return;  // nothing to re-enable: no work, no syscall
    const bool wasPosted = s.readPosted;
    s.readPosted = false;
    if ((more || buffered) && !s.ended && Wants(s, FD_READ)) {
        // Bytes left in the read-ahead are announced here, as the system shows nothing for
        // them. A read that left more behind in the system most likely did so too: announce
        // it without asking. Should nothing be left, the reader's next recv would block,
        // which every reader of these notifications handles.
        s.readPosted = true;
        Post(h, s, FD_READ, 0);
        if (!wasPosted) RearmLocked(h, s);  // reading is no longer to be watched
        return;
    }
    if (!s.ended && Wants(s, FD_READ)) {
        // Data still waiting is announced from here: the reading thread is awake, and a
        // stream that keeps flowing then costs no notifier wake-up per read.
        pollfd p{s.fd, POLLIN | POLLRDHUP, 0};
        if (::poll(&p, 1, 0) == 1) {
            if (IsStream(s) && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) {
                s.ended = true;
                if (p.revents & (POLLHUP | POLLERR)) s.hardEnd = true;
            } else if (p.revents & POLLIN) {
                s.readPosted = true;
                Post(h, s, FD_READ, 0);
                return;  // the registration did not include reading: nothing to change
            }
        }
    }
    if (s.ended) EndedReadSideLocked(h, s);
    RearmLocked(h, s);
}

void AfterWouldBlockSendLocked(SOCKET h, Socket& s) {
    s.writeOwed = true;
    RearmLocked(h, s);
}

void AfterAcceptLocked(SOCKET h, Socket& s) {
    s.acceptPosted = false;
    RearmLocked(h, s);
}

void ConnectDecidedLocked(SOCKET h, Socket& s, int wsaError) {
    s.connectPending = false;
    if (wsaError == 0) {
        s.connected = true;
        if (Wants(s, FD_CONNECT)) Post(h, s, FD_CONNECT, 0);
        s.writeOwed = true;
        PostWriteLocked(h, s);  // the connection is up: there is room
    } else {
        s.failed = true;
        if (Wants(s, FD_CONNECT)) Post(h, s, FD_CONNECT, wsaError);
    }
    RearmLocked(h, s);
}

int AsyncSelectLocked(SOCKET h, Socket& s, HWND wnd, UINT msg, long events) {
    if (!s.nonBlocking) {
        const int fl = ::fcntl(s.fd, F_GETFL);
        ::fcntl(s.fd, F_SETFL, fl | O_NONBLOCK);
        s.nonBlocking = true;
        Global().generation.fetch_add(1, std::memory_order_release);
    }
    if (wnd == 0 || events == 0) {
        s.wnd = 0;
        s.msg = 0;
        s.events = 0;
        RearmLocked(h, s);
        return 0;
    }
    s.wnd = wnd;
    s.msg = msg;
    s.events = events;
    // A new target hears again about everything that holds now.
    s.readPosted = false;
    s.acceptPosted = false;
    s.closePosted = false;
    if (!s.failed && !s.connectPending && !s.listening) {
        if (IsStream(s) && s.connected && Wants(s, FD_CONNECT)) Post(h, s, FD_CONNECT, 0);
        if (CanWrite(s)) s.writeOwed = true;  // posted by the notifier while there is room
        if (s.ended) {
            EndedReadSideLocked(h, s);
        } else if (s.ahead.count.load() > 0 && Wants(s, FD_READ)) {
            s.readPosted = true;  // the system shows nothing for read-ahead bytes: announce them here
            Post(h, s, FD_READ, 0);
        }
    }
    RearmLocked(h, s);
    return 0;
}

void StopNotifier() {
    Notifier* n;
    {
        std::lock_guard lock(Global().mu);
        n = notifier;
        if (!n) return;
        n->stopping = true;
        notifier = nullptr;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(n->wakeFd, &one, sizeof one);
    n->thread.join();
    ::close(n->wakeFd);
    ::close(n->epollFd);
    delete n;
}

}  // namespace winsock_impl

int WsaAsyncSelect(SOCKET h, HWND wnd, UINT msg, long events) {
    if (!CheckStarted()) return SOCKET_ERROR;
    std::lock_guard lock(Global().mu);
    Socket* s = FindLocked(h);
    if (!s) return SOCKET_ERROR;
    return AsyncSelectLocked(h, *s, wnd, msg, events);
}
