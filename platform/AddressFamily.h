// SPDX-License-Identifier: Apache-2.0
#pragma once
// The address families names resolve to, for the whole process: the socket layer's look-ups
// and the Internet client's alike. Set once at start (before any look-up); any thread may
// read it. Numeric addresses are used as written, whatever the setting.
//  - Any (the default): IPv6 and IPv4; a connect to a name with both races them.
//  - IPv4 / IPv6: that family only.
enum class TAddressFamily { Any, IPv4, IPv6 };

void SetProcessAddressFamily(TAddressFamily family);
TAddressFamily ProcessAddressFamily();
