// SPDX-License-Identifier: Apache-2.0
#pragma once
// The service's HTTP server, plain and over TLS: the library's server, except that a
// connection is read through one stream for all its requests. The library makes a new
// stream, with a new read buffer, for every request, so the start of a request that
// came in the same read as the one before was lost with that buffer, and the server
// then waited for bytes it already had. Here every request of a connection is answered,
// in order, however its bytes were split or batched by the client and the network.
// The rest is as the library does it: the keep-alive request count and timeout, the
// read and write timeouts, the end of every connection's loop once the server stops,
// and the socket's shutdown and close at the end (TLS: the close_notify first).
#include <httplib.h>

class PipeliningServer : public httplib::Server {
private:
    bool process_and_close_socket(socket_t sock) override;
};

class PipeliningTlsServer : public httplib::SSLServer {
public:
    using httplib::SSLServer::SSLServer;

private:
    bool process_and_close_socket(socket_t sock) override;
};
