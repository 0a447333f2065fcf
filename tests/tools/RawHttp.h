#pragma once
// Byte-level HTTP exchanges for checks a full client would hide: the exact bytes of a
// response and whether the server closed the connection.
#include <cstddef>
#include <string>

struct RawResponse {
    std::string head;         // status line and headers, up to and including the empty line
    std::string body;         // everything after the head
    bool closedByPeer = false;  // the server ended the connection (read returned 0)
    // The announced Content-Length, or -1 when there is none.
    long long ContentLength() const;
};

// Sends `request` verbatim to 127.0.0.1:port and reads until the server closes or
// nothing arrives for idleMs.
RawResponse RawExchange(int port, const std::string& request, int idleMs = 3000);
