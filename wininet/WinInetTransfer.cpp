// SPDX-License-Identifier: Apache-2.0
// The exchange of one request: send it, read the response head, hand out the body.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "base/SysUtils.h"
#include "wininet/WinInet.h"
#include "wininet/WinInetObjects.h"
#include "wininet/WinInetSocks.h"

using namespace wininet;

namespace {

constexpr std::size_t kMaxHead = 64 * 1024;  // a larger head is not a response we accept
constexpr std::size_t kReceiveChunk = 64 * 1024;
constexpr int kMaxRedirects = 10;
// How long an answer on a connection carrying requests back to back waits for the head of
// the answer behind it (Confirm), beyond two round trips: the server's work on that request,
// which may be slow (a photo not in a cache). None by then: out of step, and the photo is
// fetched again alone. Too short a wait costs a slow server its requests back to back;
// too long a wait only delays, once, a server that leaves a request unanswered.
constexpr int kNextHeadWaitMs = 5000;
// How long such a connection, with no request outstanding after its last answer, is
// watched for bytes the server should not send (a body longer than its announced length).
// Bytes written with the answer arrive with it, so a few milliseconds catch them; a longer
// window would still miss bytes held back a round trip by the sender's window, and it costs
// every connection's last photo its length in waiting. What it misses shows when the
// connection is used again (closed for stray bytes), and a photo cut short fails its check.
constexpr int kSettleMs = 5;
constexpr std::uint64_t kHashStart = 14695981039346656037ull;

bool Fail(DWORD code) {
    SetLastError(code);
    return false;
}

// FNV-1a: enough to tell an answer from the one before it.
std::uint64_t Hash(std::uint64_t h, const char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        h ^= static_cast<unsigned char>(p[i]);
        h *= 1099511628211ull;
    }
    return h;
}

bool IsTlsFailure(DWORD code) {
    return code == ERROR_INTERNET_INVALID_CA || code == ERROR_INTERNET_SEC_CERT_CN_INVALID ||
           code == ERROR_INTERNET_SEC_CERT_DATE_INVALID || code == ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
}

// Notes why a TLS call failed, for InternetGetLastResponseInfoA.
DWORD NoteTls(Request& r, DWORD err) {
    if (IsTlsFailure(err) && r.tls) r.tlsFailure = r.tls->FailureText();
    return err;
}

void CloseConnection(Request& r) {
    r.tls.reset();
    r.socket.Close();
}

// The Host line and the absolute address name the port only when it is not the scheme's
// default; a tunnel's address always names it.
std::string HostWithPort(const Request& r, bool alwaysPort = false) {
    std::string host = r.server;
    if (host.find(':') != std::string::npos && host.front() != '[' && host.find(':') != host.rfind(':'))
        host = "[" + host + "]";  // a bare IPv6 address
    const INTERNET_PORT standard = r.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    if (alwaysPort || r.port != standard) host.append(1, ':').append(std::to_string(r.port));
    return host;
}

int MsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

bool Unlimited(DWORD ms) { return ms == 0 || ms == 0xFFFFFFFF; }

std::string Seconds(DWORD ms) {
    char text[32];
    if (ms % 1000 == 0)
        std::snprintf(text, sizeof text, "%u s", static_cast<unsigned>(ms / 1000));
    else
        std::snprintf(text, sizeof text, "%.3g s", ms / 1000.0);
    return text;
}

// Receives into r.pending; 0 or an error code. Sets r.atEnd at the end of the stream. With
// a low-speed limit, the bytes of each period of lowSpeedTimeMs are counted (a wait ends at
// the period's end to count them); too few fail with TIMEOUT and r.slowFailure says why.
DWORD ReceiveMore(Request& r) {
    if (r.pendingAt > 0) {
        r.pending.erase(0, r.pendingAt);
        r.pendingAt = 0;
    }
    const Timeouts& t = r.timeouts;
    const bool watch = t.lowSpeedLimit > 0 && !Unlimited(t.lowSpeedTimeMs);
    if (watch && !r.speedWatched) {
        r.speedWatched = true;
        r.speedSince = std::chrono::steady_clock::now();
        r.speedBytes = 0;
    }
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        DWORD wait = t.receiveMs;
        if (!Unlimited(wait)) wait = static_cast<DWORD>(std::max<int>(1, static_cast<int>(t.receiveMs) - MsSince(start)));
        bool cut = false;  // the wait ends at the period's end, not at the receive timeout
        if (watch) {
            const DWORD left = static_cast<DWORD>(std::max<int>(1, static_cast<int>(t.lowSpeedTimeMs) - MsSince(r.speedSince)));
            if (Unlimited(wait) || left < wait) {
                wait = left;
                cut = true;
            }
        }
        const std::size_t old = r.pending.size();
        r.pending.resize(old + kReceiveChunk);
        std::size_t got = 0;
        const DWORD err = r.tls ? NoteTls(r, r.tls->Receive(r.pending.data() + old, kReceiveChunk, wait, got))
                                : ReceiveSome(r.socket.Get(), r.pending.data() + old, kReceiveChunk, wait, got);
        r.pending.resize(old + got);
        if (r.closed) return ERROR_INTERNET_OPERATION_CANCELLED;
        if (watch) {
            r.speedBytes += got;
            const int elapsed = MsSince(r.speedSince);
            if (elapsed >= static_cast<int>(t.lowSpeedTimeMs)) {
                if (r.speedBytes * 1000 < std::uint64_t{t.lowSpeedLimit} * static_cast<std::uint64_t>(elapsed)) {
                    r.slowFailure = "transfer too slow: below " + std::to_string(t.lowSpeedLimit) + " bytes/s for " +
                                    Seconds(t.lowSpeedTimeMs);
                    return ERROR_INTERNET_TIMEOUT;
                }
                r.speedSince = std::chrono::steady_clock::now();
                r.speedBytes = 0;
            }
        }
        if (err == ERROR_INTERNET_TIMEOUT && cut && got == 0) continue;
        if (err == 0 && got == 0) r.atEnd = true;
        return err;
    }
}

