// SPDX-License-Identifier: Apache-2.0
// The HTTP client over its real socket: a server on loopback sends the input's bytes,
// split where the input says, on as many connections as the client makes (relocations),
// and ends each connection with a close or a reset. Complements http_response_fuzzer,
// which replaces the socket: here the socket layer's reads, notifications and close
// handling run under the client. The request must end, never touch memory it does not
// own, keep the document and its byte count in step, and leave no socket or look-up
// behind.
//
// Option bits: 0-1 kind (GET, POST, HEAD, GET), 2 through a proxy, 3-4 the address.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzPeer.h"
#include "PeerScript.h"
#include "base/Stream.h"
#include "http/HttpProt.h"
#include "winsock/WinsockHooks.h"
#include "socket/WSocket.h"
#include "socket/WSocketWinsock.h"

namespace {

class TFuzzHttpCli : public THttpCli {
public:
    using THttpCli::BeginRequest;
    using THttpCli::Socket;
};

constexpr std::size_t kMaxConnections = 4;

// Names (from relocations) are not resolved: the run stays on loopback, and the system's
// resolver leaves no state on the look-up threads.
void ResolveAddressesOnly() {
    WinsockSetLookupHook([](const std::string& query) {
        in_addr a;
        return ::inet_pton(AF_INET, query.c_str(), &a) == 1 ? 0 : WSAHOST_NOT_FOUND;
    });
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "http_socket_fuzzer: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TFuzzPeer peer;
    static const bool hooked = (ResolveAddressesOnly(), true);
    (void)hooked;
    const TPeerScript script =
        ParsePeerScript(std::string_view(reinterpret_cast<const char*>(data), size), kMaxConnections);
    static const THttpRequest kinds[] = {httpGET, httpPOST, httpHEAD, httpGET};
    const THttpRequest kind = kinds[script.options & 3];
    static const char* const paths[] = {"/a/b.htm?q=1", "/", "/dir/", "/x.jpg"};
    const std::string path = paths[(script.options >> 3) & 3];
    std::size_t sent = 0;
    {
        TMemoryStream doc;
        TStringStream post("field=value");
        TFuzzHttpCli client;
        // A limit that only a fault reaches: the peer ends every connection it accepts.
        client.SetConnectTimeout(5000);
        client.SetIdleTimeout(5000);
        const std::string port = std::to_string(peer.Port());
        if (script.options & 4) {
            client.SetProxy("127.0.0.1");
            client.SetProxyPort(port);
            client.SetURL("http://album.invalid" + path);
        } else {
            client.SetURL("http://127.0.0.1:" + port + path);
        }
        client.SetDocStream(&doc);
        client.SetPostStream(&post);
        bool done = false;
        client.OnRequestDone = [&](TObject*, THttpRequest, WORD) { done = true; };
        const auto ended = [&] { return done && client.State() == httpIdle; };
        const auto unread = [&] { return NetworkUnread(client.Socket()); };

        client.BeginRequest(kind);
        for (const TPeerConnection& connection : script.connections) {
            if (!peer.Accept(5000, ended)) break;
            // The answer follows the whole request (head and announced body), as from a server.
            peer.PumpUntil(
                [&] {
                    const std::string& r = peer.Received();
                    const std::size_t head = r.find("\r\n\r\n");
                    if (head == std::string::npos) return ended();
                    const std::size_t length = r.find("\r\nContent-Length: ");
                    const std::size_t body =
                        length < head ? std::strtoul(r.c_str() + length + 18, nullptr, 10) : 0;
                    return r.size() >= head + 4 + body || ended();
                },
                2000);
            for (const std::string& piece : connection.pieces) {
                peer.Send(piece, unread);
                sent += piece.size();
            }
            if (connection.reset)
                peer.Reset();
            else
                peer.Close();
        }
        // Connections beyond the script are closed at once.
        if (!peer.PumpUntil(
                [&] {
                    peer.CloseWaiting();
                    return ended();
                },
                15000))
            Fail("the request did not end");
        if (doc.Size() != client.RcvdBytes()) Fail("document size and received count differ");
        if (client.RcvdBytes() > static_cast<std::int64_t>(sent)) Fail("more body bytes than were sent");
    }
    peer.CloseWaiting();
    if (WinsockOpenSocketCount() != 0 || LiveSocketCount() != 0) Fail("a socket outlived its client");
    if (!peer.PumpUntil([] { return WinsockLookupsInFlight() == 0; }, 5000)) Fail("a look-up outlived its client");
    return 0;
}
