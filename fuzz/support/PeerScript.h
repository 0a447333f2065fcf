// SPDX-License-Identifier: Apache-2.0
#pragma once
// The input format of the fuzz targets that play a server or proxy over a real loopback
// connection. The first byte holds option bits of the target; the rest is what the peer
// sends, with two-byte marks in it:
//   "~|"  a split point: the bytes before it go out in one write, and the peer waits until
//         the client has read them before writing on;
//   "~C"  the peer closes the connection (after reading what the client sent);
//   "~R"  the peer resets the connection (RST);
// the bytes after a "~C" or "~R" belong to the next connection the client makes. The
// input's end closes the last connection. Readable seeds: "0HTTP/1.0 200 OK\r\n\r\n~|body".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TPeerConnection {
    std::vector<std::string> pieces;  // each one write; empty pieces are dropped
    bool reset = false;               // ends with RST instead of a close
};

struct TPeerScript {
    std::uint8_t options = 0;
    std::vector<TPeerConnection> connections;  // at least one
};

// At most maxConnections connections; what follows the end of the last one is ignored.
TPeerScript ParsePeerScript(std::string_view input, std::size_t maxConnections);

// Everything the peer sends on the connection, in order.
std::string AllBytes(const TPeerConnection& connection);
