// SPDX-License-Identifier: Apache-2.0
// A server on loopback sends the input's bytes, split where the input says, to a socket
// in line mode, then closes or resets. The handler reads each line whole or in small
// parts, may switch line mode off and on, and the limit may discard bytes. Whatever
// arrives: the session ends once; without editing and without a discarding limit the
// application reads exactly the bytes sent, in order, when the server closed normally;
// a line read whole in line mode ends with the line end, except the last one; the echo
// of a socket that stays in line mode and does not edit repeats the bytes sent, in order;
// no socket is left behind.
//
// Option bits: 0 LineEdit, 1 LineEcho, 2-3 the line end (CR LF, LF, NUL, "-+-"),
// 4-5 bytes read per delivery (all, 1, 3, 7), 6 every second line switches line mode
// off and the next plain delivery switches it back on, 7 a limit of 16 bytes whose
// handler keeps the bytes every second time.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzPeer.h"
#include "PeerScript.h"
#include "winsock/WinsockHooks.h"
#include "socket/WSocket.h"
#include "socket/WSocketWinsock.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "line_mode_fuzzer: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TFuzzPeer peer;
    const TPeerScript script = ParsePeerScript(std::string_view(reinterpret_cast<const char*>(data), size), 1);
    const TPeerConnection& server = script.connections.front();
    const std::uint8_t o = script.options;
    const bool edit = o & 1, echo = o & 2, toggle = o & 64, limit = o & 128;
    static const std::string lineEnds[] = {"\r\n", "\n", std::string(1, '\0'), "-+-"};
    const std::string& lineEnd = lineEnds[(o >> 2) & 3];
    static const int readSizes[] = {0, 1, 3, 7};
    const int readSize = readSizes[(o >> 4) & 3];

    int closed = 0, limitEvents = 0;
    bool discarded = false;
    std::string app;                 // everything the application read
    std::vector<std::string> lines;  // whole reads in line mode (readSize 0, no toggling)
    {
        TWSocket s;
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(peer.Port()));
        s.LineEnd = lineEnd;
        s.LineEdit = edit;
        s.LineEcho = echo;
        if (limit) s.LineLimit = 16;
        s.SetLineMode(true);
        s.OnLineLimitExceeded = [&](TObject*, int, bool& clearData) {
            if (++limitEvents % 2 == 0) clearData = false;
            discarded = discarded || clearData;
        };
        int deliveries = 0;
        s.OnDataAvailable = [&](TObject*, WORD) {
            const bool lineMode = s.LineMode();
            std::string got;
            if (readSize == 0) {
                got = s.ReceiveText();
            } else {
                got.resize(static_cast<std::size_t>(readSize));
                const int n = s.Receive(got.data(), readSize);
                got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            }
            app += got;
            if (lineMode && readSize == 0 && !toggle) lines.push_back(got);
            if (!toggle) return;
            if (!lineMode)
                s.SetLineMode(true);
            else if (++deliveries % 2 == 0)
                s.SetLineMode(false);
        };
        s.OnSessionClosed = [&](TObject*, WORD) { ++closed; };
        const auto ended = [&] { return closed > 0; };
        const auto unread = [&] { return NetworkUnread(s); };

        s.Connect();
        if (peer.Accept(5000, ended)) {
            peer.PumpUntil([&] { return s.State() == wsConnected || ended(); }, 2000);
            for (const std::string& piece : server.pieces) peer.Send(piece, unread);
            if (server.reset)
                peer.Reset();
            else
                peer.Close();
        }
        if (!peer.PumpUntil(ended, 10000)) Fail("the session did not end");
        if (closed != 1) Fail("OnSessionClosed more than once");
    }
    peer.CloseWaiting();
    if (WinsockOpenSocketCount() != 0 || LiveSocketCount() != 0) Fail("a socket outlived its object");

    const std::string sent = AllBytes(server);
    if (!edit && !discarded && !server.reset && app != sent) {
        std::fprintf(stderr, "sent %zu bytes, the application read %zu\n", sent.size(), app.size());
        Fail("bytes lost, added or reordered");
    }
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        if (lines[i].size() < lineEnd.size() || lines[i].compare(lines[i].size() - lineEnd.size(), lineEnd.size(), lineEnd) != 0)
            Fail("a line read whole does not end with the line end");
    if (echo && !edit && !toggle && sent.compare(0, peer.Received().size(), peer.Received()) != 0)
        Fail("the echo is not the bytes sent");
    return 0;
}
