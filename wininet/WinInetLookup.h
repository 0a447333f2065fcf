// SPDX-License-Identifier: Apache-2.0
#pragma once
// Host name look-ups of the WinInet stand-in that an abort can walk away from (private).
//
// getaddrinfo cannot be interrupted, so a name is resolved on a thread of its own while
// the caller waits for the answer or for an abort of its socket slot, whichever comes
// first. An abandoned look-up finishes in the background and frees its own answer.
// Numeric addresses need no look-up and are converted on the calling thread.
#include <netdb.h>

#include <memory>
#include <string>

#include "wininet/WinInetSocket.h"
#include "platform/WinTypes.h"

namespace wininet {

struct FreeAddresses {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, FreeAddresses>;

// The addresses of host (a name or an address, "[v6]" allowed) for TCP to port, in the
// resolver's order. Errors: NAME_NOT_RESOLVED, OPERATION_CANCELLED (slot aborted before
// or during the look-up; the look-up is then left to finish alone).
DWORD Resolve(const std::string& host, WORD port, SocketSlot& slot, AddressList& out);

}  // namespace wininet
