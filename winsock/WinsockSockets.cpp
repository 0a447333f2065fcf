// SPDX-License-Identifier: Apache-2.0
// The socket calls of the stand-in: a table from never-reused handle numbers to
// descriptors, Winsock numbering and structures translated to and from the system's.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "winsock/WinsockInternal.h"

using namespace winsock_impl;

namespace {

// The last handle this thread used. A handle's descriptor and socket stay the same while
// the handle lives; any close (or change of blocking mode) moves the generation on.
struct HandleCache {
    SOCKET handle = INVALID_SOCKET;
    std::uint64_t generation = 0;
    Socket* socket = nullptr;
};
thread_local HandleCache tlsHandle;

// The socket of a handle, or null with WSAENOTSOCK. The pointer is valid until the
// handle is closed.
Socket* Lookup(SOCKET h) {
    State& g = Global();
    HandleCache& c = tlsHandle;
    if (c.handle == h && c.generation == g.generation.load(std::memory_order_acquire)) return c.socket;
    std::lock_guard lock(g.mu);
    Socket* s = FindLocked(h);
    if (s) c = HandleCache{h, g.generation.load(std::memory_order_relaxed), s};
    return s;
}

// The descriptor of a handle (and whether it is non-blocking), or -1 with WSAENOTSOCK.
int FdOf(SOCKET h, bool* nonBlocking = nullptr) {
    Socket* s = Lookup(h);
    if (!s) return -1;
    if (nonBlocking) *nonBlocking = s->nonBlocking;
    return s->fd;
}

int Fail(int wsaCode) {
    SetError(wsaCode);
    return SOCKET_ERROR;
}

// A Winsock address (IPv4 or IPv6 record) as a system one; false (WSAEFAULT or
// WSAEAFNOSUPPORT set) when it is neither or too short for its family.
bool ToSystem(const TSockAddr* name, int nameLen, sockaddr_storage& out, socklen_t& outLen) {
    if (!name || nameLen < static_cast<int>(sizeof(TSockAddrIn))) {
        SetError(WSAEFAULT);
        return false;
    }
    out = sockaddr_storage{};
    std::uint16_t family;
    std::memcpy(&family, name, sizeof family);
    if (family == WS_AF_INET) {
        TSockAddrIn in;
        std::memcpy(&in, name, sizeof in);
        auto& sys = reinterpret_cast<sockaddr_in&>(out);
        sys.sin_family = AF_INET;
        sys.sin_port = in.sin_port;
        sys.sin_addr.s_addr = in.sin_addr.S_addr;
        outLen = sizeof sys;
        return true;
    }
    if (family == WS_AF_INET6) {
        if (nameLen < static_cast<int>(sizeof(TSockAddrIn6))) {
            SetError(WSAEFAULT);
            return false;
        }
        TSockAddrIn6 in;
        std::memcpy(&in, name, sizeof in);
        auto& sys = reinterpret_cast<sockaddr_in6&>(out);
        sys.sin6_family = AF_INET6;
        sys.sin6_port = in.sin6_port;
        sys.sin6_flowinfo = in.sin6_flowinfo;
        std::memcpy(&sys.sin6_addr, in.sin6_addr, 16);
        sys.sin6_scope_id = in.sin6_scope_id;
        outLen = sizeof sys;
        return true;
    }
    SetError(WSAEAFNOSUPPORT);
    return false;
}

// Writes a system address into the caller's record (TSockAddrIn or TSockAddrIn6 after its
// family); false (WSAEFAULT) when the record is too small for it.
bool FromSystem(const sockaddr_storage& sys, TSockAddr* name, int* nameLen) {
    if (!name || !nameLen) return true;  // the caller does not want it
    if (sys.ss_family == AF_INET6) {
        if (*nameLen < static_cast<int>(sizeof(TSockAddrIn6))) {
            SetError(WSAEFAULT);
            return false;
        }
        const auto& s6 = reinterpret_cast<const sockaddr_in6&>(sys);
        TSockAddrIn6 in{};
        in.sin6_family = WS_AF_INET6;
        in.sin6_port = s6.sin6_port;
        in.sin6_flowinfo = s6.sin6_flowinfo;
        std::memcpy(in.sin6_addr, &s6.sin6_addr, 16);
        in.sin6_scope_id = s6.sin6_scope_id;
        std::memcpy(name, &in, sizeof in);
        *nameLen = sizeof in;
        return true;
    }
    if (*nameLen < static_cast<int>(sizeof(TSockAddrIn))) {
        SetError(WSAEFAULT);
        return false;
    }
    const auto& s4 = reinterpret_cast<const sockaddr_in&>(sys);
    TSockAddrIn in{};
    in.sin_family = WS_AF_INET;
    in.sin_port = s4.sin_port;
    in.sin_addr.S_addr = s4.sin_addr.s_addr;
    std::memcpy(name, &in, sizeof in);
    *nameLen = sizeof in;
    return true;
}

int SystemFlags(int flags) {
    int sys = 0;
    if (flags & WS_MSG_OOB) sys |= MSG_OOB;
    if (flags & WS_MSG_PEEK) sys |= MSG_PEEK;
    if (flags & 4) sys |= MSG_DONTROUTE;
    return sys;
}

SOCKET Register(int fd, int type, bool connected) {
    State& g = Global();
    auto s = std::make_shared<Socket>();
    s->fd = fd;
    s->type = type;
    s->connected = connected;
    std::lock_guard lock(g.mu);
    const SOCKET h = g.nextHandle++;
    g.sockets.emplace(h, std::move(s));
    return h;
}

// A send error in Winsock terms: a broken pipe is a shut-down socket when this side shut
// it, a reset connection otherwise, and "not connected" before any connection.
int SendError(SOCKET h, int err) {
    if (err != EPIPE) return FromErrno(err);
    std::lock_guard lock(Global().mu);
    Socket* s = FindLocked(h);
    if (!s) return WSAENOTSOCK;
    if (s->shutSend) return WSAESHUTDOWN;
    if (s->type == WS_SOCK_STREAM && !s->connected) return WSAENOTCONN;
    return WSAECONNRESET;
}

// A send that found no room, or room for only part of the data, owes the caller an
// FD_WRITE once there is room again (a caller that stops at a partial send waits for it).
int AfterSend(SOCKET h, ssize_t n, int err, int len) {
    if (n >= len) return static_cast<int>(n);
    if (n >= 0) {
        std::lock_guard lock(Global().mu);
        if (Socket* s = FindLocked(h); s && s->nonBlocking) AfterWouldBlockSendLocked(h, *s);
        return static_cast<int>(n);
    }
    if (err == EAGAIN || err == EWOULDBLOCK) {
        std::lock_guard lock(Global().mu);
        if (Socket* s = FindLocked(h)) AfterWouldBlockSendLocked(h, *s);
        return Fail(WSAEWOULDBLOCK);
    }
    return Fail(SendError(h, err));
}

// Whether a read has notifications to look after: an FD_READ to re-enable, the end of the
// stream, or read-ahead bytes, which only the reading calls can announce (the system shows
// nothing for them).
bool MustAnnounce(const Socket& s) {
    return s.readPosted.load() || s.ended.load() || (s.nonBlocking && s.ahead.count.load() > 0);
}

int AfterReceive(SOCKET h, ssize_t n, int err, bool more) {
    // Nothing to re-enable (the common case while data streams in): no lock.
    Socket* cached = Lookup(h);
    if (cached && MustAnnounce(*cached)) {
        std::lock_guard lock(Global().mu);
        if (Socket* s = FindLocked(h)) AfterReceiveLocked(h, *s, more);
    }
    if (n >= 0) return static_cast<int>(n);
    if (err == ECONNRESET) {
        // The read took the reset: keep it for the close notification still to come.
        std::lock_guard lock(Global().mu);
        if (Socket* s = FindLocked(h); s && !s->endErrorKnown) {
            s->endError = WSAECONNRESET;
            s->endErrorKnown = true;
        }
    }
    return Fail(FromErrno(err == EWOULDBLOCK ? EAGAIN : err));
}

}  // namespace