// Skips empty lines (CR, LF) where a status line is due; false when none is there yet.
bool SkipEmptyLines(Request& r) {
    while (r.pendingAt < r.pending.size() && (r.pending[r.pendingAt] == '\r' || r.pending[r.pendingAt] == '\n'))
        ++r.pendingAt;
    return r.pendingAt < r.pending.size();
}

// Reads heads until a final (non-1xx) one; the bytes after it stay in r.pending. Empty lines
// in front of a status line are skipped; a connection that ends before a whole head is a
// connection closed early (the request may be sent again), bytes that are not a head an
// invalid response.
DWORD ReadHead(Request& r) {
    for (;;) {
        std::size_t end;
        while (!SkipEmptyLines(r) || (end = HeadEnd(std::string_view(r.pending).substr(r.pendingAt))) == 0) {
            if (r.pending.size() - r.pendingAt > kMaxHead) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
            if (r.atEnd) return ERROR_INTERNET_CONNECTION_ABORTED;  // closed without a full head
            if (const DWORD err = ReceiveMore(r)) return err;
        }
        const std::string_view text = std::string_view(r.pending).substr(r.pendingAt, end);
        if (!ParseResponseHead(text, r.head)) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        r.answerHash = Hash(kHashStart, text.data(), text.size());
        r.pendingAt += end;
        if (r.head.status >= 200 || r.head.status < 100) return 0;
    }
}

// Whether a Transfer-Encoding value ends with "chunked".
bool EndsChunked(const std::string& value) {
    std::string last = value.substr(value.rfind(',') == std::string::npos ? 0 : value.rfind(',') + 1);
    return LowerCase(Trim(last)) == "chunked";
}

void FrameBody(Request& r) {
    const int s = r.head.status;
    r.chunked = r.chunkData = r.chunkDone = false;
    r.bodyLeft.reset();
    if (r.verb == "HEAD" || s == 204 || s == 304 || (s >= 100 && s < 200)) {
        r.bodyLeft = 0;
        return;
    }
    // A transfer coding wins over a length, whatever version was asked; one that is not
    // chunked runs to the close.
    if (const std::string* coding = r.head.Find("Transfer-Encoding")) {
        if (EndsChunked(*coding)) {
            r.chunked = true;
            r.bodyLeft = 0;
        }
        return;
    }
    if (const std::string* length = r.head.Find("Content-Length")) r.bodyLeft = ParseContentLength(*length);
}

// Every byte of the body was handed out (a chunked one: its last chunk and trailers read).
bool BodyWhole(const Request& r) { return r.bodyLeft && *r.bodyLeft == 0 && (!r.chunked || r.chunkDone); }

// One line from r.pending without its end, receiving as needed.
DWORD ReadLine(Request& r, std::string& line) {
    for (;;) {
        const std::size_t nl = r.pending.find('\n', r.pendingAt);
        if (nl != std::string::npos) {
            line.assign(r.pending, r.pendingAt, nl - r.pendingAt);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            r.pendingAt = nl + 1;
            return 0;
        }
        if (r.pending.size() - r.pendingAt > kMaxHead) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        if (r.atEnd) return ERROR_INTERNET_CONNECTION_ABORTED;
        if (const DWORD err = ReceiveMore(r)) return err;
    }
}

