// SPDX-License-Identifier: Apache-2.0
// Read-ahead of stream sockets: a caller that reads a stream in small pieces gets them from
// a buffer that one large system read fills, so that the stream costs one system call per
// buffer rather than one per piece. Everything the module reports counts the buffered bytes
// as still unread: FIONREAD, the zero-length probe, FD_READ and the end of the stream.
//
// The notifier decides FD_CLOSE from the unread count while the owning thread may be in a
// fill. The fill lock makes the system read and the count it publishes one step, so that
// the bytes it moves are never missing from both places.
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "winsock/WinsockInternal.h"

using namespace winsock_impl;

namespace {

// One system read's worth.
constexpr int kReadAheadSize = WS_STREAM_READ_AHEAD;
// A caller asking for this much or more buffers on its own (a TLS layer reading records
// ahead does): it reads directly, so its bytes are not copied once more out of ours.
constexpr int kDirectReadSize = 16 * 1024;

StreamRead Direct(int fd, char* buf, int len, int sysFlags) {
    const ssize_t n = ::recv(fd, buf, static_cast<size_t>(len), sysFlags);
    return {n, n < 0 ? errno : 0, n == len};
}

// Hands over buffered bytes (there are some).
StreamRead Take(ReadAhead& a, char* buf, int len) {
    const int have = a.count.load();
    const int n = std::min(len, have);
    std::memcpy(buf, a.data.get() + a.start, static_cast<size_t>(n));
    a.start += n;
    a.count.store(have - n);
    return {n, 0, have > n || a.lastFull};
}

// One system read into the caller's buffer and, behind it, the empty read-ahead buffer:
// the first len bytes need no second copy. Never waits.
ssize_t FillOnce(Socket& s, char* buf, int len, int sysFlags, int& err) {
    ReadAhead& a = s.ahead;
    if (!a.data) a.data = std::make_unique_for_overwrite<char[]>(kReadAheadSize);
    iovec parts[2] = {{buf, static_cast<size_t>(len)}, {a.data.get(), static_cast<size_t>(kReadAheadSize)}};
    msghdr m{};
    m.msg_iov = parts;
    m.msg_iovlen = 2;
    std::lock_guard fill(a.fillMu);
    const ssize_t n = ::recvmsg(s.fd, &m, sysFlags | MSG_DONTWAIT);
    err = n < 0 ? errno : 0;
    if (n > len) {
        a.start = 0;
        a.count.store(static_cast<int>(n - len));
    }
    a.lastFull = n == static_cast<ssize_t>(len) + kReadAheadSize;
    return n;
}

StreamRead Fill(Socket& s, char* buf, int len, int sysFlags) {
    for (;;) {
        int err = 0;
        const ssize_t n = FillOnce(s, buf, len, sysFlags, err);
        const bool wouldBlock = n < 0 && (err == EAGAIN || err == EWOULDBLOCK);
        if (!wouldBlock || s.nonBlocking) return {n > len ? len : n, err, n > len || s.ahead.lastFull};
        // A blocking socket waits here, outside the fill lock: the notifier may need it.
        pollfd p{s.fd, POLLIN, 0};
        ::poll(&p, 1, -1);
    }
}

// Bytes the system holds behind the buffered ones, looked at only when it reports some:
// a look at an empty stream would take a pending error that a later read must report.
ssize_t PeekSystem(int fd, char* buf, int len) {
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0 || waiting <= 0) return 0;
    const ssize_t n = ::recv(fd, buf, static_cast<size_t>(std::min(len, waiting)), MSG_PEEK | MSG_DONTWAIT);
    return n > 0 ? n : 0;
}

// A look at the unread stream as it stands: buffered bytes, then the system's. A caller
// that peeks for more than the buffer holds must see the rest, or it would wait forever.
StreamRead Peek(Socket& s, char* buf, int len, int sysFlags) {
    ReadAhead& a = s.ahead;
    const int have = a.count.load();
    if (have == 0) {
        const StreamRead r = Direct(s.fd, buf, len, sysFlags);
        return {r.n, r.err, r.n > 0};
    }
    const int n = std::min(len, have);
    std::memcpy(buf, a.data.get() + a.start, static_cast<size_t>(n));
    const ssize_t more = len > have ? PeekSystem(s.fd, buf + have, len - have) : 0;
    return {n + more, 0, true};
}

}  // namespace

namespace winsock_impl {

StreamRead ReadStream(Socket& s, char* buf, int len, int sysFlags) {
    if (sysFlags & MSG_PEEK) return Peek(s, buf, len, sysFlags);
    // Buffered bytes answer on their own: a read of the system behind them could take an
    // error or the end that belongs after them.
    if (s.ahead.count.load() > 0) return Take(s.ahead, buf, len);
    if (len >= kDirectReadSize) return Direct(s.fd, buf, len, sysFlags);
    return Fill(s, buf, len, sysFlags);
}

int UnreadBytes(Socket& s) {
    std::lock_guard fill(s.ahead.fillMu);
    int n = 0;
    if (::ioctl(s.fd, FIONREAD, &n) != 0 || n < 0) n = 0;
    return n + s.ahead.count.load();
}

void CloseDescriptor(Socket& s) {
    if (s.ahead.count.load() > 0) {
        linger reset{1, 0};
        ::setsockopt(s.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    ::close(s.fd);
}

}  // namespace winsock_impl
