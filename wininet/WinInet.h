// SPDX-License-Identifier: Apache-2.0
#pragma once
// A small blocking HTTP/1.0 client with the shape of the Windows Internet functions, for
// worker threads, over plain TCP or TLS (https). Every call blocks its thread until it is
// done or a timeout passes.
//
// Handles: InternetOpenA gives a session, InternetConnectA a connection of a session,
// HttpOpenRequestA a request of a connection. A child copies what it needs from its
// parent when it is created, so handles may be closed in any order. Nothing goes on the
// wire before HttpSendRequestA: it resolves the server, connects (directly or through the
// proxy) or takes a kept connection (below), sends the request and reads the status line
// and headers. Names resolve to the families the process allows (platform/AddressFamily.h);
// a name with addresses of both families is raced, IPv6 first and IPv4 250 ms later, the
// first connection winning. InternetReadFile then reads the body. Failing calls return
// null/false and set GetLastError() (LastError.h) to one of the codes below; a null or
// closed handle gives ERROR_INVALID_HANDLE.
//
// Proxy: with INTERNET_OPEN_TYPE_PRECONFIG the session takes the system settings, the
// environment variables http_proxy ("http://[user:password@]host[:port][/]" or
// "host[:port]", port 80 when none) and no_proxy (NO_PROXY): a comma- or blank-separated
// list of host names, each also matching its subdomains, "*" for every host. A proxy
// with another scheme than http is not used. Through a proxy a plain request line carries
// the absolute address "http://host[:port]/path", and proxy credentials are sent as
// Proxy-Authorization Basic; an https request goes through a CONNECT tunnel of the same
// proxy (the credentials go with the CONNECT).
//
// https: a request opened with INTERNET_FLAG_SECURE goes over TLS (port 443 when the
// connection was made with port 0). The TLS settings, trust and verification are those of
// tls/TlsClient.h: the system store plus the extra authority file, SNI for a name (not
// an address), the certificate checked against the name or address, TLS 1.2 at least. A
// failed handshake fails HttpSendRequestA with ERROR_INTERNET_INVALID_CA (no trusted
// authority, self-signed too), ERROR_INTERNET_SEC_CERT_CN_INVALID (another name),
// ERROR_INTERNET_SEC_CERT_DATE_INVALID (expired or not yet valid) or
// ERROR_INTERNET_SECURITY_CHANNEL_ERROR (any other handshake or record failure); these are
// final, and InternetGetLastResponseInfoA then gives a text that names the server and says
// how to trust it. A server that ends the connection without a TLS close where the end of
// the stream is the body's end (no Content-Length) fails the read with
// SECURITY_CHANNEL_ERROR: a possibly cut body never passes for a whole one. With the
// announced length complete the missing close does not matter; short of it the read fails
// as on a plain connection (CONNECTION_ABORTED). Through a proxy an https request goes
// through a CONNECT tunnel (the proxy's refusal fails HttpSendRequestA with CANNOT_CONNECT).
// A proxy that refuses the tunnel, cannot be reached or whose name does not resolve fails
// the request with CANNOT_CONNECT or NAME_NOT_RESOLVED, and InternetGetLastResponseInfoA
// names the proxy and the step ("the proxy host:port refused the tunnel to server:443:
// HTTP 403 Forbidden", "cannot resolve the host name of the proxy host:port").
// Sessions: the last session a server gave is kept per host and port for the process and
// resumed by the next new connection to it (WinInetTls.h).
//
// Kept-alive connections: every request asks the server to keep its connection open
// ("Connection: Keep-Alive" after the other header lines, the request line unchanged), and
// one pool for the whole process, shared by every handle and thread, keeps connections for
// the next request to the same place (scheme, server and port, and the proxy it goes
// through: a TLS connection never carries a plain request, nor the other way round). A
// connection goes back to the pool only once its response was read whole: framed by its
// Content-Length or its chunks (or a response that has no body), all of it handed out,
// nothing after it, and the server keeps it open (an HTTP/1.1 answer without "Connection: close", an older
// one with "Connection: keep-alive"). A body read until the close, an error, bytes left
// unread when the request handle is closed, or a closed (aborted) handle close the
// connection instead. A kept connection is closed after 30 s idle; at most 16 wait per
// server. A GET or HEAD takes a kept connection when there is one; when the server has
// closed or reset it before a whole head came back, or left bytes on it that are not an
// answer, the request is sent again, once, on a new connection, and the call goes on as if
// nothing happened. On a new connection a close before or inside the head fails with
// CONNECTION_ABORTED, as a body cut short does. Empty lines before a status line are
// skipped. A "Transfer-Encoding: chunked" answer is decoded whatever version was asked (its
// Content-Length, if any, is ignored and not reported); its body ends with the last chunk
// and the trailers, and a stream that ends before them fails the read as one cut short. Any other request (a POST)
// always gets a new connection, so it is never sent twice.
//
// Host names are looked up on a thread of their own: closing the request handle during
// a look-up ends HttpSendRequestA at once with OPERATION_CANCELLED, and the look-up is
// left to finish in the background. Numeric addresses need no look-up.
//
// Timeouts (INTERNET_OPTION_*_TIMEOUT, milliseconds; 0 or 0xFFFFFFFF = no limit):
// connect 30 s, send 30 s, receive 60 s, each per wait (inactivity, not total time). A TLS
// handshake waits under the connect timeout; closing the request handle ends it at once.
// InternetSetOptionA on a handle sets it for that handle and the children created after;
// on a null handle it sets the process-wide default for sessions opened later.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/LastError.h"
#include "platform/WinTypes.h"

