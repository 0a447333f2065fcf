// SPDX-License-Identifier: Apache-2.0
// Following a Location header: working out the new address as soon as the header line
// arrives, closing the connection at the end of the header, and reconnecting from the
// message loop (never from inside the socket's own close handler).
#include "http/HttpProt.h"

#include "base/UrlText.h"
#include "http/HttpProtUrl.h"

namespace {

// A relative reference resolved against the path of the current request: "?q" replaces
// the query, anything else replaces the last segment.
std::string MergeWithBase(const std::string& basePath, const std::string& ref) {
    const std::string base = basePath.substr(0, basePath.find('?'));
    if (!ref.empty() && ref[0] == '?') return (base.empty() ? "/" : base) + ref;
    const std::size_t slash = base.rfind('/');
    return (slash == std::string::npos ? std::string("/") : base.substr(0, slash + 1)) + ref;
}

std::string AbsoluteAddress(const std::string& protocol, const std::string& host, const std::string& port,
                            const std::string& path) {
    return protocol + "://" + host + (port.empty() ? "" : ":" + port) + path;
}

}  // namespace

void THttpCli::NoteNewLocation(const std::string& value) {
    if (HasLineBreakOrNul(value))
        throw EHttpException("refused the relocation to " + PrintableAddress(value) +
                                 ": the address holds a line break (CR or LF) or a NUL byte",
                             404);
    relocating_ = true;
    std::string protocol, host, port, path;
    bool bareHost = false;  // an address without a path: Location names just the server
    if (!value.empty() && value[0] == '/' && value.compare(0, 2, "//") != 0) {
        // Same server, new path.
        protocol = targetProto_;
        host = targetHost_;
        port = targetPort_;
        path = value;
    } else {
        std::string user, password;
        path = targetPath_;  // the base of "./" and "../"
        SplitUrl(value, protocol, user, password, host, port, path);
        if (!protocol.empty() && !host.empty()) {
            // An absolute address: a new server (its user and password are not used).
            bareHost = path.empty();
            if (bareHost) path.push_back('/');
        } else if (host.empty() && !path.empty() && path[0] == '/') {
            // "./x", "../x": resolved to a path on the same server.
            protocol = targetProto_;
            host = targetHost_;
            port = targetPort_;
        } else {
            // Any other relative form ("next.htm", "dir/next.htm", "?q") is a path relative
            // to the current one, on the same server; it is not a host name.
            protocol = targetProto_;
            host = targetHost_;
            port = targetPort_;
            path = MergeWithBase(targetPath_, value);
        }
    }
    if (protocol.empty()) protocol = "http";
    path = RequestTargetOf(path);

    targetProto_ = protocol;
    targetHost_ = host;
    targetPort_ = port;
    targetPath_ = path;
    if (proxy_.empty()) {
        connectHost_ = host;
        connectPort_ = port.empty() ? DefaultPortOf(protocol) : port;
        requestPath_ = path;
        location_ = AbsoluteAddress(protocol, host, connectPort_ == DefaultPortOf(protocol) ? std::string() : connectPort_,
                                    bareHost ? std::string() : path);
    } else if (IsTlsProtocol(protocol)) {
        // Through a tunnel the request names the path only.
        requestPath_ = path;
        location_ = AbsoluteAddress(protocol, host, port, path);
    } else {
        // Through a proxy the connection stays the proxy's; the request names the address.
        requestPath_ = AbsoluteAddress(protocol, host, port, path);
        location_ = requestPath_;
    }
}

void THttpCli::StartRelocation() {
    FireHeaderEnd();
    rcv_.Clear();
    headerLines_ = 0;
    bodyChunks_ = 0;
    closeToRelocate_ = true;
    CloseConnection();
    // A connection that was already down raises no close event: relocate here.
    if (closeToRelocate_) Relocate();
}

void THttpCli::Relocate() {
    connected_ = false;
    relocating_ = false;
    closeToRelocate_ = false;
    if (requestKind_ == httpPOST) requestKind_ = httpGET;  // the new address is fetched without a body
    KillTimer(window_, 0);
    if (++relocations_ > MaxRelocations) {
        MarkFailure(404, 404, "Too many relocations: more than " + std::to_string(MaxRelocations) + " in a row");
        HandleSessionClosed(0);
        return;
    }
    if (OnLocationChange) OnLocationChange(this);
    responseHeader_.Clear();
    responseHeaderBytes_ = 0;
    PostMessage(window_, MSG_HTTP_RECONNECT, requestId_, 0);
}
