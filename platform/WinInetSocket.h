#pragma once
// Blocking TCP over BSD sockets with a time limit on every wait (private to the WinInet
// stand-in). Results are 0 or a WinInet error code. A limit of 0 or 0xFFFFFFFF waits
// without end. The socket stays non-blocking: shutting it down from another thread wakes
// a wait, which then ends like an end of stream.
#include <cstddef>
#include <mutex>
#include <string>

#include "platform/WinTypes.h"

namespace wininet {

// The socket of a request, shared between the thread using it and a close from another
// thread: Abort shuts the socket down (the using thread's wait then ends) but only the
// owner closes it, so a socket number is never shut down after it was reused.
class SocketSlot {
public:
    ~SocketSlot() { Close(); }
    void Set(int fd);
    int Get();
    void Close();
    void Abort();
    bool Aborted();

private:
    std::mutex mu_;
    int fd_ = -1;
    bool aborted_ = false;
};

// Resolves host (a name or an address, "[v6]" allowed) and connects to the first address
// that answers; the socket is in slot from its creation, so that an abort can cut the
// wait short. Errors: NAME_NOT_RESOLVED, CANNOT_CONNECT, TIMEOUT.
DWORD ConnectTo(const std::string& host, WORD port, DWORD timeoutMs, SocketSlot& slot);

// Sends every byte. Errors: CONNECTION_RESET, CONNECTION_ABORTED, TIMEOUT.
DWORD SendAll(int fd, const char* data, std::size_t size, DWORD timeoutMs);

// Receives what is there (at most size bytes), waiting for something to arrive.
// received = 0 with result 0 means the peer closed its side.
DWORD ReceiveSome(int fd, char* buffer, std::size_t size, DWORD timeoutMs, std::size_t& received);

}  // namespace wininet
