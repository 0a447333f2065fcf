// SPDX-License-Identifier: Apache-2.0
#pragma once
// The SOCKS handshakes of the WinInet stand-in (private to it): on a connection to the
// proxy, asks for a connection to host:port; afterwards the connection carries the request
// as a direct one would. Blocking, every wait under timeoutMs, ended by an abort of slot.
#include <string>

#include "wininet/WinInetProxy.h"
#include "wininet/WinInetSocket.h"
#include "platform/WinTypes.h"

namespace wininet {

// 0 once the proxy connected to host:port. SOCKS 4 and 5 resolve host here (4: IPv4 only),
// 4A and 5 "h" send the name. Errors: CANNOT_CONNECT with why naming the step (the proxy's
// answer, the authentication, the proxy could not reach the host), NAME_NOT_RESOLVED,
// TIMEOUT, CONNECTION_RESET/ABORTED, OPERATION_CANCELLED.
DWORD SocksConnect(SocketSlot& slot, const ProxySettings& proxy, const std::string& host, WORD port, DWORD timeoutMs,
                   std::string& why);

}  // namespace wininet
