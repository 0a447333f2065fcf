// SPDX-License-Identifier: Apache-2.0
// A SOCKS proxy on loopback answers the socket's handshake with the input's bytes, split
// where the input says, then closes or resets. Whatever the proxy sends, the session ends
// once, OnSessionConnected comes at most once, the application reads only after a
// successful handshake and only bytes the proxy sent, in their order, and no socket is
// left behind.
//
// Option bits: 0-1 version (5, 4, 4A, 5), 2 user-name authentication (version 5),
// 3-4 bytes the application reads per notification (all, 1, 3, 64).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzPeer.h"
#include "PeerScript.h"
#include "base/Exception.h"
#include "winsock/WinsockHooks.h"
#include "socket/WSocket.h"
#include "socket/WSocketWinsock.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "socks_reply_fuzzer: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TFuzzPeer peer;
    const TPeerScript script = ParsePeerScript(std::string_view(reinterpret_cast<const char*>(data), size), 1);
    const TPeerConnection& proxy = script.connections.front();
    static const char* const levels[] = {"5", "4", "4A", "5"};
    const std::string level = levels[script.options & 3];
    static const int readSizes[] = {0, 1, 3, 64};
    const int readSize = readSizes[(script.options >> 3) & 3];

    int connected = 0, closed = 0;
    bool succeeded = false;
    std::string app;  // what the application read
    {
        TWSocket s;
        s.SetAddr(level == "4" ? "10.1.2.3" : "album.example");
        s.SetPort("80");
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort(std::to_string(peer.Port()));
        s.SetSocksLevel(level);
        s.SocksUsercode = "user";
        s.SocksPassword = "pass";
        if (script.options & 4) s.SocksAuthentication = socksAuthenticateUsercode;
        s.OnSessionConnected = [&](TObject*, WORD error) {
            ++connected;
            succeeded = error == 0;
        };
        s.OnSessionClosed = [&](TObject*, WORD) { ++closed; };
        s.OnDataAvailable = [&](TObject*, WORD) {
            if (!succeeded) Fail("data offered to the application during the handshake");
            if (readSize == 0) {
                app += s.ReceiveText();
                return;
            }
            std::string buf(static_cast<std::size_t>(readSize), '\0');
            const int n = s.Receive(buf.data(), readSize);
            if (n > 0) app.append(buf, 0, static_cast<std::size_t>(n));
        };
        const auto ended = [&] { return closed > 0; };
        const auto unread = [&] { return NetworkUnread(s); };

        s.Connect();
        if (peer.Accept(5000, ended)) {
            // The proxy answers what the socket sent first, as a proxy would.
            peer.PumpUntil([&] { return !peer.Received().empty() || ended(); }, 2000);
            for (const std::string& piece : proxy.pieces) peer.Send(piece, unread);
            if (proxy.reset)
                peer.Reset();
            else
                peer.Close();
        }
        if (!peer.PumpUntil(ended, 10000)) Fail("the session did not end");
        if (closed != 1) Fail("OnSessionClosed more than once");
        if (connected > 1) Fail("OnSessionConnected more than once");
        if (!app.empty() && AllBytes(proxy).find(app) == std::string::npos)
            Fail("the application read bytes the proxy did not send in that order");
    }
    peer.CloseWaiting();
    if (WinsockOpenSocketCount() != 0 || LiveSocketCount() != 0) Fail("a socket outlived its object");
    return 0;
}
