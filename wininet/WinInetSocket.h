// SPDX-License-Identifier: Apache-2.0
#pragma once
// Blocking TCP over BSD sockets with a time limit on every wait (private to the WinInet
// stand-in). Results are 0 or a WinInet error code. A limit of 0 or 0xFFFFFFFF waits
// without end. The socket stays non-blocking: shutting it down from another thread wakes
// a wait, which then ends like an end of stream.
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "platform/WinTypes.h"

namespace wininet {

// The socket of a request, shared between the thread using it and a close from another
// thread: Abort shuts the socket down (the using thread's wait then ends) but only the
// owner closes it, so a socket number is never shut down after it was reused. Once
// aborted, a slot stays aborted: a socket set into it later is shut down at once.
class SocketSlot {
public:
    ~SocketSlot() { Close(); }
    void Set(int fd);
    int Get();
    void Close();
    // Hands the socket to the caller (the connection pool) and empties the slot, so that a
    // later Abort cannot reach it. -1, the socket left in the slot, once aborted.
    int Release();
    void Abort();
    bool Aborted();
    // A wait that is not on the socket (a name look-up) registers how to end it: Abort
    // calls cancel under the slot's lock, so cancel must not call back into the slot.
    // False, and nothing registered, when the slot is aborted already. Null clears it.
    bool SetCanceller(std::function<void()> cancel);

private:
    std::mutex mu_;
    int fd_ = -1;
    bool aborted_ = false;
    std::function<void()> cancel_;
};

// Resolves host (a name or an address, "[v6]" allowed; see WinInetLookup.h, which obeys the
// process's address family) and connects. Addresses of one family are tried in turn, each
// under the whole timeout, the socket in slot from its creation so that an abort can cut
// the wait short. Addresses of both families are raced: IPv6 first, the next address 250 ms
// later (at once when the running attempts failed), the first connection wins, the others
// are closed; the timeout bounds the whole race and an abort ends it at once. Errors:
// NAME_NOT_RESOLVED, CANNOT_CONNECT, TIMEOUT, OPERATION_CANCELLED (slot aborted).
DWORD ConnectTo(const std::string& host, WORD port, DWORD timeoutMs, SocketSlot& slot);

// Sends every byte. Errors: CONNECTION_RESET, CONNECTION_ABORTED, TIMEOUT.
DWORD SendAll(int fd, const char* data, std::size_t size, DWORD timeoutMs);

// Receives what is there (at most size bytes), waiting for something to arrive.
// received = 0 with result 0 means the peer closed its side.
DWORD ReceiveSome(int fd, char* buffer, std::size_t size, DWORD timeoutMs, std::size_t& received);

}  // namespace wininet
