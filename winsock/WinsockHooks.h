// SPDX-License-Identifier: Apache-2.0
#pragma once
// Test controls of the Winsock stand-in. Never used by the product.
#include <functional>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

// Non-zero: the next loads of "wsock32.dll" fail with this system error code (until reset
// to 0).
void WinsockSetLoadFailure(DWORD errorCode);

// Called before every host look-up resolves (blocking ones on the caller's thread,
// asynchronous ones on their worker thread) with the name, or the dotted address of a
// reverse look-up. It returns 0 to let the look-up run, or a Winsock code to make it fail
// with that code without asking the system. A test may block in it to hold an
// asynchronous look-up pending. Empty = none.
void WinsockSetLookupHook(std::function<int(const std::string& query)> hook);

// Called by every name look-up (after the lookup hook let it run) with the name; a
// non-empty list of numeric addresses (IPv4 or IPv6 text) is the answer, in the family
// asked for and in the order the look-up gives (WSANO_DATA when none is of that family),
// without asking the system. Empty list or empty hook = ask the system.
void WinsockSetAddressHook(std::function<std::vector<std::string>(const std::string& name)> hook);

// Asynchronous look-ups whose worker has not finished (a finished worker has posted its
// reply, if it posts one).
int WinsockLookupsInFlight();

// How many WSAStartup / WSACleanup calls succeeded since the process started, and how
// many sockets are open now.
int WinsockStartupCount();
int WinsockCleanupCount();
int WinsockOpenSocketCount();
