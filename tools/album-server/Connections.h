// SPDX-License-Identifier: Apache-2.0
#pragma once
// Direct access to the client connections the HTTP library owns, for faults it has no
// words for (a reset, a stall that notices the client leaving) and for a prompt stop.
// The library keeps every connection's descriptor open until the response to the
// current request has been written, so a descriptor found here stays valid for the
// rest of that request.
#include "StopSignal.h"

#include <httplib.h>

// The descriptor of the connection `req` arrived on, found by its two addresses;
// -1 when none matches.
int ConnectionOf(const httplib::Request& req);

// Resets the connection: the peer receives an RST and no further byte. The descriptor
// stays open, now on a dead end whose reads see the end and whose writes fail at once,
// so the library's own handling and close proceed as for a client that hung up.
bool ResetConnection(int fd);

// Blocks until the peer closes or resets the connection, or until the stop is raised.
// Bytes the peer sends meanwhile are read and dropped.
void WaitUntilPeerLeaves(int fd, const StopSignal& stop);

// Shuts down (without closing) every connected TCP socket of this process whose local
// port is `port`, so workers waiting on an idle kept-alive connection end at once.
void ShutDownConnections(int port);
