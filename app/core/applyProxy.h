// SPDX-License-Identifier: Apache-2.0
#pragma once
// The process's proxy settings (proxySettings.h) for both transports: every THttpCli the
// application makes calls ApplyProxy before Get, and the fetcher asks them through the
// Internet layer's system setting, so that no caller decides on its own.
#include <string>

class THttpCli;

// Sets client's proxy properties (HTTP proxy, or SOCKS server, level, name resolution and
// credentials) for url, or clears them for a direct connection. Raises EProxySetting when
// the proxy that applies is unusable. The client follows relocations itself: a relocation
// to another host keeps the proxy chosen here.
void ApplyProxy(THttpCli& client, const std::string& url);

// Makes the fetcher (photos, usage report) follow the process's proxy settings as they are
// now, in place of the environment it reads by default. Called once at start, after the
// settings are known (on the GUI thread: the transfers' threads only read a copy).
void RouteFetcherThroughProxy();