// The next chunk of a chunked body: its size into r.bodyLeft, or, after the last chunk and
// the trailers, r.chunkDone.
DWORD NextChunk(Request& r) {
    std::string line;
    if (r.chunkData) {
        if (const DWORD err = ReadLine(r, line)) return err;
        if (!line.empty()) return ERROR_HTTP_INVALID_SERVER_RESPONSE;  // data longer than its size
        r.chunkData = false;
    }
    if (const DWORD err = ReadLine(r, line)) return err;
    const std::string digits = Trim(line.substr(0, line.find(';')));
    if (digits.empty() || digits.size() > 15 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    const std::uint64_t size = std::stoull(digits, nullptr, 16);
    if (size > 0) {
        r.bodyLeft = size;
        r.chunkData = true;
        return 0;
    }
    do {
        if (const DWORD err = ReadLine(r, line)) return err;
    } while (!line.empty());
    r.chunkDone = true;
    return 0;
}

// A 206 with the whole body: Content-Range "bytes 0-(n-1)/n", n the Content-Length.
bool WholeRange(const ResponseHead& head) {
    const std::string* length = head.Find("Content-Length");
    const std::string* range = head.Find("Content-Range");
    const auto n = length ? ParseContentLength(*length) : std::nullopt;
    return head.status == 206 && n && *n > 0 && range &&
           *range == "bytes 0-" + std::to_string(*n - 1) + "/" + std::to_string(*n);
}

// Whether an answer fits the place it came in on a connection of a server that honours
// ranges: an answer only a ranged request gets (206, or 416 for a range it will not serve)
// where a ranged one was due, a success other than 206 where a plain one was. Any other
// answer there (an error page included) cannot be told from a neighbour's.
bool SlotFits(const ResponseHead& head, bool ranged) {
    if (ranged) return head.status == 206 || head.status == 416;
    return head.status >= 200 && head.status <= 299 && head.status != 206;
}

// Whether the connection is in step after this answer; runs once, when the answer is whole,
// on a connection that carried requests back to back (one was sent behind this answer, or
// this request behind another). In step: this answer does not repeat the one before it
// byte for byte, and either the head of the answer behind it parses right where it is due
// (empty lines skipped; it stays in r.pending for its request), or nothing is outstanding
// and nothing but empty lines arrives within kSettleMs. A connection the server closes
// there, with nothing left over, ends in step (a server may close at any answer's end).
// To a server that honours ranges the next answer must also fit its place (SlotFits).
bool Confirm(Request& r) {
    r.confirmed = true;
    if (r.ahead.empty() && !r.behind) return true;
    if (r.behind && r.answerHash == r.lastAnswer) return false;
    const DWORD saved = r.timeouts.receiveMs;
    const DWORD savedLimit = r.timeouts.lowSpeedLimit;
    r.timeouts.lowSpeedLimit = 0;
    const int wait = r.ahead.empty() ? kSettleMs : 2 * r.roundTripMs + kNextHeadWaitMs;
    r.timeouts.receiveMs = Unlimited(saved) ? static_cast<DWORD>(wait) : std::min<DWORD>(saved, static_cast<DWORD>(wait));
    bool inStep = false;
    for (;;) {
        if (SkipEmptyLines(r)) {
            ResponseHead next;
            const std::size_t end = HeadEnd(std::string_view(r.pending).substr(r.pendingAt));
            if (r.ahead.empty()) break;  // bytes nobody asked for
            if (end > 0) {
                inStep = ParseResponseHead(std::string_view(r.pending).substr(r.pendingAt, end), next) &&
                         (!TwoAheadAllowed(r.poolKey) || SlotFits(next, r.ahead.front().ranged));
                break;
            }
            // A head arrives in pieces, but its first bytes say what it is.
            const std::string start = LowerCase(r.pending.substr(r.pendingAt, 5));
            if (std::string("http/").compare(0, start.size(), start) != 0) break;
            if (r.pending.size() - r.pendingAt > kMaxHead) break;
        }
        if (r.atEnd) {
            inStep = r.pendingAt == r.pending.size();
            break;
        }
        const DWORD err = ReceiveMore(r);
        if (err == ERROR_INTERNET_TIMEOUT) {
            inStep = r.ahead.empty() && r.pendingAt == r.pending.size();
            break;
        }
        if (err) {  // reset: as a close, when nothing is left over
            inStep = r.pendingAt == r.pending.size();
            r.atEnd = true;
            break;
        }
    }
    r.timeouts.receiveMs = saved;
    r.timeouts.lowSpeedLimit = savedLimit;
    return inStep;
}

// The response is over: its connection goes back to the pool when the response was framed,
// the server keeps it open, every byte of the body was handed out and nothing came after
// it but the answer to a request sent ahead; else it is closed. An aborted request's
// connection is never filed.
void Finish(Request& r) {
    const bool whole = BodyWhole(r);
    if (r.ahead.empty()) SkipEmptyLines(r);
    const bool nothingElse = r.pendingAt == r.pending.size() || !r.ahead.empty();
    if (r.keepable && whole && nothingElse && !r.atEnd && !r.closed) {
        const int fd = r.socket.Release();
        if (fd >= 0) {
            r.keepable = false;
            KeptConnection c;
            c.fd = fd;
            c.tls = std::move(r.tls);
            c.ahead = std::move(r.ahead);
            c.received = r.pending.substr(r.pendingAt);
            c.lastAnswer = r.answerHash;
            c.roundTripMs = r.roundTripMs;
            r.ahead.clear();
            PutIdle(r.poolKey, std::move(c));
            return;
        }
    }
    r.ahead.clear();
    CloseConnection(r);
}

// Sends an announced request behind this answer on its connection: the first once this
// answer has begun (the server has read this request whole, so the next one reaches it
// alone, and no answer to it can come before this one); a second, to a server that honours
// ranges, once this answer is whole. Requests sent behind another alternate plain and
// ranged, so that an answer out of its place shows (SlotFits). A failure here is not this
// request's: the connection just is not filed for the next.
void SendAhead(Request& r, const std::pair<std::string, std::string>& request) {
    const bool ranged = r.ahead.empty() ? !r.ranged : !r.ahead.back().ranged;
    const std::string& bytes = ranged ? request.second : request.first;
    const DWORD err = r.tls ? r.tls->Send(bytes.data(), bytes.size(), r.timeouts.sendMs)
                            : SendAll(r.socket.Get(), bytes.data(), bytes.size(), r.timeouts.sendMs);
    if (err) {
        r.spoiled = true;
        return;
    }
    r.ahead.push_back({request.first, ranged});
}

// The first announced request not sent behind this answer yet (null: none).
const std::pair<std::string, std::string>* NextAnnounced(const Request& r) {
    for (const auto& a : r.announced) {
        const bool sent = std::any_of(r.ahead.begin(), r.ahead.end(), [&](const AheadRequest& x) { return x.head == a.first; });
        if (!sent) return &a;
    }
    return nullptr;
}

// The answer is whole: Confirm, then Finish. Out of step, nothing on the connection is
// trusted: it is closed, its server gets no more requests back to back, and the answer is
// not handed over as whole (ANSWER_DISCARDED: the request may be sent again alone).
bool Complete(Request& r) {
    if (r.confirmed) return true;
    // The second request behind: it reaches the server while it sends the first one's
    // answer, so that the connection never idles for a round trip.
    if (r.keepable && r.ahead.size() == 1 && !r.closed && TwoAheadAllowed(r.poolKey)) {
        if (const auto* next = NextAnnounced(r)) SendAhead(r, *next);
        if (r.spoiled) r.keepable = false;
    }
    const bool inStep = Confirm(r);
    if (r.closed) {  // a stop, not the server's doing
        r.readError = ERROR_INTERNET_OPERATION_CANCELLED;
        CloseConnection(r);
        return false;
    }
    if (!inStep) {
        TurnBackToBackOff(r.poolKey);
        r.keepable = false;
        r.ahead.clear();
        CloseConnection(r);
        r.readError = ERROR_INTERNET_ANSWER_DISCARDED;
        return false;
    }
    Finish(r);
    return true;
}

// Sends the request on the connection in r.socket (unless out is empty: it was sent
// already) and reads the head.
DWORD Converse(Request& r, const std::string& out) {
    if (out.empty()) return ReadHead(r);
    const DWORD err = r.tls ? NoteTls(r, r.tls->Send(out.data(), out.size(), r.timeouts.sendMs))
                            : SendAll(r.socket.Get(), out.data(), out.size(), r.timeouts.sendMs);
    if (err) return r.closed ? ERROR_INTERNET_OPERATION_CANCELLED : err;
    return ReadHead(r);
}

// Sends the request with nothing in front of it on its connection and reads the head;
// measures the connection's round trip.
DWORD ConverseTimed(Request& r, const std::string& out) {
    const auto start = std::chrono::steady_clock::now();
    const DWORD err = Converse(r, out);
    if (!err) r.roundTripMs = MsSince(start);
    return err;
}

// The proxy as messages name it: "socks5://host:port", or "host:port".
std::string ProxyName(const ProxySettings& proxy) {
    return proxy.describe.empty() ? proxy.host + ":" + std::to_string(proxy.port) : proxy.describe;
}

// Asks the proxy on r.socket for a tunnel to the server; 0 once it is open, CANNOT_CONNECT
// when the proxy refuses (any answer but 2xx; r.proxyFailure names the proxy and its
// answer), or the connection's error.
DWORD OpenTunnel(Request& r, const ProxySettings& proxy) {
    const std::string authority = HostWithPort(r, true);
    std::string out = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    if (!r.agent.empty()) out += "User-Agent: " + r.agent + "\r\n";
    if (!proxy.userName.empty())
        out += "Proxy-Authorization: Basic " + Base64(proxy.userName + ":" + proxy.password) + "\r\n";
    out += "\r\n";
    const std::string name = ProxyName(proxy);
    if (const DWORD err = Converse(r, out)) {
        if (!r.closed) r.proxyFailure = "the proxy " + name + " gave no answer to the tunnel to " + authority;
        return err;
    }
    const int status = r.head.status;
    const std::string reason = r.head.reason;
    // The tunnel carries TLS from its first byte: anything after the proxy's answer is not.
    const bool clean = r.pendingAt == r.pending.size();
    r.head = ResponseHead{};
    r.pending.clear();
    r.pendingAt = 0;
    if (status >= 200 && status < 300 && clean) return 0;
    std::string printable = reason;
    for (char& c : printable)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    r.proxyFailure = "the proxy " + name + " refused the tunnel to " + authority + ": HTTP " + std::to_string(status) +
                     (printable.empty() ? "" : " " + printable);
    return ERROR_INTERNET_CANNOT_CONNECT;
}

// Runs the TLS handshake on the connection in r.socket.
DWORD StartTls(Request& r) {
    r.tls = std::make_unique<TlsStream>();
    const DWORD err = NoteTls(r, r.tls->Handshake(r.socket.Get(), r.server, r.port, r.timeouts.connectMs));
    return r.closed ? ERROR_INTERNET_OPERATION_CANCELLED : err;
}

// A kept connection on which no whole head came back: the server had given it up while it
// idled (closed or reset it, before or inside the head), or left bytes on it that are not
// an answer. It never answered this request, which goes again on a new connection.
bool ClosedUnanswered(DWORD err) {
    return err == ERROR_INTERNET_CONNECTION_RESET || err == ERROR_INTERNET_CONNECTION_ABORTED ||
           err == ERROR_HTTP_INVALID_SERVER_RESPONSE;
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// One round: take a kept connection or connect, send, read the head.
DWORD SendOnce(Request& r, const std::string& extraHeaders, const void* body, DWORD bodyLength) {
    ProxySettings proxy;
    if (!ProxyForRequest(r.proxy, r.secure, r.server, proxy, r.proxyFailure)) return ERROR_INTERNET_INVALID_PROXY_REQUEST;
    const bool viaProxy = proxy.enabled;
    // Through a SOCKS proxy the request goes as if direct. Through an HTTP proxy a plain
    // request names the whole address; a TLS one goes through a tunnel and looks as if
    // sent to the server itself.
    const bool socks = viaProxy && proxy.kind != ProxyKind::Http;
    const bool absolute = viaProxy && !socks && !r.secure;
    RequestHeadInput in;
    in.verb = r.verb;
    in.target = absolute ? "http://" + HostWithPort(r) + r.target : r.target;
    in.version = r.version;
    in.host = HostWithPort(r);
    in.agent = r.agent;
    in.referrer = r.referrer;
    in.acceptTypes = r.acceptTypes;
    in.reload = (r.flags & INTERNET_FLAG_RELOAD) != 0;
    in.userName = r.userName;
    in.password = r.password;
    if (absolute) {
        in.proxyUserName = proxy.userName;
        in.proxyPassword = proxy.password;
    }
    in.extraHeaders = extraHeaders;
    in.hasBody = (body && bodyLength > 0) || r.verb == "POST" || r.verb == "PUT";
    in.bodyLength = body ? bodyLength : 0;
    in.keepAlive = true;

    if (r.server.empty()) return ERROR_INTERNET_NAME_NOT_RESOLVED;
    std::string out = ComposeRequestHead(in);
    if (body && bodyLength > 0) out.append(static_cast<const char*>(body), bodyLength);
    // A connection through a SOCKS proxy leads to its server alone.
    r.poolKey = !viaProxy ? PoolKey(r.secure, r.server, r.port)
                : socks   ? PoolKey(r.secure, r.server, r.port) + " via " + proxy.describe
                          : PoolKey(r.secure, r.server, r.port, proxy.host, proxy.port);
    // The announced requests, to go out behind this one (SendAhead): plain, and ranged. A
    // proxy that reads plain requests is left out: not every one keeps them in order.
    r.announced.clear();
    if (r.verb == "GET" && !in.hasBody && !absolute && BackToBackAllowed(r.poolKey)) {
        for (const std::string& target : r.nextTargets) {
            in.target = target;
            in.extraHeaders = extraHeaders;
            std::string plain = ComposeRequestHead(in);
            in.extraHeaders = extraHeaders + (extraHeaders.empty() ? "" : "\r\n") + "Range: bytes=0-";
            r.announced.emplace_back(std::move(plain), ComposeRequestHead(in));
        }
    }

    // A request that may be sent twice goes on any kept connection: when the server has
    // closed it meanwhile, the request is sent again, once, on a new connection, and the
    // caller never sees the difference. Any other request (a POST) is never sent again, so
    // it takes only a connection that answered a moment ago, or a new one.
    // A connection on which this very request was sent ahead comes first: its answer is on
    // the way already.
    const bool replayable = r.verb == "GET" || r.verb == "HEAD";
    KeptConnection kept;
    if (replayable && !r.socket.Aborted()) {
        kept = TakeAnswering(r.poolKey, out);
        if (kept.fd < 0) kept = TakeIdle(r.poolKey);
    } else if (!r.socket.Aborted()) {
        kept = TakeIdle(r.poolKey, kFreshForOnceMs);
    }
    bool answered = false;
    if (kept.fd >= 0) {
        r.socket.Set(kept.fd);
        r.tls = std::move(kept.tls);
        r.pending = std::move(kept.received);
        r.pendingAt = 0;
        r.roundTripMs = kept.roundTripMs;
        r.behind = !kept.ahead.empty();
        r.ranged = r.behind && kept.ahead.front().ranged;
        if (r.behind) {
            kept.ahead.pop_front();
            r.ahead = std::move(kept.ahead);
        }
        r.lastAnswer = kept.lastAnswer;
        DWORD err = r.behind ? ReadHead(r) : ConverseTimed(r, out);
        // A range the server will not serve (an empty photo), or serves in part: asked again
        // plain, anew.
        if (!err && r.ranged && (r.head.status == 416 || (r.head.status == 206 && !WholeRange(r.head))))
            err = ERROR_HTTP_INVALID_SERVER_RESPONSE;
        if (r.closed) return ERROR_INTERNET_OPERATION_CANCELLED;
        if (err && (!replayable || !ClosedUnanswered(err))) return err;
        answered = err == 0;
        if (!answered) {
            CloseConnection(r);
            r.ahead.clear();
            r.behind = false;
            r.ranged = false;
            r.spoiled = false;
            r.atEnd = false;
            r.tlsFailure.clear();
            r.pending.clear();
            r.pendingAt = 0;
        }
    }
    if (!answered) {
        const DWORD connected = viaProxy ? ConnectTo(proxy.host, proxy.port, r.timeouts.connectMs, r.socket)
                                         : ConnectTo(r.server, r.port, r.timeouts.connectMs, r.socket);
        if (r.closed) return ERROR_INTERNET_OPERATION_CANCELLED;
        if (connected) {
            const std::string name = ProxyName(proxy);
            if (viaProxy && connected == ERROR_INTERNET_CANNOT_CONNECT) r.proxyFailure = "cannot connect to the proxy " + name;
            if (viaProxy && connected == ERROR_INTERNET_NAME_NOT_RESOLVED)
                r.proxyFailure = "cannot resolve the host name of the proxy " + name;
            if (viaProxy && connected == ERROR_INTERNET_TIMEOUT) r.proxyFailure = "timed out connecting to the proxy " + name;
            return connected;
        }
        if (socks) {
            if (const DWORD err = SocksConnect(r.socket, proxy, r.server, r.port, r.timeouts.connectMs, r.proxyFailure))
                return r.closed ? ERROR_INTERNET_OPERATION_CANCELLED : err;
        } else if (viaProxy && r.secure) {
            if (const DWORD err = OpenTunnel(r, proxy)) return r.closed ? ERROR_INTERNET_OPERATION_CANCELLED : err;
        }
        if (r.secure) {
            if (const DWORD err = StartTls(r)) return err;
        }
        if (const DWORD err = ConverseTimed(r, out)) return err;
    }
    FrameBody(r);
    r.keepable = !r.spoiled && r.bodyLeft.has_value() && StaysOpen(r.head);
    // A server seen to answer a ranged request behind another with a whole 206 may get two
    // behind an answer: the answers of neighbours then tell each other apart.
    if (r.behind && r.ranged && WholeRange(r.head)) NoteRangesHonoured(r.poolKey);
    const bool followed = IsRedirect(r.head.status) && !(r.flags & INTERNET_FLAG_NO_AUTO_REDIRECT);
    if (r.keepable && r.ahead.empty() && !followed) {
        if (const auto* next = NextAnnounced(r)) SendAhead(r, *next);
        r.keepable = !r.spoiled;
    }
    return 0;
}

bool IsRedirectFailure(DWORD code) { return code == ERROR_HTTP_REDIRECT_FAILED || code == ERROR_HTTP_TOO_MANY_REDIRECTS; }

// Prepares the request for the place a redirection answer names: 0 when it goes on there,
// when the answer is to be handed to the caller as it is (not a redirection, or the caller
// follows them itself) with handBack set, else why it cannot go on. A 303, and a 301 or 302
// to a POST, continue as a GET without the body; a request that moves to another server
// leaves its credentials. lastHop: no further redirection may be followed.
DWORD FollowRedirect(Request& r, bool& keepBody, bool lastHop, bool& handBack) {
    const int s = r.head.status;
    handBack = (r.flags & INTERNET_FLAG_NO_AUTO_REDIRECT) || (s != 301 && s != 302 && s != 303 && s != 307 && s != 308);
    if (handBack) return 0;
    const std::string* location = r.head.Find("Location");
    Location to;
    if (!location || !ResolveLocation(*location, Location{r.server, r.port, r.target, r.secure}, to))
        return ERROR_HTTP_REDIRECT_FAILED;  // no address, or one this client cannot fetch
    if (lastHop) return ERROR_HTTP_TOO_MANY_REDIRECTS;
    if (LowerCase(to.server) != LowerCase(r.server) || to.port != r.port || to.secure != r.secure) {
        r.userName.clear();
        r.password.clear();
    }
    r.nextTargets.clear();  // announced for the first server, and for the first answer's sake
    r.announced.clear();
    r.server = to.server;
    r.port = to.port;
    r.secure = to.secure;
    r.target = to.target;
    if (s == 303 || ((s == 301 || s == 302) && r.verb == "POST")) {
        if (r.verb != "HEAD") r.verb = "GET";
        keepBody = false;
    }
    // A short body that is already here is read, so that its connection may carry the next
    // hop; the connection is closed otherwise.
    if (!r.chunked && r.bodyLeft && r.pending.size() - r.pendingAt >= *r.bodyLeft) {
        r.pendingAt += static_cast<std::size_t>(*r.bodyLeft);
        r.bodyLeft = 0;
    }
    Finish(r);
    r.keepable = false;
    r.spoiled = false;
    r.head = ResponseHead{};
    r.pending.clear();
    r.pendingAt = 0;
    r.atEnd = false;
    r.bodyLeft.reset();
    r.behind = false;
    r.ranged = false;
    r.confirmed = false;
    return 0;
}

DWORD Exchange(Request& r, const char* headers, DWORD headersLength, const void* body, DWORD bodyLength) {
    std::string extra;
    if (headers) extra = headersLength == DWORD(-1) ? std::string(headers) : std::string(headers, headersLength);
    bool keepBody = true;
    for (int hop = 0;; ++hop) {
        if (const DWORD err = SendOnce(r, extra, keepBody ? body : nullptr, keepBody ? bodyLength : 0)) return err;
        bool handBack = false;
        if (const DWORD err = FollowRedirect(r, keepBody, hop == kMaxRedirects, handBack)) return err;
        if (handBack) return 0;
        if (!keepBody) extra.clear();  // the body's Content-Type goes with the body
    }
}

// Copies a text answer to the caller's buffer in the interface's manner.
bool Answer(const std::string& value, bool asNumber, void* buffer, DWORD* bufferLength) {
    if (asNumber) {
        const auto n = ParseContentLength(value);  // the same digit rule for every number
        if (!n || *n > 0xFFFFFFFFull) return Fail(ERROR_HTTP_INVALID_HEADER);
        if (*bufferLength < sizeof(DWORD)) {
            *bufferLength = sizeof(DWORD);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        const DWORD v = static_cast<DWORD>(*n);
        std::memcpy(buffer, &v, sizeof v);
        *bufferLength = sizeof v;
        return true;
    }
    if (*bufferLength < value.size() + 1) {
        *bufferLength = static_cast<DWORD>(value.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *bufferLength = static_cast<DWORD>(value.size());
    return true;
}

}  // namespace

bool HttpSendRequestA(HINTERNET request, const char* headers, DWORD headersLength, const void* body,
                      DWORD bodyLength) {
    auto r = LookupAs<Request>(request, HandleKind::Request);
    if (!r) return false;
    if (r->state != Request::State::Opened) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    r->state = Request::State::Sending;
    const DWORD err = Exchange(*r, headers, headersLength, body, bodyLength);
    const std::string& said = IsTlsFailure(err)                                     ? r->tlsFailure
                              : err == ERROR_INTERNET_TIMEOUT && !r->slowFailure.empty() ? r->slowFailure
                                                                                         : r->proxyFailure;
    SetLastTlsFailure(err && !said.empty() ? err : 0, err ? said : std::string());
    if (IsRedirectFailure(err)) {
        // The answer that was not followed stays open to questions (where it points); its
        // body is not the document asked for.
        r->state = Request::State::Answered;
        r->readError = err;
        CloseConnection(*r);
        return Fail(err);
    }
    if (err) {
        r->state = Request::State::Failed;
        CloseConnection(*r);
        return Fail(err);
    }
    r->state = Request::State::Answered;
    if (BodyWhole(*r)) Complete(*r);  // nothing to read: done with the connection
    return true;
}

bool HttpQueryInfoA(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* bufferLength, DWORD* index) {
    auto r = LookupAs<Request>(request, HandleKind::Request);
    if (!r) return false;
    if (!bufferLength || (!buffer && *bufferLength > 0)) return Fail(ERROR_INVALID_PARAMETER);
    if (r->state != Request::State::Answered) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    const DWORD level = infoLevel & 0xFFFF;
    const DWORD modifiers = infoLevel & 0xFFFF0000;
    if (modifiers & ~HTTP_QUERY_FLAG_NUMBER) return Fail(ERROR_INVALID_PARAMETER);
    const bool asNumber = modifiers != 0;
    const ResponseHead& h = r->head;

    std::string name;
    switch (level) {
        case HTTP_QUERY_VERSION: return Answer(h.version, asNumber, buffer, bufferLength);
        case HTTP_QUERY_STATUS_CODE: return Answer(std::to_string(h.status), asNumber, buffer, bufferLength);
        case HTTP_QUERY_STATUS_TEXT: return Answer(h.reason, asNumber, buffer, bufferLength);
        case HTTP_QUERY_RAW_HEADERS_CRLF: return Answer(h.raw, asNumber, buffer, bufferLength);
        case HTTP_QUERY_CONTENT_TYPE: name = "Content-Type"; break;
        case HTTP_QUERY_CONTENT_LENGTH:
            if (r->chunked) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);  // the chunks frame the body
            name = "Content-Length";
            break;
        case HTTP_QUERY_LOCATION: name = "Location"; break;
        case HTTP_QUERY_CUSTOM:
            if (!buffer) return Fail(ERROR_INVALID_PARAMETER);
            name.assign(static_cast<const char*>(buffer), strnlen(static_cast<const char*>(buffer), *bufferLength));
            break;
        default: return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    }
    const std::string* value = h.Find(name, index ? *index : 0);
    if (!value) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    if (!Answer(*value, asNumber, buffer, bufferLength)) return false;
    if (index) ++*index;
    return true;
}

bool InternetReadFile(HINTERNET request, void* buffer, DWORD toRead, DWORD* read) {
    auto r = LookupAs<Request>(request, HandleKind::Request);
    if (!r) return false;
    if (!read || (!buffer && toRead > 0)) return Fail(ERROR_INVALID_PARAMETER);
    *read = 0;
    if (r->state != Request::State::Answered) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (r->readError) {
        const bool slow = r->readError == ERROR_INTERNET_TIMEOUT && !r->slowFailure.empty();
        SetLastTlsFailure(IsTlsFailure(r->readError) || slow ? r->readError : 0,
                          IsTlsFailure(r->readError) ? r->tlsFailure : slow ? r->slowFailure : std::string());
        return Fail(r->readError);
    }

    auto* out = static_cast<char*>(buffer);
    DWORD done = 0;
    const bool hashed = r->behind || !r->ahead.empty();
    while (done < toRead) {
        if (r->bodyLeft && *r->bodyLeft == 0) {
            if (!r->chunked || r->chunkDone) break;
            if (const DWORD err = NextChunk(*r)) {
                r->readError = err;
                break;
            }
            continue;
        }
        const std::size_t available = r->pending.size() - r->pendingAt;
        if (available > 0) {
            std::size_t n = std::min<std::size_t>(toRead - done, available);
            if (r->bodyLeft) n = static_cast<std::size_t>(std::min<std::uint64_t>(n, *r->bodyLeft));
            std::memcpy(out + done, r->pending.data() + r->pendingAt, n);
            if (hashed) r->answerHash = Hash(r->answerHash, r->pending.data() + r->pendingAt, n);
            r->pendingAt += n;
            done += static_cast<DWORD>(n);
            if (r->bodyLeft) *r->bodyLeft -= n;
            continue;
        }
        if (r->atEnd) {
            // The end of the stream is the body's end only when no length was announced,
            // and over TLS only with a TLS close: without one the body may be cut short.
            if (r->bodyLeft) {
                r->readError = ERROR_INTERNET_CONNECTION_ABORTED;
            } else if (r->tls && r->tls->Truncated()) {
                r->readError = ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
                r->tlsFailure = "the connection with " + r->tls->Host() +
                                " ended without a TLS close: the body may be cut short";
            }
            break;
        }
        if (const DWORD err = ReceiveMore(*r)) {
            r->readError = err;
            break;
        }
    }
    // Done with the connection once the whole body is handed out (the end reported only
    // once its connection was found in step).
    if (!r->readError && BodyWhole(*r))
        Complete(*r);
    else if (r->atEnd && r->pendingAt == r->pending.size())
        Finish(*r);
    *read = done;
    const bool tlsFailed = done == 0 && IsTlsFailure(r->readError);
    const bool slow = done == 0 && r->readError == ERROR_INTERNET_TIMEOUT && !r->slowFailure.empty();
    SetLastTlsFailure(tlsFailed || slow ? r->readError : 0,
                      tlsFailed ? r->tlsFailure : slow ? r->slowFailure : std::string());
    if (done == 0 && r->readError) return Fail(r->readError);
    return true;
}
