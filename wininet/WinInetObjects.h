// SPDX-License-Identifier: Apache-2.0
#pragma once
// The objects behind the Internet handles (private to the WinInet stand-in).
//
// A handle value names its object and is never given out again. The registry keeps every
// open object alive through a shared pointer; each call takes its own reference for as long
// as it runs, so a handle closed by another thread in the middle of a call is freed only
// when the call has returned.
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "wininet/WinInet.h"
#include "wininet/WinInetHead.h"
#include "wininet/WinInetPool.h"
#include "wininet/WinInetProxy.h"
#include "wininet/WinInetSocket.h"
#include "wininet/WinInetTls.h"

namespace wininet {

struct Timeouts {
    DWORD connectMs = 30000;
    DWORD sendMs = 30000;
    DWORD receiveMs = 60000;
    // A transfer slower than lowSpeedLimit bytes/s over lowSpeedTimeMs fails (0: no limit).
    DWORD lowSpeedLimit = 0;
    DWORD lowSpeedTimeMs = 0;
};

enum class HandleKind { Session, Connection, Request };

struct InternetObject {
    explicit InternetObject(HandleKind k) : kind(k) {}
    virtual ~InternetObject() = default;

    // Called when the handle is closed (possibly from another thread).
    virtual void Abort() {}

    const HandleKind kind;
    Timeouts timeouts;
    std::atomic<bool> closed{false};
};

struct Session : InternetObject {
    Session() : InternetObject(HandleKind::Session) {}
    std::string agent;
    ProxySettings proxy;
};

struct Connection : InternetObject {
    Connection() : InternetObject(HandleKind::Connection) {}
    std::string agent;
    ProxySettings proxy;
    std::string server;
    INTERNET_PORT port = 0;  // 0: the scheme's default, chosen by the request
    std::string userName, password;
};

struct Request : InternetObject {
    Request() : InternetObject(HandleKind::Request) {}
    void Abort() override { socket.Abort(); }

    // What the request was opened with (copied from the connection and the call).
    std::string agent;
    ProxySettings proxy;
    std::string server;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    std::string userName, password;
    std::string verb, target, version, referrer;
    std::vector<std::string> acceptTypes;
    DWORD flags = 0;
    bool secure = false;  // https (INTERNET_FLAG_SECURE, or where a redirection led)

    // One state per step of the handle's life; only the thread using the handle moves it.
    enum class State { Opened, Sending, Answered, Failed } state = State::Opened;

    SocketSlot socket;
    std::unique_ptr<TlsStream> tls;  // over socket for https; only the using thread touches it
    std::string tlsFailure;          // why the last TLS failure happened, naming the server
    std::string proxyFailure;        // why the proxy failed the request, naming the step
    ResponseHead head;
    std::optional<std::uint64_t> bodyLeft;  // unset: the body runs to the connection's end;
                                            // chunked: what is left of the current chunk
    bool chunked = false;                   // Transfer-Encoding: chunked, decoded
    bool chunkData = false;                 // a chunk's data was read: its CR LF comes next
    bool chunkDone = false;                 // the last chunk and the trailers are read
    std::string pending;                    // received bytes not handed out yet
    std::size_t pendingAt = 0;
    bool atEnd = false;                     // the server closed the connection
    DWORD readError = 0;                    // set once a read failed; sticks
    std::string poolKey;                    // what the connection reaches (WinInetPool.h)
    bool keepable = false;                  // framed, and the server keeps the connection open
    std::vector<std::string> nextTargets;   // HttpAnnounceNextRequestA's objects, encoded
    // The announced requests as composed for this connection: plain (the key) and ranged.
    std::vector<std::pair<std::string, std::string>> announced;
    std::deque<AheadRequest> ahead;         // the requests sent behind this answer, in order
    bool behind = false;                    // this request was sent behind another answer
    bool ranged = false;                    // ... with "Range: bytes=0-"
    std::uint64_t answerHash = 0;           // this answer's head and body so far (Hash)
    std::uint64_t lastAnswer = 0;           // the answer before it on its connection (behind)
    bool confirmed = false;                 // Confirm has run
    int roundTripMs = 0;                    // the connection's (KeptConnection::roundTripMs)
    bool spoiled = false;                   // a request sent ahead failed part way: never file it
    // Low speed (Timeouts::lowSpeed*): bytes received since speedSince; why it failed.
    bool speedWatched = false;
    std::chrono::steady_clock::time_point speedSince;
    std::uint64_t speedBytes = 0;
    std::string slowFailure;
};

// The process-wide timeouts for sessions opened from now on.
Timeouts DefaultTimeouts();
void SetDefaultTimeout(DWORD option, DWORD ms);

HINTERNET Register(std::shared_ptr<InternetObject> object);
// The open object behind a handle of the given kind, or null with the last error set.
std::shared_ptr<InternetObject> Lookup(HINTERNET handle);
template <class T>
std::shared_ptr<T> LookupAs(HINTERNET handle, HandleKind kind) {
    std::shared_ptr<InternetObject> o = Lookup(handle);
    if (!o) return nullptr;
    if (o->kind != kind) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(o);
}
// Removes the handle; false (ERROR_INVALID_HANDLE) when it is not open.
bool Unregister(HINTERNET handle);

// What InternetGetLastResponseInfoA reports on this thread: set by each sending or reading
// call (code 0 and no text when it had no TLS failure).
void SetLastTlsFailure(DWORD code, const std::string& text);

}  // namespace wininet
