// SPDX-License-Identifier: Apache-2.0
#pragma once
// The texts of an HTTP/1.0 exchange (private to the WinInet stand-in): the request head
// the client sends and the response head it reads. Pure text work, no sockets.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wininet {

struct RequestHeadInput {
    std::string verb, target, version;  // target: path or absolute address, already encoded
    std::string host;                   // Host line value
    std::string agent, referrer;        // empty: no line
    std::vector<std::string> acceptTypes;
    bool reload = false;
    std::string userName, password;            // user name empty: no Authorization
    std::string proxyUserName, proxyPassword;  // user name empty: no Proxy-Authorization
    std::string extraHeaders;                  // lines separated by CR LF, LF or CR
    bool hasBody = false;
    std::uint64_t bodyLength = 0;
    bool keepAlive = false;  // ask for the connection to stay open
};

// The request line, the header lines in a fixed order (Host, User-Agent, Accept, Referer,
// Authorization, Proxy-Authorization, Pragma, Cache-Control, the extra lines,
// Content-Length, "Connection: Keep-Alive" unless the extra lines hold a Connection line)
// and the empty line.
std::string ComposeRequestHead(const RequestHeadInput& in);

// The path as it may stand in a request line: "/" added in front when missing; blanks,
// control bytes and bytes from 0x80 up %-encoded.
std::string EncodeTarget(std::string_view path);

std::string Base64(std::string_view bytes);

// An accept entry reduced to its media range ("Accept: */*" -> "*/*").
std::string AcceptRange(std::string_view entry);

struct ResponseHead {
    std::string version;  // "HTTP/1.0"
    int status = 0;
    std::string reason;
    std::vector<std::pair<std::string, std::string>> headers;  // in order, values trimmed
    std::string raw;  // status line and headers, each ended by CR LF, no empty line

    // The value of the n-th header with this name (case-insensitive).
    const std::string* Find(std::string_view name, std::size_t n = 0) const;
};

// Where the head ends in the bytes received so far: the offset just after the empty line,
// or 0 while it is incomplete. Accepts CR LF and bare LF line ends.
std::size_t HeadEnd(std::string_view received);

// Parses a complete head (as delimited by HeadEnd); false when it is not an HTTP response.
bool ParseResponseHead(std::string_view text, ResponseHead& out);

// Whether the server leaves the connection open after this response: an HTTP/1.1 answer
// unless a Connection (or Proxy-Connection) line says "close", an older one only when
// such a line says "keep-alive". Says nothing about whether the body can be framed.
bool StaysOpen(const ResponseHead& head);

// Where a Location answer points, seen from a request to server:port for target: an
// absolute http or https address (port 80 or 443 unless given), a "//host/..." reference
// (the request's scheme), an absolute path or a path relative to the target's folder (the
// fragment dropped). False for another scheme or no host.
struct Location {
    std::string server;
    std::uint16_t port = 80;
    std::string target;  // encoded as EncodeTarget does
    bool secure = false;  // https
};
bool ResolveLocation(std::string_view location, const Location& from, Location& to);

// A valid Content-Length: decimal digits only (blanks around allowed), no overflow.
std::optional<std::uint64_t> ParseContentLength(std::string_view value);

}  // namespace wininet
