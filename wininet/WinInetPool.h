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
#include <memory>
#include <string>

#include "wininet/WinInetTls.h"
#include "platform/WinTypes.h"

namespace wininet {

// A connected socket and, for https, the TLS session running over it.
struct KeptConnection {
    int fd = -1;
    std::unique_ptr<TlsStream> tls;
    // The head of a request sent ahead on it and not answered yet (empty: none), and the
    // bytes of its answer that were received already. Such a connection serves only a
    // request with exactly that head.
    std::string ahead;
    std::string received;
    // The request ahead went out (at aheadSentAt) before the answer in front of it had
    // begun: back to back. Its answer is due within two round trips of the connection
    // (roundTripMs: from a request's send to its answer's head, with nothing in front) plus
    // the server's work; none by then: the server dropped it.
    bool early = false;
    std::chrono::steady_clock::time_point aheadSentAt;
    int roundTripMs = 0;
};

// Whether a server answers requests that reach it back to back on one connection, as
// learned in this process. Some servers read two requests at once, answer the first and
// drop the second: a request sent behind another is a probe until the server answers one.
enum class BackToBack { Unknown, Kept, Dropped };
BackToBack BackToBackOf(const std::string& key);
// Whether an announced request may go in one write with the first request on a connection:
// to a server seen to answer it (Kept), or as the one probe out at a time to a server not
// seen yet (a probe that found nothing within kProbeStaleMs lets another go).
bool MaySendTogether(const std::string& key);
// Records what a request sent back to back found; once Dropped, a server stays so.
void NoteBackToBack(const std::string& key, bool answered);
constexpr int kProbeStaleMs = 3000;

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
