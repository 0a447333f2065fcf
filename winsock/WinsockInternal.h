// SPDX-License-Identifier: Apache-2.0
#pragma once
// State shared by the source files of the Winsock stand-in (not a public header).
//
// One mutex guards the socket table and every socket's notification flags; the notifier
// thread takes it for each batch of readiness events. The socket calls find descriptors
// through a per-thread cache validated by State::generation, and take the mutex only to
// update flags (the two flags they read first are atomic for that). Messages are posted
// while it is held, so that the order of the notifications of one socket is the order of
// the decisions. The message layer never calls back into this module, so that nesting
// cannot deadlock. A socket's read-ahead has a lock of its own, taken after mu when both
// are needed (never the other way round).
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "winsock/Winsock.h"

namespace winsock_impl {

// Bytes a stream socket has taken from the system ahead of its caller (WinsockReadAhead.cpp).
// Only the socket's owning thread reads or moves the bytes; count is atomic because the
// notifier counts them too.
struct ReadAhead {
    std::unique_ptr<char[]> data;  // allocated at the first small read
    int start = 0;                 // first byte the caller has not taken
    std::atomic<int> count{0};     // bytes from start on
    bool lastFull = false;         // the last fill got all it asked for: more is likely waiting
    // A fill (the system read and the count it publishes) is one step under this lock, and
    // so is a count of unread bytes: bytes moving from the system into the buffer are
    // always seen in one of the two.
    std::mutex fillMu;
};

struct Socket {
    int fd = -1;
    int type = WS_SOCK_STREAM;
    bool nonBlocking = false;
    bool listening = false;
    bool connected = false;       // stream: connection established (connected or accepted)
    bool connectPending = false;  // non-blocking connect in flight
    bool failed = false;          // connect failed: no further notifications
    bool shutSend = false;        // shutdown(SD_SEND/SD_BOTH) done
    std::atomic<bool> ended{false};  // the peer ended or reset the stream
    bool hardEnd = false;         // both directions are gone: nothing more can happen
    int endError = 0;             // Winsock code FD_CLOSE carries (0 = orderly end)
    bool endErrorKnown = false;
    // Linger as set through setsockopt, for the non-blocking closesocket rule.
    bool lingerOn = false;
    int lingerSeconds = 0;
    bool closeWaiting = false;
    std::int64_t closeDeadlineMs = 0;
    // Notification target and the re-enabling flags.
    HWND wnd = 0;
    UINT msg = 0;
    long events = 0;
    std::atomic<bool> readPosted{false};  // FD_READ posted; the next recv re-enables it
    bool acceptPosted = false;  // FD_ACCEPT posted; the next accept re-enables it
    bool writeOwed = false;     // FD_WRITE is due as soon as there is room
    bool closePosted = false;
    std::uint32_t armed = 0;    // epoll events currently requested (0 = not registered)
    ReadAhead ahead;            // stream sockets only
};

struct State {
    std::mutex mu;
    std::atomic<int> startups{0};
    std::unordered_map<SOCKET, std::shared_ptr<Socket>> sockets;
    SOCKET nextHandle = 0x100;
    // Changes (under mu) whenever a handle closes or a socket's blocking mode changes, so
    // that the per-thread handle caches of the socket calls can be checked without mu.
    std::atomic<std::uint64_t> generation{1};
};

State& Global();

// The calling thread's error slot.
void SetError(int wsaCode);
// Winsock code for a system errno value.
int FromErrno(int err);
// False (and WSANOTINITIALISED) when no WSAStartup is in force.
bool CheckStarted();
// The socket of a handle, under the lock; null (and WSAENOTSOCK) when there is none.
Socket* FindLocked(SOCKET s);

// Read-ahead (WinsockReadAhead.cpp), called by the socket's owning thread unless noted.
struct StreamRead {
    ssize_t n;   // bytes for the caller, or -1
    int err;     // errno when n < 0
    bool more;   // more bytes are waiting, or most likely are
};
// A recv of a stream socket (len > 0, system flags without MSG_OOB): buffered bytes first;
// a small read fills the buffer with one system read, a large one reads straight into buf.
// A socket in blocking mode waits for data without holding the fill lock.
StreamRead ReadStream(Socket& s, char* buf, int len, int sysFlags);
// Bytes the caller has not taken: buffered plus held by the system. Any thread (the
// notifier calls it under mu).
int UnreadBytes(Socket& s);
// Closes the descriptor; bytes still buffered make it a reset, as unread bytes in the
// system would have.
void CloseDescriptor(Socket& s);

// Notifier (WinsockSelect.cpp). All under the lock.
void RearmLocked(SOCKET h, Socket& s);         // request the readiness events s now needs
void ForgetLocked(Socket& s);                  // stop watching s (before its close)
// recv/recvfrom re-enable FD_READ; more = the read left bytes behind (or most likely did).
void AfterReceiveLocked(SOCKET h, Socket& s, bool more);
void AfterWouldBlockSendLocked(SOCKET h, Socket& s);
void AfterAcceptLocked(SOCKET h, Socket& s);
void ConnectDecidedLocked(SOCKET h, Socket& s, int wsaError);  // outcome known at once
int AsyncSelectLocked(SOCKET h, Socket& s, HWND wnd, UINT msg, long events);
// Stops the notifier thread (not under the lock); at the last WSACleanup.
void StopNotifier();

// Look-ups (WinsockLookup.cpp): cancels every pending request (last WSACleanup).
void CancelAllLookups();

// Monotonic milliseconds.
std::int64_t NowMs();

}  // namespace winsock_impl
