// SPDX-License-Identifier: Apache-2.0
#pragma once
// Kept-alive connections of the WinInet stand-in (private to it): one pool for the whole
// process, shared by every handle and every thread, so that the next request to the same
// place skips the connection set-up.
//
// A connection is filed under what it reaches and how: the scheme (a TLS connection never
// carries a plain request, nor the other way round), the server's host and port, and the
// proxy it goes through. The pool owns the sockets (and their TLS state) it holds; Take
// hands one over to the caller, who owns it from then on. Connections are only ever filed by the request
// that used them, once its response was read whole (WinInetTransfer.cpp decides).
//
// Bounds: a connection idle for kIdleLimitMs is closed (by a sweeping thread of the pool's
// own, started with the first connection filed), and at most kIdlePerServer connections
// wait per key: filing one more closes the one idle longest.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "wininet/WinInetTls.h"
#include "platform/WinTypes.h"

namespace wininet {

// A request sent behind another on a connection: its head as the request that takes it up
// composes it (the key), and whether it went out with "Range: bytes=0-" (its answer, from a
// server that honours ranges, is a 206 with the whole body; a plain one is not: answers in
// the wrong places show).
struct AheadRequest {
    std::string head;
    bool ranged = false;
};

// A connected socket and, for https, the TLS session running over it.
struct KeptConnection {
    int fd = -1;
    std::unique_ptr<TlsStream> tls;
    // The requests sent behind the last answer on it and not taken up yet, in order, and
    // the bytes received past that answer: the head of the first one's answer, seen to
    // parse where it was due (WinInetTransfer.cpp, Confirm). Such a connection serves only
    // a request with exactly the first one's head.
    std::deque<AheadRequest> ahead;
    std::string received;
    // The bytes of the last answer on it (head and body), hashed: an answer that repeats
    // the one before it byte for byte is out of step.
    std::uint64_t lastAnswer = 0;
    int roundTripMs = 0;  // from a request's send to its answer's head, nothing in front
};

// Whether a server may get a request behind another on one connection (sent once the
// answer in front of it has begun). Every server may until one of its connections is found
// out of step (an answer that never came, bytes left over, no head where one was due, an
// answer repeated); from then on it gets one request at a time for the rest of the process.
bool BackToBackAllowed(const std::string& key);
void TurnBackToBackOff(const std::string& key);
// Whether a server may get a second request behind the answer it is sending: once it has
// answered a request sent with "Range: bytes=0-" behind another with a 206 for the whole
// body (so that plain and ranged answers tell each other apart, and requests sent behind
// another alternate), and while back to back is allowed.
bool TwoAheadAllowed(const std::string& key);
void NoteRangesHonoured(const std::string& key);

// 30 s: long enough to carry a page or an album from one request to the next, short
// enough that a server is not held for long; servers that close earlier cost a check.
constexpr int kIdleLimitMs = 30000;
// The most connections the program runs at once to one server (16 photos at a time).
constexpr std::size_t kIdlePerServer = 16;
// A request that must not be sent twice (a POST) takes only a connection this fresh: far
// below any server's own idle limit (seconds), so that the server has not given it up.
constexpr int kFreshForOnceMs = 1000;

// "http host:port" or "https host:port" (the host in lower case) of the server; with
// proxyHost not empty, plain requests are filed under the proxy alone and TLS ones (a
// tunnel to the server) under the server and the proxy.
std::string PoolKey(bool secure, const std::string& host, WORD port, const std::string& proxyHost = {},
                    WORD proxyPort = 0);

// The connection filed last under key, at most maxIdleMs ago, that still looks usable (the
// server neither closed it nor sent anything unasked), or one with fd -1. Connections
// found unusable are closed; those carrying a request sent ahead stay for it.
KeptConnection TakeIdle(const std::string& key, int maxIdleMs = kIdleLimitMs);

// The connection under key on which a request with exactly this head was sent ahead, or
// one with fd -1. Its answer may have arrived in part (KeptConnection::received); the
// server may also have closed it meanwhile, which the caller finds when it reads.
KeptConnection TakeAnswering(const std::string& key, const std::string& head);

// Files a connected socket whose last response was read whole.
void PutIdle(const std::string& key, KeptConnection connection);

}  // namespace wininet