void CloseAllSockets() {
    State& g = Global();
    std::lock_guard lock(g.mu);
    g.generation.fetch_add(1, std::memory_order_release);
    for (auto& [h, s] : g.sockets) {
        ForgetLocked(*s);
        CloseDescriptor(*s);
    }
    g.sockets.clear();
}

SOCKET WsSocket(int af, int type, int protocol) {
    if (!CheckStarted()) return INVALID_SOCKET;
    if (af != WS_AF_INET && af != WS_AF_INET6) return SetError(WSAEAFNOSUPPORT), INVALID_SOCKET;
    int sysType;
    if (type == WS_SOCK_STREAM && (protocol == 0 || protocol == WS_IPPROTO_TCP))
        sysType = SOCK_STREAM;
    else if (type == WS_SOCK_DGRAM && (protocol == 0 || protocol == WS_IPPROTO_UDP))
        sysType = SOCK_DGRAM;
    else if (type != WS_SOCK_STREAM && type != WS_SOCK_DGRAM)
        return SetError(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
    else
        return SetError(WSAEPROTONOSUPPORT), INVALID_SOCKET;
    // An IPv6 socket keeps the system's default and so takes IPv4 peers too (as mapped
    // addresses) when bound to the unspecified address.
    const int fd = ::socket(af == WS_AF_INET6 ? AF_INET6 : AF_INET, sysType | SOCK_CLOEXEC, 0);
    if (fd < 0) return SetError(FromErrno(errno)), INVALID_SOCKET;
    return Register(fd, type, false);
}

int WsBind(SOCKET h, const TSockAddr* name, int nameLen) {
    if (!CheckStarted()) return SOCKET_ERROR;
    sockaddr_storage sa;
    socklen_t saLen = 0;
    const int fd = FdOf(h);
    if (fd < 0) return SOCKET_ERROR;
    if (!ToSystem(name, nameLen, sa, saLen)) return SOCKET_ERROR;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), saLen) != 0) return Fail(FromErrno(errno));
    return 0;
}