using HINTERNET = void*;
using INTERNET_PORT = WORD;
using DWORD_PTR = std::uintptr_t;

// Access types of InternetOpenA.
constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;  // the system's proxy settings
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;      // proxy "host[:port]" and bypass list given

constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;
constexpr DWORD INTERNET_SERVICE_HTTP = 3;

// The schemes this client fetches (the values of the Windows INTERNET_SCHEME type).
constexpr int INTERNET_SCHEME_HTTP = 3;
constexpr int INTERNET_SCHEME_HTTPS = 4;

// Request flags of HttpOpenRequestA.
// RELOAD: the answer must come from the origin server, not from a cache on the way. On the
// wire the request carries "Pragma: no-cache" (HTTP/1.0 caches) and
// "Cache-Control: no-cache" (HTTP/1.1 caches). Other flags are accepted and ignored.
constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
// SECURE: the request goes over TLS (https), see above.
constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
// Redirections (301, 302, 303, 307, 308 to an http or https address, either way) are
// followed, at most 10 in a row, unless this flag is given; the handle then answers for the
// last place. Credentials stay behind when the scheme, server or port changes. Without the
// flag a redirection that cannot be followed fails HttpSendRequestA: one without Location
// or to an address this client cannot fetch (another scheme than http or https) with
// ERROR_HTTP_REDIRECT_FAILED, an 11th in a row with ERROR_HTTP_TOO_MANY_REDIRECTS. The
// head of that answer can still be queried; reading its body fails with the same code.
// With the flag every answer is handed back as it is.
constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;

// Info levels of HttpQueryInfoA (the value is given as text unless FLAG_NUMBER is added,
// which gives a DWORD).
constexpr DWORD HTTP_QUERY_CONTENT_TYPE = 1;
constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
constexpr DWORD HTTP_QUERY_VERSION = 18;          // "HTTP/1.1"
constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;      // "200"
constexpr DWORD HTTP_QUERY_STATUS_TEXT = 20;      // "OK"
constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22; // status line and headers, CR LF after each
constexpr DWORD HTTP_QUERY_LOCATION = 33;
constexpr DWORD HTTP_QUERY_CUSTOM = 65535;        // the buffer holds the header name on entry
constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// Options of InternetSetOptionA (the value is a DWORD).
constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
// Options of this interface's own: a transfer that receives fewer than LOW_SPEED_LIMIT bytes
// per second over a period of LOW_SPEED_TIME milliseconds (the head's wait included) fails
// with ERROR_INTERNET_TIMEOUT, and InternetGetLastResponseInfoA says so ("transfer too slow:
// below 1024 bytes/s for 30 s"). Either 0: no such limit (the default).
constexpr DWORD INTERNET_OPTION_LOW_SPEED_LIMIT = 1001;
constexpr DWORD INTERNET_OPTION_LOW_SPEED_TIME = 1002;

