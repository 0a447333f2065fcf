#pragma once
// Test controls of the Winsock stand-in. Never used by the product.
#include <functional>
#include <string>

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

// Asynchronous look-ups whose worker has not finished (a finished worker has posted its
// reply, if it posts one).
int WinsockLookupsInFlight();

// How many WSAStartup / WSACleanup calls succeeded since the process started, and how
// many sockets are open now.
int WinsockStartupCount();
int WinsockCleanupCount();
int WinsockOpenSocketCount();