int WsConnect(SOCKET h, const TSockAddr* name, int nameLen) {
    if (!CheckStarted()) return SOCKET_ERROR;
    sockaddr_storage sa;
    socklen_t saLen = 0;
    bool nonBlocking = false;
    const int fd = FdOf(h, &nonBlocking);
    if (fd < 0) return SOCKET_ERROR;
    if (!ToSystem(name, nameLen, sa, saLen)) return SOCKET_ERROR;
    const int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), saLen);
    const int err = rc == 0 ? 0 : errno;
    std::lock_guard lock(Global().mu);
    Socket* s = FindLocked(h);
    if (!s) return SOCKET_ERROR;
    if (s->type == WS_SOCK_DGRAM) return rc == 0 ? 0 : Fail(FromErrno(err));
    if (!nonBlocking) {
        if (rc != 0) return Fail(FromErrno(err));
        s->connected = true;
        return 0;
    }
    // Non-blocking: the outcome always arrives as FD_CONNECT, as on the original.
    switch (err) {
        case 0:
        case EINPROGRESS:
            s->connectPending = true;
            RearmLocked(h, *s);
            return Fail(WSAEWOULDBLOCK);
        case ECONNREFUSED:
        case ETIMEDOUT:
        case ENETUNREACH:
        case EHOSTUNREACH:
        case ECONNRESET:
            ConnectDecidedLocked(h, *s, FromErrno(err));
            return Fail(WSAEWOULDBLOCK);
        default:
            return Fail(FromErrno(err));
    }
}

int WsListen(SOCKET h, int backlog) {
    if (!CheckStarted()) return SOCKET_ERROR;
    const int fd = FdOf(h);
    if (fd < 0) return SOCKET_ERROR;
    if (::listen(fd, backlog) != 0) return Fail(FromErrno(errno));
    std::lock_guard lock(Global().mu);
    if (Socket* s = FindLocked(h)) {
        s->listening = true;
        RearmLocked(h, *s);
    }
    return 0;
}