// Error codes.
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;  // the handle was closed meanwhile
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;       // refused or unreachable
// The system's proxy setting cannot be used (InternetGetLastResponseInfoA says why).
constexpr DWORD ERROR_INTERNET_INVALID_PROXY_REQUEST = 12033;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;   // closed before the body's end
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_HTTP_INVALID_HEADER = 12153;
constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;     // a redirection it cannot follow
// More redirections in a row than it follows (a code of this interface's own).
constexpr DWORD ERROR_HTTP_TOO_MANY_REDIRECTS = 12190;
// The answer on a connection carrying requests back to back was not confirmed: the
// connection went out of step after it (see HttpAnnounceNextRequestA), so its bytes may be
// another request's. Sending the request again is safe (a code of this interface's own).
constexpr DWORD ERROR_INTERNET_ANSWER_DISCARDED = 12191;
// TLS failures (see https above).
constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;

// agent: the User-Agent text; null or empty sends none. proxy/proxyBypass are read only
// with INTERNET_OPEN_TYPE_PROXY. flags: none are defined.
HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy,
                        const char* proxyBypass, DWORD flags);

// server: a host name or address; port 0 means 80, or 443 for a request opened with
// INTERNET_FLAG_SECURE. A non-empty user name makes every
// request carry "Authorization: Basic" with user and password. Only INTERNET_SERVICE_HTTP.
HINTERNET InternetConnectA(HINTERNET session, const char* server, INTERNET_PORT port,
                           const char* userName, const char* password, DWORD service,
                           DWORD flags, DWORD_PTR context);

// verb: null = "GET"; object: the path and query (null = "/", a missing leading "/" is
// added; blanks, control bytes and bytes from 0x80 up are sent %-encoded); version:
// null = "HTTP/1.0"; referrer: null or empty sends none; acceptTypes: null or a list ended
// by a null entry, each a media range, sent together as one "Accept:" line joined by ", "
// (an entry already written as "Accept: <range>" counts as that range).
// A CR, LF or NUL in any of these texts is refused (ERROR_INVALID_PARAMETER).
HINTERNET HttpOpenRequestA(HINTERNET connection, const char* verb, const char* object,
                           const char* version, const char* referrer, const char** acceptTypes,
                           DWORD flags, DWORD_PTR context);

// Announces the request that will follow this GET: the same in every respect but the
// object (taken as HttpOpenRequestA takes it); called a second time, the one after that.
// Only before HttpSendRequestA; false (ERROR_INVALID_PARAMETER) for an object
// HttpOpenRequestA would refuse, or a third. A hint: unless an HTTP proxy reads requests in
// between, the announced requests are sent on this request's connection, and a later
// request with exactly such a head, on any handle and thread, takes the connection and
// its answer instead of sending: its round trip overlaps the answers in front of it.
// The first goes out once this answer has begun (is framed, keeps the connection open and
// is not a redirection to follow): the server has read this request whole and answered
// it, so it never reads the two at once and cannot answer them out of order. Requests sent
// behind another alternate plain and with "Range: bytes=0-". A server seen to answer such a
// ranged request with a 206 for the whole body gets the second once this answer is whole:
// two requests may then reach it together, and an answer in the wrong place (a request
// dropped, answers swapped) shows, a plain answer where a ranged one was due or the other
// way round (any answer but a success counts as out of place there).
// Answers on such a connection are provisional: one is handed over as whole (the read that
// reports the end) only once the connection was seen in step after it: the head of the
// answer behind it parses right where it is due (empty lines skipped) and fits its place,
// or, with nothing behind it, nothing but empty lines follows within a short settle time
// (or the server closes there); and it does not repeat the answer before it byte for byte.
// Out of step (no answer in time, bytes left over, no head where one is due, an answer out
// of place or repeated), the read fails with ERROR_INTERNET_ANSWER_DISCARDED, the
// connection is closed with what it carried (a request sent behind goes again on a new
// connection when it is taken up), and the server gets no more requests behind another for
// the rest of the process. An announcement nobody takes up ends with the connection,
// closed when it has idled too long. Redirections drop them.
bool HttpAnnounceNextRequestA(HINTERNET request, const char* object);

