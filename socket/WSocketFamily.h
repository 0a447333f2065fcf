// SPDX-License-Identifier: Apache-2.0
#pragma once
// The address families the socket layer resolves names to, for the whole process. The
// application sets it once at start (before any look-up) from its settings or command line;
// any thread may read it.
//
//  - Any (the default): names resolve to IPv6 and IPv4 addresses; a connect to a name with
//    addresses of both families races them (IPv6 first, see WSocketEyeballs.h).
//  - IPv4: names resolve to IPv4 addresses only, exactly as the original look-ups do.
//  - IPv6: names resolve to IPv6 addresses only.
// Numeric addresses ("127.0.0.1", "::1") are used as written, whatever the setting.
#include <string>

#include "platform/AddressFamily.h"

// One setting for the process (platform/AddressFamily.h): the Internet client obeys it too.
using TWSocketFamily = TAddressFamily;

void SetWSocketFamily(TWSocketFamily Family);
TWSocketFamily WSocketFamily();

// "4", "6" or "any" (any case, spaces around allowed) to a family; false for anything else
// (Family unchanged).
bool ParseWSocketFamily(const std::string& Text, TWSocketFamily& Family);

// The Winsock family a look-up asks for: WS_AF_UNSPEC, WS_AF_INET or WS_AF_INET6.
int WSocketLookupFamily();