SOCKET WsAccept(SOCKET h, TSockAddr* addr, int* addrLen) {
    if (!CheckStarted()) return INVALID_SOCKET;
    const int fd = FdOf(h);
    if (fd < 0) return INVALID_SOCKET;
    if (addr && addrLen && *addrLen < static_cast<int>(sizeof(TSockAddrIn)))
        return SetError(WSAEFAULT), INVALID_SOCKET;
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    const int nfd = ::accept4(fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    const int err = errno;
    {
        std::lock_guard lock(Global().mu);
        if (Socket* s = FindLocked(h)) AfterAcceptLocked(h, *s);
    }
    if (nfd < 0) return SetError(err == EINVAL ? WSAEINVAL : FromErrno(err)), INVALID_SOCKET;
    FromSystem(sa, addr, addrLen);
    return Register(nfd, WS_SOCK_STREAM, true);
}

int WsSend(SOCKET h, const char* buf, int len, int flags) {
    if (!CheckStarted()) return SOCKET_ERROR;
    if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
    const int fd = FdOf(h);
    if (fd < 0) return SOCKET_ERROR;
    const ssize_t n = ::send(fd, buf, static_cast<size_t>(len), SystemFlags(flags) | MSG_NOSIGNAL);
    return AfterSend(h, n, errno, len);
}

int WsSendTo(SOCKET h, const char* buf, int len, int flags, const TSockAddr* to, int toLen) {
    if (!CheckStarted()) return SOCKET_ERROR;
    if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
    const int fd = FdOf(h);
    if (fd < 0) return SOCKET_ERROR;
    sockaddr_storage sa;
    socklen_t saLen = 0;
    ssize_t n;
    if (to) {
        if (!ToSystem(to, toLen, sa, saLen)) return SOCKET_ERROR;
        n = ::sendto(fd, buf, static_cast<size_t>(len), SystemFlags(flags) | MSG_NOSIGNAL,
                     reinterpret_cast<sockaddr*>(&sa), saLen);
    } else {
        n = ::send(fd, buf, static_cast<size_t>(len), SystemFlags(flags) | MSG_NOSIGNAL);
    }
    return AfterSend(h, n, errno, len);
}

namespace {

// A zero-length read answers whether one would succeed: 0 when data or the end of the
// stream is there, would-block when a non-blocking socket has nothing yet.
int Probe(SOCKET h, Socket& s) {
    if (s.ahead.count.load() > 0) return AfterReceive(h, 0, 0, true);
    char probe;
    for (;;) {
        const ssize_t n = ::recv(s.fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n >= 0) return AfterReceive(h, 0, 0, false);
        if (errno != EAGAIN && errno != EWOULDBLOCK) return AfterReceive(h, -1, errno, false);
        if (s.nonBlocking) return AfterReceive(h, -1, EAGAIN, false);
        pollfd p{s.fd, POLLIN, 0};
        ::poll(&p, 1, -1);
    }
}

// A stream read goes through the read-ahead (urgent data never does: it is not part of the
// stream); a datagram is read as it is.
int Receive(SOCKET h, Socket& s, char* buf, int len, int flags) {
    if (s.type == WS_SOCK_STREAM && !(flags & WS_MSG_OOB)) {
        const StreamRead r = ReadStream(s, buf, len, SystemFlags(flags));
        return AfterReceive(h, r.n, r.err, r.more);
    }
    const ssize_t n = ::recv(s.fd, buf, static_cast<size_t>(len), SystemFlags(flags));
    return AfterReceive(h, n, errno, n == len);
}

}  // namespace

int WsRecv(SOCKET h, char* buf, int len, int flags) {
    if (!CheckStarted()) return SOCKET_ERROR;
    if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
    Socket* s = Lookup(h);
    if (!s) return SOCKET_ERROR;
    return len == 0 ? Probe(h, *s) : Receive(h, *s, buf, len, flags);
}

int WsRecvFrom(SOCKET h, char* buf, int len, int flags, TSockAddr* from, int* fromLen) {
    if (!CheckStarted()) return SOCKET_ERROR;
    if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
    if (from && fromLen && *fromLen < static_cast<int>(sizeof(TSockAddrIn))) return Fail(WSAEFAULT);
    Socket* s = Lookup(h);
    if (!s) return SOCKET_ERROR;
    // A stream names no sender; its bytes come in order, buffered ones first.
    if (s->type == WS_SOCK_STREAM && len > 0 && !(flags & WS_MSG_OOB)) return Receive(h, *s, buf, len, flags);
    sockaddr_storage sa{};
    socklen_t saLen = sizeof sa;
    const ssize_t n = ::recvfrom(s->fd, buf, static_cast<size_t>(len), SystemFlags(flags),
                                 reinterpret_cast<sockaddr*>(&sa), &saLen);
    const int rc = AfterReceive(h, n, errno, false);  // a datagram never leaves a part behind
    if (rc >= 0 && saLen >= sizeof(sockaddr_in)) FromSystem(sa, from, fromLen);
    return rc;
}

int WsShutdown(SOCKET h, int how) {
    if (!CheckStarted()) return SOCKET_ERROR;
    int sysHow;
    switch (how) {
        case SD_RECEIVE: sysHow = SHUT_RD; break;
        case SD_SEND: sysHow = SHUT_WR; break;
        case SD_BOTH: sysHow = SHUT_RDWR; break;
        default: return Fail(WSAEINVAL);
    }
    const int fd = FdOf(h);
    if (fd < 0) return SOCKET_ERROR;
    if (::shutdown(fd, sysHow) != 0) return Fail(FromErrno(errno));
    std::lock_guard lock(Global().mu);
    if (Socket* s = FindLocked(h); s && how != SD_RECEIVE) s->shutSend = true;
    return 0;
}

int WsCloseSocket(SOCKET h) {
    if (!CheckStarted()) return SOCKET_ERROR;
    State& g = Global();
    std::shared_ptr<Socket> doomed;
    {
        std::lock_guard lock(g.mu);
        auto it = g.sockets.find(h);
        if (it == g.sockets.end()) return Fail(WSAENOTSOCK);
        Socket& s = *it->second;
        if (s.nonBlocking && s.lingerOn && s.lingerSeconds > 0) {
            int unsent = 0;
            if (::ioctl(s.fd, SIOCOUTQ, &unsent) == 0 && unsent > 0) {
                if (!s.closeWaiting) {
                    s.closeWaiting = true;
                    s.closeDeadlineMs = NowMs() + 1000LL * s.lingerSeconds;
                }
                if (NowMs() < s.closeDeadlineMs) return Fail(WSAEWOULDBLOCK);
                linger reset{1, 0};  // the time is up: drop the rest
                ::setsockopt(s.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            }
        }
        ForgetLocked(s);
        g.generation.fetch_add(1, std::memory_order_release);
        doomed = std::move(it->second);
        g.sockets.erase(it);
    }
    // Outside the lock: a blocking socket with a linger time may wait here, as it would
    // on the original.
    CloseDescriptor(*doomed);
    return 0;
}

int WsSetSockOpt(SOCKET h, int level, int optName, const char* optVal, int optLen) {
    if (!CheckStarted()) return SOCKET_ERROR;
    const int fd = FdOf(h);
    if (fd < 0) return SOCKET_ERROR;
    if (!optVal) return Fail(WSAEFAULT);
    auto intArg = [&](int& v) {
        if (optLen < 4) return false;
        std::memcpy(&v, optVal, 4);
        return true;
    };
    int sysLevel = 0, sysName = 0;
    int v = 0;
    std::vector<char> sysVal;
    auto setInt = [&](int x) {
        sysVal.resize(sizeof x);
        std::memcpy(sysVal.data(), &x, sizeof x);
    };
    if (level == WS_SOL_SOCKET) {
        sysLevel = SOL_SOCKET;
        switch (optName) {
            case WS_SO_REUSEADDR: sysName = SO_REUSEADDR; break;
            case WS_SO_KEEPALIVE: sysName = SO_KEEPALIVE; break;
            case WS_SO_BROADCAST: sysName = SO_BROADCAST; break;
            case WS_SO_DONTROUTE: sysName = SO_DONTROUTE; break;
            case WS_SO_OOBINLINE: sysName = SO_OOBINLINE; break;
            case WS_SO_DEBUG: sysName = SO_DEBUG; break;
            case WS_SO_SNDBUF: sysName = SO_SNDBUF; break;
            case WS_SO_RCVBUF: sysName = SO_RCVBUF; break;
            case WS_SO_RCVLOWAT: sysName = SO_RCVLOWAT; break;
            case WS_SO_LINGER:
            case WS_SO_DONTLINGER: {
                linger l{};
                if (optName == WS_SO_LINGER) {
                    if (optLen < static_cast<int>(sizeof(TLinger))) return Fail(WSAEFAULT);
                    TLinger wl;
                    std::memcpy(&wl, optVal, sizeof wl);
                    l.l_onoff = wl.l_onoff != 0;
                    l.l_linger = wl.l_linger;
                } else {
                    if (!intArg(v)) return Fail(WSAEFAULT);
                    l.l_onoff = v == 0;
                }
                if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) return Fail(FromErrno(errno));
                std::lock_guard lock(Global().mu);
                if (Socket* s = FindLocked(h)) {
                    s->lingerOn = l.l_onoff != 0;
                    s->lingerSeconds = l.l_linger;
                }
                return 0;
            }
            default: return Fail(WSAENOPROTOOPT);
        }
        if (!intArg(v)) return Fail(WSAEFAULT);
        const bool isBool = sysName != SO_SNDBUF && sysName != SO_RCVBUF && sysName != SO_RCVLOWAT;
        setInt(isBool ? (v != 0) : v);
    } else if (level == WS_IPPROTO_TCP) {
        if (optName != WS_TCP_NODELAY) return Fail(WSAENOPROTOOPT);
        if (!intArg(v)) return Fail(WSAEFAULT);
        sysLevel = IPPROTO_TCP;
        sysName = TCP_NODELAY;
        setInt(v != 0);
    } else if (level == WS_IPPROTO_IP) {
        sysLevel = IPPROTO_IP;
        switch (optName) {
            case WS_IP_MULTICAST_TTL: sysName = IP_MULTICAST_TTL; break;
            case WS_IP_MULTICAST_LOOP: sysName = IP_MULTICAST_LOOP; break;
            case WS_IP_TTL: sysName = IP_TTL; break;
            case WS_IP_TOS: sysName = IP_TOS; break;
            case WS_IP_MULTICAST_IF: {
                if (optLen < 4) return Fail(WSAEFAULT);
                in_addr a;
                std::memcpy(&a.s_addr, optVal, 4);
                if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &a, sizeof a) != 0) return Fail(FromErrno(errno));
                return 0;
            }
            case WS_IP_ADD_MEMBERSHIP:
            case WS_IP_DROP_MEMBERSHIP: {
                if (optLen < static_cast<int>(sizeof(TIpMreq))) return Fail(WSAEFAULT);
                TIpMreq wm;
                std::memcpy(&wm, optVal, sizeof wm);
                ip_mreq m{};
                m.imr_multiaddr.s_addr = wm.imr_multiaddr.S_addr;
                m.imr_interface.s_addr = wm.imr_interface.S_addr;
                const int name = optName == WS_IP_ADD_MEMBERSHIP ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP;
                if (::setsockopt(fd, IPPROTO_IP, name, &m, sizeof m) != 0) return Fail(FromErrno(errno));
                return 0;
            }
            default: return Fail(WSAENOPROTOOPT);
        }
        if (!intArg(v)) return Fail(WSAEFAULT);
        setInt(v);
    } else {
        return Fail(WSAEINVAL);
    }
    if (::setsockopt(fd, sysLevel, sysName, sysVal.data(), static_cast<socklen_t>(sysVal.size())) != 0)
        return Fail(FromErrno(errno));
    return 0;
}