// headers: extra header lines separated by CR LF (headersLength (DWORD)-1 = up to the NUL);
// body: optional bytes sent after the head. A request with a body, or a POST or PUT, gets
// a Content-Length line unless the extra headers hold one. Once per request handle.
// Fails with NAME_NOT_RESOLVED, CANNOT_CONNECT, TIMEOUT, CONNECTION_RESET/ABORTED,
// INVALID_SERVER_RESPONSE, or a redirection error (see INTERNET_FLAG_NO_AUTO_REDIRECT; the
// head stays queryable then); on success the status line and headers have been read
// (interim 1xx answers are skipped).
bool HttpSendRequestA(HINTERNET request, const char* headers, DWORD headersLength,
                      const void* body, DWORD bodyLength);

// The response head of a sent request. As text: the value and a NUL; *bufferLength is the
// length without the NUL; when the buffer is too small ERROR_INSUFFICIENT_BUFFER and
// *bufferLength is the size needed with the NUL. A header that is not there:
// ERROR_HTTP_HEADER_NOT_FOUND. index (may be null) picks the n-th occurrence of a repeated
// header and is advanced on success.
bool HttpQueryInfoA(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* bufferLength,
                    DWORD* index);

// Reads body bytes: fills the buffer unless the body ends first. The body ends with its
// last chunk when chunked, after Content-Length bytes when the response gives a valid one
// (bytes after it are ignored), else when the server closes the connection; responses to HEAD and 1xx/204/304 answers
// have none. At the end: true with *read = 0. A connection that ends before the announced
// length, a reset or a receive timeout: the bytes that arrived are returned first, then
// the call fails (CONNECTION_ABORTED, CONNECTION_RESET, TIMEOUT), and so does every later
// call on that request.
bool InternetReadFile(HINTERNET request, void* buffer, DWORD toRead, DWORD* read);

// Releases a handle. A blocking call on it in another thread returns with
// ERROR_INTERNET_OPERATION_CANCELLED.
bool InternetCloseHandle(HINTERNET handle);

bool InternetSetOptionA(HINTERNET handle, DWORD option, const void* buffer, DWORD bufferLength);

// The system's proxy setting, which sessions opened with INTERNET_OPEN_TYPE_PRECONFIG follow:
// by default http_proxy and no_proxy of the environment (above). A program with a proxy
// setting of its own hands it over with InternetSetSystemProxy; the function is then asked
// on the request's thread, for every connection a request makes, which proxy serves the
// server (secure: an https request) and answers false with a reason when the setting
// cannot be used (the request fails with ERROR_INTERNET_INVALID_PROXY_REQUEST). Through a
// SOCKS proxy the request goes as it would go directly (SOCKS 4 and 5 with the name
// resolved here, 4A and 5 "h" with the name sent to the proxy; SOCKS 5 user and password
// when given); a failing step fails the request with ERROR_INTERNET_CANNOT_CONNECT and
// InternetGetLastResponseInfoA names the step. An empty function restores the environment.
struct INTERNET_SYSTEM_PROXY {
    enum class Kind { None, Http, Socks4, Socks4a, Socks5, Socks5h };
    Kind kind = Kind::None;  // None: direct
    std::string host;
    INTERNET_PORT port = 0;
    std::string userName, password;
};
using InternetSystemProxyFn =
    std::function<bool(bool secure, const std::string& server, INTERNET_SYSTEM_PROXY& proxy, std::string& why)>;
void InternetSetSystemProxy(InternetSystemProxyFn choose);

// The text of the last TLS, proxy or low-speed failure of a sending or reading call on this
// thread (empty, and *error 0, when that call had none), copied into buffer as
// HttpQueryInfoA copies text.
// The text names the server and, for a certificate no authority vouches for, how to trust
// it.
bool InternetGetLastResponseInfoA(DWORD* error, char* buffer, DWORD* bufferLength);
