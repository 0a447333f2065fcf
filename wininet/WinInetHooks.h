// SPDX-License-Identifier: Apache-2.0
#pragma once
// Test controls of the WinInet stand-in. Never used by the product.
#include <functional>
#include <string>
#include <vector>

// Called on the look-up's own thread before a host name (never a numeric address) is
// resolved. It returns true to let the look-up run, false to make it fail as not found.
// A test may block in it to hold a look-up pending. Empty = none.
void WinInetSetLookupHook(std::function<bool(const std::string& host)> hook);

// Called on the look-up's own thread for a host name that the look-up hook let through: a
// non-empty answer (numeric addresses, in order) replaces the system's look-up. Lets a
// test give a name addresses of both families. Empty = none.
void WinInetSetAddressHook(std::function<std::vector<std::string>(const std::string& host)> hook);

// Name look-ups whose thread has not finished yet (abandoned ones included).
int WinInetLookupsInFlight();

// How long a kept-alive connection may wait in the pool before it is closed (30 s unless
// set); for tests.
void WinInetSetIdleLimit(int ms);
// Kept-alive connections waiting in the pool, over every server.
int WinInetIdleConnectionCount();
// Closes every kept-alive connection waiting in the pool and forgets which servers answer
// requests sent back to back.
void WinInetDropIdleConnections();

// TLS handshakes that took up a kept session, since the program started.
int WinInetResumedTlsHandshakes();