int WsIoctlSocket(SOCKET h, long cmd, std::uint32_t* arg) {
    if (!CheckStarted()) return SOCKET_ERROR;
    if (!arg) return Fail(WSAEFAULT);
    if (cmd == WS_FIONREAD) {
        Socket* s = Lookup(h);
        if (!s) return SOCKET_ERROR;
        int n = 0;
        if (::ioctl(s->fd, FIONREAD, &n) != 0) return Fail(FromErrno(errno));
        // The owning thread asks: no fill of its own is under way.
        *arg = static_cast<std::uint32_t>(std::max(n, 0) + s->ahead.count.load());
        return 0;
    }
    if (cmd == WS_FIONBIO) {
        std::lock_guard lock(Global().mu);
        Socket* s = FindLocked(h);
        if (!s) return SOCKET_ERROR;
        // A socket under WSAAsyncSelect cannot be made blocking, as on the original.
        if (*arg == 0 && s->events != 0) return Fail(WSAEINVAL);
        const int fl = ::fcntl(s->fd, F_GETFL);
        ::fcntl(s->fd, F_SETFL, *arg ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK));
        s->nonBlocking = *arg != 0;
        Global().generation.fetch_add(1, std::memory_order_release);
        return 0;
    }
    return Fail(WSAEINVAL);
}

namespace {
int NameOf(SOCKET h, TSockAddr* name, int* nameLen, bool peer) {
    if (!CheckStarted()) return SOCKET_ERROR;
    if (!name || !nameLen) return Fail(WSAEFAULT);
    const int fd = FdOf(h);
    if (fd < 0) return SOCKET_ERROR;
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    const int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len)
                        : ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    if (rc != 0) return Fail(FromErrno(errno));
    return FromSystem(sa, name, nameLen) ? 0 : SOCKET_ERROR;
}
}  // namespace

int WsGetSockName(SOCKET h, TSockAddr* name, int* nameLen) { return NameOf(h, name, nameLen, false); }
int WsGetPeerName(SOCKET h, TSockAddr* name, int* nameLen) { return NameOf(h, name, nameLen, true); }
